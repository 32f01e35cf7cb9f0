// The wizard window under Wine: start-up, the command line, the game page,
// the folder dialog, and the building and result pages.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "ui/ui_driver.h"
#include "ui/ui_fixtures.h"

using namespace ui;

namespace {

const wchar_t* const BOSS = L"Boss Rally (PC, 1999)";
const wchar_t* const TOP_GEAR = L"Top Gear Rally (Nintendo 64, 1997)";

bool checked(const App& app, const wchar_t* radio) {
    Control c;
    return app.find_text(radio, &c) && c.checked;
}

std::wstring dest_label(const App& app) { return label_under(app, L"Build into:").text; }

// The marker file a build of Kelvorn leaves in its folder.
void write_marker(const std::string& folder) { kt::write_file(kt::join(folder, ".kelvorn"), "0.74\n"); }

void expect_complete_cartridge_build(const std::string& folder) {
    EXPECT_EQ(kt::read_file(kt::join(folder, ".kelvorn")), "0.74\n");
    EXPECT_EQ(kt::read_file(kt::join(folder, "romdata.bin")).size(), 8388608u - 461488u);
    EXPECT_TRUE(kt::exists(kt::join(folder, "Top Gear Rally.exe")));
    EXPECT_EQ(kt::run_windows_program(kt::join(folder, "Top Gear Rally.exe"), {"--check-data"}), 0);
}

}  // namespace

