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

    wchar_t* documents = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documents))) {
        _snwprintf(g_wizard.dest_path, UI_PATH_UNITS, L"%ls\\Games", documents);
        g_wizard.dest_path[UI_PATH_UNITS - 1] = 0;
        CoTaskMemFree(documents);
    }

    // Without a window there is nothing to show or to end the message loop.
    if (!create_main_window(instance)) return 0;

    int build = read_command_line();
    show_game_page();
    ShowWindow(g_wizard.main_window, show);
    if (build) start_build();

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(g_wizard.main_window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}
