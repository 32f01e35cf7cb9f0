// What the build may touch: only folders it can prove are its own, never an
// input, never a file that is not a regular file, never bytes that were not
// checked. Each case sets up a destination that a user could plausibly have
// made, then demands that a build leaves every byte of it alone (or, for
// what is ours, clears it).
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "builder/checks.h"
#include "builder/build.h"
#include "builder/staging.h"
#include "core/fs_conditions.h"
#include "support/rom.h"
#include "support/test_support.h"

namespace {

const std::string SEP = PATH_SEP_STR;
const char FOREIGN[] = " already exists and was not made by this builder; move it away or pick another folder";
const char MARKER[] = "0.74\n";

// A destination and the three names a build of either game uses in it.
struct Destination : ::testing::Test {
    kt::TempDir dir{"own"};
    std::string dest = dir / "Games";
    char error[1024];

    std::string name(GameKind game, const char* format) const {
        char n[128];
        snprintf(n, sizeof n, format, game_display_name(game));
        return dest + SEP + n;
    }
    std::string folder(GameKind g) const { return name(g, "%s"); }
    std::string staging(GameKind g) const { return name(g, ".%s.building"); }
    std::string aside(GameKind g) const { return name(g, ".%s.replaced"); }

    void earlier_build(const std::string& at) {
        kt::make_dirs(at);
        kt::write_file(at + SEP + ".kelvorn", MARKER);
        kt::write_file(at + SEP + "romdata.bin", "earlier");
    }
    int build(const BuildRequest& r) {
        memset(error, '#', sizeof error);
        return run_build(&r, nullptr, 0, nullptr, error, sizeof error);
    }
    BuildRequest cartridge(const std::string& rom) const { return kt::cartridge_request(rom, dest); }
};

// Anything the user keeps under the staging or the aside name stops the
// build before anything is written; the message names it.
TEST_F(Destination, ForeignEntriesUnderOurNamesAreNeverTouched) {
    const GameKind tgr = GAME_TOP_GEAR_RALLY;
    std::string rom = dir / "game.z64";
    kt::write_file(rom, kt::synthetic_rom(1, false));
    struct Case {
        const char* name;
        std::function<std::string(Destination&)> arrange;  // returns the entry to name
    } cases[] = {
        {"a folder named like the staging folder",
         [&](Destination& t) {
             kt::make_dirs(t.staging(tgr) + SEP + "keep");
             kt::write_file(t.staging(tgr) + SEP + "keep" + SEP + "notes.txt", "mine");
             return t.staging(tgr);
         }},
        {"a file named like the staging folder",
         [&](Destination& t) {
             kt::make_dirs(t.dest);
             kt::write_file(t.staging(tgr), "mine");
             return t.staging(tgr);
         }},
        {"the user's ROM kept in a folder named like the staging folder",
         [&](Destination& t) {
             kt::make_dirs(t.staging(tgr));
             kt::write_file(t.staging(tgr) + SEP + "game.z64", kt::synthetic_rom(1, false));
             return t.staging(tgr);
         }},
        {"a folder named like the aside folder",
         [&](Destination& t) {
             kt::make_dirs(t.aside(tgr));
             kt::write_file(t.aside(tgr) + SEP + "notes.txt", "mine");
             return t.aside(tgr);
         }},
        {"a remnant under the aside name that lost its marker",
         [&](Destination& t) {
             t.earlier_build(t.folder(tgr));
             kt::make_dirs(t.aside(tgr) + SEP + "music");
             kt::write_file(t.aside(tgr) + SEP + "music" + SEP + "track02.flac", "left");
             return t.aside(tgr);
         }},
        {"a file named like the aside folder",
         [&](Destination& t) {
             kt::make_dirs(t.dest);
             kt::write_file(t.aside(tgr), "mine");
             return t.aside(tgr);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::remove_all(dest);
        std::string entry = c.arrange(*this);
        std::vector<std::string> before = kt::snapshot(dest);
        BuildRequest r = cartridge(rom);
        DestinationProbe probe;
        EXPECT_EQ(probe_build_destination(&r, &probe), DEST_FOREIGN);
        EXPECT_EQ(std::string(probe.folder), entry);
        EXPECT_EQ(build(r), 0);
        EXPECT_EQ(std::string(error), entry + FOREIGN);
        EXPECT_EQ(kt::snapshot(dest), before);
    }
    // An empty folder under either name holds nothing to lose: it goes.
    kt::remove_all(dest);
    kt::make_dirs(staging(tgr));
    kt::make_dirs(aside(tgr));
    ASSERT_EQ(build(cartridge(rom)), 1) << error;
    EXPECT_FALSE(kt::exists(staging(tgr)));
    EXPECT_FALSE(kt::exists(aside(tgr)));
}

// An input kept in a folder that the build would remove is refused before
// anything is written, however its path is spelled.
TEST_F(Destination, InputsInsideFoldersTheBuildRemovesAreRefused) {
    struct Case {
        const char* name;
        GameKind game;
        std::function<std::string(Destination&)> home;  // the folder the inputs are kept in
        std::function<std::string(const std::string&)> spell;  // how the path to an input is written
    } cases[] = {
        {"ROM in the earlier build", GAME_TOP_GEAR_RALLY,
         [](Destination& t) { return t.folder(GAME_TOP_GEAR_RALLY); },
         [](const std::string& p) { return p; }},
        {"disc image and cue sheet in the earlier build", GAME_BOSS_RALLY,
         [](Destination& t) { return t.folder(GAME_BOSS_RALLY); }, [](const std::string& p) { return p; }},
        {"ROM in a leftover staging folder", GAME_TOP_GEAR_RALLY,
         [](Destination& t) { return t.staging(GAME_TOP_GEAR_RALLY); },
         [](const std::string& p) { return p; }},
        {"ROM in an earlier build left aside", GAME_TOP_GEAR_RALLY,
         [](Destination& t) { return t.aside(GAME_TOP_GEAR_RALLY); },
         [](const std::string& p) { return p; }},
        {"ROM reached through ..", GAME_TOP_GEAR_RALLY,
         [](Destination& t) { return t.folder(GAME_TOP_GEAR_RALLY); },
         [](const std::string& p) {
             size_t cut = p.rfind(SEP);
             std::string folder = p.substr(0, cut);
             return folder + SEP + ".." + SEP + folder.substr(folder.rfind(SEP) + 1) + p.substr(cut);
         }},
#ifdef _WIN32
        {"ROM named in other letter case", GAME_TOP_GEAR_RALLY,
         [](Destination& t) { return t.folder(GAME_TOP_GEAR_RALLY); },
         [](const std::string& p) {
             std::string upper = p;
             for (char& ch : upper)
                 if (ch >= 'a' && ch <= 'z') ch = (char)(ch - 32);
             return upper;
         }},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::remove_all(dest);
        earlier_build(folder(c.game));
        std::string home = c.home(*this);
        if (home != folder(c.game)) earlier_build(home);
        std::string bin = c.spell(home + SEP + "Boss Rally.bin"), cue = c.spell(home + SEP + "Boss Rally.cue");
        std::string rom = c.spell(home + SEP + "game.z64");
        kt::write_file(home + SEP + "Boss Rally.bin", "disc");
        kt::write_file(home + SEP + "Boss Rally.cue", "sheet");
        kt::write_file(home + SEP + "game.z64", kt::synthetic_rom(2, false));
        std::vector<std::string> before = kt::snapshot(dest);

        BuildRequest r = cartridge(rom);
        r.game = c.game;
        r.bin_path = bin.c_str();
        r.cue_path = cue.c_str();
        const std::string& input = c.game == GAME_BOSS_RALLY ? bin : rom;
        char want[4096];
        format_input_inside(want, sizeof want, input.c_str(), home.c_str());
        DestinationProbe probe;
        EXPECT_EQ(probe_build_destination(&r, &probe), DEST_INPUT_INSIDE);
        EXPECT_EQ(std::string(probe.input), input);
        EXPECT_EQ(std::string(probe.folder), home);
        EXPECT_EQ(build(r), 0);
        EXPECT_STREQ(error, want);
        EXPECT_EQ(kt::snapshot(dest), before);
    }
}

#ifndef _WIN32
TEST_F(Destination, InputsReachedThroughALinkAreRefusedToo) {
    const GameKind tgr = GAME_TOP_GEAR_RALLY;
    earlier_build(folder(tgr));
    kt::write_file(folder(tgr) + SEP + "game.z64", kt::synthetic_rom(3, false));
    std::string link = dir / "roms";
    ASSERT_EQ(symlink(folder(tgr).c_str(), link.c_str()), 0);
    std::string rom = link + SEP + "game.z64";
    std::vector<std::string> before = kt::snapshot(dest);
    EXPECT_EQ(build(cartridge(rom)), 0);
    char want[4096];
    format_input_inside(want, sizeof want, rom.c_str(), folder(tgr).c_str());
    EXPECT_STREQ(error, want);
    EXPECT_EQ(kt::snapshot(dest), before);
}
#endif

// An earlier build left under the aside name is an earlier build: it is
// reported as one, put back when the build folder is missing, and never
// removed while it is the only copy.
TEST_F(Destination, AnEarlierBuildLeftAsideIsAnEarlierBuild) {
    const GameKind tgr = GAME_TOP_GEAR_RALLY;
    std::string rom = dir / "game.z64";
    kt::write_file(rom, kt::synthetic_rom(4, false));
    earlier_build(aside(tgr));
    kt::write_file(aside(tgr) + SEP + "my-notes.txt", "added by the user");
    BuildRequest r = cartridge(rom);

    DestinationProbe probe;
    EXPECT_EQ(probe_build_destination(&r, &probe), DEST_EARLIER_BUILD);
    EXPECT_EQ(std::string(probe.folder), aside(tgr));
    int marker = -1;
    EXPECT_EQ(probe_destination(&r, &marker), 1);
    EXPECT_EQ(marker, 1);

    if (kt::pins_work()) {
        // It cannot be put back: the build stops and the only copy stays.
        kt::Pin pin;
        ASSERT_TRUE(kt::pin(aside(tgr), &pin));
        std::vector<std::string> before = kt::snapshot(dest);
        EXPECT_EQ(build(r), 0);
        kt::unpin(&pin);
        EXPECT_EQ(std::string(error), "cannot restore the earlier build from " + aside(tgr));
        EXPECT_EQ(kt::snapshot(dest), before);
    }
    // Beside a build folder it is an earlier build too.
    earlier_build(folder(tgr));
    EXPECT_EQ(probe_build_destination(&r, &probe), DEST_EARLIER_BUILD);
    EXPECT_EQ(std::string(probe.folder), folder(tgr));
    // Replacing (what the user agreed to) leaves the new build alone.
    ASSERT_EQ(build(r), 1) << error;
    EXPECT_FALSE(kt::exists(aside(tgr)));
    EXPECT_FALSE(kt::exists(staging(tgr)));
    EXPECT_EQ(kt::read_file(folder(tgr) + SEP + "romdata.bin").size(), 7927120u);
}

// A folder of ours goes marker last: a removal that cannot finish leaves a
// marked folder, which stays ours.
TEST_F(Destination, OurFoldersLoseTheirMarkerLast) {
    if (!kt::pins_work()) GTEST_SKIP() << "files cannot be held here";
    std::string ours = dir / "ours";
    kt::make_dirs(ours + SEP + "sub");
    kt::write_file(ours + SEP + ".kelvorn", MARKER);
    kt::write_file(ours + SEP + "a", "a");
    kt::write_file(ours + SEP + "sub" + SEP + "held", "h");
    kt::Pin pin;
    ASSERT_TRUE(kt::pin(ours + SEP + "sub" + SEP + "held", &pin));
    EXPECT_EQ(remove_tree_last(ours.c_str(), ".kelvorn"), 0);
    kt::unpin(&pin);
    EXPECT_EQ(kt::read_file(ours + SEP + ".kelvorn"), MARKER);
    EXPECT_FALSE(kt::exists(ours + SEP + "a"));
    EXPECT_EQ(remove_tree_last(ours.c_str(), ".kelvorn"), 1);
    EXPECT_FALSE(kt::exists(ours));
    // A file, or nothing at all, behaves as remove_tree does.
    kt::write_file(ours, "f");
    EXPECT_EQ(remove_tree_last(ours.c_str(), ".kelvorn"), 1);
    EXPECT_EQ(remove_tree_last(ours.c_str(), ".kelvorn"), 1);
}

// --- inputs that are not regular files ---

// Runs call on a thread and waits at most a few seconds for it; unstick
// releases a call that blocked anyway, so that a fault fails the test
// instead of hanging it.
bool finishes_soon(std::function<void()> call, std::function<void()> unstick) {
    std::packaged_task<void()> task(call);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    bool soon = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!soon) unstick();
    runner.join();
    return soon;
}

struct Special {
    const char* name;
    std::string path;
    std::function<void()> unstick;
};

std::vector<Special> special_files(const kt::TempDir& dir) {
    std::vector<Special> out;
    kt::make_dirs(dir / "a folder");
    out.push_back({"a folder", dir / "a folder", [] {}});
#ifdef _WIN32
    // A pipe whose server never writes: a reader would wait for ever.
    static int serial = 0;
    std::string pipe = "\\\\.\\pipe\\kelvorn-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(++serial);
    HANDLE server = CreateNamedPipeW(kt::widen(pipe).c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 8, 4096, 4096, 0,
                                     nullptr);
    if (server != INVALID_HANDLE_VALUE) {
        out.push_back({"a named pipe", pipe, [server] { CloseHandle(server); }});
    }
    out.push_back({"the NUL device", "NUL", [] {}});
#else
    std::string fifo = dir / "fifo";
    mkfifo(fifo.c_str(), 0600);
    // A writer opening the FIFO releases a reader blocked in open; closing
    // it ends that reader's reads.
    out.push_back({"a FIFO", fifo, [fifo] {
                       int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                       if (fd >= 0) close(fd);
                   }});
    out.push_back({"/dev/zero", "/dev/zero", [] {}});
    out.push_back({"/dev/urandom", "/dev/urandom", [] {}});
#endif
    return out;
}

TEST(NonRegularInputs, ChecksAndBuildsRefuseThemAtOnce) {
    kt::TempDir dir("special");
    std::string dest = dir / "Games";
    for (const Special& s : special_files(dir)) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(is_regular_file(s.path.c_str()), 0);
        FileCheck check;
        memset(&check, 1, sizeof check);
        auto unreadable = [&] {
            EXPECT_EQ(check.ok, 0);
            EXPECT_STREQ(check.md5_hex, "");
            EXPECT_STREQ(check.note, "The file could not be read.");
        };
        EXPECT_TRUE(finishes_soon([&] { check_disc_image(s.path.c_str(), &check, nullptr, 0, nullptr); },
                                  s.unstick));
        unreadable();
        EXPECT_TRUE(finishes_soon([&] { check_cue_sheet(s.path.c_str(), &check); }, s.unstick));
        unreadable();
        EXPECT_TRUE(finishes_soon([&] { check_cartridge_rom(s.path.c_str(), &check, nullptr, 0); }, s.unstick));
        unreadable();

        // The build reads nothing from it either; nothing is made.
        std::string real = dir / "real.bin";
        kt::write_file(real, "x");
        struct Slot {
            GameKind game;
            const char *bin, *cue, *rom;
        } slots[] = {{GAME_BOSS_RALLY, s.path.c_str(), real.c_str(), ""},
                     {GAME_BOSS_RALLY, real.c_str(), s.path.c_str(), ""},
                     {GAME_TOP_GEAR_RALLY, "", "", s.path.c_str()}};
        for (const Slot& slot : slots) {
            BuildRequest r;
            r.game = slot.game;
            r.bin_path = slot.bin;
            r.cue_path = slot.cue;
            r.rom_path = slot.rom;
            r.dest_dir = dest.c_str();
            char error[512] = "";
            int built = 1;
            EXPECT_TRUE(finishes_soon([&] { built = run_build(&r, nullptr, 0, nullptr, error, sizeof error); },
                                      s.unstick));
            EXPECT_EQ(built, 0);
            EXPECT_NE(std::string(error), "");
            EXPECT_TRUE(kt::snapshot(dest).empty()) << error;
        }
    }
}

// --- the check is tied to the bytes that are built ---

TEST_F(Destination, AnInputChangedAfterItsCheckIsRefused) {
    std::string rom = dir / "game.z64";
    std::string bin = dir / "disc.bin", cue = dir / "disc.cue";
    const std::string sheet = "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
    struct Case {
        const char* name;
        GameKind game;
        std::string* changed;                     // the input that changes
        std::function<void(const std::string&)> change;
    } cases[] = {
        {"ROM rewritten in place", GAME_TOP_GEAR_RALLY, &rom,
         [](const std::string& p) { kt::write_file(p, kt::synthetic_rom(6, false).substr(0, 8388600)); }},
        {"ROM replaced by another file", GAME_TOP_GEAR_RALLY, &rom,
         [&](const std::string& p) {
             kt::write_file(dir / "other.z64", kt::synthetic_rom(7, false));
             kt::remove_all(p);
             std::filesystem::rename(std::filesystem::u8path(dir / "other.z64"), std::filesystem::u8path(p));
         }},
        {"disc image grown", GAME_BOSS_RALLY, &bin,
         [](const std::string& p) { kt::write_file(p, std::string(2352 * 3, 'y')); }},
        {"cue sheet rewritten", GAME_BOSS_RALLY, &cue,
         [&](const std::string& p) { kt::write_file(p, sheet + "REM changed\n"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::remove_all(dest);
        kt::write_file(rom, kt::synthetic_rom(5, false));
        kt::write_file(bin, std::string(2352 * 2, 'x'));
        kt::write_file(cue, sheet);
        FileCheck rom_check, bin_check, cue_check;
        check_cartridge_rom(rom.c_str(), &rom_check, nullptr, 0);
        check_disc_image(bin.c_str(), &bin_check, nullptr, 0, nullptr);
        check_cue_sheet(cue.c_str(), &cue_check);
        ASSERT_TRUE(rom_check.stamp.valid && bin_check.stamp.valid && cue_check.stamp.valid);
        c.change(*c.changed);

        BuildRequest r = cartridge(rom);
        r.game = c.game;
        r.bin_path = bin.c_str();
        r.cue_path = cue.c_str();
        r.rom_stamp = &rom_check.stamp;
        r.bin_stamp = &bin_check.stamp;
        r.cue_stamp = &cue_check.stamp;
        EXPECT_EQ(build(r), 0);
        EXPECT_EQ(std::string(error), *c.changed + " changed after it was checked; choose it again");
        EXPECT_TRUE(kt::snapshot(dest).empty());
    }
    // Unchanged, the checked ROM builds.
    kt::remove_all(dest);
    kt::write_file(rom, kt::synthetic_rom(5, false));
    FileCheck rom_check;
    check_cartridge_rom(rom.c_str(), &rom_check, nullptr, 0);
    BuildRequest r = cartridge(rom);
    r.rom_stamp = &rom_check.stamp;
    EXPECT_EQ(build(r), 1) << error;
}

}  // namespace
