// MD5 after RFC 1321. Little-endian words; the 64 steps are unrolled by
// macro with the RFC's per-round shift amounts and sine-derived constants,
// arranged to shorten the dependency chain between steps (the digest is the
// RFC's: tests compare it with a plain implementation).
#include "base/md5.h"

#include <string.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "base/bytes.h"
#include "base/scoped_file.h"

static inline uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

// One step: a = b + ((a + f(b, c, d) + x + t) <<< s). The chain from one
// step to the next runs through b only, so each step first adds what does
// not depend on b (the message word, the constant and, for G, c & ~d) and
// leaves only f's last operation, one add, the rotate and the add of b on
// it. G is (b & d) | (c & ~d), whose terms have no bit in common, so it
// may be added in two parts. The message words are loaded once per block
// into locals the compiler keeps in registers.
#define MD5_F(a, b, c, d, x, t, s) \
    a += (x) + (uint32_t)(t); \
    a += (d) ^ ((b) & ((c) ^ (d))); \
    a = rotl(a, s) + (b)
#define MD5_G(a, b, c, d, x, t, s) \
    a += (x) + (uint32_t)(t); \
    a += (c) & ~(d); \
    a += (b) & (d); \
    a = rotl(a, s) + (b)
#define MD5_H(a, b, c, d, x, t, s) \
    a += (x) + (uint32_t)(t); \
    a += (b) ^ ((c) ^ (d)); \
    a = rotl(a, s) + (b)
#define MD5_I(a, b, c, d, x, t, s) \
    a += (x) + (uint32_t)(t); \
    a += (c) ^ ((b) | ~(d)); \
    a = rotl(a, s) + (b)
