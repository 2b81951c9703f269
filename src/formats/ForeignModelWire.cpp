#include "formats/ForeignModelWire.h"

#include <stdexcept>

namespace {

// Guards against reading the answer of another build or a stray writer: the groups below
// have no self-description beyond their order.
const uint32_t kModelMark = 0x564d4657; // "WFMV"

// Names and messages are short; a longer one is a broken answer, not a reason to allocate.
const uint64_t kLongestString = 1u << 20;

} // namespace

void WireWriter::string(const std::string &s)
{
    u64(s.size());
    bytes(s.data(), s.size());
}

void WireReader::fail(const std::string &why)
{
    throw std::runtime_error("the import helper's answer is malformed: " + why);
}

void WireReader::need(uint64_t n, size_t size)
{
    if (size != 0 && n > left() / size)
        fail("it names " + std::to_string(n) + " items where " + std::to_string(left()) + " bytes are left");
}

void WireReader::bytes(void *to, size_t size)
{
    if (size > left())
        fail("it is cut short");
    if (size)
        std::memcpy(to, at, size);
    at += size;
}

uint8_t WireReader::u8()
{
    uint8_t v;
    bytes(&v, 1);
    return v;
}

int32_t WireReader::i32()
{
    int32_t v;
    bytes(&v, sizeof v);
    return v;
}

uint64_t WireReader::u64()
{
    uint64_t v;
    bytes(&v, sizeof v);
    return v;
}

float WireReader::f32()
{
    float v;
    bytes(&v, sizeof v);
    return v;
}

std::string WireReader::string()
{
    const uint64_t n = u64();
    if (n > kLongestString)
        fail("a text of " + std::to_string(n) + " bytes");
    need(n, 1);
    std::string s(static_cast<size_t>(n), '\0');
    bytes(&s[0], s.size());
    return s;
}

