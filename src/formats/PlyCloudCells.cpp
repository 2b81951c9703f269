#include "formats/PlyCloudCells.h"
#include "formats/PlyValues.h"
#include "math/Parallel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

void PlyCloudCells::releasePages(const char *from, const char *to)
{
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t lo = (reinterpret_cast<uintptr_t>(from) + page - 1) / page * page;
    const uintptr_t hi = reinterpret_cast<uintptr_t>(to) / page * page;
    if (hi > lo)
        madvise(reinterpret_cast<void *>(lo), hi - lo, MADV_DONTNEED);
}

namespace {

// f(0, 0, n / 2) and f(1, n / 2, n): on two threads from a million points on, else one after
// the other. The halves are the same either way: a pass places the points by what an earlier
// pass counted in each.
void onHalves(size_t n, const std::function<void(unsigned, size_t, size_t)> &f)
{
    Parallel::split(n, 2, f, n >= 1000000);
}

// The group of each point of a cloud in the file's records: base and stride are copies, so
// that the stores of a caller cannot be taken for changes to them.
struct GroupFinder {
    const char *base;
    size_t stride;
    PointLodCells cells;

    static constexpr size_t kBlock = 1024;

    // m <= kBlock
    void find(size_t first, size_t m, uint16_t *group) const
    {
        float x[kBlock], y[kBlock], z[kBlock];
        const char *at = base + first * stride;
        const size_t step = stride;
        for (size_t j = 0; j < m; ++j, at += step) {
            x[j] = PlyValues::load<float>(at);
            y[j] = PlyValues::load<float>(at + 4);
            z[j] = PlyValues::load<float>(at + 8);
        }
        const PointLodCells c = cells;
        c.coarseKeys<PointLodCells::kTop>(x, y, z, m, group);
    }
};

// The last few points of each group, written to the arrays a run at a time: a point at a time
// would touch as many pages as there are groups, one after another.
struct GroupRuns {
    static constexpr unsigned kRun = 16;
    struct Target {
        float *xyz;
        unsigned char *rgb;
        uint32_t *index;
    };
    float xyz[PointLodCells::kGroups][3 * kRun];
    uint32_t index[PointLodCells::kGroups][kRun];
    unsigned char rgb[PointLodCells::kGroups][3 * kRun];
    uint8_t fill[PointLodCells::kGroups] = {};

    // Writes the first m points gathered for group g to the arrays at `at`, which moves on.
    void flush(size_t g, size_t m, const Target &t, uint64_t &at)
    {
        std::memcpy(t.xyz + 3 * at, xyz[g], 12 * m);
        std::memcpy(t.rgb + 3 * at, rgb[g], 3 * m);
        std::memcpy(t.index + at, index[g], 4 * m);
        at += m;
        fill[g] = 0;
    }
};

} // namespace

PointCellOrder PlyCloudCells::read(const char *base, size_t stride, const size_t rgbAt[3], size_t n, bool mapped,
                                   float *xyz, unsigned char *rgb, PointBounds &bounds)
{
    constexpr size_t kGroups = PointLodCells::kGroups, kBlock = GroupFinder::kBlock;
    // Pages of the mapping go back once a pass has read them: the file stays in the system's
    // cache, and is not counted twice beside the arrays made from it.
    // In large steps: each hand-back stops the other processor to forget the pages.
    const size_t releaseStep = std::max<size_t>(1, (size_t(32) << 20) / stride);
    const auto release = [&](size_t from, size_t to) {
        if (mapped)
            releasePages(base + from * stride, base + to * stride);
    };
    PointBounds halves[2];
    onHalves(n, [&](unsigned part, size_t first, size_t last) {
        float block[3 * kBlock];
        size_t read = first;
        for (size_t from = first; from < last; from += kBlock) {
            const size_t m = std::min(kBlock, last - from);
            for (size_t j = 0; j < m; ++j)
                std::memcpy(block + 3 * j, base + (from + j) * stride, 12);
            halves[part].addPoints(block, 3 * m);
            if (from + m - read >= releaseStep || from + m == last) {
                release(read, from + m);
                read = from + m;
            }
        }
    });
    for (int k = 0; k < 3; ++k) {
        bounds.lo[k] = std::min(halves[0].lo[k], halves[1].lo[k]);
        bounds.hi[k] = std::max(halves[0].hi[k], halves[1].hi[k]);
    }
    PointCellOrder order;
    order.cells = PointLodCells::fitting(bounds, order.size);
    const PointLodCells &cells = order.cells;
    const GroupFinder groups{base, stride, cells};
    std::vector<uint64_t> counts(2 * kGroups, 0), start(kGroups + 1, 0);
    onHalves(n, [&](unsigned part, size_t first, size_t last) {
        uint64_t *count = &counts[static_cast<size_t>(part) * kGroups];
        uint16_t group[kBlock];
        for (size_t from = first; from < last; from += kBlock) {
            const size_t m = std::min(kBlock, last - from);
            groups.find(from, m, group);
            for (size_t j = 0; j < m; ++j)
                ++count[group[j]];
        }
        release(first, last);
    });
    std::vector<uint64_t> next(2 * kGroups);
    for (size_t g = 0; g < kGroups; ++g) {
        start[g + 1] = start[g] + counts[g] + counts[kGroups + g];
        next[g] = start[g];
        next[kGroups + g] = start[g] + counts[g];
    }
    LargeArray<uint32_t> fileIndex = allocateLargeArray<uint32_t>(n);
    std::unique_ptr<GroupRuns> runs[2] = {std::make_unique<GroupRuns>(), std::make_unique<GroupRuns>()};
    const GroupRuns::Target target{xyz, rgb, fileIndex.get()};
    onHalves(n, [&](unsigned part, size_t first, size_t last) {
        GroupRuns &r = *runs[part];
        uint64_t *cursor = &next[static_cast<size_t>(part) * kGroups];
        const size_t red = rgbAt[0], green = rgbAt[1], blue = rgbAt[2];
        uint16_t group[kBlock];
        size_t released = first;
        for (size_t from = first; from < last; from += kBlock) {
            const size_t m = std::min(kBlock, last - from);
            groups.find(from, m, group);
            const char *at = base + from * stride;
            for (size_t j = 0; j < m; ++j, at += stride) {
                const uint16_t g = group[j];
                const unsigned f = r.fill[g];
                std::memcpy(&r.xyz[g][3 * f], at, 12);
                r.rgb[g][3 * f] = PlyValues::load<uint8_t>(at + red);
                r.rgb[g][3 * f + 1] = PlyValues::load<uint8_t>(at + green);
                r.rgb[g][3 * f + 2] = PlyValues::load<uint8_t>(at + blue);
                r.index[g][f] = static_cast<uint32_t>(from + j);
                if (f + 1 == GroupRuns::kRun)
                    r.flush(g, GroupRuns::kRun, target, cursor[g]);
                else
                    r.fill[g] = static_cast<uint8_t>(f + 1);
            }
            if (from + m - released >= releaseStep || from + m == last) {
                release(released, from + m);
                released = from + m;
            }
        }
        for (size_t g = 0; g < kGroups; ++g)
            r.flush(g, r.fill[g], target, cursor[g]);
    });
    order.start = std::move(start);
    order.fileIndex = std::move(fileIndex);
    return order;
}
