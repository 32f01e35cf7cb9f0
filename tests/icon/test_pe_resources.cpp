// The own PE resource writer: the headers it fixes, the data it must carry
// over, and executables it must refuse without reading out of bounds.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include "formats/icon/icon.h"
#include "icon/icon_test_support.h"
#include "formats/icon/pe_resources.h"
#include "support/test_support.h"

using it::Ico;
using it::put16;
using it::put32;
using it::u16;
using it::u32;

namespace {

// Where the headers of a PE32+ image are.
struct Pe {
    size_t pe, opt, dirs, sections;
    uint32_t count;
};

Pe layout(const std::string& s) {
    Pe p;
    p.pe = u32(s, 0x3C);
    p.opt = p.pe + 24;
    p.dirs = p.opt + 112;
    p.sections = p.opt + u16(s, p.pe + 20);
    p.count = u16(s, p.pe + 6);
    return p;
}

size_t section(const Pe& p, uint32_t i) { return p.sections + 40 * i; }

// End of the last section's data in the file.
size_t raw_end(const std::string& s) {
    Pe p = layout(s);
    size_t end = 0;
    for (uint32_t i = 0; i < p.count; ++i) {
        size_t h = section(p, i);
        if (u32(s, h + 16)) end = std::max<size_t>(end, u32(s, h + 20) + u32(s, h + 16));
    }
    return end;
}

struct Updated {
    int ok;
    std::string bytes;
};

Updated update(const std::string& image, const std::vector<PeResourceUpdate>& updates) {
    unsigned char* out = nullptr;
    size_t size = 0;
    Updated u;
    u.ok = pe_update_resources((const unsigned char*)image.data(), image.size(), updates.data(), updates.size(),
                               &out, &size);
    if (out) u.bytes.assign((const char*)out, size);
    free(out);
    return u;
}

std::string resource(const std::string& image, uint16_t type, uint16_t name, uint16_t language) {
    size_t offset = 0;
    uint32_t length = 0;
    if (!pe_find_resource((const unsigned char*)image.data(), image.size(), type, name, language, &offset, &length))
        return "<absent>";
    return image.substr(offset, length);
}

uint32_t stored_checksum(const std::string& s) { return u32(s, layout(s).opt + 64); }
uint32_t computed_checksum(const std::string& s) {
    return pe_checksum((const unsigned char*)s.data(), s.size());
}

#ifndef _WIN32
// Symbols as binutils reads them from the COFF symbol table.
std::string nm_output(const std::string& bytes) {
    kt::TempDir dir("nm");
    std::string path = dir / "x.exe";
    kt::write_file(path, bytes);
    std::string text;
    FILE* p = popen(("x86_64-w64-mingw32-nm '" + path + "' 2>&1").c_str(), "r");
    if (!p) return text;
    char line[1024];
    while (fgets(line, sizeof line, p)) text += line;
    pclose(p);
    return text;
}
#endif

// The stand-in recast as a 32-bit (PE32) image: the optional header's 64-bit
// fields narrowed, the section table moved up to follow it. It does not
// run, but its headers and sections are a valid PE32 image.
std::string as_pe32(const std::string& plus) {
    Pe p = layout(plus);
    std::string o = plus.substr(p.opt, 240), n;
    n += o.substr(0, 24);
    n += std::string(4, '\0');   // BaseOfData
    n += o.substr(24, 4);        // ImageBase, low half
    n += o.substr(32, 40);       // alignments to DllCharacteristics
    for (size_t at = 72; at < 104; at += 8) n += o.substr(at, 4);  // stack and heap sizes
    n += o.substr(104, 8);       // LoaderFlags, NumberOfRvaAndSizes
    n += o.substr(112, 128);     // data directories
    put16(n, 0, 0x10B);
    std::string out = plus;
    put16(out, p.pe + 4, 0x14C);  // i386
    put16(out, p.pe + 20, 224);
    std::string table = plus.substr(p.sections, 40 * p.count);
    out.replace(p.opt, 224, n);
    out.replace(p.opt + 224, 40 * p.count, table);
    out.replace(p.opt + 224 + 40 * p.count, 16, std::string(16, '\0'));
    put32(out, p.opt + 64, pe_checksum((const unsigned char*)out.data(), out.size()));
    return out;
}

}  // namespace

