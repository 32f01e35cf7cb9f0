// Runs kelvorn-cli as a child process with its output in files (so it is
// never a terminal), on both platforms.
#ifndef KELVORN_TESTS_CLI_PROCESS_H
#define KELVORN_TESTS_CLI_PROCESS_H

#include <string>
#include <vector>

namespace kcli {

struct CliResult {
    int code = -1;    // exit code; -1 when the program could not start
    std::string out;  // standard output, "\r\n" turned into "\n"
    std::string err;  // standard error, the same
};

// The program in the build tree: "kelvorn-cli" or "kelvorn-cli-testing"
// (".exe" added on Windows).
std::string cli_program(const char* name);

// A started child. Its output goes to out_path and err_path.
struct Child {
    long long id = 0;  // pid, or the process handle on Windows
    unsigned long process_id = 0;
    std::string out_path, err_path;
};

// Starts program with args; false when it could not start. On Windows
// own_group starts it in a process group of its own, so that a Ctrl+Break
// sent to that group reaches the child alone.
bool start_cli(const std::string& program, const std::vector<std::string>& args, const std::string& out_dir,
               Child* child, bool own_group = false);
// Waits for the child and collects its output.
CliResult finish_cli(const Child& child);
// Starts and waits; the output files go to a temporary folder.
CliResult run_cli(const std::string& program, const std::vector<std::string>& args);

}  // namespace kcli

#endif
