// The Boss Rally build on small discs made in memory: the build folder's
// layout, the soundtrack read from the right sectors, the progress plan,
// and every failure leaving no staging folder and an earlier build as it
// was.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "build/build_test_util.h"
#include "builder/build.h"
#include "builder/checks.h"
#include "builder/embedded.h"
#include "builder/space.h"
#include "disc/disc_test_util.h"
#include "formats/icon/pe_resources.h"
#include "support/test_support.h"

namespace {

using kt::dir_node;
using kt::file_node;
using kt::Node;
using kt::ucs2;

const std::string SEP = PATH_SEP_STR;
const char* const NOT_RETAIL = "the disc's BRGlide.dll is not the retail one";

std::string bytes_of(size_t n, uint32_t seed) { return kt::text_of(n, seed); }

// The BRGlide.dll the test table accepts.
const std::string& brglide() {
    static const std::string b = bytes_of(5000, 7);
    return b;
}

// The test table takes its BRGlide.dll digest from a file written before
// the first lookup.
struct DigestEnvironment : ::testing::Environment {
    void SetUp() override {
        std::string path = kt::join(kt::fixture_dir(), "disc_build_digests.txt");
        kt::make_dirs(kt::fixture_dir());
        kt::write_file(path, "brglide=" + kt::md5_hex_of(brglide()) + "\n");
        bt::use_test_digests(path);
    }
};
::testing::Environment* const digest_environment = ::testing::AddGlobalTestEnvironment(new DigestEnvironment);

void put16(std::string& s, size_t at, uint32_t v) {
    s[at] = (char)v;
    s[at + 1] = (char)(v >> 8);
}
void put32(std::string& s, size_t at, uint32_t v) {
    put16(s, at, v);
    put16(s, at + 2, v >> 16);
}

// A one-image ICO: a 16x16 32-bit bitmap.
struct TinyIco {
    std::string file, image, group;
    TinyIco() {
        image.assign(40 + 16 * 16 * 4 + 16 * 4, '\0');
        put32(image, 0, 40);
        put32(image, 4, 16);
        put32(image, 8, 32);  // XOR and AND masks
        put16(image, 12, 1);
        put16(image, 14, 32);
        for (size_t i = 40; i < 40 + 16 * 16 * 4; ++i) image[i] = (char)(i * 37);
        std::string entry(16, '\0');
        entry[0] = 16;
        entry[1] = 16;
        put16(entry, 4, 1);
        put16(entry, 6, 32);
        put32(entry, 8, (uint32_t)image.size());
        put32(entry, 12, 22);
        file = std::string("\0\0\1\0\1\0", 6) + entry + image;
        group = file.substr(0, 6) + entry.substr(0, 12) + std::string("\1\0", 2);
    }
};
const TinyIco& tiny_ico() {
    static TinyIco ico;
    return ico;
}

// A track after the data track (which is track 1 at frame 0).
struct Track {
    int number;
    bool audio;
    uint32_t frames;
    uint32_t seed;
    std::string bytes() const { return bytes_of((size_t)frames * 2352, seed); }
};

std::string msf(uint64_t frame) {
    char text[16];
    snprintf(text, sizeof text, "%02u:%02u:%02u", (unsigned)(frame / 4500), (unsigned)(frame / 75 % 60),
             (unsigned)(frame % 75));
    return text;
}

// The usual data track: BRGlide.dll, Boss.ico, a root DirectX folder (left
// out of the build), a lower directx folder (kept), non-ASCII names and a
// file of several copy chunks.
std::vector<Node> usual_files() {
    return {file_node(ucs2("BRGlide.dll"), brglide()),
            file_node(ucs2("Boss.ico"), tiny_ico().file),
            dir_node(ucs2("DirectX"), {file_node(ucs2("dxsetup.exe"), bytes_of(3000, 2))}),
            dir_node(ucs2("Musique \xC3\xA9t\xC3\xA9"), {file_node(ucs2("\xE4\xB8\xAD.txt"), "rallye\n")}),
            dir_node(ucs2("DATA"), {file_node(ucs2("STAGE1.DAT"), bytes_of(300000, 3)),
                                    dir_node(ucs2("directx"), {file_node(ucs2("keep.txt"), "kept")})}),
            file_node(ucs2("EMPTY.TXT"), "")};
}

// The copy that the build folder's disc\ must hold for usual_files().
std::vector<std::string> usual_disc_tree() {
    return kt::tree({{"BRGlide.dll", brglide()},
                     {"Boss.ico", tiny_ico().file},
                     {"Musique \xC3\xA9t\xC3\xA9/", ""},
                     {"Musique \xC3\xA9t\xC3\xA9/\xE4\xB8\xAD.txt", "rallye\n"},
                     {"DATA/", ""},
                     {"DATA/STAGE1.DAT", bytes_of(300000, 3)},
                     {"DATA/directx/", ""},
                     {"DATA/directx/keep.txt", "kept"},
                     {"EMPTY.TXT", ""}});
}

std::vector<Track> two_audio_tracks() { return {{2, true, 300, 21}, {3, true, 1000, 22}}; }

struct DiscBuild : ::testing::Test {
    kt::TempDir dir{"discbuild"};
    std::string dest = dir / "dest";
    std::string bin = dir / "disc.bin";
    std::string cue = dir / "disc.cue";
    std::vector<Track> tracks;
    char error[1024];

