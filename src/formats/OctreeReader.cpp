#include "formats/OctreeReader.h"
#include "formats/ReadAll.h"
#include "math/Messages.h"
#include "formats/ReadRefusal.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

const int OctreeReader::kSignatureOffsets[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1},
                                                   {0, 1, 0}, {1, 1, 0}, {1, 1, 1}, {0, 1, 1}};
const int OctreeReader::kNodeTableOffsets[8][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0},
                                                   {0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}};

namespace {

// The smallest byte size of a data-item record (name, range, count, no values).
constexpr size_t kDataItemHead = DataItem::HEAD_SIZE;

constexpr NamedReadRefusal refuse{"GLOctreeObject", "(octree)"};

std::vector<unsigned char> readWholeFile(const char *path)
{
    FILE *f = path ? std::fopen(path, "rb") : nullptr;
    if (!f)
        throw std::runtime_error("can't read file\n");
    std::vector<unsigned char> bytes = readAll<unsigned char>(f);
    std::fclose(f);
    return bytes;
}

// Reads numbers item by item from the bytes of a file, each reversed when the file's byte
// order is not the machine's.
class Cursor {
public:
    Cursor(const unsigned char *d, size_t n, const char *file) : name(file), data(d), size(n) {}

    size_t remaining() const { return size - pos; }
    size_t position() const { return pos; }
    void skip(size_t n) { pos += n; }
    const unsigned char *here() const { return data + pos; }

    template <class T> T get(const char *what)
    {
        if (remaining() < sizeof(T))
            refuse(name, "the file ends inside the %s", what);
        unsigned char b[sizeof(T)];
        std::memcpy(b, data + pos, sizeof(T));
        pos += sizeof(T);
        if (swap)
            for (size_t i = 0; i < sizeof(T) / 2; ++i)
                std::swap(b[i], b[sizeof(T) - 1 - i]);
        T v;
        std::memcpy(&v, b, sizeof(T));
        return v;
    }
    void getFloats(float *out, int n, const char *what)
    {
        for (int i = 0; i < n; ++i)
            out[i] = get<float>(what);
    }

    bool swap = false;
    const char *name;

private:
    const unsigned char *data;
    size_t size;
    size_t pos = 0;
};

void readMarker(Cursor &in, OctreeData &o)
{
    uint16_t marker = in.get<uint16_t>("byte-order marker");
    if (marker == 0x4C45 || marker == 0x4542) {
        in.swap = true;
        marker = static_cast<uint16_t>((marker >> 8) | (marker << 8));
    }
    o.swapped = in.swap;
    if (marker == 0x4245)
        msg::note("Detected BIG ENDIAN model v%d ", 0);
    else if (marker == 0x454C)
        msg::note("Detected LITTLE ENDIAN model v%d ", 0);
    msg::note("in a LITTLE ENDIAN machine\n");
}

void checkFinite(Cursor &in, const float *v, int n, const char *what)
{
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(v[i]))
            refuse(in.name, "the %s is not a finite number", what);
}

void checkLevels(Cursor &in, int levels, int lowest)
{
    if (levels < lowest || levels > OctreeData::kMaxLevels)
        refuse(in.name, "%d levels: an octree has %d to %d", levels, lowest, OctreeData::kMaxLevels);
}

void readHeader(Cursor &in, OctreeData &o)
{
    in.getFloats(o.origin, 3, "origin");
    in.getFloats(o.voxelSize, 3, "voxel size");
    o.levels = in.get<int32_t>("level count");
    checkFinite(in, o.origin, 3, "origin");
    checkFinite(in, o.voxelSize, 3, "voxel size");
}

void allocateDepths(OctreeData &o)
{
    o.leaves.assign(static_cast<size_t>(o.levels) + 1, {});
    o.values.assign(static_cast<size_t>(o.levels) + 1, {});
}

