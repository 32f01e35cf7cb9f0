// Subframe analysis, writer and checksums, pinned against the plain
// implementations in flac_reference.cpp.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "formats/flac/crc.h"
#include "flac/flac_reference.h"
#include "flac/music_fixture.h"
#include "formats/flac/subframe.h"
#include "support/test_support.h"

namespace {

struct Bits {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(40000, 0xA5);
    FrameBitWriter w{};
    Bits() { w.bytes = bytes.data(); }
    uint64_t bit_length() const { return w.length * 8 + (uint64_t)w.pending; }
    // Emitted bytes plus the pending bits, left-aligned in one last byte.
    std::vector<uint8_t> contents() const {
        std::vector<uint8_t> v(bytes.begin(), bytes.begin() + (long)w.length);
        if (w.pending) v.push_back((uint8_t)((w.accumulator << (8 - w.pending)) & 0xFF));
        return v;
    }
};

uint32_t lcg(uint32_t& s) {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
}

// A block of one channel: name, samples, width.
struct Block {
    std::string name;
    std::vector<int32_t> x;
    uint32_t bits;
};

std::vector<Block> synthetic_blocks() {
    std::vector<Block> blocks;
    auto add = [&](const std::string& name, uint32_t n, uint32_t bits, auto f) {
        Block b{name, std::vector<int32_t>(n), bits};
        for (uint32_t i = 0; i < n; ++i) b.x[i] = f(i);
        blocks.push_back(b);
    };
    const uint32_t sizes[] = {1, 2, 3, 4, 5, 6, 7, 16, 17, 31, 32, 64, 100, 588, 1000, 2048, 4092, 4095, 4096};
    for (uint32_t n : sizes) {
        for (uint32_t bits : {16u, 17u}) {
            const int32_t top = (1 << (bits - 1)) - 1, bottom = -(1 << (bits - 1));
            const std::string tag = "/" + std::to_string(n) + "/" + std::to_string(bits);
            uint32_t seed = n * 31 + bits;
            add("silence" + tag, n, bits, [](uint32_t) { return 0; });
            add("ramp" + tag, n, bits, [](uint32_t i) { return (int32_t)i - 2000; });
            add("noise" + tag, n, bits, [&](uint32_t) { return (int32_t)(lcg(seed) % (uint32_t)(top - bottom + 1)) + bottom; });
            add("quiet noise" + tag, n, bits, [&](uint32_t) { return (int32_t)(lcg(seed) % 7) - 3; });
            add("square" + tag, n, bits, [&](uint32_t i) { return (i / 8) % 2 ? top : bottom; });
            add("alternating" + tag, n, bits, [&](uint32_t i) { return i % 2 ? top : bottom; });
            add("sine" + tag, n, bits, [&](uint32_t i) { return (int32_t)lround(12000.0 * sin(i * 0.031)); });
            add("impulse" + tag, n, bits, [&](uint32_t i) { return i == n / 2 ? top : 0; });
            add("loud then silent" + tag, n, bits,
                [&](uint32_t i) { return i < n / 3 ? (int32_t)(lcg(seed) % 60000) - 30000 : 0; });
            add("silent then quiet" + tag, n, bits, [&](uint32_t i) { return i < n / 2 ? 0 : (int32_t)(i % 5); });
            add("one step" + tag, n, bits, [&](uint32_t i) { return i + 1 == n ? 1 : 0; });
            add("extremes" + tag, n, bits, [&](uint32_t) { return (lcg(seed) & 1) ? top : bottom; });
            add("saw" + tag, n, bits, [&](uint32_t i) { return (int32_t)((i * 977) % 65536) - 32768; });
        }
    }
    // Short blocks of tiny values: many equal costs between orders, and
    // between fixed and verbatim, so every tie rule gets exercised.
    uint32_t seed = 12345;
    for (int b = 0; b < 600; ++b) {
        const uint32_t n = 2 + lcg(seed) % 40, spread = 1 + lcg(seed) % 6, bits = 16 + (b & 1);
        add("tiny/" + std::to_string(b), n, bits, [&](uint32_t) { return (int32_t)(lcg(seed) % spread) - (int32_t)spread / 2; });
    }
    return blocks;
}

void check_against_reference(const Block& b, SubframeChoice* fast, SubframeChoice* slow, SubframeChoice* trial) {
    const uint32_t n = (uint32_t)b.x.size();
    memset(fast, 0x5A, sizeof *fast);
    memset(slow, 0x3C, sizeof *slow);
    choose_subframe(b.x.data(), n, b.bits, fast, trial);
    ref::choose(b.x.data(), n, b.bits, slow, trial);
    ASSERT_EQ(ref::compare_choices(*fast, *slow, n), "") << b.name;

    Bits fast_bits, slow_bits;
    write_subframe(&fast_bits.w, b.x.data(), n, b.bits, fast);
    ref::write(&slow_bits.w, b.x.data(), n, b.bits, slow);
    ASSERT_EQ(fast_bits.bit_length(), fast->cost_bits) << b.name;
    ASSERT_EQ(fast_bits.w.length, slow_bits.w.length) << b.name;
    ASSERT_EQ(fast_bits.w.pending, slow_bits.w.pending) << b.name;
    ASSERT_TRUE(fast_bits.contents() == slow_bits.contents()) << b.name;
}

struct Records {
    std::unique_ptr<SubframeChoice> fast{new SubframeChoice}, slow{new SubframeChoice}, trial{new SubframeChoice};
};

}  // namespace

