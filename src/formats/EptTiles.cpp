#include "formats/TileFormats.h"

#include "formats/EptReader.h"
#include "formats/LasReader.h"
#include "formats/LasRecords.h"
#include "formats/LittleEndian.h"
#include "math/Messages.h"
#include "math/Parallel.h"

#include <zstd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

// Metadata and hierarchy files are small; one of more bytes is not one of them.
constexpr uint64_t kMostText = uint64_t(64) << 20;
constexpr size_t kLasHeaderBytes = 375;

double readValue(const unsigned char *b, const EptDimension &d)
{
    double v = 0;
    if (d.type == EptDimension::Float) {
        if (d.size == 4) {
            float f;
            std::memcpy(&f, b, 4);
            v = f;
        } else {
            std::memcpy(&v, b, 8);
        }
    } else {
        uint64_t u = 0;
        for (unsigned k = 0; k < d.size; ++k)
            u |= static_cast<uint64_t>(b[k]) << (8 * k);
        if (d.type == EptDimension::Signed && d.size < 8 && (u >> (8 * d.size - 1)) & 1)
            u |= ~uint64_t(0) << (8 * d.size);
        v = d.type == EptDimension::Signed ? static_cast<double>(static_cast<int64_t>(u)) : static_cast<double>(u);
    }
    return v * d.scale + d.offset;
}

std::vector<std::string> namesOf(const EptMetadata &m)
{
    std::vector<std::string> names;
    for (const EptDimension &d : m.schema)
        names.push_back(d.name);
    return names;
}

class EptTiles final : public PointTiles {
public:
    EptTiles(const std::string &eptJson, Access access);

protected:
    PointListData decode(size_t i, std::string &bytes) override;
    double firstGpsTime(size_t i) override;

private:
    void readHierarchy(const std::string &folder);
    PointListData decodeRecords(size_t i, const unsigned char *b, size_t n);
    EptMetadata meta;
};

} // namespace

std::unique_ptr<PointTiles> openEptTiles(const std::string &eptJson, PointTiles::Access access)
{
    return std::make_unique<EptTiles>(eptJson, std::move(access));
}

EptTiles::EptTiles(const std::string &eptJson, Access a) : PointTiles("EPT", eptJson, std::move(a))
{
    const std::string folder = RangeFile::folderOf(eptJson);
    meta = EptMetadata::parse(RangeFile(eptJson, access.pool).readAll(kMostText));
    if (!meta.hasBounds)
        fail("ept.json has no cube (\"bounds\")");
    for (int k = 0; k < 3; ++k)
        lo[k] = meta.bounds[k];
    size = std::max({meta.bounds[3] - meta.bounds[0], meta.bounds[4] - meta.bounds[1], meta.bounds[5] - meta.bounds[2]});
    setSpacing(size / meta.span);
    hasBox = meta.hasConforming;
    for (int k = 0; k < 3; ++k) {
        boxLo[k] = meta.conforming[k];
        boxHi[k] = meta.conforming[k + 3];
    }
    // A LAZ node gives what the LAS reader makes of its records: the LAS fields, then the
    // extra bytes, which the schema names as their descriptors do.
    items = TileItems::names(namesOf(meta));
    colours = std::count_if(meta.schema.begin(), meta.schema.end(), [](const EptDimension &d) {
                  return d.name == "Red" || d.name == "Green" || d.name == "Blue";
              }) == 3;
    readHierarchy(folder);
    link();
    const std::vector<TileItems::Role> roles = TileItems::roles(namesOf(meta));
    const auto gps = std::find(roles.begin(), roles.end(), TileItems::GpsTime);
    const EptDimension *time = gps == roles.end() ? nullptr : &meta.schema[static_cast<size_t>(gps - roles.begin())];
    fixGpsTime(time ? time->minimum * time->scale + time->offset : NAN);
    if (meta.points != 0 && meta.points != total)
        msg::warning("GLPointListObject: %s: the hierarchy holds %llu points, ept.json says %llu\n", eptJson.c_str(),
                     static_cast<unsigned long long>(total), static_cast<unsigned long long>(meta.points));
}

void EptTiles::readHierarchy(const std::string &folder)
{
    const char *extension = meta.dataType == EptMetadata::Laszip ? ".laz"
                            : meta.dataType == EptMetadata::Binary ? ".bin"
                                                                   : ".zst";
    std::vector<std::string> pages{"0-0-0-0"};
    std::set<std::string> seen;
    while (!pages.empty()) {
        // The pages named so far are read at once: over a network each is a request of its own.
        std::vector<std::string> level;
        for (const std::string &p : pages)
            if (seen.insert(p).second)
                level.push_back(p);
        pages.clear();
        std::vector<std::string> texts(level.size());
        Parallel::split(level.size(), 0, [&](unsigned, size_t begin, size_t end) {
            for (size_t k = begin; k < end; ++k)
                texts[k] = RangeFile(folder + "/ept-hierarchy/" + level[k] + ".json", access.pool).readAll(kMostText);
        });
        for (const std::string &text : texts)
            for (const auto &[key, count] : EptReader::parseHierarchy(text, pages)) {
                TileNode n;
                std::sscanf(key.c_str(), "%d-%d-%d-%d", &n.level, &n.x, &n.y, &n.z);
                n.points = static_cast<uint64_t>(count);
                n.file = addFile(folder + "/ept-data/" + key + extension);
                all.push_back(n);
            }
    }
}

