#ifndef VELMORA_FUZZ_RECONSTRUCTIONCHECK_H
#define VELMORA_FUZZ_RECONSTRUCTIONCHECK_H

// What the viewer builds from a reconstruction tool's model that a reader accepted, short of
// OpenGL: the views of its camera, each used at once, and the point list of its points.

#include "camera/ReconstructionViews.h"
#include "formats/PointListReader.h"
#include "formats/Reconstruction.h"
#include "formats/ReconstructionStatistics.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace fuzz {

inline void checkReconstruction(const Reconstruction &rec)
{
    if (rec.views.empty())
        std::abort();
    if (rec.views.size() > static_cast<size_t>(GLView::maxViews))
        return;
    const ReconstructionViews views = ReconstructionViews::of(rec, {});
    const size_t n = rec.views.size();
    if (views.intrinsics.size() != n || views.rotations.size() != n || views.translations.size() != n)
        std::abort();
    for (size_t i = 0; i < n; ++i)
        (void)-(views.rotations[i].inverse() * views.translations[i]);

    // Every index of the tracks and keypoints leads to something that exists.
    const size_t m = rec.points.size();
    if (rec.hasTracks()) {
        if (rec.trackStart.size() != m + 1 || rec.trackStart.back() != rec.tracks.size())
            std::abort();
        for (size_t i = 0; i < m; ++i)
            if (rec.trackStart[i] > rec.trackStart[i + 1])
                std::abort();
        for (const TrackElement &t : rec.tracks)
            if (t.view >= n || static_cast<int>(t.keypoint) >= rec.views[t.view].keypointCount())
                std::abort();
    }
    for (const ReconstructionView &v : rec.views) {
        if (v.keypoints.size() != 2 * v.observes.size())
            std::abort();
        for (int32_t p : v.observes)
            if (p < -1 || p >= static_cast<int64_t>(m))
                std::abort();
    }
    (void)ReconstructionStatistics::of(rec);

    if (m == 0 || m > static_cast<size_t>(INT32_MAX / 3))
        return;
    std::vector<float> xyz(3 * m), errors(m);
    std::vector<unsigned char> rgb(3 * m);
    for (size_t i = 0; i < m; ++i) {
        const ReconstructionPoint &p = rec.points[i];
        xyz[3 * i] = p.x;
        xyz[3 * i + 1] = p.y;
        xyz[3 * i + 2] = p.z;
        rgb[3 * i] = p.r;
        errors[i] = p.error;
    }
    PointListRecord record{static_cast<int>(m), xyz.data(), rgb.data(), errors.data(), "Reprojection error"};
    if (PointListReader::fromRecord(&record).nPoints != static_cast<int>(m))
        std::abort();
}

} // namespace fuzz

#endif
