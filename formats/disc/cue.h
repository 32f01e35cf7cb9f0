// Cue sheet reader: the FILE name and the tracks of a one-file image of a
// mixed-mode CD (one quoted FILE line, TRACK lines, INDEX 01 lines); every
// other line is ignored.
//
// Positions and lengths are CD frames: one 2352-byte sector of the BIN,
// 1/75 s of audio; mm:ss:ff is mm * 4500 + ss * 75 + ff.
//
// parse_cue_sheet(cue_path, sheet, bin_size, error, error_capacity)
//   Reads the UTF-8 path cue_path into the caller's sheet, which is zeroed
//   first (also when the file cannot be opened). bin_size is the byte size
//   of the BIN the sheet describes, or 0 when unknown; it only measures the
//   last track and turns on the check that no track ends before it starts.
//   Returns 1, or 0 with one line in the error buffer (may be absent):
//     "cannot open the cue sheet"
//     "the cue sheet lists no tracks"
//     "track %d of the cue sheet has no usable INDEX 01"
//   After a failure the sheet holds what was read so far and is not to be
//   used.
//   Quirks callers may meet: keywords are matched case-sensitively ("file"
//   is ignored); a TRACK line without a number and a type word ends the
//   reading (the tracks before it stand); at most CUE_MAX_TRACKS tracks are
//   kept and a later TRACK line ends the reading too; a FILE name must be
//   in double quotes.
//
// find_bin_for_cue(cue_path, out_path, capacity)
//   Writes the cue sheet's folder joined with its FILE name into out_path
//   (capacity bytes) and returns 1 when that names a file of at least one
//   byte; 0 otherwise (unparsable sheet, no quoted FILE name, missing or
//   empty file). The name is always taken relative to the cue sheet's
//   folder. Writes no message.
//
// Both functions keep their state in the caller's record and their locals;
// they may run on several threads at once.
#ifndef KELVORN_DISC_CUE_H
#define KELVORN_DISC_CUE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

enum { CUE_MAX_TRACKS = 99, CUE_FILE_CAPACITY = 1024, CD_SECTOR_BYTES = 2352 };

// start of a track without a usable INDEX 01
#define CUE_NO_START 0xFFFFFFFFu

struct CueTrack {
    int32_t number;   // as written on the TRACK line
    int32_t audio;    // 1 when the type word begins with "AUDIO"
    uint32_t start;   // INDEX 01 in frames, or CUE_NO_START
    uint32_t length;  // frames, set by the closing pass
};

struct CueSheet {
    char file[CUE_FILE_CAPACITY];  // FILE name as written, at most 1023 bytes
    int32_t track_count;           // 0 to CUE_MAX_TRACKS
    CueTrack tracks[CUE_MAX_TRACKS];
};

int parse_cue_sheet(const char* cue_path, CueSheet* sheet, uint64_t bin_size, char* error,
                    size_t error_capacity);

// parse_cue_sheet on a stream the caller opened (and closes), positioned at
// the start; the messages are the same but for the failed open.
int parse_cue_stream(FILE* file, CueSheet* sheet, uint64_t bin_size, char* error, size_t error_capacity);

int find_bin_for_cue(const char* cue_path, char* out_path, size_t capacity);

#endif
