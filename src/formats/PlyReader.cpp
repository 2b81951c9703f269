#include "formats/PlyReader.h"
#include "formats/MappedFile.h"
#include "formats/ReadRefusal.h"

#include "formats/PlyCloudCells.h"
#include "formats/PlyHeader.h"
#include "formats/PlyValues.h"
#include "formats/TextScanner.h"
#include "math/Parallel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

constexpr QuietRefusal fail{"PLY: "};

// The body, one value at a time, in either encoding. Every read checks the bytes left.
class Body {
public:
    Body(const char *data, size_t size, size_t offset, PlyHeader::Format format)
        : p(data + std::min(offset, size)), end(data + size), ascii(format == PlyHeader::ASCII),
          swap(PlyValues::swapped(format))
    {
    }

    const char *position() const { return p; }
    /// The body is a private mapping of the file that the reader may hand back page by page.
    void setMapped(bool on) { mapped = on; released = p; }
    bool isMapped() const { return mapped; }
    /// Hands the pages before `upTo` back to the system when the body is a mapping: they
    /// would otherwise stay resident beside the arrays made from them.
    void release(const char *upTo)
    {
        if (!mapped)
            return;
        PlyCloudCells::releasePages(released, upTo);
        released = upTo;
    }
    void rewind(const char *at) { p = at; }
    bool swapped() const { return swap; }
    /// Steps over n bytes the caller has checked are there.
    void advance(size_t n) { p += n; }
    size_t remaining() const { return static_cast<size_t>(end - p); }
    bool isAscii() const { return ascii; }

    double value(PlyHeader::Type t)
    {
        if (ascii)
            return text();
        const size_t n = PlyValues::size(t);
        if (remaining() < n)
            fail("the file ends before the values its header announces");
        const double v = PlyValues::decode(p, t, swap);
        p += n;
        return v;
    }

    /// A list length: a whole number from 0 to INT_MAX.
    int length(PlyHeader::Type t, const std::string &element)
    {
        const double n = value(t);
        if (!(n >= 0) || n > INT_MAX || n != std::floor(n))
            fail("bad list length in element \"" + element + "\"");
        return static_cast<int>(n);
    }

    void skip(PlyHeader::Type t, long long n)
    {
        if (ascii) {
            for (long long i = 0; i < n; ++i)
                if (!PlyValues::skipWord(p, end))
                    fail("the file ends before the values its header announces");
            return;
        }
        const double bytes = static_cast<double>(n) * static_cast<double>(PlyValues::size(t));
        if (bytes > static_cast<double>(remaining()))
            fail("the file ends inside a list");
        p += static_cast<size_t>(bytes);
    }

private:
    double text()
    {
        if (!PlyValues::toWord(p, end))
            fail("the file ends before the values its header announces");
        const char *word = p;
        double v = 0;
        if (PlyValues::number(p, end, v) != PlyValues::NUMBER) {
            const char *stop = word;
            while (stop < end && !TextScanner::isSpace(*stop) && stop - word < 32)
                ++stop;
            fail("\"" + std::string(word, stop) + "\" is no number");
        }
        return v;
    }

    const char *p;
    const char *end;
    bool ascii;
    bool swap;
    bool mapped = false;
    const char *released = nullptr;
};

void skipElement(Body &body, const PlyHeader::Element &e)
{
    if (e.properties.empty())
        return;
    for (long long k = 0; k < e.count; ++k) {
        if (body.remaining() == 0)
            fail("the file ends inside element \"" + e.name + "\"");
        for (const PlyHeader::Property &p : e.properties) {
            if (p.isList)
                body.skip(p.type, body.length(p.countType, e.name));
            else
                body.skip(p.type, 1);
        }
    }
}

int find(const PlyHeader::Element &e, std::initializer_list<const char *> names, bool list = false)
{
    for (const char *n : names)
        for (size_t i = 0; i < e.properties.size(); ++i)
            if (e.properties[i].name == n && e.properties[i].isList == list)
                return static_cast<int>(i);
    return -1;
}

