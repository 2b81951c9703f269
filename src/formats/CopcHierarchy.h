#ifndef VELMORA_COPCHIERARCHY_H
#define VELMORA_COPCHIERARCHY_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

/// The "copc" info record of a cloud-optimised LAZ file: the octree's cube and where the
/// root page of its hierarchy lies.
struct CopcInfo {
    double center[3];
    double halfSize;
    double spacing;
    uint64_t rootOffset;
    uint64_t rootSize;
    double gpsMin, gpsMax; ///< the points' least and greatest GPS time

    /// From the record's 160 bytes; raises std::runtime_error (a plain text) when short.
    static CopcInfo parse(const unsigned char *data, size_t size);
};

/// One entry of a hierarchy page: an octree node (level, x, y, z) whose points are one LAZ
/// chunk of `bytes` bytes at `offset`; a `points` of -1 makes it a page of further entries.
struct CopcEntry {
    int32_t level, x, y, z;
    uint64_t offset;
    int32_t bytes;
    int32_t points;
};

/// The hierarchy pages of a COPC file.
class CopcHierarchy {
public:
    /// The entries of one page of `size` bytes (32 bytes each); raises std::runtime_error
    /// when the size is no multiple of 32 or an entry is impossible (negative level or
    /// size, a count below -1).
    static std::vector<CopcEntry> parsePage(const unsigned char *page, size_t size);

    /// Every node with points, from the root page on, each page read once and every offset and
    /// size checked against a file of `fileSize` bytes.
    static std::vector<CopcEntry> nodes(FILE *f, uint64_t fileSize, const CopcInfo &info);
    /// The same through `readPages`, which gives the bytes of several pages (offset, size) at
    /// once: the pages a level of the hierarchy names are asked for together.
    using PageReader = std::function<std::vector<std::string>(const std::vector<std::pair<uint64_t, uint64_t>> &)>;
    static std::vector<CopcEntry> nodes(const PageReader &readPages, uint64_t fileSize, const CopcInfo &info);
};

#endif
