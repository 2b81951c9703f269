#ifndef VELMORA_TEST_SPLATCOMPARE_H
#define VELMORA_TEST_SPLATCOMPARE_H

#include "formats/SplatReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace testsupport {

/// How far a read scene may be from the one it was written from: the format's quantisation.
struct SplatLoss {
    double position, opacity, logScale, rotation, dc, rest; ///< rotation: 1 - |q.q'|
};

/// The SH terms of splat i as the scene holds them, beyond the constant one.
inline std::vector<float> restValues(const SplatScene &s, size_t i)
{
    float v[45];
    const size_t n = std::min<size_t>(s.restPerSplat(), 45);
    if (n)
        s.restOf(i, v, n);
    return std::vector<float>(v, v + n);
}

/// The splat of `got` nearest to each of `want` (formats that sort the splats in space).
inline std::vector<size_t> nearestSplats(const SplatScene &want, const SplatScene &got)
{
    std::vector<size_t> match(want.count);
    for (size_t i = 0; i < want.count; ++i) {
        double best = INFINITY;
        for (size_t j = 0; j < got.count; ++j) {
            double d = 0;
            for (int k = 0; k < 3; ++k)
                d += std::pow(double(want.position[3 * i + k]) - got.position[3 * j + k], 2);
            if (d < best) {
                best = d;
                match[i] = j;
            }
        }
    }
    return match;
}

/// The largest difference of each attribute, so that a failure shows how far off a format is.
/// `sorted`: the format reorders the splats, which are then matched by position.
inline void expectSplatsNear(const SplatScene &want, const SplatScene &got, const SplatLoss &loss, bool sorted = false)
{
    ASSERT_EQ(got.count, want.count);
    ASSERT_EQ(got.shDegree, want.shDegree);
    std::vector<size_t> match(want.count);
    for (size_t i = 0; i < want.count; ++i)
        match[i] = i;
    if (sorted) {
        match = nearestSplats(want, got);
        std::vector<size_t> uses(got.count);
        for (size_t j : match)
            ASSERT_EQ(++uses[j], 1u) << "two splats come back as splat " << j;
    }
    double d[6] = {};
    for (size_t w = 0; w < want.count; ++w) {
        const size_t i = w, j = match[w];
        for (int k = 0; k < 3; ++k) {
            d[0] = std::max(d[0], std::fabs(double(want.position[3 * i + k]) - got.position[3 * j + k]));
            d[2] = std::max(d[2], std::fabs(std::log(double(want.scale[3 * i + k])) - std::log(double(got.scale[3 * j + k]))));
            d[4] = std::max(d[4], std::fabs(double(want.dc[3 * i + k]) - got.dc[3 * j + k]));
        }
        d[1] = std::max(d[1], std::fabs(double(want.opacity[i]) - got.opacity[j]));
        double dot = 0;
        for (int k = 0; k < 4; ++k)
            dot += double(want.rotation[4 * i + k]) * got.rotation[4 * j + k];
        d[3] = std::max(d[3], 1 - std::fabs(dot));
        const std::vector<float> a = restValues(want, i), b = restValues(got, j);
        for (size_t k = 0; k < a.size(); ++k)
            d[5] = std::max(d[5], std::fabs(double(a[k]) - b[k]));
    }
    const double limit[6] = {loss.position, loss.opacity, loss.logScale, loss.rotation, loss.dc, loss.rest};
    const char *names[6] = {"position", "opacity", "log scale", "rotation", "dc", "rest"};
    for (int k = 0; k < 6; ++k)
        EXPECT_LE(d[k], limit[k]) << names[k];
}

inline std::string splatData(const std::string &name)
{
    return std::string(VELMORA_SOURCE_DIR) + "/tests/data/splats/" + name;
}

} // namespace testsupport

#endif
