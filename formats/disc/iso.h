// Raw disc image (MODE1/2352) and its ISO 9660 / Joliet file system:
// reading the data track's user data and extracting the whole file tree.
//
// Raw layout: every sector of the BIN is 2352 bytes; a data sector holds
// 12 sync bytes (00, ten FF, 00), a 4-byte header, 2048 bytes of user data
// and 288 bytes of EDC/ECC. The data track starts at byte 0 of the BIN.
// Logical byte b of the data track lies at BIN offset
//     (b mod 2048) + (b div 2048) * 2352 + 16.
//
// Conventions: int 1 success / 0 failure; messages go into the caller's
// error buffer with set_error (it may be absent). Paths are UTF-8.
// Only one extraction may run at a time: file data goes through one
// module-level 128 KiB copy buffer.
#ifndef KELVORN_FORMATS_DISC_ISO_H
#define KELVORN_FORMATS_DISC_ISO_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "base/progress.h"

enum {
    DISC_RAW_SECTOR = 2352,
    DISC_USER_SECTOR = 2048,
    DISC_USER_OFFSET = 16,          // sync (12) + header (4)
    DISC_COPY_CHUNK = 131072,       // file data is copied in pieces of this size
    DISC_MAX_DEPTH = 16,            // directory levels below the root
    DISC_MAX_DIRECTORY = 16777216,  // bytes of records in one directory
    DISC_NAME_CAPACITY = 512,       // a converted name is at most 510 bytes
};

// The open image. file: the BIN, opened "rb" with open_utf8. joliet: 1 when
// the root came from a Joliet descriptor (names are UCS-2 big-endian).
struct DiscVolume {
    FILE* file;
    int joliet;
};

// The state of one extraction, shared by the counting walk (copying 0) and
// the copying walk (copying 1). Starts all zero; the caller fills in its
// values. The fields after `copying` are private to extract_disc_files:
// - walked: a bitmap of directory extents already walked in the current
//   walk (null: no such check), so that a crafted image cannot make the walk
//   revisit a directory (records pointing back at a directory would
//   otherwise fan out exponentially within the depth limit);
// - limited, sector_limit: when limited is 1, every directory and every
//   file of non-zero length must end at or before logical sector
//   sector_limit (the volume's size, or the data track's end when that is
//   shorter); anything beyond it is damage, since the sectors after the data
//   track are audio;
// - bin_bytes: the BIN's size, when limited is 1; a file that runs past it
//   is refused by the counting walk, before anything is copied.
struct DiscExtraction {
    DiscVolume* volume;
    uint64_t byte_total;    // sum of all file lengths (counting walk)
    uint64_t bytes_done;    // bytes copied so far (copying walk)
    Progress progress;      // the range the copying walk fills; cancel
    char* error;            // may be null
    size_t error_capacity;
    int copying;
    unsigned char* walked;  // one bit per logical sector, or null
    uint64_t walked_sectors;
    int limited;
    uint64_t sector_limit;
    uint64_t bin_bytes;
};

// Reads count bytes of the data track's user data from logical byte offset
// into buffer, one seek and one read per piece that stays within a 2048-byte
// sector. 1 when every byte came back. Writes no message.
int read_data_track(DiscVolume* volume, uint64_t offset, void* buffer, size_t count);

// Copies the whole file tree of the BIN's data track below target_dir,
// without the root folder "directx" (any letter case). Progress goes from low
// to high by bytes copied. Every file is written as "<name>.part" and moved
// onto its name when complete. On failure the message is in error; files
// already copied stay. The counting walk refuses, before anything is copied:
// - with "the disc image holds an unsafe file name: %s", a name that could
//   escape the target folder or name a Windows device, and a name that
//   would land on another entry of its folder on Windows: two names equal
//   under name_fold with trailing dots and spaces trimmed (Windows drops
//   them), or a name equal in that way to another file's "<name>.part";
// - as damage (no message of its own, so "the BIN's file system is
//   damaged"), a directory or a file of non-zero length that does not end
//   within the volume space size of the volume descriptor in use (and of
//   the primary one, when both were read);
// - with "the disc image is short or unreadable at %s", a file inside the
//   volume whose data runs past the BIN's end (a cut image).
int extract_disc_files(const char* bin_path, const char* target_dir, const Progress* progress, char* error,
                       size_t error_capacity);

// extract_disc_files for a BIN whose data track ends at sector track_end:
// where the cue sheet's next track starts, or the BIN's last whole sector
// when the data track is the only one; 0 when not known. The file tree must
// lie within both the volume and the track; an entry beyond the track's end
// is damage.
int extract_disc_track_files(const char* bin_path, uint64_t track_end, const char* target_dir,
                             const Progress* progress, char* error, size_t error_capacity);
// extract_disc_track_files on a BIN stream the caller opened (and closes);
// bin_size is its size in bytes.
int extract_disc_files_from(FILE* bin, uint64_t bin_size, uint64_t track_end, const char* target_dir,
                            const Progress* progress, char* error, size_t error_capacity);

// The bytes extract_disc_files_from would copy out of bin (the sum of the
// files' lengths), found by the same counting walk, which writes nothing:
// 1 with *bytes_out set, or 0 with the message extract_disc_files_from
// would give for that disc.
int count_disc_files_from(FILE* bin, uint64_t bin_size, uint64_t track_end, uint64_t* bytes_out, char* error,
                          size_t error_capacity);

// Walks one directory: extent is its first logical sector, size the length of
// its records in bytes, folder the path it maps to, depth 0 for the root.
// Counting walk: adds file lengths to byte_total. Copying walk: makes folders
// and copies files. 0 without a message for damage (nesting deeper than
// DISC_MAX_DEPTH, a directory above DISC_MAX_DIRECTORY, a malformed record,
// no memory, an extent beyond the sector limit). The counting walk also
// refuses a folder whose names collide (see extract_disc_files).
int walk_directory(DiscExtraction* extraction, uint32_t extent, uint32_t size, const char* folder,
                   int depth);

// Copies length bytes of the data track starting at logical sector extent
// into path (through path + ".part"), testing the cancel flag before every
// chunk and reporting progress after every chunk.
int copy_disc_file(DiscExtraction* extraction, uint32_t extent, uint32_t length, const char* path);

// 1 when a converted name (length bytes, may hold zero bytes) must not become
// a file name: empty, "." or ".." (or any name of only dots and spaces, which
// Windows trims to one of those), holding '/', '\\', ':' or a byte below
// 0x20, or a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$,
// CONOUT$) ignoring case, extension and trailing spaces or dots.
int disc_name_is_unsafe(const char* name, size_t length);

#endif
