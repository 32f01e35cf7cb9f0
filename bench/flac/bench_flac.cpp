// Times Kelvorn's FLAC encoder against the reference encoder on the same raw
// PCM (16-bit little-endian 44.1 kHz stereo), one thread each:
//   flac -l 0 -b 4096 -m -r 8: libFLAC restricted to the same tools (fixed
//     predictors, 4096-sample blocks, every stereo coding, Rice partition
//     orders up to 8);
//   flac -5: the reference's default, for context.
// Usage: bench_flac PCM_FILE WORK_DIR
#include <stdio.h>
#include <stdlib.h>

#include <sys/resource.h>

#include <chrono>
#include <string>

#include "core/paths.h"
#include "flac/flac.h"

static double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// User plus system CPU seconds of this process (who = RUSAGE_SELF) or of
// its waited-for children (RUSAGE_CHILDREN).
static double cpu_seconds(int who) {
    struct rusage u;
    getrusage(who, &u);
    return (double)u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + (double)u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

static uint64_t size_of(const std::string& path) { return file_size_of(path.c_str()); }

static int run_flac(const std::string& options, const std::string& pcm, const std::string& out, double* secs,
                    double* cpu) {
    const std::string command = "flac -s -f " + options +
                                " --no-padding --force-raw-format --endian=little --sign=signed --channels=2"
                                " --bps=16 --sample-rate=44100 -o '" + out + "' '" + pcm + "'";
    const double cpu0 = cpu_seconds(RUSAGE_CHILDREN);
    auto t0 = std::chrono::steady_clock::now();
    int rc = system(command.c_str());
    *secs = seconds_since(t0);
    *cpu = cpu_seconds(RUSAGE_CHILDREN) - cpu0;
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
    const double cpu0 = cpu_seconds(RUSAGE_SELF);
    auto t0 = std::chrono::steady_clock::now();
    const int ok = encode_track_flac(source, samples, ours.c_str(), nullptr, 0, 0, 1, nullptr, error, sizeof error);
    const double our_secs = seconds_since(t0);
    const double our_cpu = cpu_seconds(RUSAGE_SELF) - cpu0;
    fclose(source);
    if (!ok) {
        fprintf(stderr, "Kelvorn's encoder failed: %s\n", error);
        return 1;
    }

    double fixed_secs = 0, def_secs = 0, fixed_cpu = 0, def_cpu = 0;
    if (!run_flac("-l 0 -b 4096 -m -r 8", pcm, fixed, &fixed_secs, &fixed_cpu)) return 1;
    if (!run_flac("-5", pcm, def, &def_secs, &def_cpu)) return 1;

    const double audio = (double)samples / 44100.0;
    printf("input: %.1f s of audio, %llu bytes\n", audio, (unsigned long long)bytes);
    printf("%-28s %8s %8s %9s %12s\n", "", "wall s", "cpu s", "realtime", "bytes");
    const struct {
        const char* name;
        double wall, cpu;
        const std::string* file;
    } rows[] = {{"kelvorn", our_secs, our_cpu, &ours},
                {"flac -l 0 -b 4096 -m -r 8", fixed_secs, fixed_cpu, &fixed},
                {"flac -5", def_secs, def_cpu, &def}};
    for (const auto& r : rows)
        printf("%-28s %8.3f %8.3f %8.0fx %12llu\n", r.name, r.wall, r.cpu, audio / r.wall,
               (unsigned long long)size_of(*r.file));
    printf("kelvorn / flac -l 0 ...: time %.3f (cpu %.3f), size %.4f\n", our_secs / fixed_secs, our_cpu / fixed_cpu,
           (double)size_of(ours) / (double)size_of(fixed));
    printf("kelvorn / flac -5      : time %.3f (cpu %.3f), size %.4f\n", our_secs / def_secs, our_cpu / def_cpu,
           (double)size_of(ours) / (double)size_of(def));
    return 0;
}
