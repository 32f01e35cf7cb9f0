// Recognising a raw image and choosing the root among the volume
// descriptors.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>

#include "disc/disc_test_util.h"

using namespace kt;

namespace {

const char NOT_RAW[] = "the BIN is not a raw (MODE1/2352) disc image";
const char NO_FS[] = "the BIN's data track has no ISO 9660 file system";

// A primary tree holding P.TXT and a Joliet tree holding j.txt, so the
// extracted folder tells which root was used.
struct TwoTrees {
    VolumeBuilder v;
    DirRef primary, joliet;
    TwoTrees() {
        primary = v.add_tree(dir_node("", {file_node("P.TXT;1", "primary")}));
        joliet = v.add_tree(dir_node("", {file_node(ucs2("j.txt"), "joliet")}));
    }
};

const std::vector<std::string> PRIMARY_TREE = tree({{"P.TXT", "primary"}});
const std::vector<std::string> JOLIET_TREE = tree({{"j.txt", "joliet"}});

struct VolumeCase {
    const char* what;
    std::function<std::vector<unsigned char>()> image;
    const char* error;                   // "" for success
    std::vector<std::string> expected;   // extracted tree on success
};

std::vector<unsigned char> with_descriptors(const std::function<void(TwoTrees&)>& place) {
    TwoTrees t;
    place(t);
    return t.v.raw();
}

TEST(DiscVolume, RecognitionAndRootChoice) {
    const std::vector<VolumeCase> cases = {
        {"cooked 2048-byte ISO",
         [] {
             TwoTrees t;
             t.v.descriptor(16, 1, t.primary);
             t.v.terminator(17);
             return t.v.user;
         },
         NOT_RAW, {}},
        {"BIN starting with an audio track",
         [] {
             auto pcm = random_bytes(2352 * 40, 7);
             pcm[0] = 0;  // even a leading zero byte is not a sync pattern
             return pcm;
         },
         NOT_RAW, {}},
        {"shorter than the sync pattern",
         [] { return std::vector<unsigned char>{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}; },
         NOT_RAW, {}},
        {"terminator at 17, primary after it",
         [] {
             return with_descriptors([](TwoTrees& t) {
                 t.v.terminator(17);
                 t.v.descriptor(18, 1, t.primary);
             });
         },
         NO_FS, {}},
        {"image ending before sector 16",
         [] {
             VolumeBuilder v;
             v.user.resize(10 * 2048);
             return v.raw();
         },
         NO_FS, {}},
        {"descriptor only at sector 32",
         [] { return with_descriptors([](TwoTrees& t) { t.v.descriptor(32, 1, t.primary); }); }, NO_FS, {}},
        {"primary only",
         [] {
             return with_descriptors([](TwoTrees& t) {
                 t.v.descriptor(16, 1, t.primary);
                 t.v.terminator(17);
             });
         },
         "", PRIMARY_TREE},
        {"primary then Joliet %/E",
         [] {
             return with_descriptors([](TwoTrees& t) {
                 t.v.descriptor(16, 1, t.primary);
                 t.v.descriptor(17, 2, t.joliet, "%/E");
                 t.v.terminator(18);
             });
         },
         "", JOLIET_TREE},
        {"Joliet %/@ before primary",
         [] {
             return with_descriptors([](TwoTrees& t) {
                 t.v.descriptor(16, 2, t.joliet, "%/@");
                 t.v.descriptor(17, 1, t.primary);
                 t.v.terminator(18);
             });
         },
         "", JOLIET_TREE},
        {"Joliet %/C at sector 31 after other types",
         [] {
             return with_descriptors([](TwoTrees& t) {
                 t.v.descriptor(16, 1, t.primary);
                 t.v.descriptor(17, 0, t.joliet);   // boot record
                 t.v.descriptor(18, 3, t.joliet);   // partition
                 t.v.descriptor(31, 2, t.joliet, "%/C");
             });
         },
         "", JOLIET_TREE},
        {"supplementary %/D passed over",
         [] {
             return with_descriptors([](TwoTrees& t) {
                 t.v.descriptor(16, 2, t.joliet, "%/D");
                 t.v.descriptor(17, 1, t.primary);
                 t.v.terminator(18);
             });
         },
         "", PRIMARY_TREE},
        {"supplementary without escape sequences passed over",
         [] {
             return with_descriptors([](TwoTrees& t) {
                 t.v.descriptor(16, 1, t.primary);
                 t.v.descriptor(17, 2, t.joliet, "");
                 t.v.terminator(18);
             });
         },
         "", PRIMARY_TREE},
        {"supplementary only, no escape: nothing usable",
         [] {
             return with_descriptors([](TwoTrees& t) {
                 t.v.descriptor(16, 2, t.joliet, "%/D");
                 t.v.terminator(17);
             });
         },
         NO_FS, {}},
        {"second primary passed over",
         [] {
             return with_descriptors([](TwoTrees& t) {
                 t.v.descriptor(16, 1, t.primary);
                 DirRef other = t.v.add_tree(dir_node("", {file_node("OTHER.TXT;1", "x")}));
                 t.v.descriptor(17, 1, other);
                 t.v.terminator(18);
             });
         },
         "", PRIMARY_TREE},
        {"wrong standard identifier passed over",
         [] {
             return with_descriptors([](TwoTrees& t) {
                 t.v.descriptor(16, 2, t.joliet, "%/E");
                 t.v.at(16)[3] = 'X';
                 t.v.descriptor(17, 1, t.primary);
                 t.v.terminator(18);
             });
         },
         "", PRIMARY_TREE},
    };
    for (const VolumeCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir("vol");
        std::string bin = dir / "image.bin";
        write_file(bin, c.image());
        std::string target = dir / "out";
        Extraction e = extract(bin, target);
        if (c.error[0]) {
            EXPECT_EQ(e.ok, 0);
            EXPECT_EQ(e.error, c.error);
            EXPECT_FALSE(exists(target));
        } else {
            EXPECT_EQ(e.ok, 1) << e.error;
            EXPECT_EQ(e.error, "");
            EXPECT_EQ(snapshot(target), c.expected);
        }
    }
}

TEST(DiscVolume, MissingBinIsNotRaw) {
    TempDir dir("vol");
    Extraction e = extract(dir / "absent.bin", dir / "out");
    EXPECT_EQ(e.ok, 0);
    EXPECT_EQ(e.error, NOT_RAW);
}

// The data track seen through the addressing rule: pieces that cross sector
// boundaries, reads ending exactly at the image's end, and reads past it.
TEST(DiscVolume, ReadDataTrackAddressing) {
    VolumeBuilder v;
    v.user = random_bytes(5 * 2048, 99);
    TempDir dir("vol");
    std::string bin = dir / "image.bin";
    v.write_raw(bin);
    DiscVolume volume;
    volume.file = fopen(bin.c_str(), "rb");
    volume.joliet = 0;
    ASSERT_NE(volume.file, nullptr);
    struct Read {
        uint64_t offset;
        size_t count;
        int ok;
    };
    const Read reads[] = {
        {0, 2048 * 5, 1},  {2047, 2, 1},  {100, 4000, 1}, {2048 * 4, 2048, 1}, {2048 * 5 - 1, 1, 1},
        {2048 * 5 - 1, 2, 0}, {2048 * 5, 1, 0}, {0, 0, 1},
        {UINT64_MAX - 10, 4, 0},
    };
    std::vector<unsigned char> buffer(2048 * 6);
    for (const Read& r : reads) {
        SCOPED_TRACE(std::to_string(r.offset) + "+" + std::to_string(r.count));
        EXPECT_EQ(read_data_track(&volume, r.offset, buffer.data(), r.count), r.ok);
        if (r.ok) {
            EXPECT_EQ(0, memcmp(buffer.data(), &v.user[r.offset], r.count));
        }
    }
    fclose(volume.file);
}

}  // namespace
