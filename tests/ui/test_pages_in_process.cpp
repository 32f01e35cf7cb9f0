// The building and result pages inside the test process: the progress
// hand-off from a worker thread, cancel, and the result page's texts. The
// main window is real but never shown.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ui/wizard.h"

namespace {

std::wstring text_of(HWND window) {
    wchar_t text[2048] = {};
    GetWindowTextW(window, text, 2048);
    return text;
}

// The labels (Statics without an id) of the page, top to bottom.
std::vector<HWND> labels_top_down() {
    std::vector<std::pair<LONG, HWND>> found;
    for (HWND child = GetWindow(g_wizard.main_window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[32] = {};
        GetClassNameW(child, name, 32);
        if (GetDlgCtrlID(child) != 0 || _wcsicmp(name, L"Static") != 0) continue;
        RECT r;
        GetWindowRect(child, &r);
        found.push_back({r.top, child});
    }
    std::sort(found.begin(), found.end());
    std::vector<HWND> out;
    for (auto& f : found) out.push_back(f.second);
    return out;
}

int bar_position() { return (int)SendMessageW(g_wizard.progress_bar, PBM_GETPOS, 0, 0); }

void pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

class Pages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        InitializeSRWLock(&g_wizard.progress_lock);
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        create_main_window(GetModuleHandleW(nullptr), nullptr);
    }
    void SetUp() override {
        if (!getenv("DISPLAY")) GTEST_SKIP() << "no DISPLAY (run under xvfb-run)";
        ASSERT_NE(g_wizard.main_window, nullptr);
        g_wizard.game = GAME_TOP_GEAR_RALLY;
        show_building_page();
        pump();
    }
};

struct ProgressCase {
    double fraction;
    const char* status;  // null: keep the last text
    int position;
    std::wstring shown;
};

TEST_F(Pages, ProgressMovesTheBarAndSetsTheStatus) {
    const std::string long_status(300, 'x');  // cut to the 255 units of the status text
    const ProgressCase cases[] = {
        {0.0, "Reading the ROM", 0, L"Reading the ROM"},
        {0.5, nullptr, 500, L"Reading the ROM"},
        {0.9996, "Finishing", 999, L"Finishing"},
        {0.25, "\xC3\xBC" "ber \xE2\x9C\x93", 250, L"\x00FC" L"ber \x2713"},
        {0.3, long_status.c_str(), 300, std::wstring(255, L'x')},
        {1.0, "Done", 1000, L"Done"},
    };
    for (const ProgressCase& c : cases) {
        // Reported from another thread, as the build does.
        std::thread worker([&] { report_progress(0, c.fraction, c.status); });
        worker.join();
        pump();
        EXPECT_EQ(bar_position(), c.position) << c.fraction;
        EXPECT_EQ(text_of(g_wizard.status_label), c.shown) << c.fraction;
    }
}

TEST_F(Pages, AfterCancelTheBarMovesButTheStatusStays) {
    HWND cancel = GetDlgItem(g_wizard.main_window, IDC_CANCEL);
    ASSERT_NE(cancel, nullptr);
    SendMessageW(cancel, BM_CLICK, 0, 0);
    EXPECT_EQ(g_wizard.cancel_requested, 1);
    EXPECT_FALSE(IsWindowEnabled(cancel));
    EXPECT_EQ(text_of(g_wizard.status_label), L"Stopping...");
    report_progress(0, 0.7, "Encoding track 3");
    pump();
    EXPECT_EQ(bar_position(), 700);
    EXPECT_EQ(text_of(g_wizard.status_label), L"Stopping...");
    // Closing the window while building only asks the build to stop.
    g_wizard.cancel_requested = 0;
    SendMessageW(g_wizard.main_window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(g_wizard.main_window));
    EXPECT_EQ(g_wizard.cancel_requested, 1);
    EXPECT_EQ(g_wizard.page, PAGE_BUILDING);
}

