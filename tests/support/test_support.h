// Helpers shared by the tests of both builds. Tests may use the standard
// library freely (std::filesystem); the program itself may not.
#ifndef KELVORN_TESTS_SUPPORT_H
#define KELVORN_TESTS_SUPPORT_H

#include <stdint.h>

#include "base/progress.h"

#include <string>
#include <vector>

namespace kt {

// A fresh empty folder for one test, removed by the destructor. Its path is
// UTF-8 and uses the platform's separator.
struct TempDir {
    explicit TempDir(const char* tag = "t");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
    std::string operator/(const std::string& name) const;  // joined with the separator
};

std::string join(const std::string& a, const std::string& b);
void write_file(const std::string& path, const std::string& bytes);
void write_file(const std::string& path, const std::vector<unsigned char>& bytes);
std::string read_file(const std::string& path);  // "" when missing
bool exists(const std::string& path);
bool is_dir(const std::string& path);
void make_dirs(const std::string& path);
void remove_all(const std::string& path);
// Every entry below root, relative, '/'-separated, folders with a trailing
// '/', files as "name=<size>:<md5>", sorted.
std::vector<std::string> snapshot(const std::string& root);
std::string md5_hex_of(const std::string& bytes);

// A folder of the build tree, converted for the running platform (a Unix
// path becomes Z:\... under Wine).
std::string host_path(const std::string& unix_path);
std::string fixture_dir();   // KELVORN_FIXTURE_DIR
std::string source_dir();    // KELVORN_SOURCE_DIR
std::string binary_dir();    // KELVORN_BINARY_DIR

// Runs a Windows program (under Wine in the native build) with arguments,
// waits for it and returns its exit code, or -1 when it could not start.
int run_windows_program(const std::string& exe, const std::vector<std::string>& args,
                        const std::string& working_dir = "");

#ifdef _WIN32
// UTF-16 copy of a UTF-8 text, for the W calls tests make.
std::wstring widen(const std::string& s);
// One argument quoted so that the C runtime's parser (and
// CommandLineToArgvW) gives it back whole, backslashes and quotes included.
std::wstring quote_argument(const std::wstring& arg);
#endif

// Deterministic pseudo-random bytes.
std::vector<unsigned char> random_bytes(size_t n, uint32_t seed);

// One Progress record for the full expression it appears in, passed where a
// step takes const Progress*:
//   encode_track_flac(source, n, path, kt::Step(record, user, 0, 1, &cancel), error, size)
struct Step {
    Progress progress;
    Step(ProgressFn fn, uint64_t user, double low, double high, const CancelFlag* cancel)
        : progress(progress_step(fn, user, low, high, cancel)) {}
    operator const Progress*() const { return &progress; }
};

}  // namespace kt

#endif
