// Extracts the xorriso-made fixtures into <fixtures>/out/<name>; the step
// disc_oracle_compare then compares them with xorriso's own extraction.
#include <gtest/gtest.h>

#include "disc/disc_test_util.h"

using namespace kt;

namespace {

TEST(DiscOracle, ExtractFixtures) {
    const std::string fix = join(fixture_dir(), "disc");
    const std::string out = join(fix, "out");
    for (const char* name : {"joliet", "primary", "big"}) {
        SCOPED_TRACE(name);
        std::string target = join(out, name);
        remove_all(target);
        Extraction e = extract(join(fix, std::string(name) + ".bin"), target, nullptr, 0, 0.1);
        ASSERT_EQ(e.ok, 1) << e.error;
        ASSERT_FALSE(e.fractions().empty());
        EXPECT_DOUBLE_EQ(e.fractions().back(), 0.1);
        for (size_t i = 1; i < e.fractions().size(); ++i) EXPECT_LT(e.fractions()[i - 1], e.fractions()[i]);
    }
}

// xorriso's own cooked ISOs are not raw images.
TEST(DiscOracle, CookedIsoRefused) {
    const std::string fix = join(fixture_dir(), "disc");
    for (const char* name : {"joliet.iso", "primary.iso"}) {
        SCOPED_TRACE(name);
        TempDir dir("cooked");
        Extraction e = extract(join(fix, name), dir / "out");
        EXPECT_EQ(e.ok, 0);
        EXPECT_EQ(e.error, "the BIN is not a raw (MODE1/2352) disc image");
        EXPECT_FALSE(exists(dir / "out"));
    }
}

}  // namespace
