// encode_track_flac: stream layout, stereo decisions, progress, cancel,
// failures. Every file the cases produce is decoded here by the test reader
// and also left, with its input, in the fixture folder "flac-oracle" for
// oracle.sh, which runs flac, metaflac and ffmpeg on them (natively, also for
// the files the Windows build wrote).
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "base/md5.h"
#include "base/paths.h"
#include "formats/flac/flac.h"
#include "flac/flac_reference.h"
#include "flac/music_fixture.h"
#include "support/recorder.h"
#include "support/test_support.h"

namespace {

typedef std::vector<uint8_t> Pcm;

uint32_t lcg(uint32_t& s) {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
}

void put_sample(Pcm& pcm, size_t i, int32_t left, int32_t right) {
    uint8_t* p = pcm.data() + 4 * i;
    p[0] = (uint8_t)left;
    p[1] = (uint8_t)(left >> 8);
    p[2] = (uint8_t)right;
    p[3] = (uint8_t)(right >> 8);
}

Pcm make_pcm(size_t n, const std::function<void(size_t, int32_t*, int32_t*)>& f) {
    Pcm pcm(n * 4);
    for (size_t i = 0; i < n; ++i) {
        int32_t l = 0, r = 0;
        f(i, &l, &r);
        put_sample(pcm, i, l, r);
    }
    return pcm;
}

// A tone with a little noise: FIXED subframes, every stereo coding possible.
Pcm tone(size_t n, uint32_t seed) {
    return make_pcm(n, [&](size_t i, int32_t* l, int32_t* r) {
        *l = (int32_t)lround(9000 * sin(i * 0.013)) + (int32_t)(lcg(seed) % 64) - 32;
        *r = (int32_t)lround(7000 * sin(i * 0.017 + 1)) + (int32_t)(lcg(seed) % 64) - 32;
    });
}

std::string md5_hex(const uint8_t* bytes, size_t n) {
    Md5Context c;
    md5_init(&c);
    md5_update(&c, bytes, n);
    unsigned char d[16];
    md5_final(&c, d);
    char hex[33];
    md5_to_hex(d, hex);
    return hex;
}

std::string oracle_dir() { return kt::join(kt::fixture_dir(), "flac-oracle"); }

struct Encoded {
    int result = 0;
    std::string error;
    std::string file;  // bytes of the produced FLAC file
};

// Encodes pcm (sample_count stereo samples are requested, which may exceed
// what pcm holds) into dir/out.flac.
Encoded encode(const kt::TempDir& dir, const Pcm& pcm, uint64_t sample_count, kt::Recorder* log = nullptr,
               double low = 0, double high = 1, const CancelFlag* cancel = nullptr) {
    const std::string in = dir / "in.raw", out = dir / "out.flac";
    kt::write_file(in, pcm);
    Encoded e;
    FILE* source = open_utf8(in.c_str(), "rb");
    if (!source) {
        e.error = "test could not open its input";
        return e;
    }
    char error[256] = "";
    const Progress progress = log ? log->step(low, high, cancel) : progress_step(nullptr, 0, low, high, cancel);
    e.result = encode_track_flac(source, sample_count, out.c_str(), &progress, error, sizeof error);
    fclose(source);
    e.error = error;
    e.file = kt::read_file(out);
    return e;
}

// Decodes with the test reader and checks the stream header and the frame
// sequence; hands the oracle script the input and output.
void check_stream(const std::string& name, const Pcm& pcm, const Encoded& e, ref::Stream* s,
                  const std::string& raw_path_for_oracle = "") {
    ASSERT_EQ(e.result, 1) << name << ": " << e.error;
    ASSERT_EQ(ref::read_stream(e.file, s), "") << name;
    const uint64_t n = pcm.size() / 4;
    EXPECT_EQ(s->min_block, 4096u) << name;
    EXPECT_EQ(s->max_block, 4096u) << name;
    EXPECT_EQ(s->min_frame, 0u) << name;
    EXPECT_EQ(s->max_frame, 0u) << name;
    EXPECT_EQ(s->sample_rate, 44100u) << name;
    EXPECT_EQ(s->channels, 2u) << name;
    EXPECT_EQ(s->bits, 16u) << name;
    EXPECT_EQ(s->total_samples, n) << name;
    char hex[33];
    md5_to_hex(s->md5, hex);
    EXPECT_EQ(std::string(hex), md5_hex(pcm.data(), pcm.size())) << name;
    ASSERT_EQ(s->frames.size(), (size_t)((n + 4095) / 4096)) << name;
    for (size_t f = 0; f < s->frames.size(); ++f) {
        const ref::FrameInfo& fi = s->frames[f];
        ASSERT_EQ(fi.frame_number, f) << name;
        const uint64_t left = n - 4096 * f;
        ASSERT_EQ(fi.block_size_code, left >= 4096 ? 12u : 7u) << name << " frame " << f;
        ASSERT_EQ(fi.block_size, left >= 4096 ? 4096u : (uint32_t)left) << name;
        const uint32_t number_bytes = f < 128 ? 1 : f < 2048 ? 2 : 3;
        ASSERT_EQ(fi.header_bytes, 4 + number_bytes + (left >= 4096 ? 0 : 2) + 1) << name << " frame " << f;
    }
    ASSERT_TRUE(s->pcm == pcm) << name << ": decoded samples differ";

    kt::make_dirs(oracle_dir());
    kt::write_file(kt::join(oracle_dir(), name + ".flac"), e.file);
    if (raw_path_for_oracle.empty())
        kt::write_file(kt::join(oracle_dir(), name + ".raw"), pcm);
    else
        kt::write_file(kt::join(oracle_dir(), name + ".rawpath"), raw_path_for_oracle);
}

}  // namespace

