// File digests and game checks: identifies the user's disc image, cue sheet
// and cartridge ROM by MD5 against the reference table (checks/reference.h).
//
// md5_file(path, md5_hex, progress, progress_user, cancel)
//   Streams the UTF-8 path through MD5 in 1 MiB chunks taken from the heap
//   (never the whole file, never the stack) and writes 32 lowercase hex
//   digits and a terminator into md5_hex (33 bytes). progress (may be null)
//   is called after every chunk with the fraction read so far (1.0 for an
//   empty file) and a null status. cancel (may be null) is tested before
//   every chunk is absorbed. Returns 1 when the whole file was digested; 0
//   when it cannot be opened or read, is not a regular file, the chunk
//   cannot be allocated, or the cancel flag was set. On 0, md5_hex is not
//   written. stamp_out (may be null) receives the stamp of the file that was
//   digested, taken on the open stream.
//
// check_disc_image(path, check, progress, progress_user, cancel)
// check_cue_sheet(path, check, cancel)
// check_cartridge_rom(path, check, progress, progress_user, cancel)
//   Each zero-fills *check, then sets ok (1 accepted, 0 not), md5_hex (the
//   file's digest as stored, empty when it could not be read), note (one
//   sentence, or empty) and stamp (the checked file as it was read, for the
//   build to compare), and returns ok. They never write an error buffer.
//   A folder, pipe or device is refused at once as unreadable (the path
//   layer opens nothing else for reading). cancel
//   (may be null) stops any of them soon; a stopped check reads as
//   unreadable.
//   A cue sheet whose digest differs is still accepted when it lists the
//   retail disc's track layout. A ROM is judged by the digest of its z64
//   order; a .v64 or .n64 dump that matches gets a note with that digest.
//
// No state is shared between calls: any number of checks may run at once
// on separate threads. The cancel flag may be written by another thread
// while a digest runs.
#ifndef KELVORN_CHECKS_CHECKS_H
#define KELVORN_CHECKS_CHECKS_H

#include <stdint.h>

#include "core/build.h"

enum { MD5_HEX_CAPACITY = 33, CHECK_NOTE_CAPACITY = 256, MD5_FILE_CHUNK = 1048576 };

struct FileCheck {
    int ok;
    char md5_hex[MD5_HEX_CAPACITY];
    char note[CHECK_NOTE_CAPACITY];
    FileStamp stamp;  // valid when the file was read
};

int md5_file(const char* path, char* md5_hex, ProgressFn progress, uint64_t progress_user,
             const int* cancel, FileStamp* stamp_out = nullptr);

int check_disc_image(const char* path, FileCheck* check, ProgressFn progress,
                     uint64_t progress_user, const int* cancel);
int check_cue_sheet(const char* path, FileCheck* check, const int* cancel = nullptr);
int check_cartridge_rom(const char* path, FileCheck* check, ProgressFn progress,
                        uint64_t progress_user, const int* cancel = nullptr);

// One row of the retail Boss Rally track layout.
struct RetailTrack {
    int number;
    int audio;
    const char* start;  // "MM:SS:FF"
};
enum { RETAIL_TRACK_COUNT = 13 };
// The 13 rows in track order.
const RetailTrack* retail_track_layout(void);

#endif
