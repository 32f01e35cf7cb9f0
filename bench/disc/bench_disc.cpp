// Extraction speed: Kelvorn's extract_disc_files on a raw BIN against
// `xorriso -osirrox on -indev <iso> -extract / <dir>` on the same ISO,
// alternating, best of several runs each, in one process.
//   bench_disc <bin> <iso> <work dir> [runs]
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "formats/disc/iso.h"

namespace fs = std::filesystem;

static uint64_t tree_bytes(const fs::path& root) {
    uint64_t total = 0;
    for (auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) total += e.file_size();
    return total;
}

static void clear(const fs::path& p) {
    std::error_code ec;
    if (fs::exists(p, ec))
        for (auto& e : fs::recursive_directory_iterator(p, ec))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(p, ec);
}

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: bench_disc <bin> <iso> <work dir> [runs]\n");
        return 2;
    }
    std::string bin = argv[1], iso = argv[2];
    fs::path work = argv[3];
    int runs = argc > 4 ? atoi(argv[4]) : 3;
    fs::path ours = work / "kelvorn", theirs = work / "xorriso";
    double best_ours = 1e30, best_theirs = 1e30;
    uint64_t bytes_ours = 0, bytes_theirs = 0;
    for (int r = 0; r < runs; ++r) {
        clear(ours);
        auto t0 = std::chrono::steady_clock::now();
        char error[1024] = "";
        if (!extract_disc_files(bin.c_str(), ours.string().c_str(), nullptr, error, sizeof error)) {
            fprintf(stderr, "extraction failed: %s\n", error);
            return 1;
        }
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best_ours) best_ours = s;
        bytes_ours = tree_bytes(ours);

        clear(theirs);
        std::string command = "xorriso -osirrox on -indev '" + iso + "' -extract / '" + theirs.string() +
                              "' >/dev/null 2>&1";
        t0 = std::chrono::steady_clock::now();
        if (system(command.c_str()) != 0) {
            fprintf(stderr, "xorriso failed\n");
            return 1;
        }
        s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best_theirs) best_theirs = s;
        bytes_theirs = tree_bytes(theirs);
    }
    clear(ours);
    clear(theirs);
    printf("data track extraction, %.1f MB (xorriso: %.1f MB incl. directx)\n", bytes_ours / 1e6,
           bytes_theirs / 1e6);
    printf("kelvorn %.3f s (%.0f MB/s), xorriso %.3f s (%.0f MB/s), best of %d\n", best_ours,
           bytes_ours / 1e6 / best_ours, best_theirs, bytes_theirs / 1e6 / best_theirs, runs);
    printf("ratio kelvorn/xorriso time: %.2f\n", best_ours / best_theirs);
    return 0;
}