unsigned char colourByte(double v, PlyHeader::Type t)
{
    if (t == PlyHeader::FLOAT32 || t == PlyHeader::FLOAT64)
        v *= 255.0;
    v = std::round(v);
    // Written so that NaN gives 0: it compares false with everything.
    return static_cast<unsigned char>(!(v > 0) ? 0 : v >= 255 ? 255 : v);
}

// Roles of the vertex properties.
enum Role : int { SKIP, X, Y, Z, RED, GREEN, BLUE, U, V, SCALAR };

// What each vertex property is for, by its name.
struct VertexRoles {
    std::vector<int> role, slot; ///< a property's role, and a scalar's data item
    int ix, iy, iz, ir, ig, ib;  ///< the properties of the coordinates and the colours
    bool colours, texCoords;
    int nScalars = 0;

    explicit VertexRoles(const PlyHeader::Element &e)
        : role(e.properties.size(), SKIP), slot(e.properties.size(), -1), ix(find(e, {"x"})), iy(find(e, {"y"})),
          iz(find(e, {"z"})), ir(find(e, {"red", "r", "diffuse_red"})), ig(find(e, {"green", "g", "diffuse_green"})),
          ib(find(e, {"blue", "b", "diffuse_blue"})), colours(ir >= 0 && ig >= 0 && ib >= 0)
    {
        if (ix < 0 || iy < 0 || iz < 0)
            fail("the vertices have no x, y and z");
        set({{ix, X}, {iy, Y}, {iz, Z}});
        if (colours)
            set({{ir, RED}, {ig, GREEN}, {ib, BLUE}});
        const int iu = find(e, {"u", "s", "texture_u", "texture_s"}), iv = find(e, {"v", "t", "texture_v", "texture_t"});
        texCoords = iu >= 0 && iv >= 0;
        if (texCoords)
            set({{iu, U}, {iv, V}});
        for (size_t i = 0; i < e.properties.size(); ++i)
            if (!e.properties[i].isList && !PlyHeader::isGeometryProperty(e.properties[i].name)) {
                role[i] = SCALAR;
                slot[i] = nScalars++;
            }
    }
    void set(std::initializer_list<std::pair<int, Role>> properties)
    {
        for (const auto &[property, r] : properties)
            role[static_cast<size_t>(property)] = r;
    }
};

struct Vertices {
    int n = 0;
    PointBounds bounds;     ///< of xyz, when hasBounds
    bool hasBounds = false;
    LargeArray<float> xyz;
    LargeArray<unsigned char> rgb;
    LargeArray<float> uv;
    std::vector<DataItem> scalars;
    PointCellOrder cellOrder; ///< when the points were stored grouped by cells
    /// Double coordinates of a cloud are kept in float relative to `origin` (the first point's,
    /// rounded), so that a georeferenced cloud keeps its centimetres.
    bool keepOrigin = false;
    bool originSet[3] = {false, false, false};
    double origin[3] = {0, 0, 0};
};

// A coordinate of axis `axis` as stored: relative to the origin when the cloud keeps one.
float coordinate(Vertices &out, int axis, double value)
{
    if (out.keepOrigin) {
        if (!out.originSet[axis]) {
            out.originSet[axis] = true;
            out.origin[axis] = std::isfinite(value) ? std::round(value) : 0;
        }
        value -= out.origin[axis];
    }
    return static_cast<float>(value);
}

