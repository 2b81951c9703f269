#include "synthesis/SplatRaster.h"
#include "math/Parallel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr int TILE = 16;
constexpr double SH_C0 = 0.28209479177387814;
constexpr double SH_C1 = 0.4886025119029199;
constexpr double SH_C2[5] = {1.0925484305920792, -1.0925484305920792, 0.31539156525252005, -1.0925484305920792,
                             0.5462742152960396};
constexpr double SH_C3[7] = {-0.5900435899266435, 2.890611442640554, -0.4570457994644658, 0.3731763325901154,
                             -0.4570457994644658, 1.445305721320277, -0.5900435899266435};

// A splat ready for the pixels: floats, since every pixel of its footprint reads them.
struct Projected {
    float mx, my, ca, cb, cc, opacity;
    float depth;
    float floor; // below this exponent the splat's alpha is under 1/255: no exp needed
    float colour[3];
    int16_t x0, y0, x1, y1; // pixel rectangle, inclusive
};

// Sorts (key, value) pairs by key, least significant 16 bits first; stable.
void radixSort(std::vector<uint32_t> &keys, std::vector<uint32_t> &values)
{
    const size_t n = keys.size();
    std::vector<uint32_t> k2(n), v2(n);
    std::vector<size_t> count(65536);
    for (int shift = 0; shift < 32; shift += 16) {
        std::fill(count.begin(), count.end(), 0);
        for (size_t i = 0; i < n; ++i)
            ++count[(keys[i] >> shift) & 0xffffu];
        size_t sum = 0;
        for (auto &c : count) {
            const size_t here = c;
            c = sum;
            sum += here;
        }
        for (size_t i = 0; i < n; ++i) {
            const size_t at = count[(keys[i] >> shift) & 0xffffu]++;
            k2[at] = keys[i];
            v2[at] = values[i];
        }
        keys.swap(k2);
        values.swap(v2);
    }
}

// The footprint of splat i as the pixels read it; false when it does not reach the image.
bool project(const SplatScene &scene, size_t i, const SplatCamera &cam, const SplatRasterOptions &options,
             const SplatImage &image, bool colour, Projected &s)
{
    SplatFootprint f;
    if (i >= scene.count || !SplatRaster::footprint(scene, i, cam, options, f, colour))
        return false;
    s.mx = static_cast<float>(f.mx);
    s.my = static_cast<float>(f.my);
    s.ca = static_cast<float>(f.conic[0]);
    s.cb = static_cast<float>(f.conic[1]);
    s.cc = static_cast<float>(f.conic[2]);
    s.opacity = f.opacity;
    s.depth = static_cast<float>(f.depth);
    // A little below the exact limit, so that rounding never skips a splat the rule keeps.
    s.floor = static_cast<float>(std::log(1.0 / (255.0 * f.opacity))) - 1e-3f;
    std::copy(f.colour, f.colour + 3, s.colour);
    // Pixels whose centre lies within the radius of the centre on both axes.
    const int x0 = std::max(0, static_cast<int>(std::ceil(f.mx - f.radius - 0.5)));
    const int y0 = std::max(0, static_cast<int>(std::ceil(f.my - f.radius - 0.5)));
    const int x1 = std::min(image.width - 1, static_cast<int>(std::floor(f.mx + f.radius - 0.5)));
    const int y1 = std::min(image.height - 1, static_cast<int>(std::floor(f.my + f.radius - 0.5)));
    if (x0 > x1 || y0 > y1)
        return false;
    s.x0 = static_cast<int16_t>(x0);
    s.y0 = static_cast<int16_t>(y0);
    s.x1 = static_cast<int16_t>(x1);
    s.y1 = static_cast<int16_t>(y1);
    return true;
}

// The scene and index of splat k of the drawing: the scene's (of the subset, when there is
// one), then the extra scene's.
std::pair<const SplatScene *, size_t> sourceOf(const SplatScene &scene, const SplatRasterOptions &o, size_t k)
{
    const size_t own = o.subset ? o.subset->size() : scene.count;
    if (k < own)
        return {&scene, o.subset ? (*o.subset)[k] : k};
    return {o.extra, (*o.extraSubset)[k - own]};
}

// The splats that reach the image, front to back: their indices in the drawing (of the
// subset, when there is one) sorted by depth, and, for a frame of at most a batch of candidates,
// their footprints in that order (a larger frame projects them again batch by batch).
struct Sorted {
    std::vector<uint32_t> order;
    std::vector<Projected> splats;
};

