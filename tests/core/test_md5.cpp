#include <gtest/gtest.h>

#include <string>

#include "base/md5.h"
#include "support/test_support.h"

// RFC 1321's test suite, appendix A.5.
TEST(Md5, Rfc1321Suite) {
    struct Case {
        const char* text;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases) EXPECT_EQ(kt::md5_hex_of(c.text), c.digest) << c.text;
}

// Feeding the same bytes in pieces of any size gives the one-shot digest;
// the piece sizes straddle the 64-byte block and the 56-byte pad boundary.
TEST(Md5, SplitUpdatesMatchOneShot) {
    std::vector<unsigned char> data = kt::random_bytes(10000, 7);
    std::string whole(data.begin(), data.end());
    for (size_t total : {0u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 10000u}) {
        std::string one = kt::md5_hex_of(whole.substr(0, total));
        for (size_t piece : {1u, 3u, 63u, 64u, 65u, 1000u}) {
            Md5Context c;
            md5_init(&c);
            for (size_t at = 0; at < total; at += piece)
                md5_update(&c, whole.data() + at, std::min(piece, total - at));
            md5_update(&c, whole.data(), 0);
            unsigned char d[16];
            char hex[33];
            md5_final(&c, d);
            md5_to_hex(d, hex);
            EXPECT_EQ(one, hex) << total << "/" << piece;
        }
    }
}
