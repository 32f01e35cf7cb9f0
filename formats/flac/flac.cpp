// FLAC stream and frames: the per-track loop, the stream header and the
// ".part" file discipline.
#include "formats/flac/flac.h"

#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "base/bytes.h"
#include "base/md5.h"
#include "base/part_file.h"
#include "base/paths.h"

namespace {

// Looks a waiting thread takes, each after a yield, before it sleeps.
enum { WAIT_SPIN_LOOKS = 2000 };

// "fLaC", STREAMINFO header (last block, type 0, length 34) and body.
void build_stream_header(uint8_t header[FLAC_HEADER_BYTES], uint64_t total_samples,
                         const unsigned char md5[16]) {
    static const uint8_t fixed_part[18] = {
        'f', 'L', 'a', 'C', 0x80, 0x00, 0x00, 34,
        0x10, 0x00, 0x10, 0x00,  // min and max block size 4096
        0, 0, 0, 0, 0, 0,        // min and max frame size unknown
    };
    memcpy(header, fixed_part, sizeof fixed_part);
    // 44100 Hz (20 bits), 2 channels (3 bits: 1), 16 bits (5 bits: 15),
    // then 36 bits of total samples.
    header[18] = 0x0A;
    header[19] = 0xC4;
    header[20] = 0x42;
    header[21] = (uint8_t)(0xF0 | ((total_samples >> 32) & 0x0F));
    header[22] = (uint8_t)(total_samples >> 24);
    header[23] = (uint8_t)(total_samples >> 16);
    header[24] = (uint8_t)(total_samples >> 8);
    header[25] = (uint8_t)total_samples;
    memcpy(header + 26, md5, 16);
}

// The frame number in the UTF-8-like coding: 1 byte below 2^7, 2 below
// 2^11, 3 below 2^16, 4 below 2^21, 5 below 2^26, else 6.
void put_frame_number(FrameBitWriter* w, uint32_t v) {
    int extra;
    uint32_t lead;
    if (v < 0x80) {
        put_bits(w, v, 8);
        return;
    } else if (v < 0x800) {
        extra = 1;
        lead = 0xC0;
    } else if (v < 0x10000) {
        extra = 2;
        lead = 0xE0;
    } else if (v < 0x200000) {
        extra = 3;
        lead = 0xF0;
    } else if (v < 0x4000000) {
        extra = 4;
        lead = 0xF8;
    } else {
        extra = 5;
        lead = 0xFC;
    }
    put_bits(w, lead | (v >> (6 * extra)), 8);
    for (int i = extra - 1; i >= 0; --i) put_bits(w, 0x80 | ((v >> (6 * i)) & 0x3F), 8);
}

// Analyses block->pcm in work and builds the frame into block->frame.
void encode_frame(FlacWorkArea* work, FlacBlock* block) {
    const uint32_t n = block->samples;
    const uint8_t* pcm = block->pcm;
    int32_t* left = work->left;
    int32_t* right = work->right;
    int32_t* mid = work->mid;
    int32_t* side = work->side;
    for (uint32_t i = 0; i < n; ++i) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // One 32-bit word per stereo sample: a form the compiler vectorises.
        uint32_t word;
        memcpy(&word, pcm + 4 * i, 4);
        const int32_t l = (int32_t)(word << 16) >> 16, r = (int32_t)word >> 16;
#else
        const int32_t l = (int16_t)get_le16(pcm + 4 * i), r = (int16_t)get_le16(pcm + 4 * i + 2);
#endif
        left[i] = l;
        right[i] = r;
        mid[i] = (l + r) >> 1;
        side[i] = l - r;
    }

    choose_subframe(left, n, 16, &work->left_choice, &work->trial);
    choose_subframe(right, n, 16, &work->right_choice, &work->trial);
    choose_subframe(mid, n, 16, &work->mid_choice, &work->trial);
    choose_subframe(side, n, 17, &work->side_choice, &work->trial);

