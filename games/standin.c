/* Stand-in for a game executable: checks the data layout that the build
 * puts beside it and says what it found. Built twice: GAME_DISC=1 is the
 * Boss Rally stand-in ("duskmere"), GAME_DISC=0 the Top Gear Rally one
 * ("tollvane"). With --check-data it shows nothing and exits 0 when the
 * layout is complete, else 1. */
#include <windows.h>
#include <wchar.h>

#define ROMDATA_SIZE 7927120ull

static wchar_t folder[MAX_PATH * 2];

#if GAME_DISC
static DWORD attributes(const wchar_t* name) {
    wchar_t path[MAX_PATH * 3];
    _snwprintf(path, sizeof path / sizeof path[0], L"%ls\\%ls", folder, name);
    path[sizeof path / sizeof path[0] - 1] = 0;
    return GetFileAttributesW(path);
}
#endif

static unsigned long long size_of(const wchar_t* name) {
    wchar_t path[MAX_PATH * 3];
    WIN32_FILE_ATTRIBUTE_DATA data;
    _snwprintf(path, sizeof path / sizeof path[0], L"%ls\\%ls", folder, name);
    path[sizeof path / sizeof path[0] - 1] = 0;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return ~0ull;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return ~0ull;
    return ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

/* Appends a line about what is missing; returns 1 when all is present. */
static int check_layout(wchar_t* report, size_t capacity) {
    int complete = 1;
    size_t used = 0;
    report[0] = 0;
#if GAME_DISC
    DWORD a = attributes(L"disc");
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
        used += _snwprintf(report + used, capacity - used, L"missing: disc\\\n");
        complete = 0;
    }
    if (size_of(L"disc\\BRGlide.dll") == ~0ull) {
        used += _snwprintf(report + used, capacity - used, L"missing: disc\\BRGlide.dll\n");
        complete = 0;
    }
    for (int track = 2; track <= 13 && used < capacity - 64; ++track) {
        wchar_t name[64];
        _snwprintf(name, 64, L"music\\cd\\track%02d.flac", track);
        if (size_of(name) == ~0ull) {
            used += _snwprintf(report + used, capacity - used, L"missing: %ls\n", name);
            complete = 0;
        }
    }
#else
    unsigned long long size = size_of(L"romdata.bin");
    if (size != ROMDATA_SIZE) {
        if (size == ~0ull)
            used += _snwprintf(report + used, capacity - used, L"missing: romdata.bin\n");
        else
            used += _snwprintf(report + used, capacity - used, L"romdata.bin has %llu bytes, not %llu\n", size,
                               ROMDATA_SIZE);
        complete = 0;
    }
#endif
    (void)used;
    return complete;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show) {
    (void)instance;
    (void)previous;
    (void)show;
    DWORD n = GetModuleFileNameW(NULL, folder, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) return 1;
    for (DWORD i = n; i > 0; --i)
        if (folder[i - 1] == L'\\' || folder[i - 1] == L'/') {
            folder[i - 1] = 0;
            break;
        }

    wchar_t report[2048];
    int complete = check_layout(report, 2048);
    if (command_line && wcsstr(command_line, L"--check-data")) return complete ? 0 : 1;

#if GAME_DISC
    const wchar_t* title = L"Boss Rally (stand-in)";
#else
    const wchar_t* title = L"Top Gear Rally (stand-in)";
#endif
    wchar_t text[4096];
    if (complete)
        _snwprintf(text, 4096, L"The game's data is complete in\n%ls", folder);
    else
        _snwprintf(text, 4096, L"The game's data is incomplete in\n%ls\n\n%ls", folder, report);
    text[4095] = 0;
    MessageBoxW(NULL, text, title, complete ? MB_ICONINFORMATION : MB_ICONWARNING);
    return complete ? 0 : 1;
}
