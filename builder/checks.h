// File digests and game checks: identifies the user's disc image, cue sheet
// and cartridge ROM by MD5 against the reference table (builder/reference.h). md5_file lives in base/md5.h.
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
// check_disc_image also digests, as it reads the image, each audio track of
// the retail layout (retail_track_layout, the last track running to the
// last whole sector of the image) into check->audio: the build then need
// not digest those samples again (see BuildRequest::bin_audio).
//
// No state is shared between calls: any number of checks may run at once
// on separate threads. The cancel flag may be written by another thread
// while a digest runs.
#ifndef KELVORN_BUILDER_CHECKS_H
#define KELVORN_BUILDER_CHECKS_H

#include <stdint.h>

#include "base/md5.h"
#include "base/paths.h"
#include "base/progress.h"

enum { CHECK_NOTE_CAPACITY = 256, RETAIL_TRACK_COUNT = 13 };

// Digests of byte ranges of a disc image, one per audio track, taken while
// the image was checked; a range that was not read whole has done 0.
struct AudioDigests {
    int count;
    Md5Range track[RETAIL_TRACK_COUNT];
};

struct FileCheck {
    int ok;
    char md5_hex[MD5_HEX_CAPACITY];
    char note[CHECK_NOTE_CAPACITY];
    FileStamp stamp;     // valid when the file was read
    AudioDigests audio;  // check_disc_image only; count 0 elsewhere
};

int check_disc_image(const char* path, FileCheck* check, ProgressFn progress,
                     uint64_t progress_user, const CancelFlag* cancel);
int check_cue_sheet(const char* path, FileCheck* check, const CancelFlag* cancel = nullptr);
int check_cartridge_rom(const char* path, FileCheck* check, ProgressFn progress,
                        uint64_t progress_user, const CancelFlag* cancel = nullptr);

// One row of the retail Boss Rally track layout.
struct RetailTrack {
    int number;
    int audio;
    const char* start;  // "MM:SS:FF"
};
// The 13 rows in track order.
const RetailTrack* retail_track_layout(void);

// The byte ranges of the retail layout's audio tracks in an image of
// image_size bytes, as the build reads them from a cue sheet with that
// layout: track by track, from its INDEX 01 sector to the next track's (the
// last to the last whole sector). A track that would end before it starts
// gets no range. Returns the count written to ranges (at most
// RETAIL_TRACK_COUNT).
int retail_audio_ranges(uint64_t image_size, Md5Range* ranges);

#endif
