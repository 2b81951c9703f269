#ifndef VELMORA_POINTLODSPILL_H
#define VELMORA_POINTLODSPILL_H

#include "formats/LargeArray.h"

#include <cstddef>
#include <cstdint>

/// Bytes that a cloud's hierarchy needs beside the cloud: in memory, or, for clouds too large
/// to hold them beside their points, in an unlinked temporary file on a disk (never on a file
/// system kept in memory, which would only hide the memory).
class PointLodSpill {
public:
    PointLodSpill() = default;
    PointLodSpill(PointLodSpill &&other) noexcept;
    PointLodSpill &operator=(PointLodSpill &&other) noexcept;
    PointLodSpill(const PointLodSpill &) = delete;
    PointLodSpill &operator=(const PointLodSpill &) = delete;
    ~PointLodSpill();

    static PointLodSpill inMemory(size_t bytes);
    /// The bytes given, in memory.
    static PointLodSpill adopt(LargeArray<char> bytes);
    /// Raises std::runtime_error when no folder on a disk takes a temporary file.
    static PointLodSpill onDisk();

    void write(size_t at, const void *from, size_t bytes);
    void read(size_t at, void *to, size_t bytes) const;
    /// The bytes themselves when they are in memory, else null.
    char *memory() const { return bytes.get(); }
    bool isOnDisk() const { return fd >= 0; }

private:
    LargeArray<char> bytes;
    int fd = -1;
};

/// The index in the file of each point of a reordered cloud (4 bytes a point, spilled to disk
/// with its points' copy for the largest clouds).
class PointOrder {
public:
    PointOrder() = default;
    PointOrder(PointLodSpill &&indices, size_t count) : store(std::move(indices)), n(count) {}

    uint32_t operator[](size_t i) const;
    /// Where the point of file index `f` is stored, or size() when there is none.
    size_t find(uint32_t f) const;
    size_t size() const { return n; }
    /// The indices in memory, or null when they are on disk.
    uint32_t *memory() const { return reinterpret_cast<uint32_t *>(store.memory()); }
    void read(size_t from, size_t count, uint32_t *to) const { store.read(4 * from, to, 4 * count); }
    void write(size_t from, size_t count, const uint32_t *values) { store.write(4 * from, values, 4 * count); }
    bool isOnDisk() const { return store.isOnDisk(); }

private:
    PointLodSpill store;
    size_t n = 0;
};

#endif
