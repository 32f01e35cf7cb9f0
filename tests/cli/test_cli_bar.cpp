// The terminal progress line: its width, its parts and where it cuts.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "cli/cli.h"

namespace {

int columns_of(const std::string& s) {
    int n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// True when s is whole UTF-8: no sequence cut or broken.
bool whole_utf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = (unsigned char)s[i];
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if (((unsigned char)s[i + k] & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

std::string bar(int columns, double fraction, const char* status, const char* elapsed = "0:31",
                const char* left = "0:43", size_t capacity = 1024) {
    std::string out(capacity, '\x7f');
    cli_format_bar(&out[0], capacity, columns, fraction, status, elapsed, left);
    size_t end = out.find('\0');
    EXPECT_NE(end, std::string::npos) << "not terminated";
    return out.substr(0, end);
}

TEST(CliBar, Layout) {
    EXPECT_EQ(bar(89, 0.42, "Encoding the soundtrack: track 5"),
              "[########------------]  42%  Encoding the soundtrack: track 5    0:31 elapsed, 0:43 left");
    struct Case {
        double fraction;
        const char* head;
    } cases[] = {
        {0.0, "[--------------------]   0%  "},
        {0.049, "[--------------------]   4%  "},
        {0.05, "[#-------------------]   5%  "},
        {0.9996, "[###################-]  99%  "},  // never shows done before it is
        {1.0, "[####################] 100%  "},
        {1.7, "[####################] 100%  "},
        {-0.5, "[--------------------]   0%  "},
        {0.0 / 0.0, "[--------------------]   0%  "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fraction);
        std::string line = bar(80, c.fraction, "Done");
        EXPECT_EQ(line.substr(0, strlen(c.head)), c.head);
        EXPECT_EQ(columns_of(line), 79);
    }
}

TEST(CliBar, WidthAndUtf8Cut) {
    // Status with two- and three-byte characters.
    const char* status = "Copying caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87 \xE2\x9C\x93 files of the disc";
    for (int columns = 1; columns <= 120; ++columns) {
        SCOPED_TRACE(columns);
        std::string line = bar(columns, 0.5, status);
        EXPECT_TRUE(whole_utf8(line)) << line;
        // Always the full width less one column: never wraps, and it
        // covers whatever longer line was there before.
        EXPECT_EQ(columns_of(line), columns > 1 ? columns - 1 : 0) << line;
        if (columns >= 29 + 30) {
            // Wide enough for the times: they stay whole at the end.
            EXPECT_EQ(line.substr(line.size() - 25), "  0:31 elapsed, 0:43 left") << line;
        }
    }
    // The status is cut before the times are dropped; "Copying café"
    // fits exactly in 12 columns.
    std::string line = bar(29 + 12 + 25 + 1, 0.5, status);
    EXPECT_EQ(line, "[##########----------]  50%  Copying caf\xC3\xA9  0:31 elapsed, 0:43 left");
    // A small buffer cuts the line at a code point boundary.
    for (size_t capacity = 1; capacity < 60; ++capacity) {
        SCOPED_TRACE(capacity);
        std::string small = bar(100, 0.5, status, "0:31", "0:43", capacity);
        EXPECT_LT(small.size(), capacity);
        EXPECT_TRUE(whole_utf8(small)) << small;
    }
    // Null texts are empty ones.
    EXPECT_EQ(columns_of(bar(60, 0.5, nullptr, nullptr, nullptr)), 59);
}

}  // namespace
