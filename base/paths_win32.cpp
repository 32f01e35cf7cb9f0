// Win32 half of the path and file layer. Every UTF-8 argument is converted to
// UTF-16 right at the call and the wide copy is freed right after it.
#include "base/paths.h"

#include <windows.h>
#include <io.h>

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

// Calls visit with every entry of the folder path but "." and "..": its name
// in UTF-8 (a name that cannot be converted counts as a failed visit) and
// its path joined to path. Stops early when visit returns -1. Returns -1
// when the enumeration cannot be started, else 1 when every visit returned 1
// and 0 otherwise.
typedef int (*EntryVisit)(const char* name, const char* child, void* user);
static int visit_folder(const char* path, EntryVisit visit, void* user) {
    char pattern[PATH_CAPACITY];
    path_join(pattern, sizeof pattern, path, "*");
    wchar_t* wpattern = wide_copy(pattern);
    if (!wpattern) return -1;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(wpattern, &entry);
    free(wpattern);
    if (find == INVALID_HANDLE_VALUE) return -1;
    int all_ok = 1;
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
        int result = visit(name, child, user);
        if (result != 1) all_ok = 0;
        if (result == -1) break;
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return all_ok;
}

// 1 when the open handle is a file on a disk: not a folder, pipe, console or
// other device.
static int handle_is_regular_file(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) return 0;
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(handle, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

FILE* open_input(const char* path) {
    wchar_t* wpath = wide_copy(path);
    if (!wpath) return nullptr;
    FILE* file = _wfopen(wpath, L"rb");
    free(wpath);
    if (file && !handle_is_regular_file((HANDLE)_get_osfhandle(_fileno(file)))) {
        fclose(file);
        return nullptr;
    }
    return file;
}

FILE* open_utf8(const char* path, const char* mode) {
    // Everything the program reads is a file: a pipe or console would block
    // or never end.
    if (mode[0] == 'r') return open_input(path);
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

int make_new_dir(const char* path) {
    wchar_t* wpath = wide_copy(path);
    int ok = wpath && CreateDirectoryW(wpath, nullptr);
    free(wpath);
    return ok;
}

static int stop_at_any(const char*, const char*, void*) { return -1; }

int is_empty_folder(const char* path) {
    DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return 0;
    // An empty folder still lists "." and "..", so the enumeration starts.
    return visit_folder(path, stop_at_any, nullptr) == 1;
}

// No atomic exchange of two folders here (MoveFileEx never replaces a
// folder); builds use the aside scheme.
int exchange_paths(const char*, const char*) { return 0; }

// Why the last removal on this thread failed, for remove_tree_patiently.
static thread_local DWORD removal_error;

static int remove_tree_but(const char* path, const char* skip);

int remove_tree(const char* path) { return remove_tree_but(path, nullptr); }

static int remove_child(const char* name, const char* child, void* skip);

static int remove_child(const char* name, const char* child, void* skip) {
    if (skip && strcmp(name, (const char*)skip) == 0) return 1;
    return remove_tree(child);
}

// remove_tree, passing over the entry named skip directly inside path (a
// folder then stays, holding it).
static int remove_tree_but(const char* path, const char* skip) {
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
        if (!ok) removal_error = GetLastError();
        free(wpath);
        return ok;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A junction or folder symlink: remove the link, never its target.
        // Any folder reparse point counts as a link: never enumerating one
        // is the safe side. (Wine shows a Unix symlink to a folder this way
        // and cannot remove it; the call then fails and nothing is lost.)
        int ok = RemoveDirectoryW(wpath) != 0;
        if (!ok) removal_error = GetLastError();
        free(wpath);
        return ok;
    }
    free(wpath);

    // An enumeration that cannot start visits no child; the removal of the
    // folder itself then decides.
    int all_ok = visit_folder(path, remove_child, (void*)skip) != 0;
    if (skip) return all_ok;
    wpath = wide_copy(path);
    int removed = wpath && RemoveDirectoryW(wpath);
    if (wpath && !removed) removal_error = GetLastError();
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

// --- inputs, identity and durability ---

// An open handle on path for reading its attributes (folders too), or
// INVALID_HANDLE_VALUE. Every sharing mode is granted, so that probing never
// gets in anybody's way.
static HANDLE open_for_attributes(const wchar_t* wpath) {
    return CreateFileW(wpath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

int is_regular_file(const char* path) {
    wchar_t* wpath = wide_copy(path);
    if (!wpath) return 0;
    HANDLE handle = open_for_attributes(wpath);
    free(wpath);
    int regular = handle_is_regular_file(handle);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return regular;
}

static int handle_stamp(HANDLE handle, FileStamp* out) {
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return 0;
    memset(out, 0, sizeof *out);
    out->volume = info.dwVolumeSerialNumber;
    out->index = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
    out->size = (uint64_t)info.nFileSizeHigh << 32 | info.nFileSizeLow;
    out->modified = (int64_t)((uint64_t)info.ftLastWriteTime.dwHighDateTime << 32 | info.ftLastWriteTime.dwLowDateTime);
    FILE_BASIC_INFO basic;
    if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        out->changed = basic.ChangeTime.QuadPart;
    out->valid = 1;
    return 1;
}

static int wide_path_stamp(const wchar_t* wpath, FileStamp* out) {
    HANDLE handle = open_for_attributes(wpath);
    int ok = handle_stamp(handle, out);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return ok;
}

int stream_stamp(FILE* stream, FileStamp* out) { return handle_stamp((HANDLE)_get_osfhandle(_fileno(stream)), out); }

int path_stamp(const char* path, FileStamp* out) {
    wchar_t* wpath = wide_copy(path);
    if (!wpath) return 0;
    int ok = wide_path_stamp(wpath, out);
    free(wpath);
    return ok;
}

int path_lies_within(const char* path, const char* folder) {
    FileStamp target;
    if (!path_stamp(folder, &target)) return 0;
    wchar_t* wpath = wide_copy(path);
    if (!wpath) return 0;
    HANDLE handle = open_for_attributes(wpath);
    free(wpath);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    // The final path has every link, "..", short name and letter case
    // resolved, so each textual parent is the real parent.
    enum { FINAL_UNITS = 32768 };
    wchar_t* final_path = (wchar_t*)malloc(FINAL_UNITS * sizeof(wchar_t));
    DWORD units = final_path ? GetFinalPathNameByHandleW(handle, final_path, FINAL_UNITS, VOLUME_NAME_DOS) : 0;
    CloseHandle(handle);
    if (units == 0 || units >= FINAL_UNITS) {
        free(final_path);
        return 0;
    }
    int inside = 0;
    size_t length = units;
    for (;;) {
        FileStamp here;
        if (wide_path_stamp(final_path, &here) && same_file(&here, &target)) {
            inside = 1;
            break;
        }
        size_t cut = length;
        while (cut > 0 && final_path[cut - 1] != L'\\') --cut;
        if (cut == 0) break;
        // Keep the root's separator ("\\?\\C:\\"); stop above it.
        if (final_path[cut] == 0) break;
        size_t keep = cut - 1;
        if (keep > 0 && final_path[keep - 1] == L':') keep = cut;
        if (keep == length) break;
        final_path[keep] = 0;
        length = keep;
        if (length <= 4) break;  // "\\?\\" prefix only
    }
    free(final_path);
    return inside;
}

static int flush_path(const wchar_t* wpath, int is_folder) {
    HANDLE handle = CreateFileW(wpath, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                is_folder ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return is_folder;  // folders: best effort
    int ok = FlushFileBuffers(handle) != 0 || is_folder;
    CloseHandle(handle);
    return ok;
}

static int sync_child(const char*, const char* child, void*) { return sync_tree(child); }

int sync_tree(const char* path) {
    DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return 1;  // a link: nothing of ours
    wchar_t* wpath = wide_copy(path);
    if (!wpath) return 0;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        int ok = flush_path(wpath, 0);
        free(wpath);
        return ok;
    }
    free(wpath);
    int all_ok = visit_folder(path, sync_child, nullptr) == 1;
    wpath = wide_copy(path);
    if (wpath) flush_path(wpath, 1);
    free(wpath);
    return all_ok;
}

int sync_folder(const char* path) {
    wchar_t* wpath = wide_copy(path);
    if (wpath) flush_path(wpath, 1);
    free(wpath);
    return 1;
}

int remove_tree_last(const char* path, const char* last_name) {
    if (!is_directory(path)) return remove_tree(path);
    if (!remove_tree_but(path, last_name)) return 0;
    char last[PATH_CAPACITY];
    path_join(last, sizeof last, path, last_name);
    if (!remove_tree(last)) return 0;
    wchar_t* wpath = wide_copy(path);
    int removed = wpath && RemoveDirectoryW(wpath);
    if (wpath && !removed) removal_error = GetLastError();
    free(wpath);
    return removed;
}

// Failures that a scanner or indexer holding a fresh file causes for a
// moment.
static int is_transient(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Pauses of 20 ms growing to 1 s, about 10 s in all: long enough for a
// scanner to let go, short enough that a real failure is reported soon.
static const DWORD PATIENCE_MS = 10000, FIRST_PAUSE_MS = 20, LONGEST_PAUSE_MS = 1000;

int move_patiently(const char* existing_path, const char* new_path) {
    DWORD waited = 0, pause = FIRST_PAUSE_MS;
    for (;;) {
        if (move_replace(existing_path, new_path)) return 1;
        if (!is_transient(GetLastError()) || waited >= PATIENCE_MS) return 0;
        Sleep(pause);
        waited += pause;
        pause = pause * 2 > LONGEST_PAUSE_MS ? LONGEST_PAUSE_MS : pause * 2;
    }
}

int remove_tree_patiently(const char* path, const char* last_name) {
    DWORD waited = 0, pause = FIRST_PAUSE_MS;
    for (;;) {
        removal_error = 0;
        if (remove_tree_last(path, last_name)) return 1;
        if (!is_transient(removal_error) || waited >= PATIENCE_MS) return 0;
        Sleep(pause);
        waited += pause;
        pause = pause * 2 > LONGEST_PAUSE_MS ? LONGEST_PAUSE_MS : pause * 2;
    }
}

int folder_free_space(const char* folder, uint64_t* free_out) {
    wchar_t* wfolder = wide_copy(folder);
    if (!wfolder) return 0;
    ULARGE_INTEGER available;
    const BOOL ok = GetDiskFreeSpaceExW(wfolder, &available, nullptr, nullptr);
    free(wfolder);
    if (!ok) return 0;
    *free_out = available.QuadPart;
    return 1;
}

// Windows has no asynchronous writeback request; sync_tree flushes.
void start_writeback(FILE*) {}
