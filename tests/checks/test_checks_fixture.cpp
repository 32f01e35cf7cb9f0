// The accepting paths, end to end, in the test build whose reference table
// takes fixture digests from the file named by KELVORN_TEST_DIGESTS.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "check_fixtures.h"
#include "builder/cartridge_build.h"
#include "builder/reference.h"
#include "support/env.h"
#include "support/rom.h"

namespace {

const char UNREADABLE[] = "The file could not be read.";
const char NOT_ROM[] = "This is not Top Gear Rally (USA).";
const char LAYOUT_NOTE[] = "A different cue sheet, with the retail disc's track layout.";

// Files whose digests become the references; made and announced before any
// test runs, because the table is read once, at its first use.
struct Fixtures : ::testing::Environment {
    kt::TempDir* dir = nullptr;
    std::string rom_z64, disc, cue;                     // contents
    std::string rom_path, disc_path, cue_path;          // accepted files
    void SetUp() override {
        dir = new kt::TempDir("fixture");
        rom_z64 = kt::synthetic_rom(77);
        disc = kc::bytes_of(kt::random_bytes(3 * 1048576 + 100, 78));
        // Accepted by its digest although it lists no retail layout.
        cue = "FILE \"fixture.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
        rom_path = *dir / "rom.z64";
        disc_path = *dir / "disc.bin";
        cue_path = *dir / "disc.cue";
        kt::write_file(rom_path, rom_z64);
        kt::write_file(disc_path, disc);
        kt::write_file(cue_path, cue);
        // CRLF, an upper-case digest and a stray line are taken as well;
        // brglide is left out and keeps its retail value.
        std::string upper = kt::md5_hex_of(cue);
        for (char& ch : upper) ch = (char)toupper((unsigned char)ch);
        kt::write_file(*dir / "digests.txt", "# fixture digests\r\ndisc_image=" + kt::md5_hex_of(disc) +
                                                 "\r\ncue_sheet=" + upper + "\r\ncartridge_rom=" +
                                                 kt::md5_hex_of(rom_z64) + "\r\n");
        kt::set_env("KELVORN_TEST_DIGESTS", *dir / "digests.txt");
    }
    void TearDown() override { delete dir; }
};
Fixtures* fx = (Fixtures*)::testing::AddGlobalTestEnvironment(new Fixtures);

}  // namespace

TEST(FixtureTable, TakesTheFileAndKeepsRetailForMissingLines) {
    const ReferenceDigests* refs = reference_digests();
    EXPECT_EQ(std::string(refs->disc_image), kt::md5_hex_of(fx->disc));
    EXPECT_EQ(std::string(refs->cue_sheet), kt::md5_hex_of(fx->cue));
    EXPECT_EQ(std::string(refs->cartridge_rom), kt::md5_hex_of(fx->rom_z64));
    EXPECT_STREQ(refs->brglide, "5d6417cd547097fd00954c6874f85e97");
}

