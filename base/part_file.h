// Files that appear whole or not at all: written under "<path>.part" and
// moved onto their name only once complete, so a failed or interrupted
// write never leaves a short file under the real name.
//
// part_open(part, path, on_failure)
//   Creates (or truncates) "<path>.part" for writing and keeps path. 0 when
//   that name does not fit (a cut name could land on another file, even
//   path itself) or the file cannot be made; nothing is left behind then.
//   on_failure says what a failed commit or a discard does with the .part:
//   PART_REMOVE deletes it; PART_KEEP leaves it for a caller that removes
//   the whole folder afterwards (the disc's files inside a staging folder),
//   so that what was written can still be looked at.
// part_commit(part, mode)
//   Closes the stream, gives the file mode (when mode is non-null; see
//   set_file_mode) and moves it onto path, replacing what is there. 1 when
//   the complete file is at path. On 0 (a buffered write that fails only at
//   the close, a full disk, a failed move) the .part is handled as
//   on_failure says.
// part_discard(part)
//   Closes the stream; the .part is handled as on_failure says. Never
//   removes a folder: a name that is a folder was never ours to write.
// Both leave the record closed; calling either on a closed record does
// nothing (part_commit then returns 0).
#ifndef KELVORN_BASE_PART_FILE_H
#define KELVORN_BASE_PART_FILE_H

#include <stdint.h>
#include <stdio.h>

#include "base/paths.h"

enum PartFailure { PART_REMOVE = 0, PART_KEEP = 1 };

// Holds any path of PATH_CAPACITY bytes and the suffix.
enum { PART_PATH_CAPACITY = 2100 };

struct PartFile {
    FILE* file;                       // null once closed
    const char* path;                 // borrowed: the final name
    PartFailure on_failure;
    char part[PART_PATH_CAPACITY];    // path + ".part"
};

int part_open(PartFile* part, const char* path, PartFailure on_failure);
int part_commit(PartFile* part, const uint32_t* mode = nullptr);
void part_discard(PartFile* part);

#endif
