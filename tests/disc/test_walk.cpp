// Directory walk, names, file copies, progress and cancel, on volumes built
// record by record.
#include <gtest/gtest.h>

#include <functional>

#include "disc/disc_test_util.h"

using namespace kt;

namespace {

const char DAMAGED[] = "the BIN's file system is damaged";
const char COPYING[] = "Copying the game's files from the disc";

Node chain(int levels, const Node& leaf) {
    Node n = leaf;
    for (int i = levels; i >= 1; --i) {
        char name[16];
        snprintf(name, sizeof name, "D%02d;1", i);
        n = dir_node(name, {n});
    }
    return n;
}

std::string chain_path(int levels) {
    std::string p;
    for (int i = 1; i <= levels; ++i) {
        char name[16];
        snprintf(name, sizeof name, "D%02d/", i);
        p += name;
    }
    return p;
}

struct WalkCase {
    const char* what;
    std::function<std::vector<unsigned char>()> image;
    std::string error;                   // "" for success
    bool target_made;                    // on failure: was the target folder made
    std::vector<std::string> expected;   // extracted tree (success or failure)
    uint64_t track_end = 0;              // the data track's end from a cue sheet, 0 for none
};

void run_walk_cases(const std::vector<WalkCase>& cases) {
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir("walk");
        std::string bin = dir / "image.bin";
        write_file(bin, c.image());
        std::string target = dir / "out";
        Extraction e = extract(bin, target, nullptr, 0, 0.1, c.track_end);
        if (!c.error.empty()) {
            EXPECT_EQ(e.ok, 0);
            EXPECT_EQ(e.error, c.error);
        } else {
            EXPECT_EQ(e.ok, 1) << e.error;
        }
        EXPECT_EQ(is_dir(target), c.error.empty() || c.target_made);
        EXPECT_EQ(snapshot(target), c.expected);
    }
}

// The root directory of a primary volume, patched by `spoil` (given the
// image and the root's extent).
std::vector<unsigned char> spoiled(const Node& root,
                                   const std::function<void(VolumeBuilder&, DirRef&)>& spoil) {
    VolumeBuilder v;
    DirRef r = v.add_tree(root);
    spoil(v, r);
    v.descriptor(16, 1, r);
    v.terminator(17);
    return v.raw();
}

// Offset of the record of the first entry after "." and "..".
const size_t FIRST = 68;

