#include "flac/flac_reference.h"

#include <stdio.h>
#include <string.h>

#include <memory>

#include "base/md5.h"

namespace ref {

static int default_isa() {
    static const int isa = subframe_isa();
    return isa;
}

std::vector<int> analysis_isas() {
    const int keep = default_isa();
    std::vector<int> isas = {SUBFRAME_ISA_BASE};
    if (subframe_use_isa(SUBFRAME_ISA_AVX2)) isas.push_back(SUBFRAME_ISA_AVX2);
    subframe_use_isa(keep);
    return isas;
}

ScopedIsa::ScopedIsa(int isa) {
    default_isa();
    subframe_use_isa(isa);
}

ScopedIsa::~ScopedIsa() { subframe_use_isa(default_isa()); }

uint8_t crc8(const uint8_t* bytes, size_t length) {
    uint8_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int b = 0; b < 8; ++b) crc = (crc & 0x80) ? (uint8_t)((crc << 1) ^ 0x07) : (uint8_t)(crc << 1);
    }
    return crc;
}

uint16_t crc16(const uint8_t* bytes, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= (uint16_t)(bytes[i] << 8);
        for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? (uint16_t)((crc << 1) ^ 0x8005) : (uint16_t)(crc << 1);
    }
    return crc;
}

static int32_t residual(const int32_t* x, uint32_t i, uint32_t k) {
    switch (k) {
    case 0: return x[i];
    case 1: return x[i] - x[i - 1];
    case 2: return x[i] - 2 * x[i - 1] + x[i - 2];
    case 3: return x[i] - 3 * x[i - 1] + 3 * x[i - 2] - x[i - 3];
    default: return x[i] - 4 * x[i - 1] + 6 * x[i - 2] - 4 * x[i - 3] + x[i - 4];
    }
}

// Fewest bits for residuals u[from..to) and the parameter that gives them.
static uint64_t search_parameter(const uint32_t* u, uint32_t from, uint32_t to, uint32_t* param) {
    const uint64_t n = to - from;
    uint64_t sum = 0;
    for (uint32_t i = from; i < to; ++i) sum += u[i];
    unsigned estimate = 14;
    for (unsigned e = 0; e <= 13; ++e)
        if (n * ((uint64_t)1 << (e + 1)) >= sum) {
            estimate = e;
            break;
        }
    const unsigned lo = estimate == 0 ? 0 : estimate - 1;
    const unsigned hi = estimate + 1 > 14 ? 14 : estimate + 1;
    uint64_t best = 0;
    for (unsigned c = lo; c <= hi; ++c) {
        uint64_t bits = n * (c + 1);
        for (uint32_t i = from; i < to; ++i) bits += u[i] >> c;
        if (c == lo || bits < best) {
            best = bits;
            *param = c;
        }
    }
    return best;
}

void choose(const int32_t* x, uint32_t count, uint32_t bits, SubframeChoice* out, SubframeChoice* trial) {
    bool constant = true;
    for (uint32_t i = 1; i < count; ++i)
        if (x[i] != x[0]) constant = false;
    if (count < 2 || constant) {
        out->kind = SUBFRAME_CONSTANT;
        out->cost_bits = bits + 8;
        return;
    }
    out->kind = SUBFRAME_VERBATIM;
    out->cost_bits = (uint64_t)count * bits + 8;
    const uint32_t max_order = (count < 5 ? count : 5) - 1;
    for (uint32_t k = 0; k <= max_order; ++k) {
        for (uint32_t i = k; i < count; ++i) {
            const int32_t e = residual(x, i, k);
            trial->residuals[i] = ((uint32_t)e << 1) ^ (uint32_t)(e >> 31);
        }
        uint64_t best = 0;
        bool have = false;
        for (uint32_t p = 0; p <= 8; ++p) {
            if (count % (1u << p) != 0 || (count >> p) <= k) break;
            const uint32_t size = count >> p;
            uint32_t local[256];
            uint64_t cost = 6;
            for (uint32_t j = 0; j < (1u << p); ++j) {
                const uint32_t from = j == 0 ? k : j * size;
                cost += 4 + search_parameter(trial->residuals, from, (j + 1) * size, &local[j]);
            }
            if (!have || cost < best) {
                have = true;
                best = cost;
                trial->partition_order = p;
                for (uint32_t j = 0; j < (1u << p); ++j) trial->rice_params[j] = local[j];
            }
        }
        const uint64_t total = 8 + (uint64_t)k * bits + best;
        if (total < out->cost_bits) {
            out->kind = SUBFRAME_FIXED;
            out->order = k;
            out->partition_order = trial->partition_order;
            for (uint32_t j = 0; j < (1u << trial->partition_order); ++j) out->rice_params[j] = trial->rice_params[j];
            out->cost_bits = total;
            for (uint32_t i = 0; i < count; ++i) out->residuals[i] = trial->residuals[i];
        }
    }
}

