#ifndef VELMORA_POINTLODCELLS_H
#define VELMORA_POINTLODCELLS_H

#include <algorithm>
#include <cstdint>

/// The finest cells of a cloud's hierarchy, 2^kBits a side of its cube, and their Morton
/// codes: 3 bits a level, x lowest, so that every cube of the hierarchy is one range of codes
/// and the digit of a level is the child's index.
struct PointLodCells {
    static constexpr int kBits = 10;

    float lo[3] = {0, 0, 0};
    float toCell = 0;

    static uint32_t spread(uint32_t v)
    {
        v &= 0x3FF;
        v = (v | (v << 16)) & 0x030000FF;
        v = (v | (v << 8)) & 0x0300F00F;
        v = (v | (v << 4)) & 0x030C30C3;
        v = (v | (v << 2)) & 0x09249249;
        return v;
    }
    /// The inverse of spread: every third bit from the lowest on.
    static uint32_t compact(uint32_t v)
    {
        v &= 0x09249249;
        v = (v | (v >> 2)) & 0x030C30C3;
        v = (v | (v >> 4)) & 0x0300F00F;
        v = (v | (v >> 8)) & 0x030000FF;
        v = (v | (v >> 16)) & 0x3FF;
        return v;
    }
    uint32_t key(const float *p) const
    {
        uint32_t q[3];
        for (int k = 0; k < 3; ++k) {
            const float c = (p[k] - lo[k]) * toCell;
            // NaN and stray values land in the border cells.
            q[k] = c >= 0 ? static_cast<uint32_t>(std::min(c, float((1 << kBits) - 1))) : 0;
        }
        return spread(q[0]) | spread(q[1]) << 1 | spread(q[2]) << 2;
    }
};

#endif
