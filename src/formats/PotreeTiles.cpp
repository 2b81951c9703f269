#include "formats/TileFormats.h"

#include "formats/LittleEndian.h"
#include "formats/PointLodCells.h"

#include <brotli/decode.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <stdexcept>
#include <tuple>

namespace {

using Json = nlohmann::json;

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

constexpr size_t kNodeBytes = 22;
constexpr uint64_t kMostText = uint64_t(64) << 20;
// A node decoded to more than this is no node of a cloud meant to be streamed.
constexpr uint64_t kMostDecoded = uint64_t(256) << 20;

using le::u32;
using le::u64;

struct Attribute {
    std::string name, type;
    unsigned size, elements, elementSize;
    size_t at;      ///< where it starts in a DEFAULT record
    unsigned coded; ///< its bytes a point in the BROTLI encoding
};

double element(const unsigned char *b, const Attribute &a)
{
    const std::string &t = a.type;
    if (t == "float" || t == "double") {
        if (a.elementSize == 4) {
            float f;
            std::memcpy(&f, b, 4);
            return f;
        }
        double d;
        std::memcpy(&d, b, 8);
        return d;
    }
    uint64_t u = 0;
    for (unsigned k = 0; k < a.elementSize; ++k)
        u |= static_cast<uint64_t>(b[k]) << (8 * k);
    if (t[0] == 'i' && a.elementSize < 8 && (u >> (8 * a.elementSize - 1)) & 1)
        u |= ~uint64_t(0) << (8 * a.elementSize);
    return t[0] == 'i' ? static_cast<double>(static_cast<int64_t>(u)) : static_cast<double>(u);
}

unsigned typeBytes(const std::string &t)
{
    if (t == "int8" || t == "uint8")
        return 1;
    if (t == "int16" || t == "uint16")
        return 2;
    if (t == "int32" || t == "uint32" || t == "float")
        return 4;
    if (t == "int64" || t == "uint64" || t == "double")
        return 8;
    return 0;
}

// Every third bit of a 48-bit Morton code, from bit 0 on: one 16-bit coordinate.
uint32_t compact16(uint64_t m)
{
    return PointLodCells::compact(static_cast<uint32_t>(m & 0x3FFFFFFF)) |
           PointLodCells::compact(static_cast<uint32_t>((m >> 30) & 0x3FFFF)) << 10;
}

Json parseJson(const std::string &text)
{
    try {
        return Json::parse(text);
    } catch (const Json::exception &e) {
        fail(std::string("metadata.json is not JSON: ") + e.what());
    }
}

class PotreeTiles final : public PointTiles {
public:
    PotreeTiles(const std::string &metadataJson, Access access);

protected:
    PointListData decode(size_t i, std::string &bytes) override;

private:
    std::vector<Attribute> attributes;
    size_t recordBytes = 0, codedBytes = 0;
    bool brotli = false;
    double scale[3] = {1, 1, 1}, offset[3] = {0, 0, 0};
};

} // namespace

std::unique_ptr<PointTiles> openPotreeTiles(const std::string &metadataJson, PointTiles::Access access)
{
    return std::make_unique<PotreeTiles>(metadataJson, std::move(access));
}

std::vector<TileNode> parsePotreeHierarchy(const unsigned char *data, size_t size, uint64_t firstChunk)
{
    struct Chunk {
        uint64_t offset, bytes;
        TileNode key;
    };
    std::vector<TileNode> nodes;
    std::vector<Chunk> chunks{{0, firstChunk, TileNode()}};
    std::set<uint64_t> seen;
    while (!chunks.empty()) {
        const Chunk c = chunks.back();
        chunks.pop_back();
        if (c.offset > size || c.bytes > size - c.offset || c.bytes % kNodeBytes != 0)
            fail("a hierarchy chunk of " + std::to_string(c.bytes) + " bytes at byte " + std::to_string(c.offset) +
                 " is not whole nodes inside hierarchy.bin");
        // A proxy pointing back at a chunk already read would loop.
        if (!seen.insert(c.offset).second)
            fail("the hierarchy reaches the chunk at byte " + std::to_string(c.offset) + " twice");
        // Breadth first: the records after the chunk's first are the children its masks name.
        std::vector<TileNode> keys{c.key};
        for (size_t r = 0; r < c.bytes / kNodeBytes; ++r) {
            const unsigned char *e = data + c.offset + r * kNodeBytes;
            if (r >= keys.size())
                fail("the hierarchy chunk at byte " + std::to_string(c.offset) + " has more nodes than its masks name");
            TileNode n = keys[r];
            const unsigned type = e[0], mask = e[1];
            n.points = u32(e + 2);
            n.offset = u64(e + 6);
            n.bytes = u64(e + 14);
            if (type > 2)
                fail("hierarchy node type " + std::to_string(type) + " is not known");
            if (n.level >= 30 && mask != 0)
                fail("the hierarchy is deeper than 30 levels");
            if (type == 2) {
                chunks.push_back({n.offset, n.bytes, n});
                continue;
            }
            for (int b = 0; b < 8; ++b)
                if (mask >> b & 1) {
                    TileNode child;
                    child.level = n.level + 1;
                    child.x = 2 * n.x + (b >> 2 & 1);
                    child.y = 2 * n.y + (b >> 1 & 1);
                    child.z = 2 * n.z + (b & 1);
                    keys.push_back(child);
                }
            if (n.points > 0)
                nodes.push_back(n);
        }
    }
    return nodes;
}

