// Cartridge ROM files: the three byte orders a dump comes in, and loading
// one into the big-endian (z64) order that the cartridge's data has.
#ifndef KELVORN_FORMATS_CARTRIDGE_ROM_H
#define KELVORN_FORMATS_CARTRIDGE_ROM_H

#include <stdint.h>

#include "base/paths.h"

// Byte order of a ROM file, told by its first two bytes: 80 37 as stored
// (z64), 37 80 with every 16-bit pair swapped (v64), 40 12 with every
// 32-bit word reversed (n64). Anything else counts as z64.
enum RomOrder : int { ROM_Z64 = 0, ROM_V64 = 1, ROM_N64 = 2 };

// The whole file in z64 order (heap, caller frees), or null with no output
// written. size_out: file size; md5_hex_out (33 bytes): digest of the bytes
// as stored; order_out: the detected order. Reordered in place; a ragged
// tail (an odd last byte, a last word cut short) stays as it is.
unsigned char* load_cartridge_rom(const char* path, uint64_t* size_out, char* md5_hex_out,
                                  RomOrder* order_out);
// load_cartridge_rom that also gives the stamp of the file it read
// (stamp_out may be null).
unsigned char* load_cartridge_rom_stamped(const char* path, uint64_t* size_out, char* md5_hex_out,
                                          RomOrder* order_out, FileStamp* stamp_out);

#endif
