// Game icon: puts the images of an ICO file into a game executable as its
// icon resources.
#ifndef KELVORN_ICON_ICON_H
#define KELVORN_ICON_ICON_H

#include <stddef.h>

// Writes the n images of the ICO file at ico_path (UTF-8) into the
// executable at exe_path (UTF-8) as RT_ICON ids 1 to n, each image's bytes
// unchanged whatever its encoding (bitmap or PNG), and RT_GROUP_ICON id 1,
// the group directory of 6 + 14 * n bytes (the ICO's reserved and type
// words, n, then per image its first 8 directory bytes, its size and its
// id), all with language 0. Every other resource stays.
//
// Returns 1 when the executable carries the new icon, else 0 with one line
// in the error buffer (may be null or 0):
//  "the disc's icon is unreadable": the ICO cannot be read, is empty or
//     shorter than 6 bytes, counts 0 images or is shorter than its own
//     directory (the executable is not touched);
//  "cannot set the game's icon": the executable cannot be opened for
//     writing, an image lies beyond the ICO's end, or the update cannot be
//     written or committed.
// On failure the executable is left byte for byte as it was.
//
// Windows uses the system's resource update calls. Elsewhere the program's
// own resource writer (pe_resources.h) makes the new image in memory, writes
// it to "<exe_path>.part" and moves that onto exe_path; a read-only
// executable (no owner write permission) is refused like on Windows.
int set_game_icon(const char* exe_path, const char* ico_path, char* error, size_t error_capacity);

// The same contract through the program's own resource writer: what
// set_game_icon is where the system calls are missing. Built everywhere so
// the two can be compared on Windows.
int set_game_icon_own_writer(const char* exe_path, const char* ico_path, char* error, size_t error_capacity);

#endif