TEST(FlacCrc, KnownValuesAndTablesMatchBitwise) {
    const uint8_t check[] = "123456789";
    EXPECT_EQ(flac_crc8(check, 9), 0xF4);
    EXPECT_EQ(flac_crc16(check, 9), 0xFEE8);
    EXPECT_EQ(flac_crc8(check, 0), 0);
    EXPECT_EQ(flac_crc16(check, 0), 0);
    std::vector<unsigned char> data = kt::random_bytes(20000, 7);
    for (size_t offset : {0, 1, 3}) {
        for (size_t length = 0; length < 70; ++length) {
            ASSERT_EQ(flac_crc8(data.data() + offset, length), ref::crc8(data.data() + offset, length));
            ASSERT_EQ(flac_crc16(data.data() + offset, length), ref::crc16(data.data() + offset, length));
        }
    }
    EXPECT_EQ(flac_crc16(data.data(), data.size()), ref::crc16(data.data(), data.size()));
}

TEST(FlacBitWriter, PacksMostSignificantFirstAndKeepsPendingBits) {
    Bits b;
    put_bits(&b.w, 0x5, 3);  // 101
    EXPECT_EQ(b.w.length, 0u);
    EXPECT_EQ(b.w.pending, 3);
    put_bits(&b.w, 0x1FFFF, 17);  // -1 at 17 bits
    put_bits(&b.w, 0, 2);
    put_bits(&b.w, 0xDEADBEEF, 32);
    put_bits(&b.w, 1, 1);
    // 101 1111111111111111 1 00 11011110101011011011111011101111 1 -> 55 bits
    EXPECT_EQ(b.bit_length(), 55u);
    const std::vector<uint8_t> want = {0xBF, 0xFF, 0xF3, 0x7A, 0xB6, 0xFB, 0xBE};
    EXPECT_TRUE(b.contents() == want);
    EXPECT_LT(b.w.pending, 8);
}

TEST(FlacAnalysis, EdgeCases) {
    Records r;
    struct Case {
        const char* name;
        std::vector<int32_t> x;
        uint32_t bits;
        int kind;
        uint64_t cost;
        int order;            // -1: not checked
        int partition_order;  // -1: not checked
    };
    std::vector<int32_t> ramp(4096), noise(4096), wide(4096), flat(4096, -7);
    uint32_t seed = 99;
    for (int i = 0; i < 4096; ++i) {
        ramp[i] = i - 2048;
        noise[i] = (int32_t)(lcg(seed) & 0xFFFF) - 32768;
        wide[i] = (i & 1) ? 65535 : -65536;
    }
    std::vector<Case> cases = {
        {"one sample, 16 bits", {-5}, 16, SUBFRAME_CONSTANT, 24, -1, -1},
        {"one sample, 17 bits", {70000 - 131072}, 17, SUBFRAME_CONSTANT, 25, -1, -1},
        {"flat block", flat, 16, SUBFRAME_CONSTANT, 24, -1, -1},
        // all-zero residuals from order 2: 8 + 2*16 + 6 + 4 + 4094 bits
        {"ramp", ramp, 16, SUBFRAME_FIXED, 4144, 2, 0},
        {"white noise", noise, 16, SUBFRAME_VERBATIM, 4096 * 16 + 8, -1, -1},
        {"full-scale side alternation", wide, 17, SUBFRAME_VERBATIM, 4096 * 17 + 8, -1, -1},
        {"two equal samples", {3, 3}, 16, SUBFRAME_CONSTANT, 24, -1, -1},
        // order 0, one partition, parameter 2: 8 + 6 + 4 + (3 + 3) + (3 + 2) = 27,
        // against 37 for order 1 and 40 verbatim
        {"two different samples", {3, 4}, 16, SUBFRAME_FIXED, 27, 0, 0},
    };
    for (const Case& c : cases) {
        choose_subframe(c.x.data(), (uint32_t)c.x.size(), c.bits, r.fast.get(), r.trial.get());
        EXPECT_EQ(r.fast->kind, c.kind) << c.name;
        EXPECT_EQ(r.fast->cost_bits, c.cost) << c.name;
        if (c.order >= 0) {
            EXPECT_EQ(r.fast->order, (uint32_t)c.order) << c.name;
        }
        if (c.partition_order >= 0) {
            EXPECT_EQ(r.fast->partition_order, (uint32_t)c.partition_order) << c.name;
        }
    }
}

