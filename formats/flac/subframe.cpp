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
#include "formats/flac/subframe.h"

#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// A second, wider path for x86-64 processors with AVX2, picked at run time
// (GCC and Clang compile it with a target attribute; the rest of the
// program stays at the baseline).
#if (defined(__x86_64__) || defined(_M_X64)) && defined(__GNUC__)
#define KV_HAVE_AVX2_PATH 1
#include <immintrin.h>
#define KV_AVX2 __attribute__((target("avx2")))
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

// rice_estimate for n = 2^m: the smallest e with 2^(m+e+1) >= sum is
// ceil(log2(sum)) - m - 1, kept within 0..14.
inline unsigned pow2_estimate(uint64_t sum, int m) {
    int e = 64 - __builtin_clzll((sum - (sum != 0)) | 1) - m - 1;
    e = e < 0 ? 0 : e;
    return (unsigned)(e > MAX_RICE ? MAX_RICE : e);
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
// (folded residuals of 17-bit samples are below 2^22), then widen; into
// 32-bit sums (T = uint32_t) they are kept modulo 2^32.
template <typename T>
void shifted_sums(const uint32_t* u, uint32_t parts, uint32_t size, unsigned c, T* sums) {
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
            if (sizeof(T) == 4) {
                _mm_storeu_si128((__m128i*)(sums + j), total);
            } else {
                _mm_storeu_si128((__m128i*)(sums + j), _mm_unpacklo_epi32(total, zero));
                _mm_storeu_si128((__m128i*)(sums + j + 2), _mm_unpackhi_epi32(total, zero));
            }
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
        sums[j] = (T)total;
    }
}

