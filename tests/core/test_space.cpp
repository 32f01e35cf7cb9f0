// The free space of a destination and the cartridge build's size estimate.
#include <gtest/gtest.h>

#include <string>

#include "base/paths.h"
#include "builder/build.h"
#include "builder/embedded.h"
#include "builder/space.h"
#include "support/test_support.h"

namespace {

const std::string SEP = PATH_SEP_STR;

// A destination that does not exist yet is measured on the nearest folder
// that does: the same volume, the same figure (give or take what other
// programs write meanwhile).
TEST(FreeSpace, MissingFoldersAreMeasuredWhereTheyWouldBe) {
    kt::TempDir dir("space");
    uint64_t here = 0, deeper = 0;
    ASSERT_EQ(free_space_of(dir.path.c_str(), &here), 1);
    EXPECT_GT(here, 0u);
    const std::string missing = dir / "not" + SEP + "yet" + SEP + "made";
    ASSERT_EQ(free_space_of(missing.c_str(), &deeper), 1);
    const uint64_t slack = 64u << 20;
    EXPECT_LT(deeper > here ? deeper - here : here - deeper, slack);
    EXPECT_FALSE(kt::exists(dir / "not")) << "measuring must not make the folder";

    // A file in the way is not a folder; the climb goes past it too.
    kt::write_file(dir / "file", "x");
    uint64_t past_file = 0;
    ASSERT_EQ(free_space_of((dir / "file" + SEP + "below").c_str(), &past_file), 1);
    EXPECT_LT(past_file > here ? past_file - here : here - past_file, slack);
}

TEST(BuildSize, CartridgeIsTheRomDataAndTheExecutable) {
    kt::TempDir dir("space");
    size_t exe = 0;
    ASSERT_NE(embedded_game_bytes("tollvane", &exe), nullptr);
    struct Case {
        const char* name;
        size_t rom_bytes;
        uint64_t expected_data;
    } cases[] = {
        {"the 8 MiB ROM", 8388608, 8388608 - 461488},
        {"shorter than the data offset", 1000, 0},
        {"missing", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string rom = dir / "game.z64";
        kt::remove_all(rom);
        if (c.rom_bytes) kt::write_file(rom, std::string(c.rom_bytes, 'r'));
        BuildRequest request = {};
        request.game = GAME_TOP_GEAR_RALLY;
        request.rom_path = rom.c_str();
        request.dest_dir = dir.path.c_str();
        uint64_t bytes = 0;
        ASSERT_EQ(estimate_build_size(&request, &bytes, nullptr, 0), 1);
        EXPECT_EQ(bytes, c.expected_data + exe);
    }
}

}  // namespace
