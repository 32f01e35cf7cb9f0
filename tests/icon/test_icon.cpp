// set_game_icon: the resources it writes as Windows reads them back, the
// ICO files it accepts and refuses, what it keeps, and executables it must
// leave alone.
#include <gtest/gtest.h>

#include <stdio.h>

#include <set>

#include "formats/icon/icon.h"
#include "icon/icon_test_support.h"
#include "formats/icon/pe_resources.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

using it::Ico;
using it::Impl;

namespace {

const char* const UNREADABLE = "the disc's icon is unreadable";
const char* const NOT_SET = "cannot set the game's icon";

std::string key(int type, int name, int language) {
    return std::to_string(type) + "/" + std::to_string(name) + "/" + std::to_string(language);
}

// The icon resources in a loader's map equal the ICO's images and group.
void expect_icon(const ResourceMap& map, const Ico& ico) {
    for (size_t k = 0; k < ico.images.size(); ++k) {
        auto found = map.find(key(3, (int)k + 1, 0));
        ASSERT_NE(found, map.end()) << "RT_ICON " << k + 1;
        EXPECT_TRUE(found->second == ico.images[k]) << "RT_ICON " << k + 1;
    }
    auto group = map.find(key(14, 1, 0));
    ASSERT_NE(group, map.end());
    EXPECT_EQ(group->second.size(), 6 + 14 * ico.images.size());
    EXPECT_TRUE(group->second == ico.group);
}

// The same through the program's own reader.
void expect_icon_in_bytes(const std::string& exe, const Ico& ico) {
    const unsigned char* image = (const unsigned char*)exe.data();
    size_t offset = 0;
    uint32_t length = 0;
    for (size_t k = 0; k < ico.images.size(); ++k) {
        ASSERT_EQ(pe_find_resource(image, exe.size(), 3, (uint16_t)(k + 1), 0, &offset, &length), 1);
        EXPECT_TRUE(exe.substr(offset, length) == ico.images[k]) << "RT_ICON " << k + 1;
    }
    ASSERT_EQ(pe_find_resource(image, exe.size(), 14, 1, 0, &offset, &length), 1);
    EXPECT_TRUE(exe.substr(offset, length) == ico.group);
}

#ifndef _WIN32
// `wrestool -l` lines without their file offsets, which differ by writer.
std::set<std::string> wrestool_listing(const std::string& path) {
    std::set<std::string> lines;
    FILE* p = popen(("wrestool -l '" + path + "' 2>&1").c_str(), "r");
    if (!p) return lines;
    char line[1024];
    while (fgets(line, sizeof line, p)) {
        std::string s = line;
        size_t at = s.find("offset=0x");
        size_t end = s.find(' ', at);
        if (at != std::string::npos && end != std::string::npos) s.erase(at, end + 1 - at);
        lines.insert(s);
    }
    pclose(p);
    return lines;
}
#endif

int make_read_only(const std::string& path) {
#ifdef _WIN32
    int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &w[0], n);
    return SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_READONLY) != 0;
#else
    return chmod(path.c_str(), 0444) == 0;
#endif
}

}  // namespace

