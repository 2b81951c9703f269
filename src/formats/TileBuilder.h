#ifndef VELMORA_TILEBUILDER_H
#define VELMORA_TILEBUILDER_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct PointListData;

/// Writes a point cloud of any size as Entwine point tiles (EPT, the binary data type) that
/// PointTiles reads node by node, from points handed over once, in any order, in parts.
///
/// Each node keeps the first point that falls into each cell of a grid of `span` cells a side
/// over its cube (a spatially even sample), and hands the others to its children; a node with
/// few enough points keeps them all. The first levels are made while the points come: their
/// grids are kept in memory, and the points below them go to one file a cube of the level
/// below, on the disk. `finish` then makes each such cube's nodes in memory, or, for a cube
/// with more points than the memory allows, in the same way through files again.
///
/// A record is X, Y, Z (int32, scaled), Red, Green and Blue (uint8, when there are colours)
/// and one float32 a value item. Every failure raises std::runtime_error with a plain text.
class TileBuilder {
public:
    struct Settings {
        std::string folder;           ///< where ept.json, ept-hierarchy/ and ept-data/ go (made)
        double lo[3] = {0, 0, 0};     ///< the cube's low corner ...
        double size = 1;              ///< ... and side, holding every point
        double scale = 0.001;         ///< of the integer coordinates
        bool colours = false;
        std::vector<std::string> items; ///< the value items' names
        size_t memoryBytes = size_t(512) << 20; ///< the points held in memory at once
        unsigned span = 128;
        size_t leafPoints = 65536;    ///< a node with at most this many points keeps them all
        /// The bytes of records below the first levels from which their cubes are made two at
        /// a time: two threads making a few small files in one folder wait on each other.
        size_t bothCoresFrom = size_t(64) << 20;
    };
    explicit TileBuilder(Settings settings);
    ~TileBuilder();
    TileBuilder(const TileBuilder &) = delete;
    TileBuilder &operator=(const TileBuilder &) = delete;

    /// Points made ready to be added: their records, where each goes in the first levels, and
    /// their bounds.
    struct Part {
        std::vector<char> records;
        std::vector<uint32_t> places; ///< a few words a point (see TileBuilder.cpp)
        double lo[3], hi[3];
    };
    /// Makes n points ready to be added: 3 doubles each, 3 colour bytes each (null without
    /// colours), and for each item n values. Points outside the cube are put on its border.
    /// Changes nothing: several threads may make parts at once while another adds.
    Part prepare(size_t n, const double *xyz, const unsigned char *rgb,
                 const std::vector<const float *> &values) const;
    /// The same for the points of a cloud as a reader gives them, in the file's coordinates
    /// (its origin added) with its colours and items.
    Part prepare(const PointListData &d) const;
    /// Adds the points of a part. The nodes depend on the order in which points are added
    /// (a cell keeps the first point that falls into it): the parts go in in their order.
    void add(Part part);
    /// Both of the above at once.
    void add(size_t n, const double *xyz, const unsigned char *rgb, const std::vector<const float *> &values)
    {
        add(prepare(n, xyz, rgb, values));
    }
    /// Makes the nodes of the cubes kept on the disk (two at a time where the memory allows) and
    /// writes the hierarchy and ept.json; `progress`, when given, hears the share done (0 to 1)
    /// after each node the calling thread makes, and now and then while it waits for the other
    /// thread's cube. What `progress` raises stops the making (the other thread at its next node)
    /// and is raised again.
    void finish(const std::function<void(double)> &progress = nullptr);
    uint64_t pointCount() const { return added; }
    size_t recordBytes() const { return record; }

    struct Key {
        int d, x, y, z;
        bool operator<(const Key &o) const;
    };
    class Splitter;

private:
    struct Making;
    /// Where the making of the cubes below the first levels may report or stop: the calling
    /// thread hears the progress, and every thread stops once another has failed.
    void checkpoint();
    /// Makes the nodes of cube `key` from its records in memory.
    void buildInMemory(const Key &key, std::vector<char> &records);
    /// Makes the nodes of cube `key` from the records of the file at `path`.
    void buildFromFile(const Key &key, const std::string &path, uint64_t count);
    void writeNode(const Key &key, const char *records, size_t count);
    Settings s;
    size_t record = 0;
    double cells = 1; ///< the cube's side in steps of the scale
    uint64_t added = 0;
    double lo[3], hi[3]; ///< of the points added
    std::mutex writing;  ///< of `written`: the cubes below the first levels are made two at a time
    std::map<Key, uint64_t> written;
    std::unique_ptr<Splitter> top;
    std::atomic<int> spills{0};
    Making *making = nullptr; ///< while `finish` makes the cubes below the first levels
};

#endif
