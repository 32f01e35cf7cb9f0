// File names compared as Windows compares them: without regard to letter
// case, one UTF-16 unit at a time. The disc reader uses this to refuse a
// folder whose names would land on one file, on every platform, so that a
// disc never copies differently on Windows than it was checked natively.
//
// Windows (NTFS, FAT, exFAT, and CompareStringOrdinal with ignore-case)
// upper-cases every UTF-16 unit on its own with a fixed table and compares
// the results. name_fold_unit uses the Unicode simple uppercase mappings of
// the Basic Multilingual Plane instead, which hold Windows' pairs and a few
// more (U+0131 dotless i and U+017F long s fold to I and S here, not on
// Windows). Erring that way is deliberate: two names taken as equal only
// refuse a disc; two names taken as distinct would lose a file.
#ifndef KELVORN_DISC_NAME_FOLD_H
#define KELVORN_DISC_NAME_FOLD_H

#include <stddef.h>
#include <stdint.h>

enum {
    NAME_FOLD_REPLACEMENT = 0xFFFD,  // what an ill-formed UTF-8 run folds to
};

// The upper-case form of one code point. Code points outside the Basic
// Multilingual Plane, and units without a simple uppercase mapping
// (U+00DF sharp s among them), are returned as they are.
uint32_t name_fold_unit(uint32_t unit);

// Writes the folded form of the UTF-8 name (length bytes, may hold zero
// bytes) to out as UTF-8 and returns its length, cut to capacity bytes
// (no terminator is written). Each well-formed character is folded with
// name_fold_unit. Bytes that Windows' UTF-8 conversion would turn into
// U+FFFD (stray or truncated sequences, overlong forms, encoded surrogates,
// code points above U+10FFFF), together with real U+FFFD characters, fold
// run by run into one U+FFFD, so every such name is at least as equal here
// as on Windows. Trailing dots and spaces are kept; the caller trims them
// where it needs to. Three bytes of output per byte of input always suffice.
size_t name_fold(const char* name, size_t length, char* out, size_t capacity);

#endif
