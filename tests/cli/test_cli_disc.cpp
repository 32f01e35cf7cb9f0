// kelvorn-cli building Boss Rally from the fixture disc (testing build,
// fixture digests): the whole build with its plain progress lines, and
// Ctrl+C (SIGINT) during encoding. POSIX only: the signal is sent with
// kill().
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli_process.h"
#include "base/paths.h"
#include "formats/disc/cue.h"
#include "support/env.h"
#include "support/test_support.h"

namespace {

const char MATCHES[] = "\xE2\x9C\x93 matches";

std::string disc_dir() { return kt::host_path(BR_FIXTURE_DIR); }

// The fixture disc and its digests, or a reason to skip.
struct Disc {
    std::string bin = kt::join(disc_dir(), "br.bin");
    std::string cue = kt::join(disc_dir(), "br.cue");
    std::string digests = kt::join(disc_dir(), "digests.txt");
    std::string skip_reason() const {
        if (!kt::exists(bin) || !kt::exists(digests))
            return "no fixture disc at " + disc_dir() + " (made by the cli_disc_fixture step with tools/disc)";
        return "";
    }
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string field(const std::string& digests, const std::string& key) {
    size_t at = digests.find(key + "=");
    return at == std::string::npos ? "" : digests.substr(at + key.size() + 1, 32);
}

TEST(CliDisc, FullBuildPlainLines) {
    Disc disc;
    std::string reason = disc.skip_reason();
    if (!reason.empty()) GTEST_SKIP() << reason;
    kt::ScopedEnv env("KELVORN_TEST_DIGESTS", disc.digests);
    std::string digests = kt::read_file(disc.digests);
    kt::TempDir dest("cli-disc");
    std::string folder = dest / "Boss Rally";

    kcli::CliResult r = kcli::run_cli(kcli::cli_program("kelvorn-cli-testing"), {"--bin", disc.bin, "--dest", dest.path});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");

    // Verdicts, then one line per status: the plan's fractions, from the
    // cue sheet's audio tracks.
    CueSheet sheet;
    ASSERT_EQ(parse_cue_sheet(disc.cue.c_str(), &sheet, file_size_of(disc.bin.c_str()), nullptr, 0), 1);
    uint64_t total = 0;
    for (int i = 0; i < sheet.track_count; ++i)
        if (sheet.tracks[i].audio) total += sheet.tracks[i].length;
    std::vector<std::string> want = {
        "br.bin", "Your file's MD5  " + field(digests, "disc_image") + "  " + MATCHES,
        "br.cue", "Your file's MD5  " + field(digests, "cue_sheet") + "  " + MATCHES,
        "  0%  Preparing",
    };
    std::vector<std::string> got = lines_of(r.out);
    ASSERT_GE(got.size(), want.size() + 1);
    // The copy's first report may come at any fraction below 10%.
    std::string copy = got[want.size()];
    EXPECT_TRUE(copy.size() > 4 && copy[3] == '%' && copy[2] >= '0' && copy[2] <= '9' && copy[0] == ' ' &&
                copy.substr(4) == "  Copying the game's files from the disc")
        << copy;
    want.push_back(copy);
    uint64_t done = 0;
    for (int i = 0; i < sheet.track_count; ++i) {
        if (!sheet.tracks[i].audio) continue;
        double low = (double)done * 0.88 / (double)total + 0.1;
        char line[96];
        snprintf(line, sizeof line, "%3d%%  Encoding the soundtrack: track %d", (int)(low * 100.0),
                 sheet.tracks[i].number);
        want.push_back(line);
        done += sheet.tracks[i].length;
    }
    want.push_back(" 98%  Finishing");
    want.push_back("100%  Done");
    want.push_back("Boss Rally is ready in " + folder);
    EXPECT_EQ(got, want);

    // The layout of the disc game's folder.
    std::vector<std::string> top, music;
    for (const std::string& entry : kt::snapshot(folder)) {
        if (entry.rfind("disc/", 0) == 0 && entry != "disc/") continue;
        if (entry.rfind("music/", 0) == 0) music.push_back(entry.substr(0, entry.find('=')));
        else top.push_back(entry.substr(0, entry.find('=')));
    }
    EXPECT_EQ(top, (std::vector<std::string>{".kelvorn", "Boss Rally.exe", "disc/"}));
    std::vector<std::string> want_music = {"music/", "music/cd/"};
    for (int n = 2; n <= 13; ++n) {
        char name[64];
        snprintf(name, sizeof name, "music/cd/track%02d.flac", n);
        want_music.push_back(name);
    }
    EXPECT_EQ(music, want_music);
    EXPECT_FALSE(kt::exists(kt::join(folder, "disc") + "/DirectX"));
}

// Ctrl+C while the soundtrack is encoded on several threads, twice: the
// build stops with
// "cancelled" and exit 130, no staging folder stays and the earlier build
// is as it was.
TEST(CliDisc, SigintDuringEncoding) {
    Disc disc;
    std::string reason = disc.skip_reason();
    if (!reason.empty()) GTEST_SKIP() << reason;
    kt::ScopedEnv env("KELVORN_TEST_DIGESTS", disc.digests);
    kt::TempDir dest("cli-disc");
    std::string earlier = dest / "Boss Rally";
    kt::make_dirs(kt::join(earlier, "music"));
    kt::write_file(kt::join(earlier, ".kelvorn"), "0.74\n");
    kt::write_file(kt::join(earlier, "Boss Rally.exe"), "an earlier build's game");
    kt::write_file(kt::join(kt::join(earlier, "music"), "track02.flac"), std::string(5000, 'f'));
    std::vector<std::string> before = kt::snapshot(dest.path);

    kt::TempDir out("cli-out");
    kcli::Child child;
    ASSERT_TRUE(kcli::start_cli(kcli::cli_program("kelvorn-cli-testing"),
                                {"--bin", disc.bin, "--dest", dest.path, "--replace", "--threads", "3"}, out.path,
                                &child));
    // Wait for the encoder, then press Ctrl+C twice.
    bool encoding = false;
    for (int i = 0; i < 6000 && !encoding; ++i) {
        encoding = kt::read_file(child.out_path).find("Encoding the soundtrack: track 2") != std::string::npos;
        if (!encoding) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        int status = 0;
        if (waitpid((pid_t)child.id, &status, WNOHANG) != 0) break;  // ended early
    }
    if (encoding) {
        kill((pid_t)child.id, SIGINT);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kill((pid_t)child.id, SIGINT);
    } else {
        kill((pid_t)child.id, SIGKILL);
    }
    kcli::CliResult r = kcli::finish_cli(child);
    ASSERT_TRUE(encoding) << "the build never reached the encoder:\n" << r.out << r.err;
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_EQ(r.err, "kelvorn-cli: cancelled\n");
    EXPECT_EQ(r.out.find("Finishing"), std::string::npos) << r.out;
    EXPECT_EQ(kt::snapshot(dest.path), before);
    EXPECT_FALSE(kt::exists(dest / ".Boss Rally.building"));
}

}  // namespace
