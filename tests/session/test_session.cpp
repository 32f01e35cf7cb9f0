// The front ends' shared decisions: the path policy, the pairing of a disc
// image with its cue sheet, the checks by input, the verdict text and the
// destination's wording for each state.
#include <gtest/gtest.h>

#include <string>

#include "builder/reference.h"
#include "session/session.h"
#include "support/test_support.h"

namespace {

std::string repeat(const std::string& piece, size_t times) {
    std::string text;
    for (size_t i = 0; i < times; ++i) text += piece;
    return text;
}

std::string too_long_text(FrontEnd front, const std::string& what) {
    char out[PATH_CAPACITY + 256];
    format_path_too_long(front, out, sizeof out, what.c_str());
    return out;
}

TEST(PathPolicy, LimitsOfBothFrontEnds) {
    const std::string e_acute = "\xC3\xA9";        // 2 bytes, 1 UTF-16 unit
    const std::string euro = "\xE2\x82\xAC";       // 3 bytes, 1 unit
    const std::string emoji = "\xF0\x9F\x98\x80";  // 4 bytes, 2 units
    struct Case {
        const char* name;
        FrontEnd front;
        std::string path;
        size_t length;
        int fits;
    } cases[] = {
        {"empty", FRONT_WIZARD, "", 0, 1},
        {"wizard at the limit", FRONT_WIZARD, std::string(259, 'a'), 259, 1},
        {"wizard one over", FRONT_WIZARD, std::string(260, 'a'), 260, 0},
        {"two-byte characters count one unit", FRONT_WIZARD, repeat(e_acute, 259), 259, 1},
        {"three-byte characters count one unit", FRONT_WIZARD, repeat(euro, 260), 260, 0},
        {"beyond the BMP counts two units, at the limit", FRONT_WIZARD, repeat(emoji, 129) + "a", 259, 1},
        {"beyond the BMP, one over", FRONT_WIZARD, repeat(emoji, 130), 260, 0},
        {"command line at the limit", FRONT_CLI, std::string(1023, 'a'), 1023, 1},
        {"command line one over", FRONT_CLI, std::string(1024, 'a'), 1024, 0},
        {"command line counts bytes", FRONT_CLI, repeat(euro, 341) + "a", 1024, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(path_length_for(c.front, c.path.c_str()), c.length);
        EXPECT_EQ(path_fits(c.front, c.path.c_str()), c.fits);
    }
    EXPECT_EQ(path_length_for(FRONT_CLI, nullptr), 0u);
}

TEST(PathPolicy, RefusalWording) {
    EXPECT_EQ(too_long_text(FRONT_CLI, "--rom"), "value too long for --rom");
    std::string path = "C:\\" + std::string(300, 'x');
    EXPECT_EQ(too_long_text(FRONT_WIZARD, path),
              path + " is longer than 259 characters, so it cannot be used. Move it or choose one with a "
                     "shorter path.");
    // Cut to the buffer like every composed text, and terminated.
    char small[8];
    format_path_too_long(FRONT_CLI, small, sizeof small, "--dest");
    EXPECT_STREQ(small, "value t");
}

struct Paired {
    int is_sheet;
    PartnerState partner;
    std::string path;
};

Paired pair(FrontEnd front, const std::string& path, int as_sheet) {
    DiscPairing pairing;
    pair_disc_file(front, path.c_str(), as_sheet, &pairing);
    return {pairing.is_sheet, pairing.partner, pairing.partner_path};
}

TEST(DiscPairing, BothWays) {
    kt::TempDir dir("session-pair");
    std::string disc(2352, 'd');
    kt::write_file(dir / "game.bin", disc);
    kt::write_file(dir / "game.cue", "FILE \"game.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
    kt::write_file(dir / "lonely.bin", disc);
    kt::write_file(dir / "orphan.cue", "FILE \"missing.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
    kt::write_file(dir / "empty.bin", "");
    kt::write_file(dir / "hollow.cue", "FILE \"empty.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
    kt::write_file(dir / "CAPS.CUE", "FILE \"game.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
    kt::write_file(dir / "sheet.txt", "FILE \"game.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
    kt::write_file(dir / "upper.BIN", disc);
    kt::write_file(dir / "upper.cue", "");
    kt::write_file(dir / "boxed.bin", disc);
    kt::make_dirs(dir / "boxed.cue");  // a folder named like the partner
    kt::make_dirs(dir / "set.v2");
    kt::write_file(kt::join(dir / "set.v2", "image"), disc);
    kt::write_file(dir / "set.cue", "");
    struct Case {
        const char* name;
        std::string path;
        int as_sheet;
        Paired want;
    } cases[] = {
        {"image finds the sheet beside it", dir / "game.bin", 0, {0, PARTNER_FOUND, dir / "game.cue"}},
        {"image without a sheet", dir / "lonely.bin", 0, {0, PARTNER_NONE, ""}},
        {"sheet finds the image it names", dir / "game.cue", 1, {1, PARTNER_FOUND, dir / "game.bin"}},
        {"sheet naming a missing image", dir / "orphan.cue", 1, {1, PARTNER_NONE, ""}},
        {"sheet naming an empty image", dir / "hollow.cue", 1, {1, PARTNER_NONE, ""}},
        {"a .CUE named as the image is the sheet", dir / "CAPS.CUE", 0, {1, PARTNER_FOUND, dir / "game.bin"}},
        {"named as the sheet, whatever its name", dir / "sheet.txt", 1, {1, PARTNER_FOUND, dir / "game.bin"}},
        {"image.BIN pairs with image.cue", dir / "upper.BIN", 0, {0, PARTNER_FOUND, dir / "upper.cue"}},
        {"a folder named like the sheet counts", dir / "boxed.bin", 0, {0, PARTNER_FOUND, dir / "boxed.cue"}},
        {"cut at the last dot, in a folder name", kt::join(dir / "set.v2", "image"), 0,
         {0, PARTNER_FOUND, dir / "set.cue"}},
        {"missing sheet file", dir / "none.cue", 1, {1, PARTNER_NONE, ""}},
    };
    for (FrontEnd front : {FRONT_WIZARD, FRONT_CLI}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (front == FRONT_CLI ? " (command line)" : " (wizard)"));
            Paired got = pair(front, c.path, c.as_sheet);
            EXPECT_EQ(got.is_sheet, c.want.is_sheet);
            EXPECT_EQ(got.partner, c.want.partner);
            EXPECT_EQ(got.path, c.want.path);
        }
    }
}

// A partner longer than the front end keeps is refused, never cut: cut, it
// would name another file.
TEST(DiscPairing, PartnerTooLongIsRefusedWhole) {
#ifdef _WIN32
    GTEST_SKIP() << "paths beyond MAX_PATH are made natively";
#endif
    kt::TempDir dir("session-long");
    std::string disc(2352, 'd');
    // An image of exactly 259 characters whose sheet, ".cue" in place of
    // ".b", is two characters longer.
    ASSERT_LT(dir.path.size() + 10, (size_t)200);
    std::string stem = std::string(259 - dir.path.size() - 3, 's');
    std::string image = dir / (stem + ".b");
    ASSERT_EQ(image.size(), 259u);
    kt::write_file(image, disc);
    kt::write_file(dir / (stem + ".cue"), "");
    Paired wizard = pair(FRONT_WIZARD, image, 0);
    EXPECT_EQ(wizard.partner, PARTNER_TOO_LONG);
    EXPECT_EQ(wizard.path, dir / (stem + ".cue"));  // for the refusal to name
    EXPECT_EQ(pair(FRONT_CLI, image, 0).partner, PARTNER_FOUND);

    // A sheet whose image lies in folders deep enough for more than 1023
    // bytes: the command line refuses it, where a cut path would name some
    // other file.
    std::string folder = dir.path, relative;
    for (int i = 0; i < 5; ++i) {
        std::string name = std::string(200, (char)('a' + i));
        folder = kt::join(folder, name);
        relative += name + "/";
    }
    kt::make_dirs(folder);
    kt::write_file(kt::join(folder, "image.bin"), disc);
    kt::write_file(dir / "deep.cue",
                   "FILE \"" + relative + "image.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
    Paired cli = pair(FRONT_CLI, dir / "deep.cue", 1);
    EXPECT_EQ(cli.partner, PARTNER_TOO_LONG);
    EXPECT_GT(cli.path.size(), 1023u);
}

// A file handed over whole picks its game by its extension alone; a name
// that only looks like one (a '.' in a folder, a longer or shorter
// extension) picks nothing and leaves the caller's game as it was.
TEST(HandedOverFile, ExtensionPicksTheGame) {
    const int NONE = -1;
    struct Case {
        const char* path;
        int game;
    } cases[] = {
        {"C:\\games\\rally.bin", GAME_BOSS_RALLY},
        {"C:\\games\\rally.CUE", GAME_BOSS_RALLY},
        {"rally.Bin", GAME_BOSS_RALLY},
        {"C:\\roms\\rally.z64", GAME_TOP_GEAR_RALLY},
        {"C:\\roms\\rally.V64", GAME_TOP_GEAR_RALLY},
        {"rally.n64", GAME_TOP_GEAR_RALLY},
        {"rally.tar.z64", GAME_TOP_GEAR_RALLY},
        {"C:\\games\\rally.iso", NONE},
        {"C:\\games\\rally.bin.txt", NONE},
        {"C:\\games\\rally.bins", NONE},
        {"C:\\games\\rally.bi", NONE},
        {"C:\\games\\rally", NONE},
        {"C:\\a.bin\\rally", NONE},
        {"", NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        GameKind game = (GameKind)77;
        EXPECT_EQ(game_of_input_file(c.path, &game), c.game != NONE);
        EXPECT_EQ((int)game, c.game != NONE ? c.game : 77);
    }
}

TEST(Checks, EachInputGetsItsOwnCheckAndDigest) {
    EXPECT_STREQ(expected_md5(INPUT_DISC_IMAGE), RETAIL_DISC_IMAGE_MD5);
    EXPECT_STREQ(expected_md5(INPUT_CUE_SHEET), RETAIL_CUE_SHEET_MD5);
    EXPECT_STREQ(expected_md5(INPUT_CARTRIDGE_ROM), RETAIL_CARTRIDGE_ROM_MD5);

    kt::TempDir dir("session-check");
    std::string file = dir / "some.file";
    kt::write_file(file, "not a game\n");
    struct Case {
        GameInput input;
        const char* note;
    } cases[] = {
        {INPUT_DISC_IMAGE, "This is not the retail Boss Rally disc image (a raw BIN of the whole CD)."},
        {INPUT_CUE_SHEET, "This cue sheet does not describe the retail Boss Rally disc."},
        {INPUT_CARTRIDGE_ROM, "This is not Top Gear Rally (USA)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.note);
        FileCheck check;
        EXPECT_EQ(check_game_input(c.input, file.c_str(), &check, nullptr, 0, nullptr), 0);
        EXPECT_STREQ(check.note, c.note);
        EXPECT_STREQ(check.md5_hex, kt::md5_hex_of("not a game\n").c_str());
    }
}

TEST(Verdict, BothFrontEndsWordItAlike) {
    FileCheck matched = FileCheck();
    matched.ok = 1;
    snprintf(matched.md5_hex, sizeof matched.md5_hex, "%s", RETAIL_CARTRIDGE_ROM_MD5);
    FileCheck noted = matched;
    snprintf(noted.note, sizeof noted.note, "A .v64 dump: in .z64 byte order its MD5 is x.");
    FileCheck unreadable = FileCheck();
    snprintf(unreadable.note, sizeof unreadable.note, "The file could not be read.");
    const std::string md5 = RETAIL_CARTRIDGE_ROM_MD5, ok = "  \xE2\x9C\x93 matches",
                      bad = "  \xE2\x9C\x97 does not match";
    struct Case {
        const char* name;
        std::string path;
        const FileCheck* check;
        std::string wizard, cli;
    } cases[] = {
        {"a match", "C:\\roms\\tgr.z64", &matched, "tgr.z64\r\nYour file's MD5  " + md5 + ok,
         "tgr.z64\nYour file's MD5  " + md5 + ok + "\n"},
        {"a match with its note", "C:\\roms\\tgr.v64", &noted,
         "tgr.v64\r\nYour file's MD5  " + md5 + ok + "\r\n" + noted.note,
         "tgr.v64\nYour file's MD5  " + md5 + ok + "\n" + noted.note + "\n"},
        {"unreadable: an empty digest", "gone.z64", &unreadable,
         "gone.z64\r\nYour file's MD5  " + bad + "\r\nThe file could not be read.",
         "gone.z64\nYour file's MD5  " + bad + "\nThe file could not be read.\n"},
        // The wizard's paths are Windows paths: only a backslash ends a folder.
        {"forward slashes", "C:/roms/tgr.z64", &matched, "C:/roms/tgr.z64\r\nYour file's MD5  " + md5 + ok,
         "tgr.z64\nYour file's MD5  " + md5 + ok + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char out[1024];
        format_verdict(FRONT_WIZARD, out, sizeof out, c.path.c_str(), c.check);
        EXPECT_EQ(std::string(out), c.wizard);
        format_verdict(FRONT_CLI, out, sizeof out, c.path.c_str(), c.check);
        EXPECT_EQ(std::string(out), c.cli);
    }
}

TEST(Destination, EveryStateWordedForEachFrontEnd) {
    DestinationProbe probe = DestinationProbe();
    snprintf(probe.folder, sizeof probe.folder, "D:\\Games\\Top Gear Rally");
    snprintf(probe.input, sizeof probe.input, "D:\\Games\\Top Gear Rally\\rom.z64");
    const std::string folder = probe.folder, input = probe.input;
    const std::string inside = input + " lies inside " + folder + ", which this build would remove; move it "
                                                                   "elsewhere first";
    const std::string foreign = folder + " already exists and was not made by Kelvorn, so it will not be "
                                         "replaced. Move it away or choose another folder.";
    const std::string saved = "Your saved games are kept; they live in your AppData folder, not in the game's.";
    struct Case {
        DestinationState state;
        FrontEnd front;
        int replace;
        DestinationAction action;
        std::string text;
    } cases[] = {
        {DEST_FREE, FRONT_WIZARD, 0, DEST_GO, ""},
        {DEST_FREE, FRONT_CLI, 0, DEST_GO, ""},
        {DEST_INPUT_INSIDE, FRONT_WIZARD, 0, DEST_REFUSED, inside},
        {DEST_INPUT_INSIDE, FRONT_CLI, 1, DEST_REFUSED, "kelvorn-cli: " + inside},
        {DEST_FOREIGN, FRONT_WIZARD, 0, DEST_REFUSED, foreign},
        {DEST_FOREIGN, FRONT_CLI, 1, DEST_REFUSED, foreign},
        {DEST_EARLIER_BUILD, FRONT_WIZARD, 0, DEST_CONFIRM,
         "An earlier build is at " + folder + ".\r\n\r\nReplace it? " + saved},
        {DEST_EARLIER_BUILD, FRONT_CLI, 0, DEST_REFUSED,
         "An earlier build is at " + folder + ".\nRun again with --replace to replace it. " + saved},
        {DEST_EARLIER_BUILD, FRONT_CLI, 1, DEST_GO, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.state) + (c.front == FRONT_CLI ? " command line" : " wizard") +
                     (c.replace ? " --replace" : ""));
        probe.state = c.state;
        char out[DESTINATION_TEXT_CAPACITY];
        memset(out, 'x', sizeof out);
        EXPECT_EQ(word_destination(c.front, &probe, c.replace, out, sizeof out), c.action);
        EXPECT_EQ(std::string(out), c.text);
    }
}

}  // namespace