void write(FrameBitWriter* w, const int32_t* x, uint32_t count, uint32_t bits, const SubframeChoice* choice) {
    const uint32_t mask = (uint32_t)((1ull << bits) - 1);
    if (choice->kind == SUBFRAME_CONSTANT) {
        put_bits(w, 0, 8);
        put_bits(w, (uint32_t)x[0] & mask, (int)bits);
        return;
    }
    if (choice->kind == SUBFRAME_VERBATIM) {
        put_bits(w, 2, 8);
        for (uint32_t i = 0; i < count; ++i) put_bits(w, (uint32_t)x[i] & mask, (int)bits);
        return;
    }
    put_bits(w, 0x10 | (choice->order << 1), 8);
    for (uint32_t i = 0; i < choice->order; ++i) put_bits(w, (uint32_t)x[i] & mask, (int)bits);
    put_bits(w, 0, 2);
    put_bits(w, choice->partition_order, 4);
    const uint32_t size = count >> choice->partition_order;
    for (uint32_t j = 0; j < (1u << choice->partition_order); ++j) {
        const uint32_t c = choice->rice_params[j];
        put_bits(w, c, 4);
        for (uint32_t i = j == 0 ? choice->order : j * size; i < (j + 1) * size; ++i) {
            const uint32_t u = choice->residuals[i];
            uint32_t q = u >> c;
            while (q >= 32) {
                put_bits(w, 0, 32);
                q -= 32;
            }
            put_bits(w, 1, (int)q + 1);
            if (c) put_bits(w, u & ((1u << c) - 1), (int)c);
        }
    }
}

std::string encode_stream(const uint8_t* pcm, uint64_t sample_count) {
    std::string file = "fLaC";
    const uint8_t info[] = {0x80, 0, 0, 34, 0x10, 0x00, 0x10, 0x00, 0, 0, 0, 0, 0, 0, 0x0A, 0xC4, 0x42,
                            (uint8_t)(0xF0 | ((sample_count >> 32) & 0x0F)), (uint8_t)(sample_count >> 24),
                            (uint8_t)(sample_count >> 16), (uint8_t)(sample_count >> 8), (uint8_t)sample_count};
    file.append((const char*)info, sizeof info);
    Md5Context md5;
    md5_init(&md5);
    md5_update(&md5, pcm, (size_t)sample_count * 4);
    unsigned char digest[16];
    md5_final(&md5, digest);
    file.append((const char*)digest, 16);

    struct Channels {
        int32_t x[4][4096];  // left, right, mid, side
        SubframeChoice choice[4], trial;
        uint8_t frame[24640];
    };
    std::unique_ptr<Channels> c(new Channels());
    for (uint64_t done = 0, number = 0; done < sample_count; done += 4096, ++number) {
        const uint32_t n = sample_count - done < 4096 ? (uint32_t)(sample_count - done) : 4096;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* p = pcm + 4 * (done + i);
            const int32_t l = (int16_t)(uint16_t)(p[0] | p[1] << 8), r = (int16_t)(uint16_t)(p[2] | p[3] << 8);
            c->x[0][i] = l;
            c->x[1][i] = r;
            c->x[2][i] = (l + r) >> 1;
            c->x[3][i] = l - r;
        }
        for (int k = 0; k < 4; ++k) choose(c->x[k], n, k == 3 ? 17 : 16, &c->choice[k], &c->trial);
        // Candidates in order: (code, first channel, second channel).
        const int pairs[4][3] = {{1, 0, 1}, {8, 0, 3}, {9, 3, 1}, {10, 2, 3}};
        int best = 0;
        for (int k = 1; k < 4; ++k)
            if (c->choice[pairs[k][1]].cost_bits + c->choice[pairs[k][2]].cost_bits <
                c->choice[pairs[best][1]].cost_bits + c->choice[pairs[best][2]].cost_bits)
                best = k;
        FrameBitWriter w{};
        w.bytes = c->frame;
        put_bits(&w, 0xFFF8, 16);
        put_bits(&w, n == 4096 ? 12 : 7, 4);
        put_bits(&w, 9, 4);
        put_bits(&w, (uint64_t)pairs[best][0], 4);
        put_bits(&w, 8, 4);
        if (number < 0x80) {
            put_bits(&w, number, 8);
        } else if (number < 0x800) {
            put_bits(&w, 0xC0 | (number >> 6), 8);
            put_bits(&w, 0x80 | (number & 0x3F), 8);
        } else {
            put_bits(&w, 0xE0 | (number >> 12), 8);
            put_bits(&w, 0x80 | ((number >> 6) & 0x3F), 8);
            put_bits(&w, 0x80 | (number & 0x3F), 8);
        }
        if (n != 4096) put_bits(&w, n - 1, 16);
        put_bits(&w, crc8(w.bytes, (size_t)w.length), 8);
        for (int k = 1; k <= 2; ++k) {
            const int ch = pairs[best][k];
            write(&w, c->x[ch], n, ch == 3 ? 17 : 16, &c->choice[ch]);
        }
        if (w.pending) put_bits(&w, 0, 8 - w.pending);
        put_bits(&w, crc16(w.bytes, (size_t)w.length), 16);
        file.append((const char*)w.bytes, (size_t)w.length);
    }
    return file;
}

