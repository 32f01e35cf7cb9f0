// Paths and files: the only module that talks to the operating system's
// file functions. Everything above it handles paths as zero-terminated UTF-8.
//
// Contract shared by every function here:
//  - Results are int 1 for success/true and 0 for failure/false unless noted.
//  - No function writes a message except set_error; callers word messages.
//  - Paths are never normalised (no case folding, no "." or ".." resolution).
//  - Both '\\' and '/' are recognised as separators when a path is inspected.
//    The separator these functions insert is PATH_SEP: '\\' on Windows, '/'
//    in the POSIX build (a backslash is an ordinary name byte there).
//  - Windows: UTF-8 is converted to UTF-16 right at each call
//    (MultiByteToWideChar, CP_UTF8, flags 0); ill-formed UTF-8 is not an
//    error. When the wide copy cannot be allocated the call acts as if the
//    OS call failed.
//  - No state between calls; safe to call from several threads at once.
#ifndef KELVORN_CORE_PATHS_H
#define KELVORN_CORE_PATHS_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef _WIN32
#define PATH_SEP '\\'
#define PATH_SEP_STR "\\"
#else
#define PATH_SEP '/'
#define PATH_SEP_STR "/"
#endif

// What the file system says of one file or folder: its identity (device and
// inode; volume serial and file index on Windows) and the state that a
// rewrite changes (size, modification and change times). Zero-filled when
// unknown.
struct FileStamp {
    uint64_t volume;
    uint64_t index;
    uint64_t size;
    int64_t modified;  // POSIX: ns since 1970; Windows: FILETIME units
    int64_t changed;   // POSIX: st_ctime in ns; Windows: ChangeTime
    int valid;         // 1 once filled
};

// Capacity of every path buffer the core composes into.
enum { PATH_CAPACITY = 2048 };

#if defined(__GNUC__)
#define KV_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define KV_PRINTF(f, a)
#endif

// Formats one message into error[0..capacity) with snprintf semantics (cut,
// always terminated). Does nothing when error is null or capacity is 0.
void set_error(char* error, size_t capacity, const char* format, ...) KV_PRINTF(3, 4);

// out = first + second when first is non-empty and ends in '\\' or '/',
// else first + PATH_SEP + second (an empty first gives PATH_SEP + second).
// Bounded by capacity.
void path_join(char* out, size_t capacity, const char* first, const char* second);

// The folder part of path: the text before the last separator; "." when
// there is none; a single separator when the only one is the first byte.
void path_parent(char* out, size_t capacity, const char* path);

// fopen with a UTF-8 path ("rb" or "wb"); null on failure.
FILE* open_utf8(const char* path, const char* mode);
// Absolute 64-bit seek; 1 when it worked.
int seek_to(FILE* stream, uint64_t offset);
// Size of a file; 0 for a folder, a missing path or an empty file.
uint64_t file_size_of(const char* path);
int is_directory(const char* path);
// 1 when something (file, folder, link) exists at path.
int path_exists(const char* path);
// Renames existing_path onto new_path, replacing an existing file there.
// Never copies across volumes.
int move_replace(const char* existing_path, const char* new_path);
// Swaps the entries at first and second (files or folders) in one atomic
// step: at every moment each name holds one of the two, never nothing.
// 1 when they were swapped; 0 when either is missing, they lie on different
// volumes, or the platform or file system has no atomic exchange (nothing
// changed then, and callers fall back to renaming one aside first).
// Linux: renameat2 with RENAME_EXCHANGE. Windows and other systems: always 0.
int exchange_paths(const char* first, const char* second);
// Deletes a file, or a folder with everything in it. A missing path is
// success. Read-only files go too. A symbolic link or junction is removed
// itself, never what it points to, also when a folder inside is swapped
// for a link while the removal runs (POSIX: every step is relative to an
// open folder and never follows a link). Every entry is attempted even
// after a failure; the result is 0 when anything was left.
int remove_tree(const char* path);
// Creates path and every missing folder above it. A drive prefix ("C:") is
// never created. 1 when path ends up a folder (or an existing file, as
// make_dir reports).
int make_dirs(const char* path);
// Creates one folder; 1 also when anything already exists under the name.
int make_dir(const char* path);
// Creates one folder that did not exist: 0 when anything is already there,
// so that the caller knows the folder and all in it are its own.
int make_new_dir(const char* path);
// 1 when path is a folder (not a link to one) with nothing in it.
int is_empty_folder(const char* path);
// Creates/truncates path and writes length bytes with one write. 1 only when
// every byte was written and the close succeeded.
int write_whole_file(const char* path, const void* bytes, size_t length);
// 1 when path is a regular file this process may rewrite: not a folder and
// not marked read-only (the read-only attribute on Windows; no owner write
// bit, or no write access, elsewhere - honoured even for a privileged user,
// as Windows honours its attribute). *mode_out (optional) receives the
// permissions a replacement should carry (0 on Windows).
int file_is_writable(const char* path, uint32_t* mode_out);
// Gives path the permissions that file_is_writable reported; 1 on Windows,
// where there are none to carry over.
int set_file_mode(const char* path, uint32_t mode);
// The whole file in a new heap buffer (caller frees with free), or null for
// a missing, empty, unreadable or over-2-GiB file, or one that is not a
// regular file. *size_out gets the size.
unsigned char* read_whole_file(const char* path, uint64_t* size_out);
// read_whole_file that also gives the stamp of the very file it read (taken
// on the open stream, so that a file swapped in under the name afterwards
// cannot pass for it). stamp_out may be null.
unsigned char* read_whole_file_stamped(const char* path, uint64_t* size_out, FileStamp* stamp_out);

