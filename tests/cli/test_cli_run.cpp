// kelvorn-cli driven as a child process: usage errors, verdict lines, the
// pairing of disc image and cue sheet, the destination probe, --replace and
// the plain progress lines it writes when its output is not a terminal.
// The test build (kelvorn-cli-testing) takes fixture digests from the file
// named by KELVORN_TEST_DIGESTS, read afresh by every child.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <memory>
#include <string>
#include <vector>

#include "cli_process.h"
#include "support/env.h"
#include "support/rom.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#include <knownfolders.h>
#include <winioctl.h>
#include <shlobj.h>
#else
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <thread>

namespace {

const char MATCHES[] = "\xE2\x9C\x93 matches";
const char NO_MATCH[] = "\xE2\x9C\x97 does not match";
const char NOT_ROM[] = "This is not Top Gear Rally (USA).";

std::string testing_cli() { return kcli::cli_program("kelvorn-cli-testing"); }

std::string bytes_of(const std::vector<unsigned char>& v) { return std::string(v.begin(), v.end()); }

std::string verdict(const std::string& name, const std::string& md5, bool ok, const std::string& note = "") {
    return name + "\nYour file's MD5  " + md5 + "  " + (ok ? MATCHES : NO_MATCH) + "\n" +
           (note.empty() ? "" : note + "\n");
}

// Inputs whose digests the test build accepts: a ROM, and a disc image
// with its cue sheet (random bytes: accepted by digest, but no disc to
// build from). Every child started while it lives sees the digests.
struct Inputs {
    kt::TempDir dir{"cli-in"};
    std::string rom = kt::synthetic_rom(41);
    std::string disc = bytes_of(kt::random_bytes(70000, 42));
    std::string cue = "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
    std::string rom_path = dir / "rom.z64";
    std::string bin_path = dir / "disc.bin";
    std::string cue_path = dir / "disc.cue";
    std::unique_ptr<kt::ScopedEnv> env;
    Inputs() {
        kt::write_file(rom_path, rom);
        kt::write_file(bin_path, disc);
        kt::write_file(cue_path, cue);
        kt::write_file(dir / "digests.txt", "cartridge_rom=" + kt::md5_hex_of(rom) + "\ndisc_image=" +
                                                kt::md5_hex_of(disc) + "\ncue_sheet=" + kt::md5_hex_of(cue) +
                                                "\n");
        env.reset(new kt::ScopedEnv("KELVORN_TEST_DIGESTS", dir / "digests.txt"));
    }
};

// The exact output of a Top Gear Rally build that is not on a terminal.
std::string tgr_plain_output(const std::string& rom_name, const std::string& md5, const std::string& folder,
                             const std::string& note = "") {
    return verdict(rom_name, md5, true, note) +
           "  0%  Reading the ROM\n"
           " 50%  Writing the game's data\n"
           " 90%  Finishing\n"
           "100%  Done\n"
           "Top Gear Rally is ready in " + folder + "\n";
}

// What a finished Top Gear Rally build folder must hold.
void expect_tgr_build(const std::string& folder, const std::string& rom_z64) {
    std::string standin = kt::read_file(kt::join(kt::join(kt::binary_dir(), "games"), "tollvane.exe"));
    ASSERT_FALSE(standin.empty());
    std::vector<std::string> want = {
        ".kelvorn=5:" + kt::md5_hex_of("0.74\n"),
        "Top Gear Rally.exe=" + std::to_string(standin.size()) + ":" + kt::md5_hex_of(standin),
        "romdata.bin=7927120:" + kt::md5_hex_of(rom_z64.substr(461488)),
    };
    EXPECT_EQ(kt::snapshot(folder), want);
}

TEST(CliUsage, HelpListsEveryOption) {
    kcli::CliResult r = kcli::run_cli(testing_cli(), {"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("Usage: kelvorn-cli", 0), 0u) << r.out;
    for (const char* option :
         {"--game", "--dest", "--bin", "--cue", "--rom", "--replace", "--threads", "--no-space-check", "--help"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST(CliUsage, ErrorsExitTwoAndWriteNothing) {
    Inputs in;
    kt::TempDir out("cli-dest");
    std::string dest = out / "games";
    std::string lonely = in.dir / "lonely.bin";
    kt::write_file(lonely, in.disc);
    std::string orphan = in.dir / "orphan.cue";
    kt::write_file(orphan, "FILE \"missing.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--bogus", "--dest", dest}, "unknown option --bogus"},
        {{"-x"}, "unknown option -x"},
        {{"--build", "--game", "tgr", "--rom", in.rom_path, "--dest", dest}, "unknown option --build"},
        {{"--dest", dest, "stray"}, "unexpected argument stray"},
        {{"--game"}, "missing value for --game"},
        {{"--game", "tgr", "--rom", in.rom_path, "--dest"}, "missing value for --dest"},
        {{"--dest", dest, "--bin"}, "missing value for --bin"},
        {{"--dest", dest, "--cue"}, "missing value for --cue"},
        {{"--game", "tgr", "--dest", dest, "--rom"}, "missing value for --rom"},
        {{"--game", "tgr", "--dest", dest, "--rom", ""}, "empty value for --rom"},
        {{"--game", "tgr", "--dest", dest, "--rom", std::string(1500, 'r')}, "value too long for --rom"},
        {{"--game", "tgr", "--dest", dest}, "Top Gear Rally needs --rom"},
        {{"--game", "tgr", "--rom", in.rom_path, "--dest", dest, "--threads"}, "missing value for --threads"},
        {{"--game", "tgr", "--rom", in.rom_path, "--dest", dest, "--threads", "0"},
         "--threads takes a whole number from 1 to 64, not 0"},
        {{"--game", "tgr", "--rom", in.rom_path, "--dest", dest, "--threads", "65"},
         "--threads takes a whole number from 1 to 64, not 65"},
        {{"--game", "tgr", "--rom", in.rom_path, "--dest", dest, "--threads", "99999999999"},
         "--threads takes a whole number from 1 to 64, not 99999999999"},
        {{"--game", "tgr", "--rom", in.rom_path, "--dest", dest, "--threads", "-2"},
         "--threads takes a whole number from 1 to 64, not -2"},
        {{"--game", "tgr", "--rom", in.rom_path, "--dest", dest, "--threads", "2x"},
         "--threads takes a whole number from 1 to 64, not 2x"},
        {{"--game", "tgr", "--rom", in.rom_path, "--dest", dest, "--threads", ""}, "empty value for --threads"},
        // The value is compared exactly, as the window does: TGR is Boss Rally.
        {{"--game", "TGR", "--rom", in.rom_path, "--dest", dest}, "Boss Rally needs --bin or --cue (--game tgr"},
        {{"--dest", dest}, "Boss Rally needs --bin or --cue"},
        {{"--bin", lonely, "--dest", dest}, "no cue sheet beside the disc image"},
        {{"--cue", orphan, "--dest", dest}, "the cue sheet names no disc image that exists"},
        // A file that is not there, whichever option names it: the command
        // is wrong, and no partner search or check runs.
        {{"--game", "tgr", "--rom", in.dir / "none.z64", "--dest", dest}, "cannot find " + in.dir / "none.z64"},
        {{"--bin", in.dir / "none.bin", "--dest", dest}, "cannot find " + in.dir / "none.bin"},
        {{"--cue", in.dir / "none.cue", "--dest", dest}, "cannot find " + in.dir / "none.cue"},
        {{"--bin", lonely, "--cue", in.dir / "none.cue", "--dest", dest}, "cannot find " + in.dir / "none.cue"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.args) shown += "[" + a.substr(0, 40) + "] ";
        SCOPED_TRACE(shown);
        kcli::CliResult r = kcli::run_cli(testing_cli(), c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("kelvorn-cli: " + c.message, 0), 0u) << r.err;
        EXPECT_NE(r.err.find("kelvorn-cli --help"), std::string::npos) << r.err;
        EXPECT_FALSE(kt::exists(dest));
    }
}

TEST(CliChecks, RejectedInputsExitThreeBeforeAnythingIsWritten) {
    Inputs in;
    kt::TempDir out("cli-dest");
    std::string dest = out / "games";
    std::string changed_rom = in.rom;
    changed_rom[461488] ^= 1;
    kt::write_file(in.dir / "changed.z64", changed_rom);
    std::string changed_disc = in.disc;
    changed_disc[0] ^= 1;
    kt::write_file(in.dir / "changed.bin", changed_disc);
    kt::write_file(in.dir / "changed.cue", in.cue);  // accepted: pairs with changed.bin
    std::string other_cue = in.cue + "REM\n";
    kt::TempDir other("cli-other");
    kt::write_file(other / "disc.bin", in.disc);
    kt::write_file(other / "disc.cue", other_cue);
    std::string md5_rom = kt::md5_hex_of(in.rom), md5_disc = kt::md5_hex_of(in.disc),
                md5_cue = kt::md5_hex_of(in.cue);
    struct Case {
        const char* name;
        std::string program;
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {"ROM one bit off", testing_cli(), {"--game", "tgr", "--rom", in.dir / "changed.z64", "--dest", dest},
         verdict("changed.z64", kt::md5_hex_of(changed_rom), false, NOT_ROM)},
        // The release build never takes fixture digests.
        {"release build", kcli::cli_program("kelvorn-cli"), {"--game", "tgr", "--rom", in.rom_path, "--dest", dest},
         verdict("rom.z64", md5_rom, false, NOT_ROM)},
        // Both inputs of the disc game are checked and shown, image first.
        {"disc image off, cue good", testing_cli(), {"--bin", in.dir / "changed.bin", "--dest", dest},
         verdict("changed.bin", kt::md5_hex_of(changed_disc), false,
                 "This is not the retail Boss Rally disc image (a raw BIN of the whole CD).") +
             verdict("changed.cue", md5_cue, true)},
        {"disc image good, cue off", testing_cli(), {"--bin", other / "disc.bin", "--dest", dest},
         verdict("disc.bin", md5_disc, true) +
             verdict("disc.cue", kt::md5_hex_of(other_cue), false,
                     "This cue sheet does not describe the retail Boss Rally disc.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kcli::CliResult r = kcli::run_cli(c.program, c.args);
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.out, c.out);
        EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
        EXPECT_FALSE(kt::exists(dest));
    }
}

// The disc image and cue sheet find each other as on the files page. The
// random image is no disc, so the build itself fails (exit 1) and leaves
// nothing behind.
TEST(CliChecks, DiscInputsFindTheirPartner) {
    Inputs in;
    kt::TempDir out("cli-dest");
    std::string dest = out / "games";
    // The only '.' lies in a folder name: the cue sheet is sought beside
    // that folder, cut inside its name.
    kt::make_dirs(in.dir / "set.v2");
    kt::write_file(kt::join(in.dir / "set.v2", "image"), in.disc);
    kt::write_file(in.dir / "set.cue", in.cue);
    kt::write_file(in.dir / "CAPS.CUE", in.cue);
    std::string md5_disc = kt::md5_hex_of(in.disc), md5_cue = kt::md5_hex_of(in.cue);
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string image, sheet;  // the names the verdicts show
    } cases[] = {
        {"image finds the sheet beside it", {"--bin", in.bin_path}, "disc.bin", "disc.cue"},
        {"sheet finds the image it names", {"--cue", in.cue_path}, "disc.bin", "disc.cue"},
        {"a .CUE given as the image is the sheet", {"--bin", in.dir / "CAPS.CUE"}, "disc.bin", "CAPS.CUE"},
        {"cut at the last dot, in a folder name", {"--bin", kt::join(in.dir / "set.v2", "image")}, "image", "set.cue"},
        {"both given", {"--bin", in.bin_path, "--cue", in.dir / "CAPS.CUE"}, "disc.bin", "CAPS.CUE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        args.push_back("--dest");
        args.push_back(dest);
        kcli::CliResult r = kcli::run_cli(testing_cli(), args);
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_EQ(r.out.rfind(verdict(c.image, md5_disc, true) + verdict(c.sheet, md5_cue, true), 0), 0u) << r.out;
        // The failure is one line from the build on stderr.
        ASSERT_EQ(r.err.rfind("kelvorn-cli: ", 0), 0u) << r.err;
        EXPECT_GT(r.err.size(), 14u);
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        // The destination was made by the build; no staging folder or
        // build folder is left in it.
        EXPECT_EQ(kt::snapshot(dest), std::vector<std::string>{}) << r.err;
    }
}

TEST(CliBuild, TopGearRallyPlainLines) {
    Inputs in;
    kt::TempDir out("cli-dest");
    std::string dest = kt::join(out / "nested", "games");
    std::string folder = kt::join(dest, "Top Gear Rally");
    std::string md5 = kt::md5_hex_of(in.rom);
    kcli::CliResult r = kcli::run_cli(testing_cli(), {"--game", "tgr", "--rom", in.rom_path, "--dest", dest});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, tgr_plain_output("rom.z64", md5, folder));
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    expect_tgr_build(folder, in.rom);

    // The same ROM in v64 order builds the same folder; its verdict carries
    // the note about the order.
    kt::TempDir out2("cli-dest");
    std::string v64_path = in.dir / "rom.v64";
    kt::write_file(v64_path, kt::rom_as_v64(in.rom));
    std::string folder2 = kt::join(out2.path, "Top Gear Rally");
    r = kcli::run_cli(testing_cli(), {"--rom", v64_path, "--game", "tgr", "--dest", out2.path});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, tgr_plain_output("rom.v64", kt::md5_hex_of(kt::rom_as_v64(in.rom)), folder2,
                                      "A .v64 dump: in .z64 byte order its MD5 is " + md5 + "."));
    expect_tgr_build(folder2, in.rom);
}

TEST(CliBuild, DefaultDestinationIsTheWindowsOne) {
    Inputs in;
#ifdef _WIN32
    PWSTR documents = nullptr;
    ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documents), S_OK);
    char utf8[1024];
    WideCharToMultiByte(CP_UTF8, 0, documents, -1, utf8, sizeof utf8, nullptr, nullptr);
    CoTaskMemFree(documents);
    std::string games = kt::join(utf8, "Games");
    kt::TempDir home("cli-home");  // unused: the Documents folder decides
#else
    kt::TempDir home("cli-home");
    kt::ScopedEnv env("HOME", home.path);
    std::string games = kt::join(home.path, "Games");
#endif
    std::string folder = kt::join(games, "Top Gear Rally");
    ASSERT_FALSE(kt::exists(folder)) << "an earlier run left " << folder;
    bool had_games = kt::exists(games);
    kcli::CliResult r = kcli::run_cli(testing_cli(), {"--game", "tgr", "--rom", in.rom_path});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, tgr_plain_output("rom.z64", kt::md5_hex_of(in.rom), folder));
    expect_tgr_build(folder, in.rom);
    kt::remove_all(had_games ? folder : games);
}