std::string compare_choices(const SubframeChoice& a, const SubframeChoice& b, uint32_t count) {
    char msg[200];
    if (a.kind != b.kind || a.cost_bits != b.cost_bits) {
        snprintf(msg, sizeof msg, "kind %d/%d cost %llu/%llu", a.kind, b.kind, (unsigned long long)a.cost_bits,
                 (unsigned long long)b.cost_bits);
        return msg;
    }
    if (a.kind != SUBFRAME_FIXED) return "";
    if (a.order != b.order || a.partition_order != b.partition_order) {
        snprintf(msg, sizeof msg, "order %u/%u partition order %u/%u", a.order, b.order, a.partition_order,
                 b.partition_order);
        return msg;
    }
    for (uint32_t j = 0; j < (1u << a.partition_order); ++j)
        if (a.rice_params[j] != b.rice_params[j]) {
            snprintf(msg, sizeof msg, "parameter %u: %u/%u", j, a.rice_params[j], b.rice_params[j]);
            return msg;
        }
    for (uint32_t i = a.order; i < count; ++i)
        if (a.residuals[i] != b.residuals[i]) {
            snprintf(msg, sizeof msg, "residual %u: %u/%u", i, a.residuals[i], b.residuals[i]);
            return msg;
        }
    return "";
}

// ---- reader ----

namespace {

struct BitReader {
    const uint8_t* data;
    size_t size;
    size_t bit;  // position in bits
    bool overrun;
    uint32_t get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (bit >= size * 8) {
                overrun = true;
                return 0;
            }
            v = (v << 1) | ((data[bit >> 3] >> (7 - (bit & 7))) & 1);
            ++bit;
        }
        return v;
    }
    int32_t get_signed(int n) {
        uint32_t v = get(n);
        if (v & (1u << (n - 1))) v |= ~((1u << n) - 1);
        return (int32_t)v;
    }
};

std::string fault(const char* what, size_t frame) {
    return std::string(what) + " in frame " + std::to_string(frame);
}

std::string read_subframe(BitReader& r, uint32_t n, int bits, int32_t* x, int* kind, uint32_t* order,
                          size_t frame) {
    if (r.get(1) != 0) return fault("subframe padding bit set", frame);
    const uint32_t type = r.get(6);
    if (r.get(1) != 0) return fault("wasted bits", frame);
    if (type == 0) {
        *kind = SUBFRAME_CONSTANT;
        const int32_t v = r.get_signed(bits);
        for (uint32_t i = 0; i < n; ++i) x[i] = v;
        return "";
    }
    if (type == 1) {
        *kind = SUBFRAME_VERBATIM;
        for (uint32_t i = 0; i < n; ++i) x[i] = r.get_signed(bits);
        return "";
    }
    if (type < 8 || type > 12) return fault("unexpected subframe type", frame);
    *kind = SUBFRAME_FIXED;
    const uint32_t k = type - 8;
    *order = k;
    if (k > n) return fault("order above block size", frame);
    for (uint32_t i = 0; i < k; ++i) x[i] = r.get_signed(bits);
    if (r.get(2) != 0) return fault("residual method other than 4-bit Rice", frame);
    const uint32_t po = r.get(4);
    if ((n >> po) << po != n || (n >> po) < k) return fault("bad partition order", frame);
    const uint32_t size = n >> po;
    uint32_t i = k;
    for (uint32_t j = 0; j < (1u << po); ++j) {
        const uint32_t c = r.get(4);
        if (c == 15) return fault("escaped partition", frame);
        for (uint32_t end = (j + 1) * size; i < end; ++i) {
            uint32_t q = 0;
            while (r.get(1) == 0) {
                if (r.overrun) return fault("overrun in unary code", frame);
                ++q;
            }
            const uint32_t u = (q << c) | (c ? r.get((int)c) : 0);
            const int32_t e = (int32_t)(u >> 1) ^ -(int32_t)(u & 1);
            int64_t p = 0;
            switch (k) {
            case 0: p = 0; break;
            case 1: p = x[i - 1]; break;
            case 2: p = 2LL * x[i - 1] - x[i - 2]; break;
            case 3: p = 3LL * x[i - 1] - 3LL * x[i - 2] + x[i - 3]; break;
            default: p = 4LL * x[i - 1] - 6LL * x[i - 2] + 4LL * x[i - 3] - x[i - 4]; break;
            }
            x[i] = (int32_t)(p + e);
        }
    }
    return "";
}

}  // namespace