TEST(PeResourceWriter, AddsAResourceSectionAndFixesTheHeaders) {
    std::string in = it::standin_exe();
    Pe p = layout(in);
    ASSERT_EQ(u16(in, p.opt), 0x20Bu);
    std::string payload(1000, 'r');
    Updated u = update(in, {{10, 5, 0, (const unsigned char*)payload.data(), (uint32_t)payload.size()}});
    ASSERT_EQ(u.ok, 1);
    const std::string& out = u.bytes;
    Pe q = layout(out);
    ASSERT_EQ(q.count, p.count + 1);
    size_t h = section(q, p.count);
    EXPECT_EQ(out.substr(h, 8), std::string(".rsrc\0\0\0", 8));
    uint32_t va = u32(out, h + 12), vsize = u32(out, h + 8), raw = u32(out, h + 16), ptr = u32(out, h + 20);
    EXPECT_EQ(va, u32(in, p.opt + 56)) << "placed right after the last section in memory";
    EXPECT_EQ(ptr, (raw_end(in) + 511) / 512 * 512) << "placed right after the last section in the file";
    EXPECT_EQ(raw % 512, 0u);
    EXPECT_EQ(u32(out, q.dirs + 16), va);
    EXPECT_EQ(u32(out, q.dirs + 20), vsize);
    EXPECT_EQ(u32(out, q.opt + 56), (va + vsize + 0xFFF) / 0x1000 * 0x1000);
    EXPECT_EQ(u32(out, q.opt + 8), u32(in, p.opt + 8) + raw);
    EXPECT_EQ(resource(out, 10, 5, 0), payload);
    // Every section's data stays where it was.
    EXPECT_TRUE(out.compare(section(q, p.count) + 40, raw_end(in) - section(q, p.count) - 40, in,
                            section(p, p.count) + 40, raw_end(in) - section(p, p.count) - 40) == 0);
}

TEST(PeResourceWriter, CarriesTheOverlayAndWhatPointsIntoIt) {
    std::string in = it::standin_exe();
    Pe p = layout(in);
    size_t overlay = raw_end(in);
    uint32_t symbols = u32(in, p.pe + 12);
    ASSERT_GE(symbols, overlay) << "MinGW keeps its COFF symbols after the last section";
    std::string tail = in.substr(overlay);
    std::string big(5000, 'b'), small(10, 's');
    Updated first = update(in, {{3, 1, 0, (const unsigned char*)big.data(), (uint32_t)big.size()}});
    ASSERT_EQ(first.ok, 1);
    // A second update rewrites the now last resource section in place.
    Updated second = update(first.bytes, {{3, 1, 0, (const unsigned char*)small.data(), (uint32_t)small.size()}});
    ASSERT_EQ(second.ok, 1);
    EXPECT_EQ(layout(second.bytes).count, layout(first.bytes).count);
    EXPECT_LT(second.bytes.size(), first.bytes.size());
    EXPECT_EQ(resource(second.bytes, 3, 1, 0), small);
    for (const std::string* out : {&first.bytes, &second.bytes}) {
        size_t moved = raw_end(*out);
        ASSERT_EQ(out->size(), moved + tail.size());
        EXPECT_TRUE(out->compare(moved, std::string::npos, tail) == 0);
        EXPECT_EQ(u32(*out, layout(*out).pe + 12), symbols + (moved - overlay));
#ifndef _WIN32
        EXPECT_EQ(nm_output(*out), nm_output(in));
#endif
    }
#ifndef _WIN32
    EXPECT_GT(nm_output(in).size(), 1000u);
#endif
}