// Leaves of one depth from a version-1 or voc file: `count` coordinates, then `count` values
// of `valueFloats` floats each (a value is the length of the vector when there are three).
void readLevel(Cursor &in, OctreeData &o, int depth, int count, int valueFloats)
{
    if (count < 0)
        refuse(in.name, "a negative leaf count (%d) at depth %d", count, depth);
    const size_t perLeaf = 3 * sizeof(int16_t) + static_cast<size_t>(valueFloats) * sizeof(float);
    if (static_cast<size_t>(count) > in.remaining() / perLeaf)
        refuse(in.name, "%d leaves at depth %d, more than the file holds", count, depth);
    const int limit = 1 << o.levels;
    std::vector<Pointsi> &leaves = o.leaves[static_cast<size_t>(depth)];
    leaves.resize(static_cast<size_t>(count));
    for (Pointsi &p : leaves) {
        p.x = in.get<int16_t>("coordinates");
        p.y = in.get<int16_t>("coordinates");
        p.z = in.get<int16_t>("coordinates");
        if (p.x < 0 || p.y < 0 || p.z < 0 || p.x >= limit || p.y >= limit || p.z >= limit)
            refuse(in.name, "leaf (%d,%d,%d) at depth %d lies outside the %d-level grid", p.x, p.y, p.z, depth,
                   o.levels);
    }
    std::vector<float> &values = o.values[static_cast<size_t>(depth)];
    values.resize(static_cast<size_t>(count));
    for (float &v : values) {
        if (valueFloats == 1) {
            v = in.get<float>("values");
        } else {
            float vec[3];
            in.getFloats(vec, 3, "vectors");
            v = std::sqrt(vec[0] * vec[0] + vec[1] * vec[1] + vec[2] * vec[2]);
        }
    }
    o.nLeaves += count;
}

// Levels from `levels` down to 0; the loop ends quietly where the file ends before a count.
void readLevels(Cursor &in, OctreeData &o, int finestCount, int valueFloats)
{
    for (int depth = o.levels; depth >= 0; --depth) {
        int count = finestCount;
        if (depth != o.levels) {
            if (in.remaining() < sizeof(int32_t))
                break;
            count = in.get<int32_t>("leaf count");
        }
        readLevel(in, o, depth, count, valueFloats);
    }
}

void addLeaf(OctreeData &o, int depth, int x, int y, int z)
{
    const size_t d = static_cast<size_t>(depth);
    o.leaves[d].push_back({static_cast<short>(x), static_cast<short>(y), static_cast<short>(z)});
    o.values[d].push_back(0.0f);
    o.order[d].push_back(o.nLeaves++);
}

// Walks one interior node of the signature (pre-order, children in signature order).
void walkSignature(Cursor &in, OctreeData &o, size_t &pos, int depth, int x, int y, int z)
{
    if (pos >= o.signature.size())
        refuse(in.name, "the signature ends inside the tree (%zu bytes)", o.signature.size());
    const unsigned bits = o.signature[pos++];
    const int s = 1 << (o.levels - depth - 1);
    for (int i = 0; i < 8; ++i) {
        const int *off = OctreeReader::kSignatureOffsets[i];
        const int cx = x + s * off[0], cy = y + s * off[1], cz = z + s * off[2];
        if (bits & (1u << i)) {
            if (depth + 1 >= o.levels)
                refuse(in.name, "the signature goes deeper than %d levels", o.levels);
            walkSignature(in, o, pos, depth + 1, cx, cy, cz);
        } else {
            addLeaf(o, depth + 1, cx, cy, cz);
        }
    }
}

void readDataItems(Cursor &in, OctreeData &o)
{
    const int count = in.get<int32_t>("data item count");
    if (count < 0 || static_cast<size_t>(count) > in.remaining() / kDataItemHead)
        refuse(in.name, "%d data items, more than the file holds", count);
    if (count == 0)
        return;
    // DataItem reads its record through a stream: hand it the rest of the file.
    FILE *f = fmemopen(const_cast<unsigned char *>(in.here()), in.remaining(), "rb");
    if (!f)
        refuse(in.name, "no memory for the data items");
    std::unique_ptr<FILE, int (*)(FILE *)> closer(f, std::fclose);
    o.dataItems.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        DataItem &item = o.dataItems[static_cast<size_t>(i)];
        if (!item.read(f, in.swap ? 1 : 0))
            refuse(in.name, "data item %d is cut short or broken", i);
        if (item.getNElements() < o.nLeaves)
            refuse(in.name, "data item \"%s\" holds %d values for %d leaves", item.getName(), item.getNElements(),
                   o.nLeaves);
    }
}

