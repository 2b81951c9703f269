#ifndef VELMORA_POINTLISTREADER_H
#define VELMORA_POINTLISTREADER_H

#include "formats/LargeArray.h"
#include "formats/PointBounds.h"
#include "formats/PointLodCells.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

/// The in-memory hand-over of a point cloud (for example by an importer of foreign formats).
/// The reader copies everything; the caller keeps ownership. `colors` (3 bytes a point) and
/// `values` (one float a point) are optional; with values alone the colours are computed
/// from them, as for a file; with both, the cloud keeps both and shows its own colours
/// first (key "3" switches to the values).
struct PointListRecord {
    int nPoints;
    const float *points;          ///< 3 x nPoints
    const unsigned char *colors;  ///< 3 x nPoints, or null
    const float *values;          ///< nPoints, or null
    const char *valueName = nullptr; ///< the legend's title for the values; null: "Correlation"
};

/// A point cloud as a file describes it, before anything is drawn: plain owned arrays, no
/// OpenGL. A reader only returns a PointListData that holds together: `points` has 3 x
/// nPoints floats, `colors` (when not null) 3 x nPoints bytes and `values` (when not null)
/// nPoints floats. Exactly one of `colors` and `values` is set for a "bin" file; a "las"
/// file has neither (its points are black). `bounds` holds the box of the points and, when
/// there are values, their range and how many are NaN.
/// One more value a point beside `values` (a laser scan's intensity, classification, return
/// number), for the colour maps: `nPoints` floats and their range.
struct PointValueItem {
    std::string name;
    LargeArray<float> values;
    float lo = 0, hi = 0;

    /// An item of the `n` values at `from`, copied, with their range.
    static PointValueItem copyOf(const char *name, const float *from, size_t n);
    /// Takes lo and hi from the first `n` values (both 0 when there are no values).
    void measure(size_t n);
};

/// How an ASPRS LAS file stores its coordinates: integers times `scale` plus `offset`. A
/// cloud read from one keeps them, so that saving it as LAS writes the same integers.
struct LasScaling {
    double scale[3] = {0, 0, 0};
    double offset[3] = {0, 0, 0};
    /// False for a cloud of another format (the scales are zero).
    bool given() const { return scale[0] > 0 && scale[1] > 0 && scale[2] > 0; }
};

struct PointListData {
    int nPoints = 0;
    LargeArray<float> points;
    LargeArray<unsigned char> colors;
    LargeArray<float> values;
    PointBounds bounds;
    std::string valueName = "Correlation"; ///< what the values are, the legend's title
    /// Added back to `points` to give the file's coordinates: georeferenced clouds keep their
    /// points in float relative to their centre and lose no precision.
    double origin[3] = {0, 0, 0};
    std::vector<PointValueItem> items; ///< further values a point (none for "bin" and "las" text)
    LasScaling las;                    ///< an ASPRS LAS file's scale and offset
    /// Set by a reader asked to store a large cloud grouped by the cells of its hierarchy:
    /// the points are then not in the file's order, and `cellOrder.fileIndex` leads back.
    PointCellOrder cellOrder;
};

/// The point-list readers: the binary "bin" format and the "las" text list.
///
/// "bin": a 16-bit byte-order marker, the point count (int32), 3 x N float32 coordinates,
/// then either N float32 values (scores) or N RGB byte triples. Colour bytes are bytes in
/// either byte order and are never swapped. A count the file cannot hold is refused before
/// anything is allocated; a colour section shorter than 3 x N bytes leaves the missing
/// colours black.
///
/// "las": one point per line, the first three numbers of the line; further columns are
/// ignored, a line without three numbers is skipped.
///
/// A refused input raises a `std::runtime_error` whose text says why and names the file;
/// where that text is not one of the format's fixed messages it is also printed as
/// "GLPointListObject: <text>".
class PointListReader {
public:
    /// Raises "can't read file\n" when `path` cannot be opened (it goes through Stream, so
    /// an address with "://" is downloaded).
    static PointListData readBIN(const char *path);
    /// From an open stream at its marker; `size` is the byte count from there to the end,
    /// -1 when unknown (a pipe): arrays then grow only with what arrives. `name` is the file
    /// name used in messages. The caller closes `f`.
    static PointListData readBIN(FILE *f, long long size, const char *name);

    static PointListData readLAS(const char *path);
    /// From text in memory (need not end with a zero byte).
    static PointListData readLAS(const char *text, size_t size, const char *name);

    /// Checks an in-memory cloud (at least one point, coordinates given) and copies it.
    static PointListData fromRecord(const PointListRecord *record);

    /// Reads the 16-bit byte-order marker shared by the point, graph and octree files and
    /// prints the detection lines. Returns the reader mode of ByteOrder.h (0 native, 1
    /// swapped); raises "wrong format" naming `name` for any other marker.
    static int readByteOrder(FILE *f, const char *name);
};

#endif