// Fills the levels above the finest of a partition tree: level p (2^p
// nodes at offset 2^p - 1) holds the sums of the pairs below it (64-bit
// sums, or 32-bit ones modulo 2^32).
template <typename T>
void build_tree(T* tree, unsigned top) {
    for (int p = (int)top - 1; p >= 0; --p) {
        const uint32_t m = 1u << p;
        T* level = tree + m - 1;
        const T* finer = tree + 2 * m - 1;
        uint32_t j = 0;
#if defined(__SSE2__)
        for (; sizeof(T) == 8 && j + 2 <= m; j += 2) {
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

// Finest partition order allowed for predictor order k: count divisible by
// 2^p and partitions longer than k, for p and every smaller order.
unsigned finest_order(uint32_t count, uint32_t k) {
    unsigned top = 0;
    while (top < MAX_PARTITION_ORDER && (count & ((2u << top) - 1)) == 0 && (count >> (top + 1)) > k) ++top;
    return top;
}

// With the plain sums of the finest partitions in place (s->top set), the
// bound and the coarser levels.
// rest_bound, when not null, is what the leaves after the first add up to,
// found already.
void finish_survey(OrderSurvey* s, uint32_t count, uint32_t k, uint32_t bits, const uint64_t* rest_bound) {
    const unsigned top = s->top;
    const uint32_t fine_parts = 1u << top, fine_size = count >> top;
    const uint64_t* fine = s->sums + fine_parts - 1;
    // Since u >> c >= (u - 2^c + 1) / 2^c, n residuals summing to sum take
    // at least n * c + (sum + n) / 2^c bits with parameter c; over real c
    // that is smallest at the c the estimate finds for sum + n. A coarser
    // partition pays at least what its finest parts would, and every
    // partitioning pays 6 bits plus 4 per partition, at least one.
    uint64_t bound = 8 + (uint64_t)k * bits + 6 + 4;
    const uint32_t leaves = rest_bound ? 1 : fine_parts;
    if (rest_bound) bound += *rest_bound;
    for (uint32_t j = 0; j < leaves; ++j) {
        const uint64_t n = j == 0 ? fine_size - k : fine_size;
        const uint64_t spread = fine[j] + n;
        const unsigned c = rice_estimate(n, spread);
        bound += n * c + (spread >> c);
    }
    s->bound = bound;
}

void survey_order(const uint32_t* u, uint32_t count, uint32_t k, uint32_t bits, OrderSurvey* s) {
    s->top = finest_order(count, k);
    const uint32_t fine_parts = 1u << s->top;
    shifted_sums(u, fine_parts, count >> s->top, 0, s->sums + fine_parts - 1);
    finish_survey(s, count, k, bits, nullptr);
    build_tree(s->sums, s->top);
}

#if defined(KV_HAVE_AVX2_PATH)
// --- The AVX2 path, for full blocks: 4096 samples, so 256 finest
// partitions of 16 at every predictor order. Same sums as the plain path,
// eight lanes at a time. ---

KV_AVX2 inline __m256i load8(const void* p) { return _mm256_loadu_si256((const __m256i*)p); }

KV_AVX2 inline __m256i fold8(__m256i e) {
    return _mm256_xor_si256(_mm256_slli_epi32(e, 1), _mm256_srai_epi32(e, 31));
}

// The sums of the eight lanes of each of v[0..7], in order, in one vector.
KV_AVX2 inline __m256i lane_totals8(const __m256i v[8]) {
    const __m256i h01 = _mm256_hadd_epi32(v[0], v[1]), h23 = _mm256_hadd_epi32(v[2], v[3]);
    const __m256i h45 = _mm256_hadd_epi32(v[4], v[5]), h67 = _mm256_hadd_epi32(v[6], v[7]);
    const __m256i q0 = _mm256_hadd_epi32(h01, h23), q1 = _mm256_hadd_epi32(h45, h67);
    return _mm256_add_epi32(_mm256_permute2x128_si256(q0, q1, 0x20), _mm256_permute2x128_si256(q0, q1, 0x31));
}

KV_AVX2 inline void store_widened(uint64_t* out, __m256i totals) {
    _mm256_storeu_si256((__m256i*)out, _mm256_cvtepu32_epi64(_mm256_castsi256_si128(totals)));
    _mm256_storeu_si256((__m256i*)(out + 4), _mm256_cvtepu32_epi64(_mm256_extracti128_si256(totals, 1)));
}

// The finest level of survey[k].sums, for every k from 0 to 4: the plain
// sum over partition j of the folded residuals of order k, in one pass over
// the samples; positions
// below k count as 0, as in compute_residuals. The differences of
// successive orders give the table's residuals exactly: no sum here comes
// near 32 bits.
//
// rest_bounds[k] gets what finish_survey's bound adds up for the leaves 1
// to 255 of order k (n = 16 each): with the estimate e of the spread
// (sum + 16) counted as the thresholds 16 * 2^(e+1) below it, 16 * e +
// (spread >> e).
KV_AVX2 void order_leaf_sums_avx2(const int32_t* x, OrderSurvey survey[5], uint64_t rest_bounds[5]) {
    // The first vector reads four samples before the block: zeros, masked
    // off afterwards.
    int32_t head[12] = {0};
    memcpy(head + 4, x, 8 * sizeof(int32_t));
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i sixteen = _mm256_set1_epi32(16);
    __m256i bound[5];
    for (int k = 0; k < 5; ++k) bound[k] = _mm256_setzero_si256();
    for (uint32_t g = 0; g < FLAC_MAX_PARTITIONS / 8; ++g) {
        __m256i part[5][8];
        for (int p = 0; p < 8; ++p) {
            __m256i acc[5];
            for (int h = 0; h < 2; ++h) {
                const uint32_t i = 128 * g + 16 * p + 8 * h;
                const int32_t* at = i == 0 ? head + 4 : x + i;
                const __m256i x0 = load8(at), x1 = load8(at - 1), x2 = load8(at - 2);
                const __m256i x3 = load8(at - 3), x4 = load8(at - 4);
                const __m256i d1 = _mm256_sub_epi32(x0, x1), d1b = _mm256_sub_epi32(x1, x2);
                const __m256i d1c = _mm256_sub_epi32(x2, x3), d1d = _mm256_sub_epi32(x3, x4);
                const __m256i d2 = _mm256_sub_epi32(d1, d1b), d2b = _mm256_sub_epi32(d1b, d1c);
                const __m256i d2c = _mm256_sub_epi32(d1c, d1d);
                const __m256i d3 = _mm256_sub_epi32(d2, d2b), d3b = _mm256_sub_epi32(d2b, d2c);
                const __m256i d4 = _mm256_sub_epi32(d3, d3b);
                __m256i f[5] = {fold8(x0), fold8(d1), fold8(d2), fold8(d3), fold8(d4)};
                if (i == 0)
                    for (int k = 1; k < 5; ++k)
                        f[k] = _mm256_and_si256(f[k], _mm256_cmpgt_epi32(lane, _mm256_set1_epi32(k - 1)));
                for (int k = 0; k < 5; ++k) acc[k] = h == 0 ? f[k] : _mm256_add_epi32(acc[k], f[k]);
            }
            for (int k = 0; k < 5; ++k) part[k][p] = acc[k];
        }
        for (int k = 0; k < 5; ++k) {
            const __m256i totals = lane_totals8(part[k]);
            store_widened(survey[k].sums + FLAC_MAX_PARTITIONS - 1 + 8 * g, totals);
            const __m256i spread = _mm256_add_epi32(totals, sixteen);
            __m256i minus_e = _mm256_setzero_si256();
            for (int e = 0; e < MAX_RICE; ++e)
                minus_e = _mm256_add_epi32(minus_e, _mm256_cmpgt_epi32(spread, _mm256_set1_epi32(32 << e)));
            const __m256i e = _mm256_sub_epi32(_mm256_setzero_si256(), minus_e);
            __m256i bits = _mm256_add_epi32(_mm256_slli_epi32(e, 4), _mm256_srlv_epi32(spread, e));
            if (g == 0) bits = _mm256_and_si256(bits, _mm256_cmpgt_epi32(lane, _mm256_setzero_si256()));
            bound[k] = _mm256_add_epi32(bound[k], bits);
        }
    }
    for (int k = 0; k < 5; ++k) {
        uint32_t lanes[8];
        _mm256_storeu_si256((__m256i*)lanes, bound[k]);
        rest_bounds[k] = 0;
        for (int i = 0; i < 8; ++i) rest_bounds[k] += lanes[i];
    }
}

// compute_residuals for a full block.
KV_AVX2 void compute_residuals_avx2(const int32_t* x, uint32_t k, uint32_t* u) {
    compute_residuals(x, 8, k, u);  // the first eight, warm-up zeros included
    for (uint32_t i = 8; i < FLAC_MAX_BLOCK; i += 8) {
        const __m256i x0 = load8(x + i), x1 = load8(x + i - 1);
        __m256i e;
        switch (k) {
        case 0: e = x0; break;
        case 1: e = _mm256_sub_epi32(x0, x1); break;
        case 2: e = _mm256_sub_epi32(_mm256_add_epi32(x0, load8(x + i - 2)), _mm256_slli_epi32(x1, 1)); break;
        case 3: {
            const __m256i d = _mm256_sub_epi32(load8(x + i - 2), x1);  // x[i-2] - x[i-1]
            e = _mm256_add_epi32(_mm256_sub_epi32(x0, load8(x + i - 3)), _mm256_add_epi32(d, _mm256_slli_epi32(d, 1)));
            break;
        }
        default: {
            const __m256i x2 = load8(x + i - 2);
            const __m256i six_x2 = _mm256_add_epi32(_mm256_slli_epi32(x2, 2), _mm256_slli_epi32(x2, 1));
            const __m256i four_x13 = _mm256_slli_epi32(_mm256_add_epi32(x1, load8(x + i - 3)), 2);
            e = _mm256_sub_epi32(_mm256_add_epi32(_mm256_add_epi32(x0, load8(x + i - 4)), six_x2), four_x13);
            break;
        }
        }
        _mm256_storeu_si256((__m256i*)(u + i), fold8(e));
    }
}

// shifted_sums for the 256 partitions of 16 of a full block.
KV_AVX2 void leaf_shifted_sums_avx2(const uint32_t* u, unsigned c, uint32_t* sums) {
    const __m128i shift = _mm_cvtsi32_si128((int)c);
    for (uint32_t g = 0; g < FLAC_MAX_PARTITIONS / 8; ++g) {
        __m256i part[8];
        for (int p = 0; p < 8; ++p) {
            const uint32_t* at = u + 128 * g + 16 * p;
            part[p] = _mm256_add_epi32(_mm256_srl_epi32(load8(at), shift), _mm256_srl_epi32(load8(at + 8), shift));
        }
        _mm256_storeu_si256((__m256i*)(sums + 8 * g), lane_totals8(part));
    }
}


// The Rice parameters and the cost (without the 6 bits of the partition
// order) of one level of a full block, 8 or more partitions, eight at a
// time: each partition takes the best of its candidates e - 1, e and e + 1
// (within lowest..highest, which holds them all), tried in increasing order
// with strict comparisons, as the plain loop tries them. shifted holds the
// level's sums from its first node on.
KV_AVX2 uint64_t level_cost_avx2(const uint32_t (*shifted)[2 * FLAC_MAX_PARTITIONS - 1], uint32_t first_node,
                                 const uint8_t* estimate, uint32_t parts, uint32_t size, uint32_t k,
                                 unsigned lowest, unsigned highest, uint32_t* params) {
    __m256i total = _mm256_setzero_si256();
    const __m256i two = _mm256_set1_epi32(2);
    for (uint32_t j = 0; j < parts; j += 8) {
        const __m256i e = _mm256_cvtepu8_epi32(_mm_loadl_epi64((const __m128i*)(estimate + j)));
        // Only the parameters some of the eight try.
        uint8_t e_min = estimate[j], e_max = estimate[j];
        for (int i = 1; i < 8; ++i) {
            e_min = estimate[j + i] < e_min ? estimate[j + i] : e_min;
            e_max = estimate[j + i] > e_max ? estimate[j + i] : e_max;
        }
        const unsigned from = e_min > lowest + 1 ? e_min - 1u : lowest;
        const unsigned to = e_max + 1u < highest ? e_max + 1u : highest;
        __m256i n = _mm256_set1_epi32((int)size);
        if (j == 0) n = _mm256_sub_epi32(n, _mm256_setr_epi32((int)k, 0, 0, 0, 0, 0, 0, 0));
        __m256i fixed_bits = _mm256_mullo_epi32(n, _mm256_set1_epi32((int)from + 1));  // n * (c + 1)
        __m256i best = _mm256_set1_epi32(0x7FFFFFFF), best_c = _mm256_setzero_si256();
        for (unsigned c = from; c <= to; ++c) {
            const __m256i bits = _mm256_add_epi32(load8(&shifted[c][first_node + j]), fixed_bits);
            const __m256i cv = _mm256_set1_epi32((int)c);
            const __m256i tried = _mm256_and_si256(_mm256_cmpgt_epi32(_mm256_add_epi32(cv, two), e),
                                                   _mm256_cmpgt_epi32(_mm256_add_epi32(e, two), cv));
            const __m256i better = _mm256_and_si256(tried, _mm256_cmpgt_epi32(best, bits));
            best = _mm256_blendv_epi8(best, bits, better);
            best_c = _mm256_blendv_epi8(best_c, cv, better);
            fixed_bits = _mm256_add_epi32(fixed_bits, n);
        }
        _mm256_storeu_si256((__m256i*)(params + j), best_c);
        total = _mm256_add_epi32(total, best);
    }
    uint32_t lanes[8];
    _mm256_storeu_si256((__m256i*)lanes, total);
    uint64_t cost = 4 * (uint64_t)parts;
    for (int i = 0; i < 8; ++i) cost += lanes[i];
    return cost;
}

// The estimates of nodes 1, 2, ... of a level of 2^m-sample partitions, as
// the plain loop in best_partitioning gives them, eight at a time; returns
// the first node it left to that loop. floor(log2(v)) is the exponent of v
// as a double: every sum here is far below 2^52, so or-ing it into the
// mantissa of 2^52 and subtracting 2^52 converts it exactly.
KV_AVX2 uint32_t pow2_estimates_avx2(const uint64_t* sums, uint32_t parts, int m, uint8_t* out) {
    const __m256i one = _mm256_set1_epi64x(1);
    const __m256i two_52 = _mm256_set1_epi64x(0x4330000000000000);
    const __m256i low_halves = _mm256_setr_epi32(0, 2, 4, 6, 0, 0, 0, 0);
    const __m128i bias = _mm_set1_epi32(1023 + m);
    uint32_t j = 1;
    for (; j + 8 <= parts; j += 8) {
        __m128i exponents[2];
        for (int h = 0; h < 2; ++h) {
            const __m256i sum = load8(sums + j + 4 * h);
            // (sum - (sum != 0)) | 1; the mask of a zero sum is -1.
            const __m256i zero = _mm256_cmpeq_epi64(sum, _mm256_setzero_si256());
            const __m256i v = _mm256_or_si256(_mm256_sub_epi64(_mm256_sub_epi64(sum, one), zero), one);
            const __m256d d = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(v, two_52)),
                                            _mm256_castsi256_pd(two_52));
            const __m256i exponent = _mm256_srli_epi64(_mm256_castpd_si256(d), 52);
            exponents[h] = _mm_sub_epi32(
                _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(exponent, low_halves)), bias);
        }
        __m128i e = _mm_packs_epi32(exponents[0], exponents[1]);
        e = _mm_min_epi16(_mm_max_epi16(e, _mm_setzero_si128()), _mm_set1_epi16(MAX_RICE));
        _mm_storel_epi64((__m128i*)(out + j), _mm_packus_epi16(e, e));
    }
    return j;
}

