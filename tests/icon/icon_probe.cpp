// Windows helper of the native icon tests, run under Wine:
//   icon_probe dump <exe> <out.txt>   writes every resource of exe as text
//                                     (resource_map_text); exit 0, or 1
//                                     when exe cannot be loaded
//   icon_probe hold <file> <ms>       opens file for writing without
//                                     sharing, creates "<file>.held", waits
//                                     ms milliseconds, exits 0
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "icon/resource_dump.h"

static std::string narrow(const wchar_t* w) {
    char utf8[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, utf8, sizeof utf8, nullptr, nullptr);
    return std::string(utf8, n > 0 ? n - 1 : 0);
}

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && wcscmp(argv[1], L"dump") == 0) {
        ResourceMap map;
        if (!dump_resources(narrow(argv[2]), &map)) return 1;
        std::string text = resource_map_text(map);
        FILE* f = _wfopen(argv[3], L"wb");
        if (!f) return 2;
        size_t written = fwrite(text.data(), 1, text.size(), f);
        return (fclose(f) == 0 && written == text.size()) ? 0 : 2;
    }
    if (argc == 4 && wcscmp(argv[1], L"hold") == 0) {
        HANDLE h = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return 1;
        std::wstring marker = std::wstring(argv[2]) + L".held";
        HANDLE m = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (m != INVALID_HANDLE_VALUE) CloseHandle(m);
        Sleep((DWORD)_wtoi(argv[3]));
        CloseHandle(h);
        return 0;
    }
    return 3;
}
