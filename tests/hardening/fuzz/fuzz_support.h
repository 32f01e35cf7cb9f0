// Scratch files for the fuzz harnesses: each process gets its own folder
// under $TMPDIR (or /tmp), made once and reused for every input.
#ifndef KELVORN_FUZZ_SUPPORT_H
#define KELVORN_FUZZ_SUPPORT_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

inline const std::string& fuzz_scratch() {
    static std::string folder;
    if (folder.empty()) {
        const char* base = getenv("TMPDIR");
        char name[256];
        snprintf(name, sizeof name, "%s/kelvorn-fuzz-%d", base && *base ? base : "/tmp", (int)getpid());
        folder = name;
        std::string command = "mkdir -p '" + folder + "'";
        if (system(command.c_str()) != 0) abort();
    }
    return folder;
}

inline std::string fuzz_write(const char* name, const void* bytes, size_t size) {
    std::string path = fuzz_scratch() + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) abort();
    if (size && fwrite(bytes, 1, size, f) != size) abort();
    if (fclose(f) != 0) abort();
    return path;
}

// A broken promise of the code under test: report and stop, so that
// libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                           \
    do {                                                                           \
        if (!(cond)) {                                                             \
            fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            abort();                                                               \
        }                                                                          \
    } while (0)

#endif
