// Replacing an earlier build while one of its files is held: an open handle
// without delete sharing on Windows (Wine), the immutable flag on POSIX.
// Whatever the platform allows, the build folder holds the complete earlier
// build or the complete new one, and once the file is let go the next build
// succeeds and leaves no staging or aside folder behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/build.h"
#include "core/fs_conditions.h"
#include "support/rom.h"
#include "support/test_support.h"

namespace {

const std::string SEP = PATH_SEP_STR;

TEST(HeldFiles, ReplacingABuildWhileOneOfItsFilesIsHeld) {
    if (!kt::pins_work()) GTEST_SKIP() << "files cannot be held here";
    kt::TempDir dir("held");
    std::string rom_a = dir / "a.z64", rom_b = dir / "b.z64", dest = dir / "dest";
    kt::write_file(rom_a, kt::synthetic_rom(21, false));
    kt::write_file(rom_b, kt::synthetic_rom(22, false));
    std::string folder = dest + SEP + "Top Gear Rally";
    std::string staging = dest + SEP + ".Top Gear Rally.building";
    std::string aside = dest + SEP + ".Top Gear Rally.replaced";
    char error[512];

    BuildRequest earlier = kt::cartridge_request(rom_a, dest);
    ASSERT_EQ(run_build(&earlier, nullptr, 0, nullptr, error, sizeof error), 1) << error;
    std::vector<std::string> earlier_tree = kt::snapshot(folder);
    BuildRequest fresh = kt::cartridge_request(rom_b, dest);

    struct Case {
        const char* name;
        std::string file;
    } cases[] = {
        {"the game's data", "romdata.bin"},
        {"the marker", ".kelvorn"},
        {"the game executable", "Top Gear Rally.exe"},
    };
    std::vector<std::string> new_tree;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::Pin pin;
        ASSERT_TRUE(kt::pin(folder + SEP + c.file, &pin));
        int ok = run_build(&fresh, nullptr, 0, nullptr, error, sizeof error);
        std::vector<std::string> now = kt::snapshot(folder);
        if (ok) {
            if (new_tree.empty()) new_tree = now;
            EXPECT_EQ(now, new_tree);
        } else {
            EXPECT_EQ(now, earlier_tree) << error;
            EXPECT_NE(std::string(error), "");
            EXPECT_FALSE(kt::exists(staging));
        }
        // The held file may have moved with the earlier build (POSIX: the
        // flag sits on the file wherever it went).
        for (const std::string& place : {folder, staging, aside}) {
            kt::Pin moved = pin;
            moved.path = place + SEP + c.file;
            if (kt::exists(moved.path)) kt::unpin(&moved);
        }
        kt::unpin(&pin);
        // Let go: the next build succeeds and clears every leftover.
        ASSERT_EQ(run_build(&fresh, nullptr, 0, nullptr, error, sizeof error), 1) << error;
        if (new_tree.empty()) new_tree = kt::snapshot(folder);
        EXPECT_EQ(kt::snapshot(folder), new_tree);
        EXPECT_FALSE(kt::exists(staging));
        EXPECT_FALSE(kt::exists(aside));
        // Back to the earlier build for the next case.
        ASSERT_EQ(run_build(&earlier, nullptr, 0, nullptr, error, sizeof error), 1) << error;
        ASSERT_EQ(kt::snapshot(folder), earlier_tree);
        std::printf("%s held: the replacing build %s (%s)\n", c.name, ok ? "succeeded" : "failed",
                    ok ? "earlier build removed later" : error);
    }
}

}  // namespace
