// Silhouette contour files: the whole contour "<base>00.txt", or a part whose point range
// comes from "<base>00_c.txt" and whose points from "<base>00_b.txt" (the input serves as all
// three, the part from its length); then the tangents the epipolar drawing takes from it.
#include "Harness.h"

#include "formats/SequenceFiles.h"
#include "camera/ViewGeometry.h"

#include <cstdlib>
#include <vector>

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const std::string base = fuzz::writeFile("c00.txt", data, size);
    fuzz::writeFile("c00_c.txt", data, size);
    fuzz::writeFile("c00_b.txt", data, size);
    const std::string prefix = base.substr(0, base.size() - 6);
    std::vector<Point2> points;
    if (!sequence::readContour(prefix, 0, static_cast<int>(size % 4), points) || points.empty())
        return;
    const int n = static_cast<int>(points.size());
    const TangentPair t = computeOuterET(points.data(), n, Point2(-1000, 3));
    if (t.first < 0 || t.first >= n || t.second < 0 || t.second >= n)
        std::abort();
    for (const int i : computeET(points.data(), n, points[0] + Point2(0.5f, -7)))
        if (i < 0 || i >= n)
            std::abort();
}
