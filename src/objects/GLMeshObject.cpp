#include "objects/GLMeshObject.h"

#include "core/GLInterface.h"
#include "core/KeyCodes.h"
#include "image/Stream.h"
#include "objects/ByteOrder.h"
#include "objects/ColorMap.h"
#include "objects/LargeArray.h"
#include "math/Matrix3.h"
#include "math/Quaternion.h"

#include <GL/gl.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <stdexcept>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

// Items per read call. Large arrays are read in slices so that a count never exceeds what
// one call takes, and, where the size of the input is unknown (a download), so that memory
// grows only with the data that really arrives.
constexpr size_t kSliceItems = size_t(1) << 22;

bool hostIsLittleEndian()
{
    const uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// Prints a refusal in the class's message style and raises it.
[[noreturn]] void refuse(const char *format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::printf("GLMeshObject: %s\n", text);
    throw std::runtime_error(text);
}

// The size of a regular file behind `f`, or -1 when it has none (a pipe from a download).
long long regularFileSize(FILE *f)
{
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(st.st_size);
}

// Reads `count` items of type T. With a known input size the array is taken at once (the
// caller has checked that the file holds it); otherwise it grows slice by slice.
template <class T>
bool readArray(ReadFunction reader, FILE *f, size_t count, bool sizeKnown, LargeArray<T> &out)
{
    if (sizeKnown) {
        LargeArray<T> a = allocateLargeArray<T>(count);
        for (size_t done = 0; done < count;) {
            const size_t chunk = std::min(kSliceItems, count - done);
            if (reader(a.get() + done, sizeof(T), static_cast<unsigned>(chunk), f) != chunk)
                return false;
            done += chunk;
        }
        out = std::move(a);
        return true;
    }
    std::vector<T> grown;
    while (grown.size() < count) {
        const size_t at = grown.size();
        const size_t chunk = std::min(kSliceItems, count - at);
        grown.resize(at + chunk);
        if (reader(grown.data() + at, sizeof(T), static_cast<unsigned>(chunk), f) != chunk)
            return false;
    }
    LargeArray<T> a = allocateLargeArray<T>(count);
    std::copy(grown.begin(), grown.end(), a.get());
    out = std::move(a);
    return true;
}

// The first triangle corner that names no vertex, as (triangle, index); false when all do.
bool findBadIndex(const int *t, size_t nTriangles, int nVertices, size_t &triangle, int &index)
{
    const unsigned limit = static_cast<unsigned>(nVertices);
    const size_t n = nTriangles * 3;
    // One branch-free pass first: almost every file is valid.
    unsigned bad = 0;
    for (size_t i = 0; i < n; ++i)
        bad |= static_cast<unsigned>(static_cast<unsigned>(t[i]) >= limit);
    if (!bad)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (static_cast<unsigned>(t[i]) >= limit) {
            triangle = i / 3;
            index = t[i];
            return true;
        }
    return false;
}

// Reads the triangles and checks their indices slice by slice, while each slice is still
// in the cache: a second pass over the whole array would cost as much again as reading it.
// The first index that names no vertex sets `bad` and is reported through (triangle, index).
// False when the file ends early.
bool readTriangles(ReadFunction reader, FILE *f, size_t nTriangles, bool sizeKnown, int nVertices,
                   LargeArray<int> &out, bool &bad, size_t &triangle, int &index)
{
    const size_t count = 3 * nTriangles;
    bad = false;
    if (!sizeKnown) {
        if (!readArray(reader, f, count, false, out))
            return false;
        bad = findBadIndex(out.get(), nTriangles, nVertices, triangle, index);
        return true;
    }
    constexpr size_t kCacheSlice = size_t(3) << 15;
    LargeArray<int> a = allocateLargeArray<int>(count);
    for (size_t done = 0; done < count;) {
        const size_t chunk = std::min(kCacheSlice, count - done);
        if (reader(a.get() + done, 4, static_cast<unsigned>(chunk), f) != chunk)
            return false;
        if (!bad && findBadIndex(a.get() + done, chunk / 3, nVertices, triangle, index)) {
            triangle += done / 3;
            bad = true;
        }
        done += chunk;
    }
    out = std::move(a);
    return true;
}

// --- OFF text --------------------------------------------------------------------------------

// The whole content of `f`, terminated by a zero byte (not counted in `size`).
LargeArray<char> readAll(FILE *f, size_t &size)
{
    const long long known = regularFileSize(f);
    if (known >= 0) {
        LargeArray<char> buf = allocateLargeArray<char>(static_cast<size_t>(known) + 1);
        size = std::fread(buf.get(), 1, static_cast<size_t>(known), f);
        buf[size] = 0;
        return buf;
    }
    std::vector<char> grown;
    char chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        grown.insert(grown.end(), chunk, chunk + got);
    size = grown.size();
    LargeArray<char> buf = allocateLargeArray<char>(size + 1);
    std::copy(grown.begin(), grown.end(), buf.get());
    buf[size] = 0;
    return buf;
}

// A line-oriented scanner of OFF text: '#' starts a comment that runs to the end of its
// line, blank lines are skipped, and '\r' counts as a blank so CRLF files read alike.
class OffScanner {
public:
    OffScanner(const char *text, size_t size) : p(text), end(text + size) {}

    static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

    void skipBlanks()
    {
        while (p < end && blank(*p))
            ++p;
    }
    /// True when the rest of the current line holds nothing but blanks or a comment.
    bool lineIsEmpty()
    {
        skipBlanks();
        return p == end || *p == '\n' || *p == '#';
    }
    void nextLine()
    {
        const void *nl = std::memchr(p, '\n', static_cast<size_t>(end - p));
        p = nl ? static_cast<const char *>(nl) + 1 : end;
    }
    /// Moves to the first line with content; false at the end of the text.
    bool contentLine()
    {
        for (;;) {
            skipBlanks();
            if (p == end)
                return false;
            if (*p != '\n' && *p != '#')
                return true;
            nextLine();
        }
    }
    template <class T>
    bool number(T &value)
    {
        skipBlanks();
        const char *start = p;
        // from_chars takes no leading '+'; an exported file may have one.
        if (start < end && *start == '+')
            ++start;
        const std::from_chars_result r = std::from_chars(start, end, value);
        if (r.ec != std::errc() || (r.ptr < end && !blank(*r.ptr) && *r.ptr != '\n' && *r.ptr != '#'))
            return false;
        p = r.ptr;
        return true;
    }
    /// The word at the current position (up to a blank, a line end or a comment).
    std::string word()
    {
        skipBlanks();
        const char *start = p;
        while (p < end && !blank(*p) && *p != '\n' && *p != '#')
            ++p;
        return std::string(start, p);
    }
    size_t remaining() const { return static_cast<size_t>(end - p); }

private:
    const char *p;
    const char *end;
};

} // namespace

