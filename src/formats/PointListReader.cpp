#include "formats/PointListReader.h"
#include "formats/ReadAll.h"
#include "math/Messages.h"
#include "formats/ReadRefusal.h"

#include "formats/ByteOrder.h"
#include "formats/MeshReader.h"
#include "formats/SlicedRead.h"
#include "formats/TextScanner.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr ReadRefusal refuse{"GLPointListObject"};

// Up to `limit` bytes of what is left in `f`.
std::vector<unsigned char> readRest(FILE *f, size_t limit)
{
    std::vector<unsigned char> bytes;
    while (bytes.size() < limit) {
        const size_t at = bytes.size();
        const size_t chunk = std::min(std::min(kSliceItems, std::max<size_t>(4096, at)), limit - at);
        bytes.resize(at + chunk);
        const size_t got = std::fread(bytes.data() + at, 1, chunk, f);
        bytes.resize(at + got);
        if (got < chunk)
            break;
    }
    return bytes;
}

bool isLineEnd(char c) { return c == '\n' || c == '\r'; }

// A decimal number at p, after any whitespace (line ends included, as the C number parser
// skips them); p moves past it. False, with p left after the whitespace, when there is none.
bool parseNumber(const char *&p, const char *end, float &value)
{
    TextScanner in(p, end);
    const bool found = in.number(value);
    p = in.position();
    return found;
}

} // namespace

int PointListReader::readByteOrder(FILE *f, const char *name)
{
    uint16_t marker = 0;
    if (std::fread(&marker, 2, 1, f) != 1)
        refuse("%s: no byte-order marker", name);
    int mode = 0;
    if (marker == 0x4C45 || marker == 0x4542) {
        msg::note("reversing byte-order\n");
        mode = 1;
        swapBytes(&marker, 2, 1);
    }
    if (marker == 0x4245)
        msg::note("Detected BIG ENDIAN model ");
    else if (marker == 0x454C)
        msg::note("Detected LITTLE ENDIAN model ");
    else
        refuse("%s: unknown byte-order marker %04x", name, marker);
    msg::note("in a %s ENDIAN machine\n", hostIsLittleEndian() ? "LITTLE" : "BIG");
    return mode;
}

PointListData PointListReader::readBIN(const char *path)
{
    return readOpened(path, [path](FILE *f) { return readBIN(f, MeshReader::fileSize(f), path); });
}

PointListData PointListReader::readBIN(FILE *f, long long size, const char *name)
{
    const int mode = readByteOrder(f, name);
    const ReadFunction reader = MESH_UTILS::readerForMode(mode);
    int32_t n = 0;
    if (reader(&n, 4, 1, f) != 1)
        refuse("%s: no point count", name);
    msg::note("reading an object with %d points\n", n);
    if (n <= 0)
        refuse("%s: point count %d, a cloud needs at least one point", name, n);
    const unsigned long long needed = 6ull + 12ull * static_cast<unsigned>(n);
    if (size >= 0 && needed > static_cast<unsigned long long>(size))
        refuse("%s: %d points need %llu bytes, the file has %lld", name, n, needed, size);

    PointListData d;
    d.nPoints = n;
    const size_t count = static_cast<size_t>(n);
    // Straight into the final arrays; the bounds are taken from each slice while it is fresh.
    if (!readArray(reader, f, 3 * count, size >= 0, d.points,
                   [&d](const float *p, size_t m) { d.bounds.addPoints(p, m); }))
        refuse("%s: the file ends inside the coordinates", name);

    // The rest is N scores when it holds them, else the colours.
    if (size >= 0) {
        const unsigned long long rest = static_cast<unsigned long long>(size) - needed;
        if (rest >= 4ull * count) {
            if (!readArray(reader, f, count, true, d.values,
                           [&d](const float *v, size_t m) { d.bounds.addValues(v, m); }))
                refuse("%s: the file ends inside the scores", name);
            return d;
        }
        // Colour bytes are the same in either byte order: read as they are.
        d.colors = allocateLargeArray<unsigned char>(3 * count);
        const size_t have = std::fread(d.colors.get(), 1, std::min<size_t>(rest, 3 * count), f);
        std::fill(d.colors.get() + have, d.colors.get() + 3 * count, 0);
        return d;
    }
    std::vector<unsigned char> tail = readRest(f, 4 * count);
    if (tail.size() >= 4 * count && count > 0) {
        d.values = allocateLargeArray<float>(count);
        std::memcpy(d.values.get(), tail.data(), 4 * count);
        if (mode == 1)
            swapBytes(d.values.get(), 4, static_cast<unsigned>(count));
        d.bounds.addValues(d.values.get(), count);
        return d;
    }
    d.colors = allocateLargeArray<unsigned char>(3 * count);
    const size_t have = std::min(tail.size(), 3 * count);
    std::copy(tail.data(), tail.data() + have, d.colors.get());
    std::fill(d.colors.get() + have, d.colors.get() + 3 * count, 0);
    return d;
}