// The sums of the pairs of 16 32-bit or 8 64-bit partition sums from f, in
// order, in one vector.
KV_AVX2 inline __m256i pair_sums(const uint32_t* f) {
    // [f0+f1, f2+f3, f8+f9, f10+f11 | f4+f5, f6+f7, f12+f13, f14+f15].
    const __m256i pairs = _mm256_hadd_epi32(load8(f), load8(f + 8));
    return _mm256_permute4x64_epi64(pairs, 0xD8);
}

KV_AVX2 inline __m256i pair_sums(const uint64_t* f) {
    const __m256i a = load8(f), b = load8(f + 4);
    // [f0+f1, f4+f5, f2+f3, f6+f7].
    const __m256i pairs = _mm256_add_epi64(_mm256_unpacklo_epi64(a, b), _mm256_unpackhi_epi64(a, b));
    return _mm256_permute4x64_epi64(pairs, 0xD8);
}

// build_tree, a vector of sums at a time.
template <typename T>
KV_AVX2 void build_tree_avx2(T* tree, unsigned top) {
    const uint32_t per_vector = 32 / sizeof(T);
    for (int p = (int)top - 1; p >= 0; --p) {
        const uint32_t m = 1u << p;
        T* level = tree + m - 1;
        const T* finer = tree + 2 * m - 1;
        uint32_t j = 0;
        for (; j + per_vector <= m; j += per_vector)
            _mm256_storeu_si256((__m256i*)(level + j), pair_sums(finer + 2 * j));
        for (; j < m; ++j) level[j] = finer[2 * j] + finer[2 * j + 1];
    }
}