TEST(StartUp, NoArgumentsShowsTheGamePage) {
    KV_REQUIRE_DISPLAY();
    App app;
    ASSERT_TRUE(app.start(kelvorn_exe(), {}));
    int dpi = expected_dpi();
    EXPECT_EQ(app.dpi(), dpi);
    SIZE client = app.client_size();
    EXPECT_EQ(client.cx, MulDiv(588, dpi, 96));
    EXPECT_EQ(client.cy, MulDiv(400, dpi, 96));
    EXPECT_EQ(compare_page(app.controls(), GAME_PAGE, dpi), "");
    Control title;
    ASSERT_TRUE(app.find_title(&title));
    EXPECT_EQ(title.rect.left, MulDiv(24, dpi, 96));
    EXPECT_EQ(title.rect.right - title.rect.left, MulDiv(540, dpi, 96));
    EXPECT_TRUE(checked(app, BOSS));
    EXPECT_FALSE(checked(app, TOP_GEAR));
    EXPECT_EQ(dest_label(app), documents_folder() + L"\\Games");
    // The window: fixed size, no maximise box, class and title.
    LONG style = GetWindowLongW(app.main(), GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
              WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    wchar_t caption[64] = {};
    GetWindowTextW(app.main(), caption, 64);
    EXPECT_STREQ(caption, L"Kelvorn");
    app.screenshot(shot_name("game"));
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

struct CommandLineCase {
    const char* name;
    std::vector<std::wstring> args;
    bool top_gear;
    const wchar_t* dest;  // null: the default destination
};

class CommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLine, PrefillsTheGamePage) {
    KV_REQUIRE_DISPLAY();
    const CommandLineCase& c = GetParam();
    App app;
    ASSERT_TRUE(app.start(kelvorn_exe(), c.args));
    EXPECT_EQ(checked(app, TOP_GEAR), c.top_gear);
    EXPECT_EQ(checked(app, BOSS), !c.top_gear);
    EXPECT_EQ(dest_label(app), c.dest ? std::wstring(c.dest) : documents_folder() + L"\\Games");
    // No build starts: neither a message box nor another page shows up.
    EXPECT_EQ(app.wait_message_box(1000), nullptr);
    EXPECT_EQ(app.title(), L"Build a game");
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

static const std::wstring LONG_VALUE = L"C:\\" + std::wstring(297, L'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLine,
    ::testing::Values(
        CommandLineCase{"tgr", {L"--game", L"tgr"}, true, nullptr},
        CommandLineCase{"capitals", {L"--game", L"TGR"}, false, nullptr},
        CommandLineCase{"trailing_game", {L"--game"}, false, nullptr},
        CommandLineCase{"later_game_wins", {L"--game", L"tgr", L"--game", L"br"}, false, nullptr},
        CommandLineCase{"unknown_tokens_skipped", {L"tgr", L"--GAME", L"--game", L"tgr", L"x"}, true, nullptr},
        CommandLineCase{"trailing_dest", {L"--dest"}, false, L""},
        CommandLineCase{"dest_takes_build", {L"--dest", L"--build"}, false, L"--build"}),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) { return std::string(info.param.name); });

// A value longer than the wizard keeps is refused, never cut (a cut path
// names another file): a warning names it once the window is up, the
// field keeps what it had, and --build does not start a build that would
// not be the one asked for. A value at the limit is taken whole.
TEST(CommandLineRefusal, TooLongPathsAreRefusedNotCut) {
    KV_REQUIRE_DISPLAY();
    const std::wstring at_limit = LONG_VALUE.substr(0, 259), one_over = LONG_VALUE.substr(0, 260);
    const std::wstring refusal =
        L" is longer than 259 characters, so it cannot be used. Move it or choose one with a shorter path.";
    struct Case {
        const char* name;
        std::vector<std::wstring> args;
        const std::wstring* refused;  // null: no warning
        std::wstring dest;            // the destination label afterwards
    } cases[] = {
        {"at the limit", {L"--dest", at_limit}, nullptr, at_limit},
        {"one over", {L"--dest", one_over}, &one_over, documents_folder() + L"\\Games"},
        {"an input one over, with --build", {L"--game", L"tgr", L"--dest", L"C:\\games", L"--rom", one_over, L"--build"},
         &one_over, L"C:\\games"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        App app;
        ASSERT_TRUE(app.start(kelvorn_exe(), c.args));
        HWND box = app.wait_message_box(c.refused ? 10000 : 1000);
        if (c.refused) {
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(App::message_box_text(box), *c.refused + refusal);
            EXPECT_EQ(GetDlgItem(box, IDNO), nullptr);
            App::answer(box, IDOK);
            Sleep(500);
        } else {
            EXPECT_EQ(box, nullptr);
        }
        EXPECT_EQ(app.title(), L"Build a game");
        EXPECT_EQ(dest_label(app), c.dest);
        if (c.args[0] == L"--game") {
            // The refused ROM was not taken: its row has no file.
            app.click(IDC_CONTINUE);
            ASSERT_TRUE(app.wait_title(L"Your copy of Top Gear Rally", 10000));
            EXPECT_EQ(verdict_label(app, L"Cartridge ROM").text, L"No file chosen");
        }
        app.close_window();
        EXPECT_EQ(app.wait_exit(10000), 0);
    }
}

TEST(GamePage, FolderDialogChoosesAndCancels) {
    KV_REQUIRE_DISPLAY();
    kt::TempDir dir("ui-dest");
    std::string chosen = kt::join(dir.path, "chosen folder");
    kt::make_dirs(chosen);
    App app;
    ASSERT_TRUE(app.start(kelvorn_exe(), {L"--dest", L"C:\\before"}));
    // The game picked by a click survives the page being rebuilt.
    app.click(IDC_GAME_TOP_GEAR_RALLY);
    ASSERT_TRUE(app.wait_until([&] { return checked(app, TOP_GEAR); }, 5000));

    app.click(IDC_CHOOSE_DEST);
    HWND dialog = app.wait_item_dialog(15000);
    ASSERT_NE(dialog, nullptr);
    App::dialog_cancel(dialog);
    ASSERT_TRUE(app.wait_item_dialog_gone(10000));
    Sleep(300);
    EXPECT_EQ(dest_label(app), L"C:\\before");

    app.click(IDC_CHOOSE_DEST);
    dialog = app.wait_item_dialog(15000);
    ASSERT_NE(dialog, nullptr);
    screenshot_window(dialog, shot_name("folder_dialog"));
    App::dialog_type_and_confirm(dialog, widen(chosen));
    ASSERT_TRUE(app.wait_item_dialog_gone(10000));
    ASSERT_TRUE(app.wait_until([&] { return dest_label(app) == widen(chosen); }, 5000)) << narrow(dest_label(app));
    EXPECT_TRUE(checked(app, TOP_GEAR));
    EXPECT_FALSE(checked(app, BOSS));
    EXPECT_EQ(compare_page(app.controls(), GAME_PAGE, expected_dpi()), "");
    app.screenshot(shot_name("game_after_choice"));
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

class CartridgeBuild : public ::testing::Test {
protected:
    void SetUp() override {
        rom = dir / "game.z64";
        write_rom(rom, 7);
        dest = dir / "dest";
        folder = kt::join(dest, "Top Gear Rally");
    }
    std::vector<std::wstring> build_args() const {
        return {L"--game", L"tgr", L"--rom", widen(rom), L"--dest", widen(dest), L"--build"};
    }
    // Starts the build from the command line, which shows text in a box
    // first: a refusal (answered OK, no No button) or a question (answered
    // No). Either way the wizard stays on its page, asks nothing more, and
    // nothing below watched changes.
    void expect_box_changes_nothing(const std::wstring& text, int answer, const std::string& watched,
                                    const char* shot) {
        auto before = kt::snapshot(watched);
        App app;
        ASSERT_TRUE(app.start(kelvorn_exe(), build_args()));
        HWND box = app.wait_message_box(10000);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(App::message_box_text(box), text);
        if (answer == IDOK) {
            EXPECT_EQ(GetDlgItem(box, IDNO), nullptr);
        }
        if (shot) screenshot_window(box, shot_name(shot));
        App::answer(box, answer);
        Sleep(500);
        EXPECT_EQ(app.title(), L"Build a game");
        EXPECT_EQ(app.wait_message_box(300), nullptr);
        EXPECT_EQ(kt::snapshot(watched), before);
        app.close_window();
        EXPECT_EQ(app.wait_exit(10000), 0);
    }
    // Starts the build the same way and answers Yes: the wizard goes on to
    // the page titled title.
    void expect_yes_leads_to(App& app, const std::wstring& title) {
        ASSERT_TRUE(app.start(kelvorn_exe(), build_args()));
        HWND box = app.wait_message_box(10000);
        ASSERT_NE(box, nullptr);
        App::answer(box, IDYES);
        ASSERT_TRUE(app.wait_title(title, 30000)) << narrow(app.title());
    }
    kt::TempDir dir{"ui-build"};
    std::string rom, dest, folder;
};

TEST_F(CartridgeBuild, FromTheCommandLineToPlayAndDone) {
    KV_REQUIRE_DISPLAY();
    App app;
    app.hold_threads(1);
    ASSERT_TRUE(app.start(kelvorn_exe(), build_args()));
    ASSERT_TRUE(app.wait_held(1, 10000));
    ASSERT_TRUE(app.wait_title(L"Building Top Gear Rally", 10000));
    EXPECT_EQ(compare_page(app.controls(), building_page(L"Building Top Gear Rally"), expected_dpi()), "");
    EXPECT_EQ(status_label(app).text, L"Starting");
    app.screenshot(shot_name("building"));
    app.release_held();

    ASSERT_TRUE(app.wait_title(L"Top Gear Rally is ready", 30000)) << narrow(app.title());
    EXPECT_EQ(compare_page(app.controls(), success_page(L"Top Gear Rally is ready", widen(folder).c_str()),
                           expected_dpi()),
              "");
    app.screenshot(shot_name("success"));
    expect_complete_cartridge_build(folder);

    // Play starts the built game from its folder; the wizard stays open.
    app.click(IDC_PLAY);
    HWND game = wait_window_titled(L"Top Gear Rally (stand-in)", 20000);
    ASSERT_NE(game, nullptr);
    EXPECT_NE(dialog_texts(game).find(L"The game's data is complete in"), std::wstring::npos)
        << narrow(dialog_texts(game));
    std::wstring cwd = process_current_directory(game);
    while (!cwd.empty() && cwd.back() == L'\\') cwd.pop_back();
    EXPECT_EQ(_wcsicmp(cwd.c_str(), widen(folder).c_str()), 0) << narrow(cwd);
    App::answer(game, IDOK);
    EXPECT_TRUE(app.running());
    EXPECT_EQ(app.title(), L"Top Gear Rally is ready");

    app.click(IDC_CLOSE);
    EXPECT_EQ(app.wait_exit(10000), 0);
}

TEST_F(CartridgeBuild, CancelGreysTheButtonAndTheBuildStillSucceeds) {
    KV_REQUIRE_DISPLAY();
    App app;
    app.hold_threads(1);
    ASSERT_TRUE(app.start(kelvorn_exe(), build_args()));
    ASSERT_TRUE(app.wait_held(1, 10000));
    ASSERT_TRUE(app.wait_title(L"Building Top Gear Rally", 10000));
    app.click(IDC_CANCEL);
    ASSERT_TRUE(app.wait_until([&] { return status_label(app).text == L"Stopping..."; }, 5000));
    Control cancel;
    ASSERT_TRUE(app.find_id(IDC_CANCEL, &cancel));
    EXPECT_FALSE(cancel.enabled);
    app.screenshot(shot_name("stopping"));
    app.release_held();
    // The cartridge build does not stop; its progress no longer changes the
    // status line.
    ASSERT_TRUE(app.wait_title(L"Top Gear Rally is ready", 30000)) << narrow(app.title());
    expect_complete_cartridge_build(folder);
    app.click(IDC_CLOSE);
    EXPECT_EQ(app.wait_exit(10000), 0);
}

TEST_F(CartridgeBuild, ClosingTheWindowDuringTheBuildKeepsItOpen) {
    KV_REQUIRE_DISPLAY();
    App app;
    app.hold_threads(1);
    ASSERT_TRUE(app.start(kelvorn_exe(), build_args()));
    ASSERT_TRUE(app.wait_held(1, 10000));
    ASSERT_TRUE(app.wait_title(L"Building Top Gear Rally", 10000));
    app.close_window();
    Sleep(500);
    EXPECT_TRUE(app.running());
    EXPECT_EQ(app.title(), L"Building Top Gear Rally");
    // Closing asks to stop without the Cancel button's signs.
    EXPECT_EQ(status_label(app).text, L"Starting");
    app.release_held();
    ASSERT_TRUE(app.wait_title(L"Top Gear Rally is ready", 30000)) << narrow(app.title());
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

TEST_F(CartridgeBuild, ForeignFolderIsNotReplaced) {
    KV_REQUIRE_DISPLAY();
    kt::make_dirs(folder);
    kt::write_file(kt::join(folder, "mine.txt"), "keep");
    expect_box_changes_nothing(widen(folder) + L" already exists and was not made by Kelvorn, so it will not be "
                                               L"replaced. Move it away or choose another folder.",
                               IDOK, dest, "warning");
}

// Yes to the question would have removed the ROM with the earlier build:
// the refusal comes first, and nothing changes.
TEST_F(CartridgeBuild, RomKeptInTheEarlierBuildIsRefused) {
    KV_REQUIRE_DISPLAY();
    kt::make_dirs(folder);
    write_marker(folder);
    std::string kept = kt::join(folder, "game.z64");
    kt::write_file(kept, kt::read_file(rom));
    rom = kept;
    expect_box_changes_nothing(
        widen(kept) + L" lies inside " + widen(folder) + L", which this build would remove; move it elsewhere first",
        IDOK, dest, nullptr);
}

TEST_F(CartridgeBuild, EarlierBuildIsReplacedOnlyOnYes) {
    KV_REQUIRE_DISPLAY();
    kt::make_dirs(folder);
    write_marker(folder);
    kt::write_file(kt::join(folder, "old.txt"), "old build");
    expect_box_changes_nothing(L"An earlier build is at " + widen(folder) +
                                  L".\r\n\r\nReplace it? Your saved games are kept; they live in your AppData "
                                  L"folder, not in the game's.",
                               IDNO, dest, "question");
    App app;
    expect_yes_leads_to(app, L"Top Gear Rally is ready");
    if (HasFatalFailure()) return;
    EXPECT_FALSE(kt::exists(kt::join(folder, "old.txt")));
    expect_complete_cartridge_build(folder);
    app.click(IDC_CLOSE);
    EXPECT_EQ(app.wait_exit(10000), 0);
}

// A destination with less free space than the build's estimate (a 4 MiB
// tmpfs, which the ctest step test_ui_small_volume mounts): the wizard asks
// first; No stays on the page and writes nothing, Yes builds anyway (and
// here runs out of room, with the build's own message).
TEST_F(CartridgeBuild, TooLittleRoomIsAskedAboutFirst) {
    KV_REQUIRE_DISPLAY();
    const std::string volume = kt::host_path(KELVORN_UI_SMALL_VOLUME);
    if (!kt::exists(kt::join(volume, "mounted"))) GTEST_SKIP() << "no small volume (mounting a tmpfs needs root)";
    dest = kt::join(volume, "games");
    folder = kt::join(dest, "Top Gear Rally");
    expect_box_changes_nothing(L"The build needs about 8 MB, but only 3 MB are free in " + widen(dest) +
                                  L".\r\n\r\nBuild anyway? It stops with a message if the disk fills up.",
                               IDNO, volume, "too_little_room");
    App app;
    expect_yes_leads_to(app, L"The build did not finish");
    if (HasFatalFailure()) return;
    EXPECT_EQ(message_label(app).text.rfind(L"cannot write ", 0), 0u) << narrow(message_label(app).text);
    EXPECT_TRUE(kt::snapshot(dest).empty()) << "the failed build leaves nothing but the folder it was to go in";
    app.click(IDC_CLOSE);
    EXPECT_EQ(app.wait_exit(10000), 0);
}

TEST(FailedBuild, ShowsTheDriversMessageAndQuitEndsWithZero) {
    KV_REQUIRE_DISPLAY();
    App app;
    ASSERT_TRUE(app.start(kelvorn_exe(), {L"--build"}));
    ASSERT_TRUE(app.wait_title(L"The build did not finish", 30000)) << narrow(app.title());
    auto page = app.controls();
    ASSERT_EQ(page.size(), 4u);
    EXPECT_EQ(compare_page(page, failure_page(nullptr), expected_dpi()), "");
    // The build driver's one-line message, as it wrote it.
    EXPECT_FALSE(message_label(app).text.empty());
    EXPECT_EQ(message_label(app).text.find(L'\n'), std::wstring::npos);
    EXPECT_NE(message_label(app).text, L"The build failed.");
    app.screenshot(shot_name("failure"));
    app.click(IDC_CLOSE);
    EXPECT_EQ(app.wait_exit(10000), 0);
}

TEST(FailedBuild, BackLeadsToTheGameFilesPage) {
    KV_REQUIRE_DISPLAY();
    kt::TempDir dir("ui-fail");
    App app;
    ASSERT_TRUE(app.start(kelvorn_exe(), {L"--game", L"tgr", L"--dest", widen(dir.path), L"--build"}));
    ASSERT_TRUE(app.wait_title(L"The build did not finish", 30000)) << narrow(app.title());
    Control message = message_label(app);
    EXPECT_EQ(message.text, L"cannot read the ROM");
    app.click(IDC_BACK);
    ASSERT_TRUE(app.wait_title(L"Your copy of Top Gear Rally", 10000)) << narrow(app.title());
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

TEST(GamePage, ContinueLeadsToTheGameFilesPage) {
    KV_REQUIRE_DISPLAY();
    App app;
    ASSERT_TRUE(app.start(kelvorn_exe(), {}));
    app.click(IDC_CONTINUE);
    ASSERT_TRUE(app.wait_title(L"Your copy of Boss Rally", 10000)) << narrow(app.title());
    app.click(IDC_BACK);
    ASSERT_TRUE(app.wait_title(L"Build a game", 10000));
    EXPECT_EQ(compare_page(app.controls(), GAME_PAGE, expected_dpi()), "");
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

TEST(Keyboard, EnterPressesThePagesDefaultButton) {
    KV_REQUIRE_DISPLAY();
    App app;
    ASSERT_TRUE(app.start(kelvorn_exe(), {}));
    // The key goes where the program's focus is, through its message loop.
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(app.main(), nullptr), &info));
    Control focused;
    ASSERT_TRUE(app.find_id(IDC_CONTINUE, &focused));
    EXPECT_EQ(info.hwndFocus, focused.window);
    PostMessageW(info.hwndFocus, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(info.hwndFocus, WM_KEYUP, VK_RETURN, 0xC0000001);
    ASSERT_TRUE(app.wait_title(L"Your copy of Boss Rally", 10000)) << narrow(app.title());
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

TEST(DiscBuild, CancelStopsItWithTheDriversMessage) {
    KV_REQUIRE_DISPLAY();
    std::string bin = kt::join(kt::fixture_dir(), "ui\\sd.bin");
    std::string cue = kt::join(kt::fixture_dir(), "ui\\sd.cue");
    if (!kt::exists(bin)) GTEST_SKIP() << "no disc fixture (the native tree's mkdisc is needed)";
    kt::TempDir dest("ui-disc");
    App app;
    app.hold_threads(1);
    ASSERT_TRUE(app.start(kelvorn_exe(), {L"--bin", widen(bin), L"--cue", widen(cue), L"--dest", widen(dest.path),
                                          L"--build"}));
    ASSERT_TRUE(app.wait_held(1, 10000));
    ASSERT_TRUE(app.wait_title(L"Building Boss Rally", 10000));
    app.click(IDC_CANCEL);
    ASSERT_TRUE(app.wait_until([&] { return status_label(app).text == L"Stopping..."; }, 5000));
    app.release_held();
    // The disc build reads the flag while it copies the disc's files.
    ASSERT_TRUE(app.wait_title(L"The build did not finish", 30000)) << narrow(app.title());
    EXPECT_EQ(message_label(app).text, L"cancelled");
    app.screenshot(shot_name("cancelled"));
    // Nothing is left behind: no build folder, no staging folder.
    EXPECT_TRUE(kt::snapshot(dest.path).empty());
    app.click(IDC_BACK);
    ASSERT_TRUE(app.wait_title(L"Your copy of Boss Rally", 10000));
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}