static void md5_blocks(uint32_t state[4], const unsigned char* data, size_t blocks) {
    uint32_t a0 = state[0], b0 = state[1], c0 = state[2], d0 = state[3];
    for (; blocks; --blocks, data += 64) {
        uint32_t x0 = get_le32(data), x1 = get_le32(data + 4), x2 = get_le32(data + 8), x3 = get_le32(data + 12);
        uint32_t x4 = get_le32(data + 16), x5 = get_le32(data + 20), x6 = get_le32(data + 24), x7 = get_le32(data + 28);
        uint32_t x8 = get_le32(data + 32), x9 = get_le32(data + 36), x10 = get_le32(data + 40), x11 = get_le32(data + 44);
        uint32_t x12 = get_le32(data + 48), x13 = get_le32(data + 52), x14 = get_le32(data + 56), x15 = get_le32(data + 60);
        uint32_t a = a0, b = b0, c = c0, d = d0;
        MD5_F(a, b, c, d, x0, 0xd76aa478, 7);
        MD5_F(d, a, b, c, x1, 0xe8c7b756, 12);
        MD5_F(c, d, a, b, x2, 0x242070db, 17);
        MD5_F(b, c, d, a, x3, 0xc1bdceee, 22);
        MD5_F(a, b, c, d, x4, 0xf57c0faf, 7);
        MD5_F(d, a, b, c, x5, 0x4787c62a, 12);
        MD5_F(c, d, a, b, x6, 0xa8304613, 17);
        MD5_F(b, c, d, a, x7, 0xfd469501, 22);
        MD5_F(a, b, c, d, x8, 0x698098d8, 7);
        MD5_F(d, a, b, c, x9, 0x8b44f7af, 12);
        MD5_F(c, d, a, b, x10, 0xffff5bb1, 17);
        MD5_F(b, c, d, a, x11, 0x895cd7be, 22);
        MD5_F(a, b, c, d, x12, 0x6b901122, 7);
        MD5_F(d, a, b, c, x13, 0xfd987193, 12);
        MD5_F(c, d, a, b, x14, 0xa679438e, 17);
        MD5_F(b, c, d, a, x15, 0x49b40821, 22);

        MD5_G(a, b, c, d, x1, 0xf61e2562, 5);
        MD5_G(d, a, b, c, x6, 0xc040b340, 9);
        MD5_G(c, d, a, b, x11, 0x265e5a51, 14);
        MD5_G(b, c, d, a, x0, 0xe9b6c7aa, 20);
        MD5_G(a, b, c, d, x5, 0xd62f105d, 5);
        MD5_G(d, a, b, c, x10, 0x02441453, 9);
        MD5_G(c, d, a, b, x15, 0xd8a1e681, 14);
        MD5_G(b, c, d, a, x4, 0xe7d3fbc8, 20);
        MD5_G(a, b, c, d, x9, 0x21e1cde6, 5);
        MD5_G(d, a, b, c, x14, 0xc33707d6, 9);
        MD5_G(c, d, a, b, x3, 0xf4d50d87, 14);
        MD5_G(b, c, d, a, x8, 0x455a14ed, 20);
        MD5_G(a, b, c, d, x13, 0xa9e3e905, 5);
        MD5_G(d, a, b, c, x2, 0xfcefa3f8, 9);
        MD5_G(c, d, a, b, x7, 0x676f02d9, 14);
        MD5_G(b, c, d, a, x12, 0x8d2a4c8a, 20);

        MD5_H(a, b, c, d, x5, 0xfffa3942, 4);
        MD5_H(d, a, b, c, x8, 0x8771f681, 11);
        MD5_H(c, d, a, b, x11, 0x6d9d6122, 16);
        MD5_H(b, c, d, a, x14, 0xfde5380c, 23);
        MD5_H(a, b, c, d, x1, 0xa4beea44, 4);
        MD5_H(d, a, b, c, x4, 0x4bdecfa9, 11);
        MD5_H(c, d, a, b, x7, 0xf6bb4b60, 16);
        MD5_H(b, c, d, a, x10, 0xbebfbc70, 23);
        MD5_H(a, b, c, d, x13, 0x289b7ec6, 4);
        MD5_H(d, a, b, c, x0, 0xeaa127fa, 11);
        MD5_H(c, d, a, b, x3, 0xd4ef3085, 16);
        MD5_H(b, c, d, a, x6, 0x04881d05, 23);
        MD5_H(a, b, c, d, x9, 0xd9d4d039, 4);
        MD5_H(d, a, b, c, x12, 0xe6db99e5, 11);
        MD5_H(c, d, a, b, x15, 0x1fa27cf8, 16);
        MD5_H(b, c, d, a, x2, 0xc4ac5665, 23);

        MD5_I(a, b, c, d, x0, 0xf4292244, 6);
        MD5_I(d, a, b, c, x7, 0x432aff97, 10);
        MD5_I(c, d, a, b, x14, 0xab9423a7, 15);
        MD5_I(b, c, d, a, x5, 0xfc93a039, 21);
        MD5_I(a, b, c, d, x12, 0x655b59c3, 6);
        MD5_I(d, a, b, c, x3, 0x8f0ccc92, 10);
        MD5_I(c, d, a, b, x10, 0xffeff47d, 15);
        MD5_I(b, c, d, a, x1, 0x85845dd1, 21);
        MD5_I(a, b, c, d, x8, 0x6fa87e4f, 6);
        MD5_I(d, a, b, c, x15, 0xfe2ce6e0, 10);
        MD5_I(c, d, a, b, x6, 0xa3014314, 15);
        MD5_I(b, c, d, a, x13, 0x4e0811a1, 21);
        MD5_I(a, b, c, d, x4, 0xf7537e82, 6);
        MD5_I(d, a, b, c, x11, 0xbd3af235, 10);
        MD5_I(c, d, a, b, x2, 0x2ad7d2bb, 15);
        MD5_I(b, c, d, a, x9, 0xeb86d391, 21);

        a0 += a;
        b0 += b;
        c0 += c;
        d0 += d;
    }
    state[0] = a0;
    state[1] = b0;
    state[2] = c0;
    state[3] = d0;
}

void md5_init(Md5Context* context) {
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
    context->length = 0;
    context->block_used = 0;
}

void md5_update(Md5Context* context, const void* bytes, size_t length) {
    const unsigned char* p = (const unsigned char*)bytes;
    context->length += length;
    if (context->block_used) {
        size_t take = 64 - context->block_used;
        if (take > length) take = length;
        memcpy(context->block + context->block_used, p, take);
        context->block_used += take;
        p += take;
        length -= take;
        if (context->block_used < 64) return;
        md5_blocks(context->state, context->block, 1);
        context->block_used = 0;
    }
    size_t whole = length / 64;
    if (whole) {
        md5_blocks(context->state, p, whole);
        p += whole * 64;
        length -= whole * 64;
    }
    if (length) {
        memcpy(context->block, p, length);
        context->block_used = length;
    }
}

void md5_final(Md5Context* context, unsigned char digest[16]) {
    uint64_t bit_length = context->length * 8;
    // Pad: one 0x80 byte, zeros to 56 mod 64, then the bit length LE.
    unsigned char pad[72] = {0x80};
    size_t pad_length = (context->block_used < 56) ? 56 - context->block_used : 120 - context->block_used;
    for (int i = 0; i < 8; ++i) pad[pad_length + i] = (unsigned char)(bit_length >> (8 * i));
    uint64_t saved = context->length;
    md5_update(context, pad, pad_length + 8);
    context->length = saved;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = (unsigned char)(context->state[i] >> (8 * j));
}