// What the residuals of predictor order k of a full block cost at least,
// whatever the partitioning: every partition, at any level, costs with its
// parameter c what its leaves (the 256 partitions of 16) cost with c, so
// no less than the sum over the leaves of each leaf's cheapest parameter in
// 0..14. That parameter is always the estimate e, e - 1 or e + 1, the three
// the search tries: with mean m = sum / n, 2^e < m <= 2^(e+1) (e > 0), a
// step from c to c + 1 saves sum(ceil((u >> c) / 2)) bits against n more,
// which is at most (sum / 2^c + n) / 2 <= n from c = e + 1 on, and more
// than (sum / 2^c - n) / 2 > 1.5 n up to c = e - 2. So this is the finest
// level's cost without its 6 + 4 * 256 bits (at e = 14 the parameters end
// there). leaf_sums are the plain sums of the leaves.
KV_AVX2 uint64_t leaf_floor_avx2(const uint32_t* u, const uint64_t* leaf_sums, uint32_t k) {
    uint8_t e[FLAC_MAX_PARTITIONS + 8];
    e[0] = (uint8_t)rice_estimate(16 - k, leaf_sums[0]);
    uint32_t j = pow2_estimates_avx2(leaf_sums, FLAC_MAX_PARTITIONS, 4, e);
    for (; j < FLAC_MAX_PARTITIONS; ++j) e[j] = (uint8_t)pow2_estimate(leaf_sums[j], 4);
    const __m256i one = _mm256_set1_epi32(1), top = _mm256_set1_epi32(MAX_RICE);
    __m256i total = _mm256_setzero_si256();
    for (uint32_t g = 0; g < FLAC_MAX_PARTITIONS / 8; ++g) {
        __m256i part[3][8];
        for (int p = 0; p < 8; ++p) {
            const unsigned c = e[8 * g + p];
            const __m128i s0 = _mm_cvtsi32_si128(c ? (int)c - 1 : 0), s1 = _mm_cvtsi32_si128((int)c);
            const __m128i s2 = _mm_cvtsi32_si128(c < MAX_RICE ? (int)c + 1 : MAX_RICE);
            const __m256i a = load8(u + 128 * g + 16 * p), b = load8(u + 128 * g + 16 * p + 8);
            part[0][p] = _mm256_add_epi32(_mm256_srl_epi32(a, s0), _mm256_srl_epi32(b, s0));
            part[1][p] = _mm256_add_epi32(_mm256_srl_epi32(a, s1), _mm256_srl_epi32(b, s1));
            part[2][p] = _mm256_add_epi32(_mm256_srl_epi32(a, s2), _mm256_srl_epi32(b, s2));
        }
        const __m256i c1 = _mm256_cvtepu8_epi32(_mm_loadl_epi64((const __m128i*)(e + 8 * g)));
        const __m256i c0 = _mm256_max_epi32(_mm256_sub_epi32(c1, one), _mm256_setzero_si256());
        const __m256i c2 = _mm256_min_epi32(_mm256_add_epi32(c1, one), top);
        __m256i n = _mm256_set1_epi32(16);
        if (g == 0) n = _mm256_sub_epi32(n, _mm256_setr_epi32((int)k, 0, 0, 0, 0, 0, 0, 0));
        const __m256i f0 = _mm256_add_epi32(lane_totals8(part[0]), _mm256_mullo_epi32(n, _mm256_add_epi32(c0, one)));
        const __m256i f1 = _mm256_add_epi32(lane_totals8(part[1]), _mm256_mullo_epi32(n, _mm256_add_epi32(c1, one)));
        const __m256i f2 = _mm256_add_epi32(lane_totals8(part[2]), _mm256_mullo_epi32(n, _mm256_add_epi32(c2, one)));
        total = _mm256_add_epi32(total, _mm256_min_epu32(f0, _mm256_min_epu32(f1, f2)));
    }
    uint32_t lanes[8];
    _mm256_storeu_si256((__m256i*)lanes, total);
    uint64_t sum = 0;
    for (int i = 0; i < 8; ++i) sum += lanes[i];
    return sum;
}
#endif

