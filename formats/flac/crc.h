// The two FLAC frame checksums (RFC 9639), both MSB-first, initial value 0,
// no reflection, no final XOR.
//  flac_crc8   header CRC, polynomial x^8 + x^2 + x + 1 (0x07), over
//              bytes[0..length).
//  flac_crc16  frame CRC, polynomial x^16 + x^15 + x^2 + 1 (0x8005), over
//              bytes[0..length).
// Table-driven (CRC-16 eight bytes per step); no state, thread-safe.
#ifndef KELVORN_FLAC_CRC_H
#define KELVORN_FLAC_CRC_H

#include <stddef.h>
#include <stdint.h>

uint8_t flac_crc8(const uint8_t* bytes, size_t length);
uint16_t flac_crc16(const uint8_t* bytes, size_t length);

#endif