void md5_to_hex(const unsigned char digest[16], char hex[33]) {
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        hex[2 * i] = digits[digest[i] >> 4];
        hex[2 * i + 1] = digits[digest[i] & 15];
    }
    hex[32] = 0;
}

namespace {

// Digests ranges (increasing, not overlapping) from the file's bytes as
// they come, chunk after chunk; one context serves the range under way.
struct RangeWalker {
    Md5Range* ranges;
    int count;
    int next;  // the first range not done
    int open;  // context holds part of ranges[next]
    Md5Context context;
};

int ranges_in_order(const Md5Range* ranges, int count) {
    for (int i = 0; i < count; ++i) {
        if (ranges[i].offset + ranges[i].length < ranges[i].offset) return 0;
        if (i > 0 && ranges[i].offset < ranges[i - 1].offset + ranges[i - 1].length) return 0;
    }
    return 1;
}

// bytes[0..got) are the file's bytes from offset at; got 0 at the end of
// the file settles the ranges of length 0 that start there.
void walker_feed(RangeWalker* w, const unsigned char* bytes, size_t got, uint64_t at) {
    const uint64_t end = at + got;
    while (w->next < w->count) {
        Md5Range* r = &w->ranges[w->next];
        if (r->offset > end || (r->offset == end && r->length > 0)) return;
        if (!w->open) {
            md5_init(&w->context);
            w->open = 1;
        }
        const uint64_t range_end = r->offset + r->length;
        const uint64_t from = r->offset > at ? r->offset : at;
        const uint64_t to = range_end < end ? range_end : end;
        if (to > from) md5_update(&w->context, bytes + (from - at), (size_t)(to - from));
        if (range_end > end) return;
        md5_final(&w->context, r->digest);
        r->done = 1;
        w->open = 0;
        ++w->next;
    }
}

// Reports the fraction of size absorbed so far, never past 1 (a file that
// grew since its size was taken).
void report_read(ProgressFn progress, uint64_t progress_user, uint64_t total, uint64_t size) {
    if (!progress) return;
    double fraction = size == 0 ? 1.0 : (double)total / (double)size;
    progress(progress_user, fraction > 1.0 ? 1.0 : fraction, nullptr);
}

// The whole digest on one thread: read, test cancel, absorb (and feed the
// ranges), report, chunk after chunk. 1 when the whole file was read.
int digest_inline(FILE* file, unsigned char* chunk, uint64_t size, Md5Context* md5, RangeWalker* walker,
                  ProgressFn progress, uint64_t progress_user, const CancelFlag* cancel, uint64_t* total) {
    for (;;) {
        size_t got = fread(chunk, 1, MD5_FILE_CHUNK, file);
        if (got == 0) break;
        if (is_cancelled(cancel)) return 0;
        md5_update(md5, chunk, got);
        walker_feed(walker, chunk, got, *total);
        *total += got;
        report_read(progress, progress_user, *total, size);
    }
    // A read error must not pass for the digest of a shorter file.
    return !ferror(file);
}

// With two threads the reading (the copy out of the system's cache) and
// the ranges' digests go to a reader thread, and the calling thread keeps
// only the whole file's digest, the one chain that cannot be split. Chunk
// k lives in slot k % READ_RING until the calling thread has absorbed it;
// the reader digests the ranges of a chunk after handing it over and
// before it reads the next. Fields below the lock are used under it.
enum { READ_RING = 4 };

struct ReadAhead {
    FILE* file;
    unsigned char* slots;
    RangeWalker* walker;
    size_t got[READ_RING];
    std::mutex lock;
    std::condition_variable read_cv;      // a chunk was read, or the end
    std::condition_variable absorbed_cv;  // a slot came free, or stop
    uint64_t read = 0;                    // chunks handed over
    uint64_t absorbed = 0;                // chunks the calling thread is done with
    int ended = 0;                        // the reader reached the end (or an error)
    int failed = 0;                       // ... and it was a read error
    int stop = 0;                         // the calling thread wants no more
};

void reader_main(ReadAhead* r) {
    uint64_t at = 0;
    for (uint64_t k = 0;; ++k) {
        const uint32_t slot = (uint32_t)(k % READ_RING);
        {
            std::unique_lock<std::mutex> held(r->lock);
            r->absorbed_cv.wait(held, [r, k] { return r->stop || k - r->absorbed < READ_RING; });
            if (r->stop) return;
        }
        unsigned char* chunk = r->slots + (size_t)slot * MD5_FILE_CHUNK;
        const size_t got = fread(chunk, 1, MD5_FILE_CHUNK, r->file);
        {
            std::lock_guard<std::mutex> held(r->lock);
            if (got == 0) {
                r->ended = 1;
                r->failed = ferror(r->file) != 0;
                r->read_cv.notify_one();
                return;
            }
            r->got[slot] = got;
            ++r->read;
            r->read_cv.notify_one();
        }
        // The slot stays put until the calling thread absorbs it, and this
        // thread reads into it again only after that.
        walker_feed(r->walker, chunk, got, at);
        at += got;
    }
}

// digest_inline's loop with the reads and the ranges on the reader thread.
// 0 when the reader cannot be started (nothing was read then) or the
// digest fails; *started tells which.
int digest_with_reader(FILE* file, unsigned char* slots, uint64_t size, Md5Context* md5, RangeWalker* walker,
                       ProgressFn progress, uint64_t progress_user, const CancelFlag* cancel, uint64_t* total,
                       int* started) {
    ReadAhead r;
    r.file = file;
    r.slots = slots;
    r.walker = walker;
    std::thread reader;
    try {
        reader = std::thread(reader_main, &r);
    } catch (const std::system_error&) {
        *started = 0;
        return 0;
    }
    *started = 1;
    int ok = 1;
    for (uint64_t k = 0;; ++k) {
        const uint32_t slot = (uint32_t)(k % READ_RING);
        size_t got;
        {
            std::unique_lock<std::mutex> held(r.lock);
            r.read_cv.wait(held, [&r, k] { return r.read > k || r.ended; });
            if (r.read == k) {  // ended with every chunk absorbed
                ok = !r.failed;
                break;
            }
            got = r.got[slot];
        }
        if (is_cancelled(cancel)) {
            ok = 0;
            break;
        }
        md5_update(md5, slots + (size_t)slot * MD5_FILE_CHUNK, got);
        {
            std::lock_guard<std::mutex> held(r.lock);
            ++r.absorbed;
            r.absorbed_cv.notify_one();
        }
        *total += got;
        report_read(progress, progress_user, *total, size);
    }
    {
        std::lock_guard<std::mutex> held(r.lock);
        r.stop = 1;
        r.absorbed_cv.notify_one();
    }
    reader.join();
    return ok;
}

}  // namespace

