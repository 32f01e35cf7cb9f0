// kelvorn-testing: the taskbar calls, logged for the GUI tests.
#include "ui/ui_observe.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <string.h>
#include <stdio.h>
#include <wchar.h>

static int read_variable(const wchar_t* name, wchar_t* out, DWORD units) {
    DWORD got = GetEnvironmentVariableW(name, out, units);
    return got > 0 && got < units;
}

void ui_observe_taskbar(const char* state, int value) {
    static wchar_t log[1024];
    static int known = -1;
    if (known < 0) known = read_variable(L"KELVORN_TEST_TASKBAR_LOG", log, 1024);
    if (!known) return;
    FILE* file = _wfopen(log, L"ab");
    if (!file) return;
    fprintf(file, "%s %d\n", state, value);
    fclose(file);
}

int ui_observe_taskbar_missing(void) {
    wchar_t value[8];
    return read_variable(L"KELVORN_TEST_NO_TASKBAR", value, 8) && wcscmp(value, L"1") == 0;
}

int ui_observe_copy_data(HWND window, const COPYDATASTRUCT* data) {
    if (!data || data->dwData != UI_TEST_DROP || data->cbData < 2 * sizeof(wchar_t)) return 0;
    // The list as it came, with the closing empty name guaranteed.
    const size_t units = data->cbData / sizeof(wchar_t);
    HGLOBAL drop = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + (units + 2) * sizeof(wchar_t));
    if (!drop) return 1;
    DROPFILES* files = (DROPFILES*)GlobalLock(drop);
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    memcpy(files + 1, data->lpData, units * sizeof(wchar_t));
    GlobalUnlock(drop);
    if (!PostMessageW(window, WM_DROPFILES, (WPARAM)drop, 0)) GlobalFree(drop);
    return 1;
}

const wchar_t* ui_observe_window_class(const wchar_t* name) {
    // A class nobody registered: CreateWindowExW fails as it would for
    // any other reason, with an error code of the system's.
    wchar_t value[8];
    if (read_variable(L"KELVORN_TEST_NO_WINDOW", value, 8) && wcscmp(value, L"1") == 0)
        return L"Kelvorn.unregistered";
    return name;
}