// Best partitioned Rice coding of the folded residuals u of predictor order
// k (surveyed in s): fills trial->partition_order and trial->rice_params,
// returns its bits (6 + per partition 4 + the partition's bits). wide: a
// full block on the AVX2 path.
uint64_t best_partitioning(SubframeChoice* trial, const uint32_t* u, uint32_t count, uint32_t k, uint32_t bits,
                           const OrderSurvey* s, int wide) {
    (void)wide;  // used by the AVX2 path only
    const unsigned top = s->top;
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
            const int m = floor_log2(size);
            uint32_t j = 1;
#if defined(KV_HAVE_AVX2_PATH)
            if (wide) j = pow2_estimates_avx2(level_sums, parts, m, level);
#endif
            for (; j < parts; ++j) level[j] = (uint8_t)pow2_estimate(level_sums[j], m);
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
    // for the parameters in [lowest, highest], modulo 2^32. Every sum that
    // is used is far below that: a node tries c only from e - 1 on, where
    // its sum is at most n * 2^(e+1) (e < 14), so the sum of u >> c is at
    // most 4n; at e = 14 it tries 13 and 14, and 4096 residuals below 2^22
    // shifted by 13 stay below 2^22. Modular sums of the parts are then the
    // true sums.
    static_assert(sizeof(uint32_t) * RICE_SLOTS * (2 * FLAC_MAX_PARTITIONS - 1) < 32 * 1024,
                  "analysis scratch stays small");
    uint32_t shifted[RICE_SLOTS][2 * FLAC_MAX_PARTITIONS - 1];
    for (unsigned c = lowest; c <= highest; ++c) {
        uint32_t* tree = shifted[c];
        if (c == 0) {
            for (uint32_t j = 0; j < fine_parts; ++j) tree[fine_parts - 1 + j] = (uint32_t)sums[fine_parts - 1 + j];
        }
#if defined(KV_HAVE_AVX2_PATH)
        if (wide) {
            if (c != 0) leaf_shifted_sums_avx2(u, c, tree + fine_parts - 1);
            build_tree_avx2(tree, top);
            continue;
        }
#endif
        if (c != 0) shifted_sums(u, fine_parts, fine_size, c, tree + fine_parts - 1);
        build_tree(tree, top);
    }

    // Cost of each partition order, from the coarsest; a finer one must
    // cost strictly less to win (the lowest order wins a tie). Order p costs
    // at least 6 + 4 * 2^p plus what the survey's bound counts for the
    // residuals (any partition pays at least what its finest parts would),
    // so once that is no less than the best, no finer order can win.
    const uint64_t residual_floor = s->bound - (8 + (uint64_t)k * bits + 6 + 4);
    uint64_t best = ~(uint64_t)0;
    uint32_t params[FLAC_MAX_PARTITIONS];
    for (unsigned p = 0; p <= top; ++p) {
        const uint32_t parts = 1u << p, size = count >> p;
        if (6 + 4 * (uint64_t)parts + residual_floor >= best) break;
        uint64_t cost = 6;
#if defined(KV_HAVE_AVX2_PATH)
        const int vector_level = wide && parts >= 8;
        if (vector_level)
            cost += level_cost_avx2(shifted, parts - 1, estimate + parts - 1, parts, size, k, lowest, highest, params);
#else
        const int vector_level = 0;
#endif
        for (uint32_t j = 0; j < parts && !vector_level; ++j) {
            const uint32_t node = parts - 1 + j;
            const uint64_t n = j == 0 ? size - k : size;
            // The candidates lo, lo + 1 and hi: e - 1, e and e + 1, or, at
            // either end of 0..14, two of them with the upper one twice
            // (a repeat never wins: the comparisons are strict).
            const unsigned e = estimate[node];
            const unsigned lo = e - (e > 0), mid = lo + 1, hi = e + (e < MAX_RICE);
            uint64_t best_bits = n * (lo + 1) + shifted[lo][node];
            unsigned best_c = lo;
            const uint64_t mid_bits = n * (mid + 1) + shifted[mid][node];
            best_c = mid_bits < best_bits ? mid : best_c;
            best_bits = mid_bits < best_bits ? mid_bits : best_bits;
            const uint64_t hi_bits = n * (hi + 1) + shifted[hi][node];
            best_c = hi_bits < best_bits ? hi : best_c;
            best_bits = hi_bits < best_bits ? hi_bits : best_bits;
            params[j] = best_c;
            cost += 4 + best_bits;
        }
        if (cost < best) {
            best = cost;
            trial->partition_order = (uint32_t)p;
            memcpy(trial->rice_params, params, parts * sizeof(uint32_t));
        }
    }
    return best;
}

