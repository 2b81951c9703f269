#include "objects/PlyHeader.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const std::string &why)
{
    throw std::runtime_error("PLY: " + why);
}

bool parseType(const std::string &word, PlyHeader::Type &t)
{
    static const struct {
        const char *name;
        PlyHeader::Type type;
    } kTypes[] = {
        {"char", PlyHeader::INT8},     {"int8", PlyHeader::INT8},      {"uchar", PlyHeader::UINT8},
        {"uint8", PlyHeader::UINT8},   {"short", PlyHeader::INT16},    {"int16", PlyHeader::INT16},
        {"ushort", PlyHeader::UINT16}, {"uint16", PlyHeader::UINT16},  {"int", PlyHeader::INT32},
        {"int32", PlyHeader::INT32},   {"uint", PlyHeader::UINT32},    {"uint32", PlyHeader::UINT32},
        {"float", PlyHeader::FLOAT32}, {"float32", PlyHeader::FLOAT32}, {"double", PlyHeader::FLOAT64},
        {"float64", PlyHeader::FLOAT64},
    };
    for (const auto &k : kTypes)
        if (word == k.name) {
            t = k.type;
            return true;
        }
    return false;
}

// A scalar of type `t` at `p` in the file's byte order, as a double.
double readBinary(const unsigned char *p, PlyHeader::Type t, bool bigEndian)
{
    unsigned char b[8];
    const size_t n = PlyHeader::typeSize(t);
    const uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    const bool swap = bigEndian == (first == 1);
    for (size_t i = 0; i < n; ++i)
        b[i] = swap ? p[n - 1 - i] : p[i];
    switch (t) {
    case PlyHeader::INT8: return static_cast<signed char>(b[0]);
    case PlyHeader::UINT8: return b[0];
    case PlyHeader::INT16: { int16_t v; std::memcpy(&v, b, 2); return v; }
    case PlyHeader::UINT16: { uint16_t v; std::memcpy(&v, b, 2); return v; }
    case PlyHeader::INT32: { int32_t v; std::memcpy(&v, b, 4); return v; }
    case PlyHeader::UINT32: { uint32_t v; std::memcpy(&v, b, 4); return v; }
    case PlyHeader::FLOAT32: { float v; std::memcpy(&v, b, 4); return v; }
    case PlyHeader::FLOAT64: { double v; std::memcpy(&v, b, 8); return v; }
    }
    return 0;
}