// What a reader produces before it replaces the mesh's geometry.
struct GLMeshObject::Geometry {
    int nVertices = 0;
    int nTriangles = 0;
    LargeArray<float> vertices;
    LargeArray<int> triangles;
    std::unique_ptr<unsigned char[]> colors;
    std::vector<DataItem> dataItems;
    unsigned char headerFlags = 0;
    signed char version = 0;
    unsigned char meshType = 0;
};

// --- Construction ---------------------------------------------------------------------------

GLMeshObject::GLMeshObject()
    : GL3DObject(GLObject::MESH), readAsOFF(false), coloursGiven(false), listsInitialised(false)
{
    initVariables();
}

GLMeshObject::GLMeshObject(const char *file, const char *kind) : GLMeshObject()
{
    path = file ? file : "";
    if (!kind || std::strncmp(kind, "tri", 3) == 0)
        readCompressedMesh(file);
    else if (std::strncmp(kind, "off", 3) == 0)
        readOFF(file);
    prepare(true);
    setDrawTriangles();
}

GLMeshObject::GLMeshObject(const MeshRecord *mesh) : GLMeshObject()
{
    readMeshFromMemory(mesh);
    prepare(true);
    setDrawTriangles();
}

GLMeshObject::~GLMeshObject()
{
    freeData();
    vertices = nullptr;
    colors = nullptr;
}

void GLMeshObject::initVariables()
{
    selectedVertex = -1;
    nNeighbours = 0;
    nTriangles = 0;
    headerFlags = 0;
    version = 0;
    meshType = 0;
    textureWidth = 0;
    textureHeight = 0;
    nTextureChunks = 0;
    texCoordVersion = -1;
    shadeList = -1;
    textureList = -1;
    material = Material::predefined[0];
    colorMapIndex = 0;
    nDataItems = 0;
    currentDataItem = 0;
    triangleSorting = false;
    doubleFace = false;
    normalLength = 2.0f;
    wireSize = 1.0f;
    maxTextureSize = 1024;
    legendDrawing = true;
    wireFrame = false;
    textureMode = GL_DECAL;
    textureFilter = GL_LINEAR;
    shadingModel = GL_SMOOTH;
    std::fill(std::begin(pickedVertices), std::end(pickedVertices), 0);
    nPicked = 0;
    ringClosed = false;
}

void GLMeshObject::freeData()
{
    if (!textureNames.empty())
        glDeleteTextures(static_cast<GLsizei>(textureNames.size()), textureNames.data());
    textureNames.clear();
    nTextureChunks = 0;
    chunkStart.clear();
    if (shadeList >= 0)
        glDeleteLists(static_cast<GLuint>(shadeList), 1);
    if (textureList >= 0)
        glDeleteLists(static_cast<GLuint>(textureList), 1);
    shadeList = textureList = -1;
    listsInitialised = false;

    vertexStore.reset();
    vertices = nullptr;
    nVertices = 0;
    colorStore.reset();
    colors = nullptr;
    coloursGiven = false;
    triangles.reset();
    nTriangles = 0;
    normals.reset();
    sortedTriangles.reset();
    neighbours.reset();
    nNeighbours = 0;
    selectedVertex = -1;
    nPicked = 0;
    dataItems.clear();
    nDataItems = 0;
    texCoords.reset();
    texCoordVersion = -1;
    legend.clear();
}

void GLMeshObject::adopt(Geometry &g)
{
    freeData();
    nVertices = g.nVertices;
    nTriangles = g.nTriangles;
    vertexStore = std::move(g.vertices);
    vertices = vertexStore.get();
    triangles = std::move(g.triangles);
    colorStore = std::move(g.colors);
    colors = colorStore.get();
    dataItems = std::move(g.dataItems);
    nDataItems = static_cast<int>(dataItems.size());
    headerFlags = g.headerFlags;
    version = g.version;
    meshType = g.meshType;
}

void GLMeshObject::prepare(bool resetPlanes)
{
    computeColors();
    computeBoundingBox();
    normals = allocateLargeArray<Point3>(static_cast<size_t>(nVertices));
    computeNormals(normals.get());
    if (resetPlanes)
        resetClippingPlanes();
}

void GLMeshObject::update(const MeshRecord *mesh)
{
    // Read first: a refused record must leave the mesh as it is.
    Geometry g;
    copyRecord(mesh, g);

    const bool keepWireFrame = wireFrame, keepDoubleFace = doubleFace, keepLegend = legendDrawing;
    const int keepItem = currentDataItem, keepMap = colorMapIndex, keepTextureMode = textureMode;
    const float keepNormalLength = normalLength;
    freeData();
    initVariables();
    adopt(g);
    readAsOFF = false;
    wireFrame = keepWireFrame;
    currentDataItem = keepItem;
    colorMapIndex = keepMap;
    doubleFace = keepDoubleFace;
    normalLength = keepNormalLength;
    legendDrawing = keepLegend;
    textureMode = keepTextureMode;
    // The new box sets the normal length again, to a hundredth of the new size.
    prepare(false);
    if (interface)
        interface->update();
    postRedisplay();
}

void GLMeshObject::reload()
{
    freeData();
    initVariables();
    try {
        // An OFF mesh is read as OFF again: reading it as a binary mesh could only fail.
        if (readAsOFF)
            readOFF(path.c_str());
        else
            readMesh(path.c_str());
    } catch (const std::exception &) {
        std::printf("GLMeshObject: unable to reload %s\n", path.c_str());
        return;
    }
    computeColors();
    computeBoundingBox();
    normals = allocateLargeArray<Point3>(static_cast<size_t>(nVertices));
    computeNormals(normals.get());
    std::printf("%d triangles, %d vertex\n", nTriangles, nVertices);
}

// --- Binary mesh ----------------------------------------------------------------------------

void GLMeshObject::readCompressedMesh(const char *file) { readMesh(file); }

