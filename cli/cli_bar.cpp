#include <stdio.h>
#include <string.h>

#include "cli/cli.h"

// Visible width of UTF-8 text: one column per code point (good enough for
// the program's own status texts).
static int columns_of(const char* text, size_t bytes) {
    int n = 0;
    for (size_t i = 0; i < bytes; ++i)
        if (((unsigned char)text[i] & 0xC0) != 0x80) ++n;
    return n;
}

void cli_format_bar(char* out, size_t capacity, int columns, double fraction, const char* status,
                    const char* elapsed, const char* left) {
    if (capacity == 0) return;
    if (fraction < 0) fraction = 0;
    if (fraction > 1) fraction = 1;
    if (!status) status = "";
    enum { BAR = 20 };
    char bar[BAR + 1];
    int filled = (int)(fraction * BAR);
    for (int i = 0; i < BAR; ++i) bar[i] = i < filled ? '#' : '-';
    bar[BAR] = 0;
    char tail[96];
    snprintf(tail, sizeof tail, "  %s elapsed, %s left", elapsed, left);
    char head[64];
    snprintf(head, sizeof head, "[%s] %3d%%  ", bar, (int)(fraction * 100.0));
    int room = columns - 1 - columns_of(head, strlen(head)) - columns_of(tail, strlen(tail));
    if (room < 0) room = 0;
    // Cut the status to the room left, never inside a UTF-8 sequence.
    size_t keep = 0;
    int used = 0;
    while (status[keep] && used < room) {
        size_t next = keep + 1;
        while (((unsigned char)status[next] & 0xC0) == 0x80) ++next;
        keep = next;
        ++used;
    }
    // Pad to the full width so a shorter line overwrites a longer one.
    snprintf(out, capacity, "%s%.*s%*s%s", head, (int)keep, status, room - used, "", tail);
}
