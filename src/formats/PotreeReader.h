#ifndef VELMORA_POTREEREADER_H
#define VELMORA_POTREEREADER_H

#include "formats/PointListReader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

/// One node of a Potree 2.0 hierarchy: its points are `bytes` bytes at `offset` of
/// octree.bin.
struct PotreeNode {
    uint64_t offset, bytes;
    uint32_t points;
};

/// Reader of Potree 2.0 point clouds on disk: `metadata.json` (the attributes, scale, offset
/// and encoding), `hierarchy.bin` (chunks of 22-byte node records, proxies leading to further
/// chunks) and `octree.bin` (each node's points, one record a point in the DEFAULT encoding).
/// All the nodes become one cloud; intensity, classification and return number are value
/// items, "rgb" the colours. The BROTLI encoding is refused with a line that says so.
class PotreeReader {
public:
    static PointListData read(const char *metadataJson);

    /// The nodes with points of hierarchy.bin (`size` bytes), from the first chunk of
    /// `firstChunk` bytes on, each chunk read once. Raises std::runtime_error (a plain text)
    /// for a chunk that is not whole records or lies outside the file.
    static std::vector<PotreeNode> parseHierarchy(const unsigned char *data, size_t size, uint64_t firstChunk);
};

#endif
