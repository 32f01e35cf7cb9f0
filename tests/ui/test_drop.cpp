// The wizard under Wine as Windows users work it besides its buttons: files
// dropped on the window or opened with the program, the taskbar button
// following the build, and a window that cannot open saying so.
//
// Drops go through the testing build's hook: a WM_COPYDATA with the paths
// becomes a real HDROP in the program's own process, posted as
// WM_DROPFILES, so the program takes it the way it takes Explorer's.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "support/test_support.h"
#include "ui/ui_driver.h"
#include "ui/ui_fixtures.h"
#include "ui/ui_observe.h"

using namespace ui;

namespace {

const int DROP_NOTE_ID = IDC_DROP_NOTE;
// Row positions on the files page: title, intro, then four controls a row.
enum { FIRST_VERDICT = 5, SECOND_VERDICT = 9 };

// Hands paths to the window as one drop.
bool drop(const App& app, const std::vector<std::string>& paths) {
    std::wstring list;
    for (const auto& p : paths) list += widen(p) + L'\0';
    list += L'\0';
    COPYDATASTRUCT data = {};
    data.dwData = UI_TEST_DROP;
    data.cbData = (DWORD)(list.size() * sizeof(wchar_t));
    data.lpData = &list[0];
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(app.main(), WM_COPYDATA, 0, (LPARAM)&data, SMTO_ABORTIFHUNG, 10000, &result) &&
           result == TRUE;
}

std::wstring text_at(const App& app, size_t index) {
    auto all = app.controls();
    return index < all.size() ? all[index].text : std::wstring();
}

std::wstring note_of(const App& app) {
    Control note;
    return app.find_id(DROP_NOTE_ID, &note) ? note.text : std::wstring();
}

bool wait_note(const App& app, const std::wstring& text) {
    return app.wait_until([&] { return note_of(app) == text; }, 10000);
}

// A row that shows a finished check of file name, its mark ok or not.
bool wait_verdict(const App& app, size_t index, const std::string& name, bool ok) {
    std::wstring head = widen(name) + L"\r\nYour file's MD5  ";
    std::wstring mark = ok ? L"\x2713 matches" : L"\x2717 does not match";
    return app.wait_until(
        [&] {
            std::wstring text = text_at(app, index);
            return text.compare(0, head.size(), head) == 0 && text.find(mark) != std::wstring::npos;
        },
        20000);
}

class Drop : public ::testing::Test {
protected:
    void SetUp() override {
        bin = dir / "game.bin";
        cue = dir / "game.cue";
        rom = dir / "game.v64";
        kt::write_file(bin, kt::random_bytes(1 << 16, 5));
        kt::write_file(cue, "FILE \"game.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n");
        write_rom(rom, 9);
        // The fixtures count as the retail files.
        std::string digests = dir / "digests.txt";
        kt::write_file(digests, "disc_image=" + md5(bin) + "\ncue_sheet=" + md5(cue) + "\n");
        env = {L"KELVORN_TEST_DIGESTS=" + widen(digests)};
    }
    static std::string md5(const std::string& path) { return kt::md5_hex_of(kt::read_file(path)); }
    kt::TempDir dir{"ui-drop"};
    std::string bin, cue, rom;
    std::vector<std::wstring> env;
};

}  // namespace

TEST_F(Drop, DiscImageOnTheGamePageFillsAndChecksBothRows) {
    KV_REQUIRE_DISPLAY();
    App app;
    ASSERT_TRUE(app.start(kelvorn_testing_exe(), {}, env));
    ASSERT_TRUE(drop(app, {bin}));
    ASSERT_TRUE(app.wait_title(L"Your copy of Boss Rally", 10000)) << narrow(app.title());
    EXPECT_TRUE(wait_verdict(app, FIRST_VERDICT, "game.bin", true)) << narrow(text_at(app, FIRST_VERDICT));
    EXPECT_TRUE(wait_verdict(app, SECOND_VERDICT, "game.cue", true)) << narrow(text_at(app, SECOND_VERDICT));
    Control build;
    EXPECT_TRUE(app.wait_until([&] { return app.find_id(105, &build) && build.enabled; }, 5000));
    // Everything was taken: the page has no note.
    EXPECT_FALSE(app.find_id(DROP_NOTE_ID, &build));
    app.screenshot(shot_name("files_after_drop"));
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}

