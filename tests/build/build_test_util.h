// Shared helpers of the disc build's tests: a progress recorder that can act
// at a given status, the progress plan a build of a given cue sheet must
// follow, and the FLAC stream header fields the tests read back.
#ifndef KELVORN_TESTS_BUILD_UTIL_H
#define KELVORN_TESTS_BUILD_UTIL_H

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>

#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace bt {

const char* const COPY_STATUS = "Copying the game's files from the disc";
const char* const NO_STATUS = "(null)";

struct Report {
    double fraction;
    std::string status;
};

// Records every report; runs action once, at the first report whose status
// begins with act_at and, when act_fraction is not negative, whose fraction
// equals it.
struct Recorder {
    std::vector<Report> reports;
    std::string act_at;
    double act_fraction = -1;
    std::function<void()> action;
    bool acted = false;
};

inline void record(uint64_t user, double fraction, const char* status) {
    Recorder* r = (Recorder*)(uintptr_t)user;
    r->reports.push_back({fraction, status ? status : NO_STATUS});
    if (!r->acted && r->action && status && std::string(status).rfind(r->act_at, 0) == 0 &&
        (r->act_fraction < 0 || fraction == r->act_fraction)) {
        r->acted = true;
        r->action();
    }
}

// One track of the cue sheet, as the plan sees it.
struct PlanTrack {
    int number;
    bool audio;
    uint64_t length;  // frames
};

// Checks a successful build's reports against the plan: 0 "Preparing"; the
// copy within 0..0.1 with its status (or none); per audio track its low
// fraction with "Encoding the soundtrack: track N", then the encoder's own
// reports without text inside the track's range; 0.98 "Finishing"; 1 "Done".
// Fractions never decrease.
inline void expect_plan(const std::vector<Report>& reports, const std::vector<PlanTrack>& tracks) {
    ASSERT_GE(reports.size(), 3u);
    for (size_t i = 1; i < reports.size(); ++i)
        ASSERT_GE(reports[i].fraction, reports[i - 1].fraction)
            << "report " << i << " (" << reports[i].status << ") goes back";
    EXPECT_EQ(reports[0].fraction, 0.0);
    EXPECT_EQ(reports[0].status, "Preparing");
    size_t at = 1;
    for (; at < reports.size() && reports[at].status == COPY_STATUS; ++at) {
        EXPECT_GE(reports[at].fraction, 0.0);
        EXPECT_LE(reports[at].fraction, 0.1);
    }
    uint64_t total = 0;
    for (const PlanTrack& t : tracks)
        if (t.audio) total += t.length;
    if (total == 0) total = 1;
    uint64_t done = 0;
    for (const PlanTrack& t : tracks) {
        if (!t.audio) continue;
        double low = (double)done * 0.88 / (double)total + 0.1;
        double high = (double)(done + t.length) * 0.88 / (double)total + 0.1;
        std::string status = "Encoding the soundtrack: track " + std::to_string(t.number);
        ASSERT_LT(at, reports.size()) << "no report for track " << t.number;
        EXPECT_EQ(reports[at].fraction, low) << status;
        EXPECT_EQ(reports[at].status, status);
        for (++at; at < reports.size() && reports[at].status == NO_STATUS; ++at) {
            EXPECT_GE(reports[at].fraction, low) << status;
            EXPECT_LE(reports[at].fraction, high) << status;
        }
        done += t.length;
    }
    ASSERT_EQ(reports.size() - at, 2u) << "after the soundtrack: " << reports[at].status;
    EXPECT_EQ(reports[at].fraction, 0.98);
    EXPECT_EQ(reports[at].status, "Finishing");
    EXPECT_EQ(reports[at + 1].fraction, 1.0);
    EXPECT_EQ(reports[at + 1].status, "Done");
}

// Makes the test build's reference table take its digests from path.
// Must run before the first digest lookup of the process.
inline void use_test_digests(const std::string& path) {
#ifdef _WIN32
    wchar_t value[2048];
    int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, value, 2048);
    ASSERT_GT(n, 0);
    ASSERT_TRUE(SetEnvironmentVariableW(L"KELVORN_TEST_DIGESTS", value));
#else
    ASSERT_EQ(setenv("KELVORN_TEST_DIGESTS", path.c_str(), 1), 0);
#endif
}

// The STREAMINFO fields of a FLAC file the tests compare.
struct StreamInfo {
    bool ok = false;
    uint64_t total_samples = 0;
    std::string md5_hex;
};

inline StreamInfo stream_info(const std::string& flac) {
    StreamInfo s;
    if (flac.size() < 42 || flac.compare(0, 4, "fLaC") != 0) return s;
    const unsigned char* b = (const unsigned char*)flac.data() + 8;  // STREAMINFO body
    s.total_samples = ((uint64_t)(b[13] & 0x0F) << 32) | ((uint64_t)b[14] << 24) | ((uint64_t)b[15] << 16) |
                      ((uint64_t)b[16] << 8) | b[17];
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        s.md5_hex += hex[b[18 + i] >> 4];
        s.md5_hex += hex[b[18 + i] & 15];
    }
    s.ok = true;
    return s;
}

}  // namespace bt

#endif