// Stores the whole bytes among the live lowest bits of acc (live 0 to 63),
// oldest first, with one 8-byte store, and keeps the rest: live is 0 to 7
// afterwards. The store reaches up to 8 bytes past what it keeps; they are
// overwritten later or lie past the frame's end, and every frame buffer has
// that room (a frame never comes near FLAC_FRAME_CAPACITY).
static inline uint8_t* flush_bytes(uint64_t acc, int* live, uint8_t* out) {
    // acc << (64 - live), also for live 0 (whose stale bits are not kept).
    const uint64_t top = (acc << 1) << (63 - *live);
    const uint64_t big_endian = __builtin_bswap64(top);
    memcpy(out, &big_endian, 8);
    out += *live >> 3;
    *live &= 7;
    return out;
}

// Rice codes of u[from..to) with parameter c, through a local 64-bit
// register flushed without a branch after every code or pair of codes: at
// most 7 bits wait, and a code here is at most 32 + 14 bits. Leaves the
// writer as put_bits would.
void write_rice(FrameBitWriter* w, const uint32_t* u, uint32_t from, uint32_t to, unsigned c) {
    uint64_t acc = w->accumulator;
    int live = w->pending;
    uint8_t* out = w->bytes + w->length;
    const uint32_t low_mask = (1u << c) - 1;
    // Two codes per flush while they fit beside the waiting bits (they
    // nearly always do), else one; long unary runs go out 32 zero bits at
    // a time.
    for (uint32_t i = from; i < to;) {
        uint32_t q = u[i] >> c;
        const int n = (int)(q + 1 + c);
        if (i + 1 < to) {
            const int n1 = (int)((u[i + 1] >> c) + 1 + c);
            if (n + n1 <= 56) {
                acc = (acc << n) | ((uint64_t)1 << c) | (u[i] & low_mask);
                acc = (acc << n1) | ((uint64_t)1 << c) | (u[i + 1] & low_mask);
                live += n + n1;
                out = flush_bytes(acc, &live, out);
                i += 2;
                continue;
            }
        }
        while (q >= 32) {
            acc <<= 32;
            live += 32;
            q -= 32;
            out = flush_bytes(acc, &live, out);
        }
        const int rest = (int)(q + 1 + c);
        acc = (acc << rest) | ((uint64_t)1 << c) | (u[i] & low_mask);
        live += rest;
        out = flush_bytes(acc, &live, out);
        ++i;
    }
    w->accumulator = acc;
    w->pending = live;
    w->length = (uint64_t)(out - w->bytes);
}

