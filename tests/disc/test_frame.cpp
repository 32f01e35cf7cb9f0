// The fixture maker's MODE1/2352 framing against plain implementations of
// the ECMA-130 definitions: the EDC as bit-serial division by its
// polynomial, the P and Q parities by their check matrices.
#include <gtest/gtest.h>

#include <string.h>

#include "cd_frame.h"
#include "support/test_support.h"

namespace {

// EDC by long division, one bit at a time, least significant bit of each
// byte first; the remainder's x^31 coefficient goes to bit 0 of byte 2064,
// x^0 to bit 7 of byte 2067.
uint32_t edc_bitwise(const uint8_t* bytes, size_t length) {
    uint32_t r = 0;
    for (size_t i = 0; i < length; ++i)
        for (int k = 0; k < 8; ++k) {
            uint32_t bit = (bytes[i] >> k) & 1;
            uint32_t top = (r >> 31) ^ bit;
            r <<= 1;
            if (top) r ^= 0x8001801Bu;
        }
    uint32_t stored = 0;  // as the 4 bytes read little-endian
    for (int d = 0; d < 32; ++d)
        if (r & (1u << (31 - d))) stored |= 1u << d;
    return stored;
}

// Remainder of the whole codeword (data then the 4 stored EDC bytes in the
// same bit order); 0 when the EDC is right.
uint32_t codeword_remainder(const uint8_t* sector) {
    uint32_t r = 0;
    for (size_t i = 0; i < 2068; ++i)
        for (int k = 0; k < 8; ++k) {
            uint32_t top = (r >> 31) ^ ((sector[i] >> k) & 1);
            r <<= 1;
            if (top) r ^= 0x8001801Bu;
        }
    return r;
}

uint8_t gf_mul(uint8_t a, uint8_t b) {
    uint8_t p = 0;
    for (int i = 0; i < 8; ++i) {
        if (b & 1) p ^= a;
        uint8_t carry = a & 0x80;
        a <<= 1;
        if (carry) a ^= 0x1D;  // alpha^8 = alpha^4 + alpha^3 + alpha^2 + 1
        b >>= 1;
    }
    return p;
}

uint8_t gf_pow_alpha(int e) {
    uint8_t r = 1;
    for (int i = 0; i < e; ++i) r = gf_mul(r, 2);
    return r;
}

// Byte b (0 or 1) of word n, words counted from sector offset 12.
uint8_t word_byte(const uint8_t* sector, int n, int b) { return sector[12 + 2 * n + b]; }

// Both syndromes of every P and Q vector; true when all are zero.
bool parity_checks(const uint8_t* sector) {
    for (int b = 0; b < 2; ++b) {
        for (int np = 0; np < 43; ++np) {
            uint8_t s0 = 0, s1 = 0;
            for (int mp = 0; mp < 26; ++mp) {
                uint8_t v = word_byte(sector, 43 * mp + np, b);
                s0 ^= v;
                s1 ^= gf_mul(v, gf_pow_alpha(25 - mp));
            }
            if (s0 || s1) return false;
        }
        for (int nq = 0; nq < 26; ++nq) {
            uint8_t s0 = 0, s1 = 0;
            for (int mq = 0; mq < 45; ++mq) {
                int n = mq < 43 ? (44 * mq + 43 * nq) % 1118 : 1118 + 26 * (mq - 43) + nq;
                uint8_t v = word_byte(sector, n, b);
                s0 ^= v;
                s1 ^= gf_mul(v, gf_pow_alpha(44 - mq));
            }
            if (s0 || s1) return false;
        }
    }
    return true;
}

TEST(DiscFrame, SectorsAgainstTheDefinitions) {
    struct FrameCase {
        const char* what;
        std::vector<unsigned char> user;
        uint32_t lba;
        uint8_t msf[3];
    };
    const std::vector<FrameCase> cases = {
        {"all-zero user data at 00:02:00", std::vector<unsigned char>(2048, 0), 0, {0x00, 0x02, 0x00}},
        {"all-FF user data", std::vector<unsigned char>(2048, 0xFF), 74, {0x00, 0x02, 0x74}},
        {"random data at the first audio frame of the retail layout", kt::random_bytes(2048, 1), 58143,
         {0x12, 0x57, 0x18}},
        {"random data near the end of a 74-minute disc", kt::random_bytes(2048, 2), 332849, {0x73, 0x59, 0x74}},
    };
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t sector[cdframe::RAW_SECTOR];
        cdframe::mode1_sector(sector, c.user.data(), c.lba);
        const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
        EXPECT_EQ(0, memcmp(sector, sync, 12));
        EXPECT_EQ(sector[12], c.msf[0]);
        EXPECT_EQ(sector[13], c.msf[1]);
        EXPECT_EQ(sector[14], c.msf[2]);
        EXPECT_EQ(sector[15], 1);
        EXPECT_EQ(0, memcmp(sector + 16, c.user.data(), 2048));
        uint32_t stored = sector[2064] | sector[2065] << 8 | sector[2066] << 16 | (uint32_t)sector[2067] << 24;
        EXPECT_EQ(stored, edc_bitwise(sector, 2064));
        EXPECT_EQ(codeword_remainder(sector), 0u);
        for (int i = 2068; i < 2076; ++i) EXPECT_EQ(sector[i], 0);
        EXPECT_TRUE(parity_checks(sector));
        // The checks are not vacuous: one changed byte anywhere is caught.
        for (int at : {12, 15, 16, 1000, 2063, 2076, 2247, 2248, 2351}) {
            uint8_t spoiled[cdframe::RAW_SECTOR];
            memcpy(spoiled, sector, sizeof spoiled);
            spoiled[at] ^= 0x01;
            EXPECT_FALSE(parity_checks(spoiled)) << "byte " << at;
        }
    }
}

TEST(DiscFrame, TableEdcMatchesBitwiseOnAnyLength) {
    auto bytes = kt::random_bytes(3000, 5);
    for (size_t n : {0, 1, 7, 2064, 3000}) EXPECT_EQ(cdframe::edc(bytes.data(), n), edc_bitwise(bytes.data(), n));
}

}  // namespace
