// FLAC subframes (RFC 9639): the bit writer, the analysis that picks the
// cheapest CONSTANT, VERBATIM or FIXED (orders 0 to 4, partitioned Rice
// residual with 4-bit parameters) coding of one channel, and the writer of
// the chosen subframe. Never LPC, wasted bits, 5-bit parameters or escapes.
//
// Pure computations on caller-owned memory: nothing here allocates, reads a
// file or fails. Safe to call from several threads on distinct records.
#ifndef KELVORN_FLAC_SUBFRAME_H
#define KELVORN_FLAC_SUBFRAME_H

#include <stddef.h>
#include <stdint.h>

enum { FLAC_MAX_BLOCK = 4096, FLAC_MAX_PARTITIONS = 256 };

// Most significant bit first into a caller's buffer. Between calls the
// `pending` lowest bits of `accumulator` (0 to 7) wait to be stored; bits
// above them are stale and never emitted. The writer neither checks nor
// grows the buffer. Reset per frame: length 0, pending 0.
struct FrameBitWriter {
    uint8_t* bytes;
    uint64_t length;        // whole bytes stored
    uint64_t accumulator;
    int32_t pending;
};

// Appends the n lowest bits of value (n 1 to 32), most significant first.
// value must have no bits above the n lowest (mask two's-complement samples
// to their width first).
static inline void put_bits(FrameBitWriter* writer, uint64_t value, int n) {
    writer->accumulator = (writer->accumulator << n) | value;
    writer->pending += n;
    while (writer->pending >= 8) {
        writer->pending -= 8;
        writer->bytes[writer->length++] = (uint8_t)(writer->accumulator >> writer->pending);
    }
}

enum { SUBFRAME_CONSTANT = 0, SUBFRAME_VERBATIM = 1, SUBFRAME_FIXED = 2 };

// One channel's coding. For FIXED: order 0..4, partition_order 0..8, the
// first 2^partition_order rice_params (0..14), and the folded residuals
// ((e << 1) ^ (e >> 31)) at positions order..count-1 (positions below order
// hold nothing meaningful). cost_bits is always the exact number of bits
// write_subframe emits for the record, subframe header included.
struct SubframeChoice {
    int32_t kind;
    uint32_t order;
    uint32_t partition_order;
    uint32_t rice_params[FLAC_MAX_PARTITIONS];
    uint64_t cost_bits;
    uint32_t residuals[FLAC_MAX_BLOCK];
};

// Analyses samples[0..count), count 1..4096, each fitting in `bits` (16, or
// 17 for a side channel) as a signed value, into *out. trial is scratch
// shared between calls (its contents afterwards are unspecified). Rules:
// CONSTANT whenever every sample equals the first (or count < 2), without
// comparison; otherwise the cheapest of VERBATIM and FIXED orders
// 0..min(count,5)-1, ties going to VERBATIM, then to the lower predictor
// order, the lower partition order and the smaller Rice parameter.
void choose_subframe(const int32_t* samples, uint32_t count, uint32_t bits, SubframeChoice* out,
                     SubframeChoice* trial);

// The instruction set the analysis runs on: SUBFRAME_ISA_AVX2 where the
// processor and system have AVX2 (x86-64 builds with GCC or Clang), else
// SUBFRAME_ISA_BASE (SSE2 on x86-64, plain C++ elsewhere). Every path makes
// the same choices, bit for bit.
enum { SUBFRAME_ISA_BASE = 0, SUBFRAME_ISA_AVX2 = 1 };
int subframe_isa(void);

// Makes the analysis run on isa from now on, for tests and benchmarks,
// before any encoding starts. Returns 0, changing nothing, when this
// processor or build cannot run it.
int subframe_use_isa(int isa);

// Appends the subframe that choice describes. samples, count and bits must
// be the ones choose_subframe saw for choice. Emits exactly choice->cost_bits.
void write_subframe(FrameBitWriter* writer, const int32_t* samples, uint32_t count, uint32_t bits,
                    const SubframeChoice* choice);

#endif
