#include "formats/PointBounds.h"

#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

// A NaN v keeps the bound: the comparisons below are false for it. MINPS and MAXPS compute
// exactly these (the second operand wins unless the first compares), so the vector loops
// below give the same bounds.
inline float lower(float bound, float v) { return v < bound ? v : bound; }
inline float higher(float bound, float v) { return v > bound ? v : bound; }

} // namespace

PointBounds::PointBounds() : lo{kInf, kInf, kInf}, hi{-kInf, -kInf, -kInf} {}

void PointBounds::addPoints(const float *p, size_t n)
{
    // Four points at a time into twelve running bounds: slot k holds coordinate k mod 3.
    float l[12], h[12];
    for (int k = 0; k < 12; ++k) {
        l[k] = lo[k % 3];
        h[k] = hi[k % 3];
    }
    size_t i = 0;
#if defined(__SSE2__)
    __m128 l0 = _mm_loadu_ps(l), l1 = _mm_loadu_ps(l + 4), l2 = _mm_loadu_ps(l + 8);
    __m128 h0 = _mm_loadu_ps(h), h1 = _mm_loadu_ps(h + 4), h2 = _mm_loadu_ps(h + 8);
    for (; i + 12 <= n; i += 12) {
        const __m128 a = _mm_loadu_ps(p + i), b = _mm_loadu_ps(p + i + 4), c = _mm_loadu_ps(p + i + 8);
        l0 = _mm_min_ps(a, l0);
        l1 = _mm_min_ps(b, l1);
        l2 = _mm_min_ps(c, l2);
        h0 = _mm_max_ps(a, h0);
        h1 = _mm_max_ps(b, h1);
        h2 = _mm_max_ps(c, h2);
    }
    _mm_storeu_ps(l, l0);
    _mm_storeu_ps(l + 4, l1);
    _mm_storeu_ps(l + 8, l2);
    _mm_storeu_ps(h, h0);
    _mm_storeu_ps(h + 4, h1);
    _mm_storeu_ps(h + 8, h2);
#else
    for (; i + 12 <= n; i += 12)
        for (int k = 0; k < 12; ++k) {
            l[k] = lower(l[k], p[i + k]);
            h[k] = higher(h[k], p[i + k]);
        }
#endif
    // i is a multiple of 12 here, so i mod 3 is still the coordinate.
    for (; i < n; ++i) {
        l[i % 3] = lower(l[i % 3], p[i]);
        h[i % 3] = higher(h[i % 3], p[i]);
    }
    for (int k = 0; k < 12; ++k) {
        lo[k % 3] = lower(lo[k % 3], l[k]);
        hi[k % 3] = higher(hi[k % 3], h[k]);
    }
}

void PointBounds::addValues(const float *v, size_t n)
{
    float l = valueLo, h = valueHi;
    size_t i = 0;
#if defined(__SSE2__)
    __m128 l0 = _mm_set1_ps(l), l1 = l0, h0 = _mm_set1_ps(h), h1 = h0;
    // A lane that compares with nothing gives a mask of all ones, -1 as an integer.
    __m128i nan0 = _mm_setzero_si128(), nan1 = nan0;
    for (; i + 8 <= n; i += 8) {
        const __m128 a = _mm_loadu_ps(v + i), b = _mm_loadu_ps(v + i + 4);
        l0 = _mm_min_ps(a, l0);
        l1 = _mm_min_ps(b, l1);
        h0 = _mm_max_ps(a, h0);
        h1 = _mm_max_ps(b, h1);
        nan0 = _mm_sub_epi32(nan0, _mm_castps_si128(_mm_cmpunord_ps(a, a)));
        nan1 = _mm_sub_epi32(nan1, _mm_castps_si128(_mm_cmpunord_ps(b, b)));
    }
    float ls[8], hs[8];
    unsigned counts[8];
    _mm_storeu_ps(ls, l0);
    _mm_storeu_ps(ls + 4, l1);
    _mm_storeu_ps(hs, h0);
    _mm_storeu_ps(hs + 4, h1);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(counts), nan0);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(counts + 4), nan1);
    for (int k = 0; k < 8; ++k) {
        l = lower(l, ls[k]);
        h = higher(h, hs[k]);
        nUnordered += counts[k];
    }
#endif
    for (; i < n; ++i) {
        l = lower(l, v[i]);
        h = higher(h, v[i]);
        nUnordered += v[i] != v[i];
    }
    valueLo = l;
    valueHi = h;
}
