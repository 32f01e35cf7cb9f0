// The atomic swap of two folders, and remove_tree against links: a link to
// a canary folder inside an earlier build that gets replaced, and a
// subfolder swapped for such a link while the removal runs.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "builder/build.h"
#include "core/fs_conditions.h"
#include "support/rom.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <stdio.h>
#include <unistd.h>
#endif

namespace {

const std::string SEP = PATH_SEP_STR;

// A canary folder with files and a subfolder; every file must survive.
void make_canary(const std::string& canary) {
    kt::make_dirs(canary + SEP + "inner");
    kt::write_file(canary + SEP + "precious.txt", "keep me");
    kt::write_file(canary + SEP + "inner" + SEP + "deep.bin", std::string(5000, 'c'));
}

TEST(ExchangePaths, SwapsBothOrChangesNothing) {
    struct Case {
        const char* name;
        bool first_exists, first_is_dir, second_exists, second_is_dir;
    } cases[] = {
        {"two folders", true, true, true, true},
        {"file and folder", true, false, true, true},
        {"first missing", false, false, true, true},
        {"second missing", true, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::TempDir dir("exchange");
        std::string a = dir / "a", b = dir / "b";
        auto make = [](const std::string& at, bool exists, bool is_dir, const char* tag) {
            if (!exists) return;
            if (is_dir) {
                kt::make_dirs(at);
                kt::write_file(at + SEP + "tag", tag);
            } else {
                kt::write_file(at, tag);
            }
        };
        make(a, c.first_exists, c.first_is_dir, "A");
        make(b, c.second_exists, c.second_is_dir, "B");
        std::vector<std::string> before_a = kt::snapshot(a), before_b = kt::snapshot(b);
        int swapped = exchange_paths(a.c_str(), b.c_str());
#ifdef _WIN32
        EXPECT_EQ(swapped, 0);  // no atomic exchange: the aside scheme is used
#else
        EXPECT_EQ(swapped, c.first_exists && c.second_exists ? 1 : 0);
#endif
        if (swapped) {
            EXPECT_EQ(kt::snapshot(a), before_b);
            EXPECT_EQ(kt::snapshot(b), before_a);
            EXPECT_EQ(kt::is_dir(a), c.second_is_dir);
        } else {
            EXPECT_EQ(kt::snapshot(a), before_a);
            EXPECT_EQ(kt::snapshot(b), before_b);
            EXPECT_EQ(kt::exists(a), c.first_exists);
            EXPECT_EQ(kt::exists(b), c.second_exists);
        }
    }
}

// An 8 MiB cartridge image: the cartridge build checks only its size.
std::string write_rom(const kt::TempDir& dir) {
    std::string path = dir / "game.z64";
    kt::write_file(path, kt::synthetic_rom(11, false));
    return path;
}

TEST(LinksInAnEarlierBuild, ReplacingTheBuildLeavesTheCanary) {
    kt::TempDir dir("canary");
    std::string rom = write_rom(dir);
    std::string dest = dir / "dest", canary = dir / "canary";
    make_canary(canary);
    std::vector<std::string> canary_before = kt::snapshot(canary);
    BuildRequest request = kt::cartridge_request(rom, dest);
    char error[512];
    ASSERT_EQ(run_build(&request, nullptr, 0, nullptr, error, sizeof error), 1) << error;
    std::string folder = dest + SEP + "Top Gear Rally";
    std::vector<std::string> built = kt::snapshot(folder);

    // Links to the canary at two depths of the earlier build.
    kt::make_dirs(folder + SEP + "saves");
    std::string links[2] = {folder + SEP + "canary", folder + SEP + "saves" + SEP + "canary"};
    kt::LinkKind kinds[2];
    for (int i = 0; i < 2; ++i) kinds[i] = kt::make_folder_link(links[i], canary);
    if (kinds[0] == kt::LINK_NONE) GTEST_SKIP() << "folder links cannot be made here";

    int ok = run_build(&request, nullptr, 0, nullptr, error, sizeof error);
    EXPECT_EQ(kt::snapshot(canary), canary_before);
    if (kinds[0] == kt::LINK_WINE_UNIX) {
        // Wine cannot delete a Unix symlink to a folder: the earlier build
        // stays aside (or under the staging name) holding only the link.
        for (int i = 0; i < 2; ++i) kt::remove_link(links[i], kinds[i]);
        return;
    }
    ASSERT_EQ(ok, 1) << error;
    EXPECT_EQ(kt::snapshot(folder), built);
    EXPECT_FALSE(kt::exists(dest + SEP + ".Top Gear Rally.building"));
    EXPECT_FALSE(kt::exists(dest + SEP + ".Top Gear Rally.replaced"));
}

#ifndef _WIN32
// Another thread keeps swapping the tree's subfolders for links to the
// canary (and back) while remove_tree runs. A removal that checks an entry
// and then opens it by name would enter the link and empty the canary.
TEST(LinksInAnEarlierBuild, SubfolderSwappedForALinkDuringRemoval) {
    kt::TempDir dir("race");
    std::string canary = dir / "canary";
    const int rounds = 30, folders = 24, files = 40;
    // The canary holds the very names of a subfolder, so that a removal by
    // path through a swapped-in link would find and delete them.
    auto fill = [&](const std::string& sub) {
        kt::make_dirs(sub + SEP + "nested");
        for (int i = 0; i < files; ++i) kt::write_file(sub + SEP + "f" + std::to_string(i), "x");
        kt::write_file(sub + SEP + "nested" + SEP + "g", "y");
    };
    fill(canary);
    std::vector<std::string> canary_before = kt::snapshot(canary);
    int swaps_seen = 0;
    for (int round = 0; round < rounds; ++round) {
        std::string tree = dir / ("tree" + std::to_string(round));
        for (int f = 0; f < folders; ++f) fill(tree + SEP + "d" + std::to_string(f));
        std::atomic<bool> done(false);
        std::atomic<int> swaps(0);
        std::thread swapper([&] {
            for (int f = 0; f < folders && !done; ++f) {
                std::string sub = tree + SEP + "d" + std::to_string(f);
                std::string moved = dir / ("moved" + std::to_string(round) + "_" + std::to_string(f));
                if (rename(sub.c_str(), moved.c_str()) != 0) continue;
                if (symlink(canary.c_str(), sub.c_str()) == 0) swaps++;
            }
        });
        remove_tree(tree.c_str());
        done = true;
        swapper.join();
        swaps_seen += swaps;
        ASSERT_EQ(kt::snapshot(canary), canary_before) << "round " << round;
        remove_tree(tree.c_str());  // whatever links were made after it ended
        EXPECT_FALSE(kt::exists(tree));
    }
    EXPECT_GT(swaps_seen, 0);
    std::printf("swapped %d subfolders for links during removals; canary intact\n", swaps_seen);
}
#endif

}  // namespace
