#include "core/SelectionRules.h"

#include "math/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

namespace {

// Decides every element on both cores, 64 to a word: each thread writes whole words of its
// own, so that no bit is set from two threads at once. The test is a template argument, so
// that it is inlined into the loop rather than called through a pointer per element. A few
// elements (a node of a streamed cloud, whose caller shares its nodes between the cores) are
// decided on the calling thread: a thread would cost more than they do.
template <class Inside>
ElementSelection decide(size_t n, const Inside &inside)
{
    constexpr size_t kThreaded = size_t(1) << 16;
    std::vector<uint64_t> words((n + 63) / 64, 0);
    Parallel::split(words.size(), 0, [&](unsigned, size_t begin, size_t end) {
        for (size_t w = begin; w < end; ++w) {
            const size_t first = 64 * w, count = std::min<size_t>(64, n - first);
            // First the tests, then their bits: a loop of tests without a branch the
            // compiler can run several elements at a time.
            unsigned char in[64];
            for (size_t k = 0; k < count; ++k)
                in[k] = inside(first + k);
            uint64_t bits = 0;
            for (size_t k = 0; k < count; ++k)
                bits |= static_cast<uint64_t>(in[k]) << k;
            words[w] = bits;
        }
    }, n >= kThreaded);
    return ElementSelection::fromWords(std::move(words), n);
}

// Joins what a rule found to the selection as `mode` says, 64 elements at a time.
void joinFound(ElementSelection &&found, ElementSelection &selection, SelectMode mode)
{
    if (mode == SelectMode::Replace)
        selection = std::move(found);
    else
        SelectionRules::join(found, selection, mode);
}

// The window pixel of X under mvp (y downwards), whether or not X lies in front of the eye;
// returns whether it does.
bool projectToWindow(const float *m, const float *X, int width, int height, float &x, float &y)
{
    const float cx = m[0] * X[0] + m[4] * X[1] + m[8] * X[2] + m[12];
    const float cy = m[1] * X[0] + m[5] * X[1] + m[9] * X[2] + m[13];
    const float cw = m[3] * X[0] + m[7] * X[1] + m[11] * X[2] + m[15];
    x = (cx / cw + 1) * 0.5f * static_cast<float>(width);
    y = (1 - cy / cw) * 0.5f * static_cast<float>(height);
    return cw > 0;
}

// The window pixel of X under mvp (y downwards); false behind the eye.
bool toWindow(const float *m, const float *X, int width, int height, float &x, float &y)
{
    return projectToWindow(m, X, width, height, x, y) && std::isfinite(x) && std::isfinite(y);
}

bool insidePolygon(const std::vector<Point2> &p, float x, float y)
{
    bool in = false;
    for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
        if ((p[i].y > y) != (p[j].y > y) && x < (p[j].x - p[i].x) * (y - p[i].y) / (p[j].y - p[i].y) + p[i].x)
            in = !in;
    }
    return in;
}

int64_t cellOf(float v, float size)
{
    const float c = std::floor(v / size);
    // Far outliers share the edge cells: they are still compared by distance.
    return static_cast<int64_t>(std::max(-1e6f, std::min(1e6f, c)));
}

uint64_t cellKey(int64_t x, int64_t y, int64_t z)
{
    const uint64_t bias = 1u << 21;
    return (static_cast<uint64_t>(x + bias) << 42) | (static_cast<uint64_t>(y + bias) << 21) |
           static_cast<uint64_t>(z + bias);
}

// True when the mask is zero at the pixel (u, v) of the photograph and at the `margin`
// pixels around it: a mask's edge is only as exact as its pixels, and the points of a
// surface's rim fall on both sides of it.
bool outsideMask(const ViewSight &view, float u, float v, int margin)
{
    const int x = std::min(view.maskWidth - 1,
                           static_cast<int>(u * static_cast<float>(view.maskWidth) / static_cast<float>(view.width)));
    const int y = std::min(view.maskHeight - 1,
                           static_cast<int>(v * static_cast<float>(view.maskHeight) / static_cast<float>(view.height)));
    for (int my = std::max(0, y - margin); my <= std::min(view.maskHeight - 1, y + margin); ++my) {
        const unsigned char *row = view.mask + static_cast<size_t>(my) * static_cast<size_t>(view.maskWidth);
        for (int mx = std::max(0, x - margin); mx <= std::min(view.maskWidth - 1, x + margin); ++mx)
            if (row[mx] != 0)
                return false;
    }
    return true;
}

} // namespace

