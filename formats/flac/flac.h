// The soundtrack encoder: one CD audio track (16-bit signed little-endian
// stereo, 44100 Hz, 4 bytes per stereo sample) read raw from the disc image
// into one FLAC file (RFC 9639): "fLaC", one STREAMINFO block (block sizes
// 4096/4096, frame sizes unknown, total samples, MD5 of the raw bytes), then
// fixed-size frames of 4096 samples (the last one shorter), each with the
// cheapest of the independent, left/side, side/right and mid/side codings.
#ifndef KELVORN_FORMATS_FLAC_FLAC_H
#define KELVORN_FORMATS_FLAC_FLAC_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "base/progress.h"
#include "formats/flac/crc.h"
#include "formats/flac/subframe.h"

enum {
    FLAC_HEADER_BYTES = 42,     // "fLaC" + STREAMINFO block header + body
    FLAC_FRAME_CAPACITY = 24640,
    FLAC_PROGRESS_FRAMES = 64,  // progress is reported every this many frames
    // Encoding threads per track. The MD5 of a track is one chain over its
    // bytes in order, kept by the calling thread together with the reads
    // and writes; that share of a block's work bounds what more threads can
    // add (see flac_thread_count).
    FLAC_DEFAULT_THREADS_CAP = 8,
    FLAC_MAX_THREADS = 64,      // the most a caller may ask for
    FLAC_BLOCKS_PER_THREAD = 4, // blocks in flight per thread
};

// Everything one encoding thread analyses a block in; nothing is allocated
// per frame.
struct FlacWorkArea {
    int32_t left[FLAC_MAX_BLOCK];
    int32_t right[FLAC_MAX_BLOCK];
    int32_t mid[FLAC_MAX_BLOCK];   // (left + right) >> 1, rounding down
    int32_t side[FLAC_MAX_BLOCK];  // left - right, 17 bits
    SubframeChoice left_choice;
    SubframeChoice right_choice;
    SubframeChoice mid_choice;
    SubframeChoice side_choice;
    SubframeChoice trial;          // scratch shared by the four analyses
};

// One block on its way through the encoder: the raw bytes as read and the
// finished frame.
struct FlacBlock {
    uint8_t pcm[FLAC_MAX_BLOCK * 4];
    uint8_t frame[FLAC_FRAME_CAPACITY];
    uint32_t samples;      // n, 1..4096
    uint32_t number;       // frame number from 0
    uint32_t full;         // 1 when 4096 or more samples remained
    uint32_t length;       // bytes of the finished frame
};

// The thread count for a request: 1..FLAC_MAX_THREADS as given (larger is
// cut to FLAC_MAX_THREADS); 0 or less is the default, the machine's
// hardware concurrency cut to FLAC_DEFAULT_THREADS_CAP, at least 1.
int flac_thread_count(int requested);

// Bytes encode_track_flac allocates (in one block, per track) for threads
// encoding threads, as flac_thread_count gives them: a work area per thread
// and FLAC_BLOCKS_PER_THREAD blocks per thread (one block for one thread),
// about 310 KiB a thread. That is all the memory the encoder takes besides
// the threads' stacks and its fixed locals.
size_t flac_encoder_bytes(int threads);

// Encodes sample_count stereo samples read from source (open "rb",
// positioned at the track's first byte) into the FLAC file at path (UTF-8).
// The file is written as path + ".part" and moved onto path (replacing a file
// there) only when complete; on failure the ".part" is deleted and a file at
// path is left untouched. progress (may be null) reports with a null status
// after every 64th frame, done samples of sample_count mapped into its low
// to high (progress_report_part); its cancel flag is read before every
// block. Returns 1, or 0 with one
// line in error: "out of memory", "cancelled", "the disc image ends inside
// an audio track", or "cannot write <path>" when the file cannot be made,
// a write, the rewind or the close fails (a full disk), or the finished
// file cannot be moved onto path.
//
// threads (through flac_thread_count) is the number of threads that
// encode, the calling thread included; the file is byte for byte the same
// for every count. Only the calling thread reads source, keeps the MD5,
// writes the file, reads cancel, calls progress and writes error; the
// others only analyse blocks that it has read and build their frames, at
// most FLAC_BLOCKS_PER_THREAD blocks per thread ahead of the file. 1 does
// it all on the calling thread, block after block.
//
// known_md5 (may be null) is the MD5 of exactly the sample_count * 4 bytes
// this call reads, taken by the caller from the same file in the same state
// (the check of the disc image digests the audio tracks as it reads the
// image): the header carries it and the bytes are not digested again. The
// caller answers for it; the file is then the same as without it.
int encode_track_flac(FILE* source, uint64_t sample_count, const char* path, const Progress* progress,
                      char* error, size_t error_capacity, int threads = 1,
                      const unsigned char* known_md5 = nullptr);

#endif
