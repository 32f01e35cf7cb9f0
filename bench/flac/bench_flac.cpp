// Times Kelvorn's FLAC encoder against the reference encoder on the same raw
// PCM (16-bit little-endian 44.1 kHz stereo), the median of five runs each:
//   kelvorn on 1 thread, and on the default count (one a processor, cut to
//     FLAC_DEFAULT_THREADS_CAP);
//   flac -l 0 -b 4096 -m -r 8 on one core: libFLAC restricted to the same
//     tools (fixed predictors, 4096-sample blocks, every stereo coding, Rice
//     partition orders up to 8);
//   flac -5 (once): the reference's default, for context.
// Usage: bench_flac PCM_FILE WORK_DIR
#include <stdio.h>
#include <stdlib.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "base/paths.h"
#include "formats/flac/flac.h"

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

// The first three fields of /proc/loadavg, or "unknown".
static std::string load_average() {
    FILE* f = fopen("/proc/loadavg", "r");
    char text[64] = "";
    double a = 0, b = 0, c = 0;
    if (f && fscanf(f, "%lf %lf %lf", &a, &b, &c) == 3) snprintf(text, sizeof text, "%.2f %.2f %.2f", a, b, c);
    if (f) fclose(f);
    return text[0] ? text : "unknown";
}

static uint64_t size_of(const std::string& path) { return file_size_of(path.c_str()); }

struct Timing {
    double wall = 0, cpu = 0;
};

static Timing median_of(Timing* t, int n) {
    std::sort(t, t + n, [](const Timing& a, const Timing& b) { return a.wall < b.wall; });
    return t[n / 2];
}

// Before a timed run, and outside its time: the previous run's output is
// removed and everything written so far reaches the disk, so that no run
// pays for another's writeback. On two cores the kernel's flusher would
// otherwise take its time from the threads of whichever run comes next.
static void settle(const std::string& out) {
    remove(out.c_str());
    sync();
}

static int run_flac(const std::string& options, const std::string& pcm, const std::string& out, Timing* t) {
    settle(out);
    const std::string command = "flac -s -f " + options +
                                " --no-padding --force-raw-format --endian=little --sign=signed --channels=2"
                                " --bps=16 --sample-rate=44100 -o '" + out + "' '" + pcm + "'";
    const double cpu0 = cpu_seconds(RUSAGE_CHILDREN);
    auto t0 = std::chrono::steady_clock::now();
    int rc = system(command.c_str());
    t->wall = seconds_since(t0);
    t->cpu = cpu_seconds(RUSAGE_CHILDREN) - cpu0;
    if (rc != 0) fprintf(stderr, "failed: %s\n", command.c_str());
    return rc == 0;
}

static int run_kelvorn(const std::string& pcm, uint64_t samples, const std::string& out, int threads, Timing* t) {
    settle(out);
    FILE* source = open_utf8(pcm.c_str(), "rb");
    if (!source) return 0;
    char error[512] = "";
    const double cpu0 = cpu_seconds(RUSAGE_SELF);
    auto t0 = std::chrono::steady_clock::now();
    const int ok = encode_track_flac(source, samples, out.c_str(), nullptr, error, sizeof error, threads);
    t->wall = seconds_since(t0);
    t->cpu = cpu_seconds(RUSAGE_SELF) - cpu0;
    fclose(source);
    if (!ok) fprintf(stderr, "Kelvorn's encoder failed: %s\n", error);
    return ok;
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
    const std::string one = dir + "/kelvorn-1.flac", many = dir + "/kelvorn-n.flac";
    const std::string fixed = dir + "/flac-fixed.flac", def = dir + "/flac-5.flac";
    const int threads = flac_thread_count(0);
    enum { RUNS = 5 };
    Timing k1[RUNS], kn[RUNS], ff[RUNS], f5;
    const std::string load_before = load_average();
    for (int r = 0; r < RUNS; ++r) {
        if (!run_kelvorn(pcm, samples, one, 1, &k1[r])) return 1;
        if (!run_kelvorn(pcm, samples, many, threads, &kn[r])) return 1;
        if (!run_flac("-l 0 -b 4096 -m -r 8", pcm, fixed, &ff[r])) return 1;
    }
    if (!run_flac("-5", pcm, def, &f5)) return 1;
    const Timing t1 = median_of(k1, RUNS), tn = median_of(kn, RUNS), tf = median_of(ff, RUNS);

    const double audio = (double)samples / 44100.0;
    char name[64];
    snprintf(name, sizeof name, "kelvorn, %d threads", threads);
    printf("input: %.1f s of audio, %llu bytes; %u processors; analysis on %s; median of %d runs\n", audio,
           (unsigned long long)bytes, std::thread::hardware_concurrency(),
           subframe_isa() == SUBFRAME_ISA_AVX2 ? "AVX2" : "the baseline", (int)RUNS);
    printf("load average before: %s; after: %s\n", load_before.c_str(), load_average().c_str());
    printf("%-28s %8s %8s %9s %12s\n", "", "wall s", "cpu s", "realtime", "bytes");
    const struct {
        const char* name;
        Timing t;
        const std::string* file;
    } rows[] = {{"kelvorn, 1 thread", t1, &one},
                {name, tn, &many},
                {"flac -l 0 -b 4096 -m -r 8", tf, &fixed},
                {"flac -5 (one run)", f5, &def}};
    for (const auto& r : rows)
        printf("%-28s %8.3f %8.3f %8.0fx %12llu\n", r.name, r.t.wall, r.t.cpu, audio / r.t.wall,
               (unsigned long long)size_of(*r.file));
    if (size_of(one) != size_of(many)) printf("WARNING: the 1-thread and %d-thread files differ in size\n", threads);
    printf("kelvorn 1 thread / flac -l 0 ...: time %.3f (cpu %.3f), size %.4f\n", t1.wall / tf.wall, t1.cpu / tf.cpu,
           (double)size_of(one) / (double)size_of(fixed));
    printf("kelvorn %d threads / 1 thread: throughput %.2fx (cpu %.2fx as much)\n", threads, t1.wall / tn.wall,
           tn.cpu / t1.cpu);
    printf("kelvorn %d threads / flac -l 0 ...: time %.3f\n", threads, tn.wall / tf.wall);
    printf("kelvorn 1 thread / flac -5: time %.3f, size %.4f\n", t1.wall / f5.wall,
           (double)size_of(one) / (double)size_of(def));
    return 0;
}
