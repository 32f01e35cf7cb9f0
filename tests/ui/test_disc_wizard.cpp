// The Boss Rally wizard under Wine on the full-size fixture disc (retail
// track layout, ~650 MB), with the testing build and the fixture's digests:
// from the BIN's choice through the build to Play, and Cancel while the
// soundtrack is encoded.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "ui/ui_driver.h"
#include "ui/ui_fixtures.h"

using namespace ui;

namespace {

// The file rows, by the name each shows (see verdict_label).
const wchar_t* const BIN_ROW = L"Disc image (.bin)";
const wchar_t* const CUE_ROW = L"Cue sheet (.cue)";

std::wstring text_of(HWND window) {
    wchar_t text[512] = {};
    DWORD_PTR got = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 512, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, &got);
    return text;
}

bool build_enabled(const App& app) {
    Control build;
    return app.find_id(IDC_BUILD, &build) && build.enabled;
}

std::wstring accepted(const std::string& name, const std::string& md5) {
    return widen(name) + L"\r\nYour file's MD5  " + widen(md5) + L"  \x2713 matches";
}

// Pixels of a rectangle drawn in the verdicts' green.
int green_pixels(const Image& image, const RECT& r) {
    int n = 0;
    for (int y = std::max(0L, r.top); y < std::min((LONG)image.height, r.bottom); ++y)
        for (int x = std::max(0L, r.left); x < std::min((LONG)image.width, r.right); ++x) {
            int red, green, blue;
            image.pixel(x, y, &red, &green, &blue);
            if (green >= 96 && red < 64 && blue < 64) ++n;
        }
    return n;
}

std::string digest_of(const std::string& digests, const std::string& key) {
    size_t at = digests.find(key + "=");
    return at == std::string::npos ? "" : digests.substr(at + key.size() + 1, 32);
}

// One audio track of the fixture's cue sheet and the bar positions (0 to
// 1000, cut toward zero) its encoding may show.
struct TrackSpan {
    int number;
    int low, high;
};

// The plan's spans: each audio track from D × 0.88 ÷ T + 0.1 to
// (D + L) × 0.88 ÷ T + 0.1, the last track running to the BIN's last frame.
std::vector<TrackSpan> plan_spans(const std::string& sheet, uint64_t bin_size) {
    struct Track {
        int number;
        bool audio;
        uint64_t start;
    };
    std::vector<Track> tracks;
    for (size_t at = 0; (at = sheet.find("TRACK ", at)) != std::string::npos;) {
        int number = 0, m = 0, s = 0, f = 0;
        char type[16] = "";
        sscanf(sheet.c_str() + at, "TRACK %d %15s", &number, type);
        at = sheet.find("INDEX 01 ", at);
        sscanf(sheet.c_str() + at, "INDEX 01 %d:%d:%d", &m, &s, &f);
        tracks.push_back({number, std::string(type) == "AUDIO", (uint64_t)m * 4500 + s * 75 + f});
    }
    uint64_t total = 0;
    std::vector<uint64_t> lengths;
    for (size_t i = 0; i < tracks.size(); ++i) {
        uint64_t end = i + 1 < tracks.size() ? tracks[i + 1].start : bin_size / 2352;
        lengths.push_back(end - tracks[i].start);
        if (tracks[i].audio) total += lengths.back();
    }
    std::vector<TrackSpan> spans;
    uint64_t done = 0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (!tracks[i].audio) continue;
        double low = done * 0.88 / total + 0.1;
        double high = (done + lengths[i]) * 0.88 / total + 0.1;
        spans.push_back({tracks[i].number, (int)(low * 1000), (int)(high * 1000)});
        done += lengths[i];
    }
    return spans;
}

// The track number of "Encoding the soundtrack: track N", or 0.
int encoding_track(const std::wstring& status) {
    const std::wstring prefix = L"Encoding the soundtrack: track ";
    if (status.compare(0, prefix.size(), prefix) != 0) return 0;
    return _wtoi(status.c_str() + prefix.size());
}

