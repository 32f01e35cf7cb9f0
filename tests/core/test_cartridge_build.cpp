// The cartridge build end to end: run_build from a ROM in each byte order,
// the installed folder, the game executable under Wine, every failure
// message, and the staging and replace policy.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "builder/build.h"
#include "builder/embedded.h"
#include "builder/staging.h"
#include "formats/cartridge/rom.h"
#include "core/fs_conditions.h"
#include "support/recorder.h"
#include "support/rom.h"
#include "support/test_support.h"

namespace {

const std::string SEP = PATH_SEP_STR;
const size_t ROM_SIZE = kt::CARTRIDGE_ROM_SIZE;
const size_t DATA_OFFSET = 461488;
const size_t DATA_SIZE = 7927120;

// A synthetic cartridge image in stored (z64) order, and the same image in
// the other two orders.
struct Roms {
    std::string z64 = kt::synthetic_rom(64);
    std::string v64 = kt::rom_as_v64(z64);
    std::string n64 = kt::rom_as_n64(z64);
    std::string expected_romdata() const { return z64.substr(DATA_OFFSET); }
};

const Roms& roms() {
    static Roms r;
    return r;
}

std::string embedded(const char* id) {
    size_t size = 0;
    const unsigned char* bytes = embedded_game_bytes(id, &size);
    return bytes ? std::string((const char*)bytes, size) : std::string();
}

struct CartridgeBuild : ::testing::Test {
    kt::TempDir dir{"cart"};
    std::string dest = dir / "dest";
    std::string rom = dir / "game.z64";
    char error[1024];

    std::string folder() const { return dest + SEP + "Top Gear Rally"; }
    std::string staging() const { return dest + SEP + ".Top Gear Rally.building"; }
    std::string aside() const { return dest + SEP + ".Top Gear Rally.replaced"; }