TEST(FlacEncode, StreamCases) {
    struct Case {
        std::string name;
        Pcm pcm;
        // Checked on every full frame: channel assignment (0: any) and the
        // two subframe kinds (-1: any).
        uint32_t assignment;
        int kind0, kind1;
        int order0;  // fixed order of the first subframe, -1: any
    };
    uint32_t seed = 5;
    std::vector<Case> cases;
    cases.push_back({"empty", Pcm(), 0, -1, -1, -1});
    cases.push_back({"one-sample", make_pcm(1, [](size_t, int32_t* l, int32_t* r) { *l = -32768, *r = 32767; }), 1,
                     SUBFRAME_CONSTANT, SUBFRAME_CONSTANT, -1});
    for (size_t n : {4095, 4096, 4097, 8192, 4096 + 4092}) cases.push_back({"tone-" + std::to_string(n), tone(n, (uint32_t)n), 0, -1, -1, -1});
    cases.push_back({"frames-63", tone(63 * 4096, 63), 0, -1, -1, -1});
    cases.push_back({"frames-64", tone(64 * 4096, 64), 0, -1, -1, -1});
    cases.push_back({"frames-130", tone(129 * 4096 + 17, 130), 0, -1, -1, -1});
    // 2049 full frames and a short one; mostly silence to keep it quick, a
    // tone around the 2047/2048 crossing.
    cases.push_back({"frames-2050", make_pcm(2049 * 4096 + 1, [&](size_t i, int32_t* l, int32_t* r) {
                         if (i / 4096 >= 2045) *l = (int32_t)(i % 200) - 100, *r = (int32_t)(i % 37);
                     }), 0, -1, -1, -1});
    cases.push_back({"silence", Pcm(3 * 4096 * 4, 0), 1, SUBFRAME_CONSTANT, SUBFRAME_CONSTANT, -1});
    cases.push_back({"identical-channels", make_pcm(3 * 4096, [&](size_t i, int32_t* l, int32_t* r) {
                         *l = *r = (int32_t)lround(20000 * sin(i * 0.05)) + (int32_t)(lcg(seed) % 9);
                     }), 8, SUBFRAME_FIXED, SUBFRAME_CONSTANT, -1});
    cases.push_back({"left-only", make_pcm(3 * 4096, [&](size_t i, int32_t* l, int32_t*) {
                         *l = (int32_t)lround(20000 * sin(i * 0.05)) + (int32_t)(lcg(seed) % 9);
                     }), 1, SUBFRAME_FIXED, SUBFRAME_CONSTANT, -1});
    cases.push_back({"full-scale-square", make_pcm(3 * 4096 + 100, [](size_t i, int32_t* l, int32_t* r) {
                         *l = (i / 50) % 2 ? 32767 : -32768;
                         *r = (i / 73) % 2 ? -32768 : 32767;
                     }), 0, -1, -1, -1});
    cases.push_back({"white-noise", make_pcm(3 * 4096, [&](size_t, int32_t* l, int32_t* r) {
                         *l = (int32_t)(lcg(seed) & 0xFFFF) - 32768;
                         *r = (int32_t)(lcg(seed) & 0xFFFF) - 32768;
                     }), 1, SUBFRAME_VERBATIM, SUBFRAME_VERBATIM, -1});
    cases.push_back({"ramp", make_pcm(2 * 4096, [](size_t i, int32_t* l, int32_t* r) {
                         *l = (int32_t)(i % 4096) - 2048;
                         *r = 1000 - (int32_t)(i % 4096) / 2;
                     }), 0, SUBFRAME_FIXED, -1, 2});

    for (const Case& c : cases) {
        kt::TempDir dir("flac");
        Encoded e = encode(dir, c.pcm, c.pcm.size() / 4);
        ref::Stream s;
        check_stream(c.name, c.pcm, e, &s);
        if (HasFatalFailure()) return;
        for (const ref::FrameInfo& f : s.frames) {
            if (f.block_size != 4096 && c.name != "one-sample") continue;
            if (c.assignment) {
                EXPECT_EQ(f.assignment, c.assignment) << c.name << " frame " << f.frame_number;
            }
            if (c.kind0 >= 0) {
                EXPECT_EQ(f.kinds[0], c.kind0) << c.name << " frame " << f.frame_number;
            }
            if (c.kind1 >= 0) {
                EXPECT_EQ(f.kinds[1], c.kind1) << c.name << " frame " << f.frame_number;
            }
            if (c.order0 >= 0) {
                EXPECT_EQ(f.orders[0], (uint32_t)c.order0) << c.name << " frame " << f.frame_number;
            }
        }
        if (c.name == "empty") {
            EXPECT_EQ(e.file.size(), 42u);
            EXPECT_EQ(md5_hex(s.md5, 0), "d41d8cd98f00b204e9800998ecf8427e");
        }
        if (c.name == "ramp") {
            // Independent coding, the left ramp first.
            EXPECT_EQ(s.frames[0].assignment, 1u);
        }
    }
    // The stereo sums on a block of silence: independent 48 bits, every other
    // candidate 49, so frame bytes are 6 (header) + 6 (two constants) + 2.
    kt::TempDir dir("flac");
    Pcm silence(4096 * 4, 0);
    Encoded e = encode(dir, silence, 4096);
    ASSERT_EQ(e.file.size(), 42u + 14u);
}

