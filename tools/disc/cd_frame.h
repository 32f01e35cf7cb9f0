// MODE1/2352 sector framing for the disc fixture maker: sync, header with
// the BCD MSF address, user data, EDC and the P/Q parity of the
// Reed-Solomon product code, as ECMA-130 defines them.
#ifndef KELVORN_TOOLS_CD_FRAME_H
#define KELVORN_TOOLS_CD_FRAME_H

#include <stddef.h>
#include <stdint.h>

namespace cdframe {

enum { RAW_SECTOR = 2352, USER_SECTOR = 2048, LBA_TO_MSF = 150 };

// EDC over bytes[0..length): CRC-32 with polynomial
// (x^16 + x^15 + x^2 + 1)(x^16 + x^2 + x + 1) = 0x8001801B, bits taken least
// significant first, register starting at 0, no final inversion. Stored
// little-endian at sector offset 2064 (it covers offsets 0..2063).
uint32_t edc(const uint8_t* bytes, size_t length);

// Fills the P parity (offsets 2076..2247) and Q parity (2248..2351) of a
// sector whose header, user data, EDC and the 8 zero bytes are in place.
void ecc(uint8_t sector[RAW_SECTOR]);

// A complete MODE1 sector at logical block lba (MSF address lba + 150).
void mode1_sector(uint8_t out[RAW_SECTOR], const uint8_t user[USER_SECTOR], uint32_t lba);

}  // namespace cdframe

#endif