PointListData EptTiles::decodeRecords(size_t i, const unsigned char *b, size_t n)
{
    const std::vector<int> slot = TileItems::slots(namesOf(meta));
    const std::vector<TileItems::Role> role = TileItems::roles(namesOf(meta));
    int axis[3] = {-1, -1, -1}, rgb[3] = {-1, -1, -1};
    std::vector<size_t> at(meta.schema.size());
    for (size_t k = 0, o = 0; k < meta.schema.size(); o += meta.schema[k].size, ++k) {
        at[k] = o;
        const std::string &dim = meta.schema[k].name;
        for (int c = 0; c < 3; ++c) {
            if (dim == std::string(1, static_cast<char>('X' + c)))
                axis[c] = static_cast<int>(k);
            if (dim == (c == 0 ? "Red" : c == 1 ? "Green" : "Blue"))
                rgb[c] = static_cast<int>(k);
        }
    }
    PointListData d = blankNode(i, n);
    for (size_t p = 0; p < n; ++p, b += meta.recordBytes) {
        for (int c = 0; c < 3; ++c)
            d.points[3 * p + c] =
                static_cast<float>(readValue(b + at[axis[c]], meta.schema[axis[c]]) - d.origin[c]);
        for (size_t k = 0; k < meta.schema.size(); ++k)
            if (slot[k] >= 0) {
                const double v = readValue(b + at[k], meta.schema[k]);
                d.items[static_cast<size_t>(slot[k])].values[p] =
                    role[k] == TileItems::GpsTime ? gpsValue(v) : static_cast<float>(v);
            }
        for (int c = 0; colours && c < 3; ++c) {
            const EptDimension &dim = meta.schema[rgb[c]];
            const double v = readValue(b + at[rgb[c]], dim);
            // 16-bit colours as LAS stores them; a schema of bytes is taken as it is.
            const double byte = dim.size > 1 ? v / 257.0 : v;
            d.colors[3 * p + c] = static_cast<unsigned char>(std::clamp(std::lround(byte), 0L, 255L));
        }
    }
    d.bounds.addPoints(d.points.get(), 3 * n);
    TileItems::setRanges(d);
    return d;
}

double EptTiles::firstGpsTime(size_t i)
{
    RangeFile &f = *files[all[i].file];
    if (meta.dataType == EptMetadata::Binary) {
        const std::vector<TileItems::Role> roles = TileItems::roles(namesOf(meta));
        const std::string first = f.read(0, meta.recordBytes);
        for (size_t k = 0, at = 0; k < roles.size(); at += meta.schema[k].size, ++k)
            if (roles[k] == TileItems::GpsTime)
                return readValue(reinterpret_cast<const unsigned char *>(first.data()) + at, meta.schema[k]);
    }
    if (meta.dataType != EptMetadata::Laszip)
        return NAN;
    const std::string head = f.read(0, static_cast<size_t>(std::min<uint64_t>(f.size(), kLasHeaderBytes)));
    const LasRecords las(head, f.size());
    const unsigned at = LasReader::gpsOffset(las.format());
    double low[3], high[3];
    if (at == 0 || !las.box(low, high))
        return NAN;
    // Either chunked LAZ compressor stores a chunk's first point as it is, after the offset of
    // the chunk table (8 bytes) that starts the points.
    const std::string first = f.read(las.header().offsetToPoints + (las.isCompressed() ? 8 : 0), las.header().recordLength);
    const unsigned char *h = reinterpret_cast<const unsigned char *>(head.data()),
                        *r = reinterpret_cast<const unsigned char *>(first.data());
    // Bytes that are no point (a LAZ file of another layout) lie outside the header's box.
    for (int k = 0; k < 3; ++k) {
        const double v = static_cast<int32_t>(le::u32(r + 4 * k)) * le::f64(h + 131 + 8 * k) + le::f64(h + 155 + 8 * k);
        if (!(v >= low[k] - 1 && v <= high[k] + 1))
            return NAN;
    }
    return le::f64(r + at);
}

PointListData EptTiles::decode(size_t i, std::string &bytes)
{
    const uint64_t count = all[i].points;
    if (meta.dataType == EptMetadata::Laszip) {
        std::unique_ptr<FILE, int (*)(FILE *)> f(fmemopen(&bytes[0], bytes.size(), "rb"), std::fclose);
        if (bytes.empty() || !f)
            fail("an empty LAZ file");
        double reference = gpsBase;
        PointListData d = LasReader::read(f.get(), static_cast<long long>(bytes.size()), nodeLabel(i).c_str(), &reference);
        if (std::isnan(gpsBase)) // only while the hierarchy opens (see fixGpsTime)
            gpsBase = reference;
        matchItems(d);
        return d;
    }
    const uint64_t want = count * meta.recordBytes;
    if (meta.dataType == EptMetadata::Zstandard) {
        const unsigned long long expands = ZSTD_getFrameContentSize(bytes.data(), bytes.size());
        // A frame claims its size: hold it to what so few bytes can expand to first.
        if (expands == ZSTD_CONTENTSIZE_ERROR || expands != want || want / 32768 > bytes.size())
            fail("not a zstandard frame of " + std::to_string(want) + " bytes");
        std::string raw(static_cast<size_t>(want), '\0');
        const size_t got = ZSTD_decompress(&raw[0], raw.size(), bytes.data(), bytes.size());
        if (ZSTD_isError(got) || got != want)
            fail("it does not decompress");
        bytes.swap(raw);
    }
    if (bytes.size() != want)
        fail(std::to_string(bytes.size()) + " bytes, not the " + std::to_string(want) + " of its " +
             std::to_string(count) + " points");
    return decodeRecords(i, reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<size_t>(count));
}