void GLMeshObject::readMesh(const char *file)
{
    Stream stream(file, "rb", true);
    FILE *f = stream;
    if (!f)
        throw std::runtime_error("Can't read file");

    unsigned char signature[2] = {0, 0};
    if (std::fread(signature, 1, 2, f) != 2) {
        stream.close();
        std::printf("GLMeshObject: unknown signature:%x\n", 0u);
        throw std::runtime_error("unknown signature");
    }
    uint16_t marker;
    std::memcpy(&marker, signature, 2);
    bool swapped;
    if (marker == 0x454C || marker == 0x4245) {
        swapped = false;
    } else if (marker == 0x4C45 || marker == 0x4542) {
        swapped = true;
        std::printf("GLMeshObject: reversing byte order\n");
        marker = static_cast<uint16_t>((marker >> 8) | (marker << 8));
    } else {
        stream.close();
        if (marker == 0x8B1F || marker == 0x1F8B)
            std::printf("GLMeshObject: gziped version found\n");
        else
            std::printf("GLMeshObject: unknown signature:%x\n", marker);
        throw std::runtime_error("unknown signature");
    }
    const int mode = swapped ? 1 : 0;
    const ReadFunction reader = MESH_UTILS::readerForMode(mode);

    Geometry g;
    int counts[2] = {0, 0};
    unsigned char bytes[4] = {0, 0, 0, 0};
    if (reader(counts, 4, 2, f) != 2 || std::fread(bytes, 1, 4, f) != 4)
        throw std::runtime_error("error reading");
    g.headerFlags = bytes[0];
    g.version = static_cast<signed char>(bytes[1]);
    g.meshType = bytes[2];
    std::printf("GLMeshObject: Detected %s ENDIAN model v%d ", marker == 0x454C ? "LITTLE" : "BIG", g.version);
    std::printf("in a %s ENDIAN machine\n", hostIsLittleEndian() ? "LITTLE" : "BIG");
    if (g.meshType != 0)
        throw std::runtime_error("wrong mesh type");

    g.nVertices = counts[0];
    g.nTriangles = counts[1];
    if (g.nVertices < 0 || g.nTriangles < 0)
        refuse("negative count in the header: %d vertices, %d triangles", g.nVertices, g.nTriangles);
    const long long size = regularFileSize(f);
    const unsigned long long needed =
        14ull + 12ull * static_cast<unsigned>(g.nVertices) + 12ull * static_cast<unsigned>(g.nTriangles);
    if (size >= 0 && needed > static_cast<unsigned long long>(size))
        refuse("%d vertices and %d triangles need %llu bytes, the file has %lld", g.nVertices, g.nTriangles, needed,
               size);

    const bool sizeKnown = size >= 0;
    if (!readArray(reader, f, 3 * static_cast<size_t>(g.nVertices), sizeKnown, g.vertices))
        throw std::runtime_error("error reading");
    bool bad = false;
    size_t badTriangle = 0;
    int badIndex = 0;
    if (!readTriangles(reader, f, static_cast<size_t>(g.nTriangles), sizeKnown, g.nVertices, g.triangles, bad,
                       badTriangle, badIndex))
        throw std::runtime_error("error reading");
    if (bad)
        refuse("triangle %zu uses vertex %d, outside 0..%d", badTriangle, badIndex, g.nVertices - 1);

    adopt(g);
    readAsOFF = false;
    std::printf("GLMeshObject: %d triangles, %d vertices\n", nTriangles, nVertices);

    char tag[4];
    while (std::fread(tag, 1, 4, f) == 4) {
        // A tag no reader knows is skipped; the next 4 bytes are read as a tag again.
        if (!readDataItems(f, mode, tag) && !readTextureCoordinates(f, mode, tag))
            readMaterial(f, mode, tag);
    }
}

int GLMeshObject::readDataItems(FILE *f, int mode, const char *tag)
{
    const ReadFunction reader = MESH_UTILS::readerForMode(mode);
    int count = 0;
    if (std::memcmp(tag, "DAT0", 4) == 0) {
        if (reader(&count, 4, 1, f) != 1)
            count = -1;
    } else {
        // Older files carry the item count itself where the tag would be.
        std::memcpy(&count, tag, 4);
        if (mode == 1 || mode == 3)
            swapBytes(&count, 4, 1);
        if (count < 1 || count > 99)
            return 0;
    }

    dataItems.clear();
    nDataItems = 0;
    currentDataItem = 0;
    // The colour array is there even when the block turns out broken: it is what the data
    // drawing paints into.
    colorStore.reset(new unsigned char[3 * static_cast<size_t>(nVertices)]());
    colors = colorStore.get();

    if (count < 0) {
        std::printf("GLMeshObject: data item block without a valid count, data items dropped\n");
        return 1;
    }
    std::vector<DataItem> items;
    // Each record takes at least its 76-byte head from the file, so the list only grows
    // with the file; no room is taken for a count the file does not back.
    items.reserve(static_cast<size_t>(std::min(count, 64)));
    for (int i = 0; i < count; ++i) {
        items.emplace_back();
        if (!items.back().read(f, mode))
            return 1;
        if (items.back().getNElements() < nVertices) {
            std::printf("GLMeshObject: data item \"%s\" has %d values for %d vertices, data items dropped\n",
                        items.back().getName(), items.back().getNElements(), nVertices);
            return 1;
        }
    }
    dataItems = std::move(items);
    nDataItems = count;
    return 1;
}

int GLMeshObject::readTextureCoordinates(FILE *f, int mode, const char *tag)
{
    if (tag[0] != 'T' || tag[1] != 'C' || tag[2] < '0' || tag[2] > '9' || tag[3] < '0' || tag[3] > '9')
        return 0;
    const int v = (tag[2] - '0') * 10 + (tag[3] - '0');
    if (v > 3)
        return 0;
    texCoordVersion = v;
    texCoords.reset();
    const ReadFunction reader = MESH_UTILS::readerForMode(mode);
    const size_t n = 6 * static_cast<size_t>(nTriangles);
    const bool sizeKnown = false;
    if (v < 2) {
        LargeArray<uint16_t> raw;
        if (!readArray(reader, f, n, sizeKnown, raw))
            return 1;
        LargeArray<float> uv = allocateLargeArray<float>(n);
        for (size_t i = 0; i < n; ++i)
            uv[i] = raw[i];
        texCoords = std::move(uv);
    } else {
        LargeArray<float> uv;
        if (readArray(reader, f, n, sizeKnown, uv))
            texCoords = std::move(uv);
    }
    return 1;
}

