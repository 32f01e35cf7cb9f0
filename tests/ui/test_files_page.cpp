// The game files page under Wine: rows, partner search, checks on worker
// threads, stale results, verdict colours, the Build rule and the whole
// Top Gear Rally wizard through clicks.
#include <gtest/gtest.h>

#include <filesystem>

#include "builder/build.h"
#include "support/test_support.h"
#include "ui/ui_driver.h"
#include "ui/ui_fixtures.h"

using namespace ui;

namespace {

const char* const RETAIL_LAYOUT_STARTS[13] = {"00:00:00", "12:55:18", "16:22:22", "20:37:55", "24:08:09",
                                              "27:27:49", "32:25:28", "35:56:07", "39:53:05", "43:32:05",
                                              "47:12:07", "50:25:57", "55:15:52"};

// A cue sheet with the retail disc's tracks, naming bin_name.
std::string layout_cue(const std::string& bin_name) {
    std::string text = "FILE \"" + bin_name + "\" BINARY\r\n";
    for (int t = 1; t <= 13; ++t) {
        char line[128];
        snprintf(line, sizeof line, "  TRACK %02d %s\r\n    INDEX 01 %s\r\n", t, t == 1 ? "MODE1/2352" : "AUDIO",
                 RETAIL_LAYOUT_STARTS[t - 1]);
        text += line;
    }
    return text;
}

const wchar_t* const LAYOUT_NOTE = L"A different cue sheet, with the retail disc's track layout.";

// The file rows, by the name each shows (see verdict_label).
const wchar_t* const BIN_ROW = L"Disc image (.bin)";
const wchar_t* const CUE_ROW = L"Cue sheet (.cue)";
const wchar_t* const ROM_ROW = L"Cartridge ROM";

std::vector<Expected> file_row(const wchar_t* label, const char* md5, int y, int id) {
    static std::vector<std::wstring> keep;  // the texts outlive the table
    keep.push_back(L"Expected MD5  " + widen(md5));
    return {
        {L"Static", label, SS_NOPREFIX, 24, y, 300, 22, 0, "bold"},
        {L"Button", L"Choose...", WS_TABSTOP, 464, y - 3, 100, 28, id, "normal"},
        {L"Static", keep.back().c_str(), SS_NOPREFIX, 24, y + 24, 540, 18, 0, "mono"},
        {L"Static", nullptr, SS_NOPREFIX, 24, y + 44, 540, 54, 0, "mono"},
    };
}

std::vector<Expected> files_page(GameKind game) {
    std::vector<Expected> page;
    if (game == GAME_BOSS_RALLY) {
        page.push_back({L"Static", L"Your copy of Boss Rally", SS_NOPREFIX, 24, 20, 540, 32, 0, "title"});
        page.push_back({L"Static",
                        L"The game's data is copyrighted, so the builder cannot include it. Provide a BIN/CUE "
                        L"image of the retail Boss Rally CD (the data track and the 12 music tracks). Choosing "
                        L"either file finds the other beside it.",
                        SS_NOPREFIX, 24, 58, 540, 56, 0, "normal"});
        for (const auto& e : file_row(L"Disc image (.bin)", "31c64f9b1e09788c2dfc384b44af8f6c", 122, IDC_CHOOSE_BIN))
            page.push_back(e);
        for (const auto& e : file_row(L"Cue sheet (.cue)", "a48a4a5860558177c3041afee57e03c9", 228, IDC_CHOOSE_CUE))
            page.push_back(e);
    } else {
        page.push_back({L"Static", L"Your copy of Top Gear Rally", SS_NOPREFIX, 24, 20, 540, 32, 0, "title"});
        page.push_back({L"Static",
                        L"The game's data is copyrighted, so the builder cannot include it. Provide a ROM of the "
                        L"Top Gear Rally (USA) cartridge, in .z64, .v64 or .n64 byte order.",
                        SS_NOPREFIX, 24, 58, 540, 56, 0, "normal"});
        for (const auto& e : file_row(L"Cartridge ROM", "6f7030284b6bc84a49e07da864526b52", 122, IDC_CHOOSE_ROM))
            page.push_back(e);
    }
    page.push_back({L"Button", L"Back", WS_TABSTOP, 352, 352, 100, 28, IDC_BACK, "normal"});
    page.push_back({L"Button", L"Build", WS_TABSTOP | BS_DEFPUSHBUTTON, 464, 352, 100, 28, IDC_BUILD, "normal"});
    return page;
}

bool build_enabled(const App& app) {
    Control build;
    return app.find_id(IDC_BUILD, &build) && build.enabled;
}

std::wstring checking(const std::string& name) { return widen(name) + L": checking..."; }

std::wstring verdict(const std::string& name, const std::string& md5, bool ok, const std::wstring& note) {
    std::wstring text = widen(name) + L"\r\nYour file's MD5  " + widen(md5) + L"  " +
                        (ok ? L"\x2713 matches" : L"\x2717 does not match");
    if (!note.empty()) text += L"\r\n" + note;
    return text;
}

// Waits for a row's verdict label to read text.
bool wait_text(const App& app, const wchar_t* row, const std::wstring& text, int timeout_ms = 20000) {
    return app.wait_until([&] { return verdict_label(app, row).text == text; }, timeout_ms);
}

// Pixels of the label's rectangle that are clearly green or clearly red.
struct Colours {
    int green = 0, red = 0;
};

Colours colours_in(const Image& image, const RECT& r) {
    Colours c;
    for (int y = std::max(0L, r.top); y < std::min((LONG)image.height, r.bottom); ++y)
        for (int x = std::max(0L, r.left); x < std::min((LONG)image.width, r.right); ++x) {
            int red, green, blue;
            image.pixel(x, y, &red, &green, &blue);
            if (green >= 96 && red < 64 && blue < 64) ++c.green;
            if (red >= 150 && green < 64 && blue < 64) ++c.red;
        }
    return c;
}

std::string md5_of_file(const std::string& path) { return kt::md5_hex_of(kt::read_file(path)); }

class FilesPage : public ::testing::Test {
protected:
    void SetUp() override {
        bin = dir / "game.bin";
        cue = dir / "game.cue";
        kt::write_file(bin, kt::random_bytes(1 << 20, 3));
        kt::write_file(cue, layout_cue("game.bin"));
    }
    // The testing build with the fixture digests given as accepted.
    std::vector<std::wstring> digests_env(const std::string& lines) {
        std::string file = dir / "digests.txt";
        kt::write_file(file, lines);
        return {L"KELVORN_TEST_DIGESTS=" + widen(file)};
    }
    bool start_on_files_page(App& app, const std::wstring& exe, std::vector<std::wstring> args,
                             const std::vector<std::wstring>& env = {}) {
        if (!app.start(exe, args, env)) return false;
        app.click(IDC_CONTINUE);
        return app.wait_title(args.size() >= 2 && args[1] == L"tgr" ? L"Your copy of Top Gear Rally"
                                                                     : L"Your copy of Boss Rally",
                              10000);
    }
    kt::TempDir dir{"ui-files"};
    std::string bin, cue;
};

}  // namespace

