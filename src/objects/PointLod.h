#ifndef VELMORA_POINTLOD_H
#define VELMORA_POINTLOD_H

#include "formats/LargeArray.h"
#include "formats/PointLodCells.h"
#include "objects/PointLodSpill.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

/// One cell of the hierarchy: a cube, the points it holds itself ([first, first + count) of
/// the reordered cloud: a spatially even sample of all the points in the cube that no
/// ancestor holds) and up to eight children.
struct PointLodNode {
    float lo[3];
    float size;
    uint32_t first = 0, count = 0;
    int32_t child[8];
    int depth = 0;
};

/// The arrays of a cloud that its hierarchy reorders in place, all of n points.
struct PointLodArrays {
    float *xyz = nullptr;         ///< 3 a point
    unsigned char *rgb = nullptr; ///< 3 a point, or null
    std::vector<float *> values;  ///< one a point each
};

/// The level-of-detail hierarchy of a point cloud (an octree whose inner nodes hold a sample
/// one point a sub-cell, about 64 per axis, so that any cut through it looks like the whole
/// cloud at a lower density). The cloud's arrays are reordered in place so that every node's
/// points are one range; `order` leads back to the file's order.
///
/// The build sorts the points once by the cells of the 3rd level (in memory an American flag
/// sort on each of two sides of about half the points, one a thread, through a file a counting
/// sort from the copy there), then orders each of those cells on its own, on both threads: its points go to the shallowest node whose sub-cell has none
/// yet (the first point of a sub-cell to the root, the next one below, ...), which makes every
/// node's sample spatially even without a pass of its own. Finally the points of the nodes
/// above the 3rd level are gathered in front.
class PointLod {
public:
    /// Raised by build when `cancel` turns true on the way.
    struct Cancelled {
    };
    /// Point data (positions, colours and values) above which the order, and a copy of the
    /// arrays while the hierarchy is built, go to a temporary file on a disk, not to memory.
    static constexpr size_t kSpillBytes = PointLodCells::kSpillBytes;
    /// Builds the hierarchy of n points on `threads` threads, reordering the arrays in place:
    /// afterwards `order[i]` is the index the point now at i had before. Besides the arrays it
    /// takes `order` (4 bytes a point; with the copy on disk when the arrays hold more than
    /// `spillBytes`) and a few megabytes. When cancelled, the arrays hold the same points in
    /// some other order; when it fails otherwise (out of memory, a full disk), they are put
    /// back in their order before the exception leaves.
    /// `grouped`, when given and set, says that the arrays are in the groups a reader made
    /// (see PointCellOrder): the build starts from them, in memory, and takes their order
    /// (it is left empty). On failure the arrays are then put back in the file's order.
    static PointLod buildInPlace(const PointLodArrays &cloud, size_t n, int threads,
                                 const std::atomic<bool> *cancel = nullptr, size_t spillBytes = kSpillBytes,
                                 PointCellOrder *grouped = nullptr);
    /// The same for points that stay as they are (n points, 3 floats each, read only):
    /// `order[i]` is the index, in the given array, of the point that goes to position i.
    static PointLod build(const float *xyz, size_t n, int threads, const std::atomic<bool> *cancel = nullptr);

    /// The nodes a frame draws, largest on screen first, at most `budget` points (the root is
    /// always drawn). `mvp` is the column-major projection * model-view matrix of the points,
    /// `height` the viewport's height in pixels. Nodes outside the view are skipped. Returns
    /// the number of points; `complete` tells whether every visible detail fits.
    /// `pixels`, when given, receives each chosen node's diameter on screen.
    size_t select(const float *mvp, int height, size_t budget, std::vector<int> &out, bool *complete,
                  std::vector<float> *pixels = nullptr) const;
    /// Puts `indices` (of points in `xyz`) in Morton order: points drawn in that order keep
    /// the rasteriser's memory local, which a scattered order does not.
    static void sortSpatially(const float *xyz, std::vector<unsigned> &indices);
    /// One point per 1/2^s of a node's cube at this depth (all of a leaf's points).
    static int sampleDepth(int depth);
    /// The same for the nodes of this hierarchy: a hierarchy made by another program (COPC,
    /// EPT, Potree) says its nodes' sample itself, the same at every depth.
    int nodeSampleDepth(int depth) const { return fixedSampleDepth >= 0 ? fixedSampleDepth : sampleDepth(depth); }
    int fixedSampleDepth = -1; ///< -1 for this class's own hierarchies

    std::vector<PointLodNode> nodes;
    PointOrder order;
    size_t nPoints = 0;
};

#endif