void readOCTVersion2(Cursor &in, OctreeData &o)
{
    o.kind = OctreeData::OCT_V2;
    checkLevels(in, o.levels, 1);
    const int length = in.get<int32_t>("signature length");
    if (length <= 0 || static_cast<size_t>(length) > in.remaining())
        refuse(in.name, "a signature of %d bytes, the file holds %zu", length, in.remaining());
    o.signature.assign(in.here(), in.here() + length);
    in.skip(static_cast<size_t>(length));
    allocateDepths(o);
    o.order.assign(static_cast<size_t>(o.levels) + 1, {});
    size_t pos = 0;
    walkSignature(in, o, pos, 0, 0, 0, 0);
    readDataItems(in, o);
}

void parseOCT(Cursor &in, OctreeData &o)
{
    readMarker(in, o);
    readHeader(in, o);
    const int n = in.get<int32_t>("leaf count");
    if (n == -1) {
        readOCTVersion2(in, o);
        return;
    }
    o.kind = OctreeData::OCT_V1;
    checkLevels(in, o.levels, 0);
    allocateDepths(o);
    readLevels(in, o, n, 1);
    o.dataItems.emplace_back().init("Total correlation");
}

void parseVOC(Cursor &in, OctreeData &o)
{
    o.kind = OctreeData::VOC;
    readMarker(in, o);
    readHeader(in, o);
    checkLevels(in, o.levels, 0);
    msg::note("reading a %d-level v-octree\n", o.levels);
    msg::note("[dx=%f dy=%f dz=%f]\n", o.voxelSize[0], o.voxelSize[1], o.voxelSize[2]);
    msg::note("[tx=%f ty=%f tz=%f]\n", o.origin[0], o.origin[1], o.origin[2]);
    allocateDepths(o);
    for (int depth = o.levels; depth >= 0; --depth) {
        if (in.remaining() < sizeof(int32_t))
            break;
        readLevel(in, o, depth, in.get<int32_t>("leaf count"), 3);
    }
    o.dataItems.emplace_back().init("GVF");
}

