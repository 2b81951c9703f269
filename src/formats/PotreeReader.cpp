#include "formats/PotreeReader.h"

#include "formats/ReadRefusal.h"
#include "math/Messages.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>

namespace {

constexpr NamedReadRefusal refuse{"GLPointListObject", "metadata.json"};
using Json = nlohmann::json;

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

constexpr size_t kNodeBytes = 22;
constexpr uintmax_t kMostText = uintmax_t(64) << 20;

std::string fileBytes(const std::string &path, uintmax_t most)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail("can't read " + path);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<uintmax_t>(size) > most)
        fail(path + " is larger than this reader takes");
    in.seekg(0);
    std::string s(static_cast<size_t>(size), '\0');
    in.read(&s[0], size);
    if (in.gcount() != size)
        fail("can't read " + path);
    return s;
}

uint32_t u32(const unsigned char *b)
{
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}
uint64_t u64(const unsigned char *b) { return static_cast<uint64_t>(u32(b)) | static_cast<uint64_t>(u32(b + 4)) << 32; }

struct Attribute {
    std::string name, type;
    unsigned size, elements, elementSize;
    size_t at;
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

} // namespace

std::vector<PotreeNode> PotreeReader::parseHierarchy(const unsigned char *data, size_t size, uint64_t firstChunk)
{
    std::vector<PotreeNode> nodes;
    std::vector<std::pair<uint64_t, uint64_t>> chunks{{0, firstChunk}};
    std::set<uint64_t> seen;
    while (!chunks.empty()) {
        const auto [offset, bytes] = chunks.back();
        chunks.pop_back();
        if (offset > size || bytes > size - offset || bytes % kNodeBytes != 0)
            fail("a hierarchy chunk of " + std::to_string(bytes) + " bytes at byte " + std::to_string(offset) +
                 " is not whole nodes inside hierarchy.bin");
        // A proxy pointing back at a chunk already read would loop.
        if (!seen.insert(offset).second)
            fail("the hierarchy reaches the chunk at byte " + std::to_string(offset) + " twice");
        for (uint64_t at = offset; at < offset + bytes; at += kNodeBytes) {
            const unsigned char *e = data + at;
            const unsigned type = e[0];
            const PotreeNode n{u64(e + 6), u64(e + 14), u32(e + 2)};
            if (type == 2)
                chunks.push_back({n.offset, n.bytes});
            else if (type > 2)
                fail("hierarchy node type " + std::to_string(type) + " is not known");
            else if (n.points > 0)
                nodes.push_back(n);
        }
    }
    return nodes;
}

