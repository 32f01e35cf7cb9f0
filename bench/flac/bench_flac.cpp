// Times Kelvorn's FLAC encoder against the reference encoder on the same raw
// PCM (16-bit little-endian 44.1 kHz stereo), one thread each:
//   flac -l 0 -b 4096 -m -r 8: libFLAC restricted to the same tools (fixed
//     predictors, 4096-sample blocks, every stereo coding, Rice partition
//     orders up to 8);
//   flac -5: the reference's default, for context.
// Usage: bench_flac PCM_FILE WORK_DIR
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>

#include "core/paths.h"
#include "flac/flac.h"

static double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

static uint64_t size_of(const std::string& path) { return file_size_of(path.c_str()); }

static int run_flac(const std::string& options, const std::string& pcm, const std::string& out, double* secs) {
    const std::string command = "flac -s -f " + options +
                                " --no-padding --force-raw-format --endian=little --sign=signed --channels=2"
                                " --bps=16 --sample-rate=44100 -o '" + out + "' '" + pcm + "'";
    auto t0 = std::chrono::steady_clock::now();
    int rc = system(command.c_str());
    *secs = seconds_since(t0);
    if (rc != 0) fprintf(stderr, "failed: %s\n", command.c_str());
    return rc == 0;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: bench_flac PCM_FILE WORK_DIR\n");
        return 2;
    }
    const std::string pcm = argv[1], dir = argv[2];
    const uint64_t bytes = size_of(pcm);
    const uint64_t samples = bytes / 4;
    if (!samples) {
        fprintf(stderr, "no PCM in %s\n", pcm.c_str());
        return 1;
    }
    make_dirs(dir.c_str());
    const std::string ours = dir + "/kelvorn.flac", fixed = dir + "/flac-fixed.flac", def = dir + "/flac-5.flac";

    FILE* source = open_utf8(pcm.c_str(), "rb");
    if (!source) return 1;
    char error[512] = "";
    auto t0 = std::chrono::steady_clock::now();
    const int ok = encode_track_flac(source, samples, ours.c_str(), nullptr, 0, 0, 1, nullptr, error, sizeof error);
    const double our_secs = seconds_since(t0);
    fclose(source);
    if (!ok) {
        fprintf(stderr, "Kelvorn's encoder failed: %s\n", error);
        return 1;
    }

    double fixed_secs = 0, def_secs = 0;
    if (!run_flac("-l 0 -b 4096 -m -r 8", pcm, fixed, &fixed_secs)) return 1;
    if (!run_flac("-5", pcm, def, &def_secs)) return 1;

    const double audio = (double)samples / 44100.0;
    printf("input: %.1f s of audio, %llu bytes\n", audio, (unsigned long long)bytes);
    printf("%-28s %8.3f s  %6.0fx realtime  %11llu bytes\n", "kelvorn", our_secs, audio / our_secs,
           (unsigned long long)size_of(ours));
    printf("%-28s %8.3f s  %6.0fx realtime  %11llu bytes\n", "flac -l 0 -b 4096 -m -r 8", fixed_secs,
           audio / fixed_secs, (unsigned long long)size_of(fixed));
    printf("%-28s %8.3f s  %6.0fx realtime  %11llu bytes\n", "flac -5", def_secs, audio / def_secs,
           (unsigned long long)size_of(def));
    printf("time ratio kelvorn / flac -l 0 ... : %.3f\n", our_secs / fixed_secs);
    printf("size ratio kelvorn / flac -l 0 ... : %.4f\n", (double)size_of(ours) / (double)size_of(fixed));
    printf("time ratio kelvorn / flac -5       : %.3f\n", our_secs / def_secs);
    printf("size ratio kelvorn / flac -5       : %.4f\n", (double)size_of(ours) / (double)size_of(def));
    return 0;
}
