#ifndef VELMORA_GRAPHREADER_H
#define VELMORA_GRAPHREADER_H

#include "formats/LargeArray.h"

#include <cstdio>

/// A graph as a "gph" file describes it: plain owned arrays, no OpenGL. A reader only
/// returns a GraphData that holds together: `nodes` has 3 x nNodes floats, `edges` 2 x
/// nEdges node indices, each in 0..nNodes-1.
struct GraphData {
    int nNodes = 0;
    int nEdges = 0;
    LargeArray<float> nodes;
    LargeArray<int> edges;
};

/// The "gph" reader: the byte-order marker of the point files, the node count N and the
/// edge count M (int32 each), 3 x N float32 node coordinates, then 2 x M int32 node indices.
///
/// Counts must be non-negative and fit in the file, and every edge must join two existing
/// nodes; a refused file raises a `std::runtime_error` whose text names the file (also
/// printed as "GLGraphObject: <text>").
class GraphReader {
public:
    /// Raises "can't read file\n" when `path` cannot be opened (through Stream).
    static GraphData read(const char *path);
    /// From an open stream at its marker; `size` is the byte count from there to the end,
    /// -1 when unknown. `name` is used in messages. The caller closes `f`.
    static GraphData read(FILE *f, long long size, const char *name);
};

#endif