Sorted sortByDepth(const SplatScene &scene, const SplatCamera &cam, const SplatRasterOptions &options,
                   const SplatImage &image, size_t n)
{
    const bool whole = n <= std::max<size_t>(1, options.batch);
    const unsigned threads = static_cast<unsigned>(std::max(1, options.threads));
    const unsigned parts = threads == 1 || n < 4096 ? 1 : threads;
    // Each part's kept splats: their depth as bits that order as the depths do, their index.
    std::vector<std::vector<uint32_t>> keys(parts), indices(parts);
    std::unique_ptr<Projected[]> all(whole ? new Projected[n] : nullptr); // only kept entries are read
    Parallel::split(n, parts, [&](unsigned part, size_t begin, size_t end) {
        Projected s;
        for (size_t k = begin; k < end; ++k) {
            const auto from = sourceOf(scene, options, k);
            if (!project(*from.first, from.second, cam, options, image, whole, s))
                continue;
            uint32_t key;
            std::memcpy(&key, &s.depth, 4); // positive floats order as their bits
            keys[part].push_back(key);
            indices[part].push_back(static_cast<uint32_t>(k));
            if (whole)
                all[k] = s;
        }
    });
    Sorted out;
    std::vector<uint32_t> key;
    for (unsigned p = 0; p < parts; ++p) {
        key.insert(key.end(), keys[p].begin(), keys[p].end());
        out.order.insert(out.order.end(), indices[p].begin(), indices[p].end());
        std::vector<uint32_t>().swap(keys[p]);
        std::vector<uint32_t>().swap(indices[p]);
    }
    radixSort(key, out.order);
    if (whole) {
        out.splats.resize(out.order.size());
        for (size_t j = 0; j < out.order.size(); ++j)
            out.splats[j] = all[out.order[j]];
    }
    return out;
}

// Each tile's splats, front to back: those of tile t are list[start[t]] to list[start[t + 1]].
struct Tiles {
    int across = 0, down = 0;
    size_t count = 0;
    std::vector<size_t> start;
    std::vector<uint32_t> list;

    size_t index(int tx, int ty) const { return static_cast<size_t>(ty) * static_cast<size_t>(across) + static_cast<size_t>(tx); }
};

Tiles binIntoTiles(const std::vector<Projected> &sorted, const SplatImage &image)
{
    Tiles t;
    t.across = (image.width + TILE - 1) / TILE;
    t.down = (image.height + TILE - 1) / TILE;
    t.count = static_cast<size_t>(t.across) * static_cast<size_t>(t.down);
    // Counted first, then placed: every tile's list is one stretch of one array.
    t.start.assign(t.count + 1, 0);
    for (const Projected &s : sorted)
        for (int ty = s.y0 / TILE; ty <= s.y1 / TILE; ++ty)
            for (int tx = s.x0 / TILE; tx <= s.x1 / TILE; ++tx)
                ++t.start[t.index(tx, ty) + 1];
    for (size_t k = 0; k < t.count; ++k)
        t.start[k + 1] += t.start[k];
    t.list.resize(t.start[t.count]);
    std::vector<size_t> fill(t.start.begin(), t.start.end() - 1);
    for (size_t j = 0; j < sorted.size(); ++j) {
        const Projected &s = sorted[j];
        for (int ty = s.y0 / TILE; ty <= s.y1 / TILE; ++ty)
            for (int tx = s.x0 / TILE; tx <= s.x1 / TILE; ++tx)
                t.list[fill[t.index(tx, ty)]++] = static_cast<uint32_t>(j);
    }
    return t;
}

// What blending has left in the pixels so far: the image's colour, transmittance and depth,
// and the pixels that let too little through for any more splat.
struct Blending {
    SplatImage &image;
    std::vector<char> done;
    std::vector<int> remaining; // pixels of each tile not done
};

