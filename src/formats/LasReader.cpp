#include "formats/LasReader.h"

#include "formats/HttpRangeReader.h"
#include "formats/LazFile.h"
#include "formats/MeshReader.h"
#include "formats/ReadAll.h"
#include "formats/ReadRefusal.h"
#include "math/Messages.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

constexpr NamedReadRefusal refuse{"GLPointListObject", "LAS file"};

// The shortest record of each point data record format.
constexpr unsigned kRecordLength[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
// Where the RGB triple starts, 0 for formats without one.
constexpr unsigned kRgbAt[11] = {0, 0, 20, 28, 0, 28, 0, 30, 30, 0, 30};

constexpr size_t kHeaderBytes = 375;     // the 1.4 header; older ones are shorter
constexpr size_t kOldHeaderBytes = 227;  // 1.0 to 1.2
constexpr size_t kChunkBytes = size_t(4) << 20;

// Little-endian fields, whatever the machine.
uint16_t u16(const unsigned char *b) { return static_cast<uint16_t>(b[0] | b[1] << 8); }
uint32_t u32(const unsigned char *b)
{
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}
int32_t i32(const unsigned char *b) { return static_cast<int32_t>(u32(b)); }
uint64_t u64(const unsigned char *b) { return static_cast<uint64_t>(u32(b)) | static_cast<uint64_t>(u32(b + 4)) << 32; }
double f64(const unsigned char *b)
{
    const uint64_t bits = u64(b);
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}

struct Header {
    int versionMinor;
    bool compressed;
    const char *kind; // for the note: "LAS", "LAZ" or "COPC"
    unsigned headerSize;
    uint32_t vlrCount;
    unsigned format;
    unsigned recordLength;
    uint64_t offsetToPoints;
    uint64_t count;
    double scale[3], offset[3];
    double lo[3], hi[3];
};

Header parseHeader(const unsigned char *h, size_t got, long long size, const char *name)
{
    if (got < kOldHeaderBytes || std::memcmp(h, "LASF", 4) != 0)
        refuse(name, "not an ASPRS LAS file (no complete header after the \"LASF\" signature)");
    Header r;
    if (h[24] != 1 || h[25] > 4)
        refuse(name, "LAS version %u.%u, only 1.0 to 1.4 are read", h[24], h[25]);
    r.versionMinor = h[25];
    const unsigned headerSize = r.headerSize = u16(h + 94);
    r.offsetToPoints = u32(h + 96);
    r.vlrCount = u32(h + 100);
    const unsigned rawFormat = h[104];
    // LASzip marks its files by the top bits of the format.
    const bool compressed = r.compressed = (rawFormat & 0xC0) != 0;
    r.kind = "LAS";
    r.format = rawFormat & 0x3F;
    if (r.format > 10)
        refuse(name, "point data record format %u, only 0 to 10 are read", r.format);
    r.recordLength = u16(h + 105);
    if (r.recordLength < kRecordLength[r.format])
        refuse(name, "records of %u bytes are too short for point format %u (%u bytes)", r.recordLength, r.format,
               kRecordLength[r.format]);
    if (headerSize < kOldHeaderBytes || headerSize > r.offsetToPoints)
        refuse(name, "header size %u and point offset %llu do not fit together", headerSize,
               static_cast<unsigned long long>(r.offsetToPoints));
    r.count = u32(h + 107);
    if (r.versionMinor >= 4 && headerSize >= kHeaderBytes && got >= kHeaderBytes) {
        const uint64_t wide = u64(h + 247);
        if (wide != 0)
            r.count = wide;
    }
    for (int k = 0; k < 3; ++k) {
        r.scale[k] = f64(h + 131 + 8 * k);
        r.offset[k] = f64(h + 155 + 8 * k);
        r.hi[k] = f64(h + 179 + 16 * k);
        r.lo[k] = f64(h + 187 + 16 * k);
        if (!std::isfinite(r.scale[k]) || !std::isfinite(r.offset[k]))
            refuse(name, "scale or offset is not a number");
    }
    if (r.count == 0)
        refuse(name, "no point in the file");
    if (r.count > static_cast<uint64_t>(INT_MAX))
        refuse(name, "%llu points, more than a cloud can hold", static_cast<unsigned long long>(r.count));
    if (size >= 0 && !compressed) {
        const uint64_t have = static_cast<uint64_t>(size);
        const uint64_t whole = r.offsetToPoints > have ? 0 : (have - r.offsetToPoints) / r.recordLength;
        if (whole == 0)
            refuse(name, "%llu points of %u bytes from byte %llu need more than the file's %lld bytes",
                   static_cast<unsigned long long>(r.count), r.recordLength,
                   static_cast<unsigned long long>(r.offsetToPoints), size);
        // A copy that stopped early still holds whole records worth showing.
        if (whole < r.count) {
            msg::warning("GLPointListObject: %s: the file ends inside its points: %llu of %llu points read\n", name,
                         static_cast<unsigned long long>(whole), static_cast<unsigned long long>(r.count));
            r.count = whole;
        }
    }
    return r;
}

// The centre of the header's box when it is one, so that the floats are small.
bool headerCentre(const Header &h, double *c)
{
    for (int k = 0; k < 3; ++k) {
        if (!std::isfinite(h.lo[k]) || !std::isfinite(h.hi[k]) || h.lo[k] > h.hi[k])
            return false;
        c[k] = 0.5 * (h.lo[k] + h.hi[k]);
    }
    return true;
}

// Where the GPS time starts, 0 for formats without one.
constexpr unsigned kGpsAt[11] = {0, 20, 0, 20, 20, 20, 22, 22, 22, 22, 22};

// One value of the extra bytes after the format's fields, as an extra-bytes descriptor (record
// 4 of "LASF_Spec") types it: `type` 1 to 10 (unsigned and signed integers of 1, 2, 4 and 8
// bytes, float, double) at `at` in the record, then scaled and offset when the options say so.
struct ExtraField {
    std::string name;
    unsigned type, at;
    double scale = 1, offset = 0;
};

constexpr unsigned kExtraTypeBytes[11] = {0, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};

double extraValue(const unsigned char *b, unsigned type)
{
    switch (type) {
    case 1: return b[0];
    case 2: return static_cast<int8_t>(b[0]);
    case 3: return u16(b);
    case 4: return static_cast<int16_t>(u16(b));
    case 5: return u32(b);
    case 6: return i32(b);
    case 7: return static_cast<double>(u64(b));
    case 8: return static_cast<double>(static_cast<int64_t>(u64(b)));
    case 9: {
        const uint32_t bits = u32(b);
        float v;
        std::memcpy(&v, &bits, 4);
        return v;
    }
    default: return f64(b);
    }
}

// The fields the descriptors in `vlrs` (the variable-length records, `size` bytes) give to the
// bytes of each record past `base`: in order, as long as they fit in `length`. Arrays of two
// or three (types 11 to 30) become one field for each element; an undocumented run (type 0)
// is skipped by the size its options give.
std::vector<ExtraField> extraFields(const unsigned char *vlrs, size_t size, uint32_t count, unsigned base,
                                    unsigned length)
{
    std::vector<ExtraField> fields;
    size_t at = 0;
    unsigned used = base;
    for (uint32_t v = 0; v < count && at + 54 <= size; ++v) {
        const size_t bytes = u16(vlrs + at + 20);
        const bool extra = std::strncmp(reinterpret_cast<const char *>(vlrs + at + 2), "LASF_Spec", 16) == 0 &&
                           u16(vlrs + at + 18) == 4;
        at += 54;
        for (size_t d = at; extra && d + 192 <= std::min(size, at + bytes); d += 192) {
            const unsigned type = vlrs[d + 2], options = vlrs[d + 3];
            const unsigned elements = type == 0 ? 1 : (type - 1) / 10 + 1, scalar = type == 0 ? 0 : (type - 1) % 10 + 1;
            const unsigned each = type == 0 ? std::max(1u, options) : kExtraTypeBytes[scalar];
            if (type > 30 || used + elements * each > length)
                break;
            const std::string name(reinterpret_cast<const char *>(vlrs + d + 4), strnlen(reinterpret_cast<const char *>(vlrs + d + 4), 32));
            for (unsigned e = 0; type != 0 && e < elements; ++e) {
                ExtraField f{name.empty() ? "extra bytes " + std::to_string(used - base) : name, scalar, used + e * each};
                if (elements > 1)
                    f.name += "[" + std::to_string(e) + "]";
                if (options & 8)
                    f.scale = f64(vlrs + d + 112 + 8 * e);
                if (options & 16)
                    f.offset = f64(vlrs + d + 136 + 8 * e);
                fields.push_back(f);
            }
            used += elements * each;
        }
        at += bytes;
    }
    return fields;
}

// `next(done, want)` gives the records `done` to `done + want`, or fewer, lowering `want` (at
// least one).
using RecordSource = std::function<const unsigned char *(size_t done, size_t &want)>;

// The range of an item's finite values (0 to 0 when there is none).
void itemRange(PointValueItem &item, size_t n)
{
    float lo = INFINITY, hi = -INFINITY;
    for (size_t i = 0; i < n; ++i)
        if (std::isfinite(item.values[i])) {
            lo = std::min(lo, item.values[i]);
            hi = std::max(hi, item.values[i]);
        }
    item.lo = lo <= hi ? lo : 0;
    item.hi = lo <= hi ? hi : 0;
}

// The GPS time becomes an item of seconds after the whole second before the first point's
// (the name gives it, so that floats keep their milliseconds), and each typed extra-bytes
// field one of its own, after the intensity, classification and return number.
PointListData readRecords(const Header &h, const std::vector<ExtraField> &extras, double *gpsReference,
                          const RecordSource &next)
{
    const size_t n = static_cast<size_t>(h.count);
    PointListData d;
    d.nPoints = static_cast<int>(n);
    d.points = allocateLargeArray<float>(3 * n);
    const char *names[3] = {"intensity", "classification", "return number"};
    for (const char *itemName : names) {
        PointValueItem item;
        item.name = itemName;
        item.values = allocateLargeArray<float>(n);
        d.items.push_back(std::move(item));
    }
    const unsigned gpsAt = kGpsAt[h.format];
    const size_t firstExtra = d.items.size() + (gpsAt ? 1 : 0);
    std::vector<std::string> more;
    if (gpsAt)
        more.push_back("GPS time");
    for (const ExtraField &e : extras)
        more.push_back(e.name);
    for (const std::string &title : more) {
        PointValueItem item;
        item.name = title;
        item.values = allocateLargeArray<float>(n);
        d.items.push_back(std::move(item));
    }
    double gpsBase = 0;
    const unsigned rgbAt = kRgbAt[h.format];
    LargeArray<uint16_t> rgb;
    if (rgbAt)
        rgb = allocateLargeArray<uint16_t>(3 * n);
    float *intensity = d.items[0].values.get(), *classification = d.items[1].values.get(),
          *returns = d.items[2].values.get();
    const bool extended = h.format >= 6;
    const bool fromHeader = headerCentre(h, d.origin);
    std::copy(h.scale, h.scale + 3, d.las.scale);
    std::copy(h.offset, h.offset + 3, d.las.offset);
    bool haveOrigin = fromHeader;
    uint16_t brightest = 0;
    unsigned short iLo = 0xFFFF, iHi = 0, cLo = 0xFF, cHi = 0, rLo = 0xFF, rHi = 0;

    const size_t chunkRecords = std::min(n, std::max<size_t>(1, kChunkBytes / h.recordLength));
    size_t done = 0;
    while (done < n) {
        size_t want = std::min(chunkRecords, n - done);
        const unsigned char *b = next(done, want);
        float *p = d.points.get() + 3 * done;
        if (!haveOrigin) {
            for (int k = 0; k < 3; ++k)
                d.origin[k] = i32(b + 4 * k) * h.scale[k] + h.offset[k];
            haveOrigin = true;
        }
        if (gpsAt && done == 0) {
            if (gpsReference && std::isfinite(*gpsReference))
                gpsBase = *gpsReference;
            else
                gpsBase = std::isfinite(f64(b + gpsAt)) ? std::floor(f64(b + gpsAt)) : 0;
            if (gpsReference)
                *gpsReference = gpsBase;
            d.items[3].name = LasReader::gpsTimeName(gpsBase);
        }
        for (size_t i = 0; i < want; ++i, b += h.recordLength, p += 3) {
            for (int k = 0; k < 3; ++k)
                p[k] = static_cast<float>((i32(b + 4 * k) * h.scale[k] + h.offset[k]) - d.origin[k]);
            const size_t at = done + i;
            const unsigned short level = u16(b + 12);
            const unsigned cls = extended ? b[16] : (b[15] & 0x1F);
            const unsigned ret = extended ? (b[14] & 0x0F) : (b[14] & 0x07);
            intensity[at] = level;
            classification[at] = static_cast<float>(cls);
            returns[at] = static_cast<float>(ret);
            iLo = std::min(iLo, level);
            iHi = std::max(iHi, level);
            cLo = std::min<unsigned short>(cLo, cls);
            cHi = std::max<unsigned short>(cHi, cls);
            rLo = std::min<unsigned short>(rLo, ret);
            rHi = std::max<unsigned short>(rHi, ret);
            if (gpsAt)
                d.items[3].values[at] = static_cast<float>(f64(b + gpsAt) - gpsBase);
            for (size_t k = 0; k < extras.size(); ++k)
                d.items[firstExtra + k].values[at] =
                    static_cast<float>(extraValue(b + extras[k].at, extras[k].type) * extras[k].scale + extras[k].offset);
            if (rgbAt) {
                uint16_t *c = rgb.get() + 3 * at;
                for (int k = 0; k < 3; ++k) {
                    c[k] = u16(b + rgbAt + 2 * k);
                    brightest = std::max(brightest, c[k]);
                }
            }
        }
        d.bounds.addPoints(d.points.get() + 3 * done, 3 * want);
        done += want;
    }
    d.items[0].lo = iLo;
    d.items[0].hi = iHi;
    d.items[1].lo = cLo;
    d.items[1].hi = cHi;
    d.items[2].lo = rLo;
    d.items[2].hi = rHi;
    for (size_t k = 3; k < d.items.size(); ++k)
        itemRange(d.items[k], n);
    if (rgbAt) {
        d.colors = allocateLargeArray<unsigned char>(3 * n);
        const uint16_t *c = rgb.get();
        unsigned char *out = d.colors.get();
        // Some writers fill only the low byte: the range decides.
        if (brightest <= 255)
            for (size_t i = 0; i < 3 * n; ++i)
                out[i] = static_cast<unsigned char>(c[i]);
        else
            for (size_t i = 0; i < 3 * n; ++i)
                out[i] = static_cast<unsigned char>((c[i] * 255u + 32767u) / 65535u);
    }
    msg::note("%s %d.%d, point format %u: %d points around [%.3f %.3f %.3f]\n", h.kind, 1,
              h.versionMinor, h.format, d.nPoints, d.origin[0], d.origin[1], d.origin[2]);
    return d;
}

// The pool given, else one of the read's own.
std::shared_ptr<HttpRangeReader::Pool> ownPool(std::shared_ptr<HttpRangeReader::Pool> pool)
{
    return pool ? pool : std::make_shared<HttpRangeReader::Pool>();
}

} // namespace

