#include "synthesis/EyeDome.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A perspective projection (near 1, far 100), column-major, and an orthographic one.
const float kPerspective[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -101.0f / 99, -1, 0, 0, -200.0f / 99, 0};
const float kOrthographic[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -0.1f, 0, 0, 0, 0, 1};

} // namespace

TEST(EyeDome, StepsDarkenTheFarSideOnlyAndFlatOrEmptyPixelsNothing)
{
    for (const float *projection : {kPerspective, kOrthographic}) {
        // 8 x 4 pixels: a near half (x < 4), a far half, the top row background.
        const int w = 8, h = 4;
        std::vector<float> depth(w * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                depth[y * w + x] = y == 3 ? 1.0f : x < 4 ? 0.90f : 0.99f;
        const std::vector<unsigned char> dark = EyeDome::shade(depth.data(), w, h, projection, 0.01f, 1);
        ASSERT_EQ(dark.size(), depth.size());
        EXPECT_EQ(dark[1 * w + 1], 0);  // flat, near
        EXPECT_EQ(dark[1 * w + 3], 0);  // the near side of the step
        EXPECT_GT(dark[1 * w + 4], 60); // the far side, beside it
        EXPECT_EQ(dark[1 * w + 6], 0);  // flat, far
        EXPECT_EQ(dark[3 * w + 4], 0);  // background
        // Stronger is darker; none is nothing.
        EXPECT_GT(EyeDome::shade(depth.data(), w, h, projection, 0.03f, 1)[1 * w + 4], dark[1 * w + 4]);
        EXPECT_EQ(EyeDome::shade(depth.data(), w, h, projection, 0, 1)[1 * w + 4], 0);
    }
}
