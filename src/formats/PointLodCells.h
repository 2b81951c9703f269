#ifndef VELMORA_POINTLODCELLS_H
#define VELMORA_POINTLODCELLS_H

#include "formats/LargeArray.h"
#include "formats/PointBounds.h"
#include "math/Morton.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

/// The finest cells of a cloud's hierarchy, 2^kBits a side of its cube, and their Morton
/// codes: 3 bits a level, x lowest, so that every cube of the hierarchy is one range of codes
/// and the digit of a level is the child's index.
struct PointLodCells {
    static constexpr int kBits = 10;
    /// The levels above the cells a cloud is first grouped by (8^3 groups).
    static constexpr int kTop = 3;
    static constexpr size_t kGroups = size_t(1) << (3 * kTop);
    /// Point data (positions, colours and values) above which the work of a hierarchy goes
    /// to a temporary file on a disk, not to memory.
    static constexpr size_t kSpillBytes = size_t(512) << 20;

    float lo[3] = {0, 0, 0};
    float toCell = 0;

    /// The cells of the cube that holds the points of `box` (its low corner, the longest side
    /// of the box a little enlarged so that the highest points stay in the last cell); `size`
    /// receives the cube's side. Infinite or empty sides count as none, a flat box as size 1.
    static PointLodCells fitting(const PointBounds &box, float &size)
    {
        PointLodCells c;
        size = 0;
        for (int k = 0; k < 3; ++k) {
            c.lo[k] = std::isfinite(box.lo[k]) ? box.lo[k] : 0.0f;
            const float extent = box.hi[k] - box.lo[k];
            if (std::isfinite(extent))
                size = std::max(size, extent);
        }
        if (!(size > 0))
            size = 1;
        size *= 1.0001f;
        c.toCell = (1 << kBits) / size;
        return c;
    }

    static_assert(kBits == 10, "the cells are spread by spreadBits10");
    /// Every cell number spread, looked up: the builder of a hierarchy spreads the numbers of
    /// each point more than once, and the table stays in the cache.
    struct Spread {
        uint32_t bits[1 << kBits] = {};
        constexpr Spread()
        {
            for (uint32_t v = 0; v < (1u << kBits); ++v)
                bits[v] = spreadBits10(v);
        }
    };
    static uint32_t spread(uint32_t v);
    /// The inverse of spread: every third bit from the lowest on.
    static uint32_t compact(uint32_t v) { return compactBits10(v); }
    /// The cell of coordinate v along axis k. Without branches, so that a loop over many
    /// points can take several at once.
    uint32_t cellOf(float v, int k) const
    {
        constexpr float kLast = float((1 << kBits) - 1);
        float c = (v - lo[k]) * toCell;
        // NaN and stray values land in the border cells.
        c = c >= 0 ? c : 0.0f;
        c = c < kLast ? c : kLast;
        return static_cast<uint32_t>(static_cast<int32_t>(c));
    }
    uint32_t cell(const float *p, int k) const { return cellOf(p[k], k); }
    /// The digits of the upper `levels` levels of a cell number, spread to every third bit.
    template <int levels>
    static uint32_t topDigits(uint32_t cellNumber)
    {
        static_assert(levels >= 1 && levels <= 3, "three bits an axis at most");
        const uint32_t v = cellNumber >> (kBits - levels);
        return (v & 1) | (v & 2) << 2 | (v & 4) << 4;
    }
    uint32_t key(const float *p) const
    {
        return spread(cell(p, 0)) | spread(cell(p, 1)) << 1 | spread(cell(p, 2)) << 2;
    }
    /// key(p) >> 3 * (kBits - levels) for up to 3 levels, without spreading the lower bits.
    template <int levels>
    uint32_t coarseKey(const float *p) const
    {
        return topDigits<levels>(cell(p, 0)) | topDigits<levels>(cell(p, 1)) << 1 |
               topDigits<levels>(cell(p, 2)) << 2;
    }
    /// coarseKey of m points given axis by axis.
    template <int levels, class Out>
    void coarseKeys(const float *x, const float *y, const float *z, size_t m, Out *key) const
    {
        for (size_t j = 0; j < m; ++j)
            key[j] = static_cast<Out>(topDigits<levels>(cellOf(x[j], 0)) | topDigits<levels>(cellOf(y[j], 1)) << 1 |
                                      topDigits<levels>(cellOf(z[j], 2)) << 2);
    }
};

/// A cloud that its reader stored grouped by the cells of level kTop of its hierarchy, each
/// group in the file's order, so that the hierarchy need not group the points again.
struct PointCellOrder {
    PointLodCells cells;             ///< `PointLodCells::fitting` the box of the points
    float size = 1;                  ///< the side of their cube
    std::vector<uint64_t> start;     ///< kGroups + 1: where each group begins, then the count
    LargeArray<uint32_t> fileIndex;  ///< the index in the file of the point stored at i

    explicit operator bool() const { return fileIndex != nullptr; }
};

inline constexpr PointLodCells::Spread kPointLodSpread{};

inline uint32_t PointLodCells::spread(uint32_t v) { return kPointLodSpread.bits[v & ((1u << kBits) - 1)]; }

#endif