    std::string folder() const { return dest + SEP + "Boss Rally"; }
    std::string staging() const { return dest + SEP + ".Boss Rally.building"; }

    // Writes the BIN (data track, then each track in order, back to back)
    // and its cue sheet.
    void make_disc(const std::vector<Node>& files, const std::vector<Track>& after) {
        tracks = after;
        std::vector<unsigned char> raw = kt::joliet_image(dir_node("", files));
        std::string image(raw.begin(), raw.end());
        std::string sheet = "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
        for (const Track& t : after) {
            char line[64];
            snprintf(line, sizeof line, "  TRACK %02d %s\n", t.number, t.audio ? "AUDIO" : "MODE1/2352");
            sheet += line;
            sheet += "    INDEX 01 " + msf(image.size() / 2352) + "\n";
            image += t.bytes();
        }
        kt::write_file(bin, image);
        kt::write_file(cue, sheet);
    }
    std::vector<bt::PlanTrack> plan() const {
        std::vector<bt::PlanTrack> p = {{1, false, 0}};
        for (const Track& t : tracks) p.push_back({t.number, t.audio, t.frames});
        return p;
    }
    // The request for this disc into dest.
    BuildRequest request() const {
        BuildRequest r = {};
        r.game = GAME_BOSS_RALLY;
        r.bin_path = bin.c_str();
        r.cue_path = cue.c_str();
        r.rom_path = "";
        r.dest_dir = dest.c_str();
        return r;
    }
    int build(kt::Recorder* recorder = nullptr, const CancelFlag* cancel = nullptr) {
        BuildRequest r = request();
        memset(error, '#', sizeof error);
        return run_build(&r, recorder ? kt::record : nullptr, recorder ? recorder->user() : 0, cancel, error,
                         sizeof error);
    }
    // The build folder's entries below prefix ("" for all), prefix removed.
    std::vector<std::string> entries(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& e : kt::snapshot(folder()))
            if (e.compare(0, prefix.size(), prefix) == 0 && e.size() > prefix.size())
                out.push_back(e.substr(prefix.size()));
        return out;
    }
    // The names right below prefix: files without their size and digest,
    // folders with their trailing '/'.
    std::vector<std::string> names(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& e : entries(prefix)) {
            size_t slash = e.find('/');
            if (slash == std::string::npos || slash == e.size() - 1) out.push_back(e.substr(0, e.find('=')));
        }
        return out;
    }
    // Each audio track's FLAC holds exactly that track's samples: the
    // stream header's count and the MD5 of the raw sectors it read.
    void expect_soundtrack() const {
        std::vector<std::string> want;
        for (const Track& t : tracks) {
            if (!t.audio) continue;
            char name[32];
            snprintf(name, sizeof name, "track%02d.flac", t.number);
            want.push_back(name);
            bt::StreamInfo info =
                bt::stream_info(kt::read_file(folder() + SEP + "music" + SEP + "cd" + SEP + name));
            ASSERT_TRUE(info.ok) << name;
            EXPECT_EQ(info.total_samples, (uint64_t)t.frames * 588) << name;
            EXPECT_EQ(info.md5_hex, kt::md5_hex_of(t.bytes())) << name;
        }
        std::sort(want.begin(), want.end());
        EXPECT_EQ(names("music/cd/"), want);
    }
    std::string exe() const { return kt::read_file(folder() + SEP + "Boss Rally.exe"); }
};

std::string embedded_duskmere() {
    size_t size = 0;
    const unsigned char* bytes = embedded_game_bytes("duskmere", &size);
    return bytes ? std::string((const char*)bytes, size) : std::string();
}

