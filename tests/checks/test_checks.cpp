// Digests and checks against the retail reference table, which no fixture
// file can change.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "check_fixtures.h"
#include "support/env.h"
#include "support/recorder.h"
#include "support/rom.h"
#include "base/md5.h"
#include "builder/reference.h"
#include "formats/disc/cue.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

const char EMPTY_MD5[] = "d41d8cd98f00b204e9800998ecf8427e";
const char NOT_DISC[] = "This is not the retail Boss Rally disc image (a raw BIN of the whole CD).";
const char UNREADABLE[] = "The file could not be read.";
const char LAYOUT_NOTE[] = "A different cue sheet, with the retail disc's track layout.";
const char NOT_CUE[] = "This cue sheet does not describe the retail Boss Rally disc.";

// Fixture digests offered to the retail table through the variable the
// test build reads. Set before any test runs, so a table that read it
// lazily would have taken it.
struct OfferFixtureDigests : ::testing::Environment {
    kt::TempDir* dir = nullptr;
    std::string disc_bytes = "not the retail disc";
    void SetUp() override {
        dir = new kt::TempDir("offer");
        std::string m = kt::md5_hex_of(disc_bytes);
        kt::write_file(*dir / "digests.txt", "disc_image=" + m + "\ncue_sheet=" + m + "\ncartridge_rom=" + m +
                                                 "\nbrglide=" + m + "\n");
        kt::set_env("KELVORN_TEST_DIGESTS", *dir / "digests.txt");
    }
    void TearDown() override { delete dir; }
};
OfferFixtureDigests* offered =
    (OfferFixtureDigests*)::testing::AddGlobalTestEnvironment(new OfferFixtureDigests);

std::string file_of(const kt::TempDir& dir, const std::string& name, const std::string& bytes) {
    std::string path = dir / name;
    kt::write_file(path, bytes);
    return path;
}

}  // namespace

TEST(RetailTable, FixedWhateverTheEnvironment) {
    const ReferenceDigests* refs = reference_digests();
    EXPECT_STREQ(refs->disc_image, "31c64f9b1e09788c2dfc384b44af8f6c");
    EXPECT_STREQ(refs->cue_sheet, "a48a4a5860558177c3041afee57e03c9");
    EXPECT_STREQ(refs->cartridge_rom, "6f7030284b6bc84a49e07da864526b52");
    EXPECT_STREQ(refs->brglide, "5d6417cd547097fd00954c6874f85e97");
    // The file whose digest was offered is still rejected.
    kt::TempDir dir("retail");
    FileCheck c;
    EXPECT_EQ(check_disc_image(file_of(dir, "x.bin", offered->disc_bytes).c_str(), &c, nullptr, 0, nullptr), 0);
    EXPECT_STREQ(c.note, NOT_DISC);
}

