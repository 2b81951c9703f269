#ifndef VELMORA_LASRECORDS_H
#define VELMORA_LASRECORDS_H

#include "formats/LazFile.h"
#include "formats/PointListReader.h"
#include "formats/RangeFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// LAS point records read in parts, for the readers that do not read a file whole (a COPC
/// node, a part of a large LAS or LAZ file): the header as LasReader wants it, and the records
/// of a part turned into points through LasReader, as one small file of uncompressed records.
class LasRecords {
public:
    /// From the first bytes of a LAS file (at least its header; `fileSize` the whole file's);
    /// when they reach the points, the extra-bytes descriptors among the variable-length
    /// records are kept, and the extra bytes become items. Raises std::runtime_error with a
    /// plain text for what is no LAS header.
    LasRecords(const std::string &head, uint64_t fileSize);
    /// The first bytes of `file` for the constructor: its header and its variable-length
    /// records (unless these take more than 16 MB).
    static std::string headOf(RangeFile &file);

    const LazFile::Header &header() const { return h; }
    unsigned format() const { return pointFormat; }
    bool isCompressed() const { return compressed; }
    int versionMinor() const { return minor; }
    /// The header's box of the points; false when it is none (not finite, or empty).
    bool box(double *lo, double *hi) const;
    /// Where a record's colours start, 0 for a format without them.
    unsigned colourOffset() const;

    /// The points of `n` records of `records` (n x the record length), as LasReader reads them
    /// (`name` in its messages, `gpsReference` as there); the origin is the centre of the
    /// header's box for every part.
    PointListData read(const char *records, size_t n, const std::string &name, double *gpsReference = nullptr) const;
    /// The names of the items every part gives (see LasReader::itemNames).
    std::vector<std::string> itemNames() const;
    /// The largest colour value among the records (-1 for a format without colours).
    int brightest(const char *records, size_t n) const;

private:
    std::string plain; ///< the header of a file of uncompressed records and no further records
    LazFile::Header h;
    unsigned pointFormat = 0;
    bool compressed = false;
    int minor = 0;
    double lo[3], hi[3];
};

#endif
