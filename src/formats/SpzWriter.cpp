#include "formats/SpzWriter.h"

#include "formats/WholeFile.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

namespace {

// As in the reader: the SH terms the axis change negates.
constexpr bool kNegated[15] = {1, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 1, 0, 1, 0};

unsigned char byteOf(double v) { return static_cast<unsigned char>(std::clamp(std::lround(v), 0l, 255l)); }

void put32(std::string &out, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        out.push_back(static_cast<char>(v >> (8 * k)));
}

// x y z w as the largest component's index over the other three (see the reader).
uint32_t smallestThree(const float *xyzw)
{
    int largest = 0;
    for (int k = 1; k < 4; ++k)
        if (std::fabs(xyzw[k]) > std::fabs(xyzw[largest]))
            largest = k;
    const float sign = xyzw[largest] < 0 ? -1.f : 1.f;
    uint32_t bits = static_cast<uint32_t>(largest);
    for (int k = 0; k < 4; ++k) {
        if (k == largest)
            continue;
        const float c = sign * xyzw[k];
        const long m = std::min(511l, std::lround(std::fabs(c) * M_SQRT2 * 511));
        bits = bits << 10 | (c < 0 ? 512u : 0u) | static_cast<uint32_t>(m);
    }
    return bits;
}

std::string gzip(const std::string &raw)
{
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("SPZ: the compressor cannot start");
    std::string out(deflateBound(&z, raw.size()), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(raw.data()));
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = reinterpret_cast<Bytef *>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    const int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (r != Z_STREAM_END)
        throw std::runtime_error("SPZ: the compressor failed");
    return out;
}

} // namespace

int SpzWriter::fractionalBits(double extent)
{
    // The largest fixed-point value, 2^23 - 1, rounded to from within half a unit.
    for (int bits = 24; bits >= 0; --bits)
        if (extent * std::ldexp(1.0, bits) < (1 << 23) - 0.5)
            return bits;
    return -1;
}

std::string SpzWriter::encode(const SplatScene &s)
{
    const size_t n = s.count;
    double extent = 0;
    for (float p : s.position)
        extent = std::max(extent, std::fabs(static_cast<double>(p)));
    const int bits = fractionalBits(extent);
    if (bits < 0) {
        char why[160];
        std::snprintf(why, sizeof why, "SPZ: a coordinate of %g is beyond the +-8388608 the format holds", extent);
        throw std::runtime_error(why);
    }
    if (n > 0xffffffffu)
        throw std::runtime_error("SPZ: more splats than the format counts");
    std::string raw;
    put32(raw, 0x5053474e);
    put32(raw, 3);
    put32(raw, static_cast<uint32_t>(n));
    raw += {static_cast<char>(s.shDegree), static_cast<char>(bits), static_cast<char>(s.antialiased ? 1 : 0), 0};
    const double unit = std::ldexp(1.0, bits);
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) {
            const double v = (k == 0 ? 1 : -1) * s.position[3 * i + k] * unit;
            const int32_t f = static_cast<int32_t>(std::clamp(std::llround(v), -(1ll << 23), (1ll << 23) - 1));
            for (int b = 0; b < 3; ++b)
                raw.push_back(static_cast<char>(static_cast<uint32_t>(f) >> (8 * b)));
        }
    for (size_t i = 0; i < n; ++i)
        raw.push_back(static_cast<char>(byteOf(s.opacity[i] * 255.0)));
    for (size_t i = 0; i < 3 * n; ++i)
        raw.push_back(static_cast<char>(byteOf((s.dc[i] * 0.15 + 0.5) * 255)));
    for (size_t i = 0; i < 3 * n; ++i)
        raw.push_back(static_cast<char>(byteOf((std::log(s.scale[i]) + 10) * 16)));
    for (size_t i = 0; i < n; ++i) {
        const float *q = &s.rotation[4 * i];
        const float xyzw[4] = {q[1], -q[2], -q[3], q[0]};
        put32(raw, smallestThree(xyzw));
    }
    const size_t per = s.restPerSplat();
    float rest[45];
    for (size_t i = 0; i < n && per; ++i) {
        s.restOf(i, rest);
        for (size_t k = 0; k < per; ++k) {
            const float v = rest[k] * (kNegated[k / 3] ? -1.f : 1.f);
            raw.push_back(static_cast<char>(byteOf(v * 128 + 128)));
        }
    }
    return gzip(raw);
}

bool SpzWriter::write(const std::string &path, const SplatScene &scene)
{
    return writeWholeFile(path, encode(scene));
}
