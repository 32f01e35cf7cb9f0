// Linked without the game executables: every build must stop with the
// missing-copy message, naming the identifier, and leave no staging folder.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "builder/build.h"
#include "builder/embedded.h"
#include "support/rom.h"
#include "support/test_support.h"

namespace {

TEST(NoGames, MissingOrEmptyExecutableStopsTheBuild) {
    kt::TempDir dir("nogames");
    char error[512];
    for (const char* id : {"duskmere", "tollvane", "anything"}) {
        std::string out = dir / "game.exe";
        memset(error, '#', sizeof error);
        EXPECT_EQ(extract_game_executable(id, out.c_str(), error, sizeof error), 0) << id;
        EXPECT_EQ(std::string(error),
                  std::string("the builder is missing its copy of the game (") + id + "); download it again");
        EXPECT_FALSE(kt::exists(out)) << id;
    }

    std::string rom = dir / "game.z64";
    kt::write_file(rom, std::vector<unsigned char>(kt::CARTRIDGE_ROM_SIZE, 0x11));
    std::string dest = dir / "dest";
    BuildRequest r = kt::cartridge_request(rom, dest);
    EXPECT_EQ(run_build(&r, nullptr, 0, nullptr, error, sizeof error), 0);
    EXPECT_STREQ(error, "the builder is missing its copy of the game (tollvane); download it again");
    EXPECT_TRUE(kt::snapshot(dest).empty());
}

}  // namespace