void expect_tiny_icon(const std::string& exe) {
    const unsigned char* image = (const unsigned char*)exe.data();
    size_t offset = 0;
    uint32_t length = 0;
    ASSERT_EQ(pe_find_resource(image, exe.size(), 3, 1, 0, &offset, &length), 1);
    EXPECT_TRUE(exe.substr(offset, length) == tiny_ico().image);
    ASSERT_EQ(pe_find_resource(image, exe.size(), 14, 1, 0, &offset, &length), 1);
    EXPECT_TRUE(exe.substr(offset, length) == tiny_ico().group);
}

TEST_F(DiscBuild, BuildFolderHoldsTheGameTheDiscTreeAndTheSoundtrack) {
    make_disc(usual_files(), two_audio_tracks());
    ASSERT_EQ(build(), 1) << error;
    EXPECT_STREQ(error, "");
    EXPECT_EQ(names(""), (std::vector<std::string>{".kelvorn", "Boss Rally.exe", "disc/", "music/"}));
    EXPECT_EQ(names("music/"), (std::vector<std::string>{"cd/"}));
    EXPECT_EQ(entries("disc/"), usual_disc_tree());
    expect_soundtrack();
    EXPECT_EQ(kt::read_file(folder() + SEP + ".kelvorn"), "0.74\n");
    EXPECT_FALSE(kt::exists(staging()));
    std::string game = exe();
    EXPECT_NE(game, embedded_duskmere());
    expect_tiny_icon(game);
}

// The size estimate is the copied files, every audio track as PCM plus 64
// bytes a frame and the stream header, and the executable; the build it
// precedes never writes more than that.
TEST_F(DiscBuild, SizeEstimateBoundsTheBuild) {
    make_disc(usual_files(), two_audio_tracks());
    BuildRequest r = request();
    uint64_t estimate = 0;
    ASSERT_EQ(estimate_build_size(&r, &estimate, error, sizeof error), 1) << error;
    const uint64_t files = brglide().size() + tiny_ico().file.size() + 7 + 300000 + 4;  // DirectX at the root is left out
    uint64_t audio = 0;
    for (const Track& t : two_audio_tracks()) {
        const uint64_t samples = (uint64_t)t.frames * 588;
        audio += samples * 4 + (samples + 4095) / 4096 * 64 + 42;
    }
    EXPECT_EQ(estimate, files + audio + embedded_duskmere().size());
    EXPECT_TRUE(kt::snapshot(dest).empty()) << "the estimate writes nothing";

    ASSERT_EQ(build(), 1) << error;
    uint64_t written = 0;
    for (const std::string& e : entries(""))
        if (e.back() != '/') written += std::stoull(e.substr(e.rfind('=') + 1));  // "name=size:md5"
    EXPECT_LE(written, estimate);

    // Inputs the build would refuse get the build's message.
    kt::remove_all(cue);
    EXPECT_EQ(estimate_build_size(&r, &estimate, error, sizeof error), 0);
    EXPECT_STREQ(error, "cannot open the cue sheet");
}

