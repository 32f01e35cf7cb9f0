#include "cli_process.h"

#include <stdlib.h>

#include <string>

#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kcli {

static std::string unix_newlines(std::string text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

std::string cli_program(const char* name) {
#ifdef _WIN32
    return kt::join(kt::binary_dir(), std::string(name) + ".exe");
#else
    return kt::join(kt::binary_dir(), name);
#endif
}

#ifdef _WIN32
using kt::quote_argument;
using kt::widen;


static HANDLE inheritable_file(const std::string& path) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    return CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif

bool start_cli(const std::string& program, const std::vector<std::string>& args, const std::string& out_dir,
               Child* child, bool own_group) {
    child->out_path = kt::join(out_dir, "stdout.txt");
    child->err_path = kt::join(out_dir, "stderr.txt");
#ifdef _WIN32
    std::wstring line = quote_argument(widen(program));
    for (const std::string& a : args) line += L" " + quote_argument(widen(a));
    HANDLE out = inheritable_file(child->out_path);
    HANDLE err = inheritable_file(child->err_path);
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0,
                            nullptr);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE,
                                  own_group ? CREATE_NEW_PROCESS_GROUP : 0, nullptr, nullptr, &si, &pi);
    CloseHandle(out);
    CloseHandle(err);
    CloseHandle(in);
    if (!started) return false;
    CloseHandle(pi.hThread);
    child->id = (long long)(intptr_t)pi.hProcess;
    child->process_id = pi.dwProcessId;
    return true;
#else
    (void)own_group;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        int out = open(child->out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(child->err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    child->id = pid;
    child->process_id = (unsigned long)pid;
    return true;
#endif
}

CliResult finish_cli(const Child& child) {
    CliResult r;
#ifdef _WIN32
    HANDLE process = (HANDLE)(intptr_t)child.id;
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    r.code = (int)code;
#else
    int status = 0;
    while (waitpid((pid_t)child.id, &status, 0) < 0) {
    }
    if (WIFEXITED(status)) r.code = WEXITSTATUS(status);
    else r.code = 1000 + WTERMSIG(status);  // killed by a signal: never a valid exit code
#endif
    r.out = unix_newlines(kt::read_file(child.out_path));
    r.err = unix_newlines(kt::read_file(child.err_path));
    return r;
}

CliResult run_cli(const std::string& program, const std::vector<std::string>& args) {
    kt::TempDir dir("cli-run");
    Child child;
    if (!start_cli(program, args, dir.path, &child)) return CliResult();
    return finish_cli(child);
}

}  // namespace kcli
