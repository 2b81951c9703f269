// The sample-model generator as run.sh runs it, and its output as the viewer reads it.
#include "image/Bitmap.h"
#include "objects/GLMeshObject.h"

#include "support/ImageCompare.h"
#include "support/Process.h"
#include "support/CapturedMessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

namespace {

const std::string kTool = std::string(VELMORA_BINARY_DIR) + "/make_sample_mesh";

TEST(MakeSampleMesh, WritesAClosedOutwardFacingMeshWithDataAndMaterial)
{
    const std::string dir = testsupport::makeTempDir("MakeSampleMesh");
    const std::string path = dir + "/sample.tri";
    const auto r = testsupport::runProcess({kTool, path, "40", "24"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;

    testsupport::CapturedMessages captured;
    GLMeshObject mesh(path.c_str(), nullptr);
    captured.take();
    ASSERT_EQ(mesh.getNVertices(), 40 * 24);
    ASSERT_EQ(mesh.getArrays().nTriangles, 2 * 40 * 24);
    ASSERT_EQ(mesh.getNDataItems(), 2);
    EXPECT_STREQ(mesh.getDataItem(0).getName(), "mean curvature");
    EXPECT_STREQ(mesh.getDataItem(1).getName(), "height");
    EXPECT_NE(mesh.getDisplay().material.frontDiffuse[0], Material::predefined[0].frontDiffuse[0]);
    EXPECT_NE(mesh.getArrays().colors, nullptr);

    // Front faces point away from the tube's centre line, so culling back faces shows the
    // outside; the outer equator bulges (positive mean curvature), the inner one is saddle
    // shaped with a smaller mean curvature.
    const float *v = mesh.getVertices();
    const Point3 *n = mesh.getArrays().normals;
    for (int i = 0; i < mesh.getNVertices(); ++i) {
        const Point3 p(v + 3 * i);
        const float ring = std::sqrt(p.x * p.x + p.y * p.y);
        const Point3 axis(3 * p.x / ring, 3 * p.y / ring, 0);
        ASSERT_GT(n[i] * (p - axis), 0) << i;
    }
    const float *h = mesh.getDataItem(0).getData();
    EXPECT_GT(h[0], 0);           // u = 0, v = 0: outer equator
    EXPECT_LT(h[12], h[0]);       // v = pi: inner equator
    EXPECT_FLOAT_EQ(mesh.getDataItem(1).getData()[6], v[3 * 6 + 2]);

    // Texture coordinates for every corner, inside the companion image written beside it:
    // the last cells reach 1 rather than wrap to 0, so no triangle spans the whole image.
    ASSERT_EQ(mesh.getArrays().texCoordVersion, 2);
    const float *uv = mesh.getArrays().texCoords;
    for (int t = 0; t < mesh.getArrays().nTriangles; ++t) {
        float lo = 2, hi = -1;
        for (int k = 0; k < 6; k += 2) {
            ASSERT_TRUE(uv[6 * t + k] >= 0 && uv[6 * t + k] <= 1 && uv[6 * t + k + 1] >= 0 && uv[6 * t + k + 1] <= 1);
            lo = std::min(lo, uv[6 * t + k]);
            hi = std::max(hi, uv[6 * t + k]);
        }
        ASSERT_LE(hi - lo, 1.0f / 40 + 1e-6f) << t;
    }
    Bitmap texture;
    texture.loadPNG((dir + "/sample.png").c_str());
    EXPECT_EQ(texture.getWidth(), 1024);
    EXPECT_EQ(texture.getHeight(), 512);

    // No output name: usage, no file.
    const auto usage = testsupport::runProcess({kTool});
    EXPECT_EQ(usage.exitStatus, 2);
    EXPECT_NE(usage.err.find("usage"), std::string::npos);
}

} // namespace