// Checks the count of vertices against the rest of the file, then makes their arrays.
void allocateVertices(const Body &body, const PlyHeader::Element &e, const VertexRoles &r, Vertices &out)
{
    // Every vertex takes at least a byte a property (a digit and its separator in text):
    // a count the rest of the file cannot hold is refused before anything is allocated.
    size_t minBytes = 0;
    for (const PlyHeader::Property &p : e.properties)
        minBytes += body.isAscii() ? 2 : p.isList ? PlyValues::size(p.countType) : PlyValues::size(p.type);
    if (e.count > INT_MAX / 3 || static_cast<double>(e.count) * static_cast<double>(minBytes) >
                                     static_cast<double>(body.remaining()) + 1)
        fail("the file is too short for " + std::to_string(e.count) + " vertices");
    out.n = static_cast<int>(e.count);
    const size_t nn = static_cast<size_t>(out.n);
    out.xyz = allocateLargeArray<float>(3 * nn);
    if (r.colours)
        out.rgb = allocateLargeArray<unsigned char>(3 * nn);
    if (r.texCoords)
        out.uv = allocateLargeArray<float>(2 * nn);
    out.scalars.reserve(static_cast<size_t>(r.nScalars));
    for (size_t i = 0; i < e.properties.size(); ++i)
        if (r.role[i] == SCALAR)
            out.scalars.emplace_back(e.properties[i].name.c_str(), out.n);
}

// Stores the value of a property of vertex k by its role.
void store(Vertices &out, const VertexRoles &r, size_t i, size_t k, double value, PlyHeader::Type t)
{
    switch (r.role[i]) {
    case X: out.xyz[3 * k] = coordinate(out, 0, value); break;
    case Y: out.xyz[3 * k + 1] = coordinate(out, 1, value); break;
    case Z: out.xyz[3 * k + 2] = coordinate(out, 2, value); break;
    case RED: out.rgb[3 * k] = colourByte(value, t); break;
    case GREEN: out.rgb[3 * k + 1] = colourByte(value, t); break;
    case BLUE: out.rgb[3 * k + 2] = colourByte(value, t); break;
    case U: out.uv[2 * k] = static_cast<float>(value); break;
    case V: out.uv[2 * k + 1] = static_cast<float>(value); break;
    case SCALAR: out.scalars[static_cast<size_t>(r.slot[i])].data[k] = static_cast<float>(value); break;
    default: break;
    }
}

// The pages of a mapping go back in large steps: each hand-back stops the other processor to
// forget them.
size_t pointsPerRelease(size_t stride) { return std::max<size_t>(1, (size_t(32) << 20) / std::max<size_t>(1, stride)); }

// The common dense cloud: float coordinates first, byte colours at rgbAt, nothing else kept.
// In two halves on two threads from a million points on: most of the time goes to the first
// touch of the arrays' fresh memory, which the system serves to both processors at once.
void readPlainCloud(const char *base, size_t stride, const size_t rgbAt[3], bool mapped, Vertices &out)
{
    const size_t nn = static_cast<size_t>(out.n);
    PointBounds halves[2];
    Parallel::split(nn, nn >= 1000000 ? 2 : 1, [&](unsigned half, size_t first, size_t last) {
        // Copies, so that the stores of colour bytes cannot be taken for changes to them.
        const char *const records = base;
        const size_t step = stride, r = rgbAt[0], g = rgbAt[1], b = rgbAt[2];
        const size_t pointsPerStep = pointsPerRelease(step);
        float *const xyz = out.xyz.get();
        unsigned char *const rgb = out.rgb.get();
        PointBounds &box = halves[half];
        for (size_t from = first; from < last; from += pointsPerStep) {
            const size_t to = std::min(last, from + pointsPerStep);
            for (size_t k = from; k < to; ++k) {
                const char *at = records + k * step;
                std::memcpy(xyz + 3 * k, at, 12);
                rgb[3 * k] = PlyValues::load<uint8_t>(at + r);
                rgb[3 * k + 1] = PlyValues::load<uint8_t>(at + g);
                rgb[3 * k + 2] = PlyValues::load<uint8_t>(at + b);
            }
            box.addPoints(xyz + 3 * from, 3 * (to - from));
            if (mapped)
                PlyCloudCells::releasePages(records + from * step, records + to * step);
        }
    });
    for (int k = 0; k < 3; ++k) {
        out.bounds.lo[k] = std::min(halves[0].lo[k], halves[1].lo[k]);
        out.bounds.hi[k] = std::max(halves[0].hi[k], halves[1].hi[k]);
    }
    out.hasBounds = true;
}

