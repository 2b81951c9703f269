#ifndef VELMORA_TEST_POINTCLOUDS_H
#define VELMORA_TEST_POINTCLOUDS_H

// Small generated clouds for the tests of the point hierarchy, with and without OpenGL.
#include "formats/PlyReader.h"

#include <string>
#include <vector>

namespace testsupport {

// An n x n grid over [-0.9, 0.9]^2 with a slight bowl (every point its own depth), coloured
// by position, scored by x.
struct Cloud {
    std::vector<float> p;
    std::vector<unsigned char> rgb;
    std::vector<float> score;
    explicit Cloud(int n)
    {
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const float x = -0.9f + 1.8f * i / (n - 1), y = -0.9f + 1.8f * j / (n - 1);
                p.insert(p.end(), {x, y, 0.1f * (x * x + y * y) + 1e-4f * i});
                rgb.insert(rgb.end(), {static_cast<unsigned char>(2 * i), static_cast<unsigned char>(2 * j), 90});
                score.push_back(static_cast<float>(i));
            }
    }
    int size() const { return static_cast<int>(score.size()); }
};

/// A 16 x 16 grid of points over [-0.75, 0.75]^2 at z = 0 (point (i, j) is number 16 j + i),
/// coloured by position, with a score that grows from left to right (0 .. 15), and the two
/// triangles of every cell for a mesh of it. In a 128 x 128 frame of the orthographic cube of
/// half side 1, point (i, j) is at window pixel (16 + 6.4 i, 112 - 6.4 j).
struct PointGrid {
    std::vector<float> p;
    std::vector<unsigned char> rgb;
    std::vector<float> score;
    std::vector<int> triangles;
    PointGrid()
    {
        for (int j = 0; j < 16; ++j)
            for (int i = 0; i < 16; ++i) {
                p.insert(p.end(), {-0.75f + 0.1f * i, -0.75f + 0.1f * j, 0});
                rgb.insert(rgb.end(), {static_cast<unsigned char>(16 * i), static_cast<unsigned char>(16 * j), 200});
                score.push_back(static_cast<float>(i));
            }
        for (int j = 0; j < 15; ++j)
            for (int i = 0; i < 15; ++i) {
                const int a = 16 * j + i;
                triangles.insert(triangles.end(), {a, a + 1, a + 17, a, a + 17, a + 16});
            }
    }
};

// A binary PLY of x, y, z floats and red, green, blue bytes.
inline std::string plyCloud(const std::vector<float> &p, const std::vector<unsigned char> &rgb)
{
    const size_t n = p.size() / 3;
    std::string s = "ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(n) +
                    "\nproperty float x\nproperty float y\nproperty float z\n"
                    "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
    for (size_t i = 0; i < n; ++i) {
        s.append(reinterpret_cast<const char *>(&p[3 * i]), 12);
        s.append(reinterpret_cast<const char *>(&rgb[3 * i]), 3);
    }
    return s;
}

inline ForeignModel readPly(const std::string &bytes, size_t groupFrom)
{
    return PlyReader::read(bytes.data(), bytes.size(), "", groupFrom);
}

} // namespace testsupport

#endif
