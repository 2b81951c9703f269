#ifndef VELMORA_TEST_SPLATFILES_H
#define VELMORA_TEST_SPLATFILES_H

#include "formats/SplatReader.h"
#include "formats/SplatWriter.h"
#include "support/SplatCompare.h"

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace testsupport {
namespace splatfiles {

// One splat as the file holds it (before activation), f_rest channel by channel.
struct Raw {
    double pos[3], dc[3], rest[45], opacity, scale[3], rot[4];
};

inline std::vector<float> fileValues(const std::vector<Raw> &splats, int degree)
{
    const int nr = 3 * ((degree + 1) * (degree + 1) - 1);
    std::vector<float> v;
    for (const Raw &s : splats) {
        v.insert(v.end(), {float(s.pos[0]), float(s.pos[1]), float(s.pos[2]), 0, 0, 1});
        v.insert(v.end(), {float(s.dc[0]), float(s.dc[1]), float(s.dc[2])});
        for (int k = 0; k < nr; ++k)
            v.push_back(float(s.rest[k]));
        v.insert(v.end(), {float(s.opacity), float(s.scale[0]), float(s.scale[1]), float(s.scale[2])});
        v.insert(v.end(), {float(s.rot[0]), float(s.rot[1]), float(s.rot[2]), float(s.rot[3])});
    }
    return v;
}

inline std::string plyBytes(const std::vector<Raw> &splats, int degree)
{
    const std::vector<float> v = fileValues(splats, degree);
    std::string bytes = SplatWriter::header(splats.size(), degree);
    bytes.append(reinterpret_cast<const char *>(v.data()), 4 * v.size()); // tests run little-endian
    return bytes;
}

using testsupport::restValues;

inline SplatScene readBytes(const std::string &bytes)
{
    return SplatReader::read(bytes.data(), bytes.size(), "test.ply");
}

// A few thousand splats in front of the camera, some beyond the image's border and some
// across the near plane (camera centre at z = -4, near plane about z = -3.8).
inline std::vector<Raw> randomScene(int count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<Raw> splats(static_cast<size_t>(count));
    for (size_t k = 0; k < splats.size(); ++k) {
        Raw &s = splats[k];
        const int kind = static_cast<int>(k % 10);
        if (kind == 0) { // around the near plane, big on screen
            s.pos[0] = 0.3 * u(rng);
            s.pos[1] = 0.3 * u(rng);
            s.pos[2] = -3.75 + 0.1 * u(rng);
        } else if (kind == 1) { // across the image border
            s.pos[0] = (u(rng) > 0 ? 1 : -1) * (2.6 + 0.5 * u(rng));
            s.pos[1] = 1.5 * u(rng);
            s.pos[2] = 0.8 * u(rng);
        } else {
            for (double &p : s.pos)
                p = 1.2 * u(rng);
        }
        for (double &d : s.dc)
            d = 1.2 * u(rng);
        for (double &r : s.rest)
            r = 0.25 * u(rng);
        s.opacity = 3 * u(rng);
        for (double &sc : s.scale)
            sc = std::log(0.02 + 0.05 * (u(rng) + 1)) + (kind == 0 ? -1.5 : 0);
        for (double &q : s.rot)
            q = u(rng);
    }
    return splats;
}

} // namespace splatfiles
} // namespace testsupport

#endif
