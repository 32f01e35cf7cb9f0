// POSIX half of the path and file layer, with the same contract as the Win32
// one. Paths are bytes already; no conversion.
#include "base/paths.h"

#include <dirent.h>
#include <limits.h>
#include <pthread.h>
#include <stdlib.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

// renameat2's flag: swap the two names (Linux 3.15 and later).
#define RENAME_EXCHANGE_FLAG (1 << 1)

FILE* open_input(const char* path) {
    // Non-blocking, so that a FIFO cannot stall the open itself; the mode is
    // put back once the descriptor is known to be a regular file.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "rb");
    if (!file) close(fd);
    return file;
}

FILE* open_utf8(const char* path, const char* mode) {
    // Everything the program reads is a file: a FIFO or device would block
    // or never end.
    if (mode[0] == 'r') return open_input(path);
    return fopen(path, mode);
}

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

int make_new_dir(const char* path) { return mkdir(path, 0777) == 0; }

int is_empty_folder(const char* path) {
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return 0;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return 0;
    }
    int empty = 1;
    struct dirent* entry;
    while (empty && (entry = readdir(dir)) != nullptr) {
        const char* n = entry->d_name;
        if (!(n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))) empty = 0;
    }
    closedir(dir);
    return empty;
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

// Empties the open folder `folder` but for the entry named skip (may be
// null) (consumes the descriptor). Every step is
// relative to it and never follows a link, so a subfolder swapped for a link
// mid-way costs the link, never what it points to.
static int empty_folder(int folder, int depth, const char* skip) {
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
        if (skip && strcmp(n, skip) == 0) continue;
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
        if (!empty_folder(child, depth + 1, nullptr)) all_ok = 0;
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
    int all_ok = empty_folder(folder, 0, nullptr);
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

int is_regular_file(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

static void stamp_from_stat(const struct stat* st, FileStamp* out) {
    memset(out, 0, sizeof *out);
    out->volume = (uint64_t)st->st_dev;
    out->index = (uint64_t)st->st_ino;
    out->size = (uint64_t)st->st_size;
    out->modified = (int64_t)st->st_mtim.tv_sec * 1000000000 + st->st_mtim.tv_nsec;
    out->changed = (int64_t)st->st_ctim.tv_sec * 1000000000 + st->st_ctim.tv_nsec;
    out->valid = 1;
}

int stream_stamp(FILE* stream, FileStamp* out) {
    struct stat st;
    if (fstat(fileno(stream), &st) != 0) return 0;
    stamp_from_stat(&st, out);
    return 1;
}

int path_stamp(const char* path, FileStamp* out) {
    struct stat st;
    if (stat(path, &st) != 0) return 0;
    stamp_from_stat(&st, out);
    return 1;
}

int path_lies_within(const char* path, const char* folder) {
    FileStamp target;
    if (!path_stamp(folder, &target)) return 0;
    // Resolved: no links, no "." or "..", so each textual parent is the
    // real parent.
    char* real = realpath(path, nullptr);
    if (!real) return 0;
    int inside = 0;
    size_t length = strlen(real);
    for (;;) {
        FileStamp here;
        if (path_stamp(real, &here) && same_file(&here, &target)) {
            inside = 1;
            break;
        }
        if (length <= 1) break;
        while (length > 1 && real[length - 1] != '/') --length;
        if (length > 1) --length;  // drop the separator, keep "/" itself
        real[length] = 0;
    }
    free(real);
    return inside;
}

// Flushes everything below the open folder `folder` and the folder itself
// (consumes the descriptor).
static int sync_folder_tree(int folder, int depth) {
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
        int fd = openat(folder, n, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ELOOP) all_ok = 0;  // a link: nothing of ours to flush
            continue;
        }
        struct stat st;
        if (fstat(fd, &st) != 0) {
            close(fd);
            all_ok = 0;
        } else if (S_ISDIR(st.st_mode) && depth < REMOVE_MAX_DEPTH) {
            if (!sync_folder_tree(fd, depth + 1)) all_ok = 0;
        } else {
            if (S_ISREG(st.st_mode) && fsync(fd) != 0) all_ok = 0;
            close(fd);
        }
    }
    if (fsync(dirfd(dir)) != 0) all_ok = 0;
    closedir(dir);
    return all_ok;
}

