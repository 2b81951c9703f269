#include "formats/ReconstructionStatistics.h"

#include "math/Parallel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

void pointOf(const ReconstructionPoint &p, double X[3])
{
    X[0] = p.x;
    X[1] = p.y;
    X[2] = p.z;
}

// The centre -R^T t of a view.
void centreOf(const ReconstructionView &v, double c[3])
{
    for (int j = 0; j < 3; ++j)
        c[j] = -(v.R[j] * v.t[0] + v.R[3 + j] * v.t[1] + v.R[6 + j] * v.t[2]);
}

// The largest angle between the unit rays: every pair, since the widest pair is not found
// from any one ray's neighbours. Tracks are short (a few to a few hundred views).
float largestAngle(const std::vector<double> &rays)
{
    const size_t n = rays.size() / 3;
    double smallestCos = 1;
    for (size_t a = 0; a < n; ++a)
        for (size_t b = a + 1; b < n; ++b) {
            const double c = rays[3 * a] * rays[3 * b] + rays[3 * a + 1] * rays[3 * b + 1] + rays[3 * a + 2] * rays[3 * b + 2];
            smallestCos = std::min(smallestCos, c);
        }
    return n < 2 ? 0.f : static_cast<float>(std::acos(std::max(-1.0, smallestCos)) * 180 / 3.14159265358979323846);
}

} // namespace

double ReconstructionStatistics::residual(const ReconstructionView &view, int k, const double X[3])
{
    double u, v;
    if (!view.project(X, u, v))
        return std::numeric_limits<double>::quiet_NaN();
    // Not hypot: it guards against overflows no pixel distance comes near, at several times the cost.
    const double du = u - view.keypoints[2 * static_cast<size_t>(k)], dv = v - view.keypoints[2 * static_cast<size_t>(k) + 1];
    return std::sqrt(du * du + dv * dv);
}

ReconstructionStatistics ReconstructionStatistics::of(const Reconstruction &model)
{
    ReconstructionStatistics s;
    if (!model.hasTracks())
        return s;
    const size_t nPoints = model.points.size(), nViews = model.views.size();
    s.pointError.assign(nPoints, kNaN);
    s.trackLength.assign(nPoints, 0);
    s.triangulationAngle.assign(nPoints, 0);
    std::vector<double> centres(3 * nViews);
    for (size_t v = 0; v < nViews; ++v)
        centreOf(model.views[v], &centres[3 * v]);
    // Every observation's residual once, kept for the views' means.
    std::vector<float> residuals(model.tracks.size(), kNaN);
    Parallel::split(nPoints, 0, [&](unsigned, size_t begin, size_t end) {
        std::vector<double> rays;
        for (size_t i = begin; i < end; ++i) {
            double X[3];
            pointOf(model.points[i], X);
            double sum = 0;
            int used = 0;
            rays.clear();
            for (uint32_t e = model.trackStart[i]; e < model.trackStart[i + 1]; ++e) {
                const TrackElement &t = model.tracks[e];
                const double r = residual(model.views[t.view], static_cast<int>(t.keypoint), X);
                if (std::isfinite(r)) {
                    sum += r;
                    ++used;
                    residuals[e] = static_cast<float>(r);
                }
                const double *c = &centres[3 * t.view];
                const double d[3] = {X[0] - c[0], X[1] - c[1], X[2] - c[2]};
                const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
                if (n > 0)
                    rays.insert(rays.end(), {d[0] / n, d[1] / n, d[2] / n});
            }
            s.trackLength[i] = static_cast<float>(model.trackStart[i + 1] - model.trackStart[i]);
            if (used)
                s.pointError[i] = static_cast<float>(sum / used);
            s.triangulationAngle[i] = largestAngle(rays);
        }
    });
    // A view's observations are the elements of the tracks that name it (the readers keep both
    // sides the same).
    std::vector<double> sums(nViews, 0);
    std::vector<uint32_t> used(nViews, 0);
    for (size_t e = 0; e < model.tracks.size(); ++e)
        if (std::isfinite(residuals[e])) {
            sums[model.tracks[e].view] += residuals[e];
            ++used[model.tracks[e].view];
        }
    s.viewError.assign(nViews, kNaN);
    s.viewObservations.assign(nViews, 0);
    for (size_t v = 0; v < nViews; ++v) {
        const ReconstructionView &view = model.views[v];
        s.viewObservations[v] = static_cast<uint32_t>(
            std::count_if(view.observes.begin(), view.observes.end(), [](int32_t p) { return p >= 0; }));
        if (used[v])
            s.viewError[v] = static_cast<float>(sums[v] / used[v]);
    }
    return s;
}
