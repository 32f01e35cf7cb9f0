// Subframe analysis and writing.
//
// Cost model, for a partition of n folded residuals u coded with Rice
// parameter c: n * (c + 1) + sum(u >> c) bits. The analysis never writes
// anything; it counts, and gives exactly the choice that recounting every
// partition of every order would give, faster:
//  - every order's residual sums are surveyed first, with a lower bound of
//    its cost; orders are then counted exactly in order of their bounds,
//    and once a bound exceeds the best cost found the rest are skipped;
//  - for a counted order, sums of u >> c are taken once over the finest
//    partitions, for every c any partition at any level tries, and coarser
//    partitions add up their two halves.
#include "flac/subframe.h"

#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

enum { MAX_PARTITION_ORDER = 8, MAX_RICE = 14, RICE_SLOTS = MAX_RICE + 1 };

inline uint32_t fold(int32_t e) { return ((uint32_t)e << 1) ^ (uint32_t)(e >> 31); }

inline int floor_log2(uint64_t v) { return 63 - __builtin_clzll(v); }

// Smallest e in 0..13 with n * 2^(e+1) >= sum, else 14. n >= 1.
// With a = log2(sum) and b = log2(n) rounded down, n * 2^(e+1) < 2^(b+e+2)
// rules out every e below a - b - 1, and e = a - b qualifies, so only
// a - b - 1 needs testing.
inline unsigned rice_estimate(uint64_t n, uint64_t sum) {
    if (sum <= 2 * n) return 0;
    int e = floor_log2(sum) - floor_log2(n) - 1;
    if (e < 0) e = 0;
    if (e >= MAX_RICE) return MAX_RICE;
    e += (n << (e + 1)) < sum;
    return (unsigned)e;
}

// Folded residuals of fixed order k at positions k..count-1; positions below
// k are set to 0 so that whole-partition sums need no special first case.
void compute_residuals(const int32_t* x, uint32_t count, uint32_t k, uint32_t* u) {
    for (uint32_t i = 0; i < k; ++i) u[i] = 0;
    switch (k) {
    case 0:
        for (uint32_t i = 0; i < count; ++i) u[i] = fold(x[i]);
        break;
    case 1:
        for (uint32_t i = 1; i < count; ++i) u[i] = fold(x[i] - x[i - 1]);
        break;
    case 2:
        for (uint32_t i = 2; i < count; ++i) u[i] = fold(x[i] - 2 * x[i - 1] + x[i - 2]);
        break;
    case 3:
        for (uint32_t i = 3; i < count; ++i) u[i] = fold(x[i] - 3 * x[i - 1] + 3 * x[i - 2] - x[i - 3]);
        break;
    default:
        for (uint32_t i = 4; i < count; ++i)
            u[i] = fold(x[i] - 4 * x[i - 1] + 6 * x[i - 2] - 4 * x[i - 3] + x[i - 4]);
        break;
    }
}

// sums[j] = sum over partition j of (u >> c), for parts partitions of size
// positions each. Partial sums stay in 32 bits for at most 1024 values
// (folded residuals of 17-bit samples are below 2^22), then widen.
void shifted_sums(const uint32_t* u, uint32_t parts, uint32_t size, unsigned c, uint64_t* sums) {
    if (size == 16) {
        uint32_t j = 0;
#if defined(__SSE2__)
        // Four partitions per step: four vectors of partial sums, then a
        // transposing add gives the four totals in one vector.
        const __m128i shift = _mm_cvtsi32_si128((int)c);
        const __m128i zero = _mm_setzero_si128();
        for (; j + 4 <= parts; j += 4) {
            const __m128i* p = (const __m128i*)(u + 16 * j);
            __m128i row[4];
            for (int r = 0; r < 4; ++r) {
                const __m128i a = _mm_add_epi32(_mm_srl_epi32(_mm_loadu_si128(p + 4 * r), shift),
                                                _mm_srl_epi32(_mm_loadu_si128(p + 4 * r + 1), shift));
                const __m128i b = _mm_add_epi32(_mm_srl_epi32(_mm_loadu_si128(p + 4 * r + 2), shift),
                                                _mm_srl_epi32(_mm_loadu_si128(p + 4 * r + 3), shift));
                row[r] = _mm_add_epi32(a, b);
            }
            const __m128i t01 = _mm_add_epi32(_mm_unpacklo_epi32(row[0], row[1]), _mm_unpackhi_epi32(row[0], row[1]));
            const __m128i t23 = _mm_add_epi32(_mm_unpacklo_epi32(row[2], row[3]), _mm_unpackhi_epi32(row[2], row[3]));
            const __m128i total = _mm_add_epi32(_mm_unpacklo_epi64(t01, t23), _mm_unpackhi_epi64(t01, t23));
            _mm_storeu_si128((__m128i*)(sums + j), _mm_unpacklo_epi32(total, zero));
            _mm_storeu_si128((__m128i*)(sums + j + 2), _mm_unpackhi_epi32(total, zero));
        }
#endif
        for (; j < parts; ++j) {
            const uint32_t* p = u + 16 * j;
            uint32_t s = 0;
            for (int i = 0; i < 16; ++i) s += p[i] >> c;
            sums[j] = s;
        }
        return;
    }
    for (uint32_t j = 0; j < parts; ++j) {
        const uint32_t* p = u + (size_t)size * j;
        uint64_t total = 0;
        uint32_t left = size;
        while (left) {
            uint32_t m = left < 1024 ? left : 1024;
            uint32_t s = 0;
            for (uint32_t i = 0; i < m; ++i) s += p[i] >> c;
            total += s;
            p += m;
            left -= m;
        }
        sums[j] = total;
    }
}

