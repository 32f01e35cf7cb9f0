#include <windows.h>
#include <io.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>

#include "cli/cli.h"
#include "cli/cli_platform.h"

// The console's output code page belongs to the console, shared with the
// shell that started us: put back what was there when we leave.
static UINT saved_output_cp;

static void restore_output_cp(void) {
    if (saved_output_cp) SetConsoleOutputCP(saved_output_cp);
}

void cli_console_init(void) {
    UINT current = GetConsoleOutputCP();
    if (current && current != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        saved_output_cp = current;
        atexit(restore_output_cp);
    }
}

void cli_write(int to_stderr, const char* text) {
    FILE* stream = to_stderr ? stderr : stdout;
    HANDLE handle = GetStdHandle(to_stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode;
    if (handle != INVALID_HANDLE_VALUE && handle && GetConsoleMode(handle, &mode)) {
        // The C runtime would pass the bytes through a code page of its
        // own choosing; the console takes UTF-16 as it is.
        fflush(stream);
        int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
        if (units > 1) {
            wchar_t* wide = (wchar_t*)malloc((size_t)units * sizeof(wchar_t));
            if (wide) {
                MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, units);
                DWORD done = 0;
                WriteConsoleW(handle, wide, (DWORD)(units - 1), &done, nullptr);
                free(wide);
                return;
            }
        }
    }
    fputs(text, stream);
    fflush(stream);
}

int cli_stdout_is_terminal(void) {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

int cli_terminal_columns(void) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) return columns;
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

// Room for an environment variable's value, in UTF-16 units.
enum { ENV_VALUE_UNITS = 2048 };

static CancelFlag* watched;

// Runs on a thread of its own that the system starts for each event.
static BOOL WINAPI on_control(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        if (watched) request_cancel(watched);
        return TRUE;  // handled: the process goes on and stops cleanly
    }
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        // The console is going away and the system ends the process once
        // this returns (or after its grace period): ask the build to stop
        // and give it that time to remove its staging folder. The process
        // ends sooner when the main thread gets there first.
        if (watched) request_cancel(watched);
        Sleep(4500);
    }
    return FALSE;
}

void cli_watch_interrupt(CancelFlag* flag) {
    watched = flag;
    SetConsoleCtrlHandler(on_control, TRUE);
}

double cli_seconds(void) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

int cli_environment(const char* name, char* out, size_t capacity) {
    if (capacity) out[0] = 0;
    wchar_t wide_name[256];
    if (MultiByteToWideChar(CP_UTF8, 0, name, -1, wide_name, 256) == 0) return 0;
    wchar_t value[ENV_VALUE_UNITS];
    DWORD units = GetEnvironmentVariableW(wide_name, value, ENV_VALUE_UNITS);
    if (units == 0 || units >= ENV_VALUE_UNITS) return 0;
    if (WideCharToMultiByte(CP_UTF8, 0, value, -1, out, (int)capacity, nullptr, nullptr) == 0) {
        if (capacity) out[0] = 0;
        return 0;
    }
    return 1;
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
