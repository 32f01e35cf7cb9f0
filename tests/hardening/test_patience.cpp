// A virus scanner or indexer opens a freshly written file or folder for a
// moment, without delete sharing. Renaming or removing a folder it holds
// fails meanwhile with a sharing violation; the build waits for it, up to
// about ten seconds, and otherwise fails the way it always did, keeping the
// earlier build whole. A separate process (hold_path) does the holding, as
// a scanner would. (Wine, unlike Windows, lets a folder be renamed while a
// file inside it is open, so the folder itself is held too, which both
// refuse alike.)
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "builder/build.h"
#include "support/recorder.h"
#include "support/rom.h"
#include "support/test_support.h"

namespace {

const std::string SEP = PATH_SEP_STR;

// The holder process, started before the build and waited for after it.
struct Holder {
    HANDLE process = nullptr;
    HANDLE event = nullptr;
    Holder(const std::string& path, int milliseconds) {
        static int serial = 0;
        std::wstring name = L"kelvorn-hold-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(++serial);
        event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        std::wstring line = kt::quote_argument(kt::widen(kt::host_path(HOLD_PATH_EXE))) + L" " +
                            kt::quote_argument(kt::widen(path)) + L" " + std::to_wstring(milliseconds) + L" " +
                            name;
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            CloseHandle(pi.hThread);
            process = pi.hProcess;
        }
    }
    bool wait_until_held(DWORD ms) { return WaitForSingleObject(event, ms) == WAIT_OBJECT_0; }
    // 0 when the holder held its path.
    DWORD finish() {
        DWORD code = 99;
        if (process) {
            WaitForSingleObject(process, 120000);
            GetExitCodeProcess(process, &code);
        }
        return code;
    }
    ~Holder() {
        if (process) CloseHandle(process);
        if (event) CloseHandle(event);
    }
};

// Holds the build, once its staging folder is made, until the holder holds
// what it waits for: the moment waits for the test, whatever the load.
kt::Recorder waiting_for(Holder& holder) {
    kt::Recorder r;
    r.act_at = "Writing the game's data";
    r.action = [&holder] { holder.wait_until_held(60000); };
    return r;
}

struct Patience : ::testing::Test {
    kt::TempDir dir{"patience"};
    std::string dest = dir / "Games";
    std::string rom_a = dir / "a.z64", rom_b = dir / "b.z64";
    std::string folder = dest + SEP + "Top Gear Rally";
    std::string staging = dest + SEP + ".Top Gear Rally.building";
    std::string aside = dest + SEP + ".Top Gear Rally.replaced";
    char error[1024];

    void SetUp() override {
        kt::write_file(rom_a, kt::synthetic_rom(31, false));
        kt::write_file(rom_b, kt::synthetic_rom(32, false));
    }
    // progress (may be null) sees the build's reports.
    int build(const std::string& rom, kt::Recorder* progress = nullptr) {
        BuildRequest r = kt::cartridge_request(rom, dest);
        error[0] = 0;
        return run_build(&r, progress ? kt::record : nullptr, progress ? progress->user() : 0, nullptr, error,
                         sizeof error);
    }
    std::string romdata() const { return kt::read_file(folder + SEP + "romdata.bin"); }
};

TEST_F(Patience, AHoldOfTwoSecondsIsWaitedFor) {
    struct Case {
        const char* name;
        std::string held;    // what the holder opens
        bool before_build;   // it exists before the build starts
    } cases[] = {
        {"a file inside the staging folder", staging + SEP + "Top Gear Rally.exe", false},
        {"the staging folder", staging, false},
        {"a file of the earlier build", folder + SEP + "romdata.bin", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::remove_all(dest);
        ASSERT_EQ(build(rom_a), 1) << error;
        std::string earlier = romdata();
        Holder holder(c.held, 2000);
        ASSERT_NE(holder.process, nullptr);
        if (c.before_build) {
            ASSERT_TRUE(holder.wait_until_held(60000));
        }
        kt::Recorder waiting = waiting_for(holder);
        EXPECT_EQ(build(rom_b, &waiting), 1) << error;
        EXPECT_EQ(holder.finish(), 0u) << "the holder never held " << c.held;
        EXPECT_NE(romdata(), earlier);
        EXPECT_EQ(romdata().size(), 7927120u);
        EXPECT_FALSE(kt::exists(staging));
        EXPECT_FALSE(kt::exists(aside));
    }
}

TEST_F(Patience, AHoldLongerThanThePatienceKeepsTheEarlierBuild) {
    ASSERT_EQ(build(rom_a), 1) << error;
    std::vector<std::string> earlier = kt::snapshot(folder);
    Holder holder(staging, 16000);
    ASSERT_NE(holder.process, nullptr);
    kt::Recorder waiting = waiting_for(holder);
    EXPECT_EQ(build(rom_b, &waiting), 0);
    EXPECT_EQ(std::string(error), "cannot move the build into place at " + folder);
    EXPECT_EQ(holder.finish(), 0u);
    EXPECT_EQ(kt::snapshot(folder), earlier);
    EXPECT_FALSE(kt::exists(aside));
    // Once let go, the next build clears what was left and goes through.
    ASSERT_EQ(build(rom_b), 1) << error;
    EXPECT_FALSE(kt::exists(staging));
}

}  // namespace
