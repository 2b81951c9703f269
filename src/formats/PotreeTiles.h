#ifndef VELMORA_POTREETILES_H
#define VELMORA_POTREETILES_H

#include "formats/PointTiles.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// A Potree 2.0 cloud, on a disk or a web server: `metadata.json` (the attributes, scale,
/// offset, cube and encoding), `hierarchy.bin` (chunks of 22-byte node records in breadth-first
/// order, each record's child mask naming the records that follow; a proxy record leads to
/// the chunk that goes on below it) and `octree.bin` (each node's points). In the DEFAULT
/// encoding a node is its points' records one after the other; in the BROTLI encoding it is
/// compressed with Brotli and holds each attribute for all the points in turn, the positions
/// as 16 bytes a point (the Morton codes of the upper and of the lower 16 bits of the three
/// integer coordinates, 8 bytes each) and the colours as 8 (the Morton code of the three
/// 16-bit channels).
class PotreeTiles : public PointTiles {
public:
    PotreeTiles(const std::string &metadataJson, Access access);
    const char *kind() const override { return "Potree 2.0"; }

    /// The nodes of hierarchy.bin (`size` bytes, keys from the root on), from the first chunk
    /// of `firstChunk` bytes on, each chunk read once; every node with points refers to
    /// file 0. Raises std::runtime_error (a plain text) for a chunk that is not whole records,
    /// lies outside the file or is reached twice, for a record no mask names and an unknown type.
    static std::vector<TileNode> parseHierarchy(const unsigned char *data, size_t size, uint64_t firstChunk);

    struct Attribute {
        std::string name, type;
        unsigned size, elements, elementSize;
        size_t at;      ///< where it starts in a DEFAULT record
        unsigned coded; ///< its bytes a point in the BROTLI encoding
    };

protected:
    PointListData decode(size_t i, std::string &bytes) override;

private:
    std::vector<Attribute> attributes;
    size_t recordBytes = 0, codedBytes = 0;
    bool brotli = false;
    double scale[3] = {1, 1, 1}, offset[3] = {0, 0, 0};
};

#endif