TEST(FlacEncode, RealMusic) {
    Pcm pcm;
    ASSERT_TRUE(kt_flac::load_music(&pcm)) << kt_flac::music_hint();
#if !defined(_WIN32) && (defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG))
    // The sanitized debug build is many times slower: a 2-minute slice here;
    // the Windows (release) tree encodes all 10 minutes.
    pcm.resize(120ull * 44100 * 4 + 4 * 1000);
    const std::string name = "music-slice";
#else
    const std::string name = "music-600s";
#endif
    kt::TempDir dir("flac");
    Encoded e = encode(dir, pcm, pcm.size() / 4);
    ref::Stream s;
    check_stream(name, pcm, e, &s, name == "music-600s" ? std::string(KELVORN_FIXTURE_DIR) + "/music-600s.s16le" : "");
    if (HasFatalFailure()) return;
    int used[11] = {0};
    for (const ref::FrameInfo& f : s.frames) used[f.assignment]++;
    // Real music uses more than one stereo coding.
    EXPECT_GT(used[1] + used[8] + used[9], 0);
    EXPECT_GT(used[10], 0);
    EXPECT_LT(e.file.size(), pcm.size() * 3 / 4);
}

TEST(FlacEncode, Progress) {
    struct Case {
        uint64_t frames_of_4096;
        uint64_t extra;
        double low, high;
        std::vector<double> want;
    } cases[] = {
        {63, 0, 0, 1, {}},
        {64, 0, 0, 1, {1.0}},
        {63, 5, 0, 1, {1.0}},  // 64 frames, the last short
        {64, 0, 0.3, 0.87, {0.87}},  // 0.3 + (0.87 - 0.3) rounds past 0.87
        {130, 0, 0.1, 0.98, {0.1 + (64.0 * 4096 * (0.98 - 0.1)) / (130.0 * 4096),
                             0.1 + (128.0 * 4096 * (0.98 - 0.1)) / (130.0 * 4096)}},
    };
    for (const Case& c : cases) {
        const uint64_t n = c.frames_of_4096 * 4096 + c.extra;
        kt::TempDir dir("flac");
        kt::Recorder log;
        Pcm pcm(n * 4, 0);
        Encoded e = encode(dir, pcm, n, &log, c.low, c.high);
        ASSERT_EQ(e.result, 1) << e.error;
        EXPECT_EQ(log.fractions(), c.want) << n;
        EXPECT_EQ(log.statuses_given(), 0);
    }
}

