// The real-music fixture: 16-bit 44.1 kHz stereo PCM decoded from Debian's
// wesnoth-1.16-music by make_music.sh (a ctest setup step).
#ifndef KELVORN_TESTS_FLAC_MUSIC_FIXTURE_H
#define KELVORN_TESTS_FLAC_MUSIC_FIXTURE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace kt_flac {

inline std::string music_path() { return kt::join(kt::fixture_dir(), "music-600s.s16le"); }

inline std::string music_hint() {
    return "missing " + music_path() + " (made by the flac_music_fixture ctest step)";
}

// The whole file; false when it is missing or shorter than 10 minutes.
inline bool load_music(std::vector<uint8_t>* pcm) {
    std::string bytes = kt::read_file(music_path());
    if (bytes.size() < 600ull * 44100 * 4) return false;
    pcm->assign(bytes.begin(), bytes.end());
    return true;
}

}  // namespace kt_flac

#endif
