// The program's entry point: start-up in its fixed order, then the message
// loop. The process's exit code is always 0, whatever a build did.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <wchar.h>

#include "ui/wizard.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show_arg) {
    (void)previous;
    (void)command_line;
    (void)show_arg;
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;

    InitializeSRWLock(&g_wizard.progress_lock);
    g_wizard.game = GAME_BOSS_RALLY;

    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    // A default too long to keep whole stays empty, as when there is no
    // Documents folder: a cut one would name another folder.
    wchar_t* documents = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documents))) {
        wchar_t games[PATH_CAPACITY];
        _snwprintf(games, PATH_CAPACITY, L"%ls\\Games", documents);
        games[PATH_CAPACITY - 1] = 0;
        copy_path(g_wizard.dest_path, games);
        CoTaskMemFree(documents);
    }

    // Without a window there is nothing to show or to end the message loop;
    // the user is told why, rather than seeing nothing at all.
    DWORD window_error = 0;
    if (!create_main_window(instance, &window_error)) {
        report_window_failure(window_error);
        return 0;
    }

    // A refused value stops --build too: the build would not be the one
    // asked for.
    wchar_t refusal[UI_MESSAGE_UNITS];
    int build = read_command_line(refusal, UI_MESSAGE_UNITS);
    show_game_page();
    // Files opened with the program start on their files page. One that is
    // not taken stops --build as a refused value does.
    if (!open_command_line_files()) build = 0;
    ShowWindow(g_wizard.main_window, show);
    if (refusal[0])
        MessageBoxW(g_wizard.main_window, refusal, L"Kelvorn", MB_ICONWARNING);
    else if (build)
        start_build();

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(g_wizard.main_window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}
