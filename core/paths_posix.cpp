// POSIX half of the path and file layer, with the same contract as the Win32
// one. Paths are bytes already; no conversion.
#include "core/paths.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// renameat2's flag: swap the two names (Linux 3.15 and later).
#define RENAME_EXCHANGE_FLAG (1 << 1)

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

#if defined(__linux__) && defined(SYS_renameat2)
int exchange_paths(const char* first, const char* second) {
    // Called through syscall: older C libraries lack the renameat2 wrapper.
    // EINVAL (file system without the flag), ENOSYS (old kernel), EXDEV and
    // ENOENT all leave both names as they were.
    return syscall(SYS_renameat2, AT_FDCWD, first, AT_FDCWD, second, RENAME_EXCHANGE_FLAG) == 0;
}
#else
int exchange_paths(const char*, const char*) { return 0; }
#endif

// Folder levels remove_tree descends; each holds one descriptor open.
enum { REMOVE_MAX_DEPTH = 256 };

// Empties the open folder `folder` (consumes the descriptor). Every step is
// relative to it and never follows a link, so a subfolder swapped for a link
// mid-way costs the link, never what it points to.
static int empty_folder(int folder, int depth) {
    DIR* dir = fdopendir(folder);
    if (!dir) {
        close(folder);
        return 0;
    }
    int all_ok = 1;
    struct dirent* entry;
    while ((entry = readdir(dir)) != nullptr) {
        const char* n = entry->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
        // Files and links of every kind: unlinkat removes the entry itself.
        // A folder fails with EISDIR (Linux) or EPERM (POSIX).
        if (entry->d_type != DT_DIR && (unlinkat(folder, n, 0) == 0 || errno == ENOENT)) continue;
        int child = depth < REMOVE_MAX_DEPTH
                        ? openat(folder, n, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                        : -1;
        if (child < 0) {
            // Not a folder (any more): a link or file put in its place.
            if (unlinkat(folder, n, 0) != 0 && errno != ENOENT) all_ok = 0;
            continue;
        }
        if (!empty_folder(child, depth + 1)) all_ok = 0;
        if (unlinkat(folder, n, AT_REMOVEDIR) != 0 && errno != ENOENT) all_ok = 0;
    }
    closedir(dir);
    return all_ok;
}

int remove_tree(const char* path) {
    struct stat st;
    if (lstat(path, &st) != 0) return 1;
    if (!S_ISDIR(st.st_mode)) {
        // Files and links of every kind: the link itself goes, never its
        // target. A read-only file needs no attribute change here; the
        // folder's permissions decide.
        return unlink(path) == 0 || errno == ENOENT;
    }
    int folder = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) {
        // Swapped for a link or file since the lstat.
        return unlink(path) == 0 || errno == ENOENT;
    }
    int all_ok = empty_folder(folder, 0);
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
