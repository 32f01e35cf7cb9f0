#include "base/utf8.h"

#include <string.h>

// Bytes of the well-formed sequence at p (1 to 4), or 0 with *bad set to
// the length of the maximal ill-formed subpart there (at least 1).
static size_t well_formed(const unsigned char* p, size_t* bad) {
    const unsigned char lead = p[0];
    if (lead < 0x80) return 1;
    size_t need;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong below
        if (lead == 0xED) high = 0x9F;  // surrogates above
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 4;
        if (lead == 0xF0) low = 0x90;   // overlong below
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF above
    } else {
        *bad = 1;
        return 0;
    }
    for (size_t i = 1; i < need; ++i) {
        const unsigned char c = p[i];
        const unsigned char lo = i == 1 ? low : 0x80, hi = i == 1 ? high : 0xBF;
        if (c < lo || c > hi) {
            *bad = i;
            return 0;
        }
    }
    return need;
}

size_t utf8_make_valid(const char* text, char* out, size_t capacity) {
    static const char REPLACEMENT[] = "\xEF\xBF\xBD";
    if (capacity == 0) return 0;
    const unsigned char* p = (const unsigned char*)text;
    size_t used = 0;
    while (*p) {
        size_t bad = 0;
        const size_t length = well_formed(p, &bad);
        const char* piece = length ? (const char*)p : REPLACEMENT;
        const size_t piece_length = length ? length : 3;
        if (used + piece_length + 1 > capacity) break;
        memcpy(out + used, piece, piece_length);
        used += piece_length;
        p += length ? length : bad;
    }
    out[used] = 0;
    return used;
}