// Binary vertices of one size, `stride` bytes with the properties at `offset`: decoded in
// place, the size checked once.
void readFixedVertices(Body &body, const PlyHeader::Element &e, const VertexRoles &r,
                       const std::vector<size_t> &offset, size_t stride, size_t groupFrom, Vertices &out)
{
    const size_t nn = static_cast<size_t>(out.n);
    if (static_cast<double>(stride) * static_cast<double>(nn) > static_cast<double>(body.remaining()))
        fail("the file is too short for " + std::to_string(e.count) + " vertices");
    const char *base = body.position();
    const bool swap = body.swapped();
    const auto typeOf = [&e](int i) { return e.properties[static_cast<size_t>(i)].type; };
    const bool plainXYZ = !swap && r.ix == 0 && r.iy == 1 && r.iz == 2 && typeOf(0) == PlyHeader::FLOAT32 &&
                          typeOf(1) == PlyHeader::FLOAT32 && typeOf(2) == PlyHeader::FLOAT32;
    bool plainCloud = plainXYZ && r.colours && !r.texCoords && r.nScalars == 0;
    for (int i : {r.ir, r.ig, r.ib})
        plainCloud = plainCloud && typeOf(i) == PlyHeader::UINT8;
    if (plainCloud) {
        const size_t rgbAt[3] = {offset[static_cast<size_t>(r.ir)], offset[static_cast<size_t>(r.ig)],
                                 offset[static_cast<size_t>(r.ib)]};
        if (groupFrom > 0 && nn >= groupFrom && 15 * nn <= PointLodCells::kSpillBytes) {
            out.cellOrder = PlyCloudCells::read(base, stride, rgbAt, nn, body.isMapped(), out.xyz.get(),
                                                out.rgb.get(), out.bounds);
            out.hasBounds = true;
        } else {
            readPlainCloud(base, stride, rgbAt, body.isMapped(), out);
        }
        body.advance(stride * nn);
        return;
    }
    const size_t np = e.properties.size(), pointsPerStep = pointsPerRelease(stride);
    for (size_t k = 0; k < nn; ++k) {
        const char *at = base + k * stride;
        if (k % pointsPerStep == 0)
            body.release(at);
        if (plainXYZ)
            std::memcpy(&out.xyz[3 * k], at, 12);
        for (size_t i = plainXYZ ? 3 : 0; i < np; ++i)
            if (r.role[i] != SKIP)
                store(out, r, i, k, PlyValues::decode(at + offset[i], e.properties[i].type, swap),
                      e.properties[i].type);
    }
    body.advance(stride * nn);
}

// Vertices in text, or with lists: value by value.
void readVariableVertices(Body &body, const PlyHeader::Element &e, const VertexRoles &r, Vertices &out)
{
    const size_t nn = static_cast<size_t>(out.n), np = e.properties.size();
    for (size_t k = 0; k < nn; ++k)
        for (size_t i = 0; i < np; ++i) {
            const PlyHeader::Property &p = e.properties[i];
            if (p.isList)
                body.skip(p.type, body.length(p.countType, e.name));
            else if (r.role[i] == SKIP)
                body.skip(p.type, 1);
            else
                store(out, r, i, k, body.value(p.type), p.type);
        }
}

void readVertices(Body &body, const PlyHeader::Element &e, size_t groupFrom, bool cloud, Vertices &out)
{
    const VertexRoles roles(e);
    allocateVertices(body, e, roles, out);
    out.keepOrigin = cloud;
    for (int i : {roles.ix, roles.iy, roles.iz})
        out.keepOrigin = out.keepOrigin && e.properties[static_cast<size_t>(i)].type == PlyHeader::FLOAT64;
    bool fixed = !body.isAscii();
    size_t stride = 0;
    std::vector<size_t> offset(e.properties.size());
    for (size_t i = 0; i < e.properties.size(); ++i) {
        fixed = fixed && !e.properties[i].isList;
        offset[i] = stride;
        stride += PlyValues::size(e.properties[i].type);
    }
    if (fixed)
        readFixedVertices(body, e, roles, offset, stride, groupFrom, out);
    else
        readVariableVertices(body, e, roles, out);
    for (DataItem &d : out.scalars)
        d.computeDataLimits();
}