TEST(DiscWalk, EdgeCases) {
    const std::string big = text_of(300000, 3);
    std::vector<Node> many;
    std::vector<std::pair<std::string, std::string>> many_expected = {{"MANY/", ""}};
    for (int i = 0; i < 150; ++i) {
        char name[32];
        snprintf(name, sizeof name, "FILE_NUMBER_%03d.DAT", i);
        many.push_back(file_node(std::string(name) + ";1", std::to_string(i)));
        many_expected.push_back({std::string("MANY/") + name, std::to_string(i)});
    }
    Node late = file_node("LATE.TXT;1", "late");
    late.new_sector = true;

    const std::vector<WalkCase> cases = {
        {"root of length 0",
         [] {
             return spoiled(dir_node("", {}), [](VolumeBuilder&, DirRef& r) { r.size = 0; });
         },
         "", true, {}},
        {"files, folders, empty file, version suffixes",
         [&] {
             return primary_image(dir_node("", {file_node("README.TXT;1", "readme"), file_node("NOVERSION", "nv"),
                                                file_node("EMPTY.DAT;1", ""), file_node("BIG.BIN;1", big),
                                                dir_node("SUB", {file_node("INNER.TXT;1", "inner")})}));
         },
         "", true,
         tree({{"README.TXT", "readme"}, {"NOVERSION", "nv"}, {"EMPTY.DAT", ""}, {"BIG.BIN", big},
               {"SUB/", ""}, {"SUB/INNER.TXT", "inner"}})},
        {"directory spanning several sectors", [&] { return primary_image(dir_node("", {dir_node("MANY", many)})); },
         "", true, tree(many_expected)},
        {"zero length byte mid-sector skips to the next sector",
         [&] { return primary_image(dir_node("", {file_node("EARLY.TXT;1", "early"), late})); }, "", true,
         tree({{"EARLY.TXT", "early"}, {"LATE.TXT", "late"}})},
        {"root directx in any case left out, elsewhere kept",
         [] {
             return primary_image(dir_node(
                 "", {dir_node("DirectX", {file_node("DX.DLL;1", "dx")}), dir_node("DIRECTX", {}),
                      file_node("directx", "file"), dir_node("SUB", {dir_node("directx", {file_node("K.TXT;1", "k")})})}));
         },
         "", true, tree({{"directx", "file"}, {"SUB/", ""}, {"SUB/directx/", ""}, {"SUB/directx/K.TXT", "k"}})},
        {"16 levels below the root",
         [] { return primary_image(dir_node("", {chain(16, file_node("LEAF.TXT;1", "leaf"))})); }, "", true,
         [] {
             std::vector<std::pair<std::string, std::string>> e;
             for (int i = 1; i <= 16; ++i) e.push_back({chain_path(i), ""});
             e.push_back({chain_path(16) + "LEAF.TXT", "leaf"});
             return tree(e);
         }()},
        {"17 levels below the root: nothing copied",
         [] {
             return primary_image(dir_node("", {file_node("FIRST.TXT;1", "f"), chain(17, file_node("LEAF.TXT;1", "x"))}));
         },
         DAMAGED, false, {}},
        {"record length below 33 plus the name",
         [] {
             return spoiled(dir_node("", {file_node("A.TXT;1", "a")}),
                            [](VolumeBuilder& v, DirRef& r) { v.at(r.extent)[FIRST] = 33 + 6; });
         },
         DAMAGED, false, {}},
        {"record of 32 bytes at the directory's end",
         [] {
             return spoiled(dir_node("", {file_node("A.TXT;1", "a")}),
                            [](VolumeBuilder&, DirRef& r) { r.size = (uint32_t)FIRST + 32; });
         },
         DAMAGED, false, {}},
        {"name running past the directory's end",
         [] {
             return spoiled(dir_node("", {file_node("LONGNAME.TXT;1", "a")}),
                            [](VolumeBuilder&, DirRef& r) { r.size = (uint32_t)FIRST + 33 + 5; });
         },
         DAMAGED, false, {}},
        {"directory above 16 MiB",
         [] {
             return spoiled(dir_node("", {dir_node("SUB", {})}), [](VolumeBuilder& v, DirRef& r) {
                 unsigned char* rec = v.at(r.extent) + FIRST;
                 uint32_t size = 16777217;
                 for (int i = 0; i < 4; ++i) rec[10 + i] = (unsigned char)(size >> (8 * i));
             });
         },
         DAMAGED, false, {}},
        {"directory records pointing back at their own directory",
         [] {
             return spoiled(dir_node("", {dir_node("A", {}), dir_node("B", {}), dir_node("C", {})}),
                            [](VolumeBuilder& v, DirRef& r) {
                                // Every subdirectory record points at the root:
                                // without a guard this fans out 3^17 times.
                                for (int k = 0; k < 3; ++k) {
                                    unsigned char* rec = v.at(r.extent) + FIRST + 34 * k;
                                    for (int i = 0; i < 4; ++i) {
                                        rec[2 + i] = (unsigned char)(r.extent >> (8 * i));
                                        rec[10 + i] = (unsigned char)(r.size >> (8 * i));
                                    }
                                }
                            });
         },
         DAMAGED, false, {}},
        {"directory beyond the image's end, inside the volume (a cut BIN)",
         [] {
             return spoiled(dir_node("", {dir_node("SUB", {})}), [](VolumeBuilder& v, DirRef& r) {
                 v.at(r.extent)[FIRST + 2 + 2] = 0x10;  // extent += 1 Mi sectors
                 v.volume_sectors = 0x200000;
             });
         },
         "the disc image's file system is unreadable", false, {}},
    };
    run_walk_cases(cases);
}

// Sets the data length of the record at offset `at` of the root.
void set_length(VolumeBuilder& v, const DirRef& r, size_t at, uint32_t length) {
    unsigned char* rec = v.at(r.extent) + at;
    for (int i = 0; i < 4; ++i) rec[10 + i] = (unsigned char)(length >> (8 * i));
}