int sync_tree(const char* path) {
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return 0;
    }
    if (S_ISDIR(st.st_mode)) return sync_folder_tree(fd, 0);
    int ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

int sync_folder(const char* path) {
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    int ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

int remove_tree_last(const char* path, const char* last_name) {
    struct stat st;
    if (lstat(path, &st) != 0) return 1;
    if (!S_ISDIR(st.st_mode)) return remove_tree(path);
    int folder = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return unlink(path) == 0 || errno == ENOENT;
    if (!empty_folder(folder, 0, last_name)) return 0;
    char last[PATH_CAPACITY];
    path_join(last, sizeof last, path, last_name);
    return remove_tree(last) && rmdir(path) == 0;
}

int move_patiently(const char* existing_path, const char* new_path) {
    return move_replace(existing_path, new_path);
}

int remove_tree_patiently(const char* path, const char* last_name) {
    return remove_tree_last(path, last_name);
}

int folder_free_space(const char* folder, uint64_t* free_out) {
    struct statvfs info;
    if (statvfs(folder, &info) != 0) return 0;
    *free_out = (uint64_t)info.f_bavail * (uint64_t)info.f_frsize;
    return 1;
}

#ifdef __linux__
namespace {

// Starting a file's writeback queues its pages for the disk, and the call
// waits whenever the disk's queue is full: for a file of 170 MB, about
// 60 ms here, of which 12 ms are CPU time. One background thread makes
// those calls, so the thread that finished the file goes on at once. It
// holds a duplicate of each descriptor until its call is made; a file
// renamed or removed meanwhile is still the same file. The primitives are
// statically initialised and never destroyed: the thread may still wait
// on them while the process exits.
enum { WRITEBACK_QUEUE = 64 };
pthread_mutex_t writeback_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t writeback_queued = PTHREAD_COND_INITIALIZER;
int writeback_fds[WRITEBACK_QUEUE];
unsigned writeback_head = 0, writeback_count = 0;
int writeback_thread_state = 0;  // 0 not started, 1 running, -1 could not start

void write_back_now(int fd) {
    // A hint: its failure (an unsupported file system) changes nothing.
    (void)sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void* writeback_main(void*) {
    pthread_mutex_lock(&writeback_lock);
    for (;;) {
        while (writeback_count == 0) pthread_cond_wait(&writeback_queued, &writeback_lock);
        const int fd = writeback_fds[writeback_head];
        writeback_head = (writeback_head + 1) % WRITEBACK_QUEUE;
        --writeback_count;
        pthread_mutex_unlock(&writeback_lock);
        write_back_now(fd);
        close(fd);
        pthread_mutex_lock(&writeback_lock);
    }
    return nullptr;
}

// Hands fd to the background thread (starting it the first time); 0 when
// there is none or its queue is full, and fd is then the caller's.
int queue_writeback(int fd) {
    int queued = 0;
    pthread_mutex_lock(&writeback_lock);
    if (writeback_thread_state == 0) {
        pthread_t thread;
        pthread_attr_t attributes;
        int started = pthread_attr_init(&attributes) == 0;
        if (started) {
            started = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0 &&
                      pthread_create(&thread, &attributes, writeback_main, nullptr) == 0;
            pthread_attr_destroy(&attributes);
        }
        writeback_thread_state = started ? 1 : -1;
    }
    if (writeback_thread_state == 1 && writeback_count < WRITEBACK_QUEUE) {
        writeback_fds[(writeback_head + writeback_count) % WRITEBACK_QUEUE] = fd;
        ++writeback_count;
        pthread_cond_signal(&writeback_queued);
        queued = 1;
    }
    pthread_mutex_unlock(&writeback_lock);
    return queued;
}

}  // namespace
#endif

void start_writeback(FILE* stream) {
#ifdef __linux__
    const int fd = fcntl(fileno(stream), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        write_back_now(fileno(stream));
        return;
    }
    if (!queue_writeback(fd)) {
        write_back_now(fd);
        close(fd);
    }
#else
    (void)stream;
#endif
}
