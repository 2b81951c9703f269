#ifndef VELMORA_LASTILING_H
#define VELMORA_LASTILING_H

#include "formats/HttpRangeReader.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

/// How the making of a hierarchy from a LAS or LAZ file is watched, and stopped.
struct TilingWatch {
    std::shared_ptr<HttpRangeReader::Pool> pool; ///< serves a file on a web server (null: one of its own)
    const std::atomic<bool> *stop = nullptr;     ///< once set, the making ends ("cancelled")
    std::atomic<float> *percent = nullptr;       ///< how far it is, 0 to 100
};

/// A LAS or LAZ file too large for the memory, made once into Entwine point tiles (TileBuilder)
/// in the cache folder, so that it is shown node by node like any hierarchy: its points are
/// read once, part by part (a LAZ file chunk by chunk), with progress lines, from a disk or a
/// web server alike.
class LasTiling {
public:
    /// The bytes the points of the LAS or LAZ file at `path` take when read whole (positions,
    /// colours, three value items and the view's hierarchy, about 40 a point); 0 for a file
    /// that is no LAS file.
    static uint64_t wholeBytes(const std::string &path);
    /// The same from the file's first bytes (kHeadBytes of them, or all of a shorter file)
    /// and its size: a file on a web server gives both in one answer.
    static uint64_t wholeBytes(const std::string &head, uint64_t size);
    /// The largest header of a LAS file (version 1.4).
    static constexpr size_t kHeadBytes = 375;
    /// The most points read at once by default: a plain file's part, or a piece of a larger
    /// LAZ chunk (three are in memory at a time, with about 115 bytes a point all told).
    static constexpr size_t kPartPoints = size_t(1) << 19;
    /// The ept.json of the tiles of `path` under `cacheFolder`/hierarchies, made now unless an
    /// earlier run made them from the same file (same path, size and time); `memoryBytes` is
    /// what the making may hold, `partPoints` the most points it reads at once. Raises
    /// std::runtime_error with a plain text; a making that fails or is stopped leaves nothing
    /// behind.
    static std::string tilesOf(const std::string &path, const std::string &cacheFolder, size_t memoryBytes,
                               const TilingWatch &watch = TilingWatch(), size_t partPoints = kPartPoints);
};

#endif
