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

    static constexpr uint32_t spreadBits(uint32_t v)
    {
        v &= 0x3FF;
        v = (v | (v << 16)) & 0x030000FF;
        v = (v | (v << 8)) & 0x0300F00F;
        v = (v | (v << 4)) & 0x030C30C3;
        v = (v | (v << 2)) & 0x09249249;
        return v;
    }
    /// Every cell number spread, looked up: the builder of a hierarchy spreads the numbers of
    /// each point more than once, and the table stays in the cache.
    struct Spread {
        uint32_t bits[1 << kBits] = {};
        constexpr Spread()
        {
            for (uint32_t v = 0; v < (1u << kBits); ++v)
                bits[v] = spreadBits(v);
        }
    };
    static uint32_t spread(uint32_t v);
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
    uint32_t cell(const float *p, int k) const
    {
        const float c = (p[k] - lo[k]) * toCell;
        // NaN and stray values land in the border cells.
        return c >= 0 ? static_cast<uint32_t>(std::min(c, float((1 << kBits) - 1))) : 0;
    }
    uint32_t key(const float *p) const
    {
        return spread(cell(p, 0)) | spread(cell(p, 1)) << 1 | spread(cell(p, 2)) << 2;
    }
    /// key(p) >> 3 * (kBits - levels) for up to 3 levels, without spreading the lower bits.
    template <int levels>
    uint32_t coarseKey(const float *p) const
    {
        static_assert(levels >= 1 && levels <= 3, "three bits an axis at most");
        const auto top = [&](int k) {
            const uint32_t v = cell(p, k) >> (kBits - levels);
            return (v & 1) | (v & 2) << 2 | (v & 4) << 4;
        };
        return top(0) | top(1) << 1 | top(2) << 2;
    }
};

inline constexpr PointLodCells::Spread kPointLodSpread{};

inline uint32_t PointLodCells::spread(uint32_t v) { return kPointLodSpread.bits[v & ((1u << kBits) - 1)]; }

#endif