// Sizes around the 1 MiB chunk, against the one-shot digest of the bytes.
TEST(Md5File, MatchesDigestOfTheBytes) {
    kt::TempDir dir("md5file");
    std::string big = kc::bytes_of(kt::random_bytes(3 * 1048576 + 17, 11));
    struct Case {
        size_t size;
        const char* expect;  // null: the one-shot digest
    } cases[] = {{0, EMPTY_MD5},     {1, nullptr},       {1048575, nullptr},        {1048576, nullptr},
                 {1048577, nullptr}, {2097152, nullptr}, {3 * 1048576 + 17, nullptr}};
    for (const Case& c : cases) {
        std::string bytes = big.substr(0, c.size);
        std::string path = file_of(dir, "f", bytes);
        char hex[33];
        ASSERT_EQ(md5_file(path.c_str(), hex, nullptr, 0, nullptr), 1) << c.size;
        EXPECT_EQ(std::string(hex), c.expect ? c.expect : kt::md5_hex_of(bytes)) << c.size;
    }
    char hex[33];
    ASSERT_EQ(md5_file(file_of(dir, "abc", "abc").c_str(), hex, nullptr, 0, nullptr), 1);
    EXPECT_STREQ(hex, "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5File, ProgressAfterEveryChunk) {
    kt::TempDir dir("md5file");
    struct Case {
        size_t size;
        std::vector<double> fractions;
    } cases[] = {
        {0, {}},  // no chunk holds bytes, so nothing is reported
        {10, {1.0}},
        {2621440, {0.4, 0.8, 1.0}},  // 2.5 MiB
    };
    for (const Case& c : cases) {
        std::string path = file_of(dir, "f", std::string(c.size, 'p'));
        kt::Recorder r;
        char hex[33];
        ASSERT_EQ(md5_file(path.c_str(), hex, kt::record, r.user(), nullptr), 1);
        EXPECT_EQ(r.fractions(), c.fractions) << c.size;
        EXPECT_EQ(r.statuses_given(), 0);
        for (const kt::Report& report : r.reports) EXPECT_EQ(report.user, r.user());
    }
}

// Every failure returns 0 and leaves the output alone.
TEST(Md5File, Failures) {
    kt::TempDir dir("md5file");
    std::string three_mib = file_of(dir, "f", std::string(3 * 1048576, 'c'));
    kt::make_dirs(dir / "folder");

    char hex[33] = "untouched";
    EXPECT_EQ(md5_file((dir / "missing").c_str(), hex, nullptr, 0, nullptr), 0);
    EXPECT_STREQ(hex, "untouched");
    // A folder opens on some systems but yields a read error, which must not
    // pass for the digest of no bytes.
    EXPECT_EQ(md5_file((dir / "folder").c_str(), hex, nullptr, 0, nullptr), 0);
    EXPECT_STREQ(hex, "untouched");

    CancelFlag cancel(1);
    kt::Recorder r;
    EXPECT_EQ(md5_file(three_mib.c_str(), hex, kt::record, r.user(), &cancel), 0);
    EXPECT_TRUE(r.fractions().empty());
    EXPECT_STREQ(hex, "untouched");

    // Cancelled while running: the flag is tested before each chunk.
    cancel = 0;
    r.cancel = &cancel;
    r.cancel_at_call = 1;
    EXPECT_EQ(md5_file(three_mib.c_str(), hex, kt::record, r.user(), &cancel), 0);
    EXPECT_EQ(r.fractions().size(), 1u);
    EXPECT_STREQ(hex, "untouched");

    // A flag that stays 0 changes nothing.
    cancel = 0;
    EXPECT_EQ(md5_file(three_mib.c_str(), hex, nullptr, 0, &cancel), 1);
    EXPECT_EQ(std::string(hex), kt::md5_hex_of(std::string(3 * 1048576, 'c')));
}

namespace {
std::string range_hex(const Md5Range& r) {
    char hex[33];
    md5_to_hex(r.digest, hex);
    return hex;
}
}  // namespace

// The digests of byte ranges taken while the whole file is read, on the
// calling thread and on a helper, against the digests of the bytes; the
// whole file's digest stays md5_file's.
TEST(Md5FileRanges, DigestTheRangesAsTheyAreRead) {
    kt::TempDir dir("ranges");
    const uint64_t size = 3 * 1048576 + 17, mib = 1048576;
    std::string bytes = kc::bytes_of(kt::random_bytes((size_t)size, 12));
    std::string path = file_of(dir, "f.bin", bytes);
    struct R {
        uint64_t offset, length;
        int done;
    };
    struct Case {
        const char* name;
        std::vector<R> ranges;
    } cases[] = {
        {"none", {}},
        {"inside the first chunk", {{100, 5000, 1}}},
        {"across chunk boundaries", {{mib - 10, 20, 1}, {2 * mib - 1, mib + 2, 1}}},
        {"the whole file", {{0, size, 1}}},
        {"back to back to the end, like tracks", {{0, mib + 3, 1}, {mib + 3, mib, 1}, {2 * mib + 3, size - 2 * mib - 3, 1}}},
        {"past the end", {{size - 5, 6, 0}}},
        {"empty ones: at 0, at the end, past it", {{0, 0, 1}, {size, 0, 1}, {size + 1, 0, 0}}},
        {"overlapping: none", {{0, 100, 0}, {99, 10, 0}}},
        {"out of order: none", {{5000, 10, 0}, {10, 10, 0}}},
        {"wrapping round: none", {{10, ~(uint64_t)0, 0}}},
    };
    for (int threads : {1, 2}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", threads " + std::to_string(threads));
            std::vector<Md5Range> ranges(c.ranges.size());
            for (size_t i = 0; i < ranges.size(); ++i) {
                ranges[i].offset = c.ranges[i].offset;
                ranges[i].length = c.ranges[i].length;
                ranges[i].done = 7;
            }
            char hex[33];
            FileStamp stamp = {};
            ASSERT_EQ(md5_file_ranges(path.c_str(), hex, nullptr, 0, nullptr, &stamp, ranges.data(),
                                      (int)ranges.size(), threads),
                      1);
            EXPECT_EQ(std::string(hex), kt::md5_hex_of(bytes));
            EXPECT_EQ(stamp.size, size);
            for (size_t i = 0; i < ranges.size(); ++i) {
                EXPECT_EQ(ranges[i].done, c.ranges[i].done) << i;
                if (c.ranges[i].done) {
                    EXPECT_EQ(range_hex(ranges[i]),
                              kt::md5_hex_of(bytes.substr((size_t)c.ranges[i].offset, (size_t)c.ranges[i].length)))
                        << i;
                }
            }
        }
    }
}

