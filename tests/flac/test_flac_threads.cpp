// encode_track_flac on several threads: byte for byte the file of one
// thread and of the plain encoder in flac_reference.cpp (on every
// instruction set the analysis can use here), the same progress
// calls, and the same endings for a cancel, a short image and a full disk,
// with no ".part" left; the memory it takes stays within its stated bound.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// From the sanitizers' allocator interface (its header is not always there).
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#define KT_HEAP_IN_USE() __sanitizer_get_current_allocated_bytes()
#elif defined(__GLIBC__)
#include <malloc.h>
#define KT_HEAP_IN_USE() mallinfo2().uordblks
#endif

#include "base/paths.h"
#include "formats/flac/flac.h"
#include "flac/flac_reference.h"
#include "flac/music_fixture.h"
#include "support/recorder.h"
#include "support/test_support.h"

namespace {

typedef std::vector<uint8_t> Pcm;

const int THREAD_COUNTS[] = {1, 2, 7};

uint32_t lcg(uint32_t& s) {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
}

Pcm make_pcm(size_t n, uint32_t seed, int kind) {
    Pcm pcm(n * 4);
    for (size_t i = 0; i < n; ++i) {
        int32_t l = 0, r = 0;
        if (kind == 1) {  // tone with a little noise
            l = (int32_t)lround(9000 * sin(i * 0.013)) + (int32_t)(lcg(seed) % 64) - 32;
            r = (int32_t)lround(7000 * sin(i * 0.017 + 1)) + (int32_t)(lcg(seed) % 64) - 32;
        } else if (kind == 2) {  // full-scale noise
            l = (int32_t)(lcg(seed) & 0xFFFF) - 32768;
            r = (int32_t)(lcg(seed) & 0xFFFF) - 32768;
        }
        uint8_t* p = pcm.data() + 4 * i;
        p[0] = (uint8_t)l;
        p[1] = (uint8_t)(l >> 8);
        p[2] = (uint8_t)r;
        p[3] = (uint8_t)(r >> 8);
    }
    return pcm;
}

// The reports, and at each of them the source's read position and (where
// it can be read) the heap in use.
struct Log : kt::Recorder {
    std::vector<long long> positions;
    FILE* source = nullptr;
#ifdef KT_HEAP_IN_USE
    size_t heap_peak = 0;
#endif
};

struct Encoded {
    int result = 0;
    std::string error;
    std::string file;
    Log log;
};

// Encodes sample_count samples of the file in into out with threads; the
// log is prepared by the caller (cancel, ...).
Encoded encode_file(const std::string& in, uint64_t sample_count, const std::string& out, int threads, Log log = Log(),
                CancelFlag* cancel = nullptr) {
    Encoded run;
    run.log = log;
    FILE* source = open_utf8(in.c_str(), "rb");
    if (!source) {
        run.error = "test could not open its input";
        return run;
    }
    run.log.source = source;
    Log* log_at = &run.log;
    run.log.probe = [log_at] {
        if (log_at->source) log_at->positions.push_back((long long)ftell(log_at->source));
#ifdef KT_HEAP_IN_USE
        const size_t heap = KT_HEAP_IN_USE();
        if (heap > log_at->heap_peak) log_at->heap_peak = heap;
#endif
    };
    char error[512] = "";
    const Progress progress = run.log.step(0.1, 0.98, cancel);
    run.result = encode_track_flac(source, sample_count, out.c_str(), &progress, error, sizeof error, threads);
    fclose(source);
    run.log.source = nullptr;
    run.log.probe = nullptr;
    run.error = error;
    run.file = kt::read_file(out);
    return run;
}

}  // namespace