PointListData PointListReader::readLAS(const char *path)
{
    const std::vector<char> text = readOpened(path, [](FILE *f) { return readAll(f); });
    return readLAS(text.data(), text.size(), path);
}

PointListData PointListReader::readLAS(const char *text, size_t size, const char *name)
{
    std::vector<float> points;
    const char *p = text, *end = text + size;
    while (p < end) {
        float xyz[3];
        bool complete = true;
        for (int k = 0; k < 3 && complete; ++k)
            complete = parseNumber(p, end, xyz[k]);
        if (complete) {
            if (points.size() / 3 >= static_cast<size_t>(INT32_MAX))
                refuse("%s: more points than a cloud can hold", name);
            points.insert(points.end(), xyz, xyz + 3);
        }
        // On to the start of the next line: the rest of this one is ignored.
        while (p < end && !isLineEnd(*p))
            ++p;
        while (p < end && isLineEnd(*p))
            ++p;
    }
    msg::note("%ld bytes %d points\n", static_cast<long>(size), static_cast<int>(points.size() / 3));
    if (points.empty())
        refuse("%s: no point in the file", name);
    PointListData d;
    d.nPoints = static_cast<int>(points.size() / 3);
    d.points = allocateLargeArray<float>(points.size());
    std::copy(points.begin(), points.end(), d.points.get());
    d.colors = allocateLargeArray<unsigned char>(points.size());
    std::fill(d.colors.get(), d.colors.get() + points.size(), 0);
    d.bounds.addPoints(d.points.get(), points.size());
    return d;
}

PointValueItem PointValueItem::copyOf(const char *name, const float *from, size_t n)
{
    PointValueItem item;
    item.name = name;
    item.values = allocateLargeArray<float>(n);
    std::copy(from, from + n, item.values.get());
    item.measure(n);
    return item;
}

void PointValueItem::measure(size_t n)
{
    PointBounds range;
    if (values)
        range.addValues(values.get(), n);
    lo = range.valueLo;
    hi = range.valueHi;
}

PointListData PointListReader::fromRecord(const PointListRecord *r)
{
    if (!r)
        refuse("no point cloud handed over");
    if (r->nPoints <= 0)
        refuse("point count %d handed over, a cloud needs at least one point", r->nPoints);
    if (!r->points)
        refuse("%d points handed over without coordinates", r->nPoints);
    PointListData d;
    d.nPoints = r->nPoints;
    const size_t n = static_cast<size_t>(r->nPoints);
    d.points = allocateLargeArray<float>(3 * n);
    std::copy(r->points, r->points + 3 * n, d.points.get());
    if (r->values) {
        d.values = allocateLargeArray<float>(n);
        std::copy(r->values, r->values + n, d.values.get());
        if (r->valueName)
            d.valueName = r->valueName;
    }
    if (r->colors || !r->values) {
        d.colors = allocateLargeArray<unsigned char>(3 * n);
        if (r->colors)
            std::copy(r->colors, r->colors + 3 * n, d.colors.get());
        else
            std::fill(d.colors.get(), d.colors.get() + 3 * n, 0);
    }
    d.bounds.addPoints(d.points.get(), 3 * n);
    if (d.values)
        d.bounds.addValues(d.values.get(), n);
    return d;
}
