#ifndef VELMORA_FUZZ_VOLUMECHECK_H
#define VELMORA_FUZZ_VOLUMECHECK_H

// What the octree and volume harnesses share: the checks of a reader's result. A refused
// input (std::runtime_error) is an expected outcome; anything else that escapes, or a result
// that breaks what the drawable objects rely on, aborts.
#include "formats/OctreeReader.h"
#include "formats/VolumeReader.h"

#include <cstdlib>
#include <stdexcept>

namespace volumefuzz {

// Per depth equal lengths, coordinates inside the grid, a value for every leaf rank in every
// item that carries values (the last one is read, so that the address sanitizer sees a short
// array).
inline void checkOctree(const OctreeData &o)
{
    if (o.levels < 0 || o.levels > OctreeData::kMaxLevels || o.leaves.size() != static_cast<size_t>(o.levels) + 1 ||
        o.values.size() != o.leaves.size())
        std::abort();
    const bool ranked = o.kind == OctreeData::OCT_V2 || o.kind == OctreeData::DN;
    int total = 0;
    for (size_t d = 0; d < o.leaves.size(); ++d) {
        if (o.values[d].size() != o.leaves[d].size() || (ranked && o.order[d].size() != o.leaves[d].size()))
            std::abort();
        for (size_t i = 0; i < o.leaves[d].size(); ++i) {
            const Pointsi &p = o.leaves[d][i];
            const int limit = 1 << o.levels;
            if (p.x < 0 || p.y < 0 || p.z < 0 || p.x >= limit || p.y >= limit || p.z >= limit)
                std::abort();
            if (ranked && (o.order[d][i] < 0 || o.order[d][i] >= o.nLeaves))
                std::abort();
        }
        total += static_cast<int>(o.leaves[d].size());
    }
    if (total != o.nLeaves)
        std::abort();
    volatile float sink = 0;
    if (ranked)
        for (const DataItem &item : o.dataItems) {
            if (item.getNElements() < o.nLeaves)
                std::abort();
            if (o.nLeaves > 0)
                sink = sink + item.getData()[o.nLeaves - 1];
        }
}

inline void checkVolume(const VolumeData &v)
{
    for (int k = 0; k < 3; ++k)
        if (v.size[k] < 1)
            std::abort();
    volatile float sink = v.samples[v.count() - 1];
    (void)sink;
}

template <class Read> void readOctree(Read read)
{
    try {
        checkOctree(read());
    } catch (const std::runtime_error &) {
    }
}

template <class Read> void readVolume(Read read)
{
    try {
        checkVolume(read());
    } catch (const std::runtime_error &) {
    }
}

} // namespace volumefuzz

#endif
