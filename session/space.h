// Room for a build: the build's size estimate against the free space of the
// destination's volume, checked before anything is written, and the words
// both front ends use when it does not fit.
#ifndef KELVORN_SESSION_SPACE_H
#define KELVORN_SESSION_SPACE_H

#include <stddef.h>
#include <stdint.h>

#include "builder/job.h"
#include "session/session.h"

struct SpaceCheck {
    uint64_t needed;     // estimate_build_size of the request
    uint64_t available;  // free_space_of the destination
};

// 0 when both figures are known and the destination has less free space
// than the build's estimate; 1 otherwise: enough room, or a figure that
// cannot be told (the build then says itself what is wrong). Fills *check
// either way (0 for a figure not known). Writes nothing.
int build_has_room(const BuildRequest* request, SpaceCheck* check);

// A size as the messages show it: whole MB of 1,048,576 bytes, rounded up
// for what is needed (round_up 1) and down for what is free, so that a
// shortfall never reads as two equal figures.
uint64_t size_in_mb(uint64_t bytes, int round_up);

// The shortfall, one text into out (snprintf contract), with both figures
// in MB and the destination folder: the wizard's asks whether to build
// anyway (a Yes/No box), the command line's is a line for standard error
// without its final newline that names --no-space-check.
void format_space_shortfall(FrontEnd front, char* out, size_t capacity, const SpaceCheck* check,
                            const char* dest_dir);

#endif
