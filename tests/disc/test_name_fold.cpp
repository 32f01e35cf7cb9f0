// File names folded as Windows compares them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/disc/name_fold.h"

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#endif

namespace {

std::string fold(const std::string& name) {
    std::string out(name.size() * 3, '\0');
    out.resize(name_fold(name.data(), name.size(), &out[0], out.size()));
    return out;
}

TEST(NameFold, Names) {
    struct Case {
        const char* what;
        std::string name, folded;
    };
    const std::vector<Case> cases = {
        {"ASCII", "ReadMe.txt", "README.TXT"},
        {"Latin-1, with y diaeresis to U+0178", "caf\xC3\xA9 \xC3\xBF", "CAF\xC3\x89 \xC5\xB8"},
        {"sharp s has no simple uppercase", "stra\xC3\x9F" "e", "STRA\xC3\x9F" "E"},
        {"Latin Extended-A pairs", "\xC4\x81\xC5\x82\xC5\xBE", "\xC4\x80\xC5\x81\xC5\xBD"},
        {"dotless i and long s fold too: refusing is the safe side", "\xC4\xB1\xC5\xBF", "IS"},
        {"Greek, final sigma", "\xCF\x83\xCF\x82\xCE\xAC", "\xCE\xA3\xCE\xA3\xCE\x86"},
        {"Cyrillic", "\xD1\x8F\xD1\x91\xD1\x9F", "\xD0\xAF\xD0\x81\xD0\x8F"},
        {"fullwidth Latin", "\xEF\xBD\x81", "\xEF\xBC\xA1"},
        {"outside the BMP: one unit at a time, so not folded", "\xF0\x90\x90\xA8", "\xF0\x90\x90\xA8"},
        {"a stray byte", "a\xE9" "b", "A\xEF\xBF\xBD" "B"},
        {"a run of ill-formed bytes and U+FFFD is one U+FFFD", "\xFF\xFE\xEF\xBF\xBD\xC0\x80x",
         "\xEF\xBF\xBDX"},
        {"an encoded surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD"},
        {"a truncated sequence at the end", "a\xE4\xB8", "A\xEF\xBF\xBD"},
        {"a zero byte stays", std::string("a\0b", 3), std::string("A\0B", 3)},
        {"trailing dots and spaces are kept", "a. ", "A. "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(fold(c.name), c.folded);
    }
    // The output is cut to the capacity, never past it.
    char out[2] = {'#', '#'};
    EXPECT_EQ(name_fold("\xC3\xA9", 2, out, 1), 0u);
    EXPECT_EQ(out[0], '#');
}

#ifdef _WIN32
// Windows' own comparison as the oracle: every two UTF-16 units that
// CompareStringOrdinal with ignore-case takes as equal must fold alike, so
// that no two names Windows would put on one file pass as distinct. Units
// that fold alike here but not on Windows only make a disc refused; they
// are listed in the test's output.
TEST(NameFold, CoversWindowsOrdinalIgnoreCase) {
    std::vector<WCHAR> units(0x10000);
    for (unsigned u = 0; u < 0x10000; ++u) units[u] = (WCHAR)u;
    auto order = [](WCHAR a, WCHAR b) { return CompareStringOrdinal(&a, 1, &b, 1, TRUE) == CSTR_LESS_THAN; };
    std::stable_sort(units.begin(), units.end(), order);
    size_t classes = 0, missed = 0;
    for (size_t i = 0; i < units.size();) {
        size_t j = i + 1;
        while (j < units.size() && CompareStringOrdinal(&units[i], 1, &units[j], 1, TRUE) == CSTR_EQUAL) ++j;
        ++classes;
        for (size_t k = i + 1; k < j; ++k) {
            if (name_fold_unit(units[k]) != name_fold_unit(units[i])) {
                ADD_FAILURE() << std::hex << "Windows takes U+" << (unsigned)units[i] << " and U+"
                              << (unsigned)units[k] << " as equal, the fold does not";
                ++missed;
            }
        }
        i = j;
    }
    EXPECT_EQ(missed, 0u);
    std::string extra;
    for (unsigned u = 0; u < 0x10000; ++u) {
        uint32_t f = name_fold_unit(u);
        WCHAR a = (WCHAR)u, b = (WCHAR)f;
        if (f != u && CompareStringOrdinal(&a, 1, &b, 1, TRUE) != CSTR_EQUAL) {
            char cell[24];
            snprintf(cell, sizeof cell, " U+%04X>U+%04X", u, (unsigned)f);
            extra += cell;
        }
    }
    printf("%u classes of units under Windows' comparison; folded together here only:%s\n",
           (unsigned)classes, extra.empty() ? " none" : extra.c_str());
}
#endif

}  // namespace