// Blends the splats of one tile front to back into the image's pixels there.
void blendTile(const std::vector<Projected> &sorted, const Tiles &tiles, size_t tile, Blending &b)
{
    if (b.remaining[tile] <= 0)
        return;
    SplatImage &image = b.image;
    float T[TILE * TILE], C[3 * TILE * TILE], D[TILE * TILE];
    bool done[TILE * TILE];
    const int tx0 = static_cast<int>(tile % static_cast<size_t>(tiles.across)) * TILE;
    const int ty0 = static_cast<int>(tile / static_cast<size_t>(tiles.across)) * TILE;
    const int tx1 = std::min(tx0 + TILE, image.width) - 1, ty1 = std::min(ty0 + TILE, image.height) - 1;
    const auto pixel = [&](int x, int y) { return static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x); };
    for (int y = ty0; y <= ty1; ++y)
        for (int x = tx0; x <= tx1; ++x) {
            const int p = (y - ty0) * TILE + (x - tx0);
            const size_t q = pixel(x, y);
            T[p] = image.transmittance[q];
            D[p] = image.depth[q];
            std::copy(&image.colour[3 * q], &image.colour[3 * q] + 3, C + 3 * p);
            done[p] = b.done[q];
        }
    int remaining = b.remaining[tile];
    for (size_t e = tiles.start[tile]; e < tiles.start[tile + 1] && remaining > 0; ++e) {
        const Projected &s = sorted[tiles.list[e]];
        const int x0 = std::max<int>(s.x0, tx0), x1 = std::min<int>(s.x1, tx1);
        const int y0 = std::max<int>(s.y0, ty0), y1 = std::min<int>(s.y1, ty1);
        for (int y = y0; y <= y1; ++y) {
            const float dy = static_cast<float>(y) + 0.5f - s.my;
            for (int x = x0; x <= x1; ++x) {
                const int p = (y - ty0) * TILE + (x - tx0);
                if (done[p])
                    continue;
                const float dx = static_cast<float>(x) + 0.5f - s.mx;
                const float power = -0.5f * (s.ca * dx * dx + s.cc * dy * dy) - s.cb * dx * dy;
                if (power < s.floor)
                    continue;
                const float alpha = std::min(0.99f, s.opacity * std::exp(power));
                if (alpha < 1.f / 255.f)
                    continue;
                const float nextT = T[p] * (1 - alpha);
                if (nextT < 0.0001f) {
                    done[p] = true;
                    --remaining;
                    continue;
                }
                const float w = alpha * T[p];
                C[3 * p] += s.colour[0] * w;
                C[3 * p + 1] += s.colour[1] * w;
                C[3 * p + 2] += s.colour[2] * w;
                if (nextT < 0.5f && T[p] >= 0.5f)
                    D[p] = s.depth;
                T[p] = nextT;
            }
        }
    }
    b.remaining[tile] = remaining;
    for (int y = ty0; y <= ty1; ++y)
        for (int x = tx0; x <= tx1; ++x) {
            const int p = (y - ty0) * TILE + (x - tx0);
            const size_t q = pixel(x, y);
            image.transmittance[q] = T[p];
            image.depth[q] = D[p];
            b.done[q] = done[p];
            std::copy(C + 3 * p, C + 3 * p + 3, &image.colour[3 * q]);
        }
}

// The tiles on the threads, each taking the next tile not taken yet.
void blendTiles(const std::vector<Projected> &sorted, const Tiles &tiles, int threads, Blending &b)
{
    std::atomic<size_t> next{0};
    Parallel::run(static_cast<unsigned>(std::max(1, threads)), [&](unsigned) {
        for (size_t tile; (tile = next.fetch_add(1)) < tiles.count;)
            blendTile(sorted, tiles, tile, b);
    });
}

// The sorted splats of a frame larger than one batch, projected again (with their colours)
// batch by batch and blended in that order.
void blendInBatches(const SplatScene &scene, const SplatCamera &cam, const SplatRasterOptions &options,
                    const std::vector<uint32_t> &order, Blending &b)
{
    std::vector<Projected> batch;
    const size_t size = std::max<size_t>(1, options.batch);
    for (size_t first = 0; first < order.size(); first += size) {
        const size_t n = std::min(size, order.size() - first);
        batch.resize(n);
        Parallel::split(n, static_cast<unsigned>(std::max(1, options.threads)), [&](unsigned, size_t begin, size_t end) {
            for (size_t j = begin; j < end; ++j) {
                const size_t k = order[first + j];
                // The same footprint as the first pass found: it reaches the image.
                const auto from = sourceOf(scene, options, k);
                project(*from.first, from.second, cam, options, b.image, true, batch[j]);
            }
        });
        blendTiles(batch, binIntoTiles(batch, b.image), options.threads, b);
    }
}

} // namespace