TEST(IconTransplant, WritesEveryImageAndTheGroupDirectoryAsWindowsReadsThem) {
    std::string standin = it::standin_exe();
    ASSERT_FALSE(standin.empty());
    ASSERT_EQ(pe_count_resources((const unsigned char*)standin.data(), standin.size()), 0);
    for (const Impl& impl : it::implementations()) {
        for (const char* name : {"one.ico", "six.ico"}) {
            SCOPED_TRACE(std::string(impl.name) + " " + name);
            Ico ico = it::parse_ico(kt::read_file(it::icon_fixture(name)));
            ASSERT_FALSE(ico.images.empty());
            if (ico.images.size() == 6) {
                ASSERT_EQ(ico.images[2].substr(0, 4), "\x89PNG");  // PNG among bitmaps
            }
            kt::TempDir dir("icon");
            std::string exe = dir / "Boss Rally.exe";
            kt::write_file(exe, standin);
#ifndef _WIN32
            ASSERT_EQ(chmod(exe.c_str(), 0750), 0);
#endif
            char error[256] = "";
            ASSERT_EQ(impl.fn(exe.c_str(), it::icon_fixture(name).c_str(), error, sizeof error), 1) << error;
            EXPECT_STREQ(error, "");
            EXPECT_FALSE(kt::exists(exe + ".part"));

            std::string patched = kt::read_file(exe);
            expect_icon_in_bytes(patched, ico);
            ResourceMap map;
            ASSERT_TRUE(it::windows_view(exe, &map));
            EXPECT_EQ(map.size(), ico.images.size() + 1);
            expect_icon(map, ico);
#ifdef _WIN32
            std::string bytes;
            ASSERT_EQ(find_resource_by_id(exe, 14, 1, &bytes), 1);
            EXPECT_TRUE(bytes == ico.group);
            ASSERT_EQ(find_resource_by_id(exe, 3, (int)ico.images.size(), &bytes), 1);
            EXPECT_TRUE(bytes == ico.images.back());
#else
            struct stat st;
            ASSERT_EQ(stat(exe.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0750u) << "the replacement keeps the permissions";
            std::set<std::string> listing = wrestool_listing(exe);
            EXPECT_EQ(listing.size(), ico.images.size() + 1);
            EXPECT_EQ(listing.count("--type=14 --name=1 --language=0 [type=group_icon size=" +
                                    std::to_string(ico.group.size()) + "]\n"),
                      1u);
#endif
            kt::write_file(kt::join(it::output_dir(), std::string(impl.name) + "-" + name + ".exe"), patched);
        }
    }
}

TEST(IconTransplant, ChecksTheIcoFileBeforeAndWhileWriting) {
    std::string one = kt::read_file(it::icon_fixture("one.ico"));
    ASSERT_GT(one.size(), 100u);
    uint32_t size0 = it::u32(one, 14), offset0 = it::u32(one, 18);
    ASSERT_EQ((uint64_t)offset0 + size0, one.size());  // ImageMagick puts the image last

    struct Case {
        const char* what;
        std::string ico;
        int ok;
        const char* message;
    };
    std::string three = one.substr(0, 53);
    it::put16(three, 4, 3);
    std::string exact = one.substr(0, one.size() - 1);
    it::put32(exact, 14, size0 - 1);
    std::string beyond = one;
    it::put32(beyond, 14, size0 + 1);
    std::string wraps = one;  // offset + size overflows 32 bits
    it::put32(wraps, 14, 0xFFFFFFFFu);
    it::put32(wraps, 18, 0xFFFFFFFFu);
    std::string none = one;
    it::put16(none, 4, 0);
    const Case cases[] = {
        {"one image", one, 1, ""},
        {"image ending exactly at the end", exact, 1, ""},
        {"image one byte beyond the end", beyond, 0, NOT_SET},
        {"offset plus size beyond 32 bits", wraps, 0, NOT_SET},
        {"three images announced in 53 bytes", three, 0, UNREADABLE},
        {"no images", none, 0, UNREADABLE},
        {"five bytes", one.substr(0, 5), 0, UNREADABLE},
        {"empty file", "", 0, UNREADABLE},
        {"missing file", "-", 0, UNREADABLE},
    };
    std::string standin = it::standin_exe();
    for (const Impl& impl : it::implementations()) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(impl.name) + ": " + c.what);
            kt::TempDir dir("icon");
            std::string exe = dir / "Boss Rally.exe", ico = dir / "Boss.ico";
            kt::write_file(exe, standin);
            if (c.ico != "-") kt::write_file(ico, c.ico);
            char error[256] = "stale";
            EXPECT_EQ(impl.fn(exe.c_str(), ico.c_str(), error, sizeof error), c.ok);
            if (c.ok) {
                EXPECT_STREQ(error, "stale");  // success writes nothing
                expect_icon_in_bytes(kt::read_file(exe), it::parse_ico(c.ico));
            } else {
                EXPECT_STREQ(error, c.message);
                EXPECT_TRUE(kt::read_file(exe) == standin) << "the executable changed";
            }
            EXPECT_FALSE(kt::exists(exe + ".part"));
            // Without an error buffer the result is the same.
            kt::write_file(exe, standin);
            EXPECT_EQ(impl.fn(exe.c_str(), ico.c_str(), nullptr, 0), c.ok);
        }
    }
}