PotreeTiles::PotreeTiles(const std::string &metadataJson, Access a) : PointTiles("Potree 2.0", metadataJson, std::move(a))
{
    const std::string folder = RangeFile::folderOf(metadataJson);
    const Json j = parseJson(RangeFile(metadataJson, access.pool).readAll(kMostText));
    if (!j.is_object() || !j.contains("attributes") || !j["attributes"].is_array() || !j.contains("hierarchy") ||
        !j["hierarchy"].is_object() || !j["hierarchy"].contains("firstChunkSize") ||
        !j["hierarchy"]["firstChunkSize"].is_number_unsigned() || !j.contains("scale") || !j.contains("offset"))
        fail("metadata.json has no \"attributes\", \"hierarchy\", \"scale\" and \"offset\" of a Potree 2.0 cloud");
    const std::string encoding = j.value("encoding", std::string("DEFAULT"));
    if (encoding != "DEFAULT" && encoding != "BROTLI")
        fail("the " + encoding + " encoding is not read (DEFAULT and BROTLI are)");
    brotli = encoding == "BROTLI";
    const Json &s = j["scale"], &o = j["offset"];
    for (int k = 0; k < 3; ++k) {
        if (!s.is_array() || !o.is_array() || s.size() != 3 || o.size() != 3 || !s[k].is_number() || !o[k].is_number())
            fail("metadata.json's scale and offset are not three numbers each");
        scale[k] = s[k];
        offset[k] = o[k];
    }
    std::vector<std::string> names;
    for (const Json &e : j["attributes"]) {
        if (!e.is_object() || !e.contains("name") || !e["name"].is_string() || !e.contains("type") ||
            !e["type"].is_string() || !e.contains("size") || !e["size"].is_number_unsigned())
            fail("an attribute without name, type and size");
        Attribute at{e["name"], e["type"], e["size"].get<unsigned>(), e.value("numElements", 1u), 0, recordBytes, 0};
        at.elementSize = typeBytes(at.type);
        if (at.elementSize == 0 || at.elements == 0 || at.elements > 16 || at.size != at.elements * at.elementSize)
            fail("attribute " + at.name + " of type " + at.type + " and size " + std::to_string(at.size));
        const TileItems::Role role = TileItems::roleOf(at.name);
        if ((role == TileItems::Position || role == TileItems::Colour) && at.elements != 3)
            fail("attribute " + at.name + " has " + std::to_string(at.elements) + " elements, not 3");
        at.coded = !brotli ? at.size : role == TileItems::Position ? 16 : role == TileItems::Colour ? 8 : at.size;
        recordBytes += at.size;
        codedBytes += at.coded;
        attributes.push_back(at);
        names.push_back(at.name);
    }
    if (std::none_of(attributes.begin(), attributes.end(),
                     [](const Attribute &at) { return TileItems::roleOf(at.name) == TileItems::Position; }))
        fail("no \"position\" attribute of three elements");
    colours = std::any_of(attributes.begin(), attributes.end(),
                          [](const Attribute &at) { return TileItems::roleOf(at.name) == TileItems::Colour; });
    items = TileItems::names(names);
    // PotreeConverter gives each attribute's least value.
    double gpsMinimum = NAN;
    for (const Json &e : j["attributes"])
        if (TileItems::roleOf(e["name"]) == TileItems::GpsTime && std::isnan(gpsMinimum)) {
            const Json &least = e.contains("min") ? e["min"] : Json();
            gpsMinimum = least.is_array() && !least.empty() && least[0].is_number() ? least[0].get<double>() : INFINITY;
        }
    const Json &box = j.contains("boundingBox") ? j["boundingBox"] : Json();
    if (!box.is_object() || !box.contains("min") || !box.contains("max") || !box["min"].is_array() ||
        !box["max"].is_array() || box["min"].size() != 3 || box["max"].size() != 3)
        fail("metadata.json has no \"boundingBox\" of min and max");
    size = 0;
    for (int k = 0; k < 3; ++k) {
        if (!box["min"][k].is_number() || !box["max"][k].is_number())
            fail("metadata.json's \"boundingBox\" is not numbers");
        lo[k] = box["min"][k];
        size = std::max(size, box["max"][k].get<double>() - lo[k]);
    }
    if (j.contains("spacing") && j["spacing"].is_number())
        setSpacing(j["spacing"].get<double>());

    const std::string hierarchy = RangeFile(folder + "/hierarchy.bin", access.pool).readAll(uint64_t(1) << 32);
    all = parsePotreeHierarchy(reinterpret_cast<const unsigned char *>(hierarchy.data()), hierarchy.size(),
                         j["hierarchy"]["firstChunkSize"].get<uint64_t>());
    addFile(folder + "/octree.bin");
    const uint64_t octreeSize = files[0]->size();
    for (const TileNode &n : all)
        if ((!brotli && n.bytes != n.points * recordBytes) || (brotli && n.bytes == 0) || n.offset > octreeSize ||
            n.bytes > octreeSize - n.offset)
            fail("a node of " + std::to_string(n.points) + " points has " + std::to_string(n.bytes) + " bytes at byte " +
                 std::to_string(n.offset) + " of octree.bin");
    link();
    fixGpsTime(std::isfinite(gpsMinimum) ? gpsMinimum : NAN);
}