// A digest that fails or is stopped leaves every range undone.
TEST(Md5FileRanges, FailuresDigestNoRange) {
    kt::TempDir dir("ranges");
    std::string path = file_of(dir, "f.bin", std::string(5 * 1048576, 'r'));
    for (int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        Md5Range ranges[2] = {{0, 10, {0}, 0}, {3 * 1048576, 1048576, {0}, 0}};
        CancelFlag cancel(0);
        kt::Recorder r;
        r.cancel = &cancel;
        r.cancel_at_call = 2;  // after the first range is whole
        char hex[33] = "untouched";
        EXPECT_EQ(md5_file_ranges(path.c_str(), hex, kt::record, r.user(), &cancel, nullptr, ranges, 2, threads), 0);
        EXPECT_STREQ(hex, "untouched");
        EXPECT_EQ(ranges[0].done, 0);
        EXPECT_EQ(ranges[1].done, 0);
        ranges[0].done = 1;
        EXPECT_EQ(md5_file_ranges((dir / "missing").c_str(), hex, nullptr, 0, nullptr, nullptr, ranges, 2, threads), 0);
        EXPECT_EQ(ranges[0].done, 0);
    }
}

// The check digests the retail layout's audio tracks exactly as the build
// reads them from a cue sheet with that layout, so the build finds them.
TEST(DiscImageCheck, AudioRangesAreTheTracksTheBuildReads) {
    kt::TempDir dir("layout");
    std::string sheet_path = file_of(dir, "retail.cue", kc::render_cue(kc::retail_rows()));
    // Whole sectors, and a remainder the last track leaves out.
    for (uint64_t size : {650000000ull / 2352 * 2352, 650000000ull + 1000}) {
        SCOPED_TRACE(size);
        CueSheet sheet;
        char error[256];
        ASSERT_EQ(parse_cue_sheet(sheet_path.c_str(), &sheet, size, error, sizeof error), 1) << error;
        Md5Range ranges[RETAIL_TRACK_COUNT];
        const int count = retail_audio_ranges(size, ranges);
        std::vector<std::pair<uint64_t, uint64_t>> want, have;
        for (int i = 0; i < sheet.track_count; ++i)
            if (sheet.tracks[i].audio)
                want.push_back({(uint64_t)sheet.tracks[i].start * 2352, (uint64_t)sheet.tracks[i].length * 2352});
        for (int i = 0; i < count; ++i) have.push_back({ranges[i].offset, ranges[i].length});
        EXPECT_EQ(have, want);
        EXPECT_EQ(count, 12);
    }
    // An image that ends before the last track starts has no range for
    // that track; one that ends where it starts, an empty one.
    Md5Range ranges[RETAIL_TRACK_COUNT];
    EXPECT_EQ(retail_audio_ranges(1000, ranges), 11);
    EXPECT_EQ(retail_audio_ranges((uint64_t)248677 * 2352 - 1, ranges), 11);
    ASSERT_EQ(retail_audio_ranges((uint64_t)248677 * 2352, ranges), 12);
    EXPECT_EQ(ranges[11].offset, (uint64_t)248677 * 2352);
    EXPECT_EQ(ranges[11].length, 0u);
}