TEST(DiscWalk, ShortFileDataNamesThePath) {
    TempDir dir("walk");
    std::string bin = dir / "image.bin";
    // A cut BIN: the volume is 3 sectors longer than the image holds.
    write_file(bin, spoiled(dir_node("", {file_node("GOOD.TXT;1", "good"), file_node("CUT.DAT;1", "x")}),
                            [](VolumeBuilder& v, DirRef& r) {
                                set_length(v, r, FIRST + 44, 3 * 2048);  // the second entry runs past the image
                                v.volume_sectors = v.sectors() + 3;
                            }));
    std::string target = dir / "out";
    Extraction e = extract(bin, target);
    EXPECT_EQ(e.ok, 0);
    EXPECT_EQ(e.error, "the disc image is short or unreadable at " + join(target, "CUT.DAT"));
    // Found by the counting walk: nothing is copied.
    EXPECT_FALSE(exists(target));

    // A read that fails during the copy itself leaves the .part file.
    VolumeBuilder v;
    uint32_t extent = v.add_data("x");
    v.write_raw(bin);
    DiscVolume volume = {fopen(bin.c_str(), "rb"), 0};
    ASSERT_NE(volume.file, nullptr);
    char error[512] = "";
    DiscExtraction x = {};
    x.volume = &volume;
    x.error = error;
    x.error_capacity = sizeof error;
    x.copying = 1;
    std::string out = dir / "CUT.DAT";
    EXPECT_EQ(copy_disc_file(&x, extent, 3 * 2048, out.c_str()), 0);
    fclose(volume.file);
    EXPECT_EQ(std::string(error), "the disc image is short or unreadable at " + out);
    EXPECT_FALSE(exists(out));
    EXPECT_TRUE(exists(out + ".part"));
}