TEST_F(FilesPage, LayoutsOfBothGamesWithNothingChosen) {
    KV_REQUIRE_DISPLAY();
    for (GameKind game : std::vector<GameKind>{GAME_BOSS_RALLY, GAME_TOP_GEAR_RALLY}) {
        App app;
        ASSERT_TRUE(start_on_files_page(app, kelvorn_exe(), {L"--game", game ? std::wstring(L"tgr") : std::wstring(L"br")}));
        auto page = app.controls();
        EXPECT_EQ(compare_page(page, files_page(game), expected_dpi()), "");
        for (const wchar_t* row : game ? std::vector<const wchar_t*>{ROM_ROW} : std::vector<const wchar_t*>{BIN_ROW, CUE_ROW})
            EXPECT_EQ(verdict_label(app, row).text, L"No file chosen");
        EXPECT_FALSE(build_enabled(app));
        app.screenshot(shot_name(game ? "files_tgr" : "files_br"));
        // Cancelling a file dialog changes nothing.
        ASSERT_TRUE(app.cancel_dialog_of(game ? IDC_CHOOSE_ROM : IDC_CHOOSE_BIN));
        EXPECT_EQ(verdict_label(app, game ? ROM_ROW : BIN_ROW).text, L"No file chosen");
        app.close_window();
        EXPECT_EQ(app.wait_exit(10000), 0);
    }
}