int md5_file_ranges(const char* path, char* md5_hex, ProgressFn progress, uint64_t progress_user,
                    const CancelFlag* cancel, FileStamp* stamp_out, Md5Range* ranges, int range_count,
                    int threads) {
    for (int i = 0; i < range_count; ++i) ranges[i].done = 0;
    if (!ranges_in_order(ranges, range_count)) range_count = 0;
    ScopedFile file(open_utf8(path, "rb"));
    FileStamp stamp;
    if (!file || !stream_stamp(file.get(), &stamp)) return 0;
    const uint64_t size = stamp.size;
    if (threads <= 0) threads = std::thread::hardware_concurrency() >= 2 ? 2 : 1;
    // A file of one chunk has nothing to overlap.
    int ahead = threads >= 2 && size > MD5_FILE_CHUNK;
    std::unique_ptr<unsigned char[]> slots(
        new (std::nothrow) unsigned char[(size_t)MD5_FILE_CHUNK * (ahead ? READ_RING : 1)]);
    if (!slots) return 0;
    RangeWalker walker = {ranges, range_count, 0, 0, {}};
    Md5Context md5;
    md5_init(&md5);
    uint64_t total = 0;
    int ok = 0, started = 0;
    if (ahead)
        ok = digest_with_reader(file.get(), slots.get(), size, &md5, &walker, progress, progress_user, cancel, &total,
                                &started);
    if (!started) ok = digest_inline(file.get(), slots.get(), size, &md5, &walker, progress, progress_user, cancel, &total);
    if (!ok) {
        for (int i = 0; i < range_count; ++i) ranges[i].done = 0;
        return 0;
    }
    walker_feed(&walker, nullptr, 0, total);
    unsigned char digest[16];
    md5_final(&md5, digest);
    md5_to_hex(digest, md5_hex);
    if (stamp_out) *stamp_out = stamp;
    return 1;
}

int md5_file(const char* path, char* md5_hex, ProgressFn progress, uint64_t progress_user,
             const CancelFlag* cancel, FileStamp* stamp_out) {
    return md5_file_ranges(path, md5_hex, progress, progress_user, cancel, stamp_out, nullptr, 0, 1);
}