// Entries that would land on one file (on Windows, or through a copy's
// temporary file), and data outside the data track, are refused by the
// counting walk: nothing at all is written.
TEST(DiscWalk, CollisionsAndStrayExtentsRefusedBeforeCopying) {
    const std::string a1 = text_of(5000, 4), a2 = text_of(7000, 5);
    auto unsafe = [](const std::string& name) { return "the disc image holds an unsafe file name: " + name; };
    // The root holds FIRST.TXT, then SUB with the entries of the case, so a
    // refusal inside SUB shows that nothing was copied before it.
    auto in_sub = [](bool joliet, std::vector<Node> kids) {
        Node first = file_node(joliet ? ucs2("FIRST.TXT") : "FIRST.TXT;1", "first");
        Node root = dir_node("", {first, dir_node(joliet ? ucs2("SUB") : "SUB", std::move(kids))});
        return joliet ? joliet_image(root) : primary_image(root);
    };
    auto j = [](const std::string& name, const std::string& data) { return file_node(ucs2(name), data); };
    // The root's FIRST.TXT and DATA.BIN (3 sectors), whose extent and
    // length `spoil` may change, as may the volume's size.
    const std::string data = text_of(5000, 6);
    auto stray = [&](const std::function<void(VolumeBuilder&, uint32_t& extent, uint32_t& length)>& spoil) {
        VolumeBuilder v;
        DirRef r = v.add_tree(dir_node("", {file_node("FIRST.TXT;1", "first"), file_node("DATA.BIN;1", data)}));
        unsigned char* rec = v.at(r.extent) + FIRST + 44;
        uint32_t extent = rec[2] | rec[3] << 8 | rec[4] << 16 | (uint32_t)rec[5] << 24;
        uint32_t length = (uint32_t)data.size();
        spoil(v, extent, length);
        for (int i = 0; i < 4; ++i) {
            rec[2 + i] = (unsigned char)(extent >> (8 * i));
            rec[10 + i] = (unsigned char)(length >> (8 * i));
        }
        v.descriptor(16, 1, r);
        v.terminator(17);
        return v.raw();
    };
    // Extent of DATA.BIN in stray(): after the root (sector 32) and FIRST.TXT.
    const uint32_t DATA_EXTENT = 34;
    const std::vector<WalkCase> cases = {
        {"same name twice",
         [&] { return in_sub(false, {file_node("TWICE.DAT;1", a1), file_node("TWICE.DAT;1", a2)}); },
         unsafe("TWICE.DAT"), false, {}},
        {"same name twice, Joliet", [&] { return in_sub(true, {j("twice.dat", a1), j("twice.dat", a2)}); },
         unsafe("twice.dat"), false, {}},
        {"names differing in case only",
         [&] { return in_sub(false, {file_node("README.TXT;1", a1), file_node("readme.txt;1", a2)}); },
         unsafe("readme.txt"), false, {}},
        {"Joliet names differing in the case of accented letters",
         [&] { return in_sub(true, {j("Caf\xC3\xA9.txt", a1), j("CAF\xC3\x89.TXT", a2)}); },
         unsafe("CAF\xC3\x89.TXT"), false, {}},
        {"a folder and a file differing in case",
         [&] { return in_sub(true, {dir_node(ucs2("Data"), {}), j("DATA", a1)}); }, unsafe("DATA"), false, {}},
        {"names equal once Windows drops a trailing dot",
         [&] { return in_sub(false, {file_node("README.;1", a1), file_node("README;1", a2)}); },
         unsafe("README"), false, {}},
        {"X.part before X", [&] { return in_sub(true, {j("a.txt.part", a1), j("a.txt", a2)}); },
         unsafe("a.txt.part"), false, {}},
        {"X.part after X, in another case", [&] { return in_sub(true, {j("a.txt", a1), j("A.TXT.PART", a2)}); },
         unsafe("A.TXT.PART"), false, {}},
        {"a folder named X.part next to the file X",
         [&] { return in_sub(true, {j("a.txt", a1), dir_node(ucs2("a.txt.part"), {j("in", "x")})}); },
         unsafe("a.txt.part"), false, {}},
        {"directory extent past the volume",
         [] {
             return spoiled(dir_node("", {file_node("FIRST.TXT;1", "first"), dir_node("SUB", {})}),
                            [](VolumeBuilder& v, DirRef&) { v.volume_sectors = v.sectors() - 1; });
         },
         DAMAGED, false, {}},
        {"file extent past the volume, inside the BIN",
         [&] { return stray([](VolumeBuilder& v, uint32_t&, uint32_t&) { v.volume_sectors = DATA_EXTENT + 2; }); },
         DAMAGED, false, {}},
        {"file extent past the data track, inside the volume and the BIN",
         [&] { return stray([](VolumeBuilder&, uint32_t&, uint32_t&) {}); }, DAMAGED, false, {}, DATA_EXTENT + 2},
        {"file ending at the data track's end", [&] { return stray([](VolumeBuilder&, uint32_t&, uint32_t&) {}); },
         "", false, tree({{"FIRST.TXT", "first"}, {"DATA.BIN", data}}), DATA_EXTENT + 3},
        {"empty file with a stray extent",
         [&] {
             return stray([](VolumeBuilder&, uint32_t& extent, uint32_t& length) { extent = 0xFFFFFFF0, length = 0; });
         },
         "", false, tree({{"FIRST.TXT", "first"}, {"DATA.BIN", ""}}), DATA_EXTENT},
    };
    run_walk_cases(cases);
}

TEST(DiscWalk, JolietNames) {
    struct NameCase {
        const char* what;
        std::string raw;        // on-disc bytes
        std::string expected;   // UTF-8 file name
    };
    const std::vector<NameCase> cases = {
        {"U+00E9", ucs2("caf\xC3\xA9.txt"), "caf\xC3\xA9.txt"},
        {"U+4E2D", ucs2("\xE4\xB8\xAD"), "\xE4\xB8\xAD"},
        {"U+07FF and U+0800 edges", ucs2("\xDF\xBF\xE0\xA0\x80"), "\xDF\xBF\xE0\xA0\x80"},
        {"version suffix cut", ucs2("a.txt;1"), "a.txt"},
        {"odd trailing byte ignored", ucs2("odd") + "X", "odd"},
        {"83 three-byte units: the longest name whose .part name a 255-byte file system holds", ucs2([] {
             std::string s;
             for (int i = 0; i < 83; ++i) s += "\xE4\xB8\xAD";
             return s;
         }()),
         [] {
             std::string s;
             for (int i = 0; i < 83; ++i) s += "\xE4\xB8\xAD";
             return s;
         }()},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir("jn");
        std::string bin = dir / "image.bin";
        write_file(bin, joliet_image(dir_node("", {file_node(c.raw, "data")})));
        std::string target = dir / "out";
        Extraction e = extract(bin, target);
        EXPECT_EQ(e.ok, 1) << e.error;
        EXPECT_EQ(snapshot(target), tree({{c.expected, "data"}}));
    }
}

