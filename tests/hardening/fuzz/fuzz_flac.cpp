// The soundtrack encoder on arbitrary PCM: the FLAC file it writes must
// decode (every CRC checked, by the test tree's own reader) to exactly the
// input, with the input's MD5 and sample count in STREAMINFO. The first byte
// picks a shaping of the rest, so that smooth, constant and sparse signals
// are reached as well as noise; a set top bit asks for more samples than
// there are, which must fail cleanly and leave no file.
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "base/md5.h"
#include "base/paths.h"
#include "formats/flac/flac.h"
#include "flac/flac_reference.h"
#include "fuzz_support.h"

static std::vector<uint8_t> shape(const uint8_t* data, size_t size, unsigned mode) {
    std::vector<uint8_t> pcm(data, data + (size & ~(size_t)3));
    size_t n = pcm.size() / 2;
    auto get = [&](size_t i) { return (int16_t)(uint16_t)(pcm[2 * i] | pcm[2 * i + 1] << 8); };
    auto put = [&](size_t i, int32_t v) {
        pcm[2 * i] = (uint8_t)v;
        pcm[2 * i + 1] = (uint8_t)((uint32_t)v >> 8);
    };
    switch (mode & 3) {
    case 1:  // running sums per channel: smooth, low-order predictable
        for (size_t i = 2; i < n; ++i) put(i, (int16_t)(get(i - 2) + (get(i) >> 6)));
        break;
    case 2:  // each value held for a stretch: constant runs and steps
        for (size_t i = 0; i < n; ++i) put(i, get(i & ~(size_t)255));
        break;
    case 3:  // extremes only: the widest residuals and side channel
        for (size_t i = 0; i < n; ++i) put(i, (get(i) & 1) ? 32767 : -32768);
        break;
    }
    return pcm;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    unsigned mode = data[0];
    std::vector<uint8_t> pcm = shape(data + 1, size - 1, mode);
    uint64_t samples = pcm.size() / 4;
    uint64_t asked = (mode & 0x80) ? samples + 1 + (mode & 0x40 ? 5000 : 0) : samples;

    FILE* source = fmemopen(pcm.empty() ? (void*)"" : (void*)pcm.data(), pcm.size(), "rb");
    FUZZ_CHECK(source != nullptr);
    std::string path = fuzz_scratch() + "/track.flac";
    remove_tree(path.c_str());
    char error[512];
    error[0] = 0;
    int ok = encode_track_flac(source, asked, path.c_str(), nullptr, error, sizeof error);
    fclose(source);
    std::string part = path + ".part";
    FUZZ_CHECK(!path_exists(part.c_str()));
    if (asked != samples) {
        FUZZ_CHECK(!ok && strcmp(error, "the disc image ends inside an audio track") == 0);
        FUZZ_CHECK(!path_exists(path.c_str()));
        return 0;
    }
    FUZZ_CHECK(ok);
    uint64_t file_size = 0;
    unsigned char* bytes = read_whole_file(path.c_str(), &file_size);
    FUZZ_CHECK(bytes != nullptr);
    std::string file((const char*)bytes, (size_t)file_size);
    free(bytes);
    ref::Stream stream;
    std::string fault = ref::read_stream(file, &stream);
    if (!fault.empty()) {
        fprintf(stderr, "undecodable: %s\n", fault.c_str());
        abort();
    }
    FUZZ_CHECK(stream.total_samples == samples);
    FUZZ_CHECK(stream.pcm == pcm);
    Md5Context md5;
    unsigned char digest[16];
    md5_init(&md5);
    md5_update(&md5, pcm.data(), pcm.size());
    md5_final(&md5, digest);
    FUZZ_CHECK(memcmp(digest, stream.md5, 16) == 0);
    // The size of the longest frame is bounded by the encoder's buffer.
    for (const ref::FrameInfo& f : stream.frames) FUZZ_CHECK(f.frame_bytes <= FLAC_FRAME_CAPACITY);
    return 0;
}
