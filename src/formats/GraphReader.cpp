#include "formats/GraphReader.h"
#include "formats/ReadAll.h"
#include "math/Messages.h"
#include "formats/ReadRefusal.h"

#include "formats/ByteOrder.h"
#include "formats/SlicedRead.h"
#include "formats/MeshReader.h"
#include "formats/PointListReader.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace {

constexpr ReadRefusal refuse{"GLGraphObject"};

} // namespace

GraphData GraphReader::read(const char *path)
{
    return readOpened(path, [path](FILE *f) { return read(f, MeshReader::fileSize(f), path); });
}

GraphData GraphReader::read(FILE *f, long long size, const char *name)
{
    const int mode = PointListReader::readByteOrder(f, name);
    const ReadFunction reader = MESH_UTILS::readerForMode(mode);
    int32_t counts[2] = {0, 0};
    if (reader(counts, 4, 2, f) != 2)
        refuse("%s: no node and edge counts", name);
    msg::note("reading a graph with %d nodes and %d edges\n", counts[0], counts[1]);
    if (counts[0] < 0 || counts[1] < 0)
        refuse("%s: negative count, %d nodes and %d edges", name, counts[0], counts[1]);
    if (counts[0] == 0)
        refuse("%s: a graph needs at least one node", name);
    const unsigned long long needed =
        10ull + 12ull * static_cast<unsigned>(counts[0]) + 8ull * static_cast<unsigned>(counts[1]);
    if (size >= 0 && needed > static_cast<unsigned long long>(size))
        refuse("%s: %d nodes and %d edges need %llu bytes, the file has %lld", name, counts[0], counts[1], needed,
               size);

    GraphData g;
    g.nNodes = counts[0];
    g.nEdges = counts[1];
    if (!readArray(reader, f, 3 * static_cast<size_t>(g.nNodes), size >= 0, g.nodes))
        refuse("%s: the file ends inside the nodes", name);
    if (!readArray(reader, f, 2 * static_cast<size_t>(g.nEdges), size >= 0, g.edges))
        refuse("%s: the file ends inside the edges", name);
    const unsigned limit = static_cast<unsigned>(g.nNodes);
    const int *e = g.edges.get();
    for (size_t i = 0; i < 2 * static_cast<size_t>(g.nEdges); ++i)
        if (static_cast<unsigned>(e[i]) >= limit)
            refuse("%s: edge %zu joins node %d, outside 0..%d", name, i / 2, e[i], g.nNodes - 1);
    return g;
}
