#include "formats/DotSplatReader.h"

#include "formats/ReadRefusal.h"
#include "formats/SplatFilter.h"
#include "math/Parallel.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr QuietRefusal refuse{".splat: "};
constexpr float kC0 = 0.28209479177387814f;

float floatAt(const unsigned char *p)
{
    const uint32_t u = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

} // namespace

SplatScene DotSplatReader::read(const char *data, size_t size, const std::string &name)
{
    if (size == 0)
        refuse("an empty file");
    if (size % BYTES_PER_SPLAT)
        refuse(std::to_string(size) + " bytes: not a whole number of 32-byte splats");
    const size_t n = size / BYTES_PER_SPLAT;
    SplatScene s;
    s.resize(n, 0);
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    Parallel::split(n, n < 8192 ? 1 : 0, [&](unsigned, size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) {
            const unsigned char *p = bytes + BYTES_PER_SPLAT * i;
            for (int k = 0; k < 3; ++k) {
                s.position[3 * i + k] = floatAt(p + 4 * k);
                s.scale[3 * i + k] = floatAt(p + 12 + 4 * k);
                s.dc[3 * i + k] = (static_cast<float>(p[24 + k]) / 255.f - 0.5f) / kC0;
            }
            s.opacity[i] = static_cast<float>(p[27]) / 255.f;
            float *q = &s.rotation[4 * i];
            for (int k = 0; k < 4; ++k)
                q[k] = (static_cast<float>(p[28 + k]) - 128.f) / 128.f;
            SplatFilter::normaliseRotation(q);
        }
    });
    SplatFilter::apply(s, name);
    return s;
}

SplatScene DotSplatReader::read(const char *path)
{
    const std::vector<char> bytes = refuse.wholeFile(path);
    return read(bytes.data(), bytes.size(), path);
}
