#include "formats/MeshReader.h"
#include "math/Messages.h"
#include "formats/ReadRefusal.h"

#include "image/Stream.h"
#include "formats/ByteOrder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

// Items per read call. Large arrays are read in slices so that a count never exceeds what
// one call takes, and, where the size of the input is unknown (a download), so that memory
// grows only with the data that really arrives.
constexpr size_t kSliceItems = size_t(1) << 22;

// Prints a refusal in the mesh's message style and raises it.
constexpr ReadRefusal refuse{"GLMeshObject"};

// Reads `count` items of type T. With a known input size the array is taken at once (the
// caller has checked that the input holds it); otherwise it grows slice by slice.
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
// False when the input ends early.
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

} // namespace

long long MeshReader::fileSize(FILE *f)
{
    struct stat st;
    const int fd = fileno(f);
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(st.st_size);
}

// --- Binary mesh ----------------------------------------------------------------------------

MeshData MeshReader::readBinary(const char *path)
{
    Stream stream(path, "rb", true);
    FILE *f = stream;
    if (!f)
        throw std::runtime_error("Can't read file");
    return readBinary(f, fileSize(f));
}

MeshData MeshReader::readBinary(FILE *f, long long size)
{
    unsigned char signature[2] = {0, 0};
    if (std::fread(signature, 1, 2, f) != 2) {
        msg::error("GLMeshObject: unknown signature:%x\n", 0u);
        throw std::runtime_error("unknown signature");
    }
    uint16_t marker;
    std::memcpy(&marker, signature, 2);
    bool swapped;
    if (marker == 0x454C || marker == 0x4245) {
        swapped = false;
    } else if (marker == 0x4C45 || marker == 0x4542) {
        swapped = true;
        msg::note("GLMeshObject: reversing byte order\n");
        marker = static_cast<uint16_t>((marker >> 8) | (marker << 8));
    } else {
        if (marker == 0x8B1F || marker == 0x1F8B)
            msg::error("GLMeshObject: gziped version found\n");
        else
            msg::error("GLMeshObject: unknown signature:%x\n", marker);
        throw std::runtime_error("unknown signature");
    }
    const int mode = swapped ? 1 : 0;
    const ReadFunction reader = MESH_UTILS::readerForMode(mode);

    MeshData g;
    int counts[2] = {0, 0};
    unsigned char bytes[4] = {0, 0, 0, 0};
    if (reader(counts, 4, 2, f) != 2 || std::fread(bytes, 1, 4, f) != 4)
        throw std::runtime_error("error reading");
    g.headerFlags = bytes[0];
    g.version = static_cast<signed char>(bytes[1]);
    g.meshType = bytes[2];
    msg::note("GLMeshObject: Detected %s ENDIAN model v%d ", marker == 0x454C ? "LITTLE" : "BIG", g.version);
    msg::note("in a %s ENDIAN machine\n", hostIsLittleEndian() ? "LITTLE" : "BIG");
    if (g.meshType != 0)
        throw std::runtime_error("wrong mesh type");

    g.nVertices = counts[0];
    g.nTriangles = counts[1];
    if (g.nVertices < 0 || g.nTriangles < 0)
        refuse("negative count in the header: %d vertices, %d triangles", g.nVertices, g.nTriangles);
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

    msg::note("GLMeshObject: %d triangles, %d vertices\n", g.nTriangles, g.nVertices);
    readBlocks(f, mode, g);
    return g;
}

void MeshReader::readBlocks(FILE *f, int mode, MeshData &mesh)
{
    char tag[4];
    while (std::fread(tag, 1, 4, f) == 4) {
        // A tag no reader knows is skipped; the next 4 bytes are read as a tag again.
        if (!readDataItems(f, mode, tag, mesh) && !readTextureCoordinates(f, mode, tag, mesh))
            readMaterial(f, mode, tag, mesh);
    }
}

int MeshReader::readDataItems(FILE *f, int mode, const char *tag, MeshData &mesh)
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

    mesh.dataItems.clear();
    // The colour array is there even when the block turns out broken: it is what the data
    // drawing paints into.
    mesh.colors.reset(new unsigned char[3 * static_cast<size_t>(mesh.nVertices)]());
    mesh.colorsFromFile = false;

    if (count < 0) {
        msg::warning("GLMeshObject: data item block without a valid count, data items dropped\n");
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
        if (items.back().getNElements() < mesh.nVertices) {
            msg::warning("GLMeshObject: data item \"%s\" has %d values for %d vertices, data items dropped\n",
                         items.back().getName(), items.back().getNElements(), mesh.nVertices);
            return 1;
        }
    }
    mesh.dataItems = std::move(items);
    return 1;
}

int MeshReader::readTextureCoordinates(FILE *f, int mode, const char *tag, MeshData &mesh)
{
    if (tag[0] != 'T' || tag[1] != 'C' || tag[2] < '0' || tag[2] > '9' || tag[3] < '0' || tag[3] > '9')
        return 0;
    const int v = (tag[2] - '0') * 10 + (tag[3] - '0');
    if (v > 3)
        return 0;
    mesh.texCoordVersion = v;
    mesh.texCoords.reset();
    const ReadFunction reader = MESH_UTILS::readerForMode(mode);
    const size_t n = 6 * static_cast<size_t>(mesh.nTriangles);
    const bool sizeKnown = false;
    if (v < 2) {
        LargeArray<uint16_t> raw;
        if (!readArray(reader, f, n, sizeKnown, raw))
            return 1;
        LargeArray<float> uv = allocateLargeArray<float>(n);
        for (size_t i = 0; i < n; ++i)
            uv[i] = raw[i];
        mesh.texCoords = std::move(uv);
    } else {
        LargeArray<float> uv;
        if (readArray(reader, f, n, sizeKnown, uv))
            mesh.texCoords = std::move(uv);
    }
    return 1;
}

int MeshReader::readMaterial(FILE *f, int mode, const char *tag, MeshData &mesh)
{
    if (std::memcmp(tag, "MAT0", 4) != 0)
        return 0;
    float values[13];
    // A short block leaves the material as it was rather than half replaced.
    if (MESH_UTILS::readerForMode(mode)(values, 4, 13, f) == 13) {
        std::memcpy(mesh.material, values, sizeof values);
        mesh.hasMaterial = true;
    }
    return 1;
}
// --- In-memory hand-over --------------------------------------------------------------------

MeshData MeshReader::fromRecord(const MeshRecord *mesh)
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

    MeshData g;
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
    return g;
}