PointListData PotreeTiles::decode(size_t i, std::string &bytes)
{
    const size_t n = static_cast<size_t>(all[i].points);
    if (brotli) {
        const uint64_t want = static_cast<uint64_t>(n) * codedBytes;
        if (want > kMostDecoded)
            fail(std::to_string(n) + " points, more than a node holds");
        std::string raw(static_cast<size_t>(want), '\0');
        size_t got = raw.size();
        if (BrotliDecoderDecompress(bytes.size(), reinterpret_cast<const uint8_t *>(bytes.data()), &got,
                                    reinterpret_cast<uint8_t *>(&raw[0])) != BROTLI_DECODER_RESULT_SUCCESS ||
            got != want)
            fail("not a Brotli stream of " + std::to_string(want) + " bytes");
        bytes.swap(raw);
    } else if (bytes.size() != n * recordBytes) {
        fail(std::to_string(bytes.size()) + " bytes, not the " + std::to_string(n * recordBytes) + " of its points");
    }
    const unsigned char *b = reinterpret_cast<const unsigned char *>(bytes.data());
    // Where element e of attribute a of point p lies, in either encoding.
    std::vector<size_t> column(attributes.size());
    for (size_t k = 0, at = 0; k < attributes.size(); at += n * attributes[k].coded, ++k)
        column[k] = at;
    auto where = [&](size_t a, size_t p) {
        return brotli ? b + column[a] + p * attributes[a].coded : b + p * recordBytes + attributes[a].at;
    };
    PointListData d = blankNode(i, n);
    std::vector<uint16_t> rgb(colours ? 3 * n : 0);
    std::vector<std::string> names;
    for (const Attribute &a : attributes)
        names.push_back(a.name);
    const std::vector<int> slot = TileItems::slots(names);
    const std::vector<TileItems::Role> roles = TileItems::roles(names);
    for (size_t a = 0; a < attributes.size(); ++a) {
        const Attribute &at = attributes[a];
        const TileItems::Role role = roles[a];
        for (size_t p = 0; p < n; ++p) {
            const unsigned char *e = where(a, p);
            if (role == TileItems::Position) {
                for (int k = 0; k < 3; ++k) {
                    const double v = brotli ? static_cast<int32_t>(compact16(u64(e + 8) >> k) | compact16(u64(e) >> k) << 16)
                                            : element(e + k * at.elementSize, at);
                    d.points[3 * p + k] = static_cast<float>(v * scale[k] + offset[k] - d.origin[k]);
                }
            } else if (role == TileItems::Colour) {
                for (int k = 0; k < 3; ++k)
                    rgb[3 * p + k] = static_cast<uint16_t>(
                        brotli ? compact16(u64(e) >> k) : std::clamp(element(e + k * at.elementSize, at), 0.0, 65535.0));
            } else if (role == TileItems::GpsTime) {
                d.items[static_cast<size_t>(slot[a])].values[p] = gpsValue(element(e, at));
            } else if (slot[a] >= 0) {
                d.items[static_cast<size_t>(slot[a])].values[p] = static_cast<float>(element(e, at));
            }
        }
    }
    if (colours) {
        // Some writers keep 8-bit colours in the 16-bit attribute: the range decides.
        const uint16_t brightest = rgb.empty() ? 0 : *std::max_element(rgb.begin(), rgb.end());
        if (brightest > 255)
            wideColours = true;
        const bool wide = wideColours;
        for (size_t p = 0; p < 3 * n; ++p)
            d.colors[p] = static_cast<unsigned char>(wide ? (rgb[p] * 255u + 32767u) / 65535u : rgb[p]);
    }
    d.bounds.addPoints(d.points.get(), 3 * n);
    TileItems::setRanges(d);
    return d;
}
