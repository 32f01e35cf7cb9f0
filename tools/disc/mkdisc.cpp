// Disc fixture maker: wraps a cooked ISO (2048-byte sectors) into a raw
// MODE1/2352 data track, appends CD-DA audio tracks from raw PCM (16-bit
// little-endian stereo, 44.1 kHz) and writes the cue sheet.
//
//   mkdisc --iso data.iso --bin out.bin --cue out.cue
//          [--data-sectors N]       pad the data track to N sectors
//          [--audio pcm[@frame]]... one audio track each, in order; @frame
//                                   is its INDEX 01 frame in the BIN (the
//                                   gap before it is silence); without it
//                                   the track follows the previous one
//          [--end-frame N]          pad the last track with silence so the
//                                   BIN holds N frames
//
// A frame is one 2352-byte sector; PCM is padded with silence to whole
// frames. Fails (exit 1, one line on stderr) when a track would overlap the
// next one or the requested end.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "cd_frame.h"

namespace {

struct AudioTrack {
    std::string path;
    int64_t start = -1;   // frame, or -1: right after the previous track
};

int fail(const std::string& message) {
    fprintf(stderr, "mkdisc: %s\n", message.c_str());
    return 1;
}

bool parse_count(const char* text, int64_t* out) {
    char* end = nullptr;
    long long v = strtoll(text, &end, 10);
    if (!*text || *end || v < 0) return false;
    *out = v;
    return true;
}

std::string base_name(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int64_t file_bytes(FILE* f) {
    if (fseeko(f, 0, SEEK_END) != 0) return -1;
    int64_t size = ftello(f);
    if (fseeko(f, 0, SEEK_SET) != 0) return -1;
    return size;
}

// Writes `frames` frames of silence.
bool write_silence(FILE* out, int64_t frames) {
    static const std::vector<uint8_t> zeros(cdframe::RAW_SECTOR * 256, 0);
    while (frames > 0) {
        int64_t n = frames < 256 ? frames : 256;
        if (fwrite(zeros.data(), cdframe::RAW_SECTOR, (size_t)n, out) != (size_t)n) return false;
        frames -= n;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string iso_path, bin_path, cue_path;
    int64_t data_sectors = -1, end_frame = -1;
    std::vector<AudioTrack> audio;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return fail("missing value after " + a);
        const char* v = argv[++i];
        if (a == "--iso") iso_path = v;
        else if (a == "--bin") bin_path = v;
        else if (a == "--cue") cue_path = v;
        else if (a == "--data-sectors") {
            if (!parse_count(v, &data_sectors)) return fail("bad --data-sectors");
        } else if (a == "--end-frame") {
            if (!parse_count(v, &end_frame)) return fail("bad --end-frame");
        } else if (a == "--audio") {
            AudioTrack t;
            std::string s = v;
            size_t at = s.rfind('@');
            if (at != std::string::npos) {
                if (!parse_count(s.c_str() + at + 1, &t.start)) return fail("bad frame in --audio " + s);
                s.resize(at);
            }
            t.path = s;
            audio.push_back(t);
        } else {
            return fail("unknown option " + a);
        }
    }
    if (iso_path.empty() || bin_path.empty() || cue_path.empty())
        return fail("usage: mkdisc --iso data.iso --bin out.bin --cue out.cue [--data-sectors N] "
                    "[--audio pcm[@frame]]... [--end-frame N]");

    FILE* iso = fopen(iso_path.c_str(), "rb");
    if (!iso) return fail("cannot read " + iso_path);
    int64_t iso_size = file_bytes(iso);
    if (iso_size < 0 || iso_size % cdframe::USER_SECTOR != 0) {
        fclose(iso);
        return fail(iso_path + " is not a whole number of 2048-byte sectors");
    }
    int64_t iso_sectors = iso_size / cdframe::USER_SECTOR;
    if (data_sectors < 0) data_sectors = iso_sectors;
    if (data_sectors < iso_sectors) {
        fclose(iso);
        return fail("--data-sectors is smaller than the ISO");
    }
    FILE* out = fopen(bin_path.c_str(), "wb");
    if (!out) {
        fclose(iso);
        return fail("cannot write " + bin_path);
    }
    static char out_buffer[1 << 22];
    setvbuf(out, out_buffer, _IOFBF, sizeof out_buffer);

    // Data track, in batches of sectors.
    const int batch = 512;
    std::vector<uint8_t> user((size_t)batch * cdframe::USER_SECTOR);
    std::vector<uint8_t> raw((size_t)batch * cdframe::RAW_SECTOR);
    bool ok = true;
    for (int64_t s = 0; ok && s < data_sectors; s += batch) {
        int64_t n = data_sectors - s < batch ? data_sectors - s : batch;
        int64_t from_iso = iso_sectors - s;
        if (from_iso < 0) from_iso = 0;
        if (from_iso > n) from_iso = n;
        if (from_iso > 0 &&
            fread(user.data(), cdframe::USER_SECTOR, (size_t)from_iso, iso) != (size_t)from_iso)
            ok = false;
        memset(user.data() + from_iso * cdframe::USER_SECTOR, 0,
               (size_t)(n - from_iso) * cdframe::USER_SECTOR);
        for (int64_t k = 0; k < n; ++k)
            cdframe::mode1_sector(raw.data() + k * cdframe::RAW_SECTOR,
                                  user.data() + k * cdframe::USER_SECTOR, (uint32_t)(s + k));
        if (ok && fwrite(raw.data(), cdframe::RAW_SECTOR, (size_t)n, out) != (size_t)n) ok = false;
    }
    fclose(iso);
    if (!ok) {
        fclose(out);
        return fail("cannot wrap " + iso_path + " into " + bin_path);
    }

    // Audio tracks.
    std::string cue = "FILE \"" + base_name(bin_path) + "\" BINARY\n";
    cue += "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
    int64_t frame = data_sectors;
    std::vector<uint8_t> pcm((size_t)cdframe::RAW_SECTOR * 1024);
    for (size_t t = 0; t < audio.size(); ++t) {
        AudioTrack& track = audio[t];
        if (track.start < 0) track.start = frame;
        if (track.start < frame) {
            fclose(out);
            return fail("track " + std::to_string(t + 2) + " would start at frame " +
                        std::to_string(track.start) + ", inside the previous track (ends at " +
                        std::to_string(frame) + ")");
        }
        if (!write_silence(out, track.start - frame)) ok = false;
        frame = track.start;
        FILE* in = fopen(track.path.c_str(), "rb");
        if (!in) {
            fclose(out);
            return fail("cannot read " + track.path);
        }
        int64_t bytes = file_bytes(in);
        int64_t frames = (bytes + cdframe::RAW_SECTOR - 1) / cdframe::RAW_SECTOR;
        int64_t limit = t + 1 < audio.size() && audio[t + 1].start >= 0 ? audio[t + 1].start
                        : t + 1 == audio.size() && end_frame >= 0        ? end_frame
                                                                         : INT64_MAX;
        if (frame + frames > limit) {
            fclose(in);
            fclose(out);
            return fail(track.path + " is longer than the room before frame " + std::to_string(limit));
        }
        int64_t left = bytes;
        while (ok && left > 0) {
            size_t n = left < (int64_t)pcm.size() ? (size_t)left : pcm.size();
            if (fread(pcm.data(), 1, n, in) != n) ok = false;
            size_t padded = n;
            if (n % cdframe::RAW_SECTOR) {
                padded = n + cdframe::RAW_SECTOR - n % cdframe::RAW_SECTOR;
                memset(pcm.data() + n, 0, padded - n);
            }
            if (ok && fwrite(pcm.data(), 1, padded, out) != padded) ok = false;
            left -= (int64_t)n;
        }
        fclose(in);
        frame += frames;
        char line[128];
        int64_t s = track.start;
        snprintf(line, sizeof line, "  TRACK %02d AUDIO\n    INDEX 01 %02d:%02d:%02d\n", (int)(t + 2),
                 (int)(s / 4500), (int)(s / 75 % 60), (int)(s % 75));
        cue += line;
    }
    if (end_frame >= 0) {
        if (end_frame < frame) {
            fclose(out);
            return fail("--end-frame is before the end of the last track");
        }
        if (!write_silence(out, end_frame - frame)) ok = false;
    }
    if (fclose(out) != 0) ok = false;
    if (!ok) return fail("cannot write " + bin_path);

    FILE* c = fopen(cue_path.c_str(), "wb");
    if (!c || fwrite(cue.data(), 1, cue.size(), c) != cue.size() || fclose(c) != 0)
        return fail("cannot write " + cue_path);
    return 0;
}
