// The destination probe and confirmation, the building page with its build
// thread, and the success and failure pages.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <stdarg.h>
#include <wchar.h>

#include "session/space.h"
#include "ui/taskbar.h"
#include "ui/wizard.h"

// Bounded wide formatting: cut at units and always terminated.
static void format_w(wchar_t* out, size_t units, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    _vsnwprintf(out, units, format, args);
    va_end(args);
    out[units - 1] = 0;
}

void show_building_page(void) {
    g_wizard.cancel_requested.store(0);
    g_wizard.page = PAGE_BUILDING;
    clear_page();
    wchar_t title[128];
    format_w(title, 128, L"Building %hs", game_display_name(g_wizard.game));
    create_control(L"STATIC", title, SS_NOPREFIX, 24, 20, 540, 32, 0, g_wizard.font_title);
    g_wizard.progress_bar =
        create_control(PROGRESS_CLASSW, L"", 0, 24, 80, 540, 22, 0, g_wizard.font_normal);
    SendMessageW(g_wizard.progress_bar, PBM_SETRANGE32, 0, 1000);
    g_wizard.status_label =
        create_control(L"STATIC", L"Starting", SS_NOPREFIX, 24, 112, 540, 44, 0, g_wizard.font_normal);
    create_control(L"BUTTON", L"Cancel", WS_TABSTOP, 464, 352, 100, 28, IDC_CANCEL, g_wizard.font_normal);
    taskbar_progress(0.0);

    // Fresh hand-off values, so that a late message of an earlier build
    // cannot show its status on this page.
    AcquireSRWLockExclusive(&g_wizard.progress_lock);
    g_wizard.progress_fraction = 0.0;
    wcscpy(g_wizard.status_text, L"Starting");
    ReleaseSRWLockExclusive(&g_wizard.progress_lock);
}

// Fills request with the wizard's game, destination and inputs; the texts
// live in the caller's buffers.
static void fill_request(BuildRequest* request, char* dest, char* bin, char* cue, char* rom) {
    to_utf8(g_wizard.dest_path, dest, UI_PATH_UTF8);
    to_utf8(g_wizard.input_path[SLOT_BIN], bin, UI_PATH_UTF8);
    to_utf8(g_wizard.input_path[SLOT_CUE], cue, UI_PATH_UTF8);
    to_utf8(g_wizard.input_path[SLOT_ROM], rom, UI_PATH_UTF8);
    *request = BuildRequest();
    request->game = g_wizard.game;
    request->bin_path = bin;
    request->cue_path = cue;
    request->rom_path = rom;
    request->dest_dir = dest;
}