#ifndef _WIN32
// Without Joliet, name bytes are taken as they are (no conversion); the
// Windows file layer would turn an ill-formed byte into U+FFFD.
TEST(DiscWalk, PrimaryEightBitNameTakenAsIs) {
    TempDir dir("pn");
    std::string bin = dir / "image.bin";
    write_file(bin, primary_image(dir_node("", {file_node("CAF\xE9.TXT;1", "x")})));
    Extraction e = extract(bin, dir / "out");
    EXPECT_EQ(e.ok, 1) << e.error;
    EXPECT_EQ(snapshot(dir / "out"), tree({{"CAF\xE9.TXT", "x"}}));
}
#endif

// A path that would not fit the path buffer is refused, not cut (a cut path
// names another file).
TEST(DiscWalk, OverlongPathRefusedBeforeCopying) {
    std::string deep(200, 'N');
    Node n = file_node(std::string(200, 'F') + ";1", "x");
    for (int i = 0; i < 12; ++i) n = dir_node(deep, {n});
    TempDir dir("long");
    std::string bin = dir / "image.bin";
    write_file(bin, primary_image(dir_node("", {file_node("FIRST.TXT;1", "f"), n})));
    Extraction e = extract(bin, dir / "out");
    EXPECT_EQ(e.ok, 0);
    EXPECT_EQ(e.error.rfind("cannot make the folder ", 0), 0u) << e.error;
    EXPECT_FALSE(exists(dir / "out"));
}

TEST(DiscCopy, ProgressOfTheCopyingWalk) {
    TempDir dir("prog");
    std::string bin = dir / "image.bin";
    const std::string a = text_of(200000, 8), b = text_of(62144, 9);
    write_file(bin, primary_image(dir_node("", {file_node("A.BIN;1", a), file_node("E.BIN;1", ""),
                                                dir_node("DIRECTX", {file_node("NOT.BIN;1", text_of(99999, 1))}),
                                                file_node("B.BIN;1", b)})));
    Extraction e = extract(bin, dir / "out", nullptr, 0.25, 0.5);
    ASSERT_EQ(e.ok, 1) << e.error;
    // One report per chunk: A in two chunks, E none, B one; the root
    // directx is not counted, so the copy ends exactly at high.
    const double total = 262144.0;
    ASSERT_EQ(e.fractions().size(), 3u);
    EXPECT_DOUBLE_EQ(e.fractions()[0], 131072.0 * 0.25 / total + 0.25);
    EXPECT_DOUBLE_EQ(e.fractions()[1], 200000.0 * 0.25 / total + 0.25);
    EXPECT_EQ(e.fractions()[2], 0.5);
    for (auto& s : e.statuses()) EXPECT_EQ(s, COPYING);
}