int GLMeshObject::readMaterial(FILE *f, int mode, const char *tag)
{
    if (std::memcmp(tag, "MAT0", 4) != 0)
        return 0;
    float values[13];
    // A short block leaves the material as it was rather than half replaced.
    if (MESH_UTILS::readerForMode(mode)(values, 4, 13, f) == 13)
        std::memcpy(&material, values, sizeof values);
    return 1;
}

// --- OFF text -------------------------------------------------------------------------------

void GLMeshObject::readOFF(const char *file)
{
    Stream stream(file, "rt", false);
    FILE *f = stream;
    if (!f)
        throw std::runtime_error("can't load file");
    size_t size = 0;
    const LargeArray<char> text = readAll(f, size);
    stream.close();

    OffScanner in(text.get(), size);
    if (!in.contentLine())
        throw std::runtime_error("not an OFF file\n");
    const std::string header = in.word();
    if (header.compare(0, 3, "OFF") != 0 || header.compare(0, 4, "OFFS") == 0)
        throw std::runtime_error("not an OFF file\n");

    // The counts follow the header word on its line, or stand on the next line with content.
    if (in.lineIsEmpty()) {
        in.nextLine();
        if (!in.contentLine())
            refuse("OFF file without vertex and face counts");
    }
    long long nv = 0, nf = 0;
    if (!in.number(nv) || !in.number(nf))
        refuse("OFF file without vertex and face counts");
    if (nv < 0 || nf < 0)
        refuse("negative count in the OFF header: %lld vertices, %lld faces", nv, nf);
    // The smallest vertex line is "0 0 0" and the smallest face line "3 0 1 2", each with
    // its line end (the last may lack one).
    in.nextLine();
    if (nv > INT_MAX || nf > INT_MAX ||
        6 * static_cast<unsigned long long>(nv) + 8 * static_cast<unsigned long long>(nf) > in.remaining() + 1)
        refuse("%lld vertices and %lld faces announced, more than the file can hold", nv, nf);

    Geometry g;
    g.nVertices = static_cast<int>(nv);
    g.vertices = allocateLargeArray<float>(3 * static_cast<size_t>(nv));
    float *v = g.vertices.get();
    for (long long i = 0; i < nv; ++i, v += 3) {
        if (!in.contentLine())
            refuse("OFF file ends after %lld of %lld vertices", i, nv);
        if (!in.number(v[0]) || !in.number(v[1]) || !in.number(v[2]))
            refuse("OFF vertex %lld: three coordinates expected", i);
        in.nextLine();
    }

    // Room for one triangle a face; polygons, which become several, make it grow.
    size_t capacity = 3 * static_cast<size_t>(nf), used = 0;
    LargeArray<int> tri = allocateLargeArray<int>(capacity);
    auto append = [&](int a, int b, int c) {
        if (used + 3 > capacity) {
            const size_t larger = std::max<size_t>(2 * capacity, 3 * 64);
            LargeArray<int> grown = allocateLargeArray<int>(larger);
            std::copy(tri.get(), tri.get() + used, grown.get());
            tri = std::move(grown);
            capacity = larger;
        }
        tri[used] = a;
        tri[used + 1] = b;
        tri[used + 2] = c;
        used += 3;
    };
    std::vector<int> face;
    for (long long i = 0; i < nf; ++i) {
        if (!in.contentLine())
            refuse("OFF file ends after %lld of %lld faces", i, nf);
        long long k = 0;
        if (!in.number(k))
            refuse("OFF face %lld: vertex count expected", i);
        if (k < 3)
            refuse("OFF face %lld has %lld vertices, at least 3 needed", i, k);
        face.clear();
        for (long long j = 0; j < k; ++j) {
            int index = 0;
            if (!in.number(index))
                refuse("OFF face %lld: %lld vertex indices expected", i, k);
            if (index < 0 || index >= g.nVertices)
                refuse("OFF face %lld uses vertex %d, outside 0..%d", i, index, g.nVertices - 1);
            face.push_back(index);
        }
        // A polygon becomes a fan about its first vertex; what follows the indices on the
        // line (a face colour) is not used.
        for (size_t j = 2; j < face.size(); ++j)
            append(face[0], face[j - 1], face[j]);
        in.nextLine();
    }
    if (used / 3 > static_cast<size_t>(INT_MAX))
        refuse("OFF file with more than %d triangles", INT_MAX);
    g.nTriangles = static_cast<int>(used / 3);
    g.triangles = std::move(tri);

    adopt(g);
    readAsOFF = true;
    std::printf("%d triangles, %d vertices\n", nTriangles, nVertices);
}

// --- In-memory hand-over --------------------------------------------------------------------

void GLMeshObject::readMeshFromMemory(const MeshRecord *mesh)
{
    Geometry g;
    copyRecord(mesh, g);
    adopt(g);
    readAsOFF = false;
}

void GLMeshObject::copyRecord(const MeshRecord *mesh, Geometry &g)
{
    if (!mesh)
        refuse("no mesh handed over");
    if (mesh->nVertices < 0 || mesh->nTriangles < 0 || mesh->nDataItems < 0)
        refuse("negative count in the handed-over mesh");
    if ((mesh->nVertices > 0 && !mesh->vertices) || (mesh->nTriangles > 0 && !mesh->triangles) ||
        (mesh->nDataItems > 0 && !mesh->dataItems))
        refuse("handed-over mesh without its arrays");
    size_t badTriangle = 0;
    int badIndex = 0;
    if (mesh->nTriangles > 0 &&
        findBadIndex(mesh->triangles, static_cast<size_t>(mesh->nTriangles), mesh->nVertices, badTriangle, badIndex))
        refuse("triangle %zu uses vertex %d, outside 0..%d", badTriangle, badIndex, mesh->nVertices - 1);
    for (int i = 0; i < mesh->nDataItems; ++i) {
        const DataItem *item = mesh->dataItems[i];
        if (!item || item->getNElements() < mesh->nVertices)
            refuse("handed-over data item %d has fewer values than the %d vertices", i, mesh->nVertices);
    }

    g.nVertices = mesh->nVertices;
    g.nTriangles = mesh->nTriangles;
    const size_t nv = 3 * static_cast<size_t>(mesh->nVertices), nt = 3 * static_cast<size_t>(mesh->nTriangles);
    g.vertices = allocateLargeArray<float>(nv);
    std::copy(mesh->vertices, mesh->vertices + nv, g.vertices.get());
    g.triangles = allocateLargeArray<int>(nt);
    std::copy(mesh->triangles, mesh->triangles + nt, g.triangles.get());
    g.colors.reset(new unsigned char[nv]());
    g.dataItems.reserve(static_cast<size_t>(mesh->nDataItems));
    for (int i = 0; i < mesh->nDataItems; ++i)
        g.dataItems.push_back(*mesh->dataItems[i]);
}

