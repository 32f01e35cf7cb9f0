// MD5 (RFC 1321).
//  md5_init      prepares a context.
//  md5_update    absorbs bytes[0..length); any length, 0 included.
//  md5_final     writes the 16-byte digest; the context is spent afterwards.
//  md5_to_hex    writes 32 lowercase hex digits, high nibble first, and a
//                terminating zero into a 33-byte buffer.
#ifndef KELVORN_CHECKS_MD5_H
#define KELVORN_CHECKS_MD5_H

#include <stddef.h>
#include <stdint.h>

struct Md5Context {
    uint32_t state[4];
    uint64_t length;        // bytes absorbed so far
    unsigned char block[64];
    size_t block_used;
};

void md5_init(Md5Context* context);
void md5_update(Md5Context* context, const void* bytes, size_t length);
void md5_final(Md5Context* context, unsigned char digest[16]);
void md5_to_hex(const unsigned char digest[16], char hex[33]);

#endif