// copy_disc_file on its own, with the extraction's totals set by hand.
TEST(DiscCopy, ChunksProgressAndCancel) {
    TempDir dir("copy");
    std::string bin = dir / "image.bin";
    VolumeBuilder v;
    const std::string data = text_of(300000, 11);
    uint32_t extent = v.add_data(data);
    v.write_raw(bin);

    struct CopyCase {
        const char* what;
        uint32_t length;
        uint64_t byte_total;
        int cancel;                      // flag value before the copy
        bool cancel_after_first;         // set by the first progress call
        int ok;
        std::vector<double> fractions;
        bool final_exists, part_exists;
        size_t part_size;
    };
    const std::vector<CopyCase> cases = {
        {"three chunks against a total of 1,000,000", 300000, 1000000, 0, false, 1,
         {0.0131072, 0.0262144, 0.03}, true, false, 0},
        {"a total of 0 counts as 1", 1, 0, 0, false, 1, {0.1}, true, false, 0},
        {"cancel set before the first chunk", 300000, 300000, 1, false, 0, {}, false, true, 0},
        {"cancel set during the copy", 300000, 300000, 0, true, 0, {131072 * 0.1 / 300000}, false, true, 131072},
        {"empty file: no chunk, no cancel test, no report", 0, 0, 1, false, 1, {}, true, false, 0},
    };
    for (const CopyCase& c : cases) {
        SCOPED_TRACE(c.what);
        DiscVolume volume;
        volume.file = fopen(bin.c_str(), "rb");
        volume.joliet = 0;
        ASSERT_NE(volume.file, nullptr);
        Extraction sink;
        CancelFlag cancel(c.cancel);
        if (c.cancel_after_first) {
            sink.cancel = &cancel;
            sink.cancel_at_call = 1;
        }
        char error[256] = "";
        DiscExtraction x = {};
        x.volume = &volume;
        x.byte_total = c.byte_total;
        x.progress = sink.step(0, 0.1, &cancel);
        x.error = error;
        x.error_capacity = sizeof error;
        x.copying = 1;
        std::string out = dir / "file.bin";
        remove_all(out);
        remove_all(out + ".part");
        int ok = copy_disc_file(&x, extent, c.length, out.c_str());
        fclose(volume.file);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(std::string(error), c.ok ? "" : "cancelled");
        ASSERT_EQ(sink.fractions().size(), c.fractions.size());
        for (size_t i = 0; i < c.fractions.size(); ++i) EXPECT_DOUBLE_EQ(sink.fractions()[i], c.fractions[i]);
        EXPECT_EQ(exists(out), c.final_exists);
        EXPECT_EQ(exists(out + ".part"), c.part_exists);
        if (c.final_exists) {
            EXPECT_EQ(read_file(out), data.substr(0, c.length));
        }
        if (c.part_exists) {
            EXPECT_EQ(read_file(out + ".part"), data.substr(0, c.part_size));
        }
        EXPECT_EQ(x.bytes_done, c.ok ? c.length : c.part_size);
    }
}

TEST(DiscCopy, CancelDuringExtraction) {
    TempDir dir("cancel");
    std::string bin = dir / "image.bin";
    write_file(bin, primary_image(dir_node("", {file_node("BIG.BIN;1", text_of(400000, 2)),
                                                file_node("NEXT.BIN;1", "never")})));
    CancelFlag cancel(0);
    Extraction e;
    e.cancel = &cancel;
    e.cancel_at_call = 1;
    char error[256] = "";
    const Progress progress = e.step(0, 0.1, &cancel);
    int ok = extract_disc_files(bin.c_str(), (dir / "out").c_str(), &progress, error, sizeof error);
    EXPECT_EQ(ok, 0);
    EXPECT_STREQ(error, "cancelled");
    EXPECT_EQ(e.fractions().size(), 1u);
    EXPECT_FALSE(exists(join(dir / "out", "BIG.BIN")));
    EXPECT_FALSE(exists(join(dir / "out", "NEXT.BIN")));
}

TEST(DiscCopy, ExistingFileReplacedAndUnwritableTargetReported) {
    TempDir dir("repl");
    std::string bin = dir / "image.bin";
    write_file(bin, primary_image(dir_node("", {file_node("A.TXT;1", "new"), dir_node("SUB", {})})));
    std::string target = dir / "out";
    make_dirs(target);
    write_file(join(target, "A.TXT"), "old and longer");
    Extraction e = extract(bin, target);
    EXPECT_EQ(e.ok, 1) << e.error;
    EXPECT_EQ(read_file(join(target, "A.TXT")), "new");

    // A file standing where a folder must go.
    TempDir dir2("repl");
    std::string target2 = dir2 / "out";
    make_dirs(target2);
    write_file(join(target2, "A.TXT"), "x");
    make_dirs(join(target2, "A.TXT.part"));   // the temporary name is taken by a folder
    e = extract(bin, target2);
    EXPECT_EQ(e.ok, 0);
    EXPECT_EQ(e.error, "cannot write " + join(target2, "A.TXT"));
}