    BuildRequest request() const { return kt::cartridge_request(rom, dest); }
    int build(kt::Recorder* w = nullptr) {
        BuildRequest r = request();
        memset(error, '#', sizeof error);
        return run_build(&r, w ? kt::record : nullptr, w ? w->user() : 0, nullptr, error, sizeof error);
    }
    void expect_installed(const std::string& romdata) {
        EXPECT_EQ(kt::read_file(folder() + SEP + "romdata.bin"), romdata);
        EXPECT_EQ(kt::read_file(folder() + SEP + "Top Gear Rally.exe"), embedded("tollvane"));
        EXPECT_EQ(kt::read_file(folder() + SEP + ".kelvorn"), "0.74\n");
        std::vector<std::string> names;
        for (const std::string& e : kt::snapshot(folder())) names.push_back(e.substr(0, e.find('=')));
        EXPECT_EQ(names, (std::vector<std::string>{".kelvorn", "Top Gear Rally.exe", "romdata.bin"}));
        EXPECT_FALSE(kt::exists(staging()));
        EXPECT_FALSE(kt::exists(aside()));
    }
};

TEST_F(CartridgeBuild, EveryByteOrderGivesTheSameGameData) {
    ASSERT_GT(embedded("tollvane").size(), 0u);
    struct Case {
        const char* name;
        const std::string* bytes;
        RomOrder order;
    } cases[] = {
        {"z64", &roms().z64, ROM_Z64},
        {"v64", &roms().v64, ROM_V64},
        {"n64", &roms().n64, ROM_N64},
    };
    std::string want = roms().expected_romdata();
    ASSERT_EQ(want.size(), DATA_SIZE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::remove_all(dest);
        kt::write_file(rom, *c.bytes);
        ASSERT_EQ(build(), 1) << error;
        EXPECT_STREQ(error, "");
        expect_installed(want);

        // The loader reports the order, the size and the digest of the
        // bytes as stored, before reordering.
        uint64_t size = 0;
        char digest[33];
        RomOrder order = (RomOrder)-1;
        unsigned char* image = load_cartridge_rom(rom.c_str(), &size, digest, &order);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(size, ROM_SIZE);
        EXPECT_EQ(order, c.order);
        EXPECT_EQ(std::string(digest), kt::md5_hex_of(*c.bytes));
        EXPECT_EQ(memcmp(image, roms().z64.data(), ROM_SIZE), 0);
        free(image);
    }
}

TEST_F(CartridgeBuild, TheBuiltGameFindsItsDataUnderWine) {
    kt::write_file(rom, roms().z64);
    ASSERT_EQ(build(), 1) << error;
    std::string exe = folder() + SEP + "Top Gear Rally.exe";
    EXPECT_EQ(kt::run_windows_program(exe, {"--check-data"}, folder()), 0);
    kt::write_file(folder() + SEP + "romdata.bin", "short");
    EXPECT_EQ(kt::run_windows_program(exe, {"--check-data"}, folder()), 1);
    std::filesystem::remove(std::filesystem::u8path(folder() + SEP + "romdata.bin"));
    EXPECT_EQ(kt::run_windows_program(exe, {"--check-data"}, folder()), 1);
}

// The whole build into a destination with names outside ASCII, and the
// game started from there.
TEST_F(CartridgeBuild, NonAsciiDestination) {
    dest = dir / "Jeux \xC3\xA9t\xC3\xA9 \xE4\xB8\xAD";
    kt::write_file(rom, roms().v64);
    ASSERT_EQ(build(), 1) << error;
    expect_installed(roms().expected_romdata());
    EXPECT_EQ(kt::run_windows_program(folder() + SEP + "Top Gear Rally.exe", {"--check-data"}, folder()), 0);
}

TEST_F(CartridgeBuild, MissingDestinationIsCreatedWithItsParents) {
    dest = dir / "a" + SEP + "b" + SEP + "c";
    kt::write_file(rom, roms().z64);
    ASSERT_EQ(build(), 1) << error;
    expect_installed(roms().expected_romdata());
}

TEST_F(CartridgeBuild, ProgressReportsInOrder) {
    kt::write_file(rom, roms().z64);
    kt::Recorder w;
    const uint64_t u = w.user();
    ASSERT_EQ(build(&w), 1) << error;
    EXPECT_EQ(w.reports, (std::vector<kt::Report>{{u, 0.0, "Reading the ROM"},
                                              {u, 0.5, "Writing the game's data"},
                                              {u, 0.9, "Finishing"},
                                              {u, 1.0, "Done"}}));
    // A failure stops the reports where it happens.
    kt::write_file(rom, "tiny");
    w.reports.clear();
    EXPECT_EQ(build(&w), 0);
    EXPECT_EQ(w.reports, (std::vector<kt::Report>{{u, 0.0, "Reading the ROM"}}));
}

TEST_F(CartridgeBuild, NoProgressAndNoErrorBuffer) {
    kt::write_file(rom, roms().n64);
    BuildRequest r = request();
    ASSERT_EQ(run_build(&r, nullptr, 0, nullptr, nullptr, 0), 1);
    expect_installed(roms().expected_romdata());

    kt::write_file(rom, "tiny");
    EXPECT_EQ(run_build(&r, nullptr, 0, nullptr, nullptr, 0), 0);
    char small[5];
    memset(small, '#', sizeof small);
    EXPECT_EQ(run_build(&r, nullptr, 0, nullptr, small, 0), 0);  // capacity 0: absent
    EXPECT_EQ(small[0], '#');
    EXPECT_EQ(run_build(&r, nullptr, 0, nullptr, small, sizeof small), 0);
    EXPECT_STREQ(small, "the ");  // cut, terminated
}

// Each failure writes exactly its one line, leaves no staging folder (unless
// a pinned entry keeps it), and leaves what was there before untouched.
TEST_F(CartridgeBuild, FailureMessages) {
    struct Case {
        const char* name;
        std::function<void(CartridgeBuild&, kt::Recorder&, std::vector<kt::Pin>&)> arrange;
        std::function<std::string(CartridgeBuild&)> message;
        bool needs_pin;
        bool staging_may_remain;
    };
    auto rom_of = [](size_t n) {
        return [n](CartridgeBuild& t, kt::Recorder&, std::vector<kt::Pin>&) {
            std::string b = roms().z64.substr(0, n);
            b.resize(n, 0x5A);
            kt::write_file(t.rom, b);
        };
    };
    auto ok_rom = rom_of(ROM_SIZE);
    auto earlier_build = [](CartridgeBuild& t) {
        kt::make_dirs(t.folder());
        kt::write_file(t.folder() + SEP + ".kelvorn", "0.74\n");
        kt::write_file(t.folder() + SEP + "romdata.bin", "earlier");
    };
    const std::string already =
        " already exists and was not made by this builder; move it away or pick another folder";
    Case cases[] = {
        {"destination below a file",
         [&](CartridgeBuild& t, kt::Recorder& w, std::vector<kt::Pin>& p) {
             ok_rom(t, w, p);
             kt::write_file(t.dir / "plain", "p");
             t.dest = t.dir / "plain" + SEP + "dest";
         },
         [](CartridgeBuild& t) { return "cannot make the folder " + t.dest; }, false, false},
        {"ROM missing", [](CartridgeBuild& t, kt::Recorder&, std::vector<kt::Pin>&) { t.rom = t.dir / "nothing.z64"; },
         [](CartridgeBuild&) { return std::string("cannot read the ROM"); }, false, false},
        {"ROM empty", rom_of(0), [](CartridgeBuild&) { return std::string("cannot read the ROM"); }, false, false},
        {"ROM one byte short", rom_of(ROM_SIZE - 1), [](CartridgeBuild&) { return std::string("the ROM is not 8 MB"); },
         false, false},
        {"ROM one byte long", rom_of(ROM_SIZE + 1), [](CartridgeBuild&) { return std::string("the ROM is not 8 MB"); },
         false, false},
        {"destination is a file",
         [&](CartridgeBuild& t, kt::Recorder& w, std::vector<kt::Pin>& p) {
             ok_rom(t, w, p);
             kt::write_file(t.dest, "a file, not a folder");
         },
         [](CartridgeBuild& t) { return "cannot make folders in " + t.dest + " (is it writable?)"; }, false, false},
        {"foreign folder",
         [&](CartridgeBuild& t, kt::Recorder& w, std::vector<kt::Pin>& p) {
             ok_rom(t, w, p);
             kt::make_dirs(t.folder() + SEP + "saves");
             kt::write_file(t.folder() + SEP + "saves" + SEP + "slot1", "mine");
         },
         [&](CartridgeBuild& t) { return t.folder() + already; }, false, false},
        {"foreign plain file",
         [&](CartridgeBuild& t, kt::Recorder& w, std::vector<kt::Pin>& p) {
             ok_rom(t, w, p);
             kt::make_dirs(t.dest);
             kt::write_file(t.folder(), "a file under the build folder's name");
         },
         [&](CartridgeBuild& t) { return t.folder() + already; }, false, false},
        {"game data not written",
         [&](CartridgeBuild& t, kt::Recorder& w, std::vector<kt::Pin>& p) {
             ok_rom(t, w, p);
             w.act_at = "Writing the game's data";
             w.action = [&t] { kt::make_dirs(t.staging() + SEP + "romdata.bin"); };
         },
         [](CartridgeBuild& t) { return "cannot write " + t.staging() + SEP + "romdata.bin"; }, false, false},
        {"marker not written",
         [&](CartridgeBuild& t, kt::Recorder& w, std::vector<kt::Pin>& p) {
             ok_rom(t, w, p);
             w.act_at = "Finishing";
             // The staging folder is marked from the start; a folder in the
             // marker's place keeps it from being written again.
             w.action = [&t] {
                 kt::remove_all(t.staging() + SEP + ".kelvorn");
                 kt::make_dirs(t.staging() + SEP + ".kelvorn");
             };
         },
         [](CartridgeBuild& t) { return "cannot write in " + t.staging(); }, false, false},
        {"leftover staging cannot be cleared",
         [&](CartridgeBuild& t, kt::Recorder& w, std::vector<kt::Pin>& p) {
             ok_rom(t, w, p);
             kt::make_dirs(t.staging());
             kt::write_file(t.staging() + SEP + ".kelvorn", "0.74\n");
             kt::write_file(t.staging() + SEP + "stuck", "s");
             p.emplace_back();
             kt::pin(t.staging() + SEP + "stuck", &p.back());
         },
         [](CartridgeBuild& t) { return "cannot clear " + t.staging(); }, true, true},
        {"earlier build cannot be removed",
         [&](CartridgeBuild& t, kt::Recorder& w, std::vector<kt::Pin>& p) {
             ok_rom(t, w, p);
             earlier_build(t);
             p.emplace_back();
             kt::pin(t.folder(), &p.back());
         },
         [](CartridgeBuild& t) { return "cannot replace the earlier build at " + t.folder(); }, true, false},
        {"final move fails",
         [&](CartridgeBuild& t, kt::Recorder& w, std::vector<kt::Pin>& p) {
             ok_rom(t, w, p);
             earlier_build(t);
             w.act_at = "Finishing";
             w.action = [&t, &p] {
                 // The marker exists before the pin, so it can still be
                 // written; only the staging folder's rename fails.
                 kt::write_file(t.staging() + SEP + ".kelvorn", "");
                 p.emplace_back();
                 kt::pin(t.staging(), &p.back());
             };
         },
         [](CartridgeBuild& t) { return "cannot move the build into place at " + t.folder(); }, true, true},
    };

    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needs_pin && !kt::pins_work()) {
            printf("skipped \"%s\": cannot pin entries here\n", c.name);
            continue;
        }
        kt::remove_all(dir.path);
        kt::make_dirs(dir.path);
        dest = dir / "dest";
        rom = dir / "game.z64";
        kt::Recorder w;
        std::vector<kt::Pin> pins;
        pins.reserve(4);
        c.arrange(*this, w, pins);
        // Everything but the ROM must come through untouched.
        std::vector<std::string> before = kt::snapshot(dest);
        bool dest_existed = kt::exists(dest);

