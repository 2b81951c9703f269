#include "synthesis/SplatLod.h"

#include "math/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

constexpr int kLevels = 10; // bits a coordinate of the finest grid

// Three 10-bit integers interleaved.
uint32_t morton(uint32_t x, uint32_t y, uint32_t z)
{
    const auto spread = [](uint32_t v) {
        v &= 0x3ff;
        v = (v | (v << 16)) & 0x030000ff;
        v = (v | (v << 8)) & 0x0300f00f;
        v = (v | (v << 4)) & 0x030c30c3;
        v = (v | (v << 2)) & 0x09249249;
        return v;
    };
    return spread(x) << 2 | spread(y) << 1 | spread(z);
}

void checkCancel(const std::atomic<bool> *cancel)
{
    if (cancel && cancel->load())
        throw SplatLod::Cancelled();
}

// Eigen vectors (columns of V) and values of the symmetric 3 x 3 matrix A, by Jacobi turns.
void eigenSymmetric(double A[3][3], double V[3][3], double value[3])
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            V[i][j] = i == j;
    for (int sweep = 0; sweep < 16; ++sweep) {
        const double off = std::fabs(A[0][1]) + std::fabs(A[0][2]) + std::fabs(A[1][2]);
        if (off < 1e-30)
            break;
        for (int p = 0; p < 2; ++p)
            for (int q = p + 1; q < 3; ++q) {
                if (std::fabs(A[p][q]) < 1e-300)
                    continue;
                const double theta = (A[q][q] - A[p][p]) / (2 * A[p][q]);
                const double t = (theta >= 0 ? 1 : -1) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
                const double c = 1 / std::sqrt(t * t + 1), s = t * c;
                for (int k = 0; k < 3; ++k) { // A = J^T A J
                    const double akp = A[k][p], akq = A[k][q];
                    A[k][p] = c * akp - s * akq;
                    A[k][q] = s * akp + c * akq;
                }
                for (int k = 0; k < 3; ++k) {
                    const double apk = A[p][k], aqk = A[q][k];
                    A[p][k] = c * apk - s * aqk;
                    A[q][k] = s * apk + c * aqk;
                }
                for (int k = 0; k < 3; ++k) {
                    const double vkp = V[k][p], vkq = V[k][q];
                    V[k][p] = c * vkp - s * vkq;
                    V[k][q] = s * vkp + c * vkq;
                }
            }
    }
    for (int k = 0; k < 3; ++k)
        value[k] = A[k][k];
}

// The unit quaternion w x y z of the rotation matrix R (a proper one).
void quaternionOf(const double R[3][3], float *q)
{
    const double tr = R[0][0] + R[1][1] + R[2][2];
    double w, x, y, z;
    if (tr > 0) {
        const double s = 2 * std::sqrt(tr + 1);
        w = s / 4, x = (R[2][1] - R[1][2]) / s, y = (R[0][2] - R[2][0]) / s, z = (R[1][0] - R[0][1]) / s;
    } else if (R[0][0] > R[1][1] && R[0][0] > R[2][2]) {
        const double s = 2 * std::sqrt(1 + R[0][0] - R[1][1] - R[2][2]);
        w = (R[2][1] - R[1][2]) / s, x = s / 4, y = (R[0][1] + R[1][0]) / s, z = (R[0][2] + R[2][0]) / s;
    } else if (R[1][1] > R[2][2]) {
        const double s = 2 * std::sqrt(1 + R[1][1] - R[0][0] - R[2][2]);
        w = (R[0][2] - R[2][0]) / s, x = (R[0][1] + R[1][0]) / s, y = s / 4, z = (R[1][2] + R[2][1]) / s;
    } else {
        const double s = 2 * std::sqrt(1 + R[2][2] - R[0][0] - R[1][1]);
        w = (R[1][0] - R[0][1]) / s, x = (R[0][2] + R[2][0]) / s, y = (R[1][2] + R[2][1]) / s, z = s / 4;
    }
    const double n = std::sqrt(w * w + x * x + y * y + z * z);
    q[0] = static_cast<float>(w / n);
    q[1] = static_cast<float>(x / n);
    q[2] = static_cast<float>(y / n);
    q[3] = static_cast<float>(z / n);
}

// The area a splat covers: the product of its two largest scales.
double areaOf(const float *s)
{
    const double a = s[0], b = s[1], c = s[2];
    return std::max({a * b, b * c, a * c});
}

