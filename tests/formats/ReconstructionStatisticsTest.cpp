#include "formats/ColmapModel.h"
#include "formats/ReconstructionStatistics.h"
#include "math/LensDistortion.h"

#include "camera/ReconstructionTestFiles.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

using namespace recontest;

namespace {

// The known model with its second camera given the lens `model`: distortion strong enough to
// move the image corners by tens of pixels.
Model distortedModel(const char *model, int modelId, std::vector<double> lens)
{
    Model m = knownModel();
    Intr &k = m.intrinsics[1];
    k.model = model;
    k.modelId = modelId;
    k.fy = k.fx * 1.02;
    k.params = {k.fx, k.fy, k.cx, k.cy};
    k.params.insert(k.params.end(), lens.begin(), lens.end());
    // Both photographs of the first camera use it too: every view is distorted.
    for (Cam &c : m.cams)
        c.cameraId = k.id;
    return m;
}

// The largest residual of any observation of the model (infinite for one without a residual),
// and how many there are.
double largestResidual(const Reconstruction &rec, size_t &observations)
{
    double worst = 0;
    observations = 0;
    for (size_t i = 0; i + 1 < rec.trackStart.size(); ++i) {
        const double X[3] = {rec.points[i].x, rec.points[i].y, rec.points[i].z};
        for (uint32_t e = rec.trackStart[i]; e < rec.trackStart[i + 1]; ++e, ++observations) {
            const double r = ReconstructionStatistics::residual(rec.views[rec.tracks[e].view],
                                                                static_cast<int>(rec.tracks[e].keypoint), X);
            worst = std::isfinite(r) ? std::max(worst, r) : INFINITY;
        }
    }
    return worst;
}

} // namespace

// A model whose keypoints a real lens of each model made: every observation lies within
// 0.05 px of where its point projects, and only because the lens is modelled.
TEST(ReconstructionStatistics, DistortedObservationsReprojectOntoTheirKeypoints)
{
    struct Case {
        const char *model;
        int id;
        std::vector<double> lens;
    };
    const Case cases[] = {
        {"OPENCV", 4, {-0.28, 0.09, 0.001, -0.0015}},
        {"FULL_OPENCV", 6, {-0.2, 0.05, 0.001, 0.002, -0.01, 0.02, 0.01, 0.003}},
        {"OPENCV_FISHEYE", 5, {0.05, -0.01, 0.004, -0.001}},
    };
    for (const Case &c : cases)
        for (const bool binary : {false, true}) {
            SCOPED_TRACE(std::string(c.model) + (binary ? " binary" : " text"));
            const Model m = distortedModel(c.model, c.id, c.lens);
            const std::string dir = testsupport::makeTempDir("distorted-colmap");
            binary ? writeColmapBinary(m, dir) : writeColmapText(m, dir);
            Reconstruction rec = ColmapModel::read(dir, binary);
            EXPECT_TRUE(rec.notes.empty());
            const ReconstructionStatistics s = ReconstructionStatistics::of(rec);
            ASSERT_EQ(m.points.size(), s.pointError.size());
            // Every observation, not only the means.
            size_t observations = 0;
            EXPECT_LT(largestResidual(rec, observations), 0.05);
            EXPECT_EQ(m.points.size() * m.cams.size(), observations);
            for (float e : s.viewError)
                EXPECT_LT(e, 0.05);
            for (ReconstructionView &v : rec.views)
                v.distortion = LensDistortion();
            EXPECT_GT(largestResidual(rec, observations), 0.05);
        }
}

// The tracks and keypoints lead from the model's identifiers to the record's indices, and
// error, track length and triangulation angle agree with the known geometry.
TEST(ReconstructionStatistics, TracksGiveErrorLengthAndAngle)
{
    const Model m = knownModel();
    const std::string dir = testsupport::makeTempDir("tracks-colmap");
    writeColmapText(m, dir);
    Reconstruction rec = ColmapModel::read(dir, false);
    ASSERT_TRUE(rec.hasTracks());
    ASSERT_EQ(4u, rec.points.size());
    for (size_t j = 0; j < 4; ++j) {
        EXPECT_EQ(static_cast<int64_t>(j + 1), rec.points[j].id);
        ASSERT_EQ(3u, rec.trackStart[j + 1] - rec.trackStart[j]);
        for (uint32_t e = rec.trackStart[j]; e < rec.trackStart[j + 1]; ++e) {
            const TrackElement &t = rec.tracks[e];
            EXPECT_EQ(static_cast<int32_t>(j), rec.views[t.view].observes[t.keypoint]);
        }
    }
    // The view of "a.png" (sorted first, written second) sees point 3 four pixels right and
    // three down of where it is: its residual is 5.
    ReconstructionView &a = rec.views[0];
    ASSERT_EQ("a.png", a.imageName);
    ASSERT_EQ(4, a.keypointCount());
    a.keypoints[2 * 3] += 4;
    a.keypoints[2 * 3 + 1] += 3;
    const ReconstructionStatistics s = ReconstructionStatistics::of(rec);
    EXPECT_NEAR(5.0 / 3, s.pointError[3], 1e-3);
    EXPECT_NEAR(0, s.pointError[0], 1e-3);
    EXPECT_NEAR(5.0 / 4, s.viewError[0], 1e-3);
    EXPECT_NEAR(0, s.viewError[1], 1e-3);
    for (size_t v = 0; v < 3; ++v)
        EXPECT_EQ(4u, s.viewObservations[v]);
    for (size_t j = 0; j < 4; ++j) {
        EXPECT_EQ(3, s.trackLength[j]);
        // The widest pair of rays from the known centres, in degrees.
        double widest = 0;
        for (const Cam &c1 : m.cams)
            for (const Cam &c2 : m.cams) {
                double R1[9], R2[9], d1[3], d2[3];
                rotationOf(c1.q, R1);
                rotationOf(c2.q, R2);
                const double X[3] = {m.points[j].x, m.points[j].y, m.points[j].z};
                for (int r = 0; r < 3; ++r) {
                    d1[r] = X[r] + (R1[r] * c1.t[0] + R1[3 + r] * c1.t[1] + R1[6 + r] * c1.t[2]);
                    d2[r] = X[r] + (R2[r] * c2.t[0] + R2[3 + r] * c2.t[1] + R2[6 + r] * c2.t[2]);
                }
                const double cosine = (d1[0] * d2[0] + d1[1] * d2[1] + d1[2] * d2[2]) /
                                      std::sqrt((d1[0] * d1[0] + d1[1] * d1[1] + d1[2] * d1[2]) *
                                                (d2[0] * d2[0] + d2[1] * d2[1] + d2[2] * d2[2]));
                widest = std::max(widest, std::acos(std::min(1.0, cosine)) * 180 / M_PI);
            }
        EXPECT_NEAR(widest, s.triangulationAngle[j], 1e-3);
        EXPECT_GT(widest, 30);
    }
}
