#ifndef VELMORA_TILEFORMATS_H
#define VELMORA_TILEFORMATS_H

#include "formats/PointTiles.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The kinds of point hierarchy PointTiles::open opens. Each opener reads the metadata and the
// whole hierarchy, and raises std::runtime_error with a plain text for anything it can't read.

/// A cloud-optimised LAZ file (COPC), on a disk or a web server: its header and records (the
/// "laszip encoded" record and the "copc" info record with the octree's cube), its hierarchy
/// pages (the pages of a level asked for together), and each node one LAZ chunk, decoded to
/// LAS records and read as the LAS reader reads them.
std::unique_ptr<PointTiles> openCopcTiles(const std::string &path, PointTiles::Access access);

/// Entwine point tiles (EPT), on a disk or a web server: `ept.json` (the schema, the cube in
/// "bounds", the data type), the node counts of `ept-hierarchy/D-X-Y-Z.json` (a count of -1
/// continues in the file of that name; the files of a level are read at once), and each
/// node's points in a file of its own in `ept-data/`: LAZ (`laszip`), raw records (`binary`)
/// or zstandard compressed records (`zstandard`).
std::unique_ptr<PointTiles> openEptTiles(const std::string &eptJson, PointTiles::Access access);

/// A Potree 2.0 cloud, on a disk or a web server: `metadata.json` (the attributes, scale,
/// offset, cube and encoding), `hierarchy.bin` (chunks of 22-byte node records in breadth-first
/// order, each record's child mask naming the records that follow; a proxy record leads to
/// the chunk that goes on below it) and `octree.bin` (each node's points). In the DEFAULT
/// encoding a node is its points' records one after the other; in the BROTLI encoding it is
/// compressed with Brotli and holds each attribute for all the points in turn, the positions
/// as 16 bytes a point (the Morton codes of the upper and of the lower 16 bits of the three
/// integer coordinates, 8 bytes each) and the colours as 8 (the Morton code of the three
/// 16-bit channels).
std::unique_ptr<PointTiles> openPotreeTiles(const std::string &metadataJson, PointTiles::Access access);

/// The nodes of a Potree hierarchy.bin (`size` bytes, keys from the root on), from the first
/// chunk of `firstChunk` bytes on, each chunk read once; every node with points refers to
/// file 0. Raises std::runtime_error (a plain text) for a chunk that is not whole records,
/// lies outside the file or is reached twice, for a record no mask names and an unknown type.
std::vector<TileNode> parsePotreeHierarchy(const unsigned char *data, size_t size, uint64_t firstChunk);

#endif
