#ifndef VELMORA_NODECACHE_H
#define VELMORA_NODECACHE_H

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

/// Nodes of remote point hierarchies kept on the disk, so that a cloud seen again does not
/// come over the network again: one file per node, named by a hash of its address and byte
/// range (the file starts with them, so that two keys of one hash never mix), under a limit
/// of bytes. When a new node would pass the limit the least recently used ones go. A node
/// that does not fit at all, or a disk that takes no more, leaves the node out of the cache,
/// never out of the view. Safe to use from several threads.
class NodeCache {
public:
    /// The cache folder of this user: $XDG_CACHE_HOME/velmora, else ~/.cache/velmora ("" when
    /// neither is set). Nodes go to its "nodes" folder, hierarchies made from large LAS and
    /// LAZ files to "hierarchies".
    static std::string userFolder();
    /// The limit kept between runs ("node-cache-mb" in the user's settings), 4 GB by default.
    static uint64_t userLimit();

    /// The cache in `folder` (made when missing) with what is already there.
    NodeCache(std::string folder, uint64_t limitBytes);
    NodeCache(const NodeCache &) = delete;
    NodeCache &operator=(const NodeCache &) = delete;

    /// The bytes kept under `key`; false when there are none (or they can't be read).
    bool get(const std::string &key, std::string &bytes);
    /// Keeps `bytes` under `key`, making room as said above.
    void put(const std::string &key, const std::string &bytes);
    uint64_t bytesUsed();
    uint64_t limit() const { return most; }
    const std::string &folder() const { return dir; }

    /// Removes every node and hierarchy the cache folder `folder` holds; returns the bytes freed.
    static uint64_t clear(const std::string &folder);

private:
    struct Entry {
        uint64_t bytes;
        uint64_t used; ///< order of the last use
    };
    std::string fileOf(const std::string &key) const;
    void evictFor(uint64_t bytes);
    std::string dir;
    uint64_t most;
    std::mutex lock;
    std::map<std::string, Entry> entries; ///< by file name
    uint64_t used = 0, clock = 0;
    bool warned = false;
};

#endif