// Splats order[first, last) of `s` as splat `to` of `out`.
void merge(const SplatScene &s, const std::vector<uint32_t> &order, size_t first, size_t last, SplatScene &out, size_t to)
{
    if (last - first == 1) {
        out.copySplat(s, order[first], to);
        return;
    }
    const size_t per = s.restPerSplat();
    double W = 0, mean[3] = {0, 0, 0}, dc[3] = {0, 0, 0}, cover = 0;
    std::vector<double> rest(per, 0.0);
    float terms[45];
    for (size_t k = first; k < last; ++k) {
        const size_t i = order[k];
        const double a = areaOf(&s.scale[3 * i]), w = s.opacity[i] * a + 1e-30;
        W += w;
        cover += s.opacity[i] * a;
        for (int c = 0; c < 3; ++c) {
            mean[c] += w * s.position[3 * i + c];
            dc[c] += w * s.dc[3 * i + c];
        }
        if (per) {
            s.restOf(i, terms);
            for (size_t t = 0; t < per; ++t)
                rest[t] += w * terms[t];
        }
    }
    for (int c = 0; c < 3; ++c) {
        mean[c] /= W;
        out.position[3 * to + c] = static_cast<float>(mean[c]);
        out.dc[3 * to + c] = static_cast<float>(dc[c] / W);
    }
    // The spread: each splat's covariance R diag(s^2) R^T and its offset from the mean.
    double C[3][3] = {};
    for (size_t k = first; k < last; ++k) {
        const size_t i = order[k];
        const double w = (s.opacity[i] * areaOf(&s.scale[3 * i]) + 1e-30) / W;
        const float *q = &s.rotation[4 * i];
        const double qw = q[0], x = q[1], y = q[2], z = q[3];
        const double R[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - qw * z), 2 * (x * z + qw * y)},
                                {2 * (x * y + qw * z), 1 - 2 * (x * x + z * z), 2 * (y * z - qw * x)},
                                {2 * (x * z - qw * y), 2 * (y * z + qw * x), 1 - 2 * (x * x + y * y)}};
        double d[3];
        for (int c = 0; c < 3; ++c)
            d[c] = s.position[3 * i + c] - mean[c];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                double v = d[r] * d[c];
                for (int m = 0; m < 3; ++m) {
                    const double sm = s.scale[3 * i + m];
                    v += R[r][m] * sm * sm * R[c][m];
                }
                C[r][c] += w * v;
            }
    }
    double V[3][3], value[3];
    eigenSymmetric(C, V, value);
    const double det = V[0][0] * (V[1][1] * V[2][2] - V[1][2] * V[2][1]) - V[0][1] * (V[1][0] * V[2][2] - V[1][2] * V[2][0]) +
                       V[0][2] * (V[1][0] * V[2][1] - V[1][1] * V[2][0]);
    if (det < 0)
        for (int r = 0; r < 3; ++r)
            V[r][2] = -V[r][2];
    quaternionOf(V, &out.rotation[4 * to]);
    for (int c = 0; c < 3; ++c)
        out.scale[3 * to + c] = static_cast<float>(std::sqrt(std::max(value[c], 1e-14)));
    out.opacity[to] = static_cast<float>(std::min(0.99, cover / std::max(areaOf(&out.scale[3 * to]), 1e-30)));
    if (per) {
        for (size_t t = 0; t < per; ++t)
            terms[t] = static_cast<float>(rest[t] / W);
        out.setRest(to, terms);
    }
}

} // namespace

SplatScene SplatLod::build(const SplatScene &scene, size_t target, const std::atomic<bool> *cancel)
{
    const size_t n = scene.count;
    if (n <= target || target == 0) {
        SplatScene copy = scene;
        return copy;
    }
    float lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], scene.position[3 * i + c]);
            hi[c] = std::max(hi[c], scene.position[3 * i + c]);
        }
    const double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2], 1e-20f});
    const double cells = (1 << kLevels) - 1;
    // Splats in the order of the cells of the finest grid (code, index).
    std::vector<uint64_t> keyed(n);
    Parallel::split(n, n < 65536 ? 1 : 0, [&](unsigned, size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            uint32_t g[3];
            for (int c = 0; c < 3; ++c)
                g[c] = static_cast<uint32_t>(std::lround((scene.position[3 * i + c] - lo[c]) / extent * cells));
            keyed[i] = static_cast<uint64_t>(morton(g[0], g[1], g[2])) << 32 | i;
        }
    });
    checkCancel(cancel);
    std::sort(keyed.begin(), keyed.end());
    checkCancel(cancel);
    // Occupied cells at each level: neighbours in that order part at the level of their highest
    // differing bit.
    size_t parts[kLevels + 1] = {};
    for (size_t k = 1; k < n; ++k) {
        const uint32_t d = static_cast<uint32_t>(keyed[k] >> 32) ^ static_cast<uint32_t>(keyed[k - 1] >> 32);
        if (d)
            ++parts[(3 * kLevels - (31 - __builtin_clz(d)) + 2) / 3];
    }
    int level = 0;
    for (size_t groups = 1; level < kLevels && groups < target; groups += parts[++level]) {
    }
    const int shift = 32 + 3 * (kLevels - level);
    std::vector<uint32_t> order(n);
    std::vector<size_t> start;
    for (size_t k = 0; k < n; ++k) {
        order[k] = static_cast<uint32_t>(keyed[k]);
        if (k == 0 || (keyed[k] >> shift) != (keyed[k - 1] >> shift))
            start.push_back(k);
    }
    std::vector<uint64_t>().swap(keyed);
    start.push_back(n);
    const size_t groups = start.size() - 1;
    SplatScene merged;
    merged.resize(groups, scene.shDegree);
    merged.antialiased = scene.antialiased;
    Parallel::split(groups, groups < 4096 ? 1 : 0, [&](unsigned, size_t begin, size_t end) {
        for (size_t g = begin; g < end; ++g) {
            if ((g & 4095) == 0)
                checkCancel(cancel);
            merge(scene, order, start[g], start[g + 1], merged, g);
        }
    });
    if (groups <= target)
        return merged;
    // More cells than the budget: the merged splats that cover most.
    std::vector<std::pair<float, uint32_t>> cover(groups);
    for (size_t g = 0; g < groups; ++g)
        cover[g] = {-static_cast<float>(merged.opacity[g] * areaOf(&merged.scale[3 * g])), static_cast<uint32_t>(g)};
    std::nth_element(cover.begin(), cover.begin() + static_cast<long>(target), cover.end());
    std::sort(cover.begin(), cover.begin() + static_cast<long>(target),
              [](const auto &a, const auto &b) { return a.second < b.second; });
    SplatScene kept;
    kept.resize(target, merged.shDegree);
    kept.antialiased = merged.antialiased;
    for (size_t k = 0; k < target; ++k)
        kept.copySplat(merged, cover[k].second, k);
    return kept;
}