TEST(CliDestination, ForeignFolderIsRefusedAndEarlierBuildNeedsReplace) {
    Inputs in;
    std::vector<std::string> args = {"--game", "tgr", "--rom", in.rom_path, "--dest"};
    std::string foreign_text =
        " already exists and was not made by Kelvorn, so it will not be replaced. Move it away or choose another "
        "folder.\n";
    struct Case {
        const char* name;
        bool folder, marker, replace;
        int code;
    } cases[] = {
        {"foreign folder", true, false, false, 4},
        {"foreign folder, --replace", true, false, true, 4},
        {"plain file of that name", false, false, true, 4},
        {"earlier build", true, true, false, 4},
        {"earlier build, --replace", true, true, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::TempDir dest("cli-dest");
        std::string folder = dest / "Top Gear Rally";
        if (c.folder) {
            kt::make_dirs(folder);
            kt::write_file(kt::join(folder, "save.dat"), "the user's own file");
            if (c.marker) kt::write_file(kt::join(folder, ".kelvorn"), "0.74\n");
        } else {
            kt::write_file(folder, "a file named like the build folder");
        }
        std::vector<std::string> before = kt::snapshot(dest.path);
        std::vector<std::string> a = args;
        a.push_back(dest.path);
        if (c.replace) a.push_back("--replace");
        kcli::CliResult r = kcli::run_cli(testing_cli(), a);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_EQ(r.out.rfind(verdict("rom.z64", kt::md5_hex_of(in.rom), true), 0), 0u) << r.out;
        if (c.code == 0) {
            expect_tgr_build(folder, in.rom);  // save.dat went with the earlier build
            EXPECT_EQ(r.err, "");
            continue;
        }
        EXPECT_EQ(kt::snapshot(dest.path), before);
        if (c.marker)
            EXPECT_EQ(r.err, "An earlier build is at " + folder +
                                 ".\nRun again with --replace to replace it. Your saved games are kept; they live "
                                 "in your AppData folder, not in the game's.\n");
        else
            EXPECT_EQ(r.err, folder + foreign_text);
    }
}

// What the build would remove must hold none of the inputs, and what it
// does not own stays untouched: both are refused before anything is written.
TEST(CliDestination, InputsAndForeignEntriesAreKept) {
    Inputs in;
    struct Case {
        const char* name;
        const char* game_folder;  // the build folder the inputs are kept in, or null
        const char* named;        // a folder of ours or the user's under another name, or null
        bool marked;
        std::vector<std::string> args;
        std::string err;  // with {F} for the folder concerned and {I} for the input
    } cases[] = {
        {"ROM kept in the earlier build", "Top Gear Rally", nullptr, true, {"--game", "tgr", "--replace"},
         "kelvorn-cli: {I} lies inside {F}, which this build would remove; move it elsewhere first\n"},
        {"disc image and cue sheet kept in the earlier build", "Boss Rally", nullptr, true, {"--replace"},
         "kelvorn-cli: {I} lies inside {F}, which this build would remove; move it elsewhere first\n"},
        {"an earlier build left aside", nullptr, ".Top Gear Rally.replaced", true, {"--game", "tgr"},
         "An earlier build is at {F}.\nRun again with --replace to replace it. Your saved games are kept; they "
         "live in your AppData folder, not in the game's.\n"},
        {"the user's folder named like the staging folder", nullptr, ".Top Gear Rally.building", false,
         {"--game", "tgr", "--replace"},
         "{F} already exists and was not made by Kelvorn, so it will not be replaced. Move it away or choose "
         "another folder.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::TempDir dest("cli-keep");
        std::string folder = c.game_folder ? dest / c.game_folder : dest / c.named;
        kt::make_dirs(folder);
        kt::write_file(kt::join(folder, "save.dat"), "the user's own file");
        if (c.marked) kt::write_file(kt::join(folder, ".kelvorn"), "0.74\n");
        std::vector<std::string> args = c.args;
        std::string input;
        if (c.game_folder && std::string(c.game_folder) == "Boss Rally") {
            input = kt::join(folder, "disc.bin");
            kt::write_file(input, in.disc);
            kt::write_file(kt::join(folder, "disc.cue"), in.cue);
            args.insert(args.end(), {"--bin", input});
        } else {
            input = c.game_folder ? kt::join(folder, "rom.z64") : in.rom_path;
            kt::write_file(input, in.rom);
            args.insert(args.end(), {"--rom", input});
        }
        args.insert(args.end(), {"--dest", dest.path});
        std::vector<std::string> before = kt::snapshot(dest.path);
        kcli::CliResult r = kcli::run_cli(testing_cli(), args);
        EXPECT_EQ(r.code, 4) << r.err;
        std::string want = c.err;
        want.replace(want.find("{F}"), 3, folder);
        if (want.find("{I}") != std::string::npos) want.replace(want.find("{I}"), 3, input);
        EXPECT_EQ(r.err, want);
        EXPECT_EQ(kt::snapshot(dest.path), before);
    }
}

// A folder, FIFO or device given as an input is refused at once.
TEST(CliUsage, InputsThatAreNotFilesAreRefusedAtOnce) {
    Inputs in;
    kt::make_dirs(in.dir / "folder.z64");
    std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--game", "tgr", "--rom", in.dir / "folder.z64"}, in.dir / "folder.z64"},
#ifndef _WIN32
        {{"--bin", in.bin_path, "--cue", in.dir / "fifo.cue"}, in.dir / "fifo.cue"},
        {{"--bin", in.dir / "fifo.cue", "--cue", in.cue_path}, in.dir / "fifo.cue"},
        {{"--bin", in.bin_path, "--cue", "/dev/zero"}, "/dev/zero"},
#endif
    };
#ifndef _WIN32
    ASSERT_EQ(mkfifo((in.dir / "fifo.cue").c_str(), 0600), 0);
#endif
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        kt::TempDir dest("cli-special");
        std::vector<std::string> args = c.first;
        args.insert(args.end(), {"--dest", dest.path});
        kcli::CliResult r = kcli::run_cli(testing_cli(), args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err, "kelvorn-cli: " + c.second +
                             " is a folder or a device, not a file\nRun kelvorn-cli --help for usage.\n");
        EXPECT_TRUE(kt::snapshot(dest.path).empty());
    }
}

