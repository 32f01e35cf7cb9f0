// Shared helpers of the disc reader's tests.
#ifndef KELVORN_TESTS_DISC_UTIL_H
#define KELVORN_TESTS_DISC_UTIL_H

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "formats/disc/iso.h"
#include "disc/volume_builder.h"
#include "support/recorder.h"
#include "support/test_support.h"

namespace kt {

// An extraction's result and the reports it made.
struct Extraction : Recorder {
    int ok = 0;
    std::string error;
};

// track_end: the data track's end as a cue sheet gives it, 0 for none.
inline Extraction extract(const std::string& bin, const std::string& target, const CancelFlag* cancel = nullptr,
                          double low = 0, double high = 0.1, uint64_t track_end = 0) {
    Extraction e;
    char error[1024] = "";
    const Progress progress = e.step(low, high, cancel);
    if (track_end)
        e.ok = extract_disc_track_files(bin.c_str(), track_end, target.c_str(), &progress, error, sizeof error);
    else
        e.ok = extract_disc_files(bin.c_str(), target.c_str(), &progress, error, sizeof error);
    e.error = error;
    return e;
}

// Snapshot entries (see kt::snapshot) for the given files ("path", content)
// and folders ("path/", ignored content).
inline std::vector<std::string> tree(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::vector<std::string> out;
    for (auto& e : entries) {
        if (!e.first.empty() && e.first.back() == '/')
            out.push_back(e.first);
        else
            out.push_back(e.first + "=" + std::to_string(e.second.size()) + ":" + md5_hex_of(e.second));
    }
    std::sort(out.begin(), out.end());
    return out;
}

inline std::vector<unsigned char> primary_image(const Node& root) {
    VolumeBuilder v;
    DirRef r = v.add_tree(root);
    v.descriptor(16, 1, r);
    v.terminator(17);
    return v.raw();
}

inline std::vector<unsigned char> joliet_image(const Node& root) {
    VolumeBuilder v;
    DirRef r = v.add_tree(root);
    v.descriptor(16, 2, r, "%/E");
    v.terminator(17);
    return v.raw();
}

inline std::string text_of(size_t n, uint32_t seed) {
    auto b = random_bytes(n, seed);
    return std::string(b.begin(), b.end());
}

}  // namespace kt

#endif
