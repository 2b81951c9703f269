#include "formats/EptReader.h"

#include "formats/NamedValues.h"
#include "formats/PointTiles.h"
#include "math/Messages.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

using Json = nlohmann::json;

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

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
    static const NamedValue<EptMetadata::DataType> kDataTypes[] = {
        {"laszip", Laszip}, {"binary", Binary}, {"zstandard", Zstandard}};
    if (!findNamed(kDataTypes, type, m.dataType))
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
        static const NamedValue<EptDimension::Type> kTypes[] = {
            {"signed", EptDimension::Signed}, {"unsigned", EptDimension::Unsigned}, {"float", EptDimension::Float}};
        if (!findNamed(kTypes, t, d.type) || (d.size != 1 && d.size != 2 && d.size != 4 && d.size != 8) ||
            (d.type == EptDimension::Float && d.size < 4))
            fail("EPT dimension " + d.name + " of type " + t + " and size " + std::to_string(d.size));
        if (e.contains("scale") && e["scale"].is_number())
            d.scale = e["scale"];
        if (e.contains("offset") && e["offset"].is_number())
            d.offset = e["offset"];
        if (e.contains("minimum") && e["minimum"].is_number())
            d.minimum = e["minimum"];
        if (!std::isfinite(d.scale) || !std::isfinite(d.offset))
            fail("EPT dimension " + d.name + " has a scale or offset that is not a number");
        m.recordBytes += d.size;
        m.schema.push_back(d);
    }
    if (j.contains("bounds") && j["bounds"].is_array() && j["bounds"].size() == 6) {
        m.hasBounds = true;
        for (size_t k = 0; k < 6; ++k) {
            if (!j["bounds"][k].is_number())
                fail("ept.json's \"bounds\" are not six numbers");
            m.bounds[k] = j["bounds"][k];
        }
    }
    if (j.contains("boundsConforming") && j["boundsConforming"].is_array() && j["boundsConforming"].size() == 6 &&
        std::all_of(j["boundsConforming"].begin(), j["boundsConforming"].end(), [](const Json &v) { return v.is_number(); })) {
        m.hasConforming = true;
        for (size_t k = 0; k < 6; ++k)
            m.conforming[k] = j["boundsConforming"][k];
    }
    if (j.contains("span") && j["span"].is_number_unsigned())
        m.span = std::max(1u, std::min(j["span"].get<unsigned>(), 1u << 16));
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

PointListData EptReader::read(const char *eptJson) { return PointTiles::readWhole(eptJson, "ept.json"); }