// Fills the levels above the finest of a partition tree: level p (2^p
// nodes at offset 2^p - 1) holds the sums of the pairs below it.
void build_tree(uint64_t* tree, unsigned top) {
    for (int p = (int)top - 1; p >= 0; --p) {
        const uint32_t m = 1u << p;
        uint64_t* level = tree + m - 1;
        const uint64_t* finer = tree + 2 * m - 1;
        uint32_t j = 0;
#if defined(__SSE2__)
        for (; j + 2 <= m; j += 2) {
            const __m128i a = _mm_loadu_si128((const __m128i*)(finer + 2 * j));
            const __m128i b = _mm_loadu_si128((const __m128i*)(finer + 2 * j + 2));
            _mm_storeu_si128((__m128i*)(level + j),
                             _mm_add_epi64(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b)));
        }
#endif
        for (; j < m; ++j) level[j] = finer[2 * j] + finer[2 * j + 1];
    }
}

// One predictor order's residuals before the exact count: the finest
// partition order allowed, the plain sums of every partition at every level
// (level p at offset 2^p - 1), and a lower bound of the order's cost.
struct OrderSurvey {
    unsigned top;
    uint64_t bound;
    uint64_t sums[2 * FLAC_MAX_PARTITIONS - 1];
};

void survey_order(const uint32_t* u, uint32_t count, uint32_t k, uint32_t bits, OrderSurvey* s) {
    // Finest partition order allowed: count divisible by 2^p and partitions
    // longer than k, for p and every smaller order.
    unsigned top = 0;
    while (top < MAX_PARTITION_ORDER && (count & ((2u << top) - 1)) == 0 && (count >> (top + 1)) > k) ++top;
    s->top = top;
    const uint32_t fine_parts = 1u << top, fine_size = count >> top;
    uint64_t* fine = s->sums + fine_parts - 1;
    shifted_sums(u, fine_parts, fine_size, 0, fine);

    // Since u >> c >= (u - 2^c + 1) / 2^c, n residuals summing to sum take
    // at least n * c + (sum + n) / 2^c bits with parameter c; over real c
    // that is smallest at the c the estimate finds for sum + n. A coarser
    // partition pays at least what its finest parts would, and every
    // partitioning pays 6 bits plus 4 per partition, at least one.
    uint64_t bound = 8 + (uint64_t)k * bits + 6 + 4;
    for (uint32_t j = 0; j < fine_parts; ++j) {
        const uint64_t n = j == 0 ? fine_size - k : fine_size;
        const uint64_t spread = fine[j] + n;
        const unsigned c = rice_estimate(n, spread);
        bound += n * c + (spread >> c);
    }
    s->bound = bound;
    build_tree(s->sums, top);
}