bool LasReader::hasSignature(const char *path)
{
    if (!path)
        return false;
    if (HttpRangeReader::isRemote(path)) {
        // Its first bytes; a server that does not give them is this reader's to report.
        try {
            return HttpRangeReader(path).read(0, 4) == "LASF";
        } catch (const std::runtime_error &) {
            return true;
        }
    }
    if (std::strstr(path, "://"))
        return false;
    FILE *f = std::fopen(path, "rb");
    if (!f)
        return false;
    char sig[4] = {0, 0, 0, 0};
    const bool las = std::fread(sig, 1, 4, f) == 4 && std::memcmp(sig, "LASF", 4) == 0;
    std::fclose(f);
    return las;
}

PointListData LasReader::read(const char *path, std::shared_ptr<HttpRangeReader::Pool> pool)
{
    // Files on web servers come in byte ranges, several at once.
    if (HttpRangeReader::isRemote(path)) {
        std::string bytes;
        try {
            bytes = HttpRangeReader(path, ownPool(std::move(pool))).readAll();
        } catch (const std::bad_alloc &) {
            refuse(path, "no memory for the file");
        } catch (const std::runtime_error &e) {
            // The reader's texts name the address already.
            const std::string why = e.what(), named = std::string(path) + ": ";
            refuse(path, "%s", why.compare(0, named.size(), named) == 0 ? why.c_str() + named.size() : why.c_str());
        }
        if (bytes.empty())
            refuse(path, "empty file");
        std::unique_ptr<FILE, int (*)(FILE *)> m(fmemopen(&bytes[0], bytes.size(), "rb"), std::fclose);
        if (!m)
            refuse(path, "can't read file");
        return read(m.get(), static_cast<long long>(bytes.size()), path);
    }
    return readOpened(path, [path](FILE *f) { return read(f, MeshReader::fileSize(f), path); });
}