struct Faces {
    int nTriangles = 0;
    LargeArray<int> triangles;
    LargeArray<float> texCoords;   ///< 6 a triangle, from a "texcoord" list
    std::vector<int> image;        ///< a triangle's "texnumber"
};

uint32_t loadIndex(const char *at, bool swap) { return PlyValues::load<uint32_t>(at, swap); }

// The common binary face element: nothing but a list of 32-bit indices with a byte for its
// length. Two passes over the bytes: count (and check the lists fit), then store.
void readIndexLists(Body &body, const PlyHeader::Element &e, int nVertices, Faces &out)
{
    const unsigned char *const start = reinterpret_cast<const unsigned char *>(body.position());
    const unsigned char *const end = start + body.remaining();
    const unsigned char *p = start;
    long long triangles = 0;
    for (long long k = 0; k < e.count; ++k) {
        if (p == end)
            fail("the file ends inside element \"" + e.name + "\"");
        const unsigned n = *p;
        if (static_cast<size_t>(end - p) < 1 + 4 * static_cast<size_t>(n))
            fail("the file ends inside a list");
        if (n >= 3)
            triangles += n - 2;
        p += 1 + 4 * static_cast<size_t>(n);
    }
    if (triangles > INT_MAX / 6)
        fail("too many triangles (" + std::to_string(triangles) + ")");
    out.nTriangles = static_cast<int>(triangles);
    body.advance(static_cast<size_t>(p - start));
    if (triangles == 0)
        return;
    out.triangles = allocateLargeArray<int>(3 * static_cast<size_t>(triangles));
    const bool swap = body.swapped();
    const uint32_t limit = static_cast<uint32_t>(nVertices);
    int *tri = out.triangles.get();
    p = start;
    for (long long k = 0; k < e.count; ++k) {
        const unsigned n = *p++;
        const char *idx = reinterpret_cast<const char *>(p);
        p += 4 * static_cast<size_t>(n);
        if (n < 3)
            continue;
        const uint32_t first = loadIndex(idx, swap);
        uint32_t prev = loadIndex(idx + 4, swap);
        // Unsigned, so a negative index of an "int" list is out of range too.
        if (first >= limit || prev >= limit)
            fail("face " + std::to_string(k) + " names vertex " + std::to_string(static_cast<int32_t>(
                                                                         first >= limit ? first : prev)) +
                 " of " + std::to_string(nVertices));
        for (unsigned c = 2; c < n; ++c) {
            const uint32_t next = loadIndex(idx + 4 * c, swap);
            if (next >= limit)
                fail("face " + std::to_string(k) + " names vertex " + std::to_string(static_cast<int32_t>(next)) +
                     " of " + std::to_string(nVertices));
            tri[0] = static_cast<int>(first);
            tri[1] = static_cast<int>(prev);
            tri[2] = static_cast<int>(next);
            tri += 3;
            prev = next;
        }
    }
}