int g_isa = -1;  // SUBFRAME_ISA_ value in use; -1 until first asked

int detected_isa() {
#if defined(KV_HAVE_AVX2_PATH)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return SUBFRAME_ISA_AVX2;
#endif
    return SUBFRAME_ISA_BASE;
}

inline int active_isa() {
    int isa = __atomic_load_n(&g_isa, __ATOMIC_RELAXED);
    if (isa < 0) {
        isa = detected_isa();
        __atomic_store_n(&g_isa, isa, __ATOMIC_RELAXED);
    }
    return isa;
}

}  // namespace

int subframe_isa(void) { return active_isa(); }

int subframe_use_isa(int isa) {
    if (isa != SUBFRAME_ISA_BASE && !(isa == SUBFRAME_ISA_AVX2 && detected_isa() == SUBFRAME_ISA_AVX2)) return 0;
    __atomic_store_n(&g_isa, isa, __ATOMIC_RELAXED);
    return 1;
}

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
    uint32_t in_trial = orders - 1;  // the order whose residuals trial holds (baseline path)
    const int wide = count == FLAC_MAX_BLOCK && active_isa() == SUBFRAME_ISA_AVX2;
#if defined(KV_HAVE_AVX2_PATH)
    if (wide) {
        uint64_t rest_bounds[5];
        order_leaf_sums_avx2(samples, survey, rest_bounds);
        for (uint32_t k = 0; k < orders; ++k) {
            survey[k].top = MAX_PARTITION_ORDER;
            finish_survey(&survey[k], count, k, bits, &rest_bounds[k]);
            build_tree_avx2(survey[k].sums, MAX_PARTITION_ORDER);
        }
    }
