// Table CRCs. crc16_tables[k][x] is the CRC-16 contribution of byte x when
// k more bytes follow it, so eight bytes fold into the register with eight
// independent lookups instead of a chain of eight.
#include "formats/flac/crc.h"

namespace {

struct Crc8Table {
    uint8_t t[256];
    constexpr Crc8Table() : t() {
        for (int x = 0; x < 256; ++x) {
            unsigned c = (unsigned)x;
            for (int b = 0; b < 8; ++b) c = (c & 0x80) ? ((c << 1) ^ 0x07) & 0xFF : (c << 1) & 0xFF;
            t[x] = (uint8_t)c;
        }
    }
};

struct Crc16Tables {
    uint16_t t[8][256];
    constexpr Crc16Tables() : t() {
        for (int x = 0; x < 256; ++x) {
            unsigned c = (unsigned)x << 8;
            for (int b = 0; b < 8; ++b) c = (c & 0x8000) ? ((c << 1) ^ 0x8005) & 0xFFFF : (c << 1) & 0xFFFF;
            t[0][x] = (uint16_t)c;
        }
        for (int k = 1; k < 8; ++k)
            for (int x = 0; x < 256; ++x) {
                unsigned prev = t[k - 1][x];
                t[k][x] = (uint16_t)(((prev << 8) & 0xFFFF) ^ t[0][prev >> 8]);
            }
    }
};

constexpr Crc8Table crc8_table;
constexpr Crc16Tables crc16_tables;

}  // namespace

uint8_t flac_crc8(const uint8_t* bytes, size_t length) {
    unsigned crc = 0;
    for (size_t i = 0; i < length; ++i) crc = crc8_table.t[crc ^ bytes[i]];
    return (uint8_t)crc;
}

uint16_t flac_crc16(const uint8_t* bytes, size_t length) {
    const uint16_t(*t)[256] = crc16_tables.t;
    unsigned crc = 0;
    while (length >= 8) {
        unsigned hi = (crc >> 8) ^ bytes[0];
        unsigned lo = (crc & 0xFF) ^ bytes[1];
        crc = t[7][hi] ^ t[6][lo] ^ t[5][bytes[2]] ^ t[4][bytes[3]] ^ t[3][bytes[4]] ^ t[2][bytes[5]] ^
              t[1][bytes[6]] ^ t[0][bytes[7]];
        bytes += 8;
        length -= 8;
    }
    for (; length; --length, ++bytes) crc = ((crc << 8) & 0xFFFF) ^ t[0][(crc >> 8) ^ *bytes];
    return (uint16_t)crc;
}
