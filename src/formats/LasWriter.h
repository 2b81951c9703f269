#ifndef VELMORA_LASWRITER_H
#define VELMORA_LASWRITER_H

#include "formats/PointListReader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

/// One point of an ASPRS LAS 1.4 file of point data record format 6, 7 or 8, in the file's
/// coordinates (before its scale and offset).
struct LasPoint {
    double xyz[3] = {0, 0, 0};
    uint16_t intensity = 0;
    uint8_t returnNumber = 1, returnCount = 1; ///< 1 to 15
    uint8_t classification = 0;
    double gpsTime = 0;          ///< seconds, as the file's GPS time field holds them
    uint16_t rgb[3] = {0, 0, 0}; ///< formats 7 and 8, 16 bits a channel
    uint16_t nir = 0;            ///< format 8
};

/// Writes ASPRS LAS 1.4 files of point data record formats 6 (no colour), 7 (RGB) and 8 (RGB
/// and near infrared), without variable-length records: the public header block of 375
/// bytes, then the records.
///
/// Coordinates are stored as the integers round((x - offset) / scale): a cloud read from a
/// LAS file is written with that file's scale and offset, so that its integers come back.
/// The header's box, the point count and the counts by return are those of the records
/// written. The file goes through a temporary name (PartFile).
class LasWriter {
public:
    /// Hands point i (0 .. n - 1) to the writer.
    using PointSource = std::function<void(size_t i, LasPoint &point)>;

    /// Writes n points to `path` in `format` (6, 7 or 8) with `scaling` (see LasScaling).
    /// Raises a `std::runtime_error` saying why when it cannot: a coordinate beyond what a
    /// 32-bit integer of the scale can hold, a format or scale it does not write, a failed write.
    static void write(const std::string &path, int format, const LasScaling &scaling, size_t n,
                      const PointSource &points);
    /// Fills the next point; false when there are no more.
    using NextPoint = std::function<bool(LasPoint &point)>;
    /// The same for points whose number is known only once the last has come (those of a
    /// cloud read part by part); returns how many it wrote.
    static uint64_t write(const std::string &path, int format, const LasScaling &scaling, const NextPoint &next);

    /// A scale (a millimetre, coarser where a 32-bit integer cannot span the box) and offset
    /// (the box's centre, rounded to a unit) for coordinates of the box [lo, hi].
    static LasScaling scalingFor(const double lo[3], const double hi[3]);
};

/// Where a cloud's value items go in a LAS record, by their names as the readers give them:
/// "intensity", "classification", "return number" and "GPS time (s after T)" (seconds after
/// the whole second T); -1 where the cloud has none.
struct LasValueSlots {
    explicit LasValueSlots(const std::vector<std::string> &names);
    /// Sets the point's intensity, classification, return (and count, the same) and GPS time
    /// from point i's values, values[k] being item k's (rounded, and clamped to the field).
    void fill(LasPoint &p, const float *const *values, size_t i) const;
    int intensity = -1, classification = -1, returnNumber = -1, gpsTime = -1;
    double gpsBase = 0;
};

#endif