// Two passes: the first checks every list and counts the triangles, the second stores them.
void readFaces(Body &body, const PlyHeader::Element &e, int nVertices, Faces &out)
{
    const int ii = find(e, {"vertex_indices", "vertex_index"}, true);
    const int it = find(e, {"texcoord"}, true);
    const int in = find(e, {"texnumber"});
    const char *start = body.position();
    const PlyHeader::Type indexType = ii >= 0 ? e.properties[static_cast<size_t>(ii)].type : PlyHeader::INT32;
    if (!body.isAscii() && ii == 0 && e.properties.size() == 1 &&
        e.properties[0].countType == PlyHeader::UINT8 &&
        (indexType == PlyHeader::INT32 || indexType == PlyHeader::UINT32)) {
        readIndexLists(body, e, nVertices, out);
        return;
    }
    long long triangles = 0;
    for (long long k = 0; k < e.count; ++k) {
        if (body.remaining() == 0)
            fail("the file ends inside element \"" + e.name + "\"");
        for (size_t i = 0; i < e.properties.size(); ++i) {
            const PlyHeader::Property &p = e.properties[i];
            if (!p.isList) {
                body.skip(p.type, 1);
                continue;
            }
            const int len = body.length(p.countType, e.name);
            if (static_cast<int>(i) == ii && len >= 3)
                triangles += len - 2;
            body.skip(p.type, len);
        }
    }
    if (triangles > INT_MAX / 6)
        fail("too many triangles (" + std::to_string(triangles) + ")");
    out.nTriangles = static_cast<int>(triangles);
    if (triangles == 0)
        return;
    const size_t nt = static_cast<size_t>(triangles);
    out.triangles = allocateLargeArray<int>(3 * nt);
    if (it >= 0) {
        out.texCoords = allocateLargeArray<float>(6 * nt);
        std::fill(out.texCoords.get(), out.texCoords.get() + 6 * nt, 0.0f);
    }
    if (in >= 0)
        out.image.assign(nt, 0);

    body.rewind(start);
    std::vector<int> corners;
    std::vector<float> uv;
    size_t t = 0;
    for (long long k = 0; k < e.count; ++k) {
        corners.clear();
        uv.clear();
        int texnumber = 0;
        for (size_t i = 0; i < e.properties.size(); ++i) {
            const PlyHeader::Property &p = e.properties[i];
            if (!p.isList) {
                if (static_cast<int>(i) == in) {
                    const double v = body.value(p.type);
                    texnumber = v >= 0 && v < INT_MAX ? static_cast<int>(v) : -1;
                } else {
                    body.skip(p.type, 1);
                }
                continue;
            }
            const int len = body.length(p.countType, e.name);
            if (static_cast<int>(i) == ii) {
                for (int c = 0; c < len; ++c) {
                    const double v = body.value(p.type);
                    if (!(v >= 0) || v >= nVertices || v != std::floor(v))
                        fail("face " + std::to_string(k) + " names vertex " + std::to_string(v) + " of " +
                             std::to_string(nVertices));
                    corners.push_back(static_cast<int>(v));
                }
            } else if (static_cast<int>(i) == it) {
                for (int c = 0; c < len; ++c)
                    uv.push_back(static_cast<float>(body.value(p.type)));
            } else {
                body.skip(p.type, len);
            }
        }
        if (corners.size() < 3)
            continue;
        const bool withUV = out.texCoords && uv.size() == 2 * corners.size();
        for (size_t c = 1; c + 1 < corners.size(); ++c, ++t) {
            const size_t fan[3] = {0, c, c + 1};
            for (int j = 0; j < 3; ++j) {
                out.triangles[3 * t + static_cast<size_t>(j)] = corners[fan[j]];
                if (withUV) {
                    out.texCoords[6 * t + 2 * static_cast<size_t>(j)] = uv[2 * fan[j]];
                    out.texCoords[6 * t + 2 * static_cast<size_t>(j) + 1] = 1.0f - uv[2 * fan[j] + 1];
                }
            }
            if (!out.image.empty())
                out.image[t] = texnumber;
        }
    }
}

