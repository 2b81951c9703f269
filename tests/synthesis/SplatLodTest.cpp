// ctest-label: thread
// The coarser stand-in of a splat scene: merged splats of the same mean and spread, few
// enough, drawn from afar much as the scene is.
#include "support/SplatFiles.h"
#include "synthesis/SplatLod.h"
#include "synthesis/SplatRaster.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace testsupport::splatfiles;

TEST(SplatLod, MergesNeighboursIntoOneGaussianOfTheirSpread)
{
    // Two round splats of scale 0.1 at x = -0.3 and 0.3, half opaque: variance 0.01 + 0.09 along
    // x, their summed coverage over the merged area.
    Raw a = {{-0.3, 0, 0}, {1, 0, 0}, {}, 0, {std::log(0.1), std::log(0.1), std::log(0.1)}, {1, 0, 0, 0}};
    Raw b = a;
    b.pos[0] = 0.3;
    b.dc[0] = -1;
    const SplatScene merged = SplatLod::build(readBytes(plyBytes({a, b}, 1)), 1);
    ASSERT_EQ(merged.count, 1u);
    EXPECT_NEAR(merged.position[0], 0, 1e-6);
    EXPECT_NEAR(merged.dc[0], 0, 1e-6);
    float s[3] = {merged.scale[0], merged.scale[1], merged.scale[2]};
    std::sort(s, s + 3);
    EXPECT_NEAR(s[2], std::sqrt(0.1), 1e-5);
    EXPECT_NEAR(s[0], 0.1, 1e-5);
    EXPECT_NEAR(merged.opacity[0], 2 * 0.5 * 0.01 / (std::sqrt(0.1) * 0.1), 1e-5);
    // The long axis is x: the rotation turns (1, 0, 0) onto itself or its opposite.
    const float *q = merged.rotation.data();
    const double along = 1 - 2 * (q[2] * q[2] + q[3] * q[3]); // R[0][0]
    EXPECT_NEAR(std::fabs(along), s[2] == merged.scale[0] ? 1 : 0, 1e-5);
}

TEST(SplatLod, StandsForTheSceneFromAfarWithinItsBudget)
{
    const SplatScene scene = readBytes(plyBytes(randomScene(20000, 4), 2));
    SplatCamera cam;
    cam.width = cam.height = 48;
    cam.fx = cam.fy = 40;
    cam.cx = cam.cy = 24;
    cam.t[2] = 8;
    const std::vector<float> bg = {0, 0, 0};
    const std::vector<float> whole = SplatRaster::render(scene, cam, SplatRasterOptions()).composite(bg.data());
    for (size_t target : {500, 2000}) {
        SCOPED_TRACE(target);
        const SplatScene lod = SplatLod::build(scene, target);
        EXPECT_LE(lod.count, target);
        EXPECT_GT(lod.count, target / 8);
        EXPECT_EQ(lod.shDegree, 2);
        const std::vector<float> coarse = SplatRaster::render(lod, cam, SplatRasterOptions()).composite(bg.data());
        double se = 0;
        for (size_t k = 0; k < whole.size(); ++k)
            se += (whole[k] - coarse[k]) * (whole[k] - coarse[k]);
        EXPECT_GT(10 * std::log10(whole.size() / se), 20) << "dB";
    }
    // From farther away, the groups that stay under a pixel and a half are drawn as their
    // merged splats: fewer splats, much the same picture.
    const SplatLod levels = SplatLod::build(scene);
    cam.t[2] = 30;
    std::vector<uint32_t> near, far;
    levels.cut(cam, 1.5, near, far);
    EXPECT_GT(far.size(), 50u);
    EXPECT_LT(near.size() + far.size(), scene.count / 2);
    SplatRasterOptions cut;
    cut.subset = &near;
    cut.extra = &levels.merged();
    cut.extraSubset = &far;
    const std::vector<float> all = SplatRaster::render(scene, cam, SplatRasterOptions()).composite(bg.data()),
                             fewer = SplatRaster::render(scene, cam, cut).composite(bg.data());
    double se = 0;
    for (size_t k = 0; k < all.size(); ++k)
        se += (all[k] - fewer[k]) * (all[k] - fewer[k]);
    EXPECT_GT(10 * std::log10(all.size() / se), 25) << "dB";
    // Close by, nearly every splat is its own.
    cam.t[2] = 4;
    levels.cut(cam, 1.5, near, far);
    EXPECT_GT(near.size(), scene.count * 99 / 100);
    std::atomic<bool> cancel{true};
    EXPECT_THROW(SplatLod::build(scene, 100, &cancel), SplatLod::Cancelled);
}

} // namespace
