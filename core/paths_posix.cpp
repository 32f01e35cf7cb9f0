// POSIX half of the path and file layer, with the same contract as the Win32
// one. Paths are bytes already; no conversion.
#include "core/paths.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

FILE* open_utf8(const char* path, const char* mode) { return fopen(path, mode); }

int seek_to(FILE* stream, uint64_t offset) {
    if (offset > (uint64_t)INT64_MAX) return 0;
    return fseeko(stream, (off_t)offset, SEEK_SET) == 0;
}

uint64_t file_size_of(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0 || S_ISDIR(st.st_mode)) return 0;
    return (uint64_t)st.st_size;
}

int is_directory(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int path_exists(const char* path) {
    struct stat st;
    // A dangling link still occupies the name.
    return lstat(path, &st) == 0;
}

int move_replace(const char* existing_path, const char* new_path) {
    // rename() replaces a file but also an empty folder; MoveFileExW never
    // replaces a folder, so refuse that case to keep one contract.
    struct stat st;
    if (lstat(new_path, &st) == 0 && S_ISDIR(st.st_mode)) return 0;
    return rename(existing_path, new_path) == 0;
}

int make_dir(const char* path) {
    if (mkdir(path, 0777) == 0) return 1;
    return errno == EEXIST;
}

int remove_tree(const char* path) {
    struct stat st;
    if (lstat(path, &st) != 0) return 1;
    if (!S_ISDIR(st.st_mode)) {
        // Files and links of every kind: the link itself goes, never its
        // target. A read-only file needs no attribute change here; the
        // folder's permissions decide.
        return unlink(path) == 0;
    }
    int all_ok = 1;
    DIR* dir = opendir(path);
    if (dir) {
        struct dirent* entry;
        while ((entry = readdir(dir)) != nullptr) {
            const char* n = entry->d_name;
            if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
            char child[PATH_CAPACITY];
            path_join(child, sizeof child, path, n);
            if (!remove_tree(child)) all_ok = 0;
        }
        closedir(dir);
    }
    return rmdir(path) == 0 && all_ok;
}

int file_is_writable(const char* path, uint32_t* mode_out) {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    if (!(st.st_mode & S_IWUSR) || access(path, W_OK) != 0) return 0;
    if (mode_out) *mode_out = (uint32_t)(st.st_mode & 07777);
    return 1;
}

int set_file_mode(const char* path, uint32_t mode) { return chmod(path, (mode_t)mode) == 0; }
