#include "synthesis/EyeDome.h"

#include <algorithm>
#include <cmath>

std::vector<unsigned char> EyeDome::shade(const float *depth, int w, int h, const float *p, float strength,
                                          int radius)
{
    const size_t n = static_cast<size_t>(std::max(0, w)) * static_cast<size_t>(std::max(0, h));
    std::vector<unsigned char> dark(n, 0);
    if (n == 0)
        return dark;
    // The log of the distance from the eye: depth steps count the same near and far.
    const bool perspective = p[11] != 0;
    std::vector<float> logDistance(n);
    for (size_t i = 0; i < n; ++i) {
        const float d = depth[i];
        if (d >= 1.0f) {
            logDistance[i] = 0;
            continue;
        }
        const float ndc = 2 * d - 1;
        float distance;
        if (perspective)
            distance = p[14] / (ndc + p[10]);
        else
            distance = p[10] != 0 ? (p[14] - ndc) / p[10] : d;
        logDistance[i] = std::log2(std::max(distance, 1e-6f));
    }
    const int r = std::max(1, radius);
    const int dx[8] = {r, -r, 0, 0, r, -r, r, -r};
    const int dy[8] = {0, 0, r, -r, r, r, -r, -r};
    const float k = 300.0f * strength / 8;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            if (depth[i] >= 1.0f)
                continue;
            float sum = 0;
            for (int m = 0; m < 8; ++m) {
                const int u = x + dx[m], v = y + dy[m];
                if (u < 0 || v < 0 || u >= w || v >= h)
                    continue;
                const size_t j = static_cast<size_t>(v) * w + u;
                if (depth[j] >= 1.0f)
                    continue;
                sum += std::max(0.0f, logDistance[i] - logDistance[j]);
            }
            const float lit = std::exp(-k * sum);
            dark[i] = static_cast<unsigned char>(std::lround(255 * (1 - lit)));
        }
    return dark;
}