TEST(FlacEncode, FailuresLeaveNoFiles) {
    Pcm pcm = tone(3 * 4096, 9);
    struct Case {
        const char* name;
        size_t pcm_bytes;        // bytes of input available
        uint64_t sample_count;   // samples requested
        int cancel;              // cancel flag at the start
        int cancel_at_progress;  // set cancel on this progress call
        bool missing_folder;
        const char* message;
    } cases[] = {
        {"cancel already set", pcm.size(), 3 * 4096, 1, 0, false, "cancelled"},
        {"cancel during the track", 0, 0, 0, 1, false, "cancelled"},
        {"image ends inside a stereo sample", 4096 * 4 + 4 * 10 + 2, 3 * 4096, 0, 0, false,
         "the disc image ends inside an audio track"},
        {"image ends at the first block", 0, 1, 0, 0, false, "the disc image ends inside an audio track"},
        {"folder missing", pcm.size(), 3 * 4096, 0, 0, true, "cannot write "},
    };
    for (const Case& c : cases) {
        kt::TempDir dir("flac");
        Pcm input(pcm.begin(), pcm.begin() + (long)c.pcm_bytes);
        uint64_t count = c.sample_count;
        if (c.cancel_at_progress) {
            input = Pcm(200 * 4096 * 4, 0);
            count = 200 * 4096;
        }
        const std::string in = dir / "in.raw";
        kt::write_file(in, input);
        const std::string folder = c.missing_folder ? dir / "missing" : dir.path;
        const std::string out = kt::join(folder, "track02.flac");
        if (!c.missing_folder) kt::write_file(out, std::string("earlier"));
        CancelFlag cancel(c.cancel);
        kt::Recorder log;
        log.cancel = &cancel;
        log.cancel_at_call = c.cancel_at_progress;
        FILE* source = open_utf8(in.c_str(), "rb");
        ASSERT_TRUE(source);
        char error[256] = "";
        int result = encode_track_flac(source, count, out.c_str(), kt::Step(kt::record, log.user(), 0, 1, &cancel), error, sizeof error);
        fclose(source);
        EXPECT_EQ(result, 0) << c.name;
        std::string want = c.message;
        if (c.missing_folder) want += out;
        EXPECT_EQ(std::string(error), want) << c.name;
        EXPECT_FALSE(kt::exists(out + ".part")) << c.name;
        if (c.missing_folder) {
            EXPECT_FALSE(kt::exists(folder)) << c.name;
        } else {
            EXPECT_EQ(kt::read_file(out), "earlier") << c.name << ": the earlier file must stay untouched";
        }
        if (c.cancel_at_progress) {
            EXPECT_EQ(log.fractions().size(), 1u) << c.name;
        }
        // The same failure without an error buffer.
        source = open_utf8(in.c_str(), "rb");
        EXPECT_EQ(encode_track_flac(source, count, out.c_str(), kt::Step(nullptr, 0, 0, 1, c.cancel_at_progress ? nullptr : &cancel), nullptr, 0),
                  c.cancel_at_progress ? 1 : 0)
            << c.name;
        fclose(source);
    }
}

