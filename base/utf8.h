// Text that reaches a terminal or a log as UTF-8 whatever bytes a file name
// holds: a POSIX name is any bytes, and printing it raw could garble the
// line or feed the terminal control sequences it never meant.
#ifndef KELVORN_BASE_UTF8_H
#define KELVORN_BASE_UTF8_H

#include <stddef.h>

// Copies text into out[0..capacity) as well-formed UTF-8: every ill-formed
// part (a stray continuation byte, a sequence cut short, an overlong form, a
// surrogate, a code point past U+10FFFF, the bytes F5 to FF) becomes U+FFFD,
// one for each maximal ill-formed subpart, as Unicode recommends. Cut at a
// whole character when out is too small; always terminated (capacity > 0).
// Returns the bytes written, the terminator not counted.
size_t utf8_make_valid(const char* text, char* out, size_t capacity);

#endif
