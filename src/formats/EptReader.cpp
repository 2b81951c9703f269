#include "formats/EptReader.h"

#include "formats/HttpRangeReader.h"
#include "formats/LasReader.h"
#include "formats/ReadRefusal.h"
#include "math/Messages.h"

#include <nlohmann/json.hpp>
#include <zstd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

constexpr NamedReadRefusal refuse{"GLPointListObject", "ept.json"};
using Json = nlohmann::json;

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

// A hierarchy or metadata file is small; a node larger than this is not a node.
constexpr uintmax_t kMostText = uintmax_t(64) << 20;
constexpr uintmax_t kMostNode = uintmax_t(1) << 31;

std::string fileText(const std::string &path, uintmax_t most)
{
    if (HttpRangeReader::isRemote(path.c_str())) {
        HttpRangeReader remote(path);
        if (remote.size() > most)
            fail(path + " is larger than a node can be");
        return remote.readAll();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail("can't read " + path);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<uintmax_t>(size) > most)
        fail(path + " is larger than a node can be");
    in.seekg(0);
    std::string s(static_cast<size_t>(size), '\0');
    in.read(&s[0], size);
    if (in.gcount() != size)
        fail("can't read " + path);
    return s;
}

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

// The cloud as nodes arrive, in double until the origin is known.
struct Gather {
    std::vector<double> xyz;
    std::vector<float> intensity, classification, returns;
    std::vector<unsigned char> rgb;
    bool colours = false;
    size_t count() const { return xyz.size() / 3; }
};

void addLasNode(Gather &g, const PointListData &d)
{
    for (int i = 0; i < d.nPoints; ++i)
        for (int k = 0; k < 3; ++k)
            g.xyz.push_back(d.points[3 * i + k] + d.origin[k]);
    for (int i = 0; i < d.nPoints; ++i) {
        g.intensity.push_back(d.items[0].values[i]);
        g.classification.push_back(d.items[1].values[i]);
        g.returns.push_back(d.items[2].values[i]);
    }
    if (d.colors)
        g.colours = true;
    for (int i = 0; i < 3 * d.nPoints; ++i)
        g.rgb.push_back(d.colors ? d.colors[i] : 255);
}

void addRecords(Gather &g, const EptMetadata &m, const unsigned char *b, size_t n)
{
    int at[7];
    const char *names[7] = {"X", "Y", "Z", "Intensity", "Classification", "ReturnNumber", "Red"};
    size_t offsets[32];
    size_t o = 0;
    for (size_t k = 0; k < m.schema.size(); ++k) {
        offsets[k] = o;
        o += m.schema[k].size;
    }
    for (int j = 0; j < 7; ++j) {
        at[j] = -1;
        for (size_t k = 0; k < m.schema.size(); ++k)
            if (m.schema[k].name == names[j])
                at[j] = static_cast<int>(k);
    }
    int green = -1, blue = -1;
    for (size_t k = 0; k < m.schema.size(); ++k) {
        if (m.schema[k].name == "Green")
            green = static_cast<int>(k);
        if (m.schema[k].name == "Blue")
            blue = static_cast<int>(k);
    }
    const bool rgb = at[6] >= 0 && green >= 0 && blue >= 0;
    g.colours = g.colours || rgb;
    for (size_t i = 0; i < n; ++i, b += m.recordBytes) {
        for (int k = 0; k < 3; ++k)
            g.xyz.push_back(readValue(b + offsets[at[k]], m.schema[at[k]]));
        auto value = [&](int j) {
            return at[j] < 0 ? 0.f : static_cast<float>(readValue(b + offsets[at[j]], m.schema[at[j]]));
        };
        g.intensity.push_back(value(3));
        g.classification.push_back(value(4));
        g.returns.push_back(value(5));
        for (int c : {at[6], green, blue}) {
            const double v = rgb ? readValue(b + offsets[c], m.schema[c]) : 255;
            // 16-bit colours as LAS stores them; a schema of bytes is taken as it is.
            const double byte = rgb && m.schema[c].size > 1 ? v / 257.0 : v;
            g.rgb.push_back(static_cast<unsigned char>(std::clamp(std::lround(byte), 0L, 255L)));
        }
    }
}

