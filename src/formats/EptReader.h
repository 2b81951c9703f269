#ifndef VELMORA_EPTREADER_H
#define VELMORA_EPTREADER_H

#include "formats/PointListReader.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

/// One dimension of an Entwine point tile's binary schema.
struct EptDimension {
    std::string name;
    enum Type { Signed, Unsigned, Float } type;
    unsigned size;  ///< bytes: 1, 2, 4 or 8 (4 or 8 for floats)
    double scale = 1, offset = 0;
    double minimum = NAN; ///< its least value, when ept.json gives its statistics
};

/// What `ept.json` says.
struct EptMetadata {
    enum DataType { Laszip, Binary, Zstandard } dataType;
    uint64_t points;
    std::vector<EptDimension> schema;
    unsigned recordBytes;  ///< the schema's dimensions end to end
    double bounds[6] = {0, 0, 0, 0, 0, 0}; ///< the root cube: low x, y, z, then high x, y, z
    bool hasBounds = false;
    double conforming[6] = {0, 0, 0, 0, 0, 0}; ///< the points' box, in "boundsConforming"
    bool hasConforming = false;
    unsigned span = 128;   ///< a node's sample: about this many points across its cube

    /// From the text of `ept.json`; raises std::runtime_error (a plain text) for JSON that
    /// is not a tile set this reader takes.
    static EptMetadata parse(const std::string &text);
};

/// Reader of Entwine point tiles (EPT) as one cloud (see openEptTiles for the files): every node
/// read, in double relative to one origin, with the intensity, classification, return number
/// (and GPS time and the dimensions that are no LAS field, when the schema has them) as value
/// items and RGB as colours when the schema has them.
class EptReader {
public:
    /// `eptJson` is a path or an http(s) address.
    static PointListData read(const char *eptJson);

    /// The nodes with points of a hierarchy file's text: keys "D-X-Y-Z" and counts, the keys
    /// with -1 added to `more`. Raises std::runtime_error for a malformed key or count.
    static std::vector<std::pair<std::string, int64_t>> parseHierarchy(const std::string &text,
                                                                       std::vector<std::string> &more);
};

#endif