// --- Derived data ---------------------------------------------------------------------------

void GLMeshObject::computeBoundingBox()
{
    if (nVertices <= 0) {
        bbMin = Point3(-kInf, -kInf, -kInf);
        bbMax = Point3(kInf, kInf, kInf);
        center = Point3(0, 0, 0);
        return;
    }
    GL3DObject::computeBoundingBox();
    normalLength = getMaxRadius() / 100;
}

void GLMeshObject::computeNormals(Point3 *out) const
{
    const size_t nv = static_cast<size_t>(nVertices);
    std::fill(out, out + nv, Point3(0, 0, 0));
    const int *t = triangles.get();
    const float *v = vertices;
    for (int i = 0; i < nTriangles; ++i, t += 3) {
        const float *a = v + 3 * static_cast<size_t>(t[0]);
        const float *b = v + 3 * static_cast<size_t>(t[1]);
        const float *c = v + 3 * static_cast<size_t>(t[2]);
        const float e1x = b[0] - a[0], e1y = b[1] - a[1], e1z = b[2] - a[2];
        const float e2x = c[0] - a[0], e2y = c[1] - a[1], e2z = c[2] - a[2];
        // Unnormalised: larger triangles weigh more in the vertex normal.
        const Point3 n(e1y * e2z - e1z * e2y, e1z * e2x - e1x * e2z, e1x * e2y - e1y * e2x);
        out[t[0]] += n;
        out[t[1]] += n;
        out[t[2]] += n;
    }
    for (size_t i = 0; i < nv; ++i)
        out[i].normalize();
}

void GLMeshObject::computeColors()
{
    if (!colors || version < 0 || nDataItems == 0)
        return;
    currentDataItem = ((currentDataItem % nDataItems) + nDataItems) % nDataItems;
    legend.clear();
    const DataItem &item = dataItems[static_cast<size_t>(currentDataItem)];
    const float lo = item.getMinimum(), hi = item.getMaximum();
    const ColorMap::ColorFunction f = ColorMap::selectColorMap(colorMapIndex);
    const float *values = item.getData();
    for (int i = 0; i < nVertices; ++i)
        f(colors + 3 * static_cast<size_t>(i), values[i], lo, hi);
    legend.setTitle(item.getName());
    legend.add(f, lo, hi, 15, 2);
}

bool GLMeshObject::setColors(const unsigned char *rgb, int n)
{
    if (n != nVertices || !rgb)
        return false;
    const size_t bytes = 3 * static_cast<size_t>(n);
    if (!colorStore) {
        colorStore.reset(new unsigned char[bytes]);
        colors = colorStore.get();
    }
    std::copy(rgb, rgb + bytes, colors);
    coloursGiven = true;
    legend.clear();
    return true;
}

// --- Drawing --------------------------------------------------------------------------------

namespace {

using MeshMethod = void (GLMeshObject::*)();

GL3DObject::DrawMethod method(MeshMethod m) { return static_cast<GL3DObject::DrawMethod>(m); }

// The attributes every drawing method saves: enable, lighting, polygon and current, and the
// colour-buffer state so that the blending function of translucent faces does not leak.
constexpr GLbitfield kFrameAttributes =
    GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_POLYGON_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT;

} // namespace

void GLMeshObject::setDefaultDrawing() { drawMethod = &GL3DObject::defaultDrawing; }

void GLMeshObject::setDrawTriangles() { drawMethod = method(&GLMeshObject::drawTriangles); }

void GLMeshObject::setDrawData()
{
    // A mesh handed over without data items still has a (black) colour array: there is
    // nothing to show in it.
    if (colors && (nDataItems > 0 || coloursGiven))
        drawMethod = method(&GLMeshObject::drawData);
}

// Texture chunks are made by the texture set-up; until a mesh has them, both texture
// methods fall back to plain triangles inside drawTexture().
void GLMeshObject::setDrawTexture() { drawMethod = method(&GLMeshObject::drawTexture); }

void GLMeshObject::setDrawTextureFromData() { drawMethod = method(&GLMeshObject::drawTextureModulate); }

void GLMeshObject::defaultDrawing()
{
    if (nTriangles <= 0 || !vertices || !normals)
        return;
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(pose);
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT);
    material.set();
    glEnable(GL_LIGHTING);
    glShadeModel(static_cast<GLenum>(shadingModel));
    glDisable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT, GL_FILL);
    drawElements(triangles.get(), true, nullptr, 0);
    glPopAttrib();
    glPopMatrix();
}

void GLMeshObject::drawElements(const int *tris, bool withNormals, const unsigned char *rgba, int colorSize) const
{
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glVertexPointer(3, GL_FLOAT, 0, vertices);
    glEnableClientState(GL_VERTEX_ARRAY);
    if (withNormals) {
        glNormalPointer(GL_FLOAT, 0, normals.get());
        glEnableClientState(GL_NORMAL_ARRAY);
    } else {
        glDisableClientState(GL_NORMAL_ARRAY);
    }
    if (rgba) {
        glColorPointer(colorSize, GL_UNSIGNED_BYTE, 0, rgba);
        glEnableClientState(GL_COLOR_ARRAY);
    } else {
        glDisableClientState(GL_COLOR_ARRAY);
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    // One call draws it all; the count is split only where it would not fit a GLsizei.
    const size_t total = 3 * static_cast<size_t>(nTriangles);
    const size_t most = size_t(3) << 28;
    for (size_t first = 0; first < total; first += most)
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(std::min(most, total - first)), GL_UNSIGNED_INT,
                       tris + first);
    glPopClientAttrib();
}