PointListData PotreeReader::read(const char *metadataJson)
{
    const std::string path = metadataJson;
    const std::string dir = path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/'));
    try {
        Json j;
        try {
            j = Json::parse(fileBytes(path, kMostText));
        } catch (const Json::exception &e) {
            fail(std::string("metadata.json is not JSON: ") + e.what());
        }
        if (!j.is_object() || !j.contains("attributes") || !j["attributes"].is_array() || !j.contains("hierarchy") ||
            !j["hierarchy"].is_object() || !j["hierarchy"].contains("firstChunkSize") ||
            !j["hierarchy"]["firstChunkSize"].is_number_unsigned() || !j.contains("scale") || !j.contains("offset"))
            fail("metadata.json has no \"attributes\", \"hierarchy\", \"scale\" and \"offset\" of a Potree 2.0 cloud");
        const std::string encoding = j.value("encoding", std::string("DEFAULT"));
        if (encoding != "DEFAULT")
            fail("the " + encoding + " encoding is not read (DEFAULT is)");
        double scale[3], offset[3];
        for (int k = 0; k < 3; ++k) {
            const Json &s = j["scale"], &o = j["offset"];
            if (!s.is_array() || !o.is_array() || s.size() != 3 || o.size() != 3 || !s[k].is_number() || !o[k].is_number())
                fail("metadata.json's scale and offset are not three numbers each");
            scale[k] = s[k];
            offset[k] = o[k];
        }
        std::vector<Attribute> attributes;
        size_t record = 0;
        for (const Json &a : j["attributes"]) {
            if (!a.is_object() || !a.contains("name") || !a["name"].is_string() || !a.contains("type") ||
                !a["type"].is_string() || !a.contains("size") || !a["size"].is_number_unsigned())
                fail("an attribute without name, type and size");
            Attribute at{a["name"], a["type"], a["size"].get<unsigned>(), a.value("numElements", 1u), 0, record};
            at.elementSize = typeBytes(at.type);
            if (at.elementSize == 0 || at.elements == 0 || at.elements > 16 || at.size != at.elements * at.elementSize)
                fail("attribute " + at.name + " of type " + at.type + " and size " + std::to_string(at.size));
            record += at.size;
            attributes.push_back(at);
        }
        auto find = [&](const char *name) -> const Attribute * {
            for (const Attribute &a : attributes)
                if (a.name == name)
                    return &a;
            return nullptr;
        };
        const Attribute *position = find("position");
        if (!position || position->elements != 3)
            fail("no \"position\" attribute of three elements");
        const Attribute *rgb = find("rgb");
        if (rgb && rgb->elements != 3)
            rgb = nullptr;
        const Attribute *values[3] = {find("intensity"), find("classification"), find("return number")};

        const std::string hierarchy = fileBytes(dir + "/hierarchy.bin", uintmax_t(1) << 32);
        const std::vector<PotreeNode> nodes =
            parseHierarchy(reinterpret_cast<const unsigned char *>(hierarchy.data()), hierarchy.size(),
                           j["hierarchy"]["firstChunkSize"].get<uint64_t>());
        std::ifstream octree(dir + "/octree.bin", std::ios::binary);
        if (!octree)
            fail("can't read " + dir + "/octree.bin");
        octree.seekg(0, std::ios::end);
        const uint64_t octreeSize = static_cast<uint64_t>(octree.tellg());
        uint64_t total = 0;
        for (const PotreeNode &n : nodes) {
            if (n.bytes != uint64_t(n.points) * record || n.offset > octreeSize || n.bytes > octreeSize - n.offset)
                fail("a node of " + std::to_string(n.points) + " points has " + std::to_string(n.bytes) +
                     " bytes at byte " + std::to_string(n.offset) + " of octree.bin");
            total += n.points;
        }
        if (total == 0 || total > static_cast<uint64_t>(INT_MAX))
            fail(std::to_string(total) + " points in the hierarchy");

        const size_t count = static_cast<size_t>(total);
        PointListData d;
        d.nPoints = static_cast<int>(count);
        LargeArray<double> xyz = allocateLargeArray<double>(3 * count);
        d.points = allocateLargeArray<float>(3 * count);
        if (rgb)
            d.colors = allocateLargeArray<unsigned char>(3 * count);
        const char *names[3] = {"intensity", "classification", "return number"};
        for (const char *name : names) {
            PointValueItem item;
            item.name = name;
            item.values = allocateLargeArray<float>(count);
            item.lo = INFINITY;
            item.hi = -INFINITY;
            d.items.push_back(std::move(item));
        }
        double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
        bool wide = false;
        std::vector<uint16_t> colours;
        size_t i = 0;
        std::vector<unsigned char> bytes;
        for (const PotreeNode &n : nodes) {
            bytes.resize(static_cast<size_t>(n.bytes));
            octree.seekg(static_cast<std::streamoff>(n.offset));
            octree.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            if (static_cast<uint64_t>(octree.gcount()) != n.bytes)
                fail("can't read a node at byte " + std::to_string(n.offset) + " of octree.bin");
            for (uint32_t p = 0; p < n.points; ++p, ++i) {
                const unsigned char *b = bytes.data() + p * record;
                for (int k = 0; k < 3; ++k) {
                    const double v = element(b + position->at + k * position->elementSize, *position) * scale[k] + offset[k];
                    xyz[3 * i + k] = v;
                    lo[k] = std::min(lo[k], v);
                    hi[k] = std::max(hi[k], v);
                }
                for (int v = 0; v < 3; ++v) {
                    const float x = values[v] ? static_cast<float>(element(b + values[v]->at, *values[v])) : 0.f;
                    d.items[v].values[i] = x;
                    d.items[v].lo = std::min(d.items[v].lo, x);
                    d.items[v].hi = std::max(d.items[v].hi, x);
                }
                for (int k = 0; rgb && k < 3; ++k) {
                    const double c = element(b + rgb->at + k * rgb->elementSize, *rgb);
                    colours.push_back(static_cast<uint16_t>(std::clamp(c, 0.0, 65535.0)));
                    wide = wide || c > 255;
                }
            }
        }
        for (int k = 0; k < 3; ++k)
            d.origin[k] = 0.5 * (lo[k] + hi[k]);
        for (size_t p = 0; p < 3 * count; ++p)
            d.points[p] = static_cast<float>(xyz[p] - d.origin[p % 3]);
        d.bounds.addPoints(d.points.get(), 3 * count);
        // Some writers keep 8-bit colours in the 16-bit attribute: the range decides.
        for (size_t p = 0; rgb && p < colours.size(); ++p)
            d.colors[p] = static_cast<unsigned char>(wide ? (colours[p] * 255u + 32767u) / 65535u : colours[p]);
        msg::note("Potree 2.0: %d points in %zu nodes around [%.3f %.3f %.3f]\n", d.nPoints, nodes.size(), d.origin[0],
                  d.origin[1], d.origin[2]);
        return d;
    } catch (const std::bad_alloc &) {
        refuse(metadataJson, "no memory for the points");
    } catch (const std::runtime_error &e) {
        refuse(metadataJson, "%s", e.what());
    }
}