#ifndef _WIN32
// A POSIX file name is any bytes: what is not UTF-8 is printed as U+FFFD,
// in messages and verdicts alike, never raw. (On Windows every name is
// UTF-16 and reaches the program converted.)
TEST(CliUsage, NamesThatAreNotUtf8ArePrintedReplaced) {
    Inputs in;
    kt::TempDir dest("cli-bytes");
    const std::string latin1 = in.dir / "caf\xE9.z64", shown = in.dir / "caf\xEF\xBF\xBD.z64";
    kcli::CliResult missing = kcli::run_cli(testing_cli(), {"--game", "tgr", "--rom", latin1, "--dest", dest.path});
    EXPECT_EQ(missing.code, 2);
    EXPECT_EQ(missing.err, "kelvorn-cli: cannot find " + shown + "\nRun kelvorn-cli --help for usage.\n");

    kt::write_file(latin1, std::string(100, 'x'));
    kcli::CliResult checked = kcli::run_cli(testing_cli(), {"--game", "tgr", "--rom", latin1, "--dest", dest.path});
    EXPECT_EQ(checked.code, 3);
    EXPECT_EQ(checked.out.rfind("caf\xEF\xBF\xBD.z64\n", 0), 0u) << checked.out;
    EXPECT_EQ(checked.out.find("\xE9"), std::string::npos);
}
#endif

