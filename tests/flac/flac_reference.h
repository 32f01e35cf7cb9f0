// Plain, deliberately slow implementations that the encoder's fast internals
// are pinned against, and a small FLAC reader for the subset the encoder
// writes (CONSTANT, VERBATIM, FIXED with 4-bit Rice parameters).
#ifndef KELVORN_TESTS_FLAC_REFERENCE_H
#define KELVORN_TESTS_FLAC_REFERENCE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "formats/flac/subframe.h"

namespace ref {

// The instruction sets the analysis can run on here (SUBFRAME_ISA_BASE
// always, AVX2 where the processor has it); every fast path is pinned
// against this file's plain code on each.
std::vector<int> analysis_isas();

// Makes the analysis run on isa while it lives, then goes back to the
// processor's default.
struct ScopedIsa {
    explicit ScopedIsa(int isa);
    ~ScopedIsa();
};

// Bit by bit: eight shift-and-conditional-XOR steps per byte.
uint8_t crc8(const uint8_t* bytes, size_t length);
uint16_t crc16(const uint8_t* bytes, size_t length);

// The analysis recounted from scratch for every order, partition order and
// parameter: residual sums, estimate, two or three candidates, strict
// comparisons throughout.
void choose(const int32_t* samples, uint32_t count, uint32_t bits, SubframeChoice* out, SubframeChoice* trial);

// One put_bits per field and per Rice code (unary runs 32 bits at a time).
void write(FrameBitWriter* writer, const int32_t* samples, uint32_t count, uint32_t bits,
           const SubframeChoice* choice);

// Same fields as the analysis must agree on: kind and cost always; order,
// partition order, the meaningful parameters and residuals for FIXED.
// Returns "" when equal, else a description of the first difference.
std::string compare_choices(const SubframeChoice& a, const SubframeChoice& b, uint32_t count);

// The whole file for sample_count stereo samples of raw 16-bit little-endian
// pcm, built the plain way: one block after another, the stereo sums
// compared in order, every field with one put_bits, ref::choose and
// ref::write for the subframes, the bit-by-bit CRCs.
std::string encode_stream(const uint8_t* pcm, uint64_t sample_count);

struct FrameInfo {
    uint32_t frame_number;
    uint32_t block_size_code;
    uint32_t block_size;
    uint32_t assignment;
    int kinds[2];
    uint32_t orders[2];
    uint32_t header_bytes;  // through the CRC-8
    uint32_t frame_bytes;
};

struct Stream {
    uint32_t min_block, max_block, min_frame, max_frame, sample_rate, channels, bits;
    uint64_t total_samples;
    uint8_t md5[16];
    std::vector<FrameInfo> frames;
    std::vector<uint8_t> pcm;  // decoded, 16-bit little-endian interleaved
};

// Parses and decodes a whole file's bytes; checks every CRC-8 and CRC-16
// and that the frames fill the file exactly. Returns "" or the first fault.
std::string read_stream(const std::string& file, Stream* out);

}  // namespace ref

#endif