// What a drop does from the game page or a game's files page, by what is
// dropped: the page it leads to, the row it fills and the note it leaves.
TEST_F(Drop, EachKindOfDropLandsWhereItShould) {
    KV_REQUIRE_DISPLAY();
    std::string folder = dir / "folder.bin", notes = dir / "notes.txt", upper = dir / "GAME.V64";
    kt::make_dirs(folder);
    kt::write_file(notes, "not a game\n");
    write_rom(upper, 9);
    const std::wstring BOSS = L"Your copy of Boss Rally", TOP_GEAR = L"Your copy of Top Gear Rally",
                       GAME = L"Build a game";
    struct Case {
        const char* name;
        bool from_files_page;  // Continue first: Boss Rally's files page
        std::vector<std::string> dropped;
        std::wstring title;
        const char* filled;  // the file the first row checks; null: none
        std::wstring note;
        const char* shot;  // screenshot name; null: none
    } cases[] = {
        {"a v64 ROM picks Top Gear Rally", false, {rom}, TOP_GEAR, "game.v64", L"", nullptr},
        {"a ROM on Boss Rally's files page switches the game", true, {upper}, TOP_GEAR, "GAME.V64",
         L"GAME.V64 is a Top Gear Rally file, so Top Gear Rally is chosen now.", "drop_switched_game"},
        {"another extension is refused", false, {notes}, GAME, nullptr,
         L"Only .bin, .cue, .z64, .v64 and .n64 files can be dropped here.", "drop_refused"},
        {"a folder is refused", true, {folder}, BOSS, nullptr, L"folder.bin is not a file.", nullptr},
        {"the first file's game wins", false, {notes, rom, bin}, TOP_GEAR, "game.v64",
         L"Only .bin, .cue, .z64, .v64 and .n64 files can be dropped here.", nullptr},
        {"the other game's file is left out", false, {rom, bin}, TOP_GEAR, "game.v64",
         L"Only the Top Gear Rally files were taken: game.bin is another game's.", nullptr},
        {"a cue sheet dropped with its image", false, {cue, bin}, BOSS, "game.bin", L"", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        App app;
        ASSERT_TRUE(app.start(kelvorn_testing_exe(), {}, env));
        if (c.from_files_page) {
            app.click(IDC_CONTINUE);
            ASSERT_TRUE(app.wait_title(BOSS, 10000));
        }
        ASSERT_TRUE(drop(app, c.dropped));
        ASSERT_TRUE(app.wait_title(c.title, 10000)) << narrow(app.title());
        if (c.filled) {
            // A ROM of the fixture is no retail one; both disc files are.
            bool disc = c.title == BOSS;
            EXPECT_TRUE(wait_verdict(app, FIRST_VERDICT, c.filled, disc)) << narrow(text_at(app, FIRST_VERDICT));
            if (disc) {
                EXPECT_TRUE(wait_verdict(app, SECOND_VERDICT, "game.cue", true));
            }
        }
        if (c.note.empty()) {
            Sleep(300);
            EXPECT_EQ(note_of(app), L"");
        } else {
            EXPECT_TRUE(wait_note(app, c.note)) << narrow(note_of(app));
        }
        if (c.shot) app.screenshot(shot_name(c.shot));
        app.close_window();
        EXPECT_EQ(app.wait_exit(10000), 0);
    }
}

TEST_F(Drop, DuringABuildChangesNothing) {
    KV_REQUIRE_DISPLAY();
    std::string dest = dir / "dest";
    App app;
    // The build's thread, and room for one more that must not come.
    app.hold_threads(2);
    ASSERT_TRUE(app.start(kelvorn_testing_exe(),
                          {L"--game", L"tgr", L"--rom", widen(rom), L"--dest", widen(dest), L"--build"}, env));
    ASSERT_TRUE(app.wait_held(1, 10000));
    ASSERT_TRUE(app.wait_title(L"Building Top Gear Rally", 10000));
    ASSERT_TRUE(drop(app, {bin}));
    ASSERT_TRUE(wait_note(app, L"Kelvorn is building; drop the file again when it is done."))
        << narrow(note_of(app));
    EXPECT_EQ(app.title(), L"Building Top Gear Rally");
    // No check was started for the dropped file: only the build's thread.
    Sleep(500);
    EXPECT_EQ(app.held_count(), 1);
    app.screenshot(shot_name("drop_while_building"));
    app.release_held();
    ASSERT_TRUE(app.wait_title(L"Top Gear Rally is ready", 30000)) << narrow(app.title());
    EXPECT_TRUE(kt::exists(kt::join(kt::join(dest, "Top Gear Rally"), "romdata.bin")));
    app.click(IDC_CLOSE);
    EXPECT_EQ(app.wait_exit(10000), 0);
}

// A file named without an option is one to open, the way Explorer passes a
// file opened with the program or dropped on its icon.
TEST_F(Drop, FileOnTheCommandLineStartsOnItsFilesPage) {
    KV_REQUIRE_DISPLAY();
    {
        App app;
        ASSERT_TRUE(app.start(kelvorn_testing_exe(), {widen(bin)}, env));
        ASSERT_TRUE(app.wait_title(L"Your copy of Boss Rally", 10000)) << narrow(app.title());
        EXPECT_TRUE(wait_verdict(app, FIRST_VERDICT, "game.bin", true)) << narrow(text_at(app, FIRST_VERDICT));
        EXPECT_TRUE(wait_verdict(app, SECOND_VERDICT, "game.cue", true)) << narrow(text_at(app, SECOND_VERDICT));
        app.close_window();
        EXPECT_EQ(app.wait_exit(10000), 0);
    }
    {
        // One that cannot be taken stays on the game page with a note, and
        // stops --build: the build would not be the one asked for.
        App app;
        ASSERT_TRUE(app.start(kelvorn_testing_exe(),
                              {L"--game", L"tgr", L"--dest", widen(dir / "dest"), widen(dir / "gone.z64"), L"--build"},
                              env));
        EXPECT_TRUE(wait_note(app, L"gone.z64 could not be found.")) << narrow(note_of(app));
        Sleep(500);
        EXPECT_EQ(app.title(), L"Build a game");
        EXPECT_EQ(app.wait_message_box(500), nullptr);
        app.close_window();
        EXPECT_EQ(app.wait_exit(10000), 0);
    }
}

namespace {

// The taskbar calls the program logged, one "<state> <value>" a line.
std::vector<std::pair<std::string, int>> taskbar_log(const std::string& path) {
    std::vector<std::pair<std::string, int>> calls;
    std::istringstream lines(kt::read_file(path));
    std::string state;
    int value;
    while (lines >> state >> value) calls.push_back({state, value});
    return calls;
}

// The normal-state values, in order.
std::vector<int> progress_values(const std::vector<std::pair<std::string, int>>& calls) {
    std::vector<int> values;
    for (const auto& call : calls)
        if (call.first == "normal") values.push_back(call.second);
    return values;
}

bool has_state(const std::vector<std::pair<std::string, int>>& calls, const char* state) {
    for (const auto& call : calls)
        if (call.first == state) return true;
    return false;
}

}  // namespace

TEST_F(Drop, TaskbarButtonFollowsTheBuild) {
    KV_REQUIRE_DISPLAY();
    std::string log = dir / "taskbar.log", dest = dir / "dest";
    std::vector<std::wstring> logged = env;
    logged.push_back(L"KELVORN_TEST_TASKBAR_LOG=" + widen(log));
    {
        SCOPED_TRACE("success");
        App app;
        ASSERT_TRUE(app.start(kelvorn_testing_exe(),
                              {L"--game", L"tgr", L"--rom", widen(rom), L"--dest", widen(dest), L"--build"}, logged));
        ASSERT_TRUE(app.wait_title(L"Top Gear Rally is ready", 30000)) << narrow(app.title());
        Sleep(300);
        auto calls = taskbar_log(log);
        std::vector<int> values = progress_values(calls);
        ASSERT_GE(values.size(), 2u);
        EXPECT_EQ(values.front(), 0);
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
        EXPECT_EQ(values.back(), 1000);
        EXPECT_FALSE(has_state(calls, "error"));
        EXPECT_FALSE(has_state(calls, "none"));
        app.click(IDC_CLOSE);
        EXPECT_EQ(app.wait_exit(10000), 0);
    }
    kt::remove_all(log);
    {
        SCOPED_TRACE("failure, then Back");
        App app;
        ASSERT_TRUE(app.start(kelvorn_testing_exe(),
                              {L"--game", L"tgr", L"--dest", widen(dir / "empty"), L"--build"}, logged));
        ASSERT_TRUE(app.wait_title(L"The build did not finish", 30000)) << narrow(app.title());
        ASSERT_TRUE(app.wait_until([&] { return has_state(taskbar_log(log), "error"); }, 5000));
        auto calls = taskbar_log(log);
        EXPECT_EQ(calls.back().first == "flash" ? calls[calls.size() - 2].first : calls.back().first, "error");
        std::vector<int> values = progress_values(calls);
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
        EXPECT_FALSE(has_state(calls, "none"));
        app.click(IDC_BACK);
        ASSERT_TRUE(app.wait_title(L"Your copy of Top Gear Rally", 10000));
        ASSERT_TRUE(app.wait_until([&] { return taskbar_log(log).back().first == "none"; }, 5000));
        // Going on to the game page says nothing more: nothing is shown.
        size_t before = taskbar_log(log).size();
        app.click(IDC_BACK);
        ASSERT_TRUE(app.wait_title(L"Build a game", 10000));
        Sleep(300);
        EXPECT_EQ(taskbar_log(log).size(), before);
        app.close_window();
        EXPECT_EQ(app.wait_exit(10000), 0);
    }
    {
        SCOPED_TRACE("no taskbar interface");
        kt::remove_all(kt::join(dest, "Top Gear Rally"));
        std::vector<std::wstring> missing = env;
        missing.push_back(L"KELVORN_TEST_NO_TASKBAR=1");
        App app;
        ASSERT_TRUE(app.start(kelvorn_testing_exe(),
                              {L"--game", L"tgr", L"--rom", widen(rom), L"--dest", widen(dest), L"--build"}, missing));
        ASSERT_TRUE(app.wait_title(L"Top Gear Rally is ready", 30000)) << narrow(app.title());
        EXPECT_TRUE(kt::exists(kt::join(kt::join(dest, "Top Gear Rally"), "romdata.bin")));
        app.click(IDC_CLOSE);
        EXPECT_EQ(app.wait_exit(10000), 0);
    }
}

namespace {

struct FoundBox {
    DWORD pid;
    HWND box;
};

BOOL CALLBACK find_kelvorn_box(HWND window, LPARAM param) {
    FoundBox* f = (FoundBox*)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t name[64] = {}, title[64] = {};
    GetClassNameW(window, name, 64);
    GetWindowTextW(window, title, 64);
    if (pid == f->pid && IsWindowVisible(window) && wcscmp(name, L"#32770") == 0 && wcscmp(title, L"Kelvorn") == 0) {
        f->box = window;
        return FALSE;
    }
    return TRUE;
}

// The system's text of a Win32 error, without its line break.
std::wstring system_text(DWORD error) {
    wchar_t text[1024] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             1024, nullptr);
    while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ')) --n;
    return std::wstring(text, n);
}

}  // namespace

