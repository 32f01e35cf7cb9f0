// The full-size fixture disc as the shipped program's checks see it: its
// cue sheet is taken by the retail track layout, while its BIN, whose
// digest is not the retail one, is refused.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "builder/checks.h"
#include "support/test_support.h"

TEST(BossRallyFixture, RetailChecksTakeTheLayoutButNotTheImage) {
    const std::string fixture = kt::host_path(BR_FIXTURE_DIR);
    FileCheck check;
    const std::string cue = kt::join(fixture, "br.cue");
    EXPECT_EQ(check_cue_sheet(cue.c_str(), &check), 1);
    EXPECT_STREQ(check.note, "A different cue sheet, with the retail disc's track layout.");
    EXPECT_EQ(std::string(check.md5_hex), kt::md5_hex_of(kt::read_file(cue)));

    const std::string bin = kt::join(fixture, "br.bin");
    EXPECT_EQ(check_disc_image(bin.c_str(), &check, nullptr, 0, nullptr), 0);
    EXPECT_STREQ(check.note, "This is not the retail Boss Rally disc image (a raw BIN of the whole CD).");
    EXPECT_EQ(strlen(check.md5_hex), 32u);
}