bool ViewSight::sees(const float *X, float &u, float &v) const
{
    const Point3 c = R * Point3(X[0], X[1], X[2]) + t;
    if (!(c.z > 0))
        return false;
    double x = c.x / c.z, y = c.y / c.z;
    if (lens.model() != LensDistortion::NONE) {
        double xd, yd;
        lens.distort(x, y, xd, yd);
        // Far from the axis a polynomial lens folds back: where the point lands across the
        // axis, or a point a little farther out lands no farther out, the model no longer
        // describes the lens, and the point is taken to be outside the photograph.
        if (x != 0 || y != 0) {
            double xe, ye;
            lens.distort(1.001 * x, 1.001 * y, xe, ye);
            if (!(xd * x + yd * y > 0) || !((xe - xd) * x + (ye - yd) * y > 0))
                return false;
        }
        x = xd;
        y = yd;
    }
    u = static_cast<float>(fx * x + cx);
    v = static_cast<float>(fy * y + cy);
    return u >= 0 && v >= 0 && u < static_cast<float>(width) && v < static_cast<float>(height);
}

ViewSight ViewSight::underPose(const Matrix4 &pose) const
{
    ViewSight out = *this;
    out.R = R * pose.getSubMatrix();
    out.t = R * pose.getSubVector() + t;
    return out;
}

void SelectionRules::join(const ElementSelection &found, ElementSelection &selection, SelectMode mode)
{
    if (mode == SelectMode::Replace) {
        selection = found;
        return;
    }
    if (selection.size() != found.size())
        selection.resize(found.size());
    if (mode == SelectMode::Subtract)
        selection.removeAll(found);
    else
        selection.addAll(found);
}

void SelectionRules::apply(const std::vector<unsigned char> &inside, ElementSelection &selection, SelectMode mode)
{
    if (selection.size() != inside.size())
        selection.resize(inside.size());
    if (mode == SelectMode::Replace)
        selection.clear();
    for (size_t i = 0; i < inside.size(); ++i) {
        if (!inside[i])
            continue;
        if (mode == SelectMode::Subtract)
            selection.remove(i);
        else
            selection.add(i);
    }
}

void SelectionRules::box(const float *xyz, size_t n, Point3 centre, const Matrix3 &axes, Point3 half,
                         ElementSelection &selection, SelectMode mode)
{
    joinFound(decide(n,
                 [&](size_t i) {
                     const Point3 d = axes * (Point3(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]) - centre);
                     return std::fabs(d.x) <= half.x && std::fabs(d.y) <= half.y && std::fabs(d.z) <= half.z;
                 }),
          selection, mode);
}

void SelectionRules::box(const float *xyz, size_t n, Point3 lo, Point3 hi, ElementSelection &selection,
                         SelectMode mode)
{
    joinFound(decide(n,
                 [&](size_t i) {
                     const float *p = xyz + 3 * i;
                     return p[0] >= lo.x && p[0] <= hi.x && p[1] >= lo.y && p[1] <= hi.y && p[2] >= lo.z &&
                            p[2] <= hi.z;
                 }),
          selection, mode);
}

void SelectionRules::rectangle(const float *xyz, size_t n, const float *mvp, int width, int height, Point2 a,
                               Point2 b, ElementSelection &selection, SelectMode mode)
{
    const float x0 = std::min(a.x, b.x), x1 = std::max(a.x, b.x);
    const float y0 = std::min(a.y, b.y), y1 = std::max(a.y, b.y);
    joinFound(decide(n,
                 [&](size_t i) {
                     // Every test made and joined by `&`: no branch for the processor to guess.
                     float x, y;
                     const bool front = projectToWindow(mvp, xyz + 3 * i, width, height, x, y);
                     return front & std::isfinite(x) & std::isfinite(y) & (x >= x0) & (x <= x1) & (y >= y0) &
                            (y <= y1);
                 }),
          selection, mode);
}

