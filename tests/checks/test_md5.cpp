// The unrolled MD5 against a plain one written straight from RFC 1321 (a
// loop over the 64 steps with the RFC's tables) on every length around the
// block and padding boundaries, at every alignment, fed whole and in uneven
// pieces. (The RFC's own vectors are checked with the other MD5 tests.)
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "base/md5.h"

namespace {

uint32_t rotate_left(uint32_t x, unsigned s) { return (x << s) | (x >> (32 - s)); }

// RFC 1321 as written: pad, then for each 64-byte block the 64 steps in
// order, i-th step taking T[i], s[i] and the message word the round picks.
std::string plain_md5_hex(const unsigned char* bytes, size_t length) {
    static const unsigned shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                        5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                        4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                        6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    static const uint32_t sines[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
        0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
        0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
        0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
        0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
        0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
        0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
    std::vector<unsigned char> message(bytes, bytes + length);
    message.push_back(0x80);
    while (message.size() % 64 != 56) message.push_back(0);
    const uint64_t bits = (uint64_t)length * 8;
    for (int i = 0; i < 8; ++i) message.push_back((unsigned char)(bits >> (8 * i)));

    uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for (size_t at = 0; at < message.size(); at += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) {
            const unsigned char* p = &message[at + 4 * i];
            x[i] = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
        }
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            uint32_t f;
            int k;
            if (i < 16) {
                f = (b & c) | (~b & d);
                k = i;
            } else if (i < 32) {
                f = (b & d) | (c & ~d);
                k = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                k = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                k = (7 * i) % 16;
            }
            const uint32_t next = b + rotate_left(a + f + x[k] + sines[i], shifts[i]);
            a = d;
            d = c;
            c = b;
            b = next;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
    }
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 4; j += 2) {
            const unsigned byte = (h[i / 4] >> (8 * (i % 4))) & 0xff;
            hex += digits[j == 0 ? byte >> 4 : byte & 15];
        }
    return hex;
}

// Feeds bytes[0..length) in pieces of the given sizes, cycling through them.
std::string md5_hex_in_pieces(const unsigned char* bytes, size_t length, const std::vector<size_t>& pieces) {
    Md5Context context;
    md5_init(&context);
    size_t at = 0;
    for (size_t i = 0; at < length; ++i) {
        size_t take = pieces[i % pieces.size()];
        if (take > length - at) take = length - at;
        md5_update(&context, bytes + at, take);
        at += take;
    }
    unsigned char digest[16];
    char hex[MD5_HEX_CAPACITY];
    md5_final(&context, digest);
    md5_to_hex(digest, hex);
    return hex;
}

TEST(Md5Unrolled, MatchesPlainImplementation) {
    // Bytes with no short period, so that a word taken from the wrong place
    // changes the digest.
    std::vector<unsigned char> data(4096 + 64 + 8);
    uint32_t seed = 0x9e3779b9;
    for (auto& byte : data) {
        seed = seed * 1664525u + 1013904223u;
        byte = (unsigned char)(seed >> 24);
    }
    const std::vector<std::vector<size_t>> feeds = {{1u << 30}, {1}, {63, 1, 64, 65}, {7, 120, 3}, {4096}};
    for (size_t align = 0; align < 8; ++align) {
        for (size_t length = 0; length <= 4096 + 64; length += (length < 200 ? 1 : 61)) {
            const unsigned char* bytes = data.data() + align;
            const std::string expect = plain_md5_hex(bytes, length);
            for (const auto& feed : feeds)
                ASSERT_EQ(md5_hex_in_pieces(bytes, length, feed), expect)
                    << "length " << length << ", alignment " << align << ", first piece " << feed[0];
        }
    }
}

}  // namespace