// The status text is shared with the build thread under progress_lock. A
// writer that holds the lock halfway through a text makes both sides wait:
// the window shows the whole new text, never the half.
TEST_F(Pages, StatusTextIsNeverShownHalfWritten) {
    std::atomic<bool> half_written{false};
    std::thread writer([&] {
        AcquireSRWLockExclusive(&g_wizard.progress_lock);
        for (int i = 0; i < 100; ++i) g_wizard.status_text[i] = L'X';
        g_wizard.status_text[100] = 0;
        half_written = true;
        Sleep(300);
        for (int i = 100; i < 200; ++i) g_wizard.status_text[i] = L'X';
        g_wizard.status_text[200] = 0;
        g_wizard.progress_fraction = 0.2;
        ReleaseSRWLockExclusive(&g_wizard.progress_lock);
    });
    while (!half_written) Sleep(1);
    SendMessageW(g_wizard.main_window, WM_APP_PROGRESS, 0, 0);
    writer.join();
    EXPECT_EQ(text_of(g_wizard.status_label), std::wstring(200, L'X'));
    EXPECT_EQ(bar_position(), 200);

    // And the build thread's report waits while the window reads.
    std::atomic<bool> reported{false};
    AcquireSRWLockShared(&g_wizard.progress_lock);
    std::thread reporter([&] {
        report_progress(0, 0.6, "Writing the game's data");
        reported = true;
    });
    Sleep(300);
    EXPECT_FALSE(reported);
    ReleaseSRWLockShared(&g_wizard.progress_lock);
    reporter.join();
    pump();
    EXPECT_EQ(text_of(g_wizard.status_label), L"Writing the game's data");
}

struct ResultCase {
    const char* name;
    int ok;
    const char* error;
    const wchar_t* title;
    const wchar_t* second;  // the text under the title
    int buttons[3];         // ids of the buttons, 0 for none
};

class ResultPage : public Pages, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(ResultPage, ShowsTheBuildsOutcome) {
    const ResultCase& c = GetParam();
    g_wizard.build_ok = c.ok;
    snprintf(g_wizard.build_error, sizeof g_wizard.build_error, "%s", c.error);
    snprintf(g_wizard.build_folder, sizeof g_wizard.build_folder, "C:\\Games\\Top Gear Rally");
    SendMessageW(g_wizard.main_window, WM_APP_BUILD_DONE, 0, 0);
    EXPECT_EQ(g_wizard.page, PAGE_RESULT);
    EXPECT_EQ(g_wizard.progress_bar, nullptr);
    EXPECT_EQ(g_wizard.status_label, nullptr);
    const std::vector<HWND> labels = labels_top_down();
    ASSERT_GE(labels.size(), 2u);
    EXPECT_EQ(text_of(labels[0]), c.title);
    EXPECT_EQ(text_of(labels[1]), c.second);
    // The page's buttons are these and no others.
    int n = 0;
    for (int i = 0; i < g_wizard.control_count; ++i) n += GetDlgCtrlID(g_wizard.controls[i]) != 0;
    EXPECT_EQ(n, c.buttons[2] ? 3 : 2);
    for (int id : c.buttons) {
        if (id) {
            EXPECT_NE(GetDlgItem(g_wizard.main_window, id), nullptr) << id;
        }
    }
    if (c.ok) {
        ASSERT_EQ(labels.size(), 3u);
        EXPECT_EQ(text_of(labels[2]), L"C:\\Games\\Top Gear Rally");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResultPage,
    ::testing::Values(
        ResultCase{"success", 1, "", L"Top Gear Rally is ready",
                   L"The build is complete. It carries everything it needs, so your disc image or ROM is no "
                   L"longer required to play.",
                   {IDC_CLOSE, IDC_OPEN_FOLDER, IDC_PLAY}},
        ResultCase{"failure_with_message", 0, "cancelled", L"The build did not finish", L"cancelled",
                   {IDC_CLOSE, IDC_BACK, 0}},
        ResultCase{"failure_without_message", 0, "", L"The build did not finish", L"The build failed.",
                   {IDC_CLOSE, IDC_BACK, 0}}),
    [](const ::testing::TestParamInfo<ResultCase>& info) { return std::string(info.param.name); });

}  // namespace