// A file written from a triangle soup gives every corner a vertex of its own; such a mesh
// would be shaded flat and have no edges to walk. Vertices equal in position, colour and
// every data value are joined (the per-triangle texture coordinates are not affected). The
// vertices are sorted by those values, so the memory taken is three indices a vertex.
void joinUnsharedVertices(MeshData &g)
{
    const size_t nv = static_cast<size_t>(g.nVertices), nt = static_cast<size_t>(g.nTriangles);
    if (nv < 3 * nt || nt < 2)
        return;
    // Bit patterns, so that equal means identical and the order is total.
    const auto compare = [&g](int a, int b) {
        const int c = std::memcmp(&g.vertices[3 * static_cast<size_t>(a)], &g.vertices[3 * static_cast<size_t>(b)], 12);
        if (c != 0 || !g.colors)
            return c;
        return std::memcmp(&g.colors[3 * static_cast<size_t>(a)], &g.colors[3 * static_cast<size_t>(b)], 3);
    };
    const auto sameData = [&g](int a, int b) {
        for (const DataItem &d : g.dataItems)
            if (std::memcmp(&d.data[a], &d.data[b], 4) != 0)
                return false;
        return true;
    };
    std::vector<int> order(nv);
    for (size_t i = 0; i < nv; ++i)
        order[i] = static_cast<int>(i);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        const int c = compare(a, b);
        if (c != 0)
            return c < 0;
        for (const DataItem &d : g.dataItems) {
            const int e = std::memcmp(&d.data[a], &d.data[b], 4);
            if (e != 0)
                return e < 0;
        }
        return a < b;
    });
    // Each vertex stands for itself or for the first equal one (the lowest index).
    std::vector<int> rep(nv);
    for (size_t k = 0; k < nv; ++k) {
        const int v = order[k];
        const bool same = k > 0 && compare(order[k - 1], v) == 0 && sameData(order[k - 1], v);
        rep[static_cast<size_t>(v)] = same ? rep[static_cast<size_t>(order[k - 1])] : v;
    }
    std::vector<int> &newIndex = order; // reused: the sorted order is no longer needed
    int kept = 0;
    for (size_t i = 0; i < nv; ++i) {
        if (rep[i] != static_cast<int>(i)) {
            newIndex[i] = newIndex[static_cast<size_t>(rep[i])];
            continue;
        }
        // Kept vertices move down in place: the target never lies beyond the source.
        const size_t to = static_cast<size_t>(kept);
        std::memmove(&g.vertices[3 * to], &g.vertices[3 * i], 12);
        if (g.colors)
            std::memmove(&g.colors[3 * to], &g.colors[3 * i], 3);
        for (DataItem &d : g.dataItems)
            d.data[to] = d.data[i];
        newIndex[i] = kept++;
    }
    if (static_cast<size_t>(kept) == nv)
        return;
    for (size_t c = 0; c < 3 * nt; ++c)
        g.triangles[c] = newIndex[static_cast<size_t>(g.triangles[c])];
    g.nVertices = kept;
    for (DataItem &d : g.dataItems)
        d.nElements = kept;
}

} // namespace

ForeignModel PlyReader::read(const char *path, size_t groupFrom)
{
    const MappedFile file(path, fail);
    const std::string p = path;
    const size_t slash = p.find_last_of('/');
    return readModel(file.base, file.length, slash == std::string::npos ? "" : p.substr(0, slash), true, groupFrom);
}

ForeignModel PlyReader::read(const char *data, size_t size, const std::string &folder, size_t groupFrom)
{
    return readModel(data, size, folder, false, groupFrom);
}