TEST(CartridgeRomCheck, AllThreeOrders) {
    kt::TempDir dir("rom");
    std::string z64 = fx->rom_z64;
    std::string z64_md5 = kt::md5_hex_of(z64);
    std::string v64 = kt::rom_as_v64(z64), n64 = kt::rom_as_n64(z64);
    std::string changed = z64;
    changed[CARTRIDGE_DATA_OFFSET] ^= 1;
    std::string changed_v64 = kt::rom_as_v64(changed);
    std::string v64_note = "A .v64 dump: in .z64 byte order its MD5 is " + z64_md5 + ".";
    std::string n64_note = "A .n64 dump: in .z64 byte order its MD5 is " + z64_md5 + ".";
    struct Case {
        const char* name;
        std::string bytes;
        int ok;
        std::string note;
    } cases[] = {
        {"z64", z64, 1, ""},
        {"v64", v64, 1, v64_note},
        {"n64", n64, 1, n64_note},
        {"z64, one bit changed", changed, 0, NOT_ROM},
        {"v64, one bit changed", changed_v64, 0, NOT_ROM},
        // The verdict needs no particular size: the build checks that.
        {"truncated z64", z64.substr(0, 4096), 0, NOT_ROM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / "game.rom";
        kt::write_file(path, c.bytes);
        FileCheck check = kc::dirty_check();
        EXPECT_EQ(check_cartridge_rom(path.c_str(), &check, nullptr, 0), c.ok);
        EXPECT_EQ(check.ok, c.ok);
        EXPECT_EQ(std::string(check.md5_hex), kt::md5_hex_of(c.bytes));  // as stored
        EXPECT_EQ(std::string(check.note), c.note);
    }
    FileCheck check = kc::dirty_check();
    EXPECT_EQ(check_cartridge_rom((dir / "missing.z64").c_str(), &check, nullptr, 0), 0);
    EXPECT_STREQ(check.md5_hex, "");
    EXPECT_STREQ(check.note, UNREADABLE);
}

TEST(DiscChecks, AcceptedByDigest) {
    FileCheck check = kc::dirty_check();
    EXPECT_EQ(check_disc_image(fx->disc_path.c_str(), &check, nullptr, 0, nullptr), 1);
    EXPECT_EQ(std::string(check.md5_hex), kt::md5_hex_of(fx->disc));
    EXPECT_STREQ(check.note, "");

    check = kc::dirty_check();
    EXPECT_EQ(check_cue_sheet(fx->cue_path.c_str(), &check), 1);
    EXPECT_EQ(std::string(check.md5_hex), kt::md5_hex_of(fx->cue));
    EXPECT_STREQ(check.note, "");

    // Another cue sheet with the retail layout still gets in by its layout.
    kt::TempDir dir("cue");
    std::string other = dir / "other.cue";
    kt::write_file(other, kc::render_cue(kc::retail_rows()));
    check = kc::dirty_check();
    EXPECT_EQ(check_cue_sheet(other.c_str(), &check), 1);
    EXPECT_STREQ(check.note, LAYOUT_NOTE);
}

// Many checks at once give what each gives alone.
TEST(ChecksOnThreads, SameResultsAsOneAtATime) {
    kt::TempDir dir("threads");
    enum Kind { DISC, CUE, ROM };
    struct Job {
        Kind kind;
        std::string path;
    };
    std::string other_disc = dir / "other.bin";
    kt::write_file(other_disc, kc::bytes_of(kt::random_bytes(2 * 1048576 + 3, 99)));
    std::string layout_cue = dir / "layout.cue";
    kt::write_file(layout_cue, kc::render_cue(kc::retail_rows()));
    std::vector<kc::CueRow> off = kc::retail_rows();
    off[3].start += 1;
    std::string off_cue = dir / "off.cue";
    kt::write_file(off_cue, kc::render_cue(off));
    std::string v64 = dir / "rom.v64", n64 = dir / "rom.n64";
    kt::write_file(v64, kt::rom_as_v64(fx->rom_z64));
    kt::write_file(n64, kt::rom_as_n64(fx->rom_z64));

    const std::vector<Job> jobs = {
        {DISC, fx->disc_path}, {DISC, other_disc}, {DISC, dir / "missing.bin"}, {CUE, fx->cue_path},
        {CUE, layout_cue},     {CUE, off_cue},     {CUE, other_disc},           {ROM, fx->rom_path},
        {ROM, v64},            {ROM, n64},         {ROM, other_disc},           {ROM, dir / "missing.z64"},
    };
    auto run = [](const Job& job, FileCheck* out) {
        switch (job.kind) {
        case DISC: check_disc_image(job.path.c_str(), out, nullptr, 0, nullptr); break;
        case CUE: check_cue_sheet(job.path.c_str(), out); break;
        case ROM: check_cartridge_rom(job.path.c_str(), out, nullptr, 0); break;
        }
    };
    std::vector<FileCheck> alone(jobs.size());
    for (size_t i = 0; i < jobs.size(); ++i) run(jobs[i], &alone[i]);
    int accepted = 0;
    for (const FileCheck& c : alone) accepted += c.ok;
    EXPECT_EQ(accepted, 6);

    const int rounds = 3;
    std::vector<FileCheck> together(jobs.size() * rounds);
    for (FileCheck& c : together) c = kc::dirty_check();
    std::vector<std::thread> threads;
    for (size_t i = 0; i < together.size(); ++i)
        threads.emplace_back(run, std::cref(jobs[i % jobs.size()]), &together[i]);
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < together.size(); ++i) {
        const FileCheck& a = alone[i % jobs.size()];
        const FileCheck& b = together[i];
        SCOPED_TRACE(jobs[i % jobs.size()].path);
        EXPECT_EQ(b.ok, a.ok);
        EXPECT_STREQ(b.md5_hex, a.md5_hex);
        EXPECT_STREQ(b.note, a.note);
    }
}