PointListData finish(Gather &g)
{
    const size_t n = g.count();
    PointListData d;
    d.nPoints = static_cast<int>(n);
    double lo[3], hi[3];
    for (int k = 0; k < 3; ++k) {
        lo[k] = INFINITY;
        hi[k] = -INFINITY;
    }
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], g.xyz[3 * i + k]);
            hi[k] = std::max(hi[k], g.xyz[3 * i + k]);
        }
    for (int k = 0; k < 3; ++k)
        d.origin[k] = std::isfinite(lo[k]) && std::isfinite(hi[k]) ? 0.5 * (lo[k] + hi[k]) : 0;
    d.points = allocateLargeArray<float>(3 * n);
    for (size_t i = 0; i < 3 * n; ++i)
        d.points[i] = static_cast<float>(g.xyz[i] - d.origin[i % 3]);
    d.bounds.addPoints(d.points.get(), 3 * n);
    const char *names[3] = {"intensity", "classification", "return number"};
    std::vector<float> *values[3] = {&g.intensity, &g.classification, &g.returns};
    for (int j = 0; j < 3; ++j) {
        PointValueItem item;
        item.name = names[j];
        item.values = allocateLargeArray<float>(n);
        std::copy(values[j]->begin(), values[j]->end(), item.values.get());
        const auto [a, b] = std::minmax_element(values[j]->begin(), values[j]->end());
        item.lo = *a;
        item.hi = *b;
        d.items.push_back(std::move(item));
    }
    if (g.colours) {
        d.colors = allocateLargeArray<unsigned char>(3 * n);
        std::copy(g.rgb.begin(), g.rgb.end(), d.colors.get());
    }
    return d;
}

} // namespace

EptMetadata EptMetadata::parse(const std::string &text)
{
    Json j;
    try {
        j = Json::parse(text);
    } catch (const Json::exception &e) {
        fail(std::string("ept.json is not JSON: ") + e.what());
    }
    if (!j.is_object() || !j.contains("dataType") || !j["dataType"].is_string() || !j.contains("schema") ||
        !j["schema"].is_array())
        fail("ept.json has no \"dataType\" and \"schema\"");
    EptMetadata m;
    const std::string type = j["dataType"];
    if (type == "laszip")
        m.dataType = Laszip;
    else if (type == "binary")
        m.dataType = Binary;
    else if (type == "zstandard")
        m.dataType = Zstandard;
    else
        fail("EPT data type \"" + type + "\" is not read (laszip, binary and zstandard are)");
    if (j.contains("hierarchyType") && j["hierarchyType"] != "json")
        fail("EPT hierarchy type " + j["hierarchyType"].dump() + " is not read (json is)");
    m.points = j.contains("points") && j["points"].is_number_unsigned() ? j["points"].get<uint64_t>() : 0;
    m.recordBytes = 0;
    if (j["schema"].size() > 32)
        fail("an EPT schema of " + std::to_string(j["schema"].size()) + " dimensions, more than 32");
    for (const Json &e : j["schema"]) {
        if (!e.is_object() || !e.contains("name") || !e["name"].is_string() || !e.contains("size") ||
            !e["size"].is_number_unsigned() || !e.contains("type") || !e["type"].is_string())
            fail("an EPT schema dimension without name, size and type");
        EptDimension d;
        d.name = e["name"];
        d.size = e["size"].get<unsigned>();
        const std::string t = e["type"];
        d.type = t == "signed" ? EptDimension::Signed : t == "unsigned" ? EptDimension::Unsigned : EptDimension::Float;
        if ((t != "signed" && t != "unsigned" && t != "float") || (d.size != 1 && d.size != 2 && d.size != 4 && d.size != 8) ||
            (d.type == EptDimension::Float && d.size < 4))
            fail("EPT dimension " + d.name + " of type " + t + " and size " + std::to_string(d.size));
        if (e.contains("scale") && e["scale"].is_number())
            d.scale = e["scale"];
        if (e.contains("offset") && e["offset"].is_number())
            d.offset = e["offset"];
        if (!std::isfinite(d.scale) || !std::isfinite(d.offset))
            fail("EPT dimension " + d.name + " has a scale or offset that is not a number");
        m.recordBytes += d.size;
        m.schema.push_back(d);
    }
    for (const char *axis : {"X", "Y", "Z"})
        if (std::none_of(m.schema.begin(), m.schema.end(), [&](const EptDimension &d) { return d.name == axis; }))
            fail(std::string("the EPT schema has no ") + axis);
    return m;
}

