// The soundtrack encoder: one CD audio track (16-bit signed little-endian
// stereo, 44100 Hz, 4 bytes per stereo sample) read raw from the disc image
// into one FLAC file (RFC 9639): "fLaC", one STREAMINFO block (block sizes
// 4096/4096, frame sizes unknown, total samples, MD5 of the raw bytes), then
// fixed-size frames of 4096 samples (the last one shorter), each with the
// cheapest of the independent, left/side, side/right and mid/side codings.
#ifndef KELVORN_FLAC_FLAC_H
#define KELVORN_FLAC_FLAC_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "core/build.h"
#include "flac/crc.h"
#include "flac/subframe.h"

enum {
    FLAC_HEADER_BYTES = 42,     // "fLaC" + STREAMINFO block header + body
    FLAC_FRAME_CAPACITY = 24640,
    FLAC_PROGRESS_FRAMES = 64,  // progress is reported every this many frames
};

// Everything one track's encoding works in; one zero-filled heap block per
// track, nothing allocated per frame.
struct FlacWorkArea {
    int32_t left[FLAC_MAX_BLOCK];
    int32_t right[FLAC_MAX_BLOCK];
    int32_t mid[FLAC_MAX_BLOCK];   // (left + right) >> 1, rounding down
    int32_t side[FLAC_MAX_BLOCK];  // left - right, 17 bits
    SubframeChoice left_choice;
    SubframeChoice right_choice;
    SubframeChoice mid_choice;
    SubframeChoice side_choice;
    SubframeChoice trial;          // scratch shared by the four analyses
    uint8_t frame_bytes[FLAC_FRAME_CAPACITY];
};

// Encodes sample_count stereo samples read from source (open "rb",
// positioned at the track's first byte) into the FLAC file at path (UTF-8).
// The file is written as path + ".part" and moved onto path (replacing a file
// there) only when complete; on failure the ".part" is deleted and a file at
// path is left untouched. progress (may be null) is called with a null status
// after every 64th frame with low + done * (high - low) / sample_count.
// cancel (may be null) is read before every block. Returns 1, or 0 with one
// line in error: "out of memory", "cancelled", "the disc image ends inside
// an audio track", or "cannot write <path>" when the file cannot be made,
// a write, the rewind or the close fails (a full disk), or the finished
// file cannot be moved onto path.
int encode_track_flac(FILE* source, uint64_t sample_count, const char* path, ProgressFn progress,
                      uint64_t progress_user, double low_fraction, double high_fraction, int* cancel,
                      char* error, size_t error_capacity);

#endif