// The status lines of a disc build in the order they come: 0 "Starting"
// (the page's own), ..., 16 "Done"; -1 for any other text.
int plan_step(const std::wstring& status) {
    static const wchar_t* const fixed[] = {L"Starting", L"Preparing", L"Copying the game's files from the disc"};
    for (int i = 0; i < 3; ++i)
        if (status == fixed[i]) return i;
    int track = encoding_track(status);
    if (track >= 2 && track <= 13 && status == L"Encoding the soundtrack: track " + std::to_wstring(track))
        return track + 1;
    if (status == L"Finishing") return 15;
    if (status == L"Done") return 16;
    return -1;
}

// What the building page showed at one moment: the bar's position and the
// status line that went with it.
struct Sample {
    int position;
    std::wstring status;
};

// Samples the building page until it goes away. The status is read before
// and after the bar; a sample is kept only when both reads agree, so the
// position belongs to that status (the page sets both from one report, and
// the status never returns to an earlier text). on_sample may act on each
// kept sample (a screenshot, a click).
template <class F>
std::vector<Sample> sample_building_page(const App& app, F on_sample, int timeout_ms) {
    std::vector<Sample> samples;
    Control bar_control;
    if (!app.find_class(L"msctls_progress32", &bar_control)) return samples;
    HWND bar = bar_control.window, status = status_label(app).window;
    if (!status) return samples;
    for (DWORD t0 = GetTickCount(); IsWindow(bar) && GetTickCount() - t0 < (DWORD)timeout_ms; Sleep(5)) {
        std::wstring before = text_of(status);
        DWORD_PTR position = 0;
        if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position)) break;
        std::wstring after = text_of(status);
        if (!IsWindow(bar) || before != after || after.empty()) continue;
        if (!samples.empty() && samples.back().position == (int)position && samples.back().status == after)
            continue;
        samples.push_back({(int)position, after});
        on_sample(samples.back());
    }
    return samples;
}

std::string describe(const std::vector<Sample>& samples) {
    std::string out;
    for (const Sample& s : samples) out += std::to_string(s.position) + " " + narrow(s.status) + "\n";
    return out;
}

class BossRallyWizard : public ::testing::Test {
protected:
    void SetUp() override {
        fixture = kt::host_path(BR_FIXTURE_DIR);
        bin = kt::join(fixture, "br.bin");
        cue = kt::join(fixture, "br.cue");
        digests = kt::join(fixture, "digests.txt");
        if (!kt::exists(bin) || !kt::exists(digests)) GTEST_SKIP() << "no fixture disc (build_fixture_disc makes it)";
        dest = dir / "games";
        folder = kt::join(dest, "Boss Rally");
        kt::make_dirs(dest);
    }
    std::vector<std::wstring> env() const { return {L"KELVORN_TEST_DIGESTS=" + widen(digests)}; }
    // Waits until both rows show their accepted verdicts and Build is on.
    void expect_both_accepted(const App& app) {
        std::string sums = kt::read_file(digests);
        const std::wstring bin_text = accepted("br.bin", digest_of(sums, "disc_image"));
        const std::wstring cue_text = accepted("br.cue", digest_of(sums, "cue_sheet"));
        EXPECT_TRUE(app.wait_until([&] { return verdict_label(app, CUE_ROW).text == cue_text; }, 60000))
            << narrow(verdict_label(app, CUE_ROW).text);
        EXPECT_TRUE(app.wait_until([&] { return verdict_label(app, BIN_ROW).text == bin_text; }, 180000))
            << narrow(verdict_label(app, BIN_ROW).text);
        EXPECT_TRUE(app.wait_until([&] { return build_enabled(app); }, 5000));
    }
    std::vector<TrackSpan> spans() const {
        return plan_spans(kt::read_file(cue), std::filesystem::file_size(std::filesystem::u8path(bin)));
    }
    kt::TempDir dir{"ui-br"};
    std::string fixture, bin, cue, digests, dest, folder;
};

}  // namespace