#endif
    if (!wide) {
        for (uint32_t k = 0; k < orders; ++k) {
            compute_residuals(samples, count, k, trial->residuals);
            survey_order(trial->residuals, count, k, bits, &survey[k]);
        }
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
    for (uint32_t at = 0; at < orders; ++at) {
        const uint32_t k = by_bound[at];
        if (survey[k].bound > out->cost_bits) break;
        // Where this order's residuals are counted: on the wide path, out's
        // own array while out holds no residuals worth keeping (the first
        // order counted usually wins, and then needs no copy).
        uint32_t* u = trial->residuals;
#if defined(KV_HAVE_AVX2_PATH)
        if (wide) {
            if (out->kind != SUBFRAME_FIXED) u = out->residuals;
            compute_residuals_avx2(samples, k, u);
            // With a fixed order in hand, an order whose leaves alone cost
            // more than it is not counted: most orders after the first end
            // here. (The survey's bound orders the others; this one does
            // not, so the loop goes on.)
            if (out->kind == SUBFRAME_FIXED &&
                8 + (uint64_t)k * bits + 6 + 4 + leaf_floor_avx2(u, survey[k].sums + FLAC_MAX_PARTITIONS - 1, k) >
                    out->cost_bits)
                continue;
        }
#endif
        if (!wide && k != in_trial) {
            compute_residuals(samples, count, k, u);
            in_trial = k;
        }
        const uint64_t cost = 8 + (uint64_t)k * bits + best_partitioning(trial, u, count, k, bits, &survey[k], wide);
        if (cost < out->cost_bits || (cost == out->cost_bits && out->kind == SUBFRAME_FIXED && k < out->order)) {
            out->kind = SUBFRAME_FIXED;
            out->order = k;
            out->partition_order = trial->partition_order;
            memcpy(out->rice_params, trial->rice_params, (sizeof(uint32_t)) << trial->partition_order);
            out->cost_bits = cost;
            if (u != out->residuals) memcpy(out->residuals, u, count * sizeof(uint32_t));
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
