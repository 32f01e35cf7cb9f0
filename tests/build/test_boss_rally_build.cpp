// The whole Boss Rally build of the full-size fixture disc (retail track
// layout, ~650 MB), once per tree: the build folder, the progress plan, the
// icon as Windows reads it and the game's own data check. The folder stays
// in BUILD_OUT_DIR for the oracle step (xorriso, flac -d, bchunk).
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "build/build_test_util.h"
#include "builder/checks.h"
#include "builder/build.h"
#include "icon/icon_test_support.h"
#include "support/test_support.h"

namespace {

const std::string SEP = PATH_SEP_STR;

// The tracks of the fixture's cue sheet: INDEX 01 frames in order, the last
// track running to the BIN's last whole frame.
std::vector<bt::PlanTrack> cue_tracks(const std::string& sheet, uint64_t bin_size) {
    std::vector<bt::PlanTrack> tracks;
    std::vector<uint64_t> starts;
    size_t at = 0;
    while ((at = sheet.find("TRACK ", at)) != std::string::npos) {
        int number = 0, m = 0, s = 0, f = 0;
        char type[16] = "";
        sscanf(sheet.c_str() + at, "TRACK %d %15s", &number, type);
        size_t index = sheet.find("INDEX 01 ", at);
        sscanf(sheet.c_str() + index, "INDEX 01 %d:%d:%d", &m, &s, &f);
        tracks.push_back({number, strcmp(type, "AUDIO") == 0, 0});
        starts.push_back((uint64_t)m * 4500 + s * 75 + f);
        at = index;
    }
    starts.push_back(bin_size / 2352);
    for (size_t i = 0; i < tracks.size(); ++i) tracks[i].length = starts[i + 1] - starts[i];
    return tracks;
}

std::string key(int type, int name) { return std::to_string(type) + "/" + std::to_string(name) + "/0"; }

TEST(BossRallyBuild, FullSizeDiscEndToEnd) {
    const std::string fixture = kt::host_path(BR_FIXTURE_DIR);
    const std::string bin = kt::join(fixture, "br.bin"), cue = kt::join(fixture, "br.cue");
    ASSERT_TRUE(kt::exists(bin)) << "made by the build_fixture_disc step";
    bt::use_test_digests(kt::join(fixture, "digests.txt"));
    // The files page's checks accept both, with the fixture's digests. The
    // image's check digests every audio track as the fixture cut it; the
    // build below uses those digests, as both front ends pass them.
    FileCheck check, sheet_check;
    EXPECT_EQ(check_disc_image(bin.c_str(), &check, nullptr, 0, nullptr), 1) << check.note;
    EXPECT_EQ(check_cue_sheet(cue.c_str(), &sheet_check), 1) << sheet_check.note;
    ASSERT_EQ(check.audio.count, 12);
    std::vector<std::string> track_md5;  // from track 2 on
    for (int i = 0; i < check.audio.count; ++i) {
        char name[32], hex[33];
        snprintf(name, sizeof name, "t%02d.pcm", i + 2);
        track_md5.push_back(kt::md5_hex_of(kt::read_file(kt::join(kt::join(fixture, "tracks"), name))));
        EXPECT_EQ(check.audio.track[i].done, 1) << name;
        md5_to_hex(check.audio.track[i].digest, hex);
        EXPECT_EQ(std::string(hex), track_md5.back()) << name;
    }

    const std::string dest = kt::host_path(BUILD_OUT_DIR);
    const std::string folder = kt::join(dest, "Boss Rally");
    kt::remove_all(dest);

    BuildRequest request = {};
    request.game = GAME_BOSS_RALLY;
    request.bin_path = bin.c_str();
    request.cue_path = cue.c_str();
    request.rom_path = "";
    request.dest_dir = dest.c_str();
    request.bin_stamp = &check.stamp;
    request.cue_stamp = &sheet_check.stamp;
    request.bin_audio = &check.audio;
    kt::Recorder recorder;
    CancelFlag cancel(0);
    char error[1024] = "#";
    ASSERT_EQ(run_build(&request, kt::record, recorder.user(), &cancel, error, sizeof error), 1)
        << error;
    EXPECT_STREQ(error, "");

    // Layout: the game, disc\ without the root DirectX folder, track02 to
    // track13 and no track01, the marker; nothing else.
    std::vector<std::string> top, music, disc;
    for (const std::string& e : kt::snapshot(folder)) {
        std::string name = e.substr(0, e.find('='));
        if (name.compare(0, 5, "disc/") == 0 && name.size() > 5)
            disc.push_back(e.substr(5));
        else if (name.compare(0, 9, "music/cd/") == 0 && name.size() > 9)
            music.push_back(name.substr(9));
        else
            top.push_back(name);
    }
    EXPECT_EQ(top, (std::vector<std::string>{".kelvorn", "Boss Rally.exe", "disc/", "music/", "music/cd/"}));
    std::vector<std::string> want_music;
    for (int n = 2; n <= 13; ++n) {
        char name[32];
        snprintf(name, sizeof name, "track%02d.flac", n);
        want_music.push_back(name);
    }
    EXPECT_EQ(music, want_music);
    std::vector<std::string> want_disc;
    for (const std::string& e : kt::snapshot(kt::join(fixture, "tree")))
        if (e.compare(0, 8, "DirectX/") != 0) want_disc.push_back(e);
    EXPECT_EQ(disc, want_disc);
    EXPECT_EQ(kt::read_file(kt::join(folder, ".kelvorn")), "0.74\n");
    EXPECT_FALSE(kt::exists(kt::join(dest, ".Boss Rally.building")));

    // Each FLAC's stream header counts its track's samples and carries their digest.
    std::vector<bt::PlanTrack> tracks = cue_tracks(kt::read_file(cue), file_size_of(bin.c_str()));
    ASSERT_EQ(tracks.size(), 13u);
    for (const bt::PlanTrack& t : tracks) {
        if (!t.audio) continue;
        char name[32];
        snprintf(name, sizeof name, "track%02d.flac", t.number);
        std::string path = folder + SEP + "music" + SEP + "cd" + SEP + name;
        FILE* f = open_utf8(path.c_str(), "rb");
        char head[42] = {0};
        size_t got = f ? fread(head, 1, sizeof head, f) : 0;
        if (f) fclose(f);
        bt::StreamInfo info = bt::stream_info(std::string(head, got));
        ASSERT_TRUE(info.ok) << name;
        EXPECT_EQ(info.total_samples, t.length * 588) << name;
        EXPECT_EQ(info.md5_hex, track_md5[t.number - 2]) << name;
    }

    bt::expect_plan(recorder.reports, tracks);

    // The game carries the disc's icon, as the Windows loader reads it.
    const std::string exe = kt::join(folder, "Boss Rally.exe");
    it::Ico ico = it::parse_ico(kt::read_file(kt::join(kt::join(fixture, "tree"), "Boss.ico")));
    ASSERT_GE(ico.images.size(), 4u);
    ResourceMap map;
    ASSERT_TRUE(it::windows_view(exe, &map));
    for (size_t k = 0; k < ico.images.size(); ++k) {
        auto found = map.find(key(3, (int)k + 1));
        ASSERT_NE(found, map.end()) << "RT_ICON " << k + 1;
        EXPECT_TRUE(found->second == ico.images[k]) << "RT_ICON " << k + 1;
    }
    auto group = map.find(key(14, 1));
    ASSERT_NE(group, map.end());
    EXPECT_TRUE(group->second == ico.group);

    // The game finds all of its data.
    EXPECT_EQ(kt::run_windows_program(exe, {"--check-data"}, folder), 0);
}

}  // namespace