void start_build(void) {
    char dest[UI_PATH_UTF8], bin[UI_PATH_UTF8], cue[UI_PATH_UTF8], rom[UI_PATH_UTF8];
    BuildRequest request;
    fill_request(&request, dest, bin, cue, rom);

    static DestinationProbe probe;
    probe_build_destination(&request, &probe);
    static char words[DESTINATION_TEXT_CAPACITY];
    DestinationAction action = word_destination(FRONT_WIZARD, &probe, 0, words, sizeof words);
    if (action != DEST_GO) {
        wchar_t text[UI_MESSAGE_UNITS];
        to_utf16(words, text, UI_MESSAGE_UNITS);
        if (action == DEST_REFUSED) {
            MessageBoxW(g_wizard.main_window, text, L"Kelvorn", MB_ICONWARNING);
            return;
        }
        if (MessageBoxW(g_wizard.main_window, text, L"Kelvorn", MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    }

    // Too little room is asked about, not refused: the estimate is an upper
    // bound, and the user may know better.
    static SpaceCheck space;
    if (!build_has_room(&request, &space)) {
        static char shortfall[PATH_CAPACITY + 256];
        format_space_shortfall(FRONT_WIZARD, shortfall, sizeof shortfall, &space, dest);
        wchar_t text[UI_MESSAGE_UNITS];
        to_utf16(shortfall, text, UI_MESSAGE_UNITS);
        if (MessageBoxW(g_wizard.main_window, text, L"Kelvorn", MB_YESNO | MB_ICONWARNING) != IDYES) return;
    }

    show_building_page();
    HANDLE thread = CreateThread(nullptr, 0, build_thread, nullptr, 0, nullptr);
    if (!thread) {
        // No thread means no WM_APP_BUILD_DONE: end on the failure page now.
        g_wizard.build_ok = 0;
        set_error(g_wizard.build_error, sizeof g_wizard.build_error, "cannot start the build (error %lu)",
                  (unsigned long)GetLastError());
        build_folder_path(&request, g_wizard.build_folder, sizeof g_wizard.build_folder);
        show_result_page();
        return;
    }
    CloseHandle(thread);
    focus_page();
}

DWORD WINAPI build_thread(void* parameter) {
    (void)parameter;
    // Everything the thread reads from the window's state, read once now.
    char dest[UI_PATH_UTF8], bin[UI_PATH_UTF8], cue[UI_PATH_UTF8], rom[UI_PATH_UTF8];
    BuildRequest request;
    fill_request(&request, dest, bin, cue, rom);
    // The build refuses an input that changed since its check (a build
    // started from the command line may come before any check).
    FileStamp stamps[SLOT_COUNT];
    memcpy(stamps, g_wizard.verdict_stamp, sizeof stamps);
    AudioDigests audio = g_wizard.verdict_audio;
    if (stamps[SLOT_BIN].valid) {
        request.bin_stamp = &stamps[SLOT_BIN];
        request.bin_audio = &audio;
    }
    if (stamps[SLOT_CUE].valid) request.cue_stamp = &stamps[SLOT_CUE];
    if (stamps[SLOT_ROM].valid) request.rom_stamp = &stamps[SLOT_ROM];

    g_wizard.build_error[0] = 0;
    g_wizard.build_ok = run_build(&request, report_progress, 0, &g_wizard.cancel_requested,
                                  g_wizard.build_error, sizeof g_wizard.build_error);
    build_folder_path(&request, g_wizard.build_folder, sizeof g_wizard.build_folder);
    post_result(WM_APP_BUILD_DONE, 0);
    return 0;
}

void report_progress(uint64_t user, double fraction, const char* status) {
    (void)user;
    wchar_t text[UI_STATUS_UNITS];
    if (status) to_utf16(status, text, UI_STATUS_UNITS);
    AcquireSRWLockExclusive(&g_wizard.progress_lock);
    g_wizard.progress_fraction = fraction;
    if (status) memcpy(g_wizard.status_text, text, sizeof text);
    ReleaseSRWLockExclusive(&g_wizard.progress_lock);
    PostMessageW(g_wizard.main_window, WM_APP_PROGRESS, 0, 0);
}

void on_progress(void) {
    if (!g_wizard.progress_bar) return;
    double fraction;
    wchar_t text[UI_STATUS_UNITS];
    AcquireSRWLockShared(&g_wizard.progress_lock);
    fraction = g_wizard.progress_fraction;
    memcpy(text, g_wizard.status_text, sizeof text);
    ReleaseSRWLockShared(&g_wizard.progress_lock);
    SendMessageW(g_wizard.progress_bar, PBM_SETPOS, (WPARAM)(int)(fraction * 1000), 0);
    taskbar_progress(fraction);
    if (!is_cancelled(&g_wizard.cancel_requested)) SetWindowTextW(g_wizard.status_label, text);
}

void on_cancel(HWND cancel_button) {
    request_cancel(&g_wizard.cancel_requested);
    if (cancel_button) EnableWindow(cancel_button, FALSE);
    if (g_wizard.status_label) SetWindowTextW(g_wizard.status_label, L"Stopping...");
}

void show_result_page(void) {
    g_wizard.page = PAGE_RESULT;
    clear_page();
    const char* name = game_display_name(g_wizard.game);
    if (g_wizard.build_ok) {
        wchar_t title[128];
        format_w(title, 128, L"%hs is ready", name);
        wchar_t folder[UI_BUILD_FOLDER];
        to_utf16(g_wizard.build_folder, folder, UI_BUILD_FOLDER);
        create_control(L"STATIC", title, SS_NOPREFIX, 24, 20, 540, 32, 0, g_wizard.font_title);
        create_control(L"STATIC",
                       L"The build is complete. It carries everything it needs, so your disc image or ROM is "
                       L"no longer required to play.",
                       SS_NOPREFIX, 24, 60, 540, 40, 0, g_wizard.font_normal);
        create_control(L"STATIC", folder, SS_NOPREFIX | SS_PATHELLIPSIS, 24, 110, 540, 22, 0,
                       g_wizard.font_mono);
        create_control(L"BUTTON", L"Done", WS_TABSTOP, 240, 352, 100, 28, IDC_CLOSE, g_wizard.font_normal);
        create_control(L"BUTTON", L"Open Folder", WS_TABSTOP, 352, 352, 100, 28, IDC_OPEN_FOLDER,
                       g_wizard.font_normal);
        create_control(L"BUTTON", L"Play", WS_TABSTOP | BS_DEFPUSHBUTTON, 464, 352, 100, 28, IDC_PLAY,
                       g_wizard.font_normal);
    } else {
        wchar_t error[UI_BUILD_FOLDER];
        to_utf16(g_wizard.build_error, error, UI_BUILD_FOLDER);
        if (!error[0]) wcscpy(error, L"The build failed.");
        create_control(L"STATIC", L"The build did not finish", SS_NOPREFIX, 24, 20, 540, 32, 0,
                       g_wizard.font_title);
        create_control(L"STATIC", error, SS_NOPREFIX, 24, 64, 540, 120, 0, g_wizard.font_normal);
        create_control(L"BUTTON", L"Quit", WS_TABSTOP, 352, 352, 100, 28, IDC_CLOSE, g_wizard.font_normal);
        create_control(L"BUTTON", L"Back", WS_TABSTOP | BS_DEFPUSHBUTTON, 464, 352, 100, 28, IDC_BACK,
                       g_wizard.font_normal);
        taskbar_error();
    }
    taskbar_flash_if_background(g_wizard.main_window);
    focus_page();
}

void open_build_folder(void) {
    wchar_t folder[UI_BUILD_FOLDER];
    to_utf16(g_wizard.build_folder, folder, UI_BUILD_FOLDER);
    ShellExecuteW(g_wizard.main_window, L"open", folder, nullptr, nullptr, SW_SHOWNORMAL);
}

void play_build(void) {
    wchar_t folder[UI_BUILD_FOLDER];
    wchar_t name[64];
    wchar_t exe[2200];
    to_utf16(g_wizard.build_folder, folder, UI_BUILD_FOLDER);
    to_utf16(game_display_name(g_wizard.game), name, 64);
    format_w(exe, 2200, L"%ls\\%ls.exe", folder, name);
    ShellExecuteW(g_wizard.main_window, L"open", exe, nullptr, folder, SW_SHOWNORMAL);
}