// Names that could leave the target folder or name a device are refused by
// the counting walk, so nothing at all is written.
TEST(DiscUnsafeNames, RefusedBeforeAnythingIsWritten) {
    struct UnsafeCase {
        const char* what;
        bool joliet;
        std::string raw;      // on-disc name bytes
        const char* shown;    // as the message shows it
    };
    const std::vector<UnsafeCase> cases = {
        {"..", false, "..;1", ".."},
        {"../../x", false, "../../x;1", "../../x"},
        {"..\\x", false, "..\\x;1", "..\\x"},
        {"a/b", false, "a/b;1", "a/b"},
        {"C:x", false, "C:x;1", "C:x"},
        {"x:stream", false, "x:stream;1", "x:stream"},
        {"NUL", false, "NUL;1", "NUL"},
        {"con.txt", false, "con.txt;1", "con.txt"},
        {"COM1.bin", false, "COM1.bin;1", "COM1.bin"},
        {"lpt9 with two extensions", false, "lpt9.tar.gz", "lpt9.tar.gz"},
        {"CONOUT$", false, "CONOUT$", "CONOUT$"},
        {"aux with a trailing space", false, "aux .txt", "aux .txt"},
        {"COM superscript one", true, ucs2("COM\xC2\xB9"), "COM\xC2\xB9"},
        {"empty after the version cut", false, ";1", ""},
        {".", false, ".", "."},
        {"dots and a space, trimmed to .. by Windows", true, ucs2(".. "), ".. "},
        {"three dots", false, "...;1", "..."},
        {"control byte", false, "a\tb", "a\\x09b"},
        {"Joliet U+0000", true, ucs2("a") + std::string("\0\0", 2) + ucs2("b"), "a\\x00b"},
        {"Joliet U+005C", true, ucs2("..\\x"), "..\\x"},
        {"Joliet U+002F", true, ucs2("../evil"), "../evil"},
        {"Joliet ..", true, ucs2(".."), ".."},
        {"Joliet folder named NUL", true, ucs2("nul"), "nul"},
    };
    for (const UnsafeCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir parent("unsafe");
        make_dirs(join(parent.path, "keep"));
        write_file(join(join(parent.path, "keep"), "x"), "mine");
        write_file(parent / "x", "mine too");
        std::string bin = parent / "image.bin";
        Node bad = std::string(c.what) == "Joliet folder named NUL"
                       ? dir_node(c.raw, {file_node(ucs2("x"), "evil")})
                       : file_node(c.raw, "evil");
        Node root = c.joliet ? dir_node("", {file_node(ucs2("first.txt"), "first"), dir_node(ucs2("sub"), {bad})})
                             : dir_node("", {file_node("FIRST.TXT;1", "first"), dir_node("SUB", {bad})});
        write_file(bin, c.joliet ? joliet_image(root) : primary_image(root));
        std::vector<std::string> before = snapshot(parent.path);
        Extraction e = extract(bin, join(join(parent.path, "out"), "target"));
        EXPECT_EQ(e.ok, 0);
        EXPECT_EQ(e.error, std::string("the disc image holds an unsafe file name: ") + c.shown);
        EXPECT_EQ(snapshot(parent.path), before);
    }
}

// Names that only look like unsafe or colliding ones, or that fold apart on
// Windows (sharp s has no simple uppercase), all copy.
TEST(DiscUnsafeNames, LookalikesAreAccepted) {
    const char* names[] = {"CONSOLE.TXT", "NULL", "COM10", "COM", "...x", ".hidden", "AUXILIARY.DAT",
                           "CONIN", "a b", "a.txt", "a.txt.part2", "a.txt.par", "a.txtpart", "a.txt .part",
                           "b.par", "b", "stra\xC3\x9F" "e", "STRASSE"};
    std::vector<Node> kids;
    std::vector<std::pair<std::string, std::string>> expected;
    for (const char* n : names) {
        kids.push_back(file_node(ucs2(n), n));
        expected.push_back({n, n});
    }
    // The root "directx" is never written, so its name is free.
    kids.push_back(dir_node(ucs2("DirectX"), {}));
    kids.push_back(file_node(ucs2("directx.part"), "dx"));
    expected.push_back({"directx.part", "dx"});
    // X.part in another folder than X.
    kids.push_back(dir_node(ucs2("sub"), {file_node(ucs2("a.txt.part"), "sub")}));
    expected.push_back({"sub/", ""});
    expected.push_back({"sub/a.txt.part", "sub"});
    TempDir dir("safe");
    std::string bin = dir / "image.bin";
    write_file(bin, joliet_image(dir_node("", kids)));
    Extraction e = extract(bin, dir / "out");
    EXPECT_EQ(e.ok, 1) << e.error;
    EXPECT_EQ(snapshot(dir / "out"), tree(expected));
}

}  // namespace