TEST(FlacThreads, SameBytesAsOneThreadAndThePlainEncoder) {
    struct Input {
        std::string name;
        Pcm pcm;
    };
    std::vector<Input> inputs = {
        {"empty", Pcm()},
        {"one sample", make_pcm(1, 1, 1)},
        {"4095", make_pcm(4095, 2, 1)},
        {"4096", make_pcm(4096, 3, 1)},
        {"4097", make_pcm(4097, 4, 1)},
        {"fewer blocks than threads", make_pcm(3 * 4096 + 17, 5, 1)},
        {"silence", make_pcm(20 * 4096, 0, 0)},
        {"full-scale noise", make_pcm(10 * 4096 + 1000, 6, 2)},
        // Frame numbers of two bytes, progress twice, a short last block.
        {"130 frames", make_pcm(129 * 4096 + 999, 7, 1)},
    };
    Pcm music;
    ASSERT_TRUE(kt_flac::load_music(&music)) << kt_flac::music_hint();
    // 30 s of real music, a length that is no multiple of 4096.
    music.resize(30ull * 44100 * 4 + 4 * 123);
    inputs.push_back({"music", music});

    for (const Input& input : inputs) {
        SCOPED_TRACE(input.name);
        kt::TempDir dir("flac-threads");
        const std::string in = dir / "in.raw";
        kt::write_file(in, input.pcm);
        const uint64_t n = input.pcm.size() / 4;
        const std::string want = ref::encode_stream(input.pcm.data(), n);
        std::vector<double> one_thread_fractions;
        for (int isa : ref::analysis_isas()) {
            ref::ScopedIsa use(isa);
            for (int threads : THREAD_COUNTS) {
                SCOPED_TRACE("isa " + std::to_string(isa) + ", threads " + std::to_string(threads));
                Encoded run = encode_file(in, n, dir / ("t" + std::to_string(threads) + ".flac"), threads);
                ASSERT_EQ(run.result, 1) << run.error;
                ASSERT_EQ(run.file.size(), want.size());
                ASSERT_TRUE(run.file == want) << "differs from the plain encoder's file";
                EXPECT_EQ(run.log.statuses_given(), 0);
                if (threads == 1) one_thread_fractions = run.log.fractions();
                EXPECT_EQ(run.log.fractions(), one_thread_fractions);
            }
        }
        if (input.name == "130 frames") {
            EXPECT_EQ(one_thread_fractions.size(), 2u);
        }
    }
}

