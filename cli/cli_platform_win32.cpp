#include <windows.h>
#include <io.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>

#include "cli/cli.h"
#include "cli/cli_platform.h"

void cli_console_init(void) { SetConsoleOutputCP(CP_UTF8); }

int cli_stdout_is_terminal(void) {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

int cli_terminal_columns(void) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 20) return columns;
    }
    return 80;
}

void cli_default_destination(char* out, size_t capacity) {
    if (capacity) out[0] = 0;
    PWSTR documents = nullptr;
    if (SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documents) == S_OK) {
        wchar_t wide[1024];
        _snwprintf(wide, 1024, L"%ls\\Games", documents);
        wide[1023] = 0;
        if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, (int)capacity, nullptr, nullptr) == 0 && capacity)
            out[0] = 0;
    }
    if (documents) CoTaskMemFree(documents);
}

static volatile int* watched;

static BOOL WINAPI on_control(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        if (watched) *watched = 1;
        return TRUE;  // handled: the process goes on and stops cleanly
    }
    return FALSE;
}

void cli_watch_interrupt(int* flag) {
    watched = flag;
    SetConsoleCtrlHandler(on_control, TRUE);
}

double cli_seconds(void) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

// Arguments arrive as UTF-16; everything below works in UTF-8.
int wmain(int argc, wchar_t** wargv) {
    char** argv = (char**)calloc((size_t)argc + 1, sizeof(char*));
    if (!argv) return 1;
    for (int i = 0; i < argc; ++i) {
        int bytes = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
        argv[i] = (char*)calloc(bytes > 0 ? (size_t)bytes : 1, 1);
        if (argv[i] && bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, argv[i], bytes, nullptr, nullptr);
        if (!argv[i]) return 1;
    }
    int code = cli_main(argc, argv);
    for (int i = 0; i < argc; ++i) free(argv[i]);
    free(argv);
    return code;
}
