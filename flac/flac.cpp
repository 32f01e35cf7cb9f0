// FLAC stream and frames: the per-track loop, the stream header and the
// ".part" file discipline.
#include "flac/flac.h"

#include <stdlib.h>
#include <string.h>

#include "checks/md5.h"
#include "core/paths.h"

namespace {

enum { READ_BYTES = FLAC_MAX_BLOCK * 4, PART_PATH_CAPACITY = 2100 };

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

inline int16_t le16(const uint8_t* p) { return (int16_t)(uint16_t)(p[0] | (p[1] << 8)); }

// Reads, analyses and writes one frame. Returns 1; 0 with the message
// already written when the source fails; -1 without a message when the
// frame cannot be written.
int encode_block(FILE* source, FILE* out, FlacWorkArea* work, uint8_t* read_buffer, uint32_t n,
                 int full_block, uint32_t frame_number, Md5Context* md5, char* error,
                 size_t error_capacity) {
    if (fread(read_buffer, 4, n, source) != n) {
        set_error(error, error_capacity, "the disc image ends inside an audio track");
        return 0;
    }
    md5_update(md5, read_buffer, (size_t)n * 4);

    int32_t* left = work->left;
    int32_t* right = work->right;
    int32_t* mid = work->mid;
    int32_t* side = work->side;
    for (uint32_t i = 0; i < n; ++i) {
        const int32_t l = le16(read_buffer + 4 * i), r = le16(read_buffer + 4 * i + 2);
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
    w.bytes = work->frame_bytes;
    w.length = 0;
    w.accumulator = 0;
    w.pending = 0;
    put_bits(&w, 0xFFF8, 16);
    put_bits(&w, full_block ? 12 : 7, 4);
    put_bits(&w, 9, 4);  // 44.1 kHz
    put_bits(&w, assignment, 4);
    put_bits(&w, 8, 4);  // 16 bits per sample, reserved 0
    put_frame_number(&w, frame_number);
    if (!full_block) put_bits(&w, n - 1, 16);
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

    return fwrite(w.bytes, 1, (size_t)w.length, out) == w.length ? 1 : -1;
}

}  // namespace

int encode_track_flac(FILE* source, uint64_t sample_count, const char* path, ProgressFn progress,
                      uint64_t progress_user, double low_fraction, double high_fraction, int* cancel,
                      char* error, size_t error_capacity) {
    FlacWorkArea* work = (FlacWorkArea*)calloc(1, sizeof(FlacWorkArea));
    if (!work) {
        set_error(error, error_capacity, "out of memory");
        return 0;
    }
    char part_path[PART_PATH_CAPACITY];
    const int part_length = snprintf(part_path, sizeof part_path, "%s.part", path);
    // A cut name could land on another file, even the final path itself.
    if (part_length < 0 || (size_t)part_length >= sizeof part_path) {
        free(work);
        set_error(error, error_capacity, "cannot write %s", path);
        return 0;
    }
    FILE* out = open_utf8(part_path, "wb");
    if (!out) {
        free(work);
        set_error(error, error_capacity, "cannot write %s", path);
        return 0;
    }

    uint8_t header[FLAC_HEADER_BYTES];
    uint8_t read_buffer[READ_BYTES];
    memset(header, 0, sizeof header);
    Md5Context md5;
    md5_init(&md5);
    int ok = fwrite(header, 1, sizeof header, out) == sizeof header;
    int write_failed = !ok;  // a full or failing disk: "cannot write <path>"

    uint64_t done = 0;
    uint32_t frames = 0;
    while (ok && done < sample_count) {
        const uint64_t remaining = sample_count - done;
        const uint32_t n = remaining < FLAC_MAX_BLOCK ? (uint32_t)remaining : (uint32_t)FLAC_MAX_BLOCK;
        if (cancel && __atomic_load_n(cancel, __ATOMIC_RELAXED)) {
            set_error(error, error_capacity, "cancelled");
            ok = 0;
            break;
        }
        const int block = encode_block(source, out, work, read_buffer, n, remaining >= FLAC_MAX_BLOCK, frames, &md5,
                                       error, error_capacity);
        if (block != 1) {
            write_failed = block < 0;
            ok = 0;
            break;
        }
        done += n;
        ++frames;
        if (progress && frames % FLAC_PROGRESS_FRAMES == 0) {
            double fraction = low_fraction + ((double)done * (high_fraction - low_fraction)) / (double)sample_count;
            // Rounding may pass the range's end, where the next track starts.
            if (done >= sample_count || fraction > high_fraction) fraction = high_fraction;
            progress(progress_user, fraction, nullptr);
        }
    }

    if (ok) {
        unsigned char digest[16];
        md5_final(&md5, digest);
        build_stream_header(header, sample_count, digest);
        ok = seek_to(out, 0);
        if (ok) ok = fwrite(header, 1, sizeof header, out) == sizeof header;
        write_failed = !ok;
    }
    // Buffered bytes that do not fit show up only here.
    const int closed = fclose(out) == 0;
    free(work);
    if (ok && closed) {
        if (move_replace(part_path, path)) return 1;
        write_failed = 1;
    }
    if (write_failed || (ok && !closed)) set_error(error, error_capacity, "cannot write %s", path);
    remove_tree(part_path);
    return 0;
}
