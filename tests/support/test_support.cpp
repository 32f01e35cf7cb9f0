#include "support/test_support.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/md5.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace kt {

static fs::path u8(const std::string& s) { return fs::u8path(s); }
static std::string to_u8(const fs::path& p) {
    auto s = p.u8string();
    return std::string(s.begin(), s.end());
}

std::string join(const std::string& a, const std::string& b) {
#ifdef _WIN32
    return a + "\\" + b;
#else
    return a + "/" + b;
#endif
}

TempDir::TempDir(const char* tag) {
    static std::atomic<int> counter{0};
#ifdef _WIN32
    unsigned long pid = GetCurrentProcessId();
#else
    unsigned long pid = (unsigned long)getpid();
#endif
    fs::path base = fs::temp_directory_path() / "kelvorn-tests";
    fs::create_directories(base);
    for (;;) {
        fs::path p = base / (std::string(tag) + "-" + std::to_string(pid) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            path = to_u8(p);
            break;
        }
    }
}

TempDir::~TempDir() {
    if (getenv("KELVORN_KEEP_TEMP")) return;
    remove_all(path);
}

std::string TempDir::operator/(const std::string& name) const { return join(path, name); }

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(u8(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

void write_file(const std::string& path, const std::vector<unsigned char>& bytes) {
    write_file(path, std::string(bytes.begin(), bytes.end()));
}

std::string read_file(const std::string& path) {
    std::ifstream in(u8(path), std::ios::binary);
    if (!in) return "";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(u8(path), ec));
}

bool is_dir(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(u8(path), ec);
}

void make_dirs(const std::string& path) { fs::create_directories(u8(path)); }

void remove_all(const std::string& path) {
    std::error_code ec;
    // Read-only files would stop remove_all on Windows.
    for (auto it = fs::recursive_directory_iterator(u8(path), ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(u8(path), ec);
}

std::string md5_hex_of(const std::string& bytes) {
    Md5Context c;
    unsigned char d[16];
    char hex[33];
    md5_init(&c);
    md5_update(&c, bytes.data(), bytes.size());
    md5_final(&c, d);
    md5_to_hex(d, hex);
    return hex;
}

std::vector<std::string> snapshot(const std::string& root) {
    std::vector<std::string> out;
    std::error_code ec;
    fs::path base = u8(root);
    for (auto it = fs::recursive_directory_iterator(base, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::string rel = to_u8(fs::relative(it->path(), base));
        std::replace(rel.begin(), rel.end(), '\\', '/');
        if (it->is_symlink()) {
            out.push_back(rel + "@");
        } else if (it->is_directory()) {
            out.push_back(rel + "/");
        } else {
            std::string bytes = read_file(to_u8(it->path()));
            out.push_back(rel + "=" + std::to_string(bytes.size()) + ":" + md5_hex_of(bytes));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string host_path(const std::string& unix_path) {
#ifdef _WIN32
    std::string p = "Z:" + unix_path;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
#else
    return unix_path;
#endif
}

std::string fixture_dir() { return host_path(KELVORN_FIXTURE_DIR); }
std::string source_dir() { return host_path(KELVORN_SOURCE_DIR); }
std::string binary_dir() { return host_path(KELVORN_BINARY_DIR); }

#ifdef _WIN32
std::wstring widen(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w((size_t)(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, &w[0], n);
    w.resize(wcslen(w.c_str()));
    return w;
}
std::wstring quote_argument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring q = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') q.append(backslashes * 2 + 1, L'\\');
        else q.append(backslashes, L'\\');
        backslashes = 0;
        q += c;
    }
    q.append(backslashes * 2, L'\\');
    return q + L"\"";
}
#endif

#ifndef _WIN32
static std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}
#endif

int run_windows_program(const std::string& exe, const std::vector<std::string>& args,
                        const std::string& working_dir) {
#ifdef _WIN32
    std::wstring wline = quote_argument(widen(exe));
    for (auto& a : args) wline += L" " + quote_argument(widen(a));
    std::wstring wdir = widen(working_dir);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &wline[0], nullptr, nullptr, FALSE, 0, nullptr,
                        working_dir.empty() ? nullptr : wdir.c_str(), &si, &pi))
        return -1;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return (int)code;
#else
    std::string line;
    if (!working_dir.empty()) line = "cd " + quote(working_dir) + " && ";
    line += quote(std::string(KELVORN_SOURCE_DIR) + "/tools/wine-run") + " " + quote(exe);
    for (auto& a : args) line += " " + quote(a);
    std::string env = "KELVORN_WINEPREFIX=" + quote(std::string(KELVORN_BINARY_DIR) + "/wineprefix") + " ";
    int status = system((env + line + " >/dev/null 2>&1").c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
#endif
}

std::vector<unsigned char> random_bytes(size_t n, uint32_t seed) {
    std::vector<unsigned char> out(n);
    uint32_t x = seed ? seed : 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = (unsigned char)(x >> 24);
    }
    return out;
}

}  // namespace kt
