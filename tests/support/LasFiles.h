#ifndef VELMORA_TEST_LASFILES_H
#define VELMORA_TEST_LASFILES_H

// LAS files written here byte by byte, as other programs write them, for the tests of the
// reader and of what the viewer does with a georeferenced cloud.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testsupport {

// One point as a LAS file stores it.
struct LasPoint {
    int32_t x, y, z;
    uint16_t intensity;
    unsigned returnNumber, classification;
    uint16_t rgb[3];
};

inline const unsigned kLength[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
inline const unsigned kRgbAt[11] = {0, 0, 20, 28, 0, 28, 0, 30, 30, 0, 30};

template <class T> inline void put(std::string &s, size_t at, T v) { std::memcpy(&s[at], &v, sizeof v); }

// A LAS file as another program would write it: header of the version's size, a gap where
// the variable-length records go, records `extra` bytes longer than the format needs.
inline std::string lasFile(unsigned format, unsigned minor, const std::vector<LasPoint> &points, const double scale[3],
                    const double offset[3], unsigned extra = 0)
{
    const unsigned headerSize = minor >= 4 ? 375 : minor == 3 ? 235 : 227;
    const unsigned gap = 54, length = kLength[format] + extra;
    std::string s(headerSize + gap + length * points.size(), '\0');
    std::memcpy(&s[0], "LASF", 4);
    s[24] = 1;
    s[25] = static_cast<char>(minor);
    put<uint16_t>(s, 94, static_cast<uint16_t>(headerSize));
    put<uint32_t>(s, 96, headerSize + gap);
    s[104] = static_cast<char>(format);
    put<uint16_t>(s, 105, static_cast<uint16_t>(length));
    // 1.4 files of the new formats leave the old count at 0.
    put<uint32_t>(s, 107, minor >= 4 && format >= 6 ? 0u : static_cast<uint32_t>(points.size()));
    if (minor >= 4)
        put<uint64_t>(s, 247, points.size());
    for (int k = 0; k < 3; ++k) {
        put(s, 131 + 8 * k, scale[k]);
        put(s, 155 + 8 * k, offset[k]);
        put(s, 179 + 16 * k, offset[k] + 1000); // a box that is near enough, as files have
        put(s, 187 + 16 * k, offset[k] - 1000);
    }
    size_t at = headerSize + gap;
    for (const LasPoint &p : points) {
        put(s, at, p.x);
        put(s, at + 4, p.y);
        put(s, at + 8, p.z);
        put(s, at + 12, p.intensity);
        if (format >= 6) {
            s[at + 14] = static_cast<char>(p.returnNumber | 1u << 4);
            s[at + 16] = static_cast<char>(p.classification);
        } else {
            s[at + 14] = static_cast<char>(p.returnNumber | 1u << 3);
            s[at + 15] = static_cast<char>(p.classification);
        }
        if (kRgbAt[format])
            for (int k = 0; k < 3; ++k)
                put(s, at + kRgbAt[format] + 2 * k, p.rgb[k]);
        at += length;
    }
    return s;
}

} // namespace testsupport

#endif