const unsigned char *GLMeshObject::colorsWithAlpha(unsigned char a)
{
    const size_t n = static_cast<size_t>(nVertices);
    alphaColors.resize(4 * n);
    for (size_t i = 0; i < n; ++i) {
        alphaColors[4 * i] = colors[3 * i];
        alphaColors[4 * i + 1] = colors[3 * i + 1];
        alphaColors[4 * i + 2] = colors[3 * i + 2];
        alphaColors[4 * i + 3] = a;
    }
    return alphaColors.data();
}

void GLMeshObject::initDisplayLists()
{
    if (listsInitialised || nTriangles <= 0 || !vertices || !normals)
        return;
    listsInitialised = true;
    if (nTriangles > kDisplayListLimit) {
        std::printf("GLMeshObject: display list option [DISABLED]\n");
        return;
    }
    const GLuint list = glGenLists(1);
    if (list == 0)
        return;
    // glDrawElements reads the arrays while the list is compiled: the list keeps a copy.
    glNewList(list, GL_COMPILE);
    drawElements(triangles.get(), true, nullptr, 0);
    glEndList();
    shadeList = static_cast<int>(list);
}

void GLMeshObject::callShadeList()
{
    initDisplayLists();
    // Above the limit the arrays serve instead, so that large meshes still get their wire
    // frame and shadow.
    if (shadeList >= 0)
        glCallList(static_cast<GLuint>(shadeList));
    else
        drawElements(triangles.get(), true, nullptr, 0);
}

void GLMeshObject::beginFrame()
{
    // The planes are loaded before the pose so that they stay where the user put them.
    computeClippingPlanes();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(pose);
    glPushAttrib(kFrameAttributes);
}

void GLMeshObject::endFrame()
{
    glPopAttrib();
    glPopMatrix();
#ifndef NDEBUG
    // Debug builds name the first drawing method that left an error behind.
    for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError())
        std::fprintf(stderr, "GLMeshObject: OpenGL error 0x%04x after drawing\n", e);
#endif
}

void GLMeshObject::applyDoubleFace() const
{
    if (doubleFace)
        glDisable(GL_CULL_FACE);
}

void GLMeshObject::drawTriangles()
{
    if (nTriangles <= 0 || !vertices)
        return;
    glPushAttrib(GL_POLYGON_BIT);
    if (wireFrame) {
        drawWireframe();
        // The surface is pushed back a little so that the lines stay in front of it.
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(1, 2);
    }
    drawShade();
    glPopAttrib();
}

void GLMeshObject::drawShade()
{
    if (nTriangles <= 0 || !vertices)
        return;
    beginFrame();
    material.set();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    setClippingPlanes();
    applyDoubleFace();
    glEnable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(static_cast<GLenum>(shadingModel));
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    drawSurface(true);
    endFrame();
    drawSelectedPoint();
}

void GLMeshObject::drawSurface(bool withNormals)
{
    if (material.blend() && triangleSorting) {
        // Translucent faces show their back sides too, in back-to-front order.
        glDisable(GL_CULL_FACE);
        sortTrianglesByDepth();
        drawElements(sortedTriangles.get(), withNormals, nullptr, 0);
    } else {
        callShadeList();
    }
}

void GLMeshObject::drawWireframe()
{
    if (nTriangles <= 0 || !vertices)
        return;
    beginFrame();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    setClippingPlanes();
    applyDoubleFace();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(GL_FLAT);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    if (material.wireBlend()) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    glColor4fv(material.wireColor);
    glPushAttrib(GL_LINE_BIT);
    glLineWidth(wireSize);
    callShadeList();
    glPopAttrib();
    endFrame();
}

void GLMeshObject::drawData()
{
    if (wireFrame)
        drawDataWire();
    else
        drawDataShade();
}

void GLMeshObject::drawDataShade()
{
    if (!colors || nTriangles <= 0 || !vertices)
        return;
    beginFrame();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    setClippingPlanes();
    applyDoubleFace();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(static_cast<GLenum>(shadingModel));
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    if (material.blend()) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        const int *order = triangles.get();
        if (triangleSorting) {
            glDisable(GL_CULL_FACE);
            sortTrianglesByDepth();
            order = sortedTriangles.get();
        }
        const auto alpha = static_cast<unsigned char>(std::clamp(material.frontDiffuse[3], 0.0f, 1.0f) * 255);
        drawElements(order, false, colorsWithAlpha(alpha), 4);
    } else {
        drawElements(triangles.get(), false, colors, 3);
    }
    endFrame();
    drawSelectedPoint();
}

void GLMeshObject::drawDataWire()
{
    if (!colors || nTriangles <= 0 || !vertices)
        return;
    beginFrame();
    // The coloured lines.
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glShadeModel(static_cast<GLenum>(shadingModel));
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    setClippingPlanes();
    applyDoubleFace();
    glPushAttrib(GL_LINE_BIT);
    glLineWidth(wireSize);
    if (material.wireBlend()) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        const auto alpha = static_cast<unsigned char>(std::clamp(material.wireColor[3], 0.0f, 1.0f) * 255);
        drawElements(triangles.get(), false, colorsWithAlpha(alpha), 4);
    } else {
        drawElements(triangles.get(), false, colors, 3);
    }
    glPopAttrib();

    // The surface under them, in the material's diffuse colour, pushed back behind the lines.
    material.set();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    setClippingPlanes();
    applyDoubleFace();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1, 2);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4fv(material.frontDiffuse);
    drawSurface(false);
    endFrame();
    drawSelectedPoint();
}

void GLMeshObject::drawTexture()
{
    // The texture set-up makes the chunks; a mesh without them shows its plain triangles.
    drawTriangles();
}

void GLMeshObject::drawTextureModulate()
{
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    drawTexture();
}

void GLMeshObject::drawTextureDecal()
{
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    drawTexture();
}

void GLMeshObject::sortTrianglesByDepth()
{
    Matrix4 modelView = Matrix4::Identity, projection = Matrix4::Identity;
    glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(modelView));
    glGetFloatv(GL_PROJECTION_MATRIX, static_cast<float *>(projection));
    // Called inside a drawing frame: the model-view matrix already carries the pose.
    sortTrianglesByDepth(projection * modelView);
}