TEST(IconTransplant, KeepsEveryOtherResource) {
    std::string original = kt::read_file(it::test_program("richpe.exe"));
    ASSERT_FALSE(original.empty());
    Ico ico = it::parse_ico(kt::read_file(it::icon_fixture("six.ico")));
    for (const Impl& impl : it::implementations()) {
        SCOPED_TRACE(impl.name);
        kt::TempDir dir("icon");
        std::string exe = dir / "richpe.exe";
        kt::write_file(exe, original);
        ResourceMap before, after;
        ASSERT_TRUE(it::windows_view(exe, &before));
        // Version block, manifest, strings, named data and type, three
        // languages of one id.
        ASSERT_EQ(before.size(), 8u);
        ASSERT_EQ(before.count("16/1/1033"), 1u);
        ASSERT_EQ(before.count("'KVTYPE'/'KVBLOB'/1033"), 1u);
        ASSERT_EQ(before.count("10/7/1031"), 1u);
#ifndef _WIN32
        std::set<std::string> listed_before = wrestool_listing(exe);
#endif
        char error[256] = "";
        ASSERT_EQ(impl.fn(exe.c_str(), it::icon_fixture("six.ico").c_str(), error, sizeof error), 1) << error;
        ASSERT_TRUE(it::windows_view(exe, &after));
        EXPECT_EQ(after.size(), before.size() + 7);
        for (auto& entry : before) {
            auto kept = after.find(entry.first);
            ASSERT_NE(kept, after.end()) << entry.first;
            EXPECT_TRUE(kept->second == entry.second) << entry.first;
        }
        expect_icon(after, ico);
        EXPECT_EQ(it::run_program(exe, {}), 42);
#ifndef _WIN32
        std::set<std::string> listed_after = wrestool_listing(exe);
        EXPECT_EQ(listed_after.size(), listed_before.size() + 7);
        for (auto& line : listed_before) EXPECT_EQ(listed_after.count(line), 1u) << line;
#endif
        kt::write_file(kt::join(it::output_dir(), std::string(impl.name) + "-richpe.exe"), kt::read_file(exe));
    }
}

TEST(IconTransplant, ReplacesTheIconOfAnEarlierUpdate) {
    Ico six = it::parse_ico(kt::read_file(it::icon_fixture("six.ico")));
    Ico one = it::parse_ico(kt::read_file(it::icon_fixture("one.ico")));
    for (const Impl& impl : it::implementations()) {
        SCOPED_TRACE(impl.name);
        kt::TempDir dir("icon");
        std::string exe = dir / "Boss Rally.exe";
        kt::write_file(exe, it::standin_exe());
        ASSERT_EQ(impl.fn(exe.c_str(), it::icon_fixture("six.ico").c_str(), nullptr, 0), 1);
        size_t first_size = kt::read_file(exe).size();
        ASSERT_EQ(impl.fn(exe.c_str(), it::icon_fixture("one.ico").c_str(), nullptr, 0), 1);
        std::string patched = kt::read_file(exe);
        ResourceMap map;
        ASSERT_TRUE(it::windows_view(exe, &map));
        // Ids 1 and the group are replaced; ids 2 to 6 stay from before.
        EXPECT_EQ(map.size(), 7u);
        expect_icon(map, one);
        for (int k = 2; k <= 6; ++k) EXPECT_TRUE(map[key(3, k, 0)] == six.images[k - 1]) << k;
        // The second update rewrites the resource section in place rather
        // than adding another one.
        if (std::string(impl.name) == "own") {
            EXPECT_LT(patched.size(), first_size);
        }
    }
}