ForeignModel PlyReader::readModel(const char *data, size_t size, const std::string &folder, bool mapped,
                                  size_t groupFrom)
{
    if (!data || size == 0)
        fail("the file is empty");
    const PlyHeader h = PlyHeader::parse(data, size);
    const PlyHeader::Element *vertexElement = h.element("vertex");
    if (!vertexElement || vertexElement->count == 0)
        fail("the file has no vertices");
    const PlyHeader::Element *faceElement = h.element("face");
    // Only a cloud: the faces of a mesh number its vertices in the file's order.
    const bool cloud = !faceElement || faceElement->count == 0;
    if (!cloud)
        groupFrom = 0;

    Body body(data, size, h.bodyOffset, h.format);
    body.setMapped(mapped);
    Vertices v;
    Faces f;
    bool verticesRead = false;
    for (const PlyHeader::Element &e : h.elements) {
        if (&e == vertexElement) {
            readVertices(body, e, groupFrom, cloud, v);
            verticesRead = true;
        } else if (&e == faceElement && verticesRead) {
            readFaces(body, e, v.n, f);
        } else if (&e == faceElement) {
            // Faces before their vertices cannot be checked as they are read.
            fail("the faces come before the vertices");
        } else {
            skipElement(body, e);
        }
    }

    ForeignModel model;
    const size_t nv = static_cast<size_t>(v.n);
    if (f.nTriangles == 0) {
        model.isPointCloud = true;
        model.points.nPoints = v.n;
        model.points.points = std::move(v.xyz);
        std::copy(v.origin, v.origin + 3, model.points.origin);
        if (v.hasBounds)
            model.points.bounds = v.bounds;
        model.points.cellOrder = std::move(v.cellOrder);
        size_t scalar = 0;
        if (v.rgb) {
            model.points.colors = std::move(v.rgb);
        } else if (!v.scalars.empty()) {
            const DataItem &first = v.scalars.front();
            model.points.values = allocateLargeArray<float>(nv);
            std::copy(first.getData(), first.getData() + nv, model.points.values.get());
            model.valueName = first.getName();
            scalar = 1;
        }
        // Every other property of the points is a value of theirs as well (a reconstruction's
        // confidence, a scan's intensity, what this program saved of a cloud).
        for (; scalar < v.scalars.size(); ++scalar) {
            const DataItem &property = v.scalars[scalar];
            PointValueItem item;
            item.name = property.getName();
            item.values = allocateLargeArray<float>(nv);
            std::copy(property.getData(), property.getData() + nv, item.values.get());
            item.lo = std::numeric_limits<float>::infinity();
            item.hi = -item.lo;
            for (size_t i = 0; i < nv; ++i)
                if (std::isfinite(item.values[i])) {
                    item.lo = std::min(item.lo, item.values[i]);
                    item.hi = std::max(item.hi, item.values[i]);
                }
            model.points.items.push_back(std::move(item));
        }
        return model;
    }

    MeshData &g = model.mesh;
    g.nVertices = v.n;
    g.nTriangles = f.nTriangles;
    g.vertices = std::move(v.xyz);
    g.triangles = std::move(f.triangles);
    if (v.rgb || !v.scalars.empty()) {
        // One array: the file's colours, and the room the data drawing paints into.
        g.colors.reset(new unsigned char[3 * nv]());
        if (v.rgb)
            std::memcpy(g.colors.get(), v.rgb.get(), 3 * nv);
        g.colorsFromFile = v.rgb != nullptr;
    }
    g.dataItems = std::move(v.scalars);

    // Texture coordinates count only with an image to map.
    const std::vector<std::string> names = h.textureFiles();
    const size_t nt = static_cast<size_t>(f.nTriangles);
    if (!names.empty() && (f.texCoords || v.uv)) {
        if (f.texCoords) {
            g.texCoords = std::move(f.texCoords);
        } else {
            g.texCoords = allocateLargeArray<float>(6 * nt);
            for (size_t c = 0; c < 3 * nt; ++c) {
                const size_t vi = static_cast<size_t>(g.triangles[c]);
                g.texCoords[2 * c] = v.uv[2 * vi];
                g.texCoords[2 * c + 1] = 1.0f - v.uv[2 * vi + 1];
            }
        }
        g.texCoordVersion = 3;
        for (std::string name : names) {
            std::replace(name.begin(), name.end(), '\\', '/');
            model.textureImages.push_back(name[0] == '/' || folder.empty() ? name : folder + "/" + name);
        }
        if (names.size() > 1 && !f.image.empty())
            model.triangleImage = std::move(f.image);
    }
    // Last: the coordinates above are looked up by the file's vertex numbers.
    joinUnsharedVertices(g);
    return model;
}
