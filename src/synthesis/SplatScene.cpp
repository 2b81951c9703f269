#include "synthesis/SplatScene.h"

#include <cstring>

#include <algorithm>
#include <cmath>

size_t SplatScene::bytes() const
{
    return (position.size() + opacity.size() + scale.size() + rotation.size() + dc.size() + restStep.size()) *
               sizeof(float) +
           rest.size();
}

void SplatScene::resize(size_t n, int degree)
{
    count = n;
    shDegree = degree;
    position.assign(3 * n, 0.f);
    opacity.assign(n, 0.f);
    scale.assign(3 * n, 0.f);
    rotation.assign(4 * n, 0.f);
    dc.assign(3 * n, 0.f);
    rest.assign(restPerSplat() * n, 0);
    restStep.assign(degree > 0 ? n : 0, 0.f);
}

void SplatScene::truncate(size_t n)
{
    count = std::min(n, count);
    position.resize(3 * count);
    opacity.resize(count);
    scale.resize(3 * count);
    rotation.resize(4 * count);
    dc.resize(3 * count);
    rest.resize(restPerSplat() * count);
    restStep.resize(shDegree > 0 ? count : 0);
}

namespace {

// The step of a largest magnitude m: m / 127 rounded up to 16 significant bits, so that 127
// steps, and any other number of them, are exact floats: values stored from restOf come
// back with the same step and the same numbers of steps.
float stepOf(float m)
{
    if (!(m > 0))
        return m == 0 ? 0.f : NAN;
    if (!std::isfinite(m))
        return NAN;
    int e = 0;
    const double f = std::frexp(static_cast<double>(m) / 127.0, &e); // in [0.5, 1)
    return static_cast<float>(std::ldexp(std::ceil(std::ldexp(f, 16)), e - 16));
}

} // namespace

void SplatScene::setRest(size_t i, const float *v)
{
    const size_t per = restPerSplat();
    if (per == 0)
        return;
    // The largest magnitude as the largest of the values' bits without their signs: the bits
    // of non-negative floats order as the numbers do, and those of infinity and NaN above all
    // finite ones. Integers make a loop the compiler does several values at a time.
    uint32_t largest = 0;
    for (size_t k = 0; k < per; ++k) {
        uint32_t bits;
        std::memcpy(&bits, v + k, 4);
        largest = std::max(largest, bits & 0x7fffffffu);
    }
    float m;
    std::memcpy(&m, &largest, 4);
    const float step = largest < 0x7f800000u ? stepOf(m) : NAN;
    restStep[i] = step;
    int8_t *out = rest.data() + per * i;
    if (!(step > 0)) {
        std::fill(out, out + per, static_cast<int8_t>(0));
        return;
    }
    // Rounded half away from zero without a library call: 45 of these a splat.
    const float inv = 1 / step;
    for (size_t k = 0; k < per; ++k) {
        const float x = std::max(-127.f, std::min(127.f, v[k] * inv));
        out[k] = static_cast<int8_t>(static_cast<int>(x + (x >= 0 ? 0.5f : -0.5f)));
    }
}

void SplatScene::restOf(size_t i, float *out, size_t n) const
{
    const int8_t *r = rest.data() + restPerSplat() * i;
    const float step = restStep[i];
    for (size_t k = 0; k < n; ++k)
        out[k] = static_cast<float>(r[k]) * step;
}

void SplatScene::copySplat(const SplatScene &s, size_t from, size_t to)
{
    std::copy_n(&s.position[3 * from], 3, &position[3 * to]);
    opacity[to] = s.opacity[from];
    std::copy_n(&s.scale[3 * from], 3, &scale[3 * to]);
    std::copy_n(&s.rotation[4 * from], 4, &rotation[4 * to]);
    std::copy_n(&s.dc[3 * from], 3, &dc[3 * to]);
    const size_t per = restPerSplat();
    if (per) {
        std::copy_n(&s.rest[per * from], per, &rest[per * to]);
        restStep[to] = s.restStep[from];
    }
}