    const uint64_t l_bits = work->left_choice.cost_bits, r_bits = work->right_choice.cost_bits;
    const uint64_t m_bits = work->mid_choice.cost_bits, s_bits = work->side_choice.cost_bits;
    // Ties go to the earlier of independent, left/side, side/right, mid/side.
    uint32_t assignment = 1;
    uint64_t best = l_bits + r_bits;
    if (l_bits + s_bits < best) {
        best = l_bits + s_bits;
        assignment = 8;
    }
    if (r_bits + s_bits < best) {
        best = r_bits + s_bits;
        assignment = 9;
    }
    if (m_bits + s_bits < best) {
        best = m_bits + s_bits;
        assignment = 10;
    }

    FrameBitWriter w;
    w.bytes = block->frame;
    w.length = 0;
    w.accumulator = 0;
    w.pending = 0;
    put_bits(&w, 0xFFF8, 16);
    put_bits(&w, block->full ? 12 : 7, 4);
    put_bits(&w, 9, 4);  // 44.1 kHz
    put_bits(&w, assignment, 4);
    put_bits(&w, 8, 4);  // 16 bits per sample, reserved 0
    put_frame_number(&w, block->number);
    if (!block->full) put_bits(&w, n - 1, 16);
    put_bits(&w, flac_crc8(w.bytes, (size_t)w.length), 8);

    switch (assignment) {
    case 1:
        write_subframe(&w, left, n, 16, &work->left_choice);
        write_subframe(&w, right, n, 16, &work->right_choice);
        break;
    case 8:
        write_subframe(&w, left, n, 16, &work->left_choice);
        write_subframe(&w, side, n, 17, &work->side_choice);
        break;
    case 9:
        write_subframe(&w, side, n, 17, &work->side_choice);
        write_subframe(&w, right, n, 16, &work->right_choice);
        break;
    default:
        write_subframe(&w, mid, n, 16, &work->mid_choice);
        write_subframe(&w, side, n, 17, &work->side_choice);
        break;
    }
    if (w.pending) put_bits(&w, 0, 8 - w.pending);
    put_bits(&w, flac_crc16(w.bytes, (size_t)w.length), 16);
    block->length = (uint32_t)w.length;
}

// The blocks of one track in flight. Block b lives in blocks[b % depth].
// The calling thread reads blocks in order and publishes them (published
// grows); whoever is free, a helper thread or the calling thread itself,
// claims the lowest unclaimed one (claimed grows) and marks it encoded; the
// calling thread writes them out in order. Every field below the lock is
// read and written under it only.
struct Pipeline {
    FlacWorkArea* work;   // one per thread; work[0] is the calling thread's
    FlacBlock* blocks;
    uint32_t depth;
    std::mutex lock;
    std::condition_variable published_cv;  // a block to claim, or stop
    std::condition_variable encoded_cv;    // a block was encoded
    uint64_t published = 0;
    uint64_t claimed = 0;
    uint8_t* encoded;     // per slot: 1 once the frame in it is built
    int stop = 0;
};

// Blocks until ready() holds (the lock held on entry and on return), after
// a short spin with the lock let go between looks: a thread that sleeps on
// a condition variable is woken only after the processor it ran on has
// been woken too, which on a virtual machine can take longer than encoding
// a block, and both threads wait for each other once a block.
template <class Ready>
void wait_until(std::unique_lock<std::mutex>& held, std::condition_variable& cv, Ready ready) {
    for (int look = 0; look < WAIT_SPIN_LOOKS && !ready(); ++look) {
        held.unlock();
        std::this_thread::yield();
        held.lock();
    }
    cv.wait(held, ready);
}

// Claims and encodes the lowest unclaimed block; the lock is held on entry
// and on return, but not while encoding.
void encode_claimed(Pipeline* p, std::unique_lock<std::mutex>& held, FlacWorkArea* work) {
    const uint32_t slot = (uint32_t)(p->claimed++ % p->depth);
    held.unlock();
    encode_frame(work, &p->blocks[slot]);
    held.lock();
    p->encoded[slot] = 1;
    p->encoded_cv.notify_one();
}

void helper_main(Pipeline* p, FlacWorkArea* work) {
    std::unique_lock<std::mutex> held(p->lock);
    for (;;) {
        wait_until(held, p->published_cv, [p] { return p->stop || p->claimed < p->published; });
        if (p->stop) return;
        encode_claimed(p, held, work);
    }
}