// Best partitioned Rice coding of trial->residuals for predictor order k
// (surveyed in s): fills trial->partition_order and trial->rice_params,
// returns its bits (6 + per partition 4 + the partition's bits).
uint64_t best_partitioning(SubframeChoice* trial, uint32_t count, uint32_t k, const OrderSurvey* s) {
    const unsigned top = s->top;
    const uint32_t* u = trial->residuals;
    const uint32_t fine_parts = 1u << top;
    const uint32_t fine_size = count >> top;
    const uint64_t* sums = s->sums;

    // Estimates everywhere, and the span of parameters any of them tries.
    uint8_t estimate[2 * FLAC_MAX_PARTITIONS - 1];
    unsigned least = MAX_RICE, most = 0;
    for (unsigned p = 0; p <= top; ++p) {
        const uint32_t parts = 1u << p, size = count >> p;
        uint8_t* level = estimate + parts - 1;
        const uint64_t* level_sums = sums + parts - 1;
        level[0] = (uint8_t)rice_estimate(size - k, level_sums[0]);
        if ((size & (size - 1)) == 0) {
            // n = 2^m: the smallest e with 2^(m+e+1) >= sum is
            // ceil(log2(sum)) - m - 1, kept within 0..14.
            const int m = floor_log2(size);
            for (uint32_t j = 1; j < parts; ++j) {
                const uint64_t sum = level_sums[j];
                int e = 64 - __builtin_clzll((sum - (sum != 0)) | 1) - m - 1;
                e = e < 0 ? 0 : e;
                level[j] = (uint8_t)(e > MAX_RICE ? MAX_RICE : e);
            }
        } else {
            for (uint32_t j = 1; j < parts; ++j) level[j] = (uint8_t)rice_estimate(size, level_sums[j]);
        }
        for (uint32_t j = 0; j < parts; ++j) {
            least = level[j] < least ? level[j] : least;
            most = level[j] > most ? level[j] : most;
        }
    }
    const unsigned lowest = least == 0 ? 0 : least - 1;
    const unsigned highest = most == MAX_RICE ? (unsigned)MAX_RICE : most + 1;

    // shifted[c][node]: sum of u >> c over every partition of every level,
    // for the parameters in [lowest, highest].
    static_assert(sizeof(uint64_t) * RICE_SLOTS * (2 * FLAC_MAX_PARTITIONS - 1) < 64 * 1024,
                  "analysis scratch stays small");
    uint64_t shifted[RICE_SLOTS][2 * FLAC_MAX_PARTITIONS - 1];
    for (unsigned c = lowest; c <= highest; ++c) {
        uint64_t* tree = shifted[c];
        if (c == 0)
            memcpy(tree + fine_parts - 1, sums + fine_parts - 1, fine_parts * sizeof(uint64_t));
        else
            shifted_sums(u, fine_parts, fine_size, c, tree + fine_parts - 1);
        build_tree(tree, top);
    }

    // Cost of each partition order; the lowest order wins a tie, so walk
    // from the finest down and let an equal cost replace the best.
    uint64_t best = ~(uint64_t)0;
    uint32_t params[FLAC_MAX_PARTITIONS];
    for (int p = (int)top; p >= 0; --p) {
        const uint32_t parts = 1u << p, size = count >> p;
        uint64_t cost = 6;
        for (uint32_t j = 0; j < parts; ++j) {
            const uint32_t node = parts - 1 + j;
            const uint64_t n = j == 0 ? size - k : size;
            const unsigned e = estimate[node];
            unsigned c = e == 0 ? 0 : e - 1;
            const unsigned hi = e == MAX_RICE ? (unsigned)MAX_RICE : e + 1;
            unsigned best_c = c;
            uint64_t best_bits = n * (c + 1) + shifted[c][node];
            for (++c; c <= hi; ++c) {
                uint64_t bits = n * (c + 1) + shifted[c][node];
                if (bits < best_bits) {
                    best_bits = bits;
                    best_c = c;
                }
            }
            params[j] = best_c;
            cost += 4 + best_bits;
        }
        if (cost <= best) {
            best = cost;
            trial->partition_order = (uint32_t)p;
            memcpy(trial->rice_params, params, parts * sizeof(uint32_t));
        }
    }
    return best;
}

// Emits the oldest 32 of the live bits in acc, big-endian, and drops them
// from the count; live is 32 or more on entry.
static inline uint8_t* flush_word(uint64_t acc, int* live, uint8_t* out) {
    *live -= 32;
    uint32_t word = (uint32_t)(acc >> *live);
    out[0] = (uint8_t)(word >> 24);
    out[1] = (uint8_t)(word >> 16);
    out[2] = (uint8_t)(word >> 8);
    out[3] = (uint8_t)word;
    return out + 4;
}

