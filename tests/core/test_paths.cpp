// The path and file layer, in both builds. Under Wine these run the Win32
// half, so names with é and 中 prove the UTF-8/UTF-16 conversion at each call.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/fs_conditions.h"
#include "base/part_file.h"
#include "base/paths.h"
#include "support/test_support.h"

namespace {

const std::string SEP = PATH_SEP_STR;

std::string joined(const std::string& a, const std::string& b, size_t capacity = PATH_CAPACITY) {
    std::vector<char> out(capacity + 1, '#');
    path_join(out.data(), capacity, a.c_str(), b.c_str());
    EXPECT_EQ(out[capacity], '#') << "wrote past the capacity";
    return out.data();
}

std::string parent(const std::string& p, size_t capacity = PATH_CAPACITY) {
    std::vector<char> out(capacity + 1, '#');
    path_parent(out.data(), capacity, p.c_str());
    EXPECT_EQ(out[capacity], '#') << "wrote past the capacity";
    return out.data();
}

TEST(PathText, JoinAddsOneSeparatorOnlyWhenNeeded) {
    struct Case {
        const char* first;
        const char* second;
        std::string want;
        size_t capacity;
    } cases[] = {
        {"C:\\Games\\", "x", "C:\\Games\\x", PATH_CAPACITY},
        {"C:/Games/", "x", "C:/Games/x", PATH_CAPACITY},
        {"C:\\Games", "x", "C:\\Games" + SEP + "x", PATH_CAPACITY},
        {"a/b", "c", "a/b" + SEP + "c", PATH_CAPACITY},
        {"", "x", SEP + "x", PATH_CAPACITY},
        {"dir", "", "dir" + SEP, PATH_CAPACITY},
        // Cut, never refused, always terminated.
        {"abcdef", "ghij", "abcdef" + SEP, 8},
        {"abc", "d", "", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(joined(c.first, c.second, c.capacity), c.want) << c.first << " + " << c.second << " cap " << c.capacity;
}

TEST(PathText, ParentTakesTheTextBeforeTheLastSeparatorOfEitherKind) {
    struct Case {
        const char* path;
        std::string want;
        size_t capacity;
    } cases[] = {
        {"Disc.cue", ".", PATH_CAPACITY},
        {"", ".", PATH_CAPACITY},
        {"\\Disc.cue", SEP, PATH_CAPACITY},
        {"/Disc.cue", SEP, PATH_CAPACITY},
        {"D:\\Images\\Disc.cue", "D:\\Images", PATH_CAPACITY},
        {"D:\\Disc.cue", "D:", PATH_CAPACITY},
        {"a/b\\c", "a/b", PATH_CAPACITY},
        {"a\\b/c", "a\\b", PATH_CAPACITY},
        {"dir/", "dir", PATH_CAPACITY},
        {"abcdef/x", "abc", 4},
    };
    for (const Case& c : cases) EXPECT_EQ(parent(c.path, c.capacity), c.want) << c.path;
}

TEST(PathText, SetErrorFormatsBoundedAndToleratesAnAbsentBuffer) {
    char buffer[8];
    memset(buffer, '#', sizeof buffer);
    set_error(buffer, 8, "cannot write %s", "x");
    EXPECT_STREQ(buffer, "cannot ");
    set_error(buffer, 8, "%d", 42);  // a later message overwrites
    EXPECT_STREQ(buffer, "42");
    memset(buffer, '#', sizeof buffer);
    set_error(buffer, 0, "%s", "untouched");
    EXPECT_EQ(buffer[0], '#');
    set_error(nullptr, 100, "%s", "no buffer");
}

struct PathsTest : ::testing::Test {
    kt::TempDir dir{"paths"};
    std::string at(const std::string& name) const { return dir / name; }
};

TEST_F(PathsTest, ProbesTellFilesFoldersAndMissingPathsApart) {
    kt::write_file(at("empty"), "");
    kt::write_file(at("one"), "x");
    kt::write_file(at("many"), std::string(100000, 'z'));
    kt::make_dirs(at("folder"));
    struct Case {
        const char* name;
        int exists, directory;
        uint64_t size;
    } cases[] = {
        {"missing", 0, 0, 0}, {"empty", 1, 0, 0}, {"one", 1, 0, 1}, {"many", 1, 0, 100000}, {"folder", 1, 1, 0},
    };
    for (const Case& c : cases) {
        std::string p = at(c.name);
        EXPECT_EQ(path_exists(p.c_str()), c.exists) << c.name;
        EXPECT_EQ(is_directory(p.c_str()), c.directory) << c.name;
        EXPECT_EQ(file_size_of(p.c_str()), c.size) << c.name;
    }
}

TEST_F(PathsTest, SizesBeyondFourGibKeepTheHighHalfAndBigFilesAreNotRead) {
    const uint64_t big = (1ull << 32) + 3;
    std::string p = at("sparse");
    ASSERT_TRUE(kt::make_sparse_file(p, big));
    EXPECT_EQ(file_size_of(p.c_str()), big);
    // Refused by size before anything is allocated.
    ASSERT_TRUE(kt::make_sparse_file(p, 2147483649ull));
    uint64_t size = 7;
    EXPECT_EQ(read_whole_file(p.c_str(), &size), nullptr);
    EXPECT_EQ(size, 7u);
}

TEST_F(PathsTest, ReadWholeFile) {
    std::vector<unsigned char> data = kt::random_bytes(300001, 3);
    kt::write_file(at("data"), data);
    kt::write_file(at("one"), "Q");
    kt::write_file(at("empty"), "");
    kt::make_dirs(at("folder"));

    uint64_t size = 0;
    unsigned char* got = read_whole_file(at("data").c_str(), &size);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(size, data.size());
    EXPECT_EQ(memcmp(got, data.data(), data.size()), 0);
    free(got);

    got = read_whole_file(at("one").c_str(), nullptr);  // the size output is optional
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got[0], 'Q');
    free(got);

    for (const char* refused : {"empty", "folder", "missing"}) {
        size = 99;
        EXPECT_EQ(read_whole_file(at(refused).c_str(), &size), nullptr) << refused;
        EXPECT_EQ(size, 99u) << refused;
    }
}

TEST_F(PathsTest, WriteWholeFile) {
    std::string p = at("out");
    EXPECT_EQ(write_whole_file(p.c_str(), "", 0), 1);
    EXPECT_TRUE(kt::exists(p));
    EXPECT_EQ(kt::read_file(p), "");

    kt::write_file(p, "a much longer earlier content");
    EXPECT_EQ(write_whole_file(p.c_str(), "new", 3), 1);
    EXPECT_EQ(kt::read_file(p), "new");  // truncated, not overwritten in place

    kt::make_dirs(at("folder"));
    EXPECT_EQ(write_whole_file(at("folder").c_str(), "x", 1), 0);
    EXPECT_EQ(write_whole_file((at("missing") + SEP + "f").c_str(), "x", 1), 0);
    EXPECT_FALSE(kt::exists(at("missing")));
}

TEST_F(PathsTest, OpenAndSeek) {
    kt::write_file(at("f"), "abcdefgh");
    FILE* f = open_utf8(at("f").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[4] = {};
    EXPECT_EQ(seek_to(f, 5), 1);
    EXPECT_EQ(fread(buf, 1, 3, f), 3u);
    EXPECT_EQ(std::string(buf, 3), "fgh");
    EXPECT_EQ(seek_to(f, 1), 1);
    EXPECT_EQ(fread(buf, 1, 1, f), 1u);
    EXPECT_EQ(buf[0], 'b');
    fclose(f);
    EXPECT_EQ(open_utf8(at("missing").c_str(), "rb"), nullptr);
}

TEST_F(PathsTest, MoveReplace) {
    kt::write_file(at("a"), "new");
    kt::write_file(at("b"), "old");
    EXPECT_EQ(move_replace(at("a").c_str(), at("b").c_str()), 1);
    EXPECT_FALSE(kt::exists(at("a")));
    EXPECT_EQ(kt::read_file(at("b")), "new");

    kt::make_dirs(at("d1") + SEP + "inner");
    EXPECT_EQ(move_replace(at("d1").c_str(), at("d2").c_str()), 1);
    EXPECT_TRUE(kt::is_dir(at("d2") + SEP + "inner"));

    // A folder is never replaced, empty or not.
    kt::make_dirs(at("d3"));
    EXPECT_EQ(move_replace(at("d2").c_str(), at("d3").c_str()), 0);
    EXPECT_TRUE(kt::is_dir(at("d2") + SEP + "inner"));
    EXPECT_TRUE(kt::is_dir(at("d3")));

    EXPECT_EQ(move_replace(at("missing").c_str(), at("other").c_str()), 0);
}

#ifdef __linux__
size_t open_descriptors() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}
#endif

// Writeback is started behind the writer's back: each file must still be
// closed, renamed and removed at once, keep every byte, and hold no
// descriptor for long, even when more files finish than can wait their turn.
TEST_F(PathsTest, StartedWritebackLeavesTheFileToItsWriter) {
#ifdef __linux__
    const size_t descriptors = open_descriptors();
#endif
    const std::string folder = at("w");
    kt::make_dirs(folder);
    const std::string content(100000, 'k');
    enum { FILES = 150 };
    for (int i = 0; i < FILES; ++i) {
        // The way every output file is finished: the commit starts its
        // writeback, closes it and renames it into place.
        const std::string name = folder + SEP + "f" + std::to_string(i);
        PartFile part;
        ASSERT_EQ(part_open(&part, name.c_str(), PART_REMOVE), 1);
        ASSERT_EQ(fwrite(content.data(), 1, content.size(), part.file), content.size());
        ASSERT_EQ(part_commit(&part), 1);
    }
    for (int i = 0; i < FILES; ++i) ASSERT_EQ(kt::read_file(folder + SEP + "f" + std::to_string(i)), content) << i;
    EXPECT_EQ(remove_tree(folder.c_str()), 1);
    EXPECT_FALSE(kt::exists(folder));
#ifdef __linux__
    size_t now = open_descriptors();
    for (int wait = 0; wait < 500 && now > descriptors; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now = open_descriptors();
    }
    EXPECT_EQ(now, descriptors) << "descriptors still held after the files were removed";
#endif
}

TEST_F(PathsTest, MakeDirs) {
    kt::make_dirs(at("exists"));
    kt::write_file(at("file"), "f");
    struct Case {
        std::string path;
        int want;
        bool folder_after;
    } cases[] = {
        {at("exists"), 1, true},
        {at("new") + SEP + "a" + SEP + "b", 1, true},
        {at("trail") + SEP + "x" + SEP, 1, true},
        {at("file"), 1, false},                // an existing file counts, as make_dir says
        {at("file") + SEP + "sub", 0, false},  // cannot create below a file
        {"", 0, false},
#ifdef _WIN32
        {"C:\\", 1, true},
        {at("mixed") + "/a\\b", 1, true},
#else
        {"/", 1, true},
#endif
    };
    for (const Case& c : cases) {
        EXPECT_EQ(make_dirs(c.path.c_str()), c.want) << c.path;
        if (!c.path.empty()) {
            EXPECT_EQ(kt::is_dir(c.path), c.folder_after) << c.path;
        }
    }
    EXPECT_EQ(kt::read_file(at("file")), "f");
    EXPECT_FALSE(kt::exists(at("file") + SEP + "sub"));
}

TEST_F(PathsTest, MakeDir) {
    kt::write_file(at("file"), "f");
    kt::make_dirs(at("folder"));
    EXPECT_EQ(make_dir(at("file").c_str()), 1);  // whatever exists under the name
    EXPECT_EQ(kt::read_file(at("file")), "f");
    EXPECT_EQ(make_dir(at("folder").c_str()), 1);
    EXPECT_EQ(make_dir(at("new").c_str()), 1);
    EXPECT_TRUE(kt::is_dir(at("new")));
    EXPECT_EQ(make_dir((at("missing") + SEP + "x").c_str()), 0);
}

void make_read_only(const std::string& path) {
    std::filesystem::permissions(std::filesystem::u8path(path),
                                 std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
}

TEST_F(PathsTest, RemoveTreeTakesEverythingReadOnlyFilesIncluded) {
    EXPECT_EQ(remove_tree(at("missing").c_str()), 1);

    kt::write_file(at("lone"), "x");
    make_read_only(at("lone"));
    EXPECT_EQ(remove_tree(at("lone").c_str()), 1);
    EXPECT_FALSE(kt::exists(at("lone")));

    std::string tree = at("tree");
    kt::make_dirs(tree + SEP + "a" + SEP + "b");
    kt::make_dirs(tree + SEP + "empty");
    kt::write_file(tree + SEP + "a" + SEP + "b" + SEP + "deep", "d");
    kt::write_file(tree + SEP + "ro", "r");
    make_read_only(tree + SEP + "ro");
    kt::write_file(tree + SEP + ".hidden", "h");
    EXPECT_EQ(remove_tree(tree.c_str()), 1);
    EXPECT_FALSE(kt::exists(tree));
}

TEST_F(PathsTest, RemoveTreeGoesOnPastAnUndeletableEntry) {
    if (!kt::pins_work()) GTEST_SKIP() << "cannot make an undeletable file here";
    std::string tree = at("tree");
    kt::make_dirs(tree + SEP + "sub");
    kt::write_file(tree + SEP + "a", "a");
    kt::write_file(tree + SEP + "sub" + SEP + "stuck", "s");
    kt::write_file(tree + SEP + "z", "z");
    kt::Pin p;
    ASSERT_TRUE(kt::pin(tree + SEP + "sub" + SEP + "stuck", &p));
    int ok = remove_tree(tree.c_str());
    kt::unpin(&p);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(kt::snapshot(tree), (std::vector<std::string>{"sub/", "sub/stuck=1:" + kt::md5_hex_of("s")}));
}

TEST_F(PathsTest, RemoveTreeRemovesALinkAndNeverWhatItPointsTo) {
    std::string canary = at("canary");
    kt::make_dirs(canary + SEP + "inner");
    kt::write_file(canary + SEP + "keep", "precious");
    kt::write_file(canary + SEP + "inner" + SEP + "keep2", "also");
    std::vector<std::string> before = kt::snapshot(canary);

    std::string tree = at("tree");
    kt::make_dirs(tree);
    kt::write_file(tree + SEP + "file", "f");
    std::string link = tree + SEP + "link";
    kt::LinkKind kind = kt::make_folder_link(link, canary);
    if (kind == kt::LINK_NONE) GTEST_SKIP() << "no folder links here";

    int ok = remove_tree(tree.c_str());
    EXPECT_EQ(kt::snapshot(canary), before);
    if (kind == kt::LINK_REMOVABLE) {
        EXPECT_EQ(ok, 1);
        EXPECT_FALSE(kt::exists(tree));
    } else {
        // Wine cannot delete a Unix symlink to a folder: the call must fail
        // and keep only the link, never enter it.
        EXPECT_EQ(ok, 0);
        EXPECT_FALSE(kt::exists(tree + SEP + "file"));
        EXPECT_TRUE(kt::exists(link));
        kt::remove_link(link, kind);
    }
    // The link as the top-level path.
    kind = kt::make_folder_link(at("toplink"), canary);
    ok = remove_tree(at("toplink").c_str());
    EXPECT_EQ(kt::snapshot(canary), before);
    if (kind == kt::LINK_REMOVABLE) {
        EXPECT_EQ(ok, 1);
        EXPECT_FALSE(kt::exists(at("toplink")));
    }
    kt::remove_link(at("toplink"), kind);
}

// Every operation on names outside ASCII; the names on disk are checked
// through the standard library, which converts independently.
TEST_F(PathsTest, NonAsciiNamesSurviveEveryOperation) {
    const std::string e = "\xC3\xA9t\xC3\xA9";         // été
    const std::string zh = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文
    std::string folder = at(e) + SEP + zh;
    ASSERT_EQ(make_dirs(folder.c_str()), 1);
    EXPECT_EQ(is_directory(folder.c_str()), 1);
    EXPECT_TRUE(kt::is_dir(folder));

    std::string file = folder + SEP + zh + ".bin";
    ASSERT_EQ(write_whole_file(file.c_str(), "payload", 7), 1);
    EXPECT_EQ(kt::read_file(file), "payload");
    EXPECT_EQ(path_exists(file.c_str()), 1);
    EXPECT_EQ(file_size_of(file.c_str()), 7u);
    uint64_t size = 0;
    unsigned char* got = read_whole_file(file.c_str(), &size);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(std::string((char*)got, (size_t)size), "payload");
    free(got);
    FILE* f = open_utf8(file.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    fclose(f);

    std::string moved = folder + SEP + e + ".bin";
    ASSERT_EQ(move_replace(file.c_str(), moved.c_str()), 1);
    EXPECT_EQ(kt::snapshot(at(e)), (std::vector<std::string>{zh + "/", zh + "/" + e + ".bin=7:" + kt::md5_hex_of("payload")}));

    EXPECT_EQ(remove_tree(at(e).c_str()), 1);
    EXPECT_FALSE(kt::exists(at(e)));
}

}  // namespace