std::string read_stream(const std::string& file, Stream* s) {
    const uint8_t* d = (const uint8_t*)file.data();
    if (file.size() < 42 || memcmp(d, "fLaC", 4) != 0) return "no stream header";
    if (d[4] != 0x80 || d[5] != 0 || d[6] != 0 || d[7] != 34) return "not a lone STREAMINFO block";
    BitReader h{d + 8, 34, 0, false};
    s->min_block = h.get(16);
    s->max_block = h.get(16);
    s->min_frame = h.get(24);
    s->max_frame = h.get(24);
    s->sample_rate = h.get(20);
    s->channels = h.get(3) + 1;
    s->bits = h.get(5) + 1;
    s->total_samples = (uint64_t)h.get(4) << 32;
    s->total_samples |= h.get(32);
    memcpy(s->md5, d + 26, 16);
    s->frames.clear();
    s->pcm.clear();

    size_t pos = 42;
    static int32_t ch[2][65536];
    while (pos < file.size()) {
        const size_t index = s->frames.size();
        BitReader r{d + pos, file.size() - pos, 0, false};
        FrameInfo f{};
        if (r.get(16) != 0xFFF8) return fault("no frame sync", index);
        f.block_size_code = r.get(4);
        if (r.get(4) != 9) return fault("sample rate code not 9", index);
        f.assignment = r.get(4);
        if (r.get(4) != 8) return fault("sample size code not 16 bits", index);
        // UTF-8-style number.
        uint32_t lead = r.get(8), extra = 0, v = 0;
        if (lead < 0x80) v = lead;
        else if ((lead & 0xE0) == 0xC0) extra = 1, v = lead & 0x1F;
        else if ((lead & 0xF0) == 0xE0) extra = 2, v = lead & 0x0F;
        else if ((lead & 0xF8) == 0xF0) extra = 3, v = lead & 0x07;
        else return fault("bad frame number", index);
        for (uint32_t i = 0; i < extra; ++i) {
            const uint32_t b = r.get(8);
            if ((b & 0xC0) != 0x80) return fault("bad frame number continuation", index);
            v = (v << 6) | (b & 0x3F);
        }
        // Shortest form only.
        if ((extra == 1 && v < 0x80) || (extra == 2 && v < 0x800) || (extra == 3 && v < 0x10000))
            return fault("overlong frame number", index);
        f.frame_number = v;
        if (f.block_size_code == 12) f.block_size = 4096;
        else if (f.block_size_code == 7) f.block_size = r.get(16) + 1;
        else return fault("unexpected block size code", index);
        const size_t header = r.bit / 8;
        if (r.overrun || r.get(8) != crc8(d + pos, header)) return fault("bad CRC-8", index);
        f.header_bytes = (uint32_t)header + 1;
        const uint32_t n = f.block_size;
        int widths[2] = {16, 16};
        switch (f.assignment) {
        case 1: break;
        case 8: widths[1] = 17; break;
        case 9: widths[0] = 17; break;
        case 10: widths[1] = 17; break;
        default: return fault("unexpected channel assignment", index);
        }
        for (int c = 0; c < 2; ++c) {
            std::string e = read_subframe(r, n, widths[c], ch[c], &f.kinds[c], &f.orders[c], index);
            if (!e.empty()) return e;
            if (r.overrun) return fault("subframe runs past the file", index);
        }
        if (r.bit % 8) {
            const int pad = 8 - (int)(r.bit % 8);
            if (r.get(pad) != 0) return fault("non-zero padding", index);
        }
        const size_t body = r.bit / 8;
        if (r.get(16) != crc16(d + pos, body) || r.overrun) return fault("bad CRC-16", index);
        f.frame_bytes = (uint32_t)body + 2;
        for (uint32_t i = 0; i < n; ++i) {
            int32_t a = ch[0][i], b = ch[1][i], left = a, right = b;
            if (f.assignment == 8) right = a - b;
            else if (f.assignment == 9) left = a + b;
            else if (f.assignment == 10) {
                const int32_t mid = (int32_t)(((uint32_t)a << 1) | ((uint32_t)b & 1));
                left = (mid + b) >> 1;
                right = (mid - b) >> 1;
            }
            if (left < -32768 || left > 32767 || right < -32768 || right > 32767)
                return fault("sample out of 16-bit range", index);
            const uint8_t out[4] = {(uint8_t)left, (uint8_t)(left >> 8), (uint8_t)right, (uint8_t)(right >> 8)};
            s->pcm.insert(s->pcm.end(), out, out + 4);
        }
        s->frames.push_back(f);
        pos += f.frame_bytes;
    }
    return "";
}

}  // namespace ref
