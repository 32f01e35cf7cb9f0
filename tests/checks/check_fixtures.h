// Fixture texts and helpers shared by the check tests of both test
// programs (retail table and fixture table).
#ifndef KELVORN_TESTS_CHECK_FIXTURES_H
#define KELVORN_TESTS_CHECK_FIXTURES_H

#include <stdio.h>
#include <stdlib.h>

#include <functional>
#include <string>
#include <vector>

#include "builder/checks.h"
#include "support/test_support.h"

namespace kc {

struct CueRow {
    int number;
    std::string type;  // "MODE1/2352" or "AUDIO"
    uint32_t start;    // frames
};

inline uint32_t msf_frames(const char* msf) {
    int m = 0, s = 0, f = 0;
    sscanf(msf, "%d:%d:%d", &m, &s, &f);
    return (uint32_t)((m * 60 + s) * 75 + f);
}

inline std::string frames_msf(uint32_t frames) {
    char text[32];
    snprintf(text, sizeof text, "%02u:%02u:%02u", frames / 4500, frames / 75 % 60, frames % 75);
    return text;
}

inline std::vector<CueRow> retail_rows() {
    std::vector<CueRow> rows;
    const RetailTrack* layout = retail_track_layout();
    for (int i = 0; i < RETAIL_TRACK_COUNT; ++i)
        rows.push_back({layout[i].number, layout[i].audio ? "AUDIO" : "MODE1/2352", msf_frames(layout[i].start)});
    return rows;
}

struct CueStyle {
    std::string file_name = "BOSSRALLY.BIN";
    std::string indent = "  ";
    std::string eol = "\n";
    bool index00 = true;  // INDEX 00 two seconds before each audio track
};

inline std::string render_cue(const std::vector<CueRow>& rows, const CueStyle& style = CueStyle()) {
    std::string text = "FILE \"" + style.file_name + "\" BINARY" + style.eol;
    for (const CueRow& r : rows) {
        char number[16];
        snprintf(number, sizeof number, "%02d", r.number);
        text += style.indent + "TRACK " + number + " " + r.type + style.eol;
        if (style.index00 && r.type == "AUDIO" && r.start >= 150)
            text += style.indent + style.indent + "INDEX 00 " + frames_msf(r.start - 150) + style.eol;
        text += style.indent + style.indent + "INDEX 01 " + frames_msf(r.start) + style.eol;
    }
    return text;
}

inline std::string bytes_of(const std::vector<unsigned char>& v) { return std::string(v.begin(), v.end()); }

// A FileCheck full of garbage, to see that a check zero-fills it.
inline FileCheck dirty_check() {
    FileCheck c;
    memset(&c, 0x5a, sizeof c);
    return c;
}

}  // namespace kc

#endif