TEST(FlacAnalysis, PartitionOrderLimits) {
    // A signal whose loudness changes every 16 samples wants many
    // partitions; the block length caps how many it may have.
    Records r;
    struct Case {
        uint32_t n;
        uint32_t max_order;
    } cases[] = {{4096, 8}, {4092, 2}, {4095, 0}, {2048, 8}, {96, 5}, {40, 3}};
    for (const Case& c : cases) {
        std::vector<int32_t> x(c.n);
        uint32_t seed = c.n;
        for (uint32_t i = 0; i < c.n; ++i) x[i] = ((i / 16) % 2) ? (int32_t)(lcg(seed) % 30000) - 15000 : (int32_t)(i % 3);
        choose_subframe(x.data(), c.n, 16, r.fast.get(), r.trial.get());
        ASSERT_EQ(r.fast->kind, SUBFRAME_FIXED) << c.n;
        EXPECT_LE(r.fast->partition_order, c.max_order) << c.n;
        EXPECT_EQ(c.n % (1u << r.fast->partition_order), 0u) << c.n;
        EXPECT_GT(c.n >> r.fast->partition_order, r.fast->order) << c.n;
        if (c.n == 4096) {
            EXPECT_EQ(r.fast->partition_order, 8u);
        }
        for (uint32_t j = 0; j < (1u << r.fast->partition_order); ++j) EXPECT_LE(r.fast->rice_params[j], 14u);
    }
}

TEST(FlacAnalysis, MatchesPlainImplementationOnSyntheticBlocks) {
    Records r;
    if (ref::analysis_isas().size() < 2) printf("note: no AVX2 here; only the baseline path was pinned\n");
    for (int isa : ref::analysis_isas()) {
        ref::ScopedIsa use(isa);
        SCOPED_TRACE("isa " + std::to_string(isa));
        for (const Block& b : synthetic_blocks()) {
            check_against_reference(b, r.fast.get(), r.slow.get(), r.trial.get());
            if (HasFatalFailure()) return;
        }
    }
}

TEST(FlacAnalysis, MatchesPlainImplementationOnMusic) {
    std::vector<uint8_t> pcm;
    ASSERT_TRUE(kt_flac::load_music(&pcm)) << kt_flac::music_hint();
    Records r;
    const size_t frames = pcm.size() / 4;
    // Every 9th block of the music (about 720 blocks, all four channels of
    // each), plus now and then a short block at an odd offset.
    const size_t stride = 9 * 4096 + 3;
    int checked = 0;
    for (int isa : ref::analysis_isas()) {
        ref::ScopedIsa use(isa);
        SCOPED_TRACE("isa " + std::to_string(isa));
        for (size_t start = 0; start + 4096 <= frames; start += stride) {
            for (uint32_t n : {4096u, 1234u}) {
                if (n != 4096 && start % (stride * 16) != 0) continue;
                Block l{"left", std::vector<int32_t>(n), 16}, rt{"right", std::vector<int32_t>(n), 16};
                Block m{"mid", std::vector<int32_t>(n), 16}, s{"side", std::vector<int32_t>(n), 17};
                for (uint32_t i = 0; i < n; ++i) {
                    const uint8_t* p = pcm.data() + 4 * (start + i);
                    const int32_t a = (int16_t)(p[0] | (p[1] << 8)), b = (int16_t)(p[2] | (p[3] << 8));
                    l.x[i] = a;
                    rt.x[i] = b;
                    m.x[i] = (a + b) >> 1;
                    s.x[i] = a - b;
                }
                for (Block* b : {&l, &rt, &m, &s}) {
                    b->name += " at sample " + std::to_string(start);
                    check_against_reference(*b, r.fast.get(), r.slow.get(), r.trial.get());
                    if (HasFatalFailure()) return;
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(checked, 2800 * (int)ref::analysis_isas().size());
}