// Starts a helper thread; 0 when the system will not make one (the track is
// then encoded by the threads there are).
int start_helper(std::thread* thread, Pipeline* p, FlacWorkArea* work) {
    try {
        *thread = std::thread(helper_main, p, work);
        return 1;
    } catch (const std::system_error&) {
        return 0;
    }
}

enum { TRACK_OK = 0, TRACK_CANCELLED, TRACK_SHORT_READ, TRACK_WRITE_FAILED };

struct TrackRun {
    FILE* source;
    FILE* out;
    uint64_t sample_count;
    const Progress* progress;
    Md5Context* md5;  // null when the digest is known already
};

// The block loop on the calling thread: reads ahead up to depth blocks,
// feeding the MD5 in read order, and writes the frames in order. Seen from
// the file, the progress callback and the cancel flag, it runs as the plain
// loop does (cancel, read, encode, write, progress, block after block): the
// flag is read before each block is read and again before its frame is
// written, and a failure found while reading ahead counts only once every
// frame before it has been written. Returns a TRACK_ value.
int run_blocks(Pipeline* p, const TrackRun* t) {
    const uint64_t total_blocks = (t->sample_count + FLAC_MAX_BLOCK - 1) / FLAC_MAX_BLOCK;
    uint64_t read = 0, written = 0;
    int read_failure = TRACK_OK;  // what stopped the reading ahead, at block `read`
    for (;;) {
        while (read_failure == TRACK_OK && read < total_blocks && read - written < p->depth) {
            if (is_cancelled(t->progress->cancel)) {
                read_failure = TRACK_CANCELLED;
                break;
            }
            FlacBlock* block = &p->blocks[read % p->depth];
            const uint64_t remaining = t->sample_count - read * FLAC_MAX_BLOCK;
            block->samples = remaining < FLAC_MAX_BLOCK ? (uint32_t)remaining : (uint32_t)FLAC_MAX_BLOCK;
            block->full = remaining >= FLAC_MAX_BLOCK;
            block->number = (uint32_t)read;
            if (fread(block->pcm, 4, block->samples, t->source) != block->samples) {
                read_failure = TRACK_SHORT_READ;
                break;
            }
            {
                std::lock_guard<std::mutex> held(p->lock);
                ++p->published;
                p->published_cv.notify_one();
            }
            // Digested after it is handed out: a helper may encode it
            // meanwhile (both only read the bytes).
            if (t->md5) md5_update(t->md5, block->pcm, (size_t)block->samples * 4);
            ++read;
        }
        if (written == total_blocks) return TRACK_OK;
        if (is_cancelled(t->progress->cancel)) return TRACK_CANCELLED;
        if (written == read) return read_failure;

        const uint32_t slot = (uint32_t)(written % p->depth);
        {
            std::unique_lock<std::mutex> held(p->lock);
            while (!p->encoded[slot]) {
                if (p->claimed < p->published)
                    encode_claimed(p, held, &p->work[0]);
                else
                    wait_until(held, p->encoded_cv, [p, slot] { return p->encoded[slot] || p->claimed < p->published; });
            }
            p->encoded[slot] = 0;
        }
        const FlacBlock* block = &p->blocks[slot];
        if (fwrite(block->frame, 1, block->length, t->out) != block->length) return TRACK_WRITE_FAILED;
        ++written;
        if (written % FLAC_PROGRESS_FRAMES == 0) {
            const uint64_t done = written >= total_blocks ? t->sample_count : written * FLAC_MAX_BLOCK;
            progress_report_part(t->progress, done, t->sample_count, nullptr);
        }
    }
}

// Blocks in flight: the plain loop holds one; more threads keep more.
uint32_t depth_for(int threads) { return threads == 1 ? 1 : (uint32_t)threads * FLAC_BLOCKS_PER_THREAD; }

// Layout of the one allocation: work areas, blocks, the slots' flags.
size_t blocks_offset(int threads) { return sizeof(FlacWorkArea) * (size_t)threads; }
size_t flags_offset(int threads) { return blocks_offset(threads) + sizeof(FlacBlock) * depth_for(threads); }

}  // namespace

