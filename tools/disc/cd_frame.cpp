#include "cd_frame.h"

#include <string.h>

namespace cdframe {

namespace {

struct Tables {
    uint32_t edc[256];
    uint8_t mul_alpha[256];     // x * alpha in GF(2^8), alpha^8 = x^4 + x^3 + x^2 + 1
    uint8_t div_alpha_1[256];   // x / (alpha + 1)
    Tables() {
        for (uint32_t i = 0; i < 256; ++i) {
            // 0xD8018001 is 0x8001801B with its bits reversed: the register
            // shifts right because the least significant bit comes first.
            uint32_t r = i;
            for (int k = 0; k < 8; ++k) r = (r >> 1) ^ ((r & 1) ? 0xD8018001u : 0);
            edc[i] = r;
        }
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t j = (i << 1) ^ ((i & 0x80) ? 0x11D : 0);
            mul_alpha[i] = (uint8_t)j;
            // i * (alpha + 1) = i ^ (i * alpha); invert that map.
            div_alpha_1[i ^ j] = (uint8_t)i;
        }
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

// One family of parity vectors over the 2 byte planes of the words from
// offset 12. Each vector of `length` symbols gets two parity symbols p0, p1
// such that sum(v) + p0 + p1 = 0 and sum(v_i * alpha^(length+1-i)) +
// p0 * alpha + p1 = 0. Horner's rule gives the weighted sum.
void parity(uint8_t* base, int vectors, int length, int start_step, int step, int wrap,
            uint8_t* out) {
    const Tables& t = tables();
    for (int v = 0; v < vectors; ++v) {
        int index = (v >> 1) * start_step + (v & 1);
        uint8_t sum = 0, weighted = 0;
        for (int m = 0; m < length; ++m) {
            uint8_t symbol = base[index];
            index += step;
            if (index >= wrap) index -= wrap;
            sum ^= symbol;
            weighted = t.mul_alpha[weighted ^ symbol];
        }
        // weighted now holds sum(v_i * alpha^(length-i)); one more alpha
        // gives the check weights.
        weighted = t.mul_alpha[weighted];
        uint8_t p0 = t.div_alpha_1[(uint8_t)(sum ^ weighted)];
        out[v] = p0;
        out[v + vectors] = (uint8_t)(sum ^ p0);
    }
}

uint8_t bcd(uint32_t v) { return (uint8_t)((v / 10) << 4 | (v % 10)); }

}  // namespace

uint32_t edc(const uint8_t* bytes, size_t length) {
    const Tables& t = tables();
    uint32_t r = 0;
    for (size_t i = 0; i < length; ++i) r = (r >> 8) ^ t.edc[(r ^ bytes[i]) & 0xFF];
    return r;
}

void ecc(uint8_t sector[RAW_SECTOR]) {
    // P: 43 columns (x2 byte planes) of 24 words, column-major over the 1032
    // words from offset 12. Q: 26 diagonals of 43 words over those words and
    // the P parity (1118 words), stepping 44 words, wrapping.
    parity(sector + 12, 86, 24, 2, 86, 86 * 24, sector + 2076);
    parity(sector + 12, 52, 43, 86, 88, 52 * 43, sector + 2248);
}

void mode1_sector(uint8_t out[RAW_SECTOR], const uint8_t user[USER_SECTOR], uint32_t lba) {
    out[0] = 0;
    memset(out + 1, 0xFF, 10);
    out[11] = 0;
    uint32_t a = lba + LBA_TO_MSF;
    out[12] = bcd(a / 4500);
    out[13] = bcd(a / 75 % 60);
    out[14] = bcd(a % 75);
    out[15] = 1;
    memcpy(out + 16, user, USER_SECTOR);
    uint32_t e = edc(out, 2064);
    out[2064] = (uint8_t)e;
    out[2065] = (uint8_t)(e >> 8);
    out[2066] = (uint8_t)(e >> 16);
    out[2067] = (uint8_t)(e >> 24);
    memset(out + 2068, 0, 8);
    ecc(out);
}

}  // namespace cdframe
