// Shared helpers of the disc build's tests: the progress plan a build of a
// given cue sheet must follow (over kt::Recorder's reports), and the FLAC
// stream header fields the tests read back.
#ifndef KELVORN_TESTS_BUILD_UTIL_H
#define KELVORN_TESTS_BUILD_UTIL_H

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "support/env.h"
#include "support/recorder.h"

namespace bt {

const char* const COPY_STATUS = "Copying the game's files from the disc";

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
inline void expect_plan(const std::vector<kt::Report>& reports, const std::vector<PlanTrack>& tracks) {
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
        for (++at; at < reports.size() && reports[at].status == kt::NO_STATUS; ++at) {
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
inline void use_test_digests(const std::string& path) { ASSERT_TRUE(kt::set_env("KELVORN_TEST_DIGESTS", path)); }

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