// --- inputs, identity and durability ---

// 1 when path names a regular file (following links): not a folder, FIFO,
// socket or device.
int is_regular_file(const char* path);
// open_utf8 for reading an input: null for anything that is not a regular
// file, without blocking on a FIFO (POSIX: opened non-blocking, then checked
// on the open descriptor; Windows: the handle must be a disk file, not a
// folder, pipe or console). open_utf8 with a mode for reading goes through
// this too: the program reads nothing else.
FILE* open_input(const char* path);
// The stamp of an open stream (fstat / GetFileInformationByHandle).
int stream_stamp(FILE* stream, FileStamp* out);
// The stamp of path, following links; works on folders too.
int path_stamp(const char* path, FileStamp* out);
// 1 when a and b are the same file (identity only).
int same_file(const FileStamp* a, const FileStamp* b);
// 1 when a and b are the same file in the same state (identity, size and
// both times).
int same_file_state(const FileStamp* a, const FileStamp* b);
// 1 when path is folder itself or lies anywhere below it, judged by file
// identity on the fully resolved path (links, "..", letter case and 8.3
// short names cannot get round it). 0 when either cannot be resolved.
int path_lies_within(const char* path, const char* folder);

// Makes a folder tree durable: every file below it and every folder,
// itself included, is flushed to the disk (fsync / FlushFileBuffers). Links
// are not followed. 1 when every file was flushed.
int sync_tree(const char* path);
// Starts writing stream's data to the disk without waiting for it (Linux:
// sync_file_range, made by a background thread that holds a duplicate of
// the descriptor until then; elsewhere nothing), so that a later sync_tree
// over the finished file waits less. The caller has flushed the stream's
// buffer and may close, rename or remove the file at once.
// Changes no byte and promises nothing about durability: only sync_tree
// does.
void start_writeback(FILE* stream);
// Flushes one folder's entries (a rename inside it) to the disk, as far as
// the platform allows; 1 when that worked or there is nothing to do.
int sync_folder(const char* path);

// Like remove_tree, but the entry named last_name directly inside the folder
// path goes after everything else, and only when everything else went: a
// removal cut short leaves that entry in place as long as anything remains
// beside it.
int remove_tree_last(const char* path, const char* last_name);

// move_replace and remove_tree_last for the build's own folders, patient with
// what is transient on Windows: a virus scanner or indexer holding a fresh
// file makes a rename or removal fail with access denied or a sharing
// violation for a moment. Those failures are retried with a growing pause,
// about 10 seconds in all; any other failure returns at once. Elsewhere they
// are the plain calls.
int move_patiently(const char* existing_path, const char* new_path);
int remove_tree_patiently(const char* path, const char* last_name);

// Bytes free for this user on the volume that holds path, or would hold it:
// the nearest folder of path that exists is asked, since a destination may
// not exist yet. 1 with *free_out set, 0 when it cannot be told.
int free_space_of(const char* path, uint64_t* free_out);

#endif