// The cue sheet's own numbers name the files, whatever they are; tracks
// that are not audio are passed over, their sectors unread.
TEST_F(DiscBuild, TracksAreNamedByTheCueSheetsNumbers) {
    struct Case {
        const char* name;
        std::vector<Track> tracks;
    } cases[] = {
        {"a three-digit number", {{2, true, 200, 31}, {100, true, 300, 32}}},
        {"numbers with gaps", {{7, true, 150, 33}, {42, true, 150, 34}}},
        {"a data track between audio tracks", {{2, true, 120, 35}, {3, false, 50, 36}, {4, true, 130, 37}}},
        {"a data track at the end", {{2, true, 120, 38}, {3, false, 40, 39}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::remove_all(dest);
        make_disc(usual_files(), c.tracks);
        kt::Recorder recorder;
        ASSERT_EQ(build(&recorder), 1) << error;
        expect_soundtrack();
        bt::expect_plan(recorder.reports, plan());
    }
}

TEST_F(DiscBuild, ProgressFollowsThePlan) {
    // Tracks long enough for the encoder's own reports (every 64 blocks).
    make_disc(usual_files(), {{2, true, 1400, 41}, {3, true, 10, 42}, {4, true, 900, 43}});
    kt::Recorder recorder;
    ASSERT_EQ(build(&recorder), 1) << error;
    bt::expect_plan(recorder.reports, plan());
    size_t from_encoder = 0;
    for (const kt::Report& r : recorder.reports) from_encoder += r.status == kt::NO_STATUS;
    EXPECT_GE(from_encoder, 4u);
    // The copy ends at 0.1 exactly, where the first track begins.
    size_t last_copy = 0;
    for (size_t i = 0; i < recorder.reports.size(); ++i)
        if (recorder.reports[i].status == bt::COPY_STATUS) last_copy = i;
    EXPECT_EQ(recorder.reports[last_copy].fraction, 0.1);
}

// The copy's last report lands on 0.1 even where bytes × 0.1 ÷ bytes does
// not come out as 0.1 in double precision (3 bytes, for one), so the
// soundtrack's first report at 0.1 never goes back.
TEST_F(DiscBuild, CopyEndsAtItsRangesEndWhateverTheByteCount) {
    uint64_t total = brglide().size() + 1;
    while ((double)total * 0.1 / (double)total <= 0.1) ++total;
    std::vector<Node> files = {file_node(ucs2("BRGlide.dll"), brglide()),
                               file_node(ucs2("odd.bin"), bytes_of(total - brglide().size(), 5))};
    make_disc(files, {{2, true, 20, 51}});
    kt::Recorder recorder;
    ASSERT_EQ(build(&recorder), 1) << error;
    bt::expect_plan(recorder.reports, plan());
}

TEST_F(DiscBuild, WithoutAudioTheFractionGoesFromTheCopyStraightToFinishing) {
    make_disc(usual_files(), {});
    kt::Recorder recorder;
    ASSERT_EQ(build(&recorder), 1) << error;
    EXPECT_TRUE(kt::is_dir(folder() + SEP + "music" + SEP + "cd"));
    EXPECT_TRUE(names("music/cd/").empty());
    bt::expect_plan(recorder.reports, plan());
    const std::vector<kt::Report>& r = recorder.reports;
    ASSERT_GE(r.size(), 4u);
    EXPECT_EQ(r[r.size() - 3].fraction, 0.1);
    EXPECT_EQ(r[r.size() - 3].status, bt::COPY_STATUS);
    EXPECT_EQ(r[r.size() - 2].fraction, 0.98);
}

// The executable keeps its own icon when the disc has none to give.
TEST_F(DiscBuild, MissingOrEmptyIconIsPassedOver) {
    struct Case {
        const char* name;
        std::vector<Node> files;
    } cases[] = {
        {"no Boss.ico", {file_node(ucs2("BRGlide.dll"), brglide())}},
        {"empty Boss.ico", {file_node(ucs2("BRGlide.dll"), brglide()), file_node(ucs2("Boss.ico"), "")}},
        {"Boss.ico is a folder",
         {file_node(ucs2("BRGlide.dll"), brglide()), dir_node(ucs2("Boss.ico"), {file_node(ucs2("a"), "x")})}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::remove_all(dest);
        make_disc(c.files, {{2, true, 30, 61}});
        ASSERT_EQ(build(), 1) << error;
        EXPECT_TRUE(exe() == embedded_duskmere());
        expect_soundtrack();
    }
}

// Each failure ends with its one line, no staging folder, and an earlier
// build exactly as it was.
TEST_F(DiscBuild, FailuresLeaveNoStagingAndTheEarlierBuildAlone) {
    // What a case does while the build runs, at the first report whose
    // status begins with `at` (and, when given, whose fraction is `when`).
    enum Act { NOTHING, CANCEL, BLOCK_MUSIC };
    const std::string music_cd = staging() + SEP + "music" + SEP + "cd";
    struct Case {
        const char* name;
        std::vector<Node> files;
        Act act;
        const char* at;
        double when;
        std::string message;
        bool copied;  // the copy ran to its end before the failure
    } cases[] = {
        {"no BRGlide.dll", {file_node(ucs2("Boss.ico"), tiny_ico().file)}, NOTHING, "", -1, NOT_RETAIL, true},
        {"another BRGlide.dll", {file_node(ucs2("BRGlide.dll"), bytes_of(5000, 8))}, NOTHING, "", -1, NOT_RETAIL,
         true},
        {"BRGlide.dll is a folder", {dir_node(ucs2("BRGlide.dll"), {file_node(ucs2("x"), "x")})}, NOTHING, "", -1,
         NOT_RETAIL, true},
        {"BRGlide.dll in the DirectX folder only",
         {file_node(ucs2("BOSS.EXE"), bytes_of(2000, 9)),
          dir_node(ucs2("DirectX"), {file_node(ucs2("BRGlide.dll"), brglide())})},
         NOTHING, "", -1, NOT_RETAIL, true},
        {"unreadable Boss.ico",
         {file_node(ucs2("BRGlide.dll"), brglide()), file_node(ucs2("Boss.ico"), std::string("\0\0\1\0", 4))},
         NOTHING, "", -1, "the disc's icon is unreadable", true},
        {"cancel during the copy", usual_files(), CANCEL, bt::COPY_STATUS, -1, "cancelled", false},
        {"cancel during the first track", usual_files(), CANCEL, "Encoding the soundtrack: track 2", -1,
         "cancelled", true},
        {"cancel during the last track", usual_files(), CANCEL, "Encoding the soundtrack: track 3", -1,
         "cancelled", true},
        {"a file where the music folder goes", usual_files(), BLOCK_MUSIC, bt::COPY_STATUS, 0.1,
         "cannot make " + music_cd, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::remove_all(dest);
        kt::make_dirs(folder() + SEP + "saves");
        kt::write_file(folder() + SEP + ".kelvorn", "0.74\n");
        kt::write_file(folder() + SEP + "saves" + SEP + "slot1.sav", "my progress");
        std::vector<std::string> before = kt::snapshot(folder());
        make_disc(c.files, two_audio_tracks());

        CancelFlag cancel(0);
        kt::Recorder recorder;
        recorder.act_at = c.at;
        recorder.act_fraction = c.when;
        if (c.act == CANCEL) recorder.action = [&cancel] { request_cancel(&cancel); };
        if (c.act == BLOCK_MUSIC) recorder.action = [this] { kt::write_file(staging() + SEP + "music", "x"); };
        EXPECT_EQ(build(&recorder, &cancel), 0);
        EXPECT_EQ(error, c.message);
        if (c.act != NOTHING) {
            EXPECT_TRUE(recorder.acted);
        }
        EXPECT_FALSE(kt::exists(staging()));
        EXPECT_EQ(kt::snapshot(folder()), before);
        std::vector<std::string> in_dest;
        for (const std::string& e : kt::snapshot(dest)) in_dest.push_back(e.substr(0, e.find('/')));
        in_dest.erase(std::unique(in_dest.begin(), in_dest.end()), in_dest.end());
        EXPECT_EQ(in_dest, (std::vector<std::string>{"Boss Rally"}));

        // Where the build stopped: after the whole copy or inside it, and
        // never "Done".
        ASSERT_FALSE(recorder.reports.empty());
        double last_copy = -1;
        for (const kt::Report& r : recorder.reports) {
            if (r.status == bt::COPY_STATUS) last_copy = r.fraction;
            EXPECT_NE(r.status, "Done");
        }
        if (c.copied) {
            EXPECT_EQ(last_copy, 0.1);
        } else {
            EXPECT_LT(last_copy, 0.1);
        }
        if (c.message == NOT_RETAIL) {
            EXPECT_EQ(recorder.reports.back().status, bt::COPY_STATUS) << "nothing after the copy";
        }
    }
}

// The build reads the BIN and the cue sheet it opened at its start, through
// to the last track: another file put under either name meanwhile plays no
// part. (Windows does not let an open file be replaced at all.)
TEST_F(DiscBuild, InputsSwappedDuringTheBuildAreNotRead) {
#ifdef _WIN32
    GTEST_SKIP() << "an open file cannot be replaced here";
#endif
    make_disc(usual_files(), two_audio_tracks());
    std::string other = dir / "other.bin";
    kt::write_file(other, std::string(kt::read_file(bin).size(), '\x55'));
    kt::Recorder recorder;
    recorder.act_at = bt::COPY_STATUS;
    recorder.act_fraction = 0.1;
    recorder.action = [&] {
        ASSERT_EQ(rename(other.c_str(), bin.c_str()), 0);
        kt::write_file(cue, "FILE \"disc.bin\" BINARY\n");
    };
    ASSERT_EQ(build(&recorder), 1) << error;
    EXPECT_TRUE(recorder.acted);
    expect_soundtrack();
}

// The digests the image's check took of its audio tracks stand in for the
// encoder's own only when the build compared the BIN with the checked stamp
// and a digest's range is exactly the track's bytes. The stand-in here is
// not the true digest, so the header shows which one was used.
TEST_F(DiscBuild, CheckedTrackDigestsCountOnlyWithTheStampAndTheExactRange) {
    make_disc(usual_files(), two_audio_tracks());
    FileStamp stamp;
    ASSERT_EQ(path_stamp(bin.c_str(), &stamp), 1);
    const uint64_t track2 = kt::read_file(bin).size() - (300 + 1000) * 2352ull, length2 = 300 * 2352ull;
    const std::string stand_in(32, 'a');
    struct Case {
        const char* name;
        bool stamp;
        int64_t offset_delta, length_delta;
        int done;
        bool used;
    } cases[] = {
        {"exact range, stamp compared", true, 0, 0, 1, true},
        {"no stamp to compare", false, 0, 0, 1, false},
        {"range a sector later", true, 2352, 0, 1, false},
        {"range a sector longer", true, 0, 2352, 1, false},
        {"range a byte shorter", true, 0, -1, 1, false},
        {"range not read whole", true, 0, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AudioDigests audio = {};
        audio.count = 1;
        audio.track[0].offset = track2 + c.offset_delta;
        audio.track[0].length = length2 + c.length_delta;
        audio.track[0].done = c.done;
        memset(audio.track[0].digest, 0xAA, 16);
        BuildRequest r = request();
        r.threads = 2;
        r.bin_audio = &audio;
        if (c.stamp) r.bin_stamp = &stamp;
        kt::remove_all(dest);
        ASSERT_EQ(run_build(&r, nullptr, 0, nullptr, error, sizeof error), 1) << error;
        const std::string music = folder() + SEP + "music" + SEP + "cd" + SEP;
        EXPECT_EQ(bt::stream_info(kt::read_file(music + "track02.flac")).md5_hex,
                  c.used ? stand_in : kt::md5_hex_of(tracks[0].bytes()));
        EXPECT_EQ(bt::stream_info(kt::read_file(music + "track03.flac")).md5_hex, kt::md5_hex_of(tracks[1].bytes()));
    }
}

// The data track ends where the cue sheet's track 2 starts: a file whose
// data points into the audio is damage, even when the volume descriptor
// claims those sectors too.
TEST_F(DiscBuild, FileInTheAudioSectorsIsDamage) {
    make_disc(usual_files(), two_audio_tracks());
    std::string image = kt::read_file(bin);
    const uint32_t sectors = (uint32_t)(image.size() / 2352), audio_start = sectors - 300 - 1000;
    auto user = [&](uint32_t sector, size_t at) { return (unsigned char*)&image[(size_t)sector * 2352 + 16 + at]; };
    auto put = [](unsigned char* p, uint32_t v) {  // both-endian
        for (int i = 0; i < 4; ++i) p[i] = p[7 - i] = (unsigned char)(v >> (8 * i));
    };
    put(user(16, 80), sectors);
    const unsigned char* root = user(16, 158);
    put(user(root[0] | root[1] << 8 | root[2] << 16 | (uint32_t)root[3] << 24, 68 + 2), audio_start);  // BRGlide.dll
    kt::write_file(bin, image);
    EXPECT_EQ(build(), 0);
    EXPECT_STREQ(error, "the BIN's file system is damaged");
    EXPECT_FALSE(kt::exists(staging()));
    EXPECT_FALSE(kt::exists(folder()));
}

// Failures before staging: nothing made, nothing reported but the parse.
TEST_F(DiscBuild, UnusableCueSheetStopsBeforeStaging) {
    struct Case {
        const char* name;
        const char* sheet;  // null: no file
        const char* message;
    } cases[] = {
        {"missing", nullptr, "cannot open the cue sheet"},
        {"no tracks", "FILE \"disc.bin\" BINARY\n", "the cue sheet lists no tracks"},
        {"track without INDEX 01", "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n",
         "track 1 of the cue sheet has no usable INDEX 01"},
    };
    make_disc(usual_files(), two_audio_tracks());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::remove_all(dest);
        kt::remove_all(cue);
        if (c.sheet) kt::write_file(cue, c.sheet);
        kt::Recorder recorder;
        EXPECT_EQ(build(&recorder), 0);
        EXPECT_STREQ(error, c.message);
        EXPECT_TRUE(recorder.reports.empty());
        EXPECT_TRUE(kt::snapshot(dest).empty());
    }
}

// The tracks come from the BIN the request names; the cue sheet's FILE
// line plays no part.
TEST_F(DiscBuild, ReadsTheRequestedBinWhateverTheCueSheetNames) {
    make_disc(usual_files(), two_audio_tracks());
    std::string sheet = kt::read_file(cue);
    sheet.replace(sheet.find("disc.bin"), 8, "elsewhere.bin");
    kt::write_file(cue, sheet);
    ASSERT_EQ(build(), 1) << error;
    expect_soundtrack();
}

}  // namespace