TEST_F(BossRallyWizard, ThroughClicksFromTheDiscImageToPlay) {
    KV_REQUIRE_DISPLAY();
    const std::vector<TrackSpan> plan = spans();
    ASSERT_EQ(plan.size(), 12u);
    App app;
    ASSERT_TRUE(app.start(kelvorn_testing_exe(), {}, env()));
    ASSERT_TRUE(app.choose_through_dialog(IDC_CHOOSE_DEST, widen(dest)));
    ASSERT_TRUE(app.wait_until([&] { return label_under(app, L"Build into:").text == widen(dest); }, 5000));
    Control boss;
    ASSERT_TRUE(app.find_text(L"Boss Rally (PC, 1999)", &boss));
    EXPECT_TRUE(boss.checked);
    app.screenshot(shot_name("1_game"));
    app.click(IDC_CONTINUE);
    ASSERT_TRUE(app.wait_title(L"Your copy of Boss Rally", 10000));

    // Only the disc image is chosen; its cue sheet is found beside it.
    ASSERT_TRUE(app.choose_through_dialog(IDC_CHOOSE_BIN, widen(bin)));
    expect_both_accepted(app);
    Image files = app.screenshot(shot_name("2_files_accepted"), false);
    EXPECT_GT(green_pixels(files, verdict_label(app, BIN_ROW).rect), 20);
    EXPECT_GT(green_pixels(files, verdict_label(app, CUE_ROW).rect), 20);

    app.click(IDC_BUILD);
    ASSERT_TRUE(app.wait_title(L"Building Boss Rally", 10000)) << narrow(app.title());
    EXPECT_EQ(compare_page(app.controls(), building_page(L"Building Boss Rally"), expected_dpi()), "");
    // Screenshots at the first track and once the bar is past half way.
    int shots = 0;
    auto samples = sample_building_page(
        app,
        [&](const Sample& s) {
            int track = encoding_track(s.status);
            if ((shots == 0 && track) || (shots == 1 && track >= 8)) {
                app.screenshot(shot_name(shots == 0 ? "3_building_first_track" : "4_building_later_track"));
                ++shots;
            }
        },
        600000);
    ASSERT_TRUE(app.wait_title(L"Boss Rally is ready", 30000)) << narrow(app.title()) << "\n"
                                                               << narrow(message_label(app).text);

    // The bar never goes back, the status lines come in the plan's order,
    // and while a track is encoded the bar stays inside that track's span.
    std::vector<int> tracks_seen;
    int last_position = 0, last_step = 0, encoding_positions = 0;
    for (const Sample& s : samples) {
        EXPECT_GE(s.position, last_position) << describe(samples);
        last_position = s.position;
        int step = plan_step(s.status);
        ASSERT_NE(step, -1) << narrow(s.status);
        EXPECT_GE(step, last_step) << describe(samples);
        last_step = step;
        if (s.status == L"Copying the game's files from the disc") {
            EXPECT_LE(s.position, 100);
        } else if (s.status == L"Finishing") {
            EXPECT_EQ(s.position, 980);
        } else if (s.status == L"Done") {
            EXPECT_EQ(s.position, 1000);
        }
        int track = encoding_track(s.status);
        if (!track) continue;
        ++encoding_positions;
        const TrackSpan& span = plan[track - 2];
        EXPECT_GE(s.position, span.low) << narrow(s.status);
        EXPECT_LE(s.position, span.high) << narrow(s.status);
        if (tracks_seen.empty() || tracks_seen.back() != track) tracks_seen.push_back(track);
    }
    std::string seen;
    for (int t : tracks_seen) seen += " " + std::to_string(t);
    printf("tracks watched:%s; %d bar positions while encoding\n", seen.c_str(), encoding_positions);
    // The bar is watched moving through the tracks, not only jumping.
    EXPECT_GE(tracks_seen.size(), 6u) << describe(samples);
    EXPECT_GE(encoding_positions, 12) << describe(samples);
    EXPECT_EQ(shots, 2) << describe(samples);

    EXPECT_EQ(compare_page(app.controls(), success_page(L"Boss Rally is ready", widen(folder).c_str()),
                           expected_dpi()),
              "");
    app.screenshot(shot_name("5_success"));
    EXPECT_EQ(kt::read_file(kt::join(folder, ".kelvorn")), "0.74\n");
    EXPECT_TRUE(kt::exists(kt::join(folder, "Boss Rally.exe")));
    EXPECT_TRUE(kt::exists(kt::join(folder, "disc\\BRGlide.dll")));
    EXPECT_FALSE(kt::exists(kt::join(folder, "disc\\DirectX")));
    EXPECT_FALSE(kt::exists(kt::join(folder, "music\\cd\\track01.flac")));
    for (int t = 2; t <= 13; ++t) {
        char name[64];
        snprintf(name, sizeof name, "music\\cd\\track%02d.flac", t);
        EXPECT_TRUE(kt::exists(kt::join(folder, name))) << name;
    }
    // Nothing beside the build folder: the staging folder is gone.
    for (const std::string& entry : kt::snapshot(dest)) EXPECT_EQ(entry.compare(0, 11, "Boss Rally/"), 0) << entry;

    // Play starts Boss Rally.exe from the build folder; the wizard stays.
    app.click(IDC_PLAY);
    HWND game = wait_window_titled(L"Boss Rally (stand-in)", 20000);
    ASSERT_NE(game, nullptr);
    EXPECT_NE(dialog_texts(game).find(L"The game's data is complete in"), std::wstring::npos)
        << narrow(dialog_texts(game));
    screenshot_window(game, shot_name("6_play"));
    std::wstring cwd = process_current_directory(game);
    while (!cwd.empty() && cwd.back() == L'\\') cwd.pop_back();
    EXPECT_EQ(_wcsicmp(cwd.c_str(), widen(folder).c_str()), 0) << narrow(cwd);
    App::answer(game, IDOK);
    EXPECT_TRUE(app.running());
    EXPECT_EQ(app.title(), L"Boss Rally is ready");
    app.click(IDC_CLOSE);
    EXPECT_EQ(app.wait_exit(10000), 0);
}