        EXPECT_EQ(build(&w), 0);
        EXPECT_EQ(std::string(error), c.message(*this));
        bool held = false;
        for (kt::Pin& p : pins) held |= p.held;
        EXPECT_EQ(held, c.needs_pin);
        for (kt::Pin& p : pins) kt::unpin(&p);

        // A pinned entry may keep the staging folder; the next build clears
        // it. Nothing else may change.
        auto outside_staging = [](std::vector<std::string> entries) {
            std::vector<std::string> kept;
            for (std::string& e : entries)
                if (e.rfind(".Top Gear Rally.building", 0) != 0) kept.push_back(e);
            return kept;
        };
        if (c.staging_may_remain) {
            before = outside_staging(before);
        } else {
            EXPECT_FALSE(kt::exists(staging()));
        }
        EXPECT_FALSE(kt::exists(aside()));
        if (dest_existed) {
            EXPECT_EQ(outside_staging(kt::snapshot(dest)), before);
        } else if (std::string(c.name) != "destination below a file") {
            // The destination was made, and nothing else.
            EXPECT_TRUE(kt::is_dir(dest));
            EXPECT_TRUE(kt::snapshot(dest).empty());
        }
        kt::remove_all(staging());
    }
}

TEST_F(CartridgeBuild, ExecutableWriteFailureNamesThePath) {
    std::string path = dir / "missing" + SEP + "Top Gear Rally.exe";
    memset(error, '#', sizeof error);
    EXPECT_EQ(extract_game_executable("tollvane", path.c_str(), error, sizeof error), 0);
    EXPECT_EQ(std::string(error), "cannot write " + path);
    EXPECT_EQ(extract_game_executable("tollvane", path.c_str(), nullptr, 0), 0);
}