void SplatRaster::shColour(const SplatScene &scene, size_t i, int degree, const double d[3], float out[3])
{
    degree = std::min(std::max(degree, 0), scene.shDegree);
    double c[3];
    for (int ch = 0; ch < 3; ++ch)
        c[ch] = SH_C0 * scene.dc[3 * i + static_cast<size_t>(ch)];
    if (degree > 0) {
        const double x = d[0], y = d[1], z = d[2];
        double basis[15];
        basis[0] = -SH_C1 * y;
        basis[1] = SH_C1 * z;
        basis[2] = -SH_C1 * x;
        int used = 3;
        if (degree > 1) {
            const double xx = x * x, yy = y * y, zz = z * z, xy = x * y, yz = y * z, xz = x * z;
            basis[3] = SH_C2[0] * xy;
            basis[4] = SH_C2[1] * yz;
            basis[5] = SH_C2[2] * (2 * zz - xx - yy);
            basis[6] = SH_C2[3] * xz;
            basis[7] = SH_C2[4] * (xx - yy);
            used = 8;
            if (degree > 2) {
                basis[8] = SH_C3[0] * y * (3 * xx - yy);
                basis[9] = SH_C3[1] * xy * z;
                basis[10] = SH_C3[2] * y * (4 * zz - xx - yy);
                basis[11] = SH_C3[3] * z * (2 * zz - 3 * xx - 3 * yy);
                basis[12] = SH_C3[4] * x * (4 * zz - xx - yy);
                basis[13] = SH_C3[5] * z * (xx - yy);
                basis[14] = SH_C3[6] * x * (xx - 3 * yy);
                used = 15;
            }
        }
        float coeff[45];
        scene.restOf(i, coeff, static_cast<size_t>(3 * used));
        for (int k = 0; k < used; ++k)
            for (int ch = 0; ch < 3; ++ch)
                c[ch] += basis[k] * static_cast<double>(coeff[3 * k + ch]);
    }
    for (int ch = 0; ch < 3; ++ch)
        out[ch] = static_cast<float>(std::max(0.0, c[ch] + 0.5));
}

bool SplatRaster::footprint(const SplatScene &scene, size_t i, const SplatCamera &cam,
                            const SplatRasterOptions &options, SplatFootprint &out, bool colour)
{
    const float opacity = scene.opacity[i];
    if (!(opacity >= options.opacityFloor))
        return false;
    const float *p = &scene.position[3 * i];
    const double *R = cam.R;
    double t[3];
    for (int r = 0; r < 3; ++r)
        t[r] = R[3 * r] * p[0] + R[3 * r + 1] * p[1] + R[3 * r + 2] * p[2] + cam.t[r];
    if (!(t[2] > NEAR_PLANE))
        return false;

    // Sigma = Rq diag(s^2) Rq^T
    const float *q = &scene.rotation[4 * i];
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    const double Rq[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),
                          2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
                          2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y)};
    double M[9];
    for (int c = 0; c < 3; ++c) {
        const double s = scene.scale[3 * i + static_cast<size_t>(c)] * options.scaleFactor;
        for (int r = 0; r < 3; ++r)
            M[3 * r + c] = Rq[3 * r + c] * s;
    }

    const double limx = 1.3 * 0.5 * cam.width / cam.fx, limy = 1.3 * 0.5 * cam.height / cam.fy;
    const double txz = std::min(limx, std::max(-limx, t[0] / t[2]));
    const double tyz = std::min(limy, std::max(-limy, t[1] / t[2]));
    const double J0[3] = {cam.fx / t[2], 0, -cam.fx * txz / t[2]};
    const double J1[3] = {0, cam.fy / t[2], -cam.fy * tyz / t[2]};
    // T = J W (2x3), then A = T M (2x3): C = A A^T.
    double T0[3], T1[3];
    for (int c = 0; c < 3; ++c) {
        T0[c] = J0[0] * R[c] + J0[1] * R[3 + c] + J0[2] * R[6 + c];
        T1[c] = J1[0] * R[c] + J1[1] * R[3 + c] + J1[2] * R[6 + c];
    }
    double A0[3], A1[3];
    for (int c = 0; c < 3; ++c) {
        A0[c] = T0[0] * M[c] + T0[1] * M[3 + c] + T0[2] * M[6 + c];
        A1[c] = T1[0] * M[c] + T1[1] * M[3 + c] + T1[2] * M[6 + c];
    }
    const double a0 = A0[0] * A0[0] + A0[1] * A0[1] + A0[2] * A0[2];
    const double b = A0[0] * A1[0] + A0[1] * A1[1] + A0[2] * A1[2];
    const double c0 = A1[0] * A1[0] + A1[1] * A1[1] + A1[2] * A1[2];
    const double a = a0 + 0.3, c = c0 + 0.3;
    const double det = a * c - b * b;
    if (!(det > 0) || !std::isfinite(det))
        return false;
    const double compensation = options.antialiased ? std::sqrt(std::max(0.0, a0 * c0 - b * b) / det) : 1.0;
    const double mid = 0.5 * (a + c);
    const double lambda = mid + std::sqrt(std::max(0.0, mid * mid - det));
    const double radius = std::ceil(3 * std::sqrt(lambda));
    out.mx = cam.fx * t[0] / t[2] + cam.cx;
    out.my = cam.fy * t[1] / t[2] + cam.cy;
    if (!(radius < 1e6) || !(std::fabs(out.mx) < 1e9) || !(std::fabs(out.my) < 1e9))
        return false;
    if (out.mx + radius + 0.5 < 0 || out.my + radius + 0.5 < 0 || out.mx - radius - 0.5 > cam.width ||
        out.my - radius - 0.5 > cam.height)
        return false;
    out.radius = static_cast<int>(radius);
    out.conic[0] = c / det;
    out.conic[1] = -b / det;
    out.conic[2] = a / det;
    out.depth = t[2];
    out.opacity = static_cast<float>(opacity * compensation);
    if (!(out.opacity > 0))
        return false; // a splat thinner than a pixel's filter: nothing left to draw

    if (!colour)
        return true;
    // The camera centre is -R^T t.
    double d[3];
    for (int r = 0; r < 3; ++r)
        d[r] = p[r] + (R[r] * cam.t[0] + R[3 + r] * cam.t[1] + R[6 + r] * cam.t[2]);
    const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (len > 0)
        for (double &v : d)
            v /= len;
    shColour(scene, i, options.shDegree, d, out.colour);
    return true;
}