TEST(FlacThreads, FailuresEndAsOnOneThread) {
    struct Case {
        const char* name;
        int kind;                 // of the input: 1 tone, 2 noise
        uint64_t input_samples;   // what the image holds
        uint64_t asked;           // samples asked for
        int cancel_at_start;
        int cancel_at_call;       // progress call that sets the flag
        int disk_full_at;         // the disk takes the file up to this frame (-1: all but its
                                  // last byte), 0: no limit
        const char* message;      // "" for "cannot write <path>"
        size_t progress_calls;
    } cases[] = {
        {"cancel already set", 1, 200 * 4096, 200 * 4096, 1, 0, 0, "cancelled", 0},
        {"cancel at the first report", 1, 200 * 4096, 200 * 4096, 0, 1, 0, "cancelled", 1},
        {"cancel at the second report", 1, 200 * 4096, 200 * 4096, 0, 2, 0, "cancelled", 2},
        {"image ends inside a block", 1, 150 * 4096 + 100, 200 * 4096, 0, 0, 0,
         "the disc image ends inside an audio track", 2},
        {"image ends at a block's start", 1, 64 * 4096, 200 * 4096, 0, 0, 0,
         "the disc image ends inside an audio track", 1},
        {"disk full in the middle", 2, 200 * 4096, 200 * 4096, 0, 0, 20, "", 0},
        {"disk full after two reports", 1, 200 * 4096, 200 * 4096, 0, 0, 150, "", 2},
        {"disk full at the last byte", 1, 200 * 4096, 200 * 4096, 0, 0, -1, "", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
#if defined(_WIN32)
        if (c.disk_full_at) continue;  // no file size limit to set; see disk_faults.sh under Wine
#endif
        kt::TempDir dir("flac-threads");
        const std::string in = dir / "in.raw", out = dir / "track02.flac";
        kt::write_file(in, make_pcm(c.input_samples, 11, c.kind));
        size_t file_limit = 0;
        if (c.disk_full_at) {
            Encoded clean = encode_file(in, c.asked, dir / "clean.flac", 1);
            ref::Stream s;
            ASSERT_EQ(ref::read_stream(clean.file, &s), "");
            file_limit = clean.file.size() - 1;
            if (c.disk_full_at > 0) {
                file_limit = 42;
                for (int f = 0; f < c.disk_full_at; ++f) file_limit += s.frames[f].frame_bytes;
            }
        }
        std::vector<double> one_thread_fractions;
        for (int threads : THREAD_COUNTS) {
            SCOPED_TRACE("threads " + std::to_string(threads));
            kt::write_file(out, std::string("earlier"));
            CancelFlag cancel(c.cancel_at_start);
            Log log;
            log.cancel = &cancel;
            log.cancel_at_call = c.cancel_at_call;
            log.cancel_from_thread = true;
#if !defined(_WIN32)
            struct rlimit saved;
            getrlimit(RLIMIT_FSIZE, &saved);
            void (*saved_handler)(int) = signal(SIGXFSZ, SIG_IGN);
            if (file_limit) {
                struct rlimit limit = saved;
                limit.rlim_cur = file_limit;
                ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
            }
#endif
            Encoded run = encode_file(in, c.asked, out, threads, log, &cancel);
#if !defined(_WIN32)
            setrlimit(RLIMIT_FSIZE, &saved);
            signal(SIGXFSZ, saved_handler);
#endif
            EXPECT_EQ(run.result, 0);
            EXPECT_EQ(run.error, c.message[0] ? std::string(c.message) : "cannot write " + out);
            EXPECT_FALSE(kt::exists(out + ".part"));
            EXPECT_EQ(run.file, "earlier") << "the earlier file must stay untouched";
            EXPECT_EQ(run.log.fractions().size(), c.progress_calls);
            if (threads == 1) one_thread_fractions = run.log.fractions();
            EXPECT_EQ(run.log.fractions(), one_thread_fractions);
        }
    }
}

TEST(FlacThreads, CountsAndMemoryStayBounded) {
    EXPECT_EQ(flac_thread_count(1), 1);
    EXPECT_EQ(flac_thread_count(7), 7);
    EXPECT_EQ(flac_thread_count(FLAC_MAX_THREADS), (int)FLAC_MAX_THREADS);
    EXPECT_EQ(flac_thread_count(FLAC_MAX_THREADS + 1), (int)FLAC_MAX_THREADS);
    unsigned hardware = std::thread::hardware_concurrency();
    int want_default = hardware == 0 ? 1 : hardware > FLAC_DEFAULT_THREADS_CAP ? (int)FLAC_DEFAULT_THREADS_CAP : (int)hardware;
    EXPECT_EQ(flac_thread_count(0), want_default);
    EXPECT_EQ(flac_thread_count(-5), want_default);

    // The stated figure: under 320 KiB a thread, all of it in one block.
    for (int threads : {1, 2, 7, (int)FLAC_DEFAULT_THREADS_CAP, (int)FLAC_MAX_THREADS})
        EXPECT_LE(flac_encoder_bytes(threads), (size_t)threads * 320 * 1024) << threads;

    // A long track: the reads never run more than 4 blocks a thread ahead
    // of the frames written, and (where the heap can be read) the heap
    // grows by no more than the stated figure.
    kt::TempDir dir("flac-threads");
    const uint64_t n = 1000 * 4096;
    const std::string in = dir / "in.raw";
    kt::write_file(in, make_pcm(n, 12, 1));
    for (int threads : {2, 7}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        Log log;
#ifdef KT_HEAP_IN_USE
        const size_t heap_before = KT_HEAP_IN_USE();
#endif
        Encoded run = encode_file(in, n, dir / "out.flac", threads, log);
        ASSERT_EQ(run.result, 1) << run.error;
        ASSERT_EQ(run.log.positions.size(), 1000u / 64);
        for (size_t k = 0; k < run.log.positions.size(); ++k) {
            const long long written = (long long)(k + 1) * 64;
            EXPECT_LE(run.log.positions[k], (written + 4 * threads) * 16384) << "report " << k;
            EXPECT_GE(run.log.positions[k], written * 16384) << "report " << k;
        }
#ifdef KT_HEAP_IN_USE
        EXPECT_LE(run.log.heap_peak - heap_before, flac_encoder_bytes(threads) + 64 * 1024);
#endif
    }
}