TEST_F(BossRallyWizard, CancelDuringEncodingKeepsTheEarlierBuild) {
    KV_REQUIRE_DISPLAY();
    // An earlier build of Kelvorn's: replaced only by a finished build.
    kt::make_dirs(folder);
    kt::write_file(kt::join(folder, ".kelvorn"), "0.74\n");
    kt::write_file(kt::join(folder, "earlier.txt"), "the earlier build");
    const auto before = kt::snapshot(dest);
    App app;
    ASSERT_TRUE(app.start(kelvorn_testing_exe(), {L"--bin", widen(bin), L"--cue", widen(cue), L"--dest", widen(dest)},
                          env()));
    app.click(IDC_CONTINUE);
    ASSERT_TRUE(app.wait_title(L"Your copy of Boss Rally", 10000));
    expect_both_accepted(app);
    app.click(IDC_BUILD);
    HWND box = app.wait_message_box(10000);
    ASSERT_NE(box, nullptr);
    App::answer(box, IDYES);
    ASSERT_TRUE(app.wait_title(L"Building Boss Rally", 10000)) << narrow(app.title());

    // Cancel once the third audio track (track 4) is under way. The encoder
    // stops at its next block, so "Stopping..." and the greyed button may
    // show only for a moment; the holds of the cartridge tests pin those.
    int cancelled_at = 0;
    auto samples = sample_building_page(
        app,
        [&](const Sample& s) {
            int track = encoding_track(s.status);
            if (cancelled_at || track < 4) return;
            cancelled_at = track;
            app.screenshot(shot_name("encoding"), false);
            app.click(IDC_CANCEL);
        },
        600000);
    ASSERT_NE(cancelled_at, 0) << describe(samples);
    EXPECT_LT(cancelled_at, 13) << describe(samples);
    // Once the status line says "Stopping...", it says nothing else, and
    // the bar stops short of "Finishing".
    bool stopping = false;
    for (const Sample& s : samples) {
        if (s.status == L"Stopping...") stopping = true;
        if (!stopping) continue;
        EXPECT_EQ(s.status, L"Stopping...") << describe(samples);
        EXPECT_LT(s.position, 980) << describe(samples);
    }

    ASSERT_TRUE(app.wait_title(L"The build did not finish", 60000)) << narrow(app.title());
    EXPECT_EQ(compare_page(app.controls(), failure_page(L"cancelled"), expected_dpi()), "");
    app.screenshot(shot_name("cancelled"));
    // The earlier build is untouched and no staging folder is left.
    EXPECT_EQ(kt::snapshot(dest), before);

    // Back: the files page checks both files again.
    app.click(IDC_BACK);
    ASSERT_TRUE(app.wait_title(L"Your copy of Boss Rally", 10000));
    expect_both_accepted(app);
    app.close_window();
    EXPECT_EQ(app.wait_exit(10000), 0);
}