int flac_thread_count(int requested) {
    if (requested >= 1) return requested < FLAC_MAX_THREADS ? requested : (int)FLAC_MAX_THREADS;
    const unsigned hardware = std::thread::hardware_concurrency();
    if (hardware == 0) return 1;
    return hardware < FLAC_DEFAULT_THREADS_CAP ? (int)hardware : (int)FLAC_DEFAULT_THREADS_CAP;
}

size_t flac_encoder_bytes(int threads) {
    threads = flac_thread_count(threads);
    return flags_offset(threads) + depth_for(threads);
}

int encode_track_flac(FILE* source, uint64_t sample_count, const char* path, const Progress* progress,
                      char* error, size_t error_capacity, int threads, const unsigned char* known_md5) {
    const Progress quiet;
    if (!progress) progress = &quiet;
    threads = flac_thread_count(threads);
    const uint32_t depth = depth_for(threads);
    uint8_t* area = (uint8_t*)calloc(1, flac_encoder_bytes(threads));
    if (!area) {
        set_error(error, error_capacity, "out of memory");
        return 0;
    }
    PartFile part;
    if (!part_open(&part, path, PART_REMOVE)) {
        free(area);
        set_error(error, error_capacity, "cannot write %s", path);
        return 0;
    }

    uint8_t header[FLAC_HEADER_BYTES];
    memset(header, 0, sizeof header);
    Md5Context md5;
    md5_init(&md5);
    FILE* out = part.file;
    // Frames go to the file as they are, one write each: a stream buffer
    // would copy every byte once more and cut a frame into several writes.
    setvbuf(out, nullptr, _IONBF, 0);
    int ok = fwrite(header, 1, sizeof header, out) == sizeof header;
    int write_failed = !ok;  // a full or failing disk: "cannot write <path>"

    if (ok && sample_count > 0) {
        Pipeline pipeline;
        pipeline.work = (FlacWorkArea*)area;
        pipeline.blocks = (FlacBlock*)(area + blocks_offset(threads));
        pipeline.encoded = area + flags_offset(threads);
        pipeline.depth = depth;
        // A track of a few blocks needs no more threads than blocks.
        const uint64_t total_blocks = (sample_count + FLAC_MAX_BLOCK - 1) / FLAC_MAX_BLOCK;
        const int helpers_wanted = (uint64_t)threads - 1 < total_blocks ? threads - 1 : (int)total_blocks - 1;
        std::thread helpers[FLAC_MAX_THREADS];
        int helpers_started = 0;
        while (helpers_started < helpers_wanted &&
               start_helper(&helpers[helpers_started], &pipeline, &pipeline.work[helpers_started + 1]))
            ++helpers_started;

        const TrackRun run = {source, out, sample_count, progress, known_md5 ? nullptr : &md5};
        const int result = run_blocks(&pipeline, &run);
        {
            std::lock_guard<std::mutex> held(pipeline.lock);
            pipeline.stop = 1;
            pipeline.published_cv.notify_all();
        }
        for (int i = 0; i < helpers_started; ++i) helpers[i].join();

        if (result != TRACK_OK) ok = 0;
        if (result == TRACK_CANCELLED) set_error(error, error_capacity, "cancelled");
        if (result == TRACK_SHORT_READ) set_error(error, error_capacity, "the disc image ends inside an audio track");
        if (result == TRACK_WRITE_FAILED) write_failed = 1;
    }

    if (ok) {
        unsigned char digest[16];
        md5_final(&md5, digest);
        build_stream_header(header, sample_count, known_md5 ? known_md5 : digest);
        ok = seek_to(out, 0);
        if (ok) ok = fwrite(header, 1, sizeof header, out) == sizeof header;
        write_failed = !ok;
    }
    free(area);
    if (ok) {
        if (part_commit(&part)) return 1;
        write_failed = 1;
    }
    part_discard(&part);
    if (write_failed) set_error(error, error_capacity, "cannot write %s", path);
    return 0;
}