TEST(CliBuild, FailedBuildExitsOne) {
    Inputs in;
    kt::TempDir dest("cli-dest");
    // The destination lies below a plain file: it cannot be made.
    kt::write_file(dest / "file", "x");
    std::string below = kt::join(dest / "file", "games");
    kcli::CliResult r = kcli::run_cli(testing_cli(), {"--game", "tgr", "--rom", in.rom_path, "--dest", below});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kelvorn-cli: cannot make the folder " + below + "\n");
    EXPECT_EQ(r.out, verdict("rom.z64", kt::md5_hex_of(in.rom), true));
}

// A sparse disc image big enough that its check runs for a good while, and
// its cue sheet.
std::string make_big_image(const kt::TempDir& dir) {
    std::string bin = dir / "big.bin";
#ifdef _WIN32
    HANDLE h = CreateFileA(bin.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = (LONGLONG)16 << 30;
    DWORD bytes = 0;
    if (h != INVALID_HANDLE_VALUE) DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &bytes, nullptr);
    bool ok = h != INVALID_HANDLE_VALUE && SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
#else
    FILE* f = fopen(bin.c_str(), "wb");
    bool ok = f && ftruncate(fileno(f), (off_t)16 << 30) == 0;  // sparse: read in full, stored in nothing
    if (f) fclose(f);
#endif
    kt::write_file(dir / "big.cue", "FILE \"big.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
    return ok ? bin : "";
}

// 1 when the child holds path open.
bool holds_open(const kcli::Child& child, const std::string& path) {
#ifdef _WIN32
    (void)child;
    // Opening without sharing fails while anyone else has it open.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
#else
    std::string fds = "/proc/" + std::to_string(child.id) + "/fd";
    DIR* dir = opendir(fds.c_str());
    if (!dir) return false;
    bool found = false;
    while (dirent* e = readdir(dir)) {
        char target[4096];
        ssize_t n = readlink((fds + "/" + e->d_name).c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, (size_t)n) == path) found = true;
    }
    closedir(dir);
    return found;
#endif
}

