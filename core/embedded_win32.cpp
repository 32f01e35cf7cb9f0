// The embedded game executables, as RT_RCDATA resources of the own module.
#include <windows.h>

#include <string.h>

#include "core/build.h"

static const char* resource_name(const char* game_id) {
    return strcmp(game_id, "duskmere") == 0 ? "DUSKMERE" : "TOLLVANE";
}

const unsigned char* embedded_game_bytes(const char* game_id, size_t* size_out) {
    HRSRC found = FindResourceA(nullptr, resource_name(game_id), MAKEINTRESOURCEA(10));
    if (!found) return nullptr;
    HGLOBAL loaded = LoadResource(nullptr, found);
    if (!loaded) return nullptr;
    const unsigned char* bytes = (const unsigned char*)LockResource(loaded);
    DWORD size = SizeofResource(nullptr, found);
    if (!bytes || size == 0) return nullptr;
    if (size_out) *size_out = size;
    return bytes;
}

int extract_game_executable(const char* game_id, const char* path, char* error, size_t error_capacity) {
    size_t size = 0;
    const unsigned char* bytes = embedded_game_bytes(game_id, &size);
    if (!bytes) {
        set_error(error, error_capacity, "the builder is missing its copy of the game (%s); download it again",
                  game_id);
        return 0;
    }
    wchar_t wpath[2048];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wpath, 2048) == 0) wpath[0] = 0;
    HANDLE file = CreateFileW(wpath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    int ok = 0;
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ok = WriteFile(file, bytes, (DWORD)size, &written, nullptr) && written == size;
        if (!CloseHandle(file)) ok = 0;
    }
    if (!ok) {
        set_error(error, error_capacity, "cannot write %s", path);
        return 0;
    }
    return 1;
}
