#include "formats/PlyRowFilter.h"

#include "formats/PlyHeader.h"
#include "formats/PlyValues.h"
#include "formats/ReadAll.h"

#include <cstdio>
#include <stdexcept>

namespace {

[[noreturn]] void refuse(const std::string &why)
{
    throw std::runtime_error("PLY: " + why);
}

// The end of the row of `element` that begins at p, or null when it runs past `end`.
const char *rowEnd(const PlyHeader::Element &element, PlyHeader::Format format, const char *p, const char *end)
{
    const bool swap = PlyValues::swapped(format);
    for (const PlyHeader::Property &property : element.properties) {
        size_t values = 1;
        if (property.isList) {
            double count = 0;
            if (format == PlyHeader::ASCII) {
                if (!PlyValues::toWord(p, end) || PlyValues::number(p, end, count) != PlyValues::NUMBER)
                    return nullptr;
            } else {
                if (static_cast<size_t>(end - p) < PlyValues::size(property.countType))
                    return nullptr;
                count = PlyValues::decode(p, property.countType, swap);
                p += PlyValues::size(property.countType);
            }
            if (!(count >= 0) || count > static_cast<double>(end - p))
                return nullptr;
            values = static_cast<size_t>(count);
        }
        if (format == PlyHeader::ASCII) {
            for (size_t k = 0; k < values; ++k)
                if (!PlyValues::skipWord(p, end))
                    return nullptr;
        } else {
            const size_t bytes = values * PlyValues::size(property.type);
            if (static_cast<size_t>(end - p) < bytes)
                return nullptr;
            p += bytes;
        }
    }
    return p;
}

// The header text with the vertex count replaced by `count`.
std::string headerWith(const char *data, size_t bodyOffset, long long count)
{
    const std::string text(data, bodyOffset);
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        size_t eol = text.find('\n', at);
        eol = eol == std::string::npos ? text.size() : eol + 1;
        std::string line = text.substr(at, eol - at);
        char name[16] = {0};
        long long n = 0;
        if (std::sscanf(line.c_str(), "element %15s %lld", name, &n) == 2 && std::string(name) == "vertex") {
            const bool cr = line.size() >= 2 && line[line.size() - 2] == '\r';
            line = "element vertex " + std::to_string(count) + (cr ? "\r\n" : "\n");
        }
        out += line;
        at = eol;
    }
    return out;
}

} // namespace

size_t PlyRowFilter::write(const std::string &source, const std::string &out, const std::vector<unsigned char> &keep)
{
    const std::vector<char> file = readOpened(source.c_str(), [](FILE *f) { return readAll(f); });
    const PlyHeader header = PlyHeader::parse(file.data(), file.size(), false);
    const PlyHeader::Element *vertex = header.element("vertex");
    if (!vertex)
        refuse(source + " has no vertex element");
    if (static_cast<long long>(keep.size()) != vertex->count)
        refuse("the rows to keep do not match the " + std::to_string(vertex->count) + " vertices of " + source);
    size_t kept = 0;
    for (unsigned char k : keep)
        kept += k != 0;
    if (kept != keep.size())
        for (const PlyHeader::Element &e : header.elements)
            if (e.count > 0 && (e.name == "face" || e.name == "edge" || e.name == "tristrips"))
                refuse(source + " has " + e.name + "s that refer to its vertices by index");

    // The body as runs of bytes to copy: the kept vertex rows, and every other element whole.
    std::string body;
    const char *p = file.data() + header.bodyOffset;
    const char *const end = file.data() + file.size();
    const bool text = header.format == PlyHeader::ASCII;
    for (const PlyHeader::Element &e : header.elements) {
        const bool filtered = &e == vertex;
        for (long long r = 0; r < e.count; ++r) {
            if (text)
                PlyValues::toWord(p, end);
            const char *const begin = p;
            p = rowEnd(e, header.format, p, end);
            if (!p)
                refuse(source + ": row " + std::to_string(r) + " of element " + e.name + " runs past the end");
            if (!filtered || keep[static_cast<size_t>(r)]) {
                body.append(begin, p);
                if (text)
                    body += '\n';
            }
        }
    }
    if (!text)
        body.append(p, end); // whatever trails the elements, as the file had it

    const std::string part = out + ".part";
    FILE *f = std::fopen(part.c_str(), "wb");
    if (!f)
        refuse("unable to write " + out);
    const std::string head = headerWith(file.data(), header.bodyOffset, static_cast<long long>(kept));
    bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size() &&
              std::fwrite(body.data(), 1, body.size(), f) == body.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(part.c_str(), out.c_str()) != 0) {
        std::remove(part.c_str());
        refuse("unable to write " + out);
    }
    return kept;
}