TEST(DiscImageCheck, Cases) {
    kt::TempDir dir("disc");
    kt::make_dirs(dir / "folder");
    std::string bytes = kc::bytes_of(kt::random_bytes(1500000, 3));
    struct Case {
        const char* name;
        std::string path;
        int cancel;
        std::string md5;
        const char* note;
    } cases[] = {
        {"empty file", file_of(dir, "empty.bin", ""), 0, EMPTY_MD5, NOT_DISC},
        {"other image", file_of(dir, "other.bin", bytes), 0, kt::md5_hex_of(bytes), NOT_DISC},
        {"non-ASCII name", file_of(dir, "B\xc3\xb6ss Rally \xe2\x9c\x93.bin", "x"), 0, kt::md5_hex_of("x"), NOT_DISC},
        {"missing", dir / "missing.bin", 0, "", UNREADABLE},
        {"folder", dir / "folder", 0, "", UNREADABLE},
        {"cancelled", dir / "other.bin", 1, "", UNREADABLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileCheck check = kc::dirty_check();
        CancelFlag cancel(c.cancel);
        EXPECT_EQ(check_disc_image(c.path.c_str(), &check, nullptr, 0, &cancel), 0);
        EXPECT_EQ(check.ok, 0);
        EXPECT_EQ(std::string(check.md5_hex), c.md5);
        EXPECT_STREQ(check.note, c.note);
    }
    // Progress and the user value reach md5_file.
    kt::Recorder r;
    FileCheck check;
    check_disc_image((dir / "other.bin").c_str(), &check, kt::record, r.user(), nullptr);
    EXPECT_EQ(r.fractions(), std::vector<double>({1048576.0 / 1500000.0, 1.0}));
}

TEST(CueSheetCheck, RetailLayoutAndItsNearMisses) {
    using kc::CueRow;
    std::vector<CueRow> retail = kc::retail_rows();
    kc::CueStyle other;
    other.file_name = "Boss Rally (1999).bin";
    other.indent = "\t ";
    other.eol = "\r\n";
    other.index00 = false;
    kc::CueStyle padded;
    padded.indent = "     ";

    std::vector<CueRow> twelve(retail.begin(), retail.end() - 1);
    std::vector<CueRow> fourteen = retail;
    fourteen.push_back({14, "AUDIO", retail.back().start + 7500});
    std::vector<CueRow> first_audio = retail;
    first_audio[0].type = "AUDIO";
    std::vector<CueRow> from_zero = retail;
    for (CueRow& r : from_zero) r.number -= 1;
    std::vector<CueRow> frame_off = retail;
    frame_off[6].start += 1;
    std::vector<CueRow> data_second = retail;
    data_second[1].type = "MODE1/2352";

    struct Case {
        const char* name;
        std::string text;
        int ok;
        const char* note;
    } cases[] = {
        {"retail layout", kc::render_cue(retail), 1, LAYOUT_NOTE},
        {"tabs, CRLF, other FILE name, no INDEX 00", kc::render_cue(retail, other), 1, LAYOUT_NOTE},
        {"wide indent", kc::render_cue(retail, padded), 1, LAYOUT_NOTE},
        {"with REM lines", "REM GENRE Racing\nREM made by hand\n" + kc::render_cue(retail), 1, LAYOUT_NOTE},
        {"12 tracks", kc::render_cue(twelve), 0, NOT_CUE},
        {"14 tracks", kc::render_cue(fourteen), 0, NOT_CUE},
        {"track 1 AUDIO", kc::render_cue(first_audio), 0, NOT_CUE},
        {"numbered from 0", kc::render_cue(from_zero), 0, NOT_CUE},
        {"one start a frame off", kc::render_cue(frame_off), 0, NOT_CUE},
        {"track 2 data", kc::render_cue(data_second), 0, NOT_CUE},
        {"not a cue sheet", "[Boss Rally]\nsetting=1\n", 0, NOT_CUE},
        {"empty", "", 0, NOT_CUE},
    };
    kt::TempDir dir("cuecheck");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = file_of(dir, "game.cue", c.text);
        FileCheck check = kc::dirty_check();
        EXPECT_EQ(check_cue_sheet(path.c_str(), &check), c.ok);
        EXPECT_EQ(check.ok, c.ok);
        EXPECT_EQ(std::string(check.md5_hex), kt::md5_hex_of(c.text));
        EXPECT_STREQ(check.note, c.note);
    }
    FileCheck check = kc::dirty_check();
    EXPECT_EQ(check_cue_sheet((dir / "missing.cue").c_str(), &check), 0);
    EXPECT_STREQ(check.md5_hex, "");
    EXPECT_STREQ(check.note, UNREADABLE);
}