void SelectionRules::lasso(const float *xyz, size_t n, const float *mvp, int width, int height,
                           const std::vector<Point2> &lasso, ElementSelection &selection, SelectMode mode)
{
    if (lasso.size() < 3) {
        joinFound(ElementSelection(n), selection, mode);
        return;
    }
    Point2 lo = lasso[0], hi = lasso[0];
    for (const Point2 &p : lasso) {
        lo = Point2(std::min(lo.x, p.x), std::min(lo.y, p.y));
        hi = Point2(std::max(hi.x, p.x), std::max(hi.y, p.y));
    }
    joinFound(decide(n,
                 [&](size_t i) {
                     float x, y;
                     // Most elements fall outside the lasso's bounds: that test is cheap.
                     return toWindow(mvp, xyz + 3 * i, width, height, x, y) && x >= lo.x && x <= hi.x &&
                            y >= lo.y && y <= hi.y && insidePolygon(lasso, x, y);
                 }),
          selection, mode);
}

void SelectionRules::range(const float *values, size_t n, float lo, float hi, ElementSelection &selection,
                           SelectMode mode)
{
    joinFound(decide(n, [&](size_t i) { return values[i] >= lo && values[i] <= hi; }), selection, mode);
}

void SelectionRules::unseen(const float *xyz, size_t n, const std::vector<ViewSight> &views,
                            ElementSelection &selection, SelectMode mode)
{
    joinFound(decide(n,
                 [&](size_t i) {
                     float u, v;
                     for (const ViewSight &view : views)
                         if (view.sees(xyz + 3 * i, u, v))
                             return false;
                     return true;
                 }),
          selection, mode);
}

void SelectionRules::carve(const float *xyz, size_t n, const std::vector<ViewSight> &views, int k,
                           ElementSelection &selection, SelectMode mode, int margin)
{
    const int needed = std::max(1, k);
    joinFound(decide(n,
                 [&](size_t i) {
                     int outside = 0;
                     float u, v;
                     for (const ViewSight &view : views) {
                         if (!view.mask || view.maskWidth <= 0 || view.maskHeight <= 0 ||
                             !view.sees(xyz + 3 * i, u, v))
                             continue;
                         if (outsideMask(view, u, v, margin) && ++outside >= needed)
                             return true;
                     }
                     return false;
                 }),
          selection, mode);
}

void NearPoints::add(float x, float y, float z)
{
    std::vector<float> &cell = cells[cellKey(cellOf(x, radius), cellOf(y, radius), cellOf(z, radius))];
    cell.insert(cell.end(), {x, y, z});
}

bool NearPoints::near(float x, float y, float z) const
{
    const int64_t cx = cellOf(x, radius), cy = cellOf(y, radius), cz = cellOf(z, radius);
    for (int64_t dx = -1; dx <= 1; ++dx)
        for (int64_t dy = -1; dy <= 1; ++dy)
            for (int64_t dz = -1; dz <= 1; ++dz) {
                const auto found = cells.find(cellKey(cx + dx, cy + dy, cz + dz));
                if (found == cells.end())
                    continue;
                const std::vector<float> &q = found->second;
                for (size_t j = 0; j < q.size(); j += 3) {
                    const float ex = x - q[j], ey = y - q[j + 1], ez = z - q[j + 2];
                    if (ex * ex + ey * ey + ez * ez <= r2)
                        return true;
                }
            }
    return false;
}

void SelectionRules::grow(const float *xyz, size_t n, float radius, ElementSelection &selection)
{
    if (selection.size() != n)
        selection.resize(n);
    if (!(radius > 0) || selection.empty() || selection.count() == n)
        return;
    NearPoints selected(radius);
    for (size_t i : selection)
        selected.add(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]);
    ElementSelection near = decide(n, [&](size_t i) {
        return !selection.contains(i) && selected.near(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]);
    });
    joinFound(std::move(near), selection, SelectMode::Add);
}