TEST(IconTransplant, PatchedGameStillRuns) {
    std::string standin = it::standin_exe();
    for (const Impl& impl : it::implementations()) {
        SCOPED_TRACE(impl.name);
        kt::TempDir dir("icon");
        kt::make_dirs(kt::join(dir.path, "disc"));
        kt::write_file(kt::join(kt::join(dir.path, "disc"), "BRGlide.dll"), "x");
        std::string music = kt::join(kt::join(dir.path, "music"), "cd");
        kt::make_dirs(music);
        std::string exe = dir / "Boss Rally.exe";
        kt::write_file(exe, standin);
        EXPECT_EQ(it::run_program(exe, {"--check-data"}, dir.path), 1);  // no soundtrack yet
        for (int track = 2; track <= 13; ++track) {
            char name[32];
            snprintf(name, sizeof name, "track%02d.flac", track);
            kt::write_file(kt::join(music, name), "fLaC");
        }
        EXPECT_EQ(it::run_program(exe, {"--check-data"}, dir.path), 0);
        ASSERT_EQ(impl.fn(exe.c_str(), it::icon_fixture("six.ico").c_str(), nullptr, 0), 1);
        EXPECT_EQ(it::run_program(exe, {"--check-data"}, dir.path), 0);
    }
}

TEST(IconTransplant, LeavesAnExecutableThatCannotBeWrittenAlone) {
    std::string standin = it::standin_exe();
    for (const Impl& impl : it::implementations()) {
        SCOPED_TRACE(impl.name);
        kt::TempDir dir("icon");
        std::string exe = dir / "Boss Rally.exe";
        kt::write_file(exe, standin);
        ASSERT_TRUE(make_read_only(exe));
        char error[256] = "";
        EXPECT_EQ(impl.fn(exe.c_str(), it::icon_fixture("six.ico").c_str(), error, sizeof error), 0);
        EXPECT_STREQ(error, NOT_SET);
        EXPECT_TRUE(kt::read_file(exe) == standin);
        EXPECT_FALSE(kt::exists(exe + ".part"));

        std::string folder = dir / "a folder.exe";
        kt::make_dirs(folder);
        EXPECT_EQ(impl.fn(folder.c_str(), it::icon_fixture("six.ico").c_str(), error, sizeof error), 0);
        EXPECT_STREQ(error, NOT_SET);
    }
}

#ifdef _WIN32
TEST(IconTransplant, LeavesAnExecutableHeldOpenByAnotherProcessAlone) {
    std::string standin = it::standin_exe();
    for (const Impl& impl : it::implementations()) {
        SCOPED_TRACE(impl.name);
        kt::TempDir dir("icon");
        std::string exe = dir / "Boss Rally.exe";
        kt::write_file(exe, standin);
        std::string probe = it::test_program("icon_probe.exe");
        std::wstring line = L"\"" + std::wstring(probe.begin(), probe.end()) + L"\" hold \"" +
                            std::wstring(exe.begin(), exe.end()) + L"\" 4000";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        for (int i = 0; i < 200 && !kt::exists(exe + ".held"); ++i) Sleep(25);
        ASSERT_TRUE(kt::exists(exe + ".held"));
        char error[256] = "";
        EXPECT_EQ(impl.fn(exe.c_str(), it::icon_fixture("six.ico").c_str(), error, sizeof error), 0);
        EXPECT_STREQ(error, NOT_SET);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        EXPECT_TRUE(kt::read_file(exe) == standin);
        EXPECT_FALSE(kt::exists(exe + ".part"));
    }
}
#endif
