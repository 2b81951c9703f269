#ifndef VELMORA_POINTTILES_H
#define VELMORA_POINTTILES_H

#include "formats/HttpRangeReader.h"
#include "formats/PointListReader.h"
#include "formats/RangeFile.h"

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class NodeCache;

/// One node of a point hierarchy: the cube (level, x, y, z) of the root cube divided 2^level
/// times along each axis, how many points it holds, and where its bytes lie.
struct TileNode {
    int32_t level = 0, x = 0, y = 0, z = 0;
    uint64_t points = 0;
    uint32_t file = 0;               ///< which of the hierarchy's files holds them
    uint64_t offset = 0, bytes = 0;  ///< the range there; bytes 0 for the whole file
    int32_t parent = -1;
    int32_t child[8] = {-1, -1, -1, -1, -1, -1, -1, -1}; ///< by x + 2 y + 4 z of the half it takes
};

/// A point cloud stored as an octree of nodes that are read one by one: a COPC file, an
/// Entwine point tile set (EPT) or a Potree 2.0 cloud, on a disk or on a web server. Opening
/// one reads its metadata and its whole hierarchy (each node's key, count and byte range),
/// never the points; `load` then reads and decodes one node, on any thread.
///
/// Every node's points are a part of the cloud that no other node holds (an inner node a
/// spatially even sample of its cube), so any set of nodes draws a part of the cloud, and
/// all of them the whole.
class PointTiles {
public:
    /// What the files of a hierarchy share.
    struct Access {
        std::shared_ptr<HttpRangeReader::Pool> pool; ///< connections for remote files (null: made)
        std::shared_ptr<NodeCache> cache;            ///< where fetched remote nodes are kept (null: none)
    };

    /// Whether `path` names a hierarchy this class opens: "ept.json", "metadata.json" (as
    /// the whole name or after a '/'), or a name ending in ".copc.laz".
    static bool isTilesName(const char *path);
    /// Opens the hierarchy named by `path` (as isTilesName); a plain LAZ file whose header
    /// names no "copc" record is refused as not a hierarchy. Raises std::runtime_error with a
    /// plain text (no file name) for anything it can't read.
    static std::unique_ptr<PointTiles> open(const std::string &path, Access access = Access());
    virtual ~PointTiles();

    /// "COPC", "EPT" or "Potree 2.0".
    const char *kind() const { return kindName; }
    const std::string &path() const { return name; }
    const std::vector<TileNode> &nodes() const { return all; }
    uint64_t pointCount() const { return total; }
    bool isRemote() const { return !files.empty() && files[0]->isRemote(); }
    /// The root cube in the file's coordinates: its low corner and side.
    const double *rootLow() const { return lo; }
    double rootSize() const { return size; }
    /// The box of the points as the files give it (COPC's LAS header, EPT's "boundsConforming"),
    /// else the root cube.
    void dataBox(double *low, double *high) const;
    /// A node holds about one point per 1/2^sampleBits of its cube's side (an inner node's
    /// sample); finer detail is in its children.
    int sampleBits() const { return bits; }
    /// The cube of node i.
    void cubeOf(size_t i, double *low, double &side) const;
    /// "level-x-y-z".
    std::string nodeName(size_t i) const;
    /// "<path> node level-x-y-z", the name the readers of a node's bytes give in messages.
    std::string nodeLabel(size_t i) const;
    /// The value items every node gives, in order (intensity, classification and return
    /// number first; then the GPS time, "GPS time (s after <second>)", and the extra bytes or
    /// further dimensions).
    const std::vector<std::string> &itemNames() const { return items; }
    bool hasColours() const { return colours; }

    /// The points of node i in the file's coordinates (float relative to `origin`), with
    /// their colours when the cloud has them and one value a point for each item. Reads its
    /// bytes (from the cache for a remote node that is there, else from the file, keeping them
    /// in the cache) and decodes them; the decoder's notes are not printed, its warnings are,
    /// after the node's name. Raises std::runtime_error whose text names the node.
    PointListData load(size_t i);

    /// Ends the reads of remote nodes under way; every further one fails.
    void cancel()
    {
        if (access.pool)
            access.pool->cancel();
    }