void SplatScene::append(const SplatScene &s, size_t from, size_t n)
{
    const auto add = [&](auto &to, const auto &v, size_t per) {
        to.insert(to.end(), v.begin() + static_cast<long>(per * from), v.begin() + static_cast<long>(per * (from + n)));
    };
    add(position, s.position, 3);
    add(opacity, s.opacity, 1);
    add(scale, s.scale, 3);
    add(rotation, s.rotation, 4);
    add(dc, s.dc, 3);
    if (shDegree > 0)
        add(restStep, s.restStep, 1);
    const size_t per = restPerSplat(), theirs = s.restPerSplat();
    if (per == theirs)
        add(rest, s.rest, per);
    else // a source of a higher degree: its first terms, on its steps
        for (size_t i = from; i < from + n; ++i)
            rest.insert(rest.end(), s.rest.begin() + static_cast<long>(theirs * i),
                        s.rest.begin() + static_cast<long>(theirs * i + per));
    count += n;
}

uint16_t floatToHalf(float f)
{
    uint32_t x;
    std::memcpy(&x, &f, 4);
    const uint32_t sign = (x >> 16) & 0x8000u;
    const uint32_t absx = x & 0x7fffffffu;
    if (absx >= 0x7f800000u) // infinity or NaN
        return static_cast<uint16_t>(sign | 0x7c00u | (absx > 0x7f800000u ? 0x200u : 0u));
    if (absx >= 0x477ff000u) // rounds beyond the largest half
        return static_cast<uint16_t>(sign | 0x7c00u);
    if (absx < 0x38800000u) { // below the smallest normal half: a subnormal or zero
        if (absx < 0x33000000u)
            return static_cast<uint16_t>(sign);
        const uint32_t mant = (absx & 0x7fffffu) | 0x800000u;
        const int shift = 126 - static_cast<int>(absx >> 23); // 14..24
        uint32_t h = mant >> shift;
        const uint32_t rem = mant & ((1u << shift) - 1);
        const uint32_t half = 1u << (shift - 1);
        if (rem > half || (rem == half && (h & 1u)))
            ++h;
        return static_cast<uint16_t>(sign | h);
    }
    uint32_t h = ((absx >> 13) - (112u << 10));
    const uint32_t rem = absx & 0x1fffu;
    if (rem > 0x1000u || (rem == 0x1000u && (h & 1u)))
        ++h; // a carry into the exponent is the right result
    return static_cast<uint16_t>(sign | h);
}

namespace {

float decodeHalf(uint16_t h)
{
    const uint32_t sign = static_cast<uint32_t>(h & 0x8000u) << 16;
    uint32_t exp = (h >> 10) & 0x1fu;
    uint32_t mant = h & 0x3ffu;
    uint32_t x;
    if (exp == 0x1f) {
        x = sign | 0x7f800000u | (mant << 13);
    } else if (exp == 0) {
        if (mant == 0) {
            x = sign;
        } else {
            exp = 113;
            while (!(mant & 0x400u)) {
                mant <<= 1;
                --exp;
            }
            x = sign | (exp << 23) | ((mant & 0x3ffu) << 13);
        }
    } else {
        x = sign | ((exp + 112u) << 23) | (mant << 13);
    }
    float f;
    std::memcpy(&f, &x, 4);
    return f;
}

// Every half's float: a frame reads tens of millions of coefficients.
struct HalfTable {
    std::vector<float> value = std::vector<float>(65536);
    HalfTable()
    {
        for (uint32_t h = 0; h < 65536; ++h)
            value[h] = decodeHalf(static_cast<uint16_t>(h));
    }
};

const float *halfValues()
{
    static const HalfTable table;
    return table.value.data();
}

} // namespace

float halfToFloat(uint16_t h) { return halfValues()[h]; }
