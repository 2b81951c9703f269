#include "synthesis/SplatLod.h"

#include "math/Morton.h"
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
    return spreadBits10(x) << 2 | spreadBits10(y) << 1 | spreadBits10(z);
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

// One splat a merge takes: of the scene, weighted by its opacity times its area, or a merged
// one, weighted by the sum of the weights it stands for.
struct Part {
    const SplatScene *scene;
    size_t index;
    double weight, cover;
};

// The parts as splat `to` of `out`; their summed weight and coverage in W and C.
void merge(const std::vector<Part> &parts, SplatScene &out, size_t to, double &W, double &C)
{
    W = C = 0;
    for (const Part &p : parts) {
        W += p.weight;
        C += p.cover;
    }
    if (parts.size() == 1) {
        out.copySplat(*parts[0].scene, parts[0].index, to);
        return;
    }
    const size_t per = out.restPerSplat();
    double mean[3] = {0, 0, 0}, dc[3] = {0, 0, 0};
    std::vector<double> rest(per, 0.0);
    float terms[45];
    for (const Part &p : parts) {
        const SplatScene &s = *p.scene;
        for (int c = 0; c < 3; ++c) {
            mean[c] += p.weight * s.position[3 * p.index + c];
            dc[c] += p.weight * s.dc[3 * p.index + c];
        }
        if (per) {
            s.restOf(p.index, terms, per);
            for (size_t t = 0; t < per; ++t)
                rest[t] += p.weight * terms[t];
        }
    }
    for (int c = 0; c < 3; ++c) {
        mean[c] /= W;
        out.position[3 * to + c] = static_cast<float>(mean[c]);
        out.dc[3 * to + c] = static_cast<float>(dc[c] / W);
    }
    // The spread: each part's covariance R diag(s^2) R^T and its offset from the mean.
    double C3[3][3] = {};
    for (const Part &p : parts) {
        const SplatScene &s = *p.scene;
        const size_t i = p.index;
        const double w = p.weight / W;
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
                C3[r][c] += w * v;
            }
    }
    double V[3][3], value[3];
    eigenSymmetric(C3, V, value);
    const double det = V[0][0] * (V[1][1] * V[2][2] - V[1][2] * V[2][1]) - V[0][1] * (V[1][0] * V[2][2] - V[1][2] * V[2][0]) +
                       V[0][2] * (V[1][0] * V[2][1] - V[1][1] * V[2][0]);
    if (det < 0)
        for (int r = 0; r < 3; ++r)
            V[r][2] = -V[r][2];
    quaternionOf(V, &out.rotation[4 * to]);
    for (int c = 0; c < 3; ++c)
        out.scale[3 * to + c] = static_cast<float>(std::sqrt(std::max(value[c], 1e-14)));
    out.opacity[to] = static_cast<float>(std::min(0.99, C / std::max(areaOf(&out.scale[3 * to]), 1e-30)));
    if (per) {
        for (size_t t = 0; t < per; ++t)
            terms[t] = static_cast<float>(rest[t] / W);
        out.setRest(to, terms);
    }
}

// The splats of `scene` in the order of the cells of the finest grid, and for each neighbour
// pair (k - 1, k) the coarsest level at which they part (kLevels + 1 when they never do).
void cellOrder(const SplatScene &scene, const std::atomic<bool> *cancel, std::vector<uint32_t> &order,
               std::vector<uint8_t> &parting)
{
    const size_t n = scene.count;
    float lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], scene.position[3 * i + c]);
            hi[c] = std::max(hi[c], scene.position[3 * i + c]);
        }
    const double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2], 1e-20f});
    const double cells = (1 << kLevels) - 1;
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
    order.resize(n);
    parting.assign(n, kLevels + 1);
    for (size_t k = 0; k < n; ++k) {
        order[k] = static_cast<uint32_t>(keyed[k]);
        const uint32_t d = k ? static_cast<uint32_t>(keyed[k] >> 32) ^ static_cast<uint32_t>(keyed[k - 1] >> 32) : 0;
        if (d) // their codes differ first in bit b: level ceil((30 - b) / 3)
            parting[k] = static_cast<uint8_t>((3 * kLevels - (31 - __builtin_clz(d)) + 2) / 3);
    }
}

} // namespace