TEST_F(CartridgeBuild, GameIdentifierSelectsTheExecutable) {
    std::string duskmere = embedded("duskmere"), tollvane = embedded("tollvane");
    ASSERT_GT(duskmere.size(), 0u);
    ASSERT_NE(duskmere, tollvane);
    struct Case {
        const char* id;
        const std::string* want;
    } cases[] = {{"duskmere", &duskmere}, {"tollvane", &tollvane}, {"DUSKMERE", &tollvane}, {"", &tollvane}};
    for (const Case& c : cases) {
        std::string out = dir / "game.exe";
        kt::write_file(out, std::string(20000000, 'x'));  // an existing file is truncated
        EXPECT_EQ(extract_game_executable(c.id, out.c_str(), error, sizeof error), 1) << c.id;
        EXPECT_TRUE(kt::read_file(out) == *c.want) << c.id;
    }
}

TEST_F(CartridgeBuild, EarlierBuildIsReplacedReadOnlyFilesIncluded) {
    kt::make_dirs(folder() + SEP + "sub");
    kt::write_file(folder() + SEP + ".kelvorn", "0.74\n");
    kt::write_file(folder() + SEP + "romdata.bin", "old data");
    kt::write_file(folder() + SEP + "sub" + SEP + "extra", "old extra");
    namespace fs = std::filesystem;
    for (const char* f : {"romdata.bin", "sub/extra", ".kelvorn"}) {
        std::string p = folder() + SEP + f;
        fs::permissions(fs::u8path(p), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    kt::write_file(rom, roms().z64);
    ASSERT_EQ(build(), 1) << error;
    expect_installed(roms().expected_romdata());
}

TEST_F(CartridgeBuild, LeftoversOfEarlierRunsAreCleared) {
    // A half-made staging folder (marked as ours from the start), and an
    // earlier build left aside by a replacement that was cut short.
    kt::make_dirs(staging() + SEP + "deep" + SEP + "er");
    kt::write_file(staging() + SEP + ".kelvorn", "0.74\n");
    kt::write_file(staging() + SEP + "deep" + SEP + "er" + SEP + "junk", "j");
    kt::make_dirs(aside());
    kt::write_file(aside() + SEP + ".kelvorn", "0.74\n");
    kt::write_file(aside() + SEP + "romdata.bin", "older");
    kt::write_file(rom, roms().z64);
    ASSERT_EQ(build(), 1) << error;
    expect_installed(roms().expected_romdata());

    // A second build over the first replaces it.
    kt::write_file(rom, roms().n64);
    ASSERT_EQ(build(), 1) << error;
    expect_installed(roms().expected_romdata());
}

TEST_F(CartridgeBuild, ForeignFolderUnderTheAsideNameIsNeverRemoved) {
    kt::write_file(rom, roms().z64);
    ASSERT_EQ(build(), 1) << error;
    kt::make_dirs(aside());
    kt::write_file(aside() + SEP + "theirs", "t");
    std::vector<std::string> before = kt::snapshot(dest);
    EXPECT_EQ(build(), 0);
    EXPECT_EQ(std::string(error),
              aside() + " already exists and was not made by this builder; move it away or pick another folder");
    EXPECT_EQ(kt::snapshot(dest), before);
}

TEST(CartridgeRom, LoaderReordersWholeUnitsOnly) {
    struct Case {
        const char* name;
        std::vector<unsigned char> in, out;
        RomOrder order;
    } cases[] = {
        {"3 bytes stay", {0x40, 0x12, 0x01}, {0x40, 0x12, 0x01}, ROM_Z64},
        {"6-byte n64", {0x40, 0x12, 0xAA, 0xBB, 0xCC, 0xDD}, {0xBB, 0xAA, 0x12, 0x40, 0xCC, 0xDD}, ROM_N64},
        {"7-byte n64", {0x40, 0x12, 1, 2, 3, 4, 5}, {2, 1, 0x12, 0x40, 3, 4, 5}, ROM_N64},
        {"5-byte v64", {0x37, 0x80, 1, 2, 3}, {0x80, 0x37, 2, 1, 3}, ROM_V64},
        {"4-byte z64", {0x80, 0x37, 0x12, 0x40}, {0x80, 0x37, 0x12, 0x40}, ROM_Z64},
        {"other bytes stay", {0x12, 0x40, 0x80, 0x37, 9}, {0x12, 0x40, 0x80, 0x37, 9}, ROM_Z64},
        {"one byte", {0x40}, {0x40}, ROM_Z64},
    };
    kt::TempDir dir("rom");
    for (const Case& c : cases) {
        std::string p = dir / "rom";
        kt::write_file(p, c.in);
        uint64_t size = 0;
        char digest[33] = {};
        RomOrder order = (RomOrder)-1;
        unsigned char* image = load_cartridge_rom(p.c_str(), &size, digest, &order);
        ASSERT_NE(image, nullptr) << c.name;
        EXPECT_EQ(std::vector<unsigned char>(image, image + size), c.out) << c.name;
        EXPECT_EQ(order, c.order) << c.name;
        EXPECT_EQ(std::string(digest), kt::md5_hex_of(std::string(c.in.begin(), c.in.end()))) << c.name;
        free(image);
    }
    // Null outputs are allowed; on failure none is written.
    std::string p = dir / "rom";
    free(load_cartridge_rom(p.c_str(), nullptr, nullptr, nullptr));
    kt::write_file(p, "");
    uint64_t size = 5;
    char digest[33] = "untouched";
    RomOrder order = (RomOrder)7;
    EXPECT_EQ(load_cartridge_rom(p.c_str(), &size, digest, &order), nullptr);
    EXPECT_EQ(load_cartridge_rom((dir / "missing").c_str(), &size, digest, &order), nullptr);
    EXPECT_EQ(size, 5u);
    EXPECT_STREQ(digest, "untouched");
    EXPECT_EQ((int)order, 7);
}

TEST(BuildNames, DisplayNamesAndProbe) {
    EXPECT_STREQ(game_display_name(GAME_BOSS_RALLY), "Boss Rally");
    EXPECT_STREQ(game_display_name(GAME_TOP_GEAR_RALLY), "Top Gear Rally");
    EXPECT_STREQ(game_display_name((GameKind)7), "Top Gear Rally");

    kt::TempDir dir("probe");
    BuildRequest r = {};
    r.game = GAME_BOSS_RALLY;
    r.dest_dir = dir.path.c_str();
    char out[PATH_CAPACITY];
    build_folder_path(&r, out, sizeof out);
    EXPECT_EQ(std::string(out), dir / "Boss Rally");

    struct Case {
        const char* name;
        std::function<void()> arrange;
        int exists, marker;
    } cases[] = {
        {"nothing", [] {}, 0, 0},
        {"foreign folder", [&] { kt::make_dirs(dir / "Boss Rally"); }, 1, 0},
        {"plain file", [&] { kt::write_file(dir / "Boss Rally", "x"); }, 1, 0},
        {"earlier build", [&] {
             kt::make_dirs(dir / "Boss Rally");
             kt::write_file(dir / "Boss Rally" + SEP + ".kelvorn", "0.74\n");
         }, 1, 1},
        {"other game's build", [&] {
             kt::make_dirs(dir / "Top Gear Rally");
             kt::write_file(dir / "Top Gear Rally" + SEP + ".kelvorn", "0.74\n");
         }, 0, 0},
    };
    for (const Case& c : cases) {
        kt::remove_all(dir / "Boss Rally");
        kt::remove_all(dir / "Top Gear Rally");
        c.arrange();
        std::vector<std::string> before = kt::snapshot(dir.path);
        int marker = -1;
        EXPECT_EQ(probe_destination(&r, &marker), c.exists) << c.name;
        EXPECT_EQ(marker, c.marker) << c.name;
        EXPECT_EQ(probe_destination(&r, nullptr), c.exists) << c.name;
        EXPECT_EQ(kt::snapshot(dir.path), before) << c.name;
    }
}

}  // namespace
