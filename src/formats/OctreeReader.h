#ifndef VELMORA_OCTREEREADER_H
#define VELMORA_OCTREEREADER_H

#include "formats/DataItem.h"

#include <cstddef>
#include <string>
#include <vector>

/// A leaf coordinate: the integer voxel index of the leaf's minimum corner at the finest level.
struct Pointsi {
    short x, y, z;
};

/// An adaptive octree as its file describes it, before anything is drawn: plain owned arrays,
/// no OpenGL. Depth 0 is the root, depth `levels` the finest level; a leaf at depth d is a
/// cube of 2^(levels - d) voxels.
///
/// A reader only returns an OctreeData that holds together: `leaves`, `values` and `order`
/// have levels + 1 entries of equal lengths per depth, every coordinate lies in
/// [0, 2^levels), and for version 2 and dn octrees every data item holds at least one value
/// per leaf (`nLeaves`). Version 1 and voc octrees carry one named item without values: their
/// values are in `values`.
struct OctreeData {
    enum Kind { OCT_V1, OCT_V2, VOC, DN };
    /// Deepest octree the 16-bit leaf coordinates can address.
    static constexpr int kMaxLevels = 15;

    Kind kind = OCT_V1;
    int levels = 0;
    float origin[3] = {0, 0, 0};     ///< world position of voxel (0, 0, 0)'s minimum corner
    float voxelSize[3] = {1, 1, 1};
    std::vector<std::vector<Pointsi>> leaves;  ///< per depth 0..levels
    /// Per depth, one value a leaf: the file's values (version 1, voc); zero for version 2
    /// and dn octrees, whose values come from the data items.
    std::vector<std::vector<float>> values;
    /// Per depth, each leaf's rank in the traversal of the signature or node table: a data
    /// item's value k belongs to the leaf of rank k. Empty for version 1 and voc octrees.
    std::vector<std::vector<int>> order;
    int nLeaves = 0;                      ///< leaves of every depth
    std::vector<unsigned char> signature; ///< version 2
    std::vector<int> nodeTable;           ///< dn: 8 entries a node
    std::vector<DataItem> dataItems;
    /// The marker as read in this machine's order: the file's byte order differed.
    bool swapped = false;
};

/// The octree file readers: "oct" (versions 1 and 2), "voc" and "dn". They need no OpenGL.
///
/// Every count, depth, length and index is checked against the file before anything is
/// allocated or indexed. A refused input raises a `std::runtime_error`; a file that cannot be
/// opened raises "can't read file\n" exactly, anything else a text naming the file and the
/// reason, which is also printed as "GLOctreeObject: <text>".
class OctreeReader {
public:
    /// Picks the reader from the text after the last "." of `path`: beginning with "dn",
    /// "oct" or "voc". No "." raises "file name error", any other text "unknown format".
    static OctreeData read(const char *path);

    static OctreeData readOCT(const char *path);
    static OctreeData readVOC(const char *path);
    static OctreeData readDN(const char *path);
    /// The same from the bytes of a file; `name` only names it in messages.
    static OctreeData readOCT(const unsigned char *data, size_t size, const char *name);
    static OctreeData readVOC(const unsigned char *data, size_t size, const char *name);
    static OctreeData readDN(const unsigned char *data, size_t size, const char *name);

    /// Child i's corner offset (x, y, z in units of the child's side) in the signature order
    /// of version-2 files and in the node-table order of dn files.
    static const int kSignatureOffsets[8][3];
    static const int kNodeTableOffsets[8][3];
};

#endif