void GLMeshObject::sortTrianglesByDepth(const Matrix4 &toClip)
{
    if (nTriangles <= 0)
        return;
    const size_t n = static_cast<size_t>(nTriangles);
    if (!sortedTriangles)
        sortedTriangles = allocateLargeArray<int>(3 * n);
    std::vector<float> keys(n);
    const int *t = triangles.get();
    float q[4];
    for (size_t i = 0; i < n; ++i) {
        toClip.product(q, &vertices[3 * static_cast<size_t>(t[3 * i])]);
        // -z/w grows towards the viewer; a corner behind the eye (w <= 0) goes first.
        keys[i] = q[3] > 0 ? -q[2] / q[3] : -std::numeric_limits<float>::max();
    }
    const unsigned *ranks = sorter.Sort(keys.data(), static_cast<unsigned>(n)).GetRanks();
    if (!ranks) {
        std::copy(t, t + 3 * n, sortedTriangles.get());
        return;
    }
    int *out = sortedTriangles.get();
    for (size_t i = 0; i < n; ++i) {
        const int *src = t + 3 * static_cast<size_t>(ranks[i]);
        out[3 * i] = src[0];
        out[3 * i + 1] = src[1];
        out[3 * i + 2] = src[2];
    }
}

void GLMeshObject::drawSelectedPoint()
{
    if (selectedVertex < 0 || selectedVertex >= nVertices)
        return;
    auto vertex = [this](int i) { return Point3(vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]); };
    const Point3 s = vertex(selectedVertex);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glMultMatrixf(pose);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_LINE_SMOOTH);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glLineWidth(2);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glEnable(GL_POLYGON_OFFSET_LINE);
    glPolygonOffset(-1, -2);
    // The one-ring is a handful of vertices: immediate mode is the plain way to draw it.
    if (nNeighbours > 0) {
        glColor3ub(255, 0, 0);
        glBegin(GL_TRIANGLE_FAN);
        glVertex3fv(&vertices[3 * selectedVertex]);
        for (int k = 0; k < nNeighbours; ++k)
            glVertex3fv(&vertices[3 * neighbours[k]]);
        if (ringClosed)
            glVertex3fv(&vertices[3 * neighbours[0]]);
        glEnd();
        glPolygonOffset(-2, -4);
        glDepthFunc(GL_LEQUAL);
        glColor3ub(0, 0, 200);
        glBegin(GL_POLYGON);
        for (int k = 0; k < nNeighbours; ++k)
            glVertex3fv(&vertices[3 * neighbours[k]]);
        glEnd();
    }
    glDepthFunc(GL_LESS);
    glBegin(GL_LINES);
    if (normals) {
        glColor3ub(255, 255, 0);
        glVertex3f(s.x, s.y, s.z);
        const Point3 e = s + normals[selectedVertex] * normalLength;
        glVertex3f(e.x, e.y, e.z);
        glColor3ub(0, 255, 0);
        for (int k = 0; k < nNeighbours; ++k) {
            const Point3 a = vertex(neighbours[k]);
            const Point3 b = a + normals[neighbours[k]] * normalLength;
            glVertex3f(a.x, a.y, a.z);
            glVertex3f(b.x, b.y, b.z);
        }
    }
    glEnd();
    glLineWidth(1);
    glPopMatrix();
    glPopAttrib();
}

void GLMeshObject::drawShadow(float *plane, float *light, float *color)
{
    if (nTriangles <= 0 || !vertices)
        return;
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glColor3fv(color);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    MakeShadowMatrix(plane, light, shadowMatrix);
    glMultMatrixf(shadowMatrix);
    glMultMatrixf(pose);
    callShadeList();
    glPopMatrix();
    glPopAttrib();
}

void GLMeshObject::drawInfo()
{
    if (!legendDrawing)
        return;
    bool show = drawMethod == method(&GLMeshObject::drawData);
    if (drawMethod == method(&GLMeshObject::drawTexture) && textureWidth == textureHeight && textureWidth > 0) {
        const int side = static_cast<int>(std::sqrt(static_cast<double>(nVertices)));
        show = show || side == textureWidth;
    }
    if (show)
        legend.draw(10, 10);
}

// --- Settings -------------------------------------------------------------------------------

bool GLMeshObject::toggleWireFrame() { return wireFrame = !wireFrame; }
bool GLMeshObject::toggleTriangleSorting() { return triangleSorting = !triangleSorting; }
bool GLMeshObject::toggleDoubleFace() { return doubleFace = !doubleFace; }
bool GLMeshObject::toggleLegendDrawing() { return legendDrawing = !legendDrawing; }

void GLMeshObject::toggleShadingModel()
{
    shadingModel = shadingModel == GL_SMOOTH ? GL_FLAT : GL_SMOOTH;
    postRedisplay();
}

int GLMeshObject::getTextureInterpolation() const
{
    return textureFilter == GL_NEAREST ? 0 : textureFilter == GL_LINEAR ? 1 : -1;
}

void GLMeshObject::setTextureInterpolation(int m)
{
    if (m != 0 && m != 1)
        return;
    textureFilter = m == 0 ? GL_NEAREST : GL_LINEAR;
    for (unsigned name : textureNames) {
        glBindTexture(GL_TEXTURE_2D, name);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, textureFilter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, textureFilter);
    }
    postRedisplay();
}

int GLMeshObject::getTextureModulation() const
{
    return textureMode == GL_DECAL ? 0 : textureMode == GL_MODULATE ? 1 : -1;
}

void GLMeshObject::setTextureModulation(int m)
{
    if (m != 0 && m != 1)
        return;
    textureMode = m == 0 ? GL_DECAL : GL_MODULATE;
    postRedisplay();
}

void GLMeshObject::setColorMap(int i)
{
    const int n = ColorMap::nColorMaps;
    i = ((i % n) + n) % n;
    if (i == colorMapIndex)
        return;
    colorMapIndex = i;
    computeColors();
    postRedisplay();
}

void GLMeshObject::setMaterial(int i)
{
    if (i < 0 || i >= Material::nPredefined)
        return;
    setMaterial(Material::predefined[i]);
}

void GLMeshObject::setMaterial(const Material &m)
{
    material = m;
    postRedisplay();
}

std::string GLMeshObject::getInformation() const
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "%d triangles\n%d vertices\nbounding box:\n[%2.1f,%2.1f,%2.1f]\n[%2.1f,%2.1f,%2.1f]\n\n", nTriangles,
                  nVertices, bbMin.x, bbMin.y, bbMin.z, bbMax.x, bbMax.y, bbMax.z);
    return text;
}

// --- Picking --------------------------------------------------------------------------------

