#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/paths.h"
#include "formats/disc/cue.h"
#include "support/test_support.h"

namespace {

struct Track {
    int number;
    int audio;
    uint32_t start;
    int64_t length;  // -1: not compared
};

struct ParseResult {
    int ok;
    std::string error;
    CueSheet sheet;
};

ParseResult parse_text(const std::string& text, uint64_t bin_size) {
    kt::TempDir dir("cue");
    std::string path = dir / "disc.cue";
    kt::write_file(path, text);
    ParseResult r;
    char error[256] = "untouched";
    r.ok = parse_cue_sheet(path.c_str(), &r.sheet, bin_size, error, sizeof error);
    r.error = r.ok ? "" : error;
    return r;
}

const uint64_t SECTOR = 2352;

std::string many_tracks(int count) {
    std::string text = "FILE \"x.bin\" BINARY\n";
    for (int i = 1; i <= count; ++i) {
        char line[96];
        // Track i starts at i seconds.
        snprintf(line, sizeof line, "TRACK %02d AUDIO\nINDEX 01 %02d:%02d:00\n", i, i / 60, i % 60);
        text += line;
    }
    return text;
}

}  // namespace

// Every reading rule of the parser, one fixture text each.
TEST(CueParse, Cases) {
    const std::string two =
        "FILE \"a.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
        "  TRACK 02 AUDIO\n    INDEX 00 00:02:00\n    INDEX 01 00:04:00\n";
    std::string two_crlf;
    for (char c : two) {
        if (c == '\n') two_crlf += '\r';
        two_crlf += c;
    }
    // A 1023-byte first read, then the rest of the same line read as a line.
    const std::string long_line =
        "TRACK 01 AUDIO\nINDEX 01 00:00:00\nREM " + std::string(1019, 'x') + "TRACK 05 AUDIO\nINDEX 01 00:01:00\n";

    struct Case {
        const char* name;
        std::string text;
        uint64_t bin_size;
        const char* error;  // null: parse succeeds
        std::string file;
        std::vector<Track> tracks;
    } cases[] = {
        {"two tracks", two, 1000 * SECTOR, nullptr, "a.bin", {{1, 0, 0, 300}, {2, 1, 300, 700}}},
        {"CRLF endings", two_crlf, 1000 * SECTOR, nullptr, "a.bin", {{1, 0, 0, 300}, {2, 1, 300, 700}}},
        {"tabs, no blank after keyword", "\t\tTRACK01 AUDIO\n\t INDEX 01 00:02:00\n", 0, nullptr, "",
         {{1, 1, 150, -1}}},
        {"last track takes whole sectors", two, 1000 * SECTOR + 2351, nullptr, "a.bin",
         {{1, 0, 0, 300}, {2, 1, 300, 700}}},
        {"BIN one byte short of 1000 sectors", two, 1000 * SECTOR - 1, nullptr, "a.bin",
         {{1, 0, 0, 300}, {2, 1, 300, 699}}},
        {"INDEX 00:60:00", "TRACK 01 AUDIO\nINDEX 01 00:60:00\n", 0,
         "track 1 of the cue sheet has no usable INDEX 01", "", {}},
        {"INDEX 00:00:75", "TRACK 01 AUDIO\nINDEX 01 00:00:75\n", 0,
         "track 1 of the cue sheet has no usable INDEX 01", "", {}},
        {"INDEX -1:00:00", "TRACK 01 AUDIO\nINDEX 01 -1:00:00\n", 0,
         "track 1 of the cue sheet has no usable INDEX 01", "", {}},
        {"INDEX with two fields", "TRACK 01 AUDIO\nINDEX 01 00:02\n", 0,
         "track 1 of the cue sheet has no usable INDEX 01", "", {}},
        {"only INDEX 00, message names the track's own number",
         "TRACK 04 MODE1/2352\nINDEX 01 00:00:00\nTRACK 07 AUDIO\nINDEX 00 00:10:00\n", 0,
         "track 7 of the cue sheet has no usable INDEX 01", "", {}},
        {"second INDEX 01 overwrites", "TRACK 01 AUDIO\nINDEX 01 00:00:10\nINDEX 01 00:00:05\n", 0, nullptr, "",
         {{1, 1, 5, -1}}},
        {"second INDEX 01 unusable overwrites", "TRACK 01 AUDIO\nINDEX 01 00:00:10\nINDEX 01 00:00:99\n", 0,
         "track 1 of the cue sheet has no usable INDEX 01", "", {}},
        {"INDEX before any TRACK ignored", "INDEX 01 00:00:10\nTRACK 01 AUDIO\nINDEX 01 00:00:01\n", 0, nullptr, "",
         {{1, 1, 1, -1}}},
        // 954438 * 4500 passes 2^32: wraps, as 32-bit arithmetic gives it,
        // instead of overflowing a signed int.
        {"minutes past 32 bits wrap", "TRACK 01 AUDIO\nINDEX 01 954438:00:00\n", 0, nullptr, "",
         {{1, 1, 3704, -1}}},
        {"negative seconds not refused", "TRACK 01 AUDIO\nINDEX 01 00:-1:00\n", 0, nullptr, "",
         {{1, 1, 0xFFFFFFFFu - 74, -1}}},
        {"start beyond the BIN", "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n",
         100 * SECTOR, "track 2 of the cue sheet has no usable INDEX 01", "", {}},
        {"start beyond the BIN, size unknown", "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n",
         0, nullptr, "", {{1, 1, 0, 4500}, {2, 1, 4500, -1}}},
        {"decreasing starts", "TRACK 01 AUDIO\nINDEX 01 00:10:00\nTRACK 02 AUDIO\nINDEX 01 00:05:00\n",
         10000 * SECTOR, "track 1 of the cue sheet has no usable INDEX 01", "", {}},
        {"decreasing starts, size unknown", "TRACK 01 AUDIO\nINDEX 01 00:10:00\nTRACK 02 AUDIO\nINDEX 01 00:05:00\n",
         0, nullptr, "", {{1, 1, 750, -1}, {2, 1, 375, -1}}},
        {"lower-case keywords ignored", "file \"x.bin\" BINARY\ntrack 01 AUDIO\nindex 01 00:00:00\n", 0,
         "the cue sheet lists no tracks", "", {}},
        {"lower-case index ignored", "TRACK 01 AUDIO\nindex 01 00:00:00\n", 0,
         "track 1 of the cue sheet has no usable INDEX 01", "", {}},
        {"type word", "TRACK 01 AUDIOX\nINDEX 01 00:00:00\nTRACK 02 audio\nINDEX 01 00:01:00\n"
                      "TRACK 03 AUDI\nINDEX 01 00:02:00\n", 0, nullptr, "",
         {{1, 1, 0, 75}, {2, 0, 75, 75}, {3, 0, 150, -1}}},
        {"unquoted FILE name", "FILE image.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", 0, nullptr, "",
         {{1, 1, 0, -1}}},
        {"later FILE replaces", "FILE \"a.bin\" BINARY\nFILE \"sub dir\\b.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
         0, nullptr, "sub dir\\b.bin", {{1, 1, 0, -1}}},
        {"TRACK without type word ends the reading",
         "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\nTRACK 02\nINDEX 01 00:10:00\nTRACK 03 AUDIO\nINDEX 01 00:20:00\n",
         50 * SECTOR, nullptr, "", {{1, 0, 0, 50}}},
        {"first TRACK malformed", "TRACK AUDIO\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", 0,
         "the cue sheet lists no tracks", "", {}},
        {"long line read on as the next line", long_line, 0, nullptr, "", {{1, 1, 0, 75}, {5, 1, 75, -1}}},
        {"not a cue sheet", "Hello, this is a text file.\nNothing here.\n", 0, "the cue sheet lists no tracks", "", {}},
        {"empty file", "", 0, "the cue sheet lists no tracks", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ParseResult r = parse_text(c.text, c.bin_size);
        if (c.error) {
            EXPECT_EQ(r.ok, 0);
            EXPECT_EQ(r.error, c.error);
            continue;
        }
        ASSERT_EQ(r.ok, 1) << r.error;
        EXPECT_EQ(std::string(r.sheet.file), c.file);
        ASSERT_EQ(r.sheet.track_count, (int)c.tracks.size());
        for (size_t i = 0; i < c.tracks.size(); ++i) {
            const CueTrack& got = r.sheet.tracks[i];
            EXPECT_EQ(got.number, c.tracks[i].number) << i;
            EXPECT_EQ(got.audio, c.tracks[i].audio) << i;
            EXPECT_EQ(got.start, c.tracks[i].start) << i;
            if (c.tracks[i].length >= 0) {
                EXPECT_EQ((int64_t)got.length, c.tracks[i].length) << i;
            }
        }
    }
}

// 100 TRACK lines keep the first 99; the 99th runs to the end of the BIN.
TEST(CueParse, KeepsAtMost99Tracks) {
    ParseResult r = parse_text(many_tracks(100), 200 * 75 * SECTOR);
    ASSERT_EQ(r.ok, 1) << r.error;
    ASSERT_EQ(r.sheet.track_count, 99);
    EXPECT_EQ(r.sheet.tracks[98].number, 99);
    EXPECT_EQ(r.sheet.tracks[98].start, 99u * 75);
    EXPECT_EQ(r.sheet.tracks[98].length, 200u * 75 - 99 * 75);
}

TEST(CueParse, MissingFile) {
    kt::TempDir dir("cue");
    CueSheet sheet;
    memset(&sheet, 0x5a, sizeof sheet);
    char error[64] = "";
    EXPECT_EQ(parse_cue_sheet((dir / "absent.cue").c_str(), &sheet, 0, error, sizeof error), 0);
    EXPECT_STREQ(error, "cannot open the cue sheet");
    EXPECT_EQ(sheet.track_count, 0);  // zeroed even so
    EXPECT_EQ(sheet.file[0], 0);
    // An absent error buffer is fine.
    EXPECT_EQ(parse_cue_sheet((dir / "absent.cue").c_str(), &sheet, 0, nullptr, 0), 0);
}

TEST(CueFindBin, Cases) {
    const std::string tracks = "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\n";
    std::string sub_name = std::string("sub") + PATH_SEP_STR + "image.bin";
    struct Case {
        const char* name;
        std::string cue_text;
        std::string bin_name;  // created below the cue's folder; "" for none
        size_t bin_bytes;
        int found;
        std::string expect_name;  // joined to the folder when found
    } cases[] = {
        {"quoted name", "FILE \"image.bin\" BINARY\n" + tracks, "image.bin", 10, 1, "image.bin"},
        {"name with spaces", "FILE \"my image.bin\" BINARY\n" + tracks, "my image.bin", 1, 1, "my image.bin"},
        {"non-ASCII name", "FILE \"B\xc3\xb6ss \xe2\x9c\x93.bin\" BINARY\n" + tracks, "B\xc3\xb6ss \xe2\x9c\x93.bin", 3, 1,
         "B\xc3\xb6ss \xe2\x9c\x93.bin"},
        {"folder part", "FILE \"" + sub_name + "\" BINARY\n" + tracks, sub_name, 10, 1, sub_name},
#ifdef _WIN32
        {"folder part with slash", "FILE \"sub/image.bin\" BINARY\n" + tracks, sub_name, 10, 1, "sub/image.bin"},
#endif
        {"unquoted name", "FILE image.bin BINARY\n" + tracks, "image.bin", 10, 0, ""},
        {"0-byte BIN", "FILE \"image.bin\" BINARY\n" + tracks, "image.bin", 0, 0, ""},
        {"missing BIN", "FILE \"image.bin\" BINARY\n" + tracks, "", 0, 0, ""},
        {"no tracks", "FILE \"image.bin\" BINARY\n", "image.bin", 10, 0, ""},
        {"track without INDEX 01", "FILE \"image.bin\" BINARY\nTRACK 01 AUDIO\n", "image.bin", 10, 0, ""},
        {"names a folder", "FILE \"sub\" BINARY\n" + tracks, sub_name, 10, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::TempDir dir("findbin");
        std::string cue = dir / "game.cue";
        kt::write_file(cue, c.cue_text);
        if (!c.bin_name.empty()) {
            if (c.bin_name == sub_name) kt::make_dirs(dir / "sub");
            kt::write_file(dir / c.bin_name, std::string(c.bin_bytes, 'b'));
        }
        char out[780];
        int found = find_bin_for_cue(cue.c_str(), out, sizeof out);
        EXPECT_EQ(found, c.found);
        if (c.found) {
            EXPECT_EQ(std::string(out), dir / c.expect_name);
        }
    }
}
