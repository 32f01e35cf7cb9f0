// The game and destination page, and choose_path: every folder or file the
// user picks comes through the system's common item dialog.
#include <windows.h>
#include <shobjidl.h>

#include "ui/scoped_com.h"
#include "ui/taskbar.h"
#include "ui/wizard.h"

void show_game_page(void) {
    // The button shows a build only while its pages do.
    taskbar_clear();
    g_wizard.page = PAGE_GAME;
    clear_page();
    create_control(L"STATIC", L"Build a game", SS_NOPREFIX, 24, 20, 540, 32, 0, g_wizard.font_title);
    create_control(L"STATIC",
                   L"Kelvorn makes a native Windows build of a game from your own copy of it. Choose the "
                   L"game, and where to put it.",
                   SS_NOPREFIX, 24, 60, 540, 40, 0, g_wizard.font_normal);
    HWND boss = create_control(L"BUTTON", L"Boss Rally (PC, 1999)", BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP,
                               24, 110, 400, 24, IDC_GAME_BOSS_RALLY, g_wizard.font_normal);
    HWND top_gear = create_control(L"BUTTON", L"Top Gear Rally (Nintendo 64, 1997)",
                                   BS_AUTORADIOBUTTON | WS_TABSTOP, 24, 138, 400, 24, IDC_GAME_TOP_GEAR_RALLY,
                                   g_wizard.font_normal);
    create_control(L"STATIC", L"Build into:", SS_NOPREFIX, 24, 182, 200, 22, 0, g_wizard.font_bold);
    create_control(L"STATIC", g_wizard.dest_path, SS_NOPREFIX | SS_SUNKEN | SS_PATHELLIPSIS, 24, 208, 430, 26,
                   0, g_wizard.font_mono);
    create_control(L"BUTTON", L"Choose...", WS_TABSTOP, 464, 207, 100, 28, IDC_CHOOSE_DEST,
                   g_wizard.font_normal);
    create_control(L"BUTTON", L"Continue", WS_TABSTOP | BS_DEFPUSHBUTTON, 464, 352, 100, 28, IDC_CONTINUE,
                   g_wizard.font_normal);
    SendMessageW(boss, BM_SETCHECK, g_wizard.game == GAME_BOSS_RALLY ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageW(top_gear, BM_SETCHECK, g_wizard.game == GAME_TOP_GEAR_RALLY ? BST_CHECKED : BST_UNCHECKED, 0);
    focus_page();
}

int choose_path(int folder_mode, wchar_t* destination, const wchar_t* filter_name,
                const wchar_t* filter_pattern) {
    ScopedComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                (void**)dialog.receive())))
        return 0;
    if (folder_mode) {
        FILEOPENDIALOGOPTIONS options = 0;
        dialog->GetOptions(&options);
        dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    } else {
        COMDLG_FILTERSPEC filters[2] = {{filter_name, filter_pattern}, {L"All files", L"*.*"}};
        dialog->SetFileTypes(2, filters);
    }
    if (FAILED(dialog->Show(g_wizard.main_window))) return 0;
    ScopedComPtr<IShellItem> item;
    if (FAILED(dialog->GetResult(item.receive()))) return 0;
    wchar_t* name = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &name))) return 0;
    int result = copy_path(destination, name);
    if (!result) refuse_long_path(name);
    CoTaskMemFree(name);
    return result;
}