void parseDN(Cursor &in, OctreeData &o)
{
    o.kind = OctreeData::DN;
    float lo[3], hi[3];
    in.getFloats(lo, 3, "minimum corner");
    in.getFloats(hi, 3, "maximum corner");
    checkFinite(in, lo, 3, "minimum corner");
    checkFinite(in, hi, 3, "maximum corner");
    const int nodes = in.get<int32_t>("node count");
    if (nodes <= 0 || static_cast<size_t>(nodes) > in.remaining() / (8 * sizeof(int32_t)))
        refuse(in.name, "%d nodes, more than the file holds", nodes);
    o.nodeTable.resize(static_cast<size_t>(nodes) * 8);
    for (int &e : o.nodeTable)
        e = in.get<int32_t>("node table");
    o.levels = in.get<int32_t>("level count");
    checkLevels(in, o.levels, 1);
    const int points = in.get<int32_t>("point count");
    if (points < 0 || static_cast<size_t>(points) > in.remaining() / (4 * sizeof(float)))
        refuse(in.name, "%d points, more than the file holds", points);

    for (int k = 0; k < 3; ++k) {
        o.origin[k] = lo[k];
        o.voxelSize[k] = (hi[k] - lo[k]) / static_cast<float>(1 << o.levels);
    }

    // Depth-first walk of the node table in child order; a node reached twice (a cycle or a
    // shared child) would make the tree endless or its leaves ambiguous.
    allocateDepths(o);
    o.order.assign(static_cast<size_t>(o.levels) + 1, {});
    std::vector<char> seen(static_cast<size_t>(nodes), 0);
    struct Frame {
        int node, depth, x, y, z, child;
    };
    std::vector<Frame> stack{{0, 0, 0, 0, 0, 0}};
    seen[0] = 1;
    while (!stack.empty()) {
        Frame &f = stack.back();
        if (f.child == 8) {
            stack.pop_back();
            continue;
        }
        const int i = f.child++;
        const int s = 1 << (o.levels - f.depth - 1);
        const int *off = OctreeReader::kNodeTableOffsets[i];
        const int cx = f.x + s * off[0], cy = f.y + s * off[1], cz = f.z + s * off[2];
        const int entry = o.nodeTable[static_cast<size_t>(f.node) * 8 + static_cast<size_t>(i)];
        if (entry <= 0) {
            addLeaf(o, f.depth + 1, cx, cy, cz);
            continue;
        }
        if (entry >= nodes)
            refuse(in.name, "node %d names child node %d of %d", f.node, entry, nodes);
        if (seen[static_cast<size_t>(entry)])
            refuse(in.name, "node %d is reached twice", entry);
        if (f.depth + 1 >= o.levels)
            refuse(in.name, "the node table goes deeper than %d levels", o.levels);
        seen[static_cast<size_t>(entry)] = 1;
        const Frame child{entry, f.depth + 1, cx, cy, cz, 0};
        stack.push_back(child);
    }
    if (points < o.nLeaves)
        refuse(in.name, "%d points for %d leaves", points, o.nLeaves);

    const char *names[4] = {"Distance", "Normal X", "Normal Y", "Normal Z"};
    o.dataItems.resize(4);
    for (int k = 0; k < 4; ++k)
        o.dataItems[static_cast<size_t>(k)].init(names[k], points);
    for (int p = 0; p < points; ++p) {
        float rec[4];
        in.getFloats(rec, 4, "points");
        // Records hold the normal first, then the distance.
        o.dataItems[0].data[p] = rec[3];
        for (int k = 0; k < 3; ++k)
            o.dataItems[static_cast<size_t>(k) + 1].data[p] = rec[k];
    }
    for (DataItem &item : o.dataItems)
        item.computeDataLimits();
}

// Every format reads one record through a cursor that refuses to go past the bytes.
using FormatBody = void (*)(Cursor &, OctreeData &);

OctreeData parse(FormatBody format, const unsigned char *data, size_t size, const char *name)
{
    Cursor in(data, size, name);
    OctreeData o;
    format(in, o);
    return o;
}

OctreeData parseFile(FormatBody format, const char *path)
{
    const std::vector<unsigned char> bytes = readWholeFile(path);
    return parse(format, bytes.data(), bytes.size(), path);
}

} // namespace

OctreeData OctreeReader::read(const char *path)
{
    const char *dot = path ? std::strrchr(path, '.') : nullptr;
    if (!dot)
        throw std::runtime_error("file name error");
    const char *ext = dot + 1;
    if (std::strncmp(ext, "dn", 2) == 0)
        return readDN(path);
    if (std::strncmp(ext, "oct", 3) == 0)
        return readOCT(path);
    if (std::strncmp(ext, "voc", 3) == 0)
        return readVOC(path);
    throw std::runtime_error("unknown format");
}

OctreeData OctreeReader::readOCT(const char *path) { return parseFile(parseOCT, path); }

OctreeData OctreeReader::readOCT(const unsigned char *data, size_t size, const char *name)
{
    return parse(parseOCT, data, size, name);
}

OctreeData OctreeReader::readVOC(const char *path) { return parseFile(parseVOC, path); }

OctreeData OctreeReader::readVOC(const unsigned char *data, size_t size, const char *name)
{
    return parse(parseVOC, data, size, name);
}

OctreeData OctreeReader::readDN(const char *path) { return parseFile(parseDN, path); }

OctreeData OctreeReader::readDN(const unsigned char *data, size_t size, const char *name)
{
    return parse(parseDN, data, size, name);
}