namespace foreignwire
{

namespace {

int count(WireReader &r, const char *what)
{
    const int32_t n = r.i32();
    if (n < 0)
        WireReader::fail(std::string("a negative ") + what + " count");
    return n;
}

void writeDataItems(WireWriter &w, const std::vector<DataItem> &items)
{
    w.u64(items.size());
    for (const DataItem &d : items) {
        w.string(d.getName());
        w.f32(d.minimum);
        w.f32(d.maximum);
        w.i32(d.nElements);
        w.array(d.getData(), static_cast<size_t>(d.nElements > 0 ? d.nElements : 0));
    }
}

void readDataItems(WireReader &r, std::vector<DataItem> &items, int nVertices)
{
    const uint64_t n = r.u64();
    // Each item takes at least its name's length, three numbers and the array mark.
    r.need(n, 8 + 12 + 1);
    items.resize(static_cast<size_t>(n));
    for (DataItem &d : items) {
        const std::string name = r.string();
        const float lo = r.f32(), hi = r.f32();
        const int nElements = count(r, "data item");
        if (nElements < nVertices)
            WireReader::fail("a data item of " + std::to_string(nElements) + " values for " +
                             std::to_string(nVertices) + " vertices");
        LargeArray<float> values = r.array<float>(static_cast<size_t>(nElements));
        if (!values && nVertices > 0)
            WireReader::fail("a data item without its values");
        d = DataItem(name.c_str(), values.get(), nElements);
        d.minimum = lo;
        d.maximum = hi;
    }
}

} // namespace

void writeKind(WireWriter &w, const ForeignModel &m)
{
    w.u8(m.isPointCloud);
    w.string(m.valueName);
}

void readKind(WireReader &r, ForeignModel &m)
{
    m.isPointCloud = r.u8() != 0;
    m.valueName = r.string();
}

void writeMesh(WireWriter &w, const MeshData &g)
{
    const size_t nv = static_cast<size_t>(g.nVertices > 0 ? g.nVertices : 0);
    const size_t nt = static_cast<size_t>(g.nTriangles > 0 ? g.nTriangles : 0);
    w.i32(g.nVertices);
    w.i32(g.nTriangles);
    w.array(g.vertices.get(), 3 * nv);
    w.array(g.triangles.get(), 3 * nt);
    w.array(g.normals.get(), nv);
    w.array(g.colors.get(), 3 * nv);
    w.u8(g.colorsFromFile);
    w.array(g.vertexTexCoords.get(), 2 * nv);
    w.array(g.texCoords.get(), 6 * nt);
    w.i32(g.texCoordVersion);
    writeDataItems(w, g.dataItems);
    w.u8(g.hasMaterial);
    w.bytes(g.material, sizeof g.material);
    w.u8(g.headerFlags);
    w.u8(static_cast<uint8_t>(g.version));
    w.u8(g.meshType);
}

void readMesh(WireReader &r, MeshData &g)
{
    g.nVertices = count(r, "vertex");
    g.nTriangles = count(r, "triangle");
    const size_t nv = static_cast<size_t>(g.nVertices), nt = static_cast<size_t>(g.nTriangles);
    g.vertices = r.array<float>(3 * nv);
    g.triangles = r.array<int>(3 * nt);
    if ((nv && !g.vertices) || (nt && !g.triangles))
        WireReader::fail("a mesh without its vertices or triangles");
    for (size_t i = 0; i < 3 * nt; ++i)
        if (g.triangles[i] < 0 || static_cast<size_t>(g.triangles[i]) >= nv)
            WireReader::fail("triangle " + std::to_string(i / 3) + " names vertex " + std::to_string(g.triangles[i]) +
                             " of " + std::to_string(nv));
    g.normals = r.array<Point3>(nv);
    LargeArray<unsigned char> colors = r.array<unsigned char>(3 * nv);
    if (colors) {
        g.colors.reset(new unsigned char[3 * nv]);
        std::memcpy(g.colors.get(), colors.get(), 3 * nv);
    }
    g.colorsFromFile = r.u8() != 0;
    g.vertexTexCoords = r.array<float>(2 * nv);
    g.texCoords = r.array<float>(6 * nt);
    g.texCoordVersion = r.i32();
    readDataItems(r, g.dataItems, g.nVertices);
    // Data items paint into the colours: the mesh expects the room for them.
    if (!g.dataItems.empty() && !g.colors) {
        g.colors.reset(new unsigned char[3 * nv]());
        g.colorsFromFile = false;
    }
    g.hasMaterial = r.u8() != 0;
    r.bytes(g.material, sizeof g.material);
    g.headerFlags = r.u8();
    g.version = static_cast<signed char>(r.u8());
    g.meshType = r.u8();
}

void writeTextures(WireWriter &w, const ForeignModel &m)
{
    w.u64(m.textureImages.size());
    for (const std::string &s : m.textureImages)
        w.string(s);
    w.array(m.triangleImage.empty() ? nullptr : m.triangleImage.data(), m.triangleImage.size());
    w.u64(m.embeddedImages.size());
    for (const ForeignModel::EmbeddedImage &e : m.embeddedImages) {
        w.i32(e.texture);
        w.string(e.name);
        w.string(e.mimeType);
        w.u64(e.bytes.size());
        w.bytes(e.bytes.data(), e.bytes.size());
    }
}

void readTextures(WireReader &r, ForeignModel &m)
{
    const uint64_t n = r.u64();
    r.need(n, 8);
    m.textureImages.resize(static_cast<size_t>(n));
    for (std::string &s : m.textureImages)
        s = r.string();
    // One image index per triangle, and only with more than one image.
    const size_t nt = static_cast<size_t>(m.mesh.nTriangles);
    LargeArray<int> images = r.array<int>(nt);
    if (images) {
        m.triangleImage.assign(images.get(), images.get() + nt);
        for (int k : m.triangleImage)
            if (k < 0 || static_cast<uint64_t>(k) >= n)
                WireReader::fail("a triangle names image " + std::to_string(k) + " of " + std::to_string(n));
    }
    // The images the file holds itself, still encoded: each stands for one entry above.
    const uint64_t nEmbedded = r.u64();
    r.need(nEmbedded, 4 + 3 * 8);
    m.embeddedImages.resize(static_cast<size_t>(nEmbedded));
    for (ForeignModel::EmbeddedImage &e : m.embeddedImages) {
        e.texture = r.i32();
        if (e.texture < 0 || static_cast<uint64_t>(e.texture) >= n)
            WireReader::fail("an embedded image stands for image " + std::to_string(e.texture) + " of " +
                             std::to_string(n));
        e.name = r.string();
        e.mimeType = r.string();
        const uint64_t size = r.u64();
        r.need(size, 1);
        e.bytes.resize(static_cast<size_t>(size));
        r.bytes(e.bytes.data(), e.bytes.size());
    }
}

void writePoints(WireWriter &w, const PointListData &p)
{
    const size_t n = static_cast<size_t>(p.nPoints > 0 ? p.nPoints : 0);
    w.i32(p.nPoints);
    w.array(p.points.get(), 3 * n);
    w.array(p.colors.get(), 3 * n);
    w.array(p.values.get(), n);
    w.bytes(p.bounds.lo, sizeof p.bounds.lo);
    w.bytes(p.bounds.hi, sizeof p.bounds.hi);
    w.f32(p.bounds.valueLo);
    w.f32(p.bounds.valueHi);
    w.u64(p.bounds.nUnordered);
    w.string(p.valueName);
}

void readPoints(WireReader &r, PointListData &p)
{
    p.nPoints = count(r, "point");
    const size_t n = static_cast<size_t>(p.nPoints);
    p.points = r.array<float>(3 * n);
    if (n && !p.points)
        WireReader::fail("a point list without its points");
    p.colors = r.array<unsigned char>(3 * n);
    p.values = r.array<float>(n);
    r.bytes(p.bounds.lo, sizeof p.bounds.lo);
    r.bytes(p.bounds.hi, sizeof p.bounds.hi);
    p.bounds.valueLo = r.f32();
    p.bounds.valueHi = r.f32();
    p.bounds.nUnordered = static_cast<size_t>(r.u64());
    p.valueName = r.string();
}

void writeMessages(WireWriter &w, const std::vector<CapturingMessageSink::Entry> &messages)
{
    w.u64(messages.size());
    for (const CapturingMessageSink::Entry &e : messages) {
        w.u8(static_cast<uint8_t>(e.level));
        w.string(e.text);
    }
}

std::vector<CapturingMessageSink::Entry> readMessages(WireReader &r)
{
    const uint64_t n = r.u64();
    r.need(n, 9);
    std::vector<CapturingMessageSink::Entry> messages(static_cast<size_t>(n));
    for (CapturingMessageSink::Entry &e : messages) {
        const uint8_t level = r.u8();
        if (level > static_cast<uint8_t>(MessageLevel::Diagnostic))
            WireReader::fail("a message of level " + std::to_string(level));
        e.level = static_cast<MessageLevel>(level);
        e.text = r.string();
    }
    return messages;
}

void writeModel(WireWriter &w, const ForeignModel &m)
{
    w.bytes(&kModelMark, sizeof kModelMark);
    writeKind(w, m);
    writeMesh(w, m.mesh);
    writeTextures(w, m);
    writePoints(w, m.points);
}

ForeignModel readModel(WireReader &r)
{
    uint32_t mark = 0;
    r.bytes(&mark, sizeof mark);
    if (mark != kModelMark)
        WireReader::fail("it does not start with a model");
    ForeignModel m;
    readKind(r, m);
    readMesh(r, m.mesh);
    readTextures(r, m);
    readPoints(r, m.points);
    return m;
}

} // namespace foreignwire