unsigned LasReader::gpsOffset(unsigned format) { return format <= 10 ? kGpsAt[format] : 0; }

std::string LasReader::gpsTimeName(double reference)
{
    char title[64];
    std::snprintf(title, sizeof title, "GPS time (s after %.0f)", reference);
    return title;
}

std::vector<std::string> LasReader::itemNames(const std::string &head)
{
    const unsigned char *h = reinterpret_cast<const unsigned char *>(head.data());
    std::vector<std::string> names = {"intensity", "classification", "return number"};
    if (head.size() < kOldHeaderBytes || (h[104] & 0x3F) > 10)
        return names;
    const unsigned format = h[104] & 0x3F, headerSize = u16(h + 94);
    if (kGpsAt[format])
        names.push_back("GPS time");
    const size_t end = std::min<size_t>(head.size(), u32(h + 96));
    if (end > headerSize)
        for (const ExtraField &e :
             extraFields(h + headerSize, end - headerSize, u32(h + 100), kRecordLength[format], u16(h + 105)))
            names.push_back(e.name);
    return names;
}

PointListData LasReader::read(FILE *f, long long size, const char *name, double *gpsReference)
{
    if (size < 0) {
        // A pipe: the counts can only be checked against what is there.
        std::vector<unsigned char> bytes = readAll<unsigned char>(f);
        if (bytes.empty())
            refuse(name, "empty file");
        std::unique_ptr<FILE, int (*)(FILE *)> m(fmemopen(bytes.data(), bytes.size(), "rb"), std::fclose);
        if (!m)
            refuse(name, "can't read file");
        return read(m.get(), static_cast<long long>(bytes.size()), name, gpsReference);
    }
    unsigned char h[kHeaderBytes];
    std::memset(h, 0, sizeof h);
    const size_t got = std::fread(h, 1, sizeof h, f);
    const Header header = parseHeader(h, got, size, name);
    // The variable-length records, for the extra-bytes descriptors: only as far as the file goes.
    std::vector<unsigned char> vlrs;
    long at = static_cast<long>(got); // from the signature
    if (header.recordLength > kRecordLength[header.format]) {
        const uint64_t end = std::min<uint64_t>(header.offsetToPoints, static_cast<uint64_t>(size));
        vlrs.resize(end > header.headerSize ? static_cast<size_t>(end - header.headerSize) : 0);
        if (!vlrs.empty() && (std::fseek(f, static_cast<long>(header.headerSize) - at, SEEK_CUR) != 0 ||
                              std::fread(vlrs.data(), 1, vlrs.size(), f) != vlrs.size()))
            refuse(name, "can't read the variable-length records");
        if (!vlrs.empty())
            at = static_cast<long>(header.headerSize + vlrs.size());
    }
    const std::vector<ExtraField> extras =
        extraFields(vlrs.data(), vlrs.size(), header.vlrCount, kRecordLength[header.format], header.recordLength);
    if (std::fseek(f, static_cast<long>(header.offsetToPoints) - at, SEEK_CUR) != 0)
        refuse(name, "can't reach the points at byte %llu", static_cast<unsigned long long>(header.offsetToPoints));
    if (header.compressed) {
        // The chunks are decoded a batch at a time, as the points are converted: the whole
        // file's records are never held at once.
        std::optional<LazFile::Batches> batches;
        const auto lazRefusal = [&](const auto &step) {
            try {
                return step();
            } catch (const std::bad_alloc &) {
                refuse(name, "no memory for %llu points", static_cast<unsigned long long>(header.count));
            } catch (const std::runtime_error &e) {
                refuse(name, "%s", e.what());
            }
        };
        lazRefusal([&] {
            batches.emplace(f, size,
                            LazFile::Header{header.headerSize, header.vlrCount, header.offsetToPoints,
                                            header.recordLength, header.count});
        });
        Header read = header;
        read.kind = batches->summary().copc ? "COPC" : "LAZ";
        return readRecords(read, extras, gpsReference, [&](size_t done, size_t &want) {
            return lazRefusal([&] { return batches->records(done, want); });
        });
    }
    std::vector<unsigned char> chunk(std::min(static_cast<size_t>(header.count), kChunkBytes / header.recordLength + 1) *
                                     header.recordLength);
    return readRecords(header, extras, gpsReference, [&](size_t done, size_t &want) {
        if (std::fread(chunk.data(), header.recordLength, want, f) != want)
            refuse(name, "the file ends inside point %zu", done + want);
        return chunk.data();
    });
}