void GLMeshObject::notifyClick(int x, int y)
{
    selectedVertex = getVertex(x, y);
    if (selectedVertex >= 0) {
        getNbhood();
        printInfo(selectedVertex);
    }
}

void GLMeshObject::getNbhood()
{
    nNeighbours = 0;
    ringClosed = false;
    neighbours.reset();
    const int s = selectedVertex;
    if (s < 0 || s >= nVertices)
        return;
    // The edge opposite the vertex in every triangle around it, in the triangle's orientation.
    std::vector<std::pair<int, int>> pairs;
    const int *t = triangles.get();
    for (size_t i = 0; i < static_cast<size_t>(nTriangles); ++i) {
        const int a = t[3 * i], b = t[3 * i + 1], c = t[3 * i + 2];
        if (a == s)
            pairs.emplace_back(b, c);
        else if (b == s)
            pairs.emplace_back(c, a);
        else if (c == s)
            pairs.emplace_back(a, b);
    }
    if (pairs.empty())
        return;
    // Chain the edges at both ends, so that a vertex on the border gets its whole fan
    // whichever triangle comes first.
    std::deque<int> chain{pairs[0].first, pairs[0].second};
    std::vector<char> used(pairs.size(), 0);
    used[0] = 1;
    for (bool grown = true; grown;) {
        grown = false;
        for (size_t k = 1; k < pairs.size(); ++k) {
            if (used[k])
                continue;
            const auto [p, q] = pairs[k];
            if (p == chain.back())
                chain.push_back(q);
            else if (q == chain.front())
                chain.push_front(p);
            else if (q == chain.back())
                chain.push_back(p);
            else if (p == chain.front())
                chain.push_front(q);
            else
                continue;
            used[k] = 1;
            grown = true;
        }
    }
    if (chain.size() > 2 && chain.front() == chain.back()) {
        chain.pop_back();
        ringClosed = true;
    }
    nNeighbours = static_cast<int>(chain.size());
    neighbours.reset(new int[chain.size()]);
    std::copy(chain.begin(), chain.end(), neighbours.get());
}

void GLMeshObject::printInfo(int i) const
{
    if (i < 0 || i >= nVertices)
        return;
    std::printf("Selected vertex n:\t%d,\t[%f %f %f]\n", i, vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]);
    std::printf("\tvalence=%d\n", nNeighbours);
    for (const DataItem &item : dataItems) {
        std::printf("\t");
        item.print(i);
    }
}

void GLMeshObject::notifyAdditionalClick(int x, int y)
{
    const int v = getVertex(x, y);
    if (v < 0) {
        nPicked = 0;
        return;
    }
    pickedVertices[nPicked++] = v;
    if (nPicked < 3)
        return;
    nPicked = 0;
    int picked[3] = {pickedVertices[0], pickedVertices[1], pickedVertices[2]};
    std::sort(picked, picked + 3);
    const int *t = triangles.get();
    for (int i = 0; i < nTriangles; ++i) {
        int corners[3] = {t[3 * i], t[3 * i + 1], t[3 * i + 2]};
        std::sort(corners, corners + 3);
        if (std::equal(corners, corners + 3, picked)) {
            std::printf("triangle: %d\n", i);
            return;
        }
    }
}

Point3 GLMeshObject::getOrigin() const
{
    if (selectedVertex >= 0 && selectedVertex < nVertices)
        return pose * Point3(vertices[3 * selectedVertex], vertices[3 * selectedVertex + 1],
                             vertices[3 * selectedVertex + 2]);
    return GL3DObject::getOrigin();
}

void GLMeshObject::printPose() const
{
    std::printf("Object pose:\n");
    pose.print();
    const Matrix3 r = pose.getSubMatrix();
    const Point3 t = pose.getSubVector();
    std::printf("Direct transformation:");
    std::printf("[%f,%f,%f]\n", t.x, t.y, t.z);
    Quaternion(r).print();
    const Matrix3 rt = r.transpose();
    const Point3 eye = (rt * t) * -1.0f;
    std::printf("Inverse transformation:");
    std::printf("[%f,%f,%f]\n", eye.x, eye.y, eye.z);
    Quaternion(rt).print();
}

// --- Keys -----------------------------------------------------------------------------------

int GLMeshObject::notifyKey(int key, void *arg)
{
    if (key >= 300 && key < 312) {
        const int plane = (key - 300) / 2;
        if ((key - 300) % 2 == 0) {
            enableClippingPlane(plane, static_cast<int>(reinterpret_cast<intptr_t>(arg)) != 0);
        } else {
            // A missing or degenerate plane would clip everything or nothing at random.
            const float *p = static_cast<const float *>(arg);
            if (!p)
                return 0;
            const double n = std::sqrt(double(p[0]) * p[0] + double(p[1]) * p[1] + double(p[2]) * p[2]);
            if (!(n > 0) || !std::isfinite(n) || !std::isfinite(p[3]))
                return 0;
            const double plane4[4] = {p[0] / n, p[1] / n, p[2] / n, p[3]};
            setClippingPlane(plane4, plane);
        }
        postRedisplay();
        return 1;
    }
    if (notifyCommand(key))
        return 1;
    return GL3DObject::notifyKey(key, arg);
}

int GLMeshObject::notifyCommand(int command)
{
    setBusy(true);
    int handled = 1;
    switch (command) {
    case '1':
        toggleWireFrame();
        break;
    case '2':
        setDrawTriangles();
        break;
    case '3':
    case '"':
        setDrawTexture();
        break;
    case '4':
        setDrawDepthBuffer();
        break;
    case '5':
        setDrawData();
        break;
    case '9':
        setDrawTextureFromData();
        break;
    case ',':
    case '<':
    case '.':
    case '>':
        // computeColors() brings the index back into the range of the data items.
        if (nDataItems > 0) {
            currentDataItem += command == ',' || command == '<' ? -1 : 1;
            computeColors();
        }
        break;
    case '+':
        printPose();
        break;
    case KeyCode::PAGE_UP:
        colorMapIndex = (colorMapIndex + 1) % ColorMap::nColorMaps;
        computeColors();
        break;
    case KeyCode::PAGE_DOWN:
        colorMapIndex = (colorMapIndex + ColorMap::nColorMaps - 1) % ColorMap::nColorMaps;
        computeColors();
        break;
    default:
        handled = 0;
    }
    setBusy(false);
    if (handled)
        postRedisplay();
    return handled;
}
