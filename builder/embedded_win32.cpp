// The embedded game executables, as RT_RCDATA resources of the own module.
#include <windows.h>

#include <string.h>

#include "base/paths.h"
#include "builder/embedded.h"

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

// One CreateFileW (no sharing, truncating) and one WriteFile of all bytes.
int write_embedded_executable(const char* path, const unsigned char* bytes, size_t size) {
    wchar_t wpath[2048];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wpath, 2048) == 0) wpath[0] = 0;
    HANDLE file = CreateFileW(wpath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    int ok = WriteFile(file, bytes, (DWORD)size, &written, nullptr) && written == size;
    if (!CloseHandle(file)) ok = 0;
    return ok;
}
