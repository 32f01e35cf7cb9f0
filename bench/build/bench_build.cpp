// The whole Boss Rally build (run_build on the full-size fixture disc)
// against what a user could script instead, on the same BIN/CUE, one after
// the other in one run, best of several runs each:
//   bchunk -w br.bin br.cue t                  split the image
//   flac -l 0 -b 4096 -m -r 8 tNN.wav (x12)    the same encoder tools
//   xorriso -osirrox on -indev t01.iso ...     copy the data track's tree
// Both run on one core.
//   bench_build <fixture dir> <work dir> [runs]
#include <stdio.h>
#include <stdlib.h>

#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "core/build.h"

static double cpu_seconds(int who) {
    struct rusage u;
    getrusage(who, &u);
    return (double)u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + (double)u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

static double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

static int sh(const std::string& command) { return system(command.c_str()) == 0; }

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: bench_build <fixture dir> <work dir> [runs]\n");
        return 2;
    }
    // Absolute: the pipeline runs in its own folder.
    const std::string fixture = std::filesystem::absolute(argv[1]).string();
    const std::string work = std::filesystem::absolute(argv[2]).string();
    const int runs = argc > 3 ? atoi(argv[3]) : 2;
    const std::string bin = fixture + "/br.bin", cue = fixture + "/br.cue";
    const std::string ours = work + "/kelvorn", theirs = work + "/pipeline";
    // The fixture's BRGlide.dll passes only with its own digest.
    setenv("KELVORN_TEST_DIGESTS", (fixture + "/digests.txt").c_str(), 1);

    const std::string pipeline =
        "set -e; cd '" + theirs + "'; bchunk -w '" + bin + "' '" + cue + "' t >/dev/null;"
        " for n in 02 03 04 05 06 07 08 09 10 11 12 13; do"
        "   flac -s -l 0 -b 4096 -m -r 8 -o track$n.flac t$n.wav; rm t$n.wav;"
        " done;"
        " xorriso -osirrox on -indev t01.iso -extract / disc >/dev/null 2>&1; rm t01.iso";

    double best_ours = 1e30, best_theirs = 1e30, cpu_ours = 0, cpu_theirs = 0;
    for (int r = 0; r < runs; ++r) {
        sh("chmod -R u+w '" + work + "' 2>/dev/null; rm -rf '" + ours + "' '" + theirs + "'; mkdir -p '" +
           theirs + "'");
        BuildRequest request = {GAME_BOSS_RALLY, bin.c_str(), cue.c_str(), "", ours.c_str()};
        char error[1024] = "";
        double cpu0 = cpu_seconds(RUSAGE_SELF);
        auto t0 = std::chrono::steady_clock::now();
        if (!run_build(&request, nullptr, 0, nullptr, error, sizeof error)) {
            fprintf(stderr, "the build failed: %s\n", error);
            return 1;
        }
        double s = seconds_since(t0);
        if (s < best_ours) {
            best_ours = s;
            cpu_ours = cpu_seconds(RUSAGE_SELF) - cpu0;
        }

        cpu0 = cpu_seconds(RUSAGE_CHILDREN);
        t0 = std::chrono::steady_clock::now();
        if (!sh(pipeline)) {
            fprintf(stderr, "the pipeline failed\n");
            return 1;
        }
        s = seconds_since(t0);
        if (s < best_theirs) {
            best_theirs = s;
            cpu_theirs = cpu_seconds(RUSAGE_CHILDREN) - cpu0;
        }
    }
    sh("chmod -R u+w '" + work + "' 2>/dev/null; rm -rf '" + ours + "' '" + theirs + "'");
    printf("Boss Rally build of the full-size fixture disc (%.0f MB BIN), best of %d\n",
           (double)file_size_of(bin.c_str()) / 1e6, runs);
    printf("kelvorn  %.2f s wall, %.2f s CPU\n", best_ours, cpu_ours);
    printf("pipeline %.2f s wall, %.2f s CPU (bchunk -w, flac -l 0 -b 4096 -m -r 8 x12, xorriso -osirrox)\n",
           best_theirs, cpu_theirs);
    printf("ratio kelvorn/pipeline time: %.2f (pipeline takes %.2fx as long)\n", best_ours / best_theirs,
           best_theirs / best_ours);
    return 0;
}