    /// Every node's points as one cloud (at most INT_MAX points), decoded on every core.
    PointListData readWhole();
    /// Opens `path` and reads it whole, as a cloud's file; refused as the point list refuses,
    /// after the path (`fallback` where there is none), when it can't be read.
    static PointListData readWhole(const char *path, const char *fallback);

protected:
    PointTiles(const char *kind, std::string path, Access access);
    /// The node's bytes as they are stored.
    std::string fetch(size_t i);
    /// Decodes the bytes of node i; raises std::runtime_error with a plain text.
    virtual PointListData decode(size_t i, std::string &bytes) = 0;
    /// Adds the file at `path` (local or remote, with the shared pool); returns its index.
    uint32_t addFile(const std::string &path);
    /// Links the nodes to their parents and children (adding empty ones where the hierarchy
    /// skips a level), checks that each key is in the cube and given once, adds up the count.
    void link();
    /// The points of node i to be filled: n of them, around the centre of its cube, with room
    /// for colours when the cloud has them, and every item's values 0.
    PointListData blankNode(size_t i, size_t n) const;
    /// The GPS time of the first point of node i when a few bytes of its file give it (NaN
    /// when they don't: the node is then decoded).
    virtual double firstGpsTime(size_t) { return NAN; }
    /// Sets the sample resolution from the root's side over the spacing of its points.
    void setSpacing(double spacing);
    /// Puts a LAS reader's value items in the order of `items`, by name (zeros for one it
    /// lacks), with their ranges; scales dark colours of a 16-bit cloud read as 8-bit ones
    /// (see wideColours) when `brightest`, the node's largest colour value, is known.
    void matchItems(PointListData &d, int brightest = -1);
    /// Fixes the whole second every node's GPS times are taken after, when the items have a
    /// "GPS time" (which is then named after it): that of `minimum`, the least GPS time the
    /// files give, else that of the first point of the first node (read now), else 0.
    void fixGpsTime(double minimum);
    /// The GPS time `t` of a node's point as its item's value. While the hierarchy opens
    /// without a least GPS time, the first one seen sets the reference.
    float gpsValue(double t)
    {
        if (std::isnan(gpsBase))
            gpsBase = std::isfinite(t) ? std::floor(t) : 0;
        return static_cast<float>(t - gpsBase);
    }

    const char *kindName;
    std::string name;
    Access access;
    std::vector<std::unique_ptr<RangeFile>> files;
    std::vector<TileNode> all;
    uint64_t total = 0;
    double lo[3] = {0, 0, 0};
    double size = 1;
    /// The points' box, when the files give one (see dataBox).
    bool hasBox = false;
    double boxLo[3] = {0, 0, 0}, boxHi[3] = {0, 0, 0};
    int bits = 7;
    std::vector<std::string> items;
    /// The whole second the GPS time items are taken after (NaN until fixGpsTime).
    double gpsBase = NAN;
    bool colours = false;
    /// Set once a node shows colours above 255: the cloud's colours are 16-bit, and a dark
    /// node whose values all lie below 256 is scaled like the others.
    std::atomic<bool> wideColours{false};
};

/// The value items of a cloud from the names of its dimensions (EPT's schema, Potree's
/// attributes, the LAS fields): intensity, classification and return number always first,
/// then GPS time and every dimension that is none of the usual LAS fields.
struct TileItems {
    enum Role { Position, Colour, Intensity, Classification, ReturnNumber, GpsTime, Standard, Extra };
    /// The role of a dimension by its name, whatever its case, spaces, dashes and underscores.
    static Role roleOf(const std::string &name);
    /// The role of each dimension: as roleOf, but for a second one of the intensity's,
    /// classification's, return number's or GPS time's, which is an extra item.
    static std::vector<Role> roles(const std::vector<std::string> &dimensions);
    /// The item names of the dimensions given.
    static std::vector<std::string> names(const std::vector<std::string> &dimensions);
    /// Where each dimension's values go among those items (-1: none).
    static std::vector<int> slots(const std::vector<std::string> &dimensions);
    /// Adds items of these names to `d`, n values each, all 0.
    static void addItems(PointListData &d, const std::vector<std::string> &names, size_t n);
    /// Sets each item's range from its values.
    static void setRanges(PointListData &d);
};

#endif