TEST(FlacEncode, FinalPaths) {
    // A UTF-8 folder and file name; an earlier file there is replaced.
    kt::TempDir dir("flac");
    const std::string folder = dir / "M\xC3\xBAsica \xE2\x99\xAA";
    kt::make_dirs(folder);
    const std::string out = kt::join(folder, "pi\xC3\xB1" "a.flac");
    kt::write_file(out, std::string("earlier"));
    Pcm pcm = tone(5000, 3);
    const std::string in = dir / "in.raw";
    kt::write_file(in, pcm);
    FILE* source = open_utf8(in.c_str(), "rb");
    ASSERT_TRUE(source);
    char error[256] = "";
    ASSERT_EQ(encode_track_flac(source, 5000, out.c_str(), kt::Step(nullptr, 0, 0, 1, nullptr), error, sizeof error), 1) << error;
    fclose(source);
    ref::Stream s;
    EXPECT_EQ(ref::read_stream(kt::read_file(out), &s), "");
    EXPECT_TRUE(s.pcm == pcm);
    EXPECT_FALSE(kt::exists(out + ".part"));

    // A path so long that "<path>.part" would be cut back to the path itself
    // is refused before anything is opened.
    std::string long_path = dir.path;
    while (long_path.size() < 2099 - 200) long_path = kt::join(long_path, std::string(150, 'd'));
    long_path = kt::join(long_path, "");
    long_path += std::string(2099 - long_path.size(), 'f');
    ASSERT_EQ(long_path.size(), 2099u);
#ifndef _WIN32
    kt::make_dirs(long_path.substr(0, long_path.rfind('/')));
    kt::write_file(long_path, std::string("earlier"));
    ASSERT_EQ(kt::read_file(long_path), "earlier");
#endif
    source = open_utf8(in.c_str(), "rb");
    ASSERT_TRUE(source);
    std::vector<char> message(4096);
    EXPECT_EQ(encode_track_flac(source, 5000, long_path.c_str(), kt::Step(nullptr, 0, 0, 1, nullptr), message.data(), message.size()), 0);
    fclose(source);
    EXPECT_EQ(std::string(message.data()), "cannot write " + long_path);
#ifndef _WIN32
    EXPECT_TRUE(kt::read_file(long_path) == "earlier") << "the earlier file was overwritten";
#endif
}

TEST(FlacEncode, ReadsOnlyTheTrack) {
    // The image holds more than the track: the encoder stops at the count
    // and leaves the stream at the byte after the track.
    kt::TempDir dir("flac");
    Pcm pcm = tone(6000, 4);
    const std::string in = dir / "in.raw", out = dir / "t.flac";
    kt::write_file(in, pcm);
    FILE* source = open_utf8(in.c_str(), "rb");
    ASSERT_TRUE(source);
    ASSERT_TRUE(seek_to(source, 400));
    char error[256] = "";
    ASSERT_EQ(encode_track_flac(source, 5000, out.c_str(), kt::Step(nullptr, 0, 0, 1, nullptr), error, sizeof error), 1) << error;
    EXPECT_EQ(ftell(source), 400 + 5000 * 4);
    fclose(source);
    ref::Stream s;
    ASSERT_EQ(ref::read_stream(kt::read_file(out), &s), "");
    EXPECT_TRUE(s.pcm == Pcm(pcm.begin() + 400, pcm.begin() + 400 + 20000));
}
