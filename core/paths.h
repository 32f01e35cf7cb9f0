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
// a missing, empty, unreadable or over-2-GiB file. *size_out gets the size.
unsigned char* read_whole_file(const char* path, uint64_t* size_out);

#endif
