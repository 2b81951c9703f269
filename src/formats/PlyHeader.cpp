#include "formats/PlyHeader.h"
#include "formats/NamedValues.h"
#include "formats/PlyValues.h"
#include "formats/ReadRefusal.h"
#include "formats/TextScanner.h"
#include "math/Messages.h"

#include <cstdint>
#include <stdexcept>

namespace {

constexpr QuietRefusal fail{"PLY: "};

// The white-space separated words of a header line, read as a stream reads them: once one is
// missing, every later read fails too and leaves its word as it was.
struct HeaderWords : TextScanner {
    explicit HeaderWords(const std::string &line) : TextScanner(line.data(), line.data() + line.size()) {}
    HeaderWords &operator>>(std::string &out)
    {
        const char *b;
        if (good && word(b, isSpace))
            out.assign(b, position());
        else
            good = false;
        return *this;
    }
    explicit operator bool() const { return good; }
    bool good = true;
};

} // namespace

PlyHeader PlyHeader::parse(const char *data, size_t size, bool noteSkipped)
{
    PlyHeader h;
    TextScanner lines(data, data + size);
    bool formatSeen = false;
    int lineNo = 0;
    for (;;) {
        const char *begin, *lineEnd;
        if (!lines.line(begin, lineEnd))
            fail("the header has no end_header line");
        std::string line(begin, lineEnd);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t pos = static_cast<size_t>(lines.position() - data);
        ++lineNo;
        if (lineNo == 1) {
            if (line != "ply")
                fail("no \"ply\" signature");
            continue;
        }
        HeaderWords words(line);
        std::string key;
        if (!(words >> key))
            continue;
        if (key == "end_header") {
            if (!formatSeen)
                fail("the header has no format line");
            h.bodyOffset = pos;
            if (noteSkipped && !h.skippedLines.empty())
                msg::note("PLY: skipped %zu header line%s the format does not know, the first \"%s\"\n",
                          h.skippedLines.size(), h.skippedLines.size() == 1 ? "" : "s",
                          h.skippedLines[0].c_str());
            return h;
        } else if (key == "comment" || key == "obj_info") {
            const size_t at = line.find(key) + key.size();
            const size_t text = line.find_first_not_of(" \t", at);
            h.comments.push_back(text == std::string::npos ? "" : line.substr(text));
        } else if (key == "format") {
            std::string f, version;
            words >> f >> version;
            static const NamedValue<Format> kFormats[] = {
                {"ascii", ASCII}, {"binary_little_endian", BINARY_LITTLE_ENDIAN}, {"binary_big_endian", BINARY_BIG_ENDIAN}};
            if (!findNamed(kFormats, f, h.format))
                fail("unknown format \"" + f + "\"");
            formatSeen = true;
        } else if (key == "element") {
            Element e;
            std::string count;
            if (!(words >> e.name >> count))
                fail("element line " + std::to_string(lineNo) + " lacks a name or count");
            TextScanner digits(count.c_str(), count.c_str() + count.size());
            long long n = 0;
            if (!digits.cInteger(n) || *digits.position() != '\0' || n < 0)
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
                if (!PlyValues::typeNamed(countType, p.countType) || !PlyValues::typeNamed(itemType, p.type))
                    fail("unknown list type on line " + std::to_string(lineNo));
                if (p.countType == FLOAT32 || p.countType == FLOAT64)
                    fail("a list length must be an integer type (line " + std::to_string(lineNo) + ")");
                p.isList = true;
            } else {
                words >> p.name;
                if (!PlyValues::typeNamed(type, p.type))
                    fail("unknown type \"" + type + "\" on line " + std::to_string(lineNo));
            }
            if (p.name.empty())
                fail("property without a name on line " + std::to_string(lineNo));
            h.elements.back().properties.push_back(p);
        } else {
            // Only the lines above shape the body; anything else is text for people.
            h.skippedLines.push_back(line);
        }
    }
}

std::vector<std::string> PlyHeader::textureFiles() const
{
    std::vector<std::string> names;
    for (const std::string &c : comments) {
        HeaderWords words(c);
        std::string key;
        if (words >> key && (key == "TextureFile" || key == "texturefile")) {
            const size_t at = c.find_first_not_of(" \t", c.find(key) + key.size());
            if (at != std::string::npos)
                names.push_back(c.substr(at));
        }
    }
    return names;
}

const PlyHeader::Element *PlyHeader::element(const char *name) const
{
    for (const Element &e : elements)
        if (e.name == name)
            return &e;
    return nullptr;
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