TEST(PeResourceWriter, WritesPe32ImagesToo) {
    std::string in = as_pe32(it::standin_exe());
    ASSERT_EQ(pe_count_resources((const unsigned char*)in.data(), in.size()), 0);
    Ico ico = it::parse_ico(kt::read_file(it::icon_fixture("six.ico")));
    std::vector<PeResourceUpdate> updates;
    for (size_t k = 0; k < ico.images.size(); ++k)
        updates.push_back({3, (uint16_t)(k + 1), 0, (const unsigned char*)ico.images[k].data(),
                           (uint32_t)ico.images[k].size()});
    updates.push_back({14, 1, 0, (const unsigned char*)ico.group.data(), (uint32_t)ico.group.size()});
    Updated u = update(in, updates);
    ASSERT_EQ(u.ok, 1);
    size_t dirs = layout(in).opt + 96;
    Pe q = layout(u.bytes);
    EXPECT_EQ(u32(u.bytes, dirs + 16), u32(u.bytes, q.sections + 40 * (q.count - 1) + 12));
    EXPECT_EQ(stored_checksum(u.bytes), computed_checksum(u.bytes));
    for (size_t k = 0; k < ico.images.size(); ++k)
        EXPECT_TRUE(resource(u.bytes, 3, (uint16_t)(k + 1), 0) == ico.images[k]);
    EXPECT_TRUE(resource(u.bytes, 14, 1, 0) == ico.group);
    kt::TempDir dir("pe32");
    std::string exe = dir / "pe32.exe";
    kt::write_file(exe, u.bytes);
    ResourceMap map;
    ASSERT_TRUE(it::windows_view(exe, &map));
    EXPECT_EQ(map.size(), 7u);
    EXPECT_TRUE(map["14/1/0"] == ico.group);
    EXPECT_TRUE(map["3/3/0"] == ico.images[2]);
}

TEST(PeResourceWriter, KeepsTheChecksumValidOrZero) {
    std::string in = it::standin_exe();
    ASSERT_NE(stored_checksum(in), 0u);
    EXPECT_EQ(computed_checksum(in), stored_checksum(in)) << "agrees with the linker's checksum";
    std::string data = "checksum";
    std::vector<PeResourceUpdate> updates = {{3, 1, 0, (const unsigned char*)data.data(), (uint32_t)data.size()}};
    Updated u = update(in, updates);
    ASSERT_EQ(u.ok, 1);
    EXPECT_EQ(stored_checksum(u.bytes), computed_checksum(u.bytes));
    EXPECT_NE(stored_checksum(u.bytes), stored_checksum(in));

    std::string unsummed = in;
    put32(unsummed, layout(in).opt + 64, 0);
    Updated z = update(unsummed, updates);
    ASSERT_EQ(z.ok, 1);
    EXPECT_EQ(stored_checksum(z.bytes), 0u);
}

