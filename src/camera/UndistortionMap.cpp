#include "camera/UndistortionMap.h"

#include "math/Parallel.h"

#include <algorithm>
#include <cmath>

UndistortionMap::UndistortionMap(const LensDistortion &lensModel, const GLView::Intrinsics &intrinsics, int w, int h)
    : lens(lensModel), k(intrinsics), width(w), height(h)
{
    gridW = (width + gridStep - 1) / gridStep + 1;
    gridH = (height + gridStep - 1) / gridStep + 1;
    grid.resize(2 * static_cast<size_t>(gridW) * gridH);
    // The intrinsics are those of a k.W x k.H image; a photograph of another size is the same
    // image scaled.
    const double sx = k.W > 0 ? width / static_cast<double>(k.W) : 1;
    const double sy = k.H > 0 ? height / static_cast<double>(k.H) : 1;
    const double fx = k.fx * sx, fy = k.fy * sy, cx = k.cx * sx, cy = k.cy * sy;
    for (int gy = 0; gy < gridH; ++gy)
        for (int gx = 0; gx < gridW; ++gx) {
            // Pixel centres: pixel (column, row) covers [column, column + 1).
            const double u = gx * gridStep + 0.5, v = gy * gridStep + 0.5;
            double xd, yd;
            lens.distort((u - cx) / fx, (v - cy) / fy, xd, yd);
            float *node = &grid[2 * (static_cast<size_t>(gy) * gridW + gx)];
            node[0] = static_cast<float>(fx * xd + cx);
            node[1] = static_cast<float>(fy * yd + cy);
            // A spot the lens cannot reach stays outside every photograph.
            if (!std::isfinite(node[0]) || !std::isfinite(node[1]))
                node[0] = node[1] = -1e9f;
        }
}

bool UndistortionMap::serves(const LensDistortion &l, const GLView::Intrinsics &i, int w, int h) const
{
    return l == lens && w == width && h == height && i.fx == k.fx && i.fy == k.fy && i.cx == k.cx && i.cy == k.cy &&
           i.W == k.W && i.H == k.H;
}

void UndistortionMap::source(int column, int row, float &x, float &y) const
{
    const int gx = column / gridStep, gy = row / gridStep;
    const float ax = static_cast<float>(column % gridStep) / gridStep, ay = static_cast<float>(row % gridStep) / gridStep;
    const float *n00 = &grid[2 * (static_cast<size_t>(gy) * gridW + gx)];
    const float *n10 = n00 + 2, *n01 = n00 + 2 * gridW, *n11 = n01 + 2;
    x = (1 - ay) * ((1 - ax) * n00[0] + ax * n10[0]) + ay * ((1 - ax) * n01[0] + ax * n11[0]);
    y = (1 - ay) * ((1 - ax) * n00[1] + ax * n10[1]) + ay * ((1 - ax) * n01[1] + ax * n11[1]);
}

std::vector<unsigned char> UndistortionMap::apply(const unsigned char *pixels, int components) const
{
    std::vector<unsigned char> out(static_cast<size_t>(width) * height * components, 0);
    Parallel::split(static_cast<size_t>(height), 0, [&](unsigned, size_t begin, size_t end) {
        for (size_t row = begin; row < end; ++row)
            for (int column = 0; column < width; ++column) {
                float x, y;
                source(column, static_cast<int>(row), x, y);
                // From the spot to the array: pixel centres lie at half-integers.
                const float fxp = x - 0.5f, fyp = y - 0.5f;
                if (!(fxp > -1 && fyp > -1 && fxp < width && fyp < height))
                    continue;
                const int x0 = static_cast<int>(std::floor(fxp)), y0 = static_cast<int>(std::floor(fyp));
                const float ax = fxp - x0, ay = fyp - y0;
                const int xa = std::clamp(x0, 0, width - 1), xb = std::clamp(x0 + 1, 0, width - 1);
                const int ya = std::clamp(y0, 0, height - 1), yb = std::clamp(y0 + 1, 0, height - 1);
                unsigned char *to = &out[(row * width + column) * components];
                for (int c = 0; c < components; ++c) {
                    const auto at = [&](int px, int py) {
                        return static_cast<float>(pixels[(static_cast<size_t>(py) * width + px) * components + c]);
                    };
                    const float value = (1 - ay) * ((1 - ax) * at(xa, ya) + ax * at(xb, ya)) +
                                        ay * ((1 - ax) * at(xa, yb) + ax * at(xb, yb));
                    to[c] = static_cast<unsigned char>(std::lround(std::clamp(value, 0.f, 255.f)));
                }
            }
    });
    return out;
}
