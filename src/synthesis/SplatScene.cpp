#include "synthesis/SplatScene.h"

#include <cstring>

size_t SplatScene::bytes() const
{
    return (position.size() + opacity.size() + scale.size() + rotation.size() + dc.size()) * sizeof(float) +
           rest.size() * sizeof(uint16_t);
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

void halvesToFloats(const uint16_t *h, size_t n, float *out)
{
    const float *value = halfValues();
    for (size_t k = 0; k < n; ++k)
        out[k] = value[h[k]];
}