// Walks the body one value at a time, in either encoding.
class BodyCursor {
public:
    BodyCursor(const char *data, size_t size, size_t offset, PlyHeader::Format format)
        : p(data + offset), end(data + size), format(format)
    {
    }
    size_t remaining() const { return static_cast<size_t>(end - p); }
    double next(PlyHeader::Type t)
    {
        if (format == PlyHeader::ASCII)
            return nextText();
        const size_t n = PlyHeader::typeSize(t);
        if (remaining() < n)
            fail("the file ends before the values its header announces");
        const double v = readBinary(reinterpret_cast<const unsigned char *>(p), t,
                                    format == PlyHeader::BINARY_BIG_ENDIAN);
        p += n;
        return v;
    }
    void skip(PlyHeader::Type t, double count)
    {
        if (format == PlyHeader::ASCII) {
            for (double i = 0; i < count; ++i)
                skipText();
            return;
        }
        const double bytes = count * static_cast<double>(PlyHeader::typeSize(t));
        if (bytes > static_cast<double>(remaining()))
            fail("the file ends inside a list");
        p += static_cast<size_t>(bytes);
    }

private:
    // A value stepped over in text: any word will do, as long as there is one.
    void skipText()
    {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;
        if (p == end)
            fail("the file ends before the values its header announces");
        while (p < end && !(*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;
    }

    double nextText()
    {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;
        if (p == end)
            fail("the file ends before the values its header announces");
        char buf[64];
        size_t n = 0;
        while (p < end && n < sizeof buf - 1 && !(*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            buf[n++] = *p++;
        buf[n] = 0;
        char *stop = nullptr;
        const double v = std::strtod(buf, &stop);
        if (stop == buf || *stop)
            fail(std::string("\"") + buf + "\" is no number");
        return v;
    }

    const char *p;
    const char *end;
    PlyHeader::Format format;
};

} // namespace

size_t PlyHeader::typeSize(Type t)
{
    switch (t) {
    case INT8:
    case UINT8: return 1;
    case INT16:
    case UINT16: return 2;
    case INT32:
    case UINT32:
    case FLOAT32: return 4;
    case FLOAT64: return 8;
    }
    return 1;
}

PlyHeader PlyHeader::parse(const char *data, size_t size)
{
    PlyHeader h;
    size_t pos = 0;
    bool formatSeen = false;
    int lineNo = 0;
    for (;;) {
        if (pos >= size)
            fail("the header has no end_header line");
        const char *nl = static_cast<const char *>(std::memchr(data + pos, '\n', size - pos));
        const size_t lineEnd = nl ? static_cast<size_t>(nl - data) : size;
        std::string line(data + pos, lineEnd - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        pos = nl ? lineEnd + 1 : size;
        ++lineNo;
        if (lineNo == 1) {
            if (line != "ply")
                fail("no \"ply\" signature");
            continue;
        }
        std::istringstream words(line);
        std::string key;
        if (!(words >> key))
            continue;
        if (key == "end_header") {
            if (!formatSeen)
                fail("the header has no format line");
            h.bodyOffset = pos;
            return h;
        } else if (key == "comment" || key == "obj_info") {
            const size_t at = line.find(key) + key.size();
            const size_t text = line.find_first_not_of(" \t", at);
            h.comments.push_back(text == std::string::npos ? "" : line.substr(text));
        } else if (key == "format") {
            std::string f, version;
            words >> f >> version;
            if (f == "ascii")
                h.format = ASCII;
            else if (f == "binary_little_endian")
                h.format = BINARY_LITTLE_ENDIAN;
            else if (f == "binary_big_endian")
                h.format = BINARY_BIG_ENDIAN;
            else
                fail("unknown format \"" + f + "\"");
            formatSeen = true;
        } else if (key == "element") {
            Element e;
            std::string count;
            if (!(words >> e.name >> count))
                fail("element line " + std::to_string(lineNo) + " lacks a name or count");
            char *stop = nullptr;
            errno = 0;
            const long long n = std::strtoll(count.c_str(), &stop, 10);
            if (*stop || stop == count.c_str() || errno != 0 || n < 0)
                fail("element \"" + e.name + "\" has a bad count \"" + count + "\"");
            e.count = n;
            h.elements.push_back(e);
        } else if (key == "property") {
            if (h.elements.empty())
                fail("property before any element on line " + std::to_string(lineNo));
            Property p;
            std::string type;
            words >> type;
            if (type == "list") {
                std::string countType, itemType;
                words >> countType >> itemType >> p.name;
                if (!parseType(countType, p.countType) || !parseType(itemType, p.type))
                    fail("unknown list type on line " + std::to_string(lineNo));
                if (p.countType == FLOAT32 || p.countType == FLOAT64)
                    fail("a list length must be an integer type (line " + std::to_string(lineNo) + ")");
                p.isList = true;
            } else {
                words >> p.name;
                if (!parseType(type, p.type))
                    fail("unknown type \"" + type + "\" on line " + std::to_string(lineNo));
            }
            if (p.name.empty())
                fail("property without a name on line " + std::to_string(lineNo));
            h.elements.back().properties.push_back(p);
        } else {
            fail("unknown header line \"" + key + "\"");
        }
    }
}

const PlyHeader::Element *PlyHeader::vertexElement() const
{
    for (const Element &e : elements)
        if (e.name == "vertex")
            return &e;
    return nullptr;
}

std::string PlyHeader::textureFile() const
{
    for (const std::string &c : comments) {
        std::istringstream words(c);
        std::string key;
        if (words >> key && (key == "TextureFile" || key == "texturefile")) {
            const size_t at = c.find_first_not_of(" \t", c.find(key) + key.size());
            if (at != std::string::npos)
                return c.substr(at);
        }
    }
    return "";
}

bool PlyHeader::isGeometryProperty(const std::string &name)
{
    static const char *const kNames[] = {
        "x", "y", "z", "nx", "ny", "nz", "normal_x", "normal_y", "normal_z", "red", "green", "blue", "alpha",
        "r", "g", "b", "a", "diffuse_red", "diffuse_green", "diffuse_blue", "diffuse_alpha", "s", "t", "u", "v",
        "texture_u", "texture_v", "texture_s", "texture_t", "tx", "ty"};
    for (const char *n : kNames)
        if (name == n)
            return true;
    return false;
}

namespace {

void skipElement(BodyCursor &cursor, const PlyHeader::Element &e)
{
    if (e.properties.empty())
        return;
    for (long long k = 0; k < e.count; ++k) {
        if (cursor.remaining() == 0)
            fail("the file ends inside element \"" + e.name + "\"");
        for (const PlyHeader::Property &p : e.properties) {
            if (p.isList) {
                const double n = cursor.next(p.countType);
                if (n < 0)
                    fail("negative list length in element \"" + e.name + "\"");
                cursor.skip(p.type, n);
            } else {
                cursor.skip(p.type, 1);
            }
        }
    }
}

} // namespace

void PlyHeader::checkBody(const char *data, size_t size) const
{
    if (bodyOffset > size)
        fail("the body lies beyond the file");
    BodyCursor cursor(data, size, bodyOffset, format);
    for (const Element &e : elements) {
        if (format != ASCII) {
            // Elements of fixed size are checked by their size alone.
            bool fixed = true;
            double stride = 0;
            for (const Property &p : e.properties) {
                fixed = fixed && !p.isList;
                stride += static_cast<double>(typeSize(p.type));
            }
            if (fixed) {
                if (stride * static_cast<double>(e.count) > static_cast<double>(cursor.remaining()))
                    fail("the file is too short for " + std::to_string(e.count) + " elements \"" + e.name + "\"");
                cursor.skip(UINT8, stride * static_cast<double>(e.count));
                continue;
            }
        }
        skipElement(cursor, e);
    }
}

std::vector<DataItem> PlyHeader::readVertexScalars(const char *data, size_t size) const
{
    std::vector<DataItem> items;
    const Element *vertex = vertexElement();
    if (!vertex || vertex->count == 0)
        return items;
    std::vector<size_t> wanted;
    for (size_t i = 0; i < vertex->properties.size(); ++i) {
        const Property &p = vertex->properties[i];
        if (!p.isList && !isGeometryProperty(p.name))
            wanted.push_back(i);
    }
    if (wanted.empty())
        return items;
    if (bodyOffset > size)
        fail("the body lies beyond the file");

    BodyCursor cursor(data, size, bodyOffset, format);
    // The elements before the vertices are stepped over value by value.
    for (const Element &e : elements) {
        if (&e == vertex)
            break;
        skipElement(cursor, e);
    }

    // Each vertex needs at least one byte a value (a digit and its separator in text, the
    // value's size in binary): a count the rest of the file cannot hold is refused before
    // the items are allocated.
    size_t minBytes = 0;
    for (const Property &p : vertex->properties)
        minBytes += format == ASCII ? 2 : (p.isList ? typeSize(p.countType) : typeSize(p.type));
    if (minBytes == 0 || static_cast<unsigned long long>(vertex->count) > cursor.remaining() / minBytes + 1 ||
        vertex->count > 0x7fffffff)
        fail("the file is too short for " + std::to_string(vertex->count) + " vertices");
    const int n = static_cast<int>(vertex->count);

    items.reserve(wanted.size());
    for (size_t w : wanted)
        items.emplace_back(vertex->properties[w].name.c_str(), n);
    std::vector<int> slot(vertex->properties.size(), -1);
    for (size_t k = 0; k < wanted.size(); ++k)
        slot[wanted[k]] = static_cast<int>(k);
    for (int i = 0; i < n; ++i) {
        for (size_t j = 0; j < vertex->properties.size(); ++j) {
            const Property &p = vertex->properties[j];
            if (p.isList) {
                const double len = cursor.next(p.countType);
                if (len < 0)
                    fail("negative list length in the vertex element");
                cursor.skip(p.type, len);
            } else if (slot[j] >= 0) {
                items[static_cast<size_t>(slot[j])].data[i] = static_cast<float>(cursor.next(p.type));
            } else {
                cursor.skip(p.type, 1);
            }
        }
    }
    for (DataItem &d : items)
        d.computeDataLimits();
    return items;
}