// Ctrl+C (SIGINT; on Windows Ctrl+Break to the child's process group, the
// one console event that reaches a group of its own) while a big disc image
// is being checked stops the run with 130 before anything is written. The
// second press does nothing more.
TEST(CliSignal, InterruptDuringTheCheck) {
    kt::TempDir in("cli-sig");
    std::string bin = make_big_image(in);
    ASSERT_FALSE(bin.empty());
    std::string dest = in / "games";
    kt::TempDir out("cli-out");
#ifdef _WIN32
    // The console event needs a console shared with the child; one that
    // is there already refuses a second.
    if (!AllocConsole() && GetLastError() != ERROR_ACCESS_DENIED)
        GTEST_SKIP() << "no console to send Ctrl+Break in (error " << GetLastError() << ")";
#endif
    kcli::Child child;
    ASSERT_TRUE(kcli::start_cli(testing_cli(), {"--bin", bin, "--dest", dest}, out.path, &child, true));
    // The handler is in place before the image is opened for its digest.
    bool reading = false;
    for (int i = 0; i < 3000 && !(reading = holds_open(child, bin)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (int press = 0; press < 2; ++press) {
#ifdef _WIN32
        if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, child.process_id)) {
            // Wine sends console events only within a real terminal's
            // console; the tmux test (cli_terminal_bar) covers it there.
            DWORD error = GetLastError();
            TerminateProcess((HANDLE)(intptr_t)child.id, 1);
            kcli::finish_cli(child);
            GTEST_SKIP() << "this console does not pass Ctrl+Break on (error " << error << ")";
        }
#else
        kill((pid_t)child.id, SIGINT);
#endif
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kcli::CliResult r = kcli::finish_cli(child);
    ASSERT_TRUE(reading);
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_EQ(r.out, "");  // no verdict for a check that did not finish
    EXPECT_EQ(r.err, "kelvorn-cli: cancelled; nothing was written\n");
    EXPECT_FALSE(kt::exists(dest));
}

}  // namespace