SplatLod SplatLod::build(const SplatScene &scene, const std::atomic<bool> *cancel)
{
    SplatLod lod;
    const size_t n = scene.count;
    lod.splats.resize(0, scene.shDegree);
    lod.splats.antialiased = scene.antialiased;
    if (n == 0)
        return lod;
    std::vector<uint8_t> parting;
    cellOrder(scene, cancel, lod.order, parting);
    // Each level's groups, as their starts in the cell order, from the whole scene down to the
    // last level of at most n / 8 groups: the merged splats take at most a seventh of the
    // scene's memory or so.
    std::vector<std::vector<uint32_t>> starts;
    for (int level = 0; level <= kLevels; ++level) {
        std::vector<uint32_t> s;
        for (size_t k = 0; k < n; ++k)
            if (k == 0 || parting[k] <= level)
                s.push_back(static_cast<uint32_t>(k));
        if (level > 0 && s.size() > std::max<size_t>(n / 8, 1))
            break;
        starts.push_back(std::move(s));
    }
    std::vector<uint8_t>().swap(parting);
    const size_t levels = starts.size();
    // All levels in one scene, coarsest first: level l's groups from levelStart[l] on.
    size_t total = 0;
    for (const std::vector<uint32_t> &s : starts) {
        lod.levelStart.push_back(total);
        total += s.size();
    }
    lod.levelStart.push_back(total);
    lod.splats.resize(total, scene.shDegree);
    lod.first.resize(total);
    lod.last.resize(total);
    lod.childFirst.assign(total, 0);
    lod.childLast.assign(total, 0);
    std::vector<double> weight(total), cover(total);
    for (size_t l = 0; l < levels; ++l) {
        const std::vector<uint32_t> &s = starts[l];
        for (size_t g = 0, f = 0; g < s.size(); ++g) {
            const size_t id = lod.levelStart[l] + g;
            lod.first[id] = s[g];
            lod.last[id] = g + 1 < s.size() ? s[g + 1] : static_cast<uint32_t>(n);
            if (l + 1 == levels)
                continue;
            // The groups of the finer level inside this one: those that start within it.
            const std::vector<uint32_t> &fine = starts[l + 1];
            while (f < fine.size() && fine[f] < s[g])
                ++f;
            lod.childFirst[id] = static_cast<uint32_t>(lod.levelStart[l + 1] + f);
            size_t e = f;
            while (e < fine.size() && fine[e] < lod.last[id])
                ++e;
            lod.childLast[id] = static_cast<uint32_t>(lod.levelStart[l + 1] + e);
        }
    }
    // The finest level from the splats, each coarser one from the level below it.
    for (size_t l = levels; l-- > 0;) {
        const size_t from = lod.levelStart[l], to = lod.levelStart[l + 1];
        Parallel::split(to - from, to - from < 4096 ? 1 : 0, [&](unsigned, size_t begin, size_t end) {
            std::vector<Part> parts;
            for (size_t id = from + begin; id < from + end; ++id) {
                if ((id & 4095) == 0)
                    checkCancel(cancel);
                parts.clear();
                if (l + 1 == levels) {
                    for (size_t k = lod.first[id]; k < lod.last[id]; ++k) {
                        const size_t i = lod.order[k];
                        const double a = scene.opacity[i] * areaOf(&scene.scale[3 * i]);
                        parts.push_back({&scene, i, a + 1e-30, a});
                    }
                } else {
                    for (size_t c = lod.childFirst[id]; c < lod.childLast[id]; ++c)
                        parts.push_back({&lod.splats, c, weight[c], cover[c]});
                }
                merge(parts, lod.splats, id, weight[id], cover[id]);
            }
        });
    }
    return lod;
}

std::vector<uint32_t> SplatLod::standIn(size_t target) const
{
    // The finest level of at most `target` groups, or the first of more, cut to the ones that
    // cover most.
    size_t level = 0;
    while (level + 2 < levelStart.size() && levelStart[level + 1] - levelStart[level] < target)
        ++level;
    std::vector<std::pair<float, uint32_t>> groups;
    for (size_t g = levelStart[level]; g < levelStart[level + 1]; ++g)
        groups.push_back({-static_cast<float>(splats.opacity[g] * areaOf(&splats.scale[3 * g])), static_cast<uint32_t>(g)});
    if (groups.size() > target) {
        std::nth_element(groups.begin(), groups.begin() + static_cast<long>(target), groups.end());
        groups.resize(target);
    }
    std::vector<uint32_t> out;
    for (const auto &g : groups)
        out.push_back(g.second);
    std::sort(out.begin(), out.end());
    return out;
}

void SplatLod::cut(const SplatCamera &cam, double pixels, std::vector<uint32_t> &originals, std::vector<uint32_t> &stand) const
{
    originals.clear();
    stand.clear();
    if (levelStart.size() < 2)
        return;
    const double f = std::max(cam.fx, cam.fy);
    const size_t finest = levelStart[levelStart.size() - 2];
    std::vector<uint32_t> todo;
    for (size_t g = levelStart[0]; g < levelStart[1]; ++g)
        todo.push_back(static_cast<uint32_t>(g));
    while (!todo.empty()) {
        const size_t g = todo.back();
        todo.pop_back();
        const float *p = &splats.position[3 * g], *s = &splats.scale[3 * g];
        const double z = cam.R[6] * p[0] + cam.R[7] * p[1] + cam.R[8] * p[2] + cam.t[2];
        const double extent = 3 * std::max({s[0], s[1], s[2]});
        if (z > SplatRaster::NEAR_PLANE + extent && f * extent < pixels * z) {
            stand.push_back(static_cast<uint32_t>(g));
        } else if (g >= finest) {
            for (uint32_t k = first[g]; k < last[g]; ++k)
                originals.push_back(order[k]);
        } else {
            for (uint32_t c = childFirst[g]; c < childLast[g]; ++c)
                todo.push_back(c);
        }
    }
    std::sort(originals.begin(), originals.end()); // the scene read forwards
}

SplatScene SplatLod::build(const SplatScene &scene, size_t target, const std::atomic<bool> *cancel)
{
    if (scene.count <= target || target == 0) {
        SplatScene copy = scene;
        return copy;
    }
    const SplatLod lod = build(scene, cancel);
    const std::vector<uint32_t> chosen = lod.standIn(target);
    SplatScene out;
    out.resize(chosen.size(), scene.shDegree);
    out.antialiased = scene.antialiased;
    for (size_t k = 0; k < chosen.size(); ++k)
        out.copySplat(lod.merged(), chosen[k], k);
    return out;
}