std::vector<float> SplatImage::composite(const float background[3]) const
{
    std::vector<float> out(colour.size());
    for (size_t p = 0; p < transmittance.size(); ++p)
        for (size_t ch = 0; ch < 3; ++ch)
            out[3 * p + ch] = std::min(1.f, std::max(0.f, colour[3 * p + ch] + transmittance[p] * background[ch]));
    return out;
}

std::vector<unsigned char> SplatImage::composite8(const float background[3]) const
{
    const std::vector<float> f = composite(background);
    std::vector<unsigned char> out(f.size());
    for (size_t k = 0; k < f.size(); ++k)
        out[k] = static_cast<unsigned char>(std::lround(f[k] * 255.f));
    return out;
}

SplatImage SplatRaster::render(const SplatScene &scene, const SplatCamera &cam, const SplatRasterOptions &options)
{
    SplatImage image;
    image.width = std::max(0, cam.width);
    image.height = std::max(0, cam.height);
    const size_t pixels = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    image.colour.assign(3 * pixels, 0.f);
    image.transmittance.assign(pixels, 1.f);
    image.depth.assign(pixels, INFINITY);
    if (!pixels || !scene.count || !(cam.fx > 0) || !(cam.fy > 0))
        return image;
    const size_t n = (options.subset ? options.subset->size() : scene.count) +
                     (options.extra && options.extraSubset ? options.extraSubset->size() : 0);
    const auto started = std::chrono::steady_clock::now();
    const auto since = [](std::chrono::steady_clock::time_point t) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
    };
    Sorted sorted = sortByDepth(scene, cam, options, image, n);
    image.drawn = sorted.order.size();
    image.sortMs = since(started);
    const auto blending = std::chrono::steady_clock::now();
    Blending b{image, std::vector<char>(pixels, 0), {}};
    const int tiles = ((image.width + TILE - 1) / TILE) * ((image.height + TILE - 1) / TILE);
    b.remaining.assign(static_cast<size_t>(tiles), TILE * TILE);
    if (sorted.splats.size() == sorted.order.size()) {
        std::vector<uint32_t>().swap(sorted.order);
        blendTiles(sorted.splats, binIntoTiles(sorted.splats, image), options.threads, b);
    } else {
        blendInBatches(scene, cam, options, sorted.order, b);
    }
    image.blendMs = since(blending);
    return image;
}