TEST_F(FilesPage, DiscImageFindsItsCueSheetAndIsCheckedFirst) {
    KV_REQUIRE_DISPLAY();
    App app;
    auto env = digests_env("disc_image=" + md5_of_file(bin) + "\ncue_sheet=" + md5_of_file(cue) + "\n");
    ASSERT_TRUE(start_on_files_page(app, kelvorn_testing_exe(), {}, env));
    app.hold_threads(2);
    ASSERT_TRUE(app.choose_through_dialog(IDC_CHOOSE_BIN, widen(bin)));
    ASSERT_TRUE(app.wait_held(2, 10000));
    EXPECT_EQ(verdict_label(app, BIN_ROW).text, checking("game.bin"));
    EXPECT_EQ(verdict_label(app, CUE_ROW).text, checking("game.cue"));
    EXPECT_FALSE(build_enabled(app));
    app.screenshot(shot_name("checking"));

    // The first thread started is the disc image's.
    app.release_one();
    ASSERT_TRUE(wait_text(app, BIN_ROW, verdict("game.bin", md5_of_file(bin), true, L"")));
    EXPECT_EQ(verdict_label(app, CUE_ROW).text, checking("game.cue"));
    EXPECT_FALSE(build_enabled(app));
    app.release_one();
    ASSERT_TRUE(wait_text(app, CUE_ROW, verdict("game.cue", md5_of_file(cue), true, L"")));
    EXPECT_TRUE(app.wait_until([&] { return build_enabled(app); }, 5000));
    Image shot = app.screenshot(shot_name("both_accepted"), false);
    EXPECT_GT(colours_in(shot, verdict_label(app, BIN_ROW).rect).green, 20);
    EXPECT_GT(colours_in(shot, verdict_label(app, CUE_ROW).rect).green, 20);
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

struct CueChoice {
    const char* name;
    int button;              // IDC_CHOOSE_BIN or IDC_CHOOSE_CUE
    const char* file;        // chosen file's name in the fixture folder
    bool bin_exists;         // game.bin beside it
    bool bin_row_filled;     // the disc image row gets the partner
};

class CueSheetChoice : public FilesPage, public ::testing::WithParamInterface<CueChoice> {};

TEST_P(CueSheetChoice, FillsTheRowsItShould) {
    KV_REQUIRE_DISPLAY();
    const CueChoice& c = GetParam();
    if (!c.bin_exists) kt::remove_all(bin);
    std::string chosen = dir / c.file;
    if (chosen != cue) {
        // Removed first: Wine finds "game.cue" under "GAME.CUE" as well.
        std::string text = kt::read_file(cue);
        kt::remove_all(cue);
        kt::write_file(chosen, text);
    }
    App app;
    ASSERT_TRUE(start_on_files_page(app, kelvorn_exe(), {}));
    ASSERT_TRUE(app.choose_through_dialog(c.button, widen(chosen)));
    // Whatever the button, the file lands in the cue sheet row.
    ASSERT_TRUE(wait_text(app, CUE_ROW, verdict(c.file, md5_of_file(chosen), true, LAYOUT_NOTE)))
        << narrow(verdict_label(app, CUE_ROW).text);
    if (c.bin_row_filled)
        EXPECT_TRUE(wait_text(app, BIN_ROW,
                              verdict("game.bin", md5_of_file(bin), false,
                                      L"This is not the retail Boss Rally disc image (a raw BIN of the whole CD).")))
            << narrow(verdict_label(app, BIN_ROW).text);
    else
        EXPECT_EQ(verdict_label(app, BIN_ROW).text, L"No file chosen");
    Sleep(300);
    EXPECT_FALSE(build_enabled(app));
    app.screenshot(shot_name("page"));
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CueSheetChoice,
    ::testing::Values(CueChoice{"cue_button_finds_image", IDC_CHOOSE_CUE, "game.cue", true, true},
                      CueChoice{"image_missing", IDC_CHOOSE_CUE, "game.cue", false, false},
                      CueChoice{"capitals_through_image_button", IDC_CHOOSE_BIN, "GAME.CUE", true, true},
                      CueChoice{"no_cue_extension_no_partner_search", IDC_CHOOSE_CUE, "sheet.txt", true, false}),
    [](const ::testing::TestParamInfo<CueChoice>& info) { return std::string(info.param.name); });

TEST_F(FilesPage, VerdictColoursGreenAndRedOnlyWhenNoCheckIsPending) {
    KV_REQUIRE_DISPLAY();
    App app;
    ASSERT_TRUE(start_on_files_page(app, kelvorn_exe(), {}));
    app.hold_threads(2);
    ASSERT_TRUE(app.choose_through_dialog(IDC_CHOOSE_CUE, widen(cue)));
    ASSERT_TRUE(app.wait_held(2, 10000));
    // The cue sheet's result arrives while the image's check still runs: its
    // text shows, in the default colour.
    app.release_one();
    ASSERT_TRUE(wait_text(app, CUE_ROW, verdict("game.cue", md5_of_file(cue), true, LAYOUT_NOTE)));
    Image pending = app.screenshot(shot_name("pending"), false);
    Colours c = colours_in(pending, verdict_label(app, CUE_ROW).rect);
    EXPECT_EQ(c.green, 0);
    EXPECT_EQ(c.red, 0);
    // When the last check reports, every verdict takes its colour.
    app.release_one();
    ASSERT_TRUE(wait_text(app, BIN_ROW,
                          verdict("game.bin", md5_of_file(bin), false,
                                  L"This is not the retail Boss Rally disc image (a raw BIN of the whole CD).")));
    // As the program drew it: a label left unpainted keeps its old colour.
    Image done = app.screenshot(shot_name("done"), false);
    Colours cue_colours = colours_in(done, verdict_label(app, CUE_ROW).rect);
    Colours bin_colours = colours_in(done, verdict_label(app, BIN_ROW).rect);
    EXPECT_GT(cue_colours.green, 20);
    EXPECT_EQ(cue_colours.red, 0);
    EXPECT_GT(bin_colours.red, 20);
    EXPECT_EQ(bin_colours.green, 0);
    EXPECT_FALSE(build_enabled(app));
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

TEST_F(FilesPage, SecondChoiceWhileTheFirstIsCheckedShowsOnlyTheSecond) {
    KV_REQUIRE_DISPLAY();
    std::string first = dir / "first.z64", second = dir / "second.z64";
    write_rom(first, 11);
    write_rom(second, 12);
    App app;
    auto env = digests_env("cartridge_rom=" + md5_of_file(second) + "\n");
    ASSERT_TRUE(start_on_files_page(app, kelvorn_testing_exe(), {L"--game", L"tgr"}, env));
    app.hold_threads(1);
    ASSERT_TRUE(app.choose_through_dialog(IDC_CHOOSE_ROM, widen(first)));
    ASSERT_TRUE(app.wait_held(1, 10000));
    EXPECT_EQ(verdict_label(app, ROM_ROW).text, checking("first.z64"));
    ASSERT_TRUE(app.choose_through_dialog(IDC_CHOOSE_ROM, widen(second)));
    ASSERT_TRUE(wait_text(app, ROM_ROW, verdict("second.z64", md5_of_file(second), true, L"")));
    // The first check has not reported: Build waits for it.
    Sleep(300);
    EXPECT_FALSE(build_enabled(app));
    app.release_held();
    EXPECT_TRUE(app.wait_until([&] { return build_enabled(app); }, 10000));
    EXPECT_EQ(verdict_label(app, ROM_ROW).text, verdict("second.z64", md5_of_file(second), true, L""));
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

TEST_F(FilesPage, EveryVisitChecksTheChosenInputsAgain) {
    KV_REQUIRE_DISPLAY();
    std::string rom = dir / "game.z64";
    write_rom(rom, 5);
    const std::wstring rejected =
        verdict("game.z64", md5_of_file(rom), false, L"This is not Top Gear Rally (USA).");
    App app;
    // Given on the command line, the ROM counts as accepted until the page
    // is shown; the page then checks it (and the release build rejects it).
    app.hold_threads(1);
    ASSERT_TRUE(start_on_files_page(app, kelvorn_exe(), {L"--game", L"tgr", L"--rom", widen(rom)}));
    ASSERT_TRUE(app.wait_held(1, 10000));
    EXPECT_EQ(verdict_label(app, ROM_ROW).text, checking("game.z64"));
    EXPECT_FALSE(build_enabled(app));
    app.release_held();
    ASSERT_TRUE(wait_text(app, ROM_ROW, rejected));
    EXPECT_FALSE(build_enabled(app));

    app.click(IDC_BACK);
    ASSERT_TRUE(app.wait_title(L"Build a game", 10000));
    app.hold_threads(1);
    app.click(IDC_CONTINUE);
    ASSERT_TRUE(app.wait_title(L"Your copy of Top Gear Rally", 10000));
    ASSERT_TRUE(app.wait_held(2, 10000));
    EXPECT_EQ(verdict_label(app, ROM_ROW).text, checking("game.z64"));
    app.release_held();
    ASSERT_TRUE(wait_text(app, ROM_ROW, rejected));
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

TEST_F(FilesPage, SwitchingGamesKeepsTheDiscPaths) {
    KV_REQUIRE_DISPLAY();
    std::string rom = dir / "game.z64";
    write_rom(rom, 9);
    App app;
    ASSERT_TRUE(start_on_files_page(app, kelvorn_exe(), {L"--rom", widen(rom)}));
    ASSERT_TRUE(app.choose_through_dialog(IDC_CHOOSE_BIN, widen(bin)));
    ASSERT_TRUE(app.wait_until([&] { return verdict_label(app, CUE_ROW).text.rfind(L"game.cue\r\n", 0) == 0; }, 20000));

    app.click(IDC_BACK);
    ASSERT_TRUE(app.wait_title(L"Build a game", 10000));
    app.click(IDC_GAME_TOP_GEAR_RALLY);
    Sleep(200);
    app.click(IDC_CONTINUE);
    ASSERT_TRUE(app.wait_title(L"Your copy of Top Gear Rally", 10000));
    EXPECT_EQ(compare_page(app.controls(), files_page(GAME_TOP_GEAR_RALLY), expected_dpi()), "");
    EXPECT_TRUE(wait_text(app, ROM_ROW,
                          verdict("game.z64", md5_of_file(rom), false, L"This is not Top Gear Rally (USA).")));

    app.click(IDC_BACK);
    ASSERT_TRUE(app.wait_title(L"Build a game", 10000));
    app.click(IDC_GAME_BOSS_RALLY);
    Sleep(200);
    app.click(IDC_CONTINUE);
    ASSERT_TRUE(app.wait_title(L"Your copy of Boss Rally", 10000));
    EXPECT_TRUE(wait_text(app, BIN_ROW,
                          verdict("game.bin", md5_of_file(bin), false,
                                  L"This is not the retail Boss Rally disc image (a raw BIN of the whole CD).")));
    EXPECT_TRUE(wait_text(app, CUE_ROW, verdict("game.cue", md5_of_file(cue), true, LAYOUT_NOTE)));
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

TEST_F(FilesPage, BackWorksWhileALargeDiscImageIsChecked) {
    KV_REQUIRE_DISPLAY();
    std::string big = dir / "big.bin";
    kt::write_file(big, "");
    std::filesystem::resize_file(std::filesystem::u8path(big), 700ull * 1024 * 1024);
    App app;
    ASSERT_TRUE(start_on_files_page(app, kelvorn_exe(), {L"--bin", widen(big)}));
    ASSERT_EQ(verdict_label(app, BIN_ROW).text, checking("big.bin"));
    app.click(IDC_BACK);
    ASSERT_TRUE(app.wait_title(L"Build a game", 3000));
    app.click(IDC_CONTINUE);
    ASSERT_TRUE(app.wait_title(L"Your copy of Boss Rally", 3000));
    // Both checks end; the verdict of the big file shows.
    EXPECT_TRUE(app.wait_until([&] { return verdict_label(app, BIN_ROW).text.rfind(L"big.bin\r\n", 0) == 0; }, 120000))
        << narrow(verdict_label(app, BIN_ROW).text);
    // Closed while a check reads the file: the process ends at once, without
    // waiting for the check. The check is held at its start, so that it is
    // still running when the window closes, however fast the file is read.
    app.click(IDC_BACK);
    ASSERT_TRUE(app.wait_title(L"Build a game", 3000));
    int held = app.held_count();
    app.hold_threads(1);
    app.click(IDC_CONTINUE);
    ASSERT_TRUE(app.wait_title(L"Your copy of Boss Rally", 3000));
    ASSERT_TRUE(app.wait_held(held + 1, 10000));
    ASSERT_EQ(verdict_label(app, BIN_ROW).text, checking("big.bin"));
    app.close_window();
    EXPECT_EQ(app.wait_exit(3000), 0);
}

TEST_F(FilesPage, WholeTopGearRallyWizardThroughClicks) {
    KV_REQUIRE_DISPLAY();
    std::string rom = dir / "game.z64";
    write_rom(rom, 21);
    std::string dest = dir / "games";
    kt::make_dirs(dest);
    App app;
    auto env = digests_env("cartridge_rom=" + md5_of_file(rom) + "\n");
    ASSERT_TRUE(app.start(kelvorn_testing_exe(), {}, env));
    app.screenshot(shot_name("1_game"));
    app.click(IDC_GAME_TOP_GEAR_RALLY);
    ASSERT_TRUE(app.choose_through_dialog(IDC_CHOOSE_DEST, widen(dest)));
    ASSERT_TRUE(app.wait_until([&] { return label_under(app, L"Build into:").text == widen(dest); }, 5000));
    app.screenshot(shot_name("2_game_chosen"));
    app.click(IDC_CONTINUE);
    ASSERT_TRUE(app.wait_title(L"Your copy of Top Gear Rally", 10000));
    app.screenshot(shot_name("3_files"));
    ASSERT_TRUE(app.choose_through_dialog(IDC_CHOOSE_ROM, widen(rom)));
    ASSERT_TRUE(wait_text(app, ROM_ROW, verdict("game.z64", md5_of_file(rom), true, L"")));
    ASSERT_TRUE(app.wait_until([&] { return build_enabled(app); }, 5000));
    Image accepted = app.screenshot(shot_name("4_files_accepted"));
    EXPECT_GT(colours_in(accepted, verdict_label(app, ROM_ROW).rect).green, 20);
    app.click(IDC_BUILD);
    ASSERT_TRUE(app.wait_title(L"Top Gear Rally is ready", 30000)) << narrow(app.title());
    app.screenshot(shot_name("5_success"));
    std::string folder = kt::join(dest, "Top Gear Rally");
    EXPECT_EQ(kt::read_file(kt::join(folder, "romdata.bin")).size(), 8388608u - 461488u);
    app.click(IDC_PLAY);
    HWND game = wait_window_titled(L"Top Gear Rally (stand-in)", 20000);
    ASSERT_NE(game, nullptr);
    EXPECT_NE(dialog_texts(game).find(L"The game's data is complete in"), std::wstring::npos);
    App::answer(game, IDOK);
    app.click(IDC_CLOSE);
    EXPECT_EQ(app.wait_exit(10000), 0);
}