std::vector<std::pair<std::string, int64_t>> EptReader::parseHierarchy(const std::string &text,
                                                                       std::vector<std::string> &more)
{
    Json j;
    try {
        j = Json::parse(text);
    } catch (const Json::exception &e) {
        fail(std::string("an EPT hierarchy file is not JSON: ") + e.what());
    }
    if (!j.is_object())
        fail("an EPT hierarchy file is not an object of node counts");
    std::vector<std::pair<std::string, int64_t>> nodes;
    for (auto it = j.begin(); it != j.end(); ++it) {
        const std::string &key = it.key();
        int d, x, y, z;
        char tail;
        if (std::sscanf(key.c_str(), "%d-%d-%d-%d%c", &d, &x, &y, &z, &tail) != 4 || d < 0 || x < 0 || y < 0 || z < 0 ||
            key.size() > 48)
            fail("EPT node key \"" + key.substr(0, 48) + "\" is not D-X-Y-Z");
        if (!it.value().is_number_integer() || it.value().get<int64_t>() < -1)
            fail("EPT node " + key + " has no count");
        const int64_t n = it.value();
        if (n == -1)
            more.push_back(key);
        else if (n > 0)
            nodes.push_back({key, n});
    }
    return nodes;
}

PointListData EptReader::read(const char *eptJson)
{
    const std::string path = eptJson;
    const std::string dir = path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/'));
    try {
        const EptMetadata m = EptMetadata::parse(fileText(path, kMostText));
        std::vector<std::string> pages{"0-0-0-0"};
        std::set<std::string> seen;
        std::vector<std::pair<std::string, int64_t>> nodes;
        uint64_t total = 0;
        while (!pages.empty()) {
            const std::string key = pages.back();
            pages.pop_back();
            if (!seen.insert(key).second)
                continue;
            for (const auto &node : parseHierarchy(fileText(dir + "/ept-hierarchy/" + key + ".json", kMostText), pages)) {
                total += static_cast<uint64_t>(node.second);
                if (total > static_cast<uint64_t>(INT_MAX))
                    fail("more than " + std::to_string(INT_MAX) + " points in the hierarchy");
                nodes.push_back(node);
            }
        }
        if (nodes.empty())
            fail("no point in the hierarchy");
        Gather g;
        for (const auto &[key, count] : nodes) {
            const std::string stem = dir + "/ept-data/" + key;
            if (m.dataType == EptMetadata::Laszip) {
                CapturingMessageSink quiet;
                ScopedMessageSink scope(quiet);
                const PointListData d = LasReader::read((stem + ".laz").c_str());
                if (d.nPoints != count)
                    fail("node " + key + " holds " + std::to_string(d.nPoints) + " points, the hierarchy says " +
                         std::to_string(count));
                addLasNode(g, d);
                continue;
            }
            std::string bytes = fileText(stem + (m.dataType == EptMetadata::Binary ? ".bin" : ".zst"), kMostNode);
            const uint64_t want = static_cast<uint64_t>(count) * m.recordBytes;
            if (m.dataType == EptMetadata::Zstandard) {
                const unsigned long long size = ZSTD_getFrameContentSize(bytes.data(), bytes.size());
                // A frame claims its size: hold it to what so few bytes can expand to first.
                if (size == ZSTD_CONTENTSIZE_ERROR || size != want || want / 32768 > bytes.size())
                    fail("node " + key + " is not a zstandard frame of " + std::to_string(want) + " bytes");
                std::string raw(static_cast<size_t>(want), '\0');
                const size_t got = ZSTD_decompress(&raw[0], raw.size(), bytes.data(), bytes.size());
                if (ZSTD_isError(got) || got != want)
                    fail("node " + key + " does not decompress");
                bytes.swap(raw);
            }
            if (bytes.size() != want)
                fail("node " + key + " has " + std::to_string(bytes.size()) + " bytes, not the " + std::to_string(want) +
                     " of its " + std::to_string(count) + " points");
            addRecords(g, m, reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<size_t>(count));
        }
        PointListData d = finish(g);
        if (m.points != 0 && m.points != total)
            msg::warning("GLPointListObject: %s: the hierarchy holds %llu points, ept.json says %llu\n", eptJson,
                         static_cast<unsigned long long>(total), static_cast<unsigned long long>(m.points));
        msg::note("EPT: %d points in %zu nodes around [%.3f %.3f %.3f]\n", d.nPoints, nodes.size(), d.origin[0],
                  d.origin[1], d.origin[2]);
        return d;
    } catch (const std::bad_alloc &) {
        refuse(eptJson, "no memory for the points");
    } catch (const std::runtime_error &e) {
        refuse(eptJson, "%s", e.what());
    }
}
