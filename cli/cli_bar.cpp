#include <stdio.h>
#include <string.h>

#include "cli/cli.h"

// Bytes of the first `count` code points of text (fewer when it is shorter).
static size_t bytes_of_points(const char* text, int count) {
    size_t i = 0;
    while (text[i] && count > 0) {
        ++i;
        while (((unsigned char)text[i] & 0xC0) == 0x80) ++i;
        --count;
    }
    return i;
}

// Visible width of UTF-8 text: one column per code point (good enough for
// the program's own status texts).
static int columns_of(const char* text) {
    int n = 0;
    for (size_t i = 0; text[i]; ++i)
        if (((unsigned char)text[i] & 0xC0) != 0x80) ++n;
    return n;
}

// Appends the first `points` code points of text to out[*used..capacity),
// never splitting a sequence; returns the code points appended.
static int append(char* out, size_t capacity, size_t* used, const char* text, int points) {
    size_t bytes = bytes_of_points(text, points);
    int appended = points;
    if (*used + bytes >= capacity) {
        // Cut to what fits, at a code point boundary.
        size_t room = capacity - 1 - *used;
        bytes = 0;
        appended = 0;
        while (text[bytes] && appended < points) {
            size_t next = bytes + 1;
            while (((unsigned char)text[next] & 0xC0) == 0x80) ++next;
            if (next > room) break;
            bytes = next;
            ++appended;
        }
    } else {
        int n = columns_of(text);
        if (n < appended) appended = n;
    }
    memcpy(out + *used, text, bytes);
    *used += bytes;
    out[*used] = 0;
    return appended;
}

void cli_format_bar(char* out, size_t capacity, int columns, double fraction, const char* status,
                    const char* elapsed, const char* left) {
    if (capacity == 0) return;
    out[0] = 0;
    if (!(fraction >= 0)) fraction = 0;  // NaN too
    if (fraction > 1) fraction = 1;
    if (!status) status = "";
    if (!elapsed) elapsed = "";
    if (!left) left = "";
    int width = columns - 1;
    if (width <= 0) return;

    enum { BAR = 20 };
    char head[BAR + 16];
    int filled = (int)(fraction * BAR);
    head[0] = '[';
    for (int i = 0; i < BAR; ++i) head[1 + i] = i < filled ? '#' : '-';
    snprintf(head + 1 + BAR, sizeof head - 1 - BAR, "] %3d%%  ", (int)(fraction * 100.0));
    char tail[160];
    snprintf(tail, sizeof tail, "  %s elapsed, %s left", elapsed, left);

    int head_width = columns_of(head);
    int tail_width = columns_of(tail);
    if (head_width + tail_width > width) tail_width = 0;  // too narrow: no times
    int room = width - head_width - tail_width;
    if (room < 0) room = 0;

    size_t used = 0;
    int shown = append(out, capacity, &used, head, width < head_width ? width : head_width);
    shown += append(out, capacity, &used, status, room);
    // Pad to the full width so a shorter line overwrites a longer one.
    while (shown < width - tail_width && used + 1 < capacity) {
        out[used++] = ' ';
        ++shown;
    }
    out[used] = 0;
    if (tail_width) append(out, capacity, &used, tail, tail_width);
}