// The window cannot be created: no window appears, but a box says why, in
// the system's words, before the program ends. The driver waits for a main
// window, so this program is started plainly.
TEST(WindowFailure, ABoxSaysWhyBeforeTheProgramEnds) {
    KV_REQUIRE_DISPLAY();
    std::wstring block;
    wchar_t* current = GetEnvironmentStringsW();
    for (const wchar_t* p = current; *p; p += wcslen(p) + 1) block += std::wstring(p) + L'\0';
    FreeEnvironmentStringsW(current);
    block += std::wstring(L"KELVORN_TEST_NO_WINDOW=1") + L'\0';
    block += L'\0';
    std::wstring line = kt::quote_argument(kelvorn_testing_exe());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, &block[0],
                               nullptr, &startup, &process));
    CloseHandle(process.hThread);
    FoundBox found = {process.dwProcessId, nullptr};
    for (DWORD t0 = GetTickCount(); !found.box && GetTickCount() - t0 < 30000; Sleep(50))
        EnumWindows(find_kelvorn_box, (LPARAM)&found);
    ASSERT_NE(found.box, nullptr);
    Sleep(200);
    // A window of an unregistered class: the code is the system's own
    // (Windows and Wine differ in which), the text the system's for it.
    std::wstring text = App::message_box_text(found.box);
    size_t at = text.rfind(L" (error ");
    ASSERT_NE(at, std::wstring::npos) << narrow(text);
    DWORD code = wcstoul(text.c_str() + at + 8, nullptr, 10);
    EXPECT_NE(code, 0u);
    std::wstring words = system_text(code);
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(text, L"Kelvorn could not open its window: " + words + L" (error " + std::to_wstring(code) + L")");
    screenshot_window(found.box, shot_name("window_failure"));
    App::answer(found.box, IDOK);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
    DWORD exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    EXPECT_EQ(exit_code, 0u);
    CloseHandle(process.hProcess);
}
