#include "icon/resource_dump.h"

#include <stdio.h>

#ifdef _WIN32
#include <windows.h>

static std::wstring widen(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, &w[0], n);
    w.resize(wcslen(w.c_str()));
    return w;
}

static std::string key_text(LPCWSTR key) {
    if (IS_INTRESOURCE(key)) return std::to_string((unsigned)(ULONG_PTR)key);
    char utf8[512];
    int n = WideCharToMultiByte(CP_UTF8, 0, key, -1, utf8, sizeof utf8, nullptr, nullptr);
    return "'" + std::string(utf8, n > 0 ? n - 1 : 0) + "'";
}

struct DumpContext {
    HMODULE module;
    ResourceMap* out;
    int ok;
};

static BOOL CALLBACK on_language(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR user) {
    DumpContext* c = (DumpContext*)user;
    HRSRC found = FindResourceExW(module, type, name, language);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    DWORD size = found ? SizeofResource(module, found) : 0;
    if (!found || (!bytes && size)) {
        c->ok = 0;
        return FALSE;
    }
    std::string key = key_text(type) + "/" + key_text(name) + "/" + std::to_string(language);
    (*c->out)[key] = std::string((const char*)bytes, size);
    return TRUE;
}

static BOOL CALLBACK on_name(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR user) {
    EnumResourceLanguagesW(module, type, name, on_language, user);
    return ((DumpContext*)user)->ok;
}

static BOOL CALLBACK on_type(HMODULE module, LPWSTR type, LONG_PTR user) {
    EnumResourceNamesW(module, type, on_name, user);
    return ((DumpContext*)user)->ok;
}

static HMODULE load_data_file(const std::string& path) {
    return LoadLibraryExW(widen(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

int dump_resources(const std::string& utf8_path, ResourceMap* out) {
    out->clear();
    HMODULE module = load_data_file(utf8_path);
    if (!module) return 0;
    DumpContext c = {module, out, 1};
    EnumResourceTypesW(module, on_type, (LONG_PTR)&c);
    FreeLibrary(module);
    return c.ok;
}

int find_resource_by_id(const std::string& utf8_path, int type, int id, std::string* bytes) {
    HMODULE module = load_data_file(utf8_path);
    if (!module) return 0;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    DWORD size = found ? SizeofResource(module, found) : 0;
    int ok = found && (data || !size);
    if (ok) bytes->assign((const char*)data, size);
    FreeLibrary(module);
    return ok;
}
#endif

std::string resource_map_text(const ResourceMap& map) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (auto& entry : map) {
        text += entry.first + " ";
        for (unsigned char b : entry.second) {
            text += digits[b >> 4];
            text += digits[b & 15];
        }
        text += "\n";
    }
    return text;
}

static int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int parse_resource_map_text(const std::string& text, ResourceMap* out) {
    out->clear();
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) return 0;
        size_t space = text.rfind(' ', end);
        if (space == std::string::npos || space < at) return 0;
        std::string hex = text.substr(space + 1, end - space - 1), bytes;
        if (hex.size() % 2) return 0;
        for (size_t i = 0; i < hex.size(); i += 2) {
            int hi = hex_value(hex[i]), lo = hex_value(hex[i + 1]);
            if (hi < 0 || lo < 0) return 0;
            bytes += (char)(hi * 16 + lo);
        }
        (*out)[text.substr(at, space - at)] = bytes;
        at = end + 1;
    }
    return 1;
}
