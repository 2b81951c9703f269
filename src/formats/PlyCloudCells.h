#ifndef VELMORA_PLYCLOUDCELLS_H
#define VELMORA_PLYCLOUDCELLS_H

#include "formats/PointBounds.h"
#include "formats/PointLodCells.h"

#include <cstddef>

/// The common dense cloud of a binary PLY (float x, y, z first in each record, byte colours),
/// read grouped by the cells of its hierarchy's upper levels (see PointCellOrder): the box of
/// the points first, then the points of each group counted, then each point copied to its
/// group's next place. Each group keeps the file's order. Copying the points there costs
/// little more than copying them in order, and spares the hierarchy the sort that would put
/// them there in place. Two threads share the work from a million points on.
struct PlyCloudCells {
    /// n records of `stride` bytes from `base`, the colour bytes at offsets rgbAt; `xyz` and
    /// `rgb` have room for n points. `mapped`: `base` is a private mapping of the file whose
    /// pages may be handed back once read. Gives the box of the points in `bounds`.
    static PointCellOrder read(const char *base, size_t stride, const size_t rgbAt[3], size_t n, bool mapped,
                               float *xyz, unsigned char *rgb, PointBounds &bounds);
    /// Hands the whole pages of [from, to) of a private file mapping back to the system.
    static void releasePages(const char *from, const char *to);
};

#endif
