// Cue sheet reader. Untrusted text: every number is scanned by hand with
// saturation (a "%d" conversion of an out-of-range number is undefined
// behaviour), and frame arithmetic is unsigned 32-bit.
#include "formats/disc/cue.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "base/paths.h"

// The whitespace set of the C locale, as scanf skips it.
static int is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static const char* skip_spaces(const char* p) {
    while (is_space(*p)) ++p;
    return p;
}

// Like "%d": optional leading whitespace, an optional sign, at least one
// decimal digit. Out-of-range values saturate at INT_MIN / INT_MAX. Returns
// the position after the number, or null when there is none.
static const char* scan_int(const char* p, int* value) {
    p = skip_spaces(p);
    int negative = 0;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') return nullptr;
    // Accumulate the magnitude in 64 bits, capped just above INT_MAX + 1.
    uint64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude <= (uint64_t)INT_MAX + 1) magnitude = magnitude * 10 + (uint64_t)(*p - '0');
    }
    if (negative)
        *value = magnitude > (uint64_t)INT_MAX ? INT_MIN : -(int)magnitude;
    else
        *value = magnitude > (uint64_t)INT_MAX ? INT_MAX : (int)magnitude;
    return p;
}

// Like "%d %31s": a number, then a word of 1 to 31 non-blank bytes (a longer
// word is cut). 1 when both were read.
static int scan_number_and_word(const char* p, int* number, char word[32]) {
    p = scan_int(p, number);
    if (!p) return 0;
    p = skip_spaces(p);
    size_t n = 0;
    while (p[n] && !is_space(p[n]) && n < 31) {
        word[n] = p[n];
        ++n;
    }
    word[n] = 0;
    return n > 0;
}

// INDEX time "%d:%d:%d" to frames; CUE_NO_START unless all three numbers
// are there, minutes >= 0, seconds < 60 and frames < 75. Negative seconds
// or frames are let through and wrap, as unsigned arithmetic gives them.
static uint32_t scan_time(const char* word) {
    int minutes = 0, seconds = 0, frames = 0;
    const char* p = scan_int(word, &minutes);
    if (!p || *p != ':') return CUE_NO_START;
    p = scan_int(p + 1, &seconds);
    if (!p || *p != ':') return CUE_NO_START;
    p = scan_int(p + 1, &frames);
    if (!p) return CUE_NO_START;
    if (minutes < 0 || seconds >= 60 || frames >= 75) return CUE_NO_START;
    return (uint32_t)minutes * 4500u + (uint32_t)seconds * 75u + (uint32_t)frames;
}

// Reads the lines into sheet; stops at EOF, a malformed TRACK line or a
// TRACK line beyond the cap.
static void read_lines(FILE* file, CueSheet* sheet) {
    char line[1024];
    int current = -1;
    while (fgets(line, sizeof line, file)) {
        const char* p = line;
        while (*p == ' ' || *p == '\t') ++p;
        if (strncmp(p, "FILE", 4) == 0) {
            const char* open = strchr(p + 4, '"');
            const char* close = open ? strchr(open + 1, '"') : nullptr;
            if (close) {
                size_t n = (size_t)(close - open - 1);
                if (n > sizeof sheet->file - 1) n = sizeof sheet->file - 1;
                memcpy(sheet->file, open + 1, n);
                sheet->file[n] = 0;
            }
        } else if (strncmp(p, "TRACK", 5) == 0) {
            int number = 0;
            char word[32];
            if (!scan_number_and_word(p + 5, &number, word)) return;
            if (sheet->track_count >= CUE_MAX_TRACKS) return;
            CueTrack* track = &sheet->tracks[sheet->track_count];
            track->number = number;
            track->audio = strncmp(word, "AUDIO", 5) == 0;
            track->start = CUE_NO_START;
            track->length = 0;
            current = sheet->track_count++;
        } else if (strncmp(p, "INDEX", 5) == 0) {
            if (current < 0) continue;
            int index = 0;
            char word[32];
            if (!scan_number_and_word(p + 5, &index, word) || index != 1) continue;
            sheet->tracks[current].start = scan_time(word);
        }
    }
}

int parse_cue_sheet(const char* cue_path, CueSheet* sheet, uint64_t bin_size, char* error,
                    size_t error_capacity) {
    FILE* file = open_utf8(cue_path, "rb");
    if (!file) {
        memset(sheet, 0, sizeof *sheet);
        set_error(error, error_capacity, "cannot open the cue sheet");
        return 0;
    }
    int ok = parse_cue_stream(file, sheet, bin_size, error, error_capacity);
    fclose(file);
    return ok;
}

int parse_cue_stream(FILE* file, CueSheet* sheet, uint64_t bin_size, char* error, size_t error_capacity) {
    memset(sheet, 0, sizeof *sheet);
    read_lines(file, sheet);

    if (sheet->track_count == 0) {
        set_error(error, error_capacity, "the cue sheet lists no tracks");
        return 0;
    }
    // Whole sectors only; the count is kept in 32 bits like every frame.
    uint32_t bin_frames = (uint32_t)(bin_size / CD_SECTOR_BYTES);
    for (int i = 0; i < sheet->track_count; ++i) {
        CueTrack* track = &sheet->tracks[i];
        int last = i + 1 == sheet->track_count;
        uint32_t end = last ? bin_frames : sheet->tracks[i + 1].start;
        if (track->start == CUE_NO_START || (bin_size != 0 && end < track->start)) {
            set_error(error, error_capacity, "track %d of the cue sheet has no usable INDEX 01",
                      (int)track->number);
            return 0;
        }
        // Without a BIN size the last track has no end; nobody reads it then.
        track->length = (last && bin_size == 0) ? 0 : end - track->start;
    }
    return 1;
}

int find_bin_for_cue(const char* cue_path, char* out_path, size_t capacity) {
    if (!out_path || capacity == 0) return 0;
    CueSheet sheet;
    if (!parse_cue_sheet(cue_path, &sheet, 0, nullptr, 0)) return 0;
    if (sheet.file[0] == 0) return 0;
    char folder[1024];
    path_parent(folder, sizeof folder, cue_path);
    path_join(out_path, capacity, folder, sheet.file);
    return file_size_of(out_path) != 0;
}