// Rice codes of u[from..to) with parameter c, through a local 64-bit
// register flushed 32 bits at a time. Leaves the writer as put_bits would.
void write_rice(FrameBitWriter* w, const uint32_t* u, uint32_t from, uint32_t to, unsigned c) {
    uint64_t acc = w->accumulator;
    int live = w->pending;
    uint8_t* out = w->bytes + w->length;
    const uint32_t low_mask = (1u << c) - 1;
    for (uint32_t i = from; i < to; ++i) {
        uint32_t q = u[i] >> c;
        while (q >= 32) {
            acc <<= 32;
            live += 32;
            q -= 32;
            // live was below 32, so one flush brings it below 32 again.
            out = flush_word(acc, &live, out);
        }
        const int n = (int)(q + 1 + c);  // at most 32 + 14 bits
        if (n <= 32) {
            acc = (acc << n) | ((uint64_t)1 << c) | (u[i] & low_mask);
            live += n;
        } else {
            acc = (acc << (q + 1)) | 1;
            live += (int)q + 1;
            if (live >= 32) out = flush_word(acc, &live, out);
            acc = (acc << c) | (u[i] & low_mask);
            live += (int)c;
        }
        if (live >= 32) out = flush_word(acc, &live, out);
    }
    while (live >= 8) {
        live -= 8;
        *out++ = (uint8_t)(acc >> live);
    }
    w->accumulator = acc;
    w->pending = live;
    w->length = (uint64_t)(out - w->bytes);
}

}  // namespace

void choose_subframe(const int32_t* samples, uint32_t count, uint32_t bits, SubframeChoice* out,
                     SubframeChoice* trial) {
    uint32_t i = 1;
    while (i < count && samples[i] == samples[0]) ++i;
    if (i >= count) {
        out->kind = SUBFRAME_CONSTANT;
        out->cost_bits = (uint64_t)bits + 8;
        return;
    }
    out->kind = SUBFRAME_VERBATIM;
    out->cost_bits = (uint64_t)count * bits + 8;

    // Every order's residuals are surveyed first; the exact count then runs
    // in order of the lower bounds and stops once a bound exceeds the best
    // cost, which no skipped order could then beat or tie. Ties keep the
    // sequential rule: verbatim first, then the lower order.
    const uint32_t orders = count < 5 ? count : 5;
    OrderSurvey survey[5];
    for (uint32_t k = 0; k < orders; ++k) {
        compute_residuals(samples, count, k, trial->residuals);
        survey_order(trial->residuals, count, k, bits, &survey[k]);
    }
    uint32_t by_bound[5];
    for (uint32_t k = 0; k < orders; ++k) {
        uint32_t at = k;
        while (at > 0 && survey[by_bound[at - 1]].bound > survey[k].bound) {
            by_bound[at] = by_bound[at - 1];
            --at;
        }
        by_bound[at] = k;
    }
    uint32_t in_trial = orders - 1;
    for (uint32_t at = 0; at < orders; ++at) {
        const uint32_t k = by_bound[at];
        if (survey[k].bound > out->cost_bits) break;
        if (k != in_trial) {
            compute_residuals(samples, count, k, trial->residuals);
            in_trial = k;
        }
        const uint64_t cost = 8 + (uint64_t)k * bits + best_partitioning(trial, count, k, &survey[k]);
        if (cost < out->cost_bits || (cost == out->cost_bits && out->kind == SUBFRAME_FIXED && k < out->order)) {
            out->kind = SUBFRAME_FIXED;
            out->order = k;
            out->partition_order = trial->partition_order;
            memcpy(out->rice_params, trial->rice_params, (sizeof(uint32_t)) << trial->partition_order);
            out->cost_bits = cost;
            memcpy(out->residuals, trial->residuals, count * sizeof(uint32_t));
        }
    }
}

void write_subframe(FrameBitWriter* writer, const int32_t* samples, uint32_t count, uint32_t bits,
                    const SubframeChoice* choice) {
    const uint32_t mask = (uint32_t)((1ull << bits) - 1);
    const int width = (int)bits;
    if (choice->kind == SUBFRAME_CONSTANT) {
        put_bits(writer, 0x00, 8);
        put_bits(writer, (uint32_t)samples[0] & mask, width);
        return;
    }
    if (choice->kind == SUBFRAME_VERBATIM) {
        put_bits(writer, 0x02, 8);
        for (uint32_t i = 0; i < count; ++i) put_bits(writer, (uint32_t)samples[i] & mask, width);
        return;
    }
    const uint32_t order = choice->order;
    put_bits(writer, 0x10 | (order << 1), 8);
    for (uint32_t i = 0; i < order; ++i) put_bits(writer, (uint32_t)samples[i] & mask, width);
    put_bits(writer, 0, 2);
    put_bits(writer, choice->partition_order, 4);
    const uint32_t parts = 1u << choice->partition_order;
    const uint32_t size = count >> choice->partition_order;
    for (uint32_t j = 0; j < parts; ++j) {
        put_bits(writer, choice->rice_params[j], 4);
        write_rice(writer, choice->residuals, j == 0 ? order : j * size, (j + 1) * size,
                   choice->rice_params[j]);
    }
}
