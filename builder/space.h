// How much a build will write, so that a front end can compare it with the
// destination's free space before anything is written.
#ifndef KELVORN_BUILDER_SPACE_H
#define KELVORN_BUILDER_SPACE_H

#include <stddef.h>
#include <stdint.h>

#include "builder/job.h"

// An upper bound of the bytes the build folder of request will hold:
//  - Boss Rally: the data track's files (their lengths in the disc's
//    directory records, read by the extraction's own counting walk), every
//    audio track as raw PCM plus a frame's headers for every 4096 samples
//    (a FLAC file never exceeds its PCM by more), and the executable;
//  - Top Gear Rally: romdata.bin (the ROM from CARTRIDGE_DATA_OFFSET) and
//    the executable.
// Reads only the inputs' sizes, the cue sheet and the disc's directories.
// 1 with *bytes_out set, or 0 with the build's own message for inputs it
// could not build from (the build then refuses them as well).
int estimate_build_size(const BuildRequest* request, uint64_t* bytes_out, char* error, size_t error_capacity);

#endif
