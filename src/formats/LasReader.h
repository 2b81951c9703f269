#ifndef VELMORA_LASREADER_H
#define VELMORA_LASREADER_H

#include "formats/HttpRangeReader.h"
#include "formats/PointListReader.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

/// Reader of ASPRS LAS files (versions 1.0 to 1.4, point data record formats 0 to 10,
/// uncompressed or LAZ): the public header block, then the point records from the offset the header
/// gives, each the record length the header gives (extra bytes are skipped).
///
/// Coordinates are the integers of the record times the header's scale plus its offset,
/// computed in double; the points are kept in float relative to `origin` (the centre of the
/// header's box, or the first point's when that box is unusable), so that a georeferenced
/// cloud of millions of metres keeps its centimetres. RGB (formats 2, 3, 5, 7, 8, 10) gives
/// the colours: taken as bytes when no channel exceeds 255, else scaled from the 16-bit range.
/// The intensity, the classification and the return number become three value items, then
/// the GPS time (seconds after a whole second, which the item's name gives) and the extra
/// bytes typed by their descriptors.
///
/// A LASzip-compressed file (LAZ: a compression bit in the point format) is decoded chunk by
/// chunk on every core (see LazFile), then read as the same records. Counts and record lengths
/// are checked against the file before anything is allocated. A file that ends inside its
/// points gives the whole records it holds, with a warning that gives both counts.
class LasReader {
public:
    /// True when the file at `path` starts with "LASF" (on a web server, one that does not
    /// answer is taken for a LAS file, whose read then says why).
    static bool hasSignature(const char *path);
    /// A file on a disk, or on a web server through `pool` (null: one of its own).
    static PointListData read(const char *path, std::shared_ptr<HttpRangeReader::Pool> pool = nullptr);
    /// From an open stream at the signature; `size` is the byte count from there to the end,
    /// -1 when unknown (the records are then read as far as they arrive).
    /// `gpsReference`, when given, is the whole second the GPS times are taken after: a finite
    /// one is kept, a NaN one becomes the first point's (as without it) and is handed back.
    static PointListData read(FILE *f, long long size, const char *name, double *gpsReference = nullptr);
    /// The names of the value items a read gives, from the file's first bytes (`head`: its
    /// header and, for the extra bytes, its variable-length records); the GPS time's is
    /// "GPS time", its reference second unknown.
    static std::vector<std::string> itemNames(const std::string &head);
    /// Where a record of point format `format` keeps its GPS time, 0 for one without.
    static unsigned gpsOffset(unsigned format);
    /// The name of the GPS time item of seconds after `reference`.
    static std::string gpsTimeName(double reference);
};

#endif
