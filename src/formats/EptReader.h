#ifndef VELMORA_EPTREADER_H
#define VELMORA_EPTREADER_H

#include "formats/PointListReader.h"

#include <cstdint>
#include <string>
#include <vector>

/// One dimension of an Entwine point tile's binary schema.
struct EptDimension {
    std::string name;
    enum Type { Signed, Unsigned, Float } type;
    unsigned size;  ///< bytes: 1, 2, 4 or 8 (4 or 8 for floats)
    double scale = 1, offset = 0;
};

/// What `ept.json` says.
struct EptMetadata {
    enum DataType { Laszip, Binary, Zstandard } dataType;
    uint64_t points;
    std::vector<EptDimension> schema;
    unsigned recordBytes;  ///< the schema's dimensions end to end

    /// From the text of `ept.json`; raises std::runtime_error (a plain text) for JSON that
    /// is not a tile set this reader takes.
    static EptMetadata parse(const std::string &text);
};

/// Reader of Entwine point tiles (EPT) on disk: `ept.json`, the node counts of
/// `ept-hierarchy/D-X-Y-Z.json` (a count of -1 continues in the file of that name), and each
/// node's points in `ept-data/` as LAZ (`laszip`), raw records (`binary`) or zstandard
/// compressed records (`zstandard`). All the nodes become one cloud, in double relative to one
/// origin, with the intensity, classification and return number as value items and RGB as
/// colours when the schema has them.
class EptReader {
public:
    static PointListData read(const char *eptJson);

    /// The nodes with points of a hierarchy file's text: keys "D-X-Y-Z" and counts, the keys
    /// with -1 added to `more`. Raises std::runtime_error for a malformed key or count.
    static std::vector<std::pair<std::string, int64_t>> parseHierarchy(const std::string &text,
                                                                       std::vector<std::string> &more);
};

#endif