TEST(CartridgeRomCheck, RetailTable) {
    kt::TempDir dir("rom");
    std::string z64 = kt::synthetic_rom(5);
    std::string v64 = kt::rom_as_v64(z64);
    struct Case {
        const char* name;
        std::string path;
        std::string md5;
        const char* note;
    } cases[] = {
        {"other ROM", file_of(dir, "a.z64", z64), kt::md5_hex_of(z64), "This is not Top Gear Rally (USA)."},
        {"other ROM, v64 digest as stored", file_of(dir, "a.v64", v64), kt::md5_hex_of(v64),
         "This is not Top Gear Rally (USA)."},
        {"empty", file_of(dir, "e.z64", ""), "", UNREADABLE},
        {"missing", dir / "missing.z64", "", UNREADABLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileCheck check = kc::dirty_check();
        kt::Recorder r;
        EXPECT_EQ(check_cartridge_rom(c.path.c_str(), &check, kt::record, r.user()), 0);
        EXPECT_EQ(check.ok, 0);
        EXPECT_EQ(std::string(check.md5_hex), c.md5);
        EXPECT_STREQ(check.note, c.note);
        // 0.0 before loading, 1.0 only after a digest.
        EXPECT_EQ(r.fractions(), c.md5.empty() ? std::vector<double>{0.0} : std::vector<double>({0.0, 1.0}));
    }
}

// The 1 MiB chunk must not live on the stack: checks run on threads whose
// stack is far smaller than the chunk.
namespace {
struct SmallStackJob {
    std::string bin, cue;
    char md5[33] = "";
    FileCheck disc{}, sheet{};
};

void run_small_stack_job(SmallStackJob* job) {
    md5_file(job->bin.c_str(), job->md5, nullptr, 0, nullptr);
    check_disc_image(job->bin.c_str(), &job->disc, nullptr, 0, nullptr);
    check_cue_sheet(job->cue.c_str(), &job->sheet);
}

#ifdef _WIN32
DWORD WINAPI small_stack_thread(LPVOID p) {
    run_small_stack_job((SmallStackJob*)p);
    return 0;
}
#else
void* small_stack_thread(void* p) {
    run_small_stack_job((SmallStackJob*)p);
    return nullptr;
}
#endif
}  // namespace

TEST(Md5File, RunsOnASmallStack) {
    kt::TempDir dir("stack");
    SmallStackJob job;
    std::string bytes = kc::bytes_of(kt::random_bytes(2 * 1048576 + 5, 9));
    job.bin = file_of(dir, "x.bin", bytes);
    job.cue = file_of(dir, "x.cue", kc::render_cue(kc::retail_rows()));
    const size_t stack = 256 * 1024;
#ifdef _WIN32
    HANDLE t = CreateThread(nullptr, stack, small_stack_thread, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(t, nullptr);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
#else
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, stack), 0);
    pthread_t t;
    ASSERT_EQ(pthread_create(&t, &attr, small_stack_thread, &job), 0);
    pthread_join(t, nullptr);
    pthread_attr_destroy(&attr);
#endif
    EXPECT_EQ(std::string(job.md5), kt::md5_hex_of(bytes));
    EXPECT_EQ(std::string(job.disc.md5_hex), kt::md5_hex_of(bytes));
    EXPECT_EQ(job.sheet.ok, 1);
}

#ifdef __linux__
// Peak memory while digesting a 64 MiB file stays near where it started.
static long status_kib(const char* field) {
    FILE* f = fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long value = -1;
    size_t n = strlen(field);
    while (fgets(line, sizeof line, f))
        if (strncmp(line, field, n) == 0 && line[n] == ':') value = atol(line + n + 1);
    fclose(f);
    return value;
}

TEST(Md5File, MemoryStaysFlat) {
    kt::TempDir dir("flat");
    std::string path = dir / "big.bin";
    {
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::vector<unsigned char> piece = kt::random_bytes(1048576, 21);
        for (int i = 0; i < 64; ++i) {
            piece[0] = (unsigned char)i;
            fwrite(piece.data(), 1, piece.size(), f);
        }
        fclose(f);
    }
    long before = status_kib("VmRSS");
    FILE* reset = fopen("/proc/self/clear_refs", "w");
    if (!reset || fputs("5", reset) < 0 || fclose(reset) != 0 || before < 0)
        GTEST_SKIP() << "peak memory cannot be reset here";
    char hex[33];
    ASSERT_EQ(md5_file(path.c_str(), hex, nullptr, 0, nullptr), 1);
    long peak = status_kib("VmHWM");
    EXPECT_LT(peak - before, 8 * 1024) << "peak grew by " << (peak - before) << " KiB";
}
#endif
