#ifndef VELMORA_TEST_PLYSQUARE_H
#define VELMORA_TEST_PLYSQUARE_H

#include <cstdint>
#include <cstring>
#include <string>

namespace testsupport {
namespace plysquare {

// A unit square in z = 0 as one quad face (the importer triangulates it), with colours and
// three scalar properties of different types.
inline const float kXYZ[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
inline const unsigned char kRGB[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};
inline const float kQuality[4] = {1.5f, 2.5f, -3.0f, 4.0f};
inline const double kConfidence[4] = {0.25, 0.5, 0.75, 1.0};
inline const uint16_t kIntensity[4] = {100, 200, 300, 65535};

enum PlyFormat { Ascii, Little, Big };

inline void put(std::string &out, const void *p, size_t n, bool big)
{
    const uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    const bool swap = big == (first == 1);
    const auto *b = static_cast<const unsigned char *>(p);
    for (size_t i = 0; i < n; ++i)
        out += static_cast<char>(swap ? b[n - 1 - i] : b[i]);
}

// The square as PLY; `faces` false leaves the face element out (a point cloud), `scalars`
// false the scalar properties, `colours` false the colours.
inline std::string squarePly(PlyFormat format, bool faces = true, bool colours = true, bool scalars = true)
{
    std::string s = "ply\nformat ";
    s += format == Ascii ? "ascii" : format == Little ? "binary_little_endian" : "binary_big_endian";
    s += " 1.0\ncomment made by the tests\nelement vertex 4\nproperty float x\nproperty float y\nproperty float z\n";
    if (scalars)
        s += "property float quality\n";
    if (colours)
        s += "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    if (scalars)
        s += "property double confidence\nproperty ushort intensity\n";
    if (faces)
        s += "element face 1\nproperty list uchar int vertex_indices\n";
    s += "end_header\n";
    for (int i = 0; i < 4; ++i) {
        if (format == Ascii) {
            s += std::to_string(kXYZ[i][0]) + " " + std::to_string(kXYZ[i][1]) + " " + std::to_string(kXYZ[i][2]);
            if (scalars)
                s += " " + std::to_string(kQuality[i]);
            if (colours)
                for (int k = 0; k < 3; ++k)
                    s += " " + std::to_string(kRGB[i][k]);
            if (scalars)
                s += " " + std::to_string(kConfidence[i]) + " " + std::to_string(kIntensity[i]);
            s += "\n";
        } else {
            const bool big = format == Big;
            put(s, kXYZ[i], 4, big), put(s, &kXYZ[i][1], 4, big), put(s, &kXYZ[i][2], 4, big);
            if (scalars)
                put(s, &kQuality[i], 4, big);
            if (colours)
                s.append(reinterpret_cast<const char *>(kRGB[i]), 3);
            if (scalars)
                put(s, &kConfidence[i], 8, big), put(s, &kIntensity[i], 2, big);
        }
    }
    if (faces) {
        if (format == Ascii) {
            s += "4 0 1 2 3\n";
        } else {
            s += '\4';
            for (int32_t i = 0; i < 4; ++i)
                put(s, &i, 4, format == Big);
        }
    }
    return s;
}

} // namespace plysquare
} // namespace testsupport

#endif
