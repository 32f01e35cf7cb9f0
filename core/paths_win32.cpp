// Win32 half of the path and file layer. Every UTF-8 argument is converted to
// UTF-16 right at the call and the wide copy is freed right after it.
#include "core/paths.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

// Heap UTF-16 copy of a UTF-8 text (terminator included), or null.
static wchar_t* wide_copy(const char* text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (units < 1) units = 1;
    wchar_t* wide = (wchar_t*)malloc((size_t)units * sizeof(wchar_t));
    if (!wide) return nullptr;
    if (MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, units) == 0) wide[0] = 0;
    return wide;
}

FILE* open_utf8(const char* path, const char* mode) {
    wchar_t* wpath = wide_copy(path);
    wchar_t* wmode = wide_copy(mode);
    FILE* file = nullptr;
    if (wpath && wmode) file = _wfopen(wpath, wmode);
    free(wpath);
    free(wmode);
    return file;
}

int seek_to(FILE* stream, uint64_t offset) {
    if (offset > (uint64_t)INT64_MAX) return 0;
    return _fseeki64(stream, (int64_t)offset, SEEK_SET) == 0;
}

static DWORD attributes_of(const char* path) {
    wchar_t* wpath = wide_copy(path);
    if (!wpath) return INVALID_FILE_ATTRIBUTES;
    DWORD attributes = GetFileAttributesW(wpath);
    free(wpath);
    return attributes;
}

uint64_t file_size_of(const char* path) {
    wchar_t* wpath = wide_copy(path);
    if (!wpath) return 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    BOOL ok = GetFileAttributesExW(wpath, GetFileExInfoStandard, &data);
    free(wpath);
    if (!ok || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    return ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

int is_directory(const char* path) {
    DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int path_exists(const char* path) { return attributes_of(path) != INVALID_FILE_ATTRIBUTES; }

int move_replace(const char* existing_path, const char* new_path) {
    wchar_t* from = wide_copy(existing_path);
    wchar_t* to = wide_copy(new_path);
    int ok = from && to && MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING);
    free(from);
    free(to);
    return ok;
}

int make_dir(const char* path) {
    wchar_t* wpath = wide_copy(path);
    if (!wpath) return 0;
    int ok = CreateDirectoryW(wpath, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    free(wpath);
    return ok;
}

// No atomic exchange of two folders here (MoveFileEx never replaces a
// folder); builds use the aside scheme.
int exchange_paths(const char*, const char*) { return 0; }

int remove_tree(const char* path) {
    wchar_t* wpath = wide_copy(path);
    if (!wpath) return 1;  // cannot be probed: nothing to remove
    DWORD attributes = GetFileAttributesW(wpath);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        free(wpath);
        return 1;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        // Clear read-only so the file can go. A file symlink is left as it
        // is: changing attributes through it could reach its target, which
        // may lie outside the tree.
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) SetFileAttributesW(wpath, FILE_ATTRIBUTE_NORMAL);
        int ok = DeleteFileW(wpath) != 0;
        free(wpath);
        return ok;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A junction or folder symlink: remove the link, never its target.
        // Any folder reparse point counts as a link: never enumerating one
        // is the safe side. (Wine shows a Unix symlink to a folder this way
        // and cannot remove it; the call then fails and nothing is lost.)
        int ok = RemoveDirectoryW(wpath) != 0;
        free(wpath);
        return ok;
    }
    free(wpath);

    int all_ok = 1;
    char pattern[PATH_CAPACITY];
    path_join(pattern, sizeof pattern, path, "*");
    wchar_t* wpattern = wide_copy(pattern);
    if (wpattern) {
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileW(wpattern, &entry);
        free(wpattern);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const wchar_t* n = entry.cFileName;
                if (n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0))) continue;
                char name[1024];
                if (WideCharToMultiByte(CP_UTF8, 0, n, -1, name, sizeof name, nullptr, nullptr) == 0) {
                    all_ok = 0;
                    continue;
                }
                char child[PATH_CAPACITY];
                path_join(child, sizeof child, path, name);
                if (!remove_tree(child)) all_ok = 0;
            } while (FindNextFileW(find, &entry));
            FindClose(find);
        }
    }
    wpath = wide_copy(path);
    int removed = wpath && RemoveDirectoryW(wpath);
    free(wpath);
    return removed && all_ok;
}

int file_is_writable(const char* path, uint32_t* mode_out) {
    DWORD attributes = attributes_of(path);
    if (mode_out) *mode_out = 0;
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
}

int set_file_mode(const char* path, uint32_t mode) {
    (void)path;
    (void)mode;
    return 1;
}