TEST(PeResourceWriter, RefusesMalformedExecutablesCleanly) {
    std::string s = it::standin_exe();
    Pe p = layout(s);
    // A patched stand-in: its resource section is last and holds a real tree.
    kt::TempDir dir("pe");
    std::string exe = dir / "patched.exe";
    kt::write_file(exe, s);
    ASSERT_EQ(set_game_icon_own_writer(exe.c_str(), it::icon_fixture("one.ico").c_str(), nullptr, 0), 1);
    std::string r = kt::read_file(exe);
    Pe q = layout(r);
    size_t rs = section(q, q.count - 1);
    ASSERT_EQ(u32(r, q.dirs + 16), u32(r, rs + 12));
    size_t root = u32(r, rs + 20);
    size_t root_entry = root + 16;  // RT_ICON's entry
    size_t data_entry = 0;          // the first leaf: walk type, name, language
    {
        size_t type_dir = root + (u32(r, root_entry + 4) & 0x7FFFFFFF);
        size_t name_dir = root + (u32(r, type_dir + 16 + 4) & 0x7FFFFFFF);
        data_entry = root + u32(r, name_dir + 16 + 4);
    }
    uint32_t rsrc_raw = u32(r, rs + 16);

    struct Case {
        const char* what;
        std::string image;
        int tree;  // the tree is damaged, the headers are fine
    };
    std::vector<Case> cases;
    auto patch32 = [](std::string b, size_t at, uint32_t v) { put32(b, at, v); return b; };
    auto patch16 = [](std::string b, size_t at, uint32_t v) { put16(b, at, v); return b; };
    std::string not_mz = s;
    not_mz[0] = 'X';
    cases.push_back({"no MZ", not_mz, 0});
    cases.push_back({"headers cut short", s.substr(0, 0x100), 0});
    cases.push_back({"only a DOS header", s.substr(0, 64), 0});
    cases.push_back({"PE header beyond the file", patch32(s, 0x3C, (uint32_t)s.size()), 0});
    cases.push_back({"PE header offset near 4 GiB", patch32(s, 0x3C, 0xFFFFFFF0u), 0});
    cases.push_back({"no PE signature", patch16(s, p.pe, 0x5850), 0});
    cases.push_back({"unknown optional header", patch16(s, p.opt, 0x30B), 0});
    cases.push_back({"optional header beyond the file", patch16(s, p.pe + 20, 0xFFFF), 0});
    cases.push_back({"optional header too short", patch16(s, p.pe + 20, 100), 0});
    cases.push_back({"huge section count", patch16(s, p.pe + 6, 0xFFFF), 0});
    cases.push_back({"section data beyond the file", patch32(s, section(p, 0) + 20, (uint32_t)s.size() - 16), 0});
    cases.push_back({"section data wraps 32 bits", patch32(s, section(p, 0) + 20, 0xFFFFFF00u), 0});
    cases.push_back({"file alignment not a power of two", patch32(s, p.opt + 36, 0x300), 0});
    cases.push_back({"no resource data directory", patch32(s, p.opt + 108, 2), 0});
    cases.push_back({"resources outside every section", patch32(r, q.dirs + 16, 0x7FFFFFF0u), 1});
    cases.push_back({"huge root counts", patch32(r, root + 12, 0xFFFFFFFFu), 1});
    cases.push_back({"tree loops back to its root", patch32(r, root_entry + 4, 0x80000000u), 1});
    cases.push_back({"subdirectory beyond the section", patch32(r, root_entry + 4, 0x80000000u | rsrc_raw), 1});
    cases.push_back({"data entry where a directory belongs", patch32(r, root_entry + 4, 16), 1});
    cases.push_back({"name string beyond the section", patch32(r, root_entry, 0x80000000u | (rsrc_raw - 1)), 1});
    cases.push_back({"name string longer than the section",
                     patch16(patch32(r, root_entry, 0x80000000u | 0x20), root + 0x20, 0xFFFF), 1});
    cases.push_back({"data beyond the image", patch32(r, data_entry, 0xFFFFFFF0u), 1});
    cases.push_back({"data longer than its section", patch32(r, data_entry + 4, 0x7FFFFFFFu), 1});
    {
        // Every entry of every level points to the same next directory:
        // 200 x 200 x 200 leaves from under 5 KiB.
        std::string fan = r;
        const uint32_t n = 200;
        size_t level_size = 16 + 8 * n;
        ASSERT_LT(3 * level_size + 16, rsrc_raw);
        for (uint32_t level = 0; level < 3; ++level) {
            size_t dir_at = root + level * level_size;
            fan.replace(dir_at, 16, std::string(16, '\0'));
            put16(fan, dir_at + 14, n);
            for (uint32_t e = 0; e < n; ++e) {
                put32(fan, dir_at + 16 + 8 * e, e + 1);
                uint32_t next = (uint32_t)((level + 1) * level_size);
                put32(fan, dir_at + 20 + 8 * e, level < 2 ? (0x80000000u | next) : next);
            }
        }
        size_t leaf = root + 3 * level_size;
        put32(fan, leaf, u32(r, rs + 12));
        put32(fan, leaf + 4, 4);
        cases.push_back({"shared subdirectories fanning out", fan, 1});
    }

    {
        // Two levels of 1100 entries share one directory: no leaf at all,
        // but over a million entries to visit. Needs a bigger section.
        std::string big = dir / "big.exe";
        kt::write_file(big, s);
        ASSERT_EQ(set_game_icon_own_writer(big.c_str(), it::icon_fixture("six.ico").c_str(), nullptr, 0), 1);
        std::string fan = kt::read_file(big);
        Pe b = layout(fan);
        size_t brs = section(b, b.count - 1), broot = u32(fan, brs + 20);
        const uint32_t n = 1100;
        size_t level_size = 16 + 8 * n;
        ASSERT_LT(2 * level_size + 16, u32(fan, brs + 16));
        for (uint32_t level = 0; level < 2; ++level) {
            size_t dir_at = broot + level * level_size;
            fan.replace(dir_at, 16, std::string(16, '\0'));
            put16(fan, dir_at + 14, n);
            for (uint32_t e = 0; e < n; ++e) {
                put32(fan, dir_at + 16 + 8 * e, e + 1);
                put32(fan, dir_at + 20 + 8 * e, 0x80000000u | (uint32_t)((level + 1) * level_size));
            }
        }
        fan.replace(broot + 2 * level_size, 16, std::string(16, '\0'));  // an empty language directory
        cases.push_back({"shared subdirectories without leaves", fan, 1});
    }

    std::string data = "icon";
    std::vector<PeResourceUpdate> updates = {{3, 1, 0, (const unsigned char*)data.data(), 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Updated u = update(c.image, updates);
        EXPECT_EQ(u.ok, 0);
        EXPECT_TRUE(u.bytes.empty());
        if (c.tree) {
            EXPECT_EQ(pe_count_resources((const unsigned char*)c.image.data(), c.image.size()), -1);
        }
        std::string target = dir / "damaged.exe";
        kt::write_file(target, c.image);
        char error[256] = "";
        std::string ico = it::icon_fixture("one.ico");
        EXPECT_EQ(set_game_icon_own_writer(target.c_str(), ico.c_str(), error, sizeof error), 0);
        EXPECT_STREQ(error, "cannot set the game's icon");
        EXPECT_TRUE(kt::read_file(target) == c.image);
        EXPECT_FALSE(kt::exists(target + ".part"));
    }
}

TEST(PeResourceWriter, SurvivesDamageAnywhereInTheHeadersAndTree) {
    // Truncations and byte flips over the headers and the resource section:
    // each result is a refusal or an image whose tree reads back. The
    // sanitizers catch any read out of bounds.
    std::string s = it::standin_exe();
    kt::TempDir dir("pe");
    std::string exe = dir / "patched.exe";
    kt::write_file(exe, s);
    ASSERT_EQ(set_game_icon_own_writer(exe.c_str(), it::icon_fixture("six.ico").c_str(), nullptr, 0), 1);
    std::string r = kt::read_file(exe);
    Pe q = layout(r);
    size_t rs = section(q, q.count - 1);
    // The directory tables, data entries and the start of the first image.
    size_t root = u32(r, rs + 20), tree_size = 0x200;
    std::string data = "x";
    std::vector<PeResourceUpdate> updates = {{3, 1, 0, (const unsigned char*)data.data(), 1}};
    auto check = [&](const std::string& image) {
        Updated u = update(image, updates);
        if (u.ok) {
            EXPECT_GE(pe_count_resources((const unsigned char*)u.bytes.data(), u.bytes.size()), 1);
            EXPECT_EQ(resource(u.bytes, 3, 1, 0), data);
        }
    };
    for (size_t cut = 0; cut < r.size(); cut += 997) check(r.substr(0, cut));
    std::vector<unsigned char> noise = kt::random_bytes(6000, 8);
    for (size_t i = 0; i + 3 < noise.size(); i += 3) {
        std::string damaged = r;
        size_t span = i % 2 ? 0x400 : tree_size;
        size_t at = (i % 2 ? 0 : root) + (noise[i] | (noise[i + 1] << 8)) % span;
        damaged[at] = (char)noise[i + 2];
        check(damaged);
    }
}
