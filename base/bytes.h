// Little-endian fields of the formats this program reads and writes (ISO
// 9660, PE/COFF, ICO, WAV-ordered PCM, MD5's message words). Each reads or
// writes exactly the bytes named, at any alignment; the caller has checked
// that they lie inside its buffer.
#ifndef KELVORN_BASE_BYTES_H
#define KELVORN_BASE_BYTES_H

#include <stdint.h>

static inline uint16_t get_le16(const unsigned char* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

static inline uint32_t get_le32(const unsigned char* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// The low 16 (or 32) bits of v.
static inline void put_le16(unsigned char* p, uint32_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

static inline void put_le32(unsigned char* p, uint32_t v) {
    put_le16(p, v);
    put_le16(p + 2, v >> 16);
}

#endif
