#include "formats/PlyWriter.h"

#include "formats/PartFile.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the PLY writer writes the machine's bytes");

namespace {

// Records are gathered in memory and written a block at a time.
class Records {
public:
    explicit Records(PartFile &f) : file(f) {}
    ~Records() = default;
    template <class T>
    void put(T v)
    {
        const size_t at = bytes.size();
        bytes.resize(at + sizeof v);
        std::memcpy(&bytes[at], &v, sizeof v);
        if (bytes.size() >= (1u << 20))
            flush();
    }
    void flush()
    {
        file.write(bytes.data(), bytes.size());
        bytes.clear();
    }

private:
    PartFile &file;
    std::vector<char> bytes;
};

// `width` > 0: the count right-aligned in that many characters, so that the header can be
// written again with the count once the rows are known, at the same length.
std::string headerStart(size_t vertices, size_t width = 0)
{
    std::string count = std::to_string(vertices);
    if (count.size() < width)
        count.insert(0, width - count.size(), ' ');
    return "ply\nformat binary_little_endian 1.0\ncomment written by velmora\nelement vertex " + count + "\n";
}

} // namespace

std::string PlyWriter::propertyName(const std::string &name)
{
    std::string out = name.empty() ? "value" : name;
    for (char &c : out)
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            c = '_';
    return out;
}

void PlyWriter::writeCloud(const std::string &path, const PlyCloudLayout &layout, size_t n, const PointSource &points)
{
    size_t i = 0;
    writeRows(path, layout, &n, [&](double xyz[3], unsigned char rgb[3], float *values) {
        if (i >= n)
            return false;
        points(i++, xyz, rgb, values);
        return true;
    });
}

uint64_t PlyWriter::writeCloud(const std::string &path, const PlyCloudLayout &layout, const NextPoint &next)
{
    return writeRows(path, layout, nullptr, next);
}

uint64_t PlyWriter::writeRows(const std::string &path, const PlyCloudLayout &layout, const size_t *known,
                              const NextPoint &next)
{
    constexpr size_t kWidth = 20; // digits enough for any count
    PartFile out(path);
    const std::string start = known ? headerStart(*known) : headerStart(0, kWidth);
    std::string h = start;
    const char *type = layout.doubleCoordinates ? "double" : "float";
    for (const char *axis : {"x", "y", "z"})
        h += std::string("property ") + type + " " + axis + "\n";
    if (layout.colours)
        h += "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    for (const std::string &name : layout.values)
        h += "property float " + propertyName(name) + "\n";
    out.write(h + "end_header\n");
    Records r(out);
    std::vector<float> values(layout.values.size());
    uint64_t n = 0;
    for (;; ++n) {
        double xyz[3] = {0, 0, 0};
        unsigned char rgb[3] = {0, 0, 0};
        if (!next(xyz, rgb, values.data()))
            break;
        for (double v : xyz) {
            if (layout.doubleCoordinates)
                r.put(v);
            else
                r.put(static_cast<float>(v));
        }
        if (layout.colours)
            for (unsigned char c : rgb)
                r.put(c);
        for (float v : values)
            r.put(v);
    }
    r.flush();
    if (!known) {
        const std::string counted = headerStart(static_cast<size_t>(n), kWidth);
        out.writeAt(0, counted.data(), counted.size());
    }
    out.commit();
    return n;
}

void PlyWriter::writeMesh(const std::string &path, const MeshOutput &m)
{
    PartFile out(path);
    std::string h = "ply\nformat binary_little_endian 1.0\ncomment written by velmora\n";
    const bool textured = m.texCoords && !m.images.empty();
    if (textured)
        for (const std::string &image : m.images)
            h += "comment TextureFile " + image + "\n";
    h += "element vertex " + std::to_string(m.nVertices) + "\nproperty float x\nproperty float y\nproperty float z\n";
    if (m.colours)
        h += "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    for (const auto &item : m.items)
        h += "property float " + propertyName(item.first) + "\n";
    h += "element face " + std::to_string(m.nTriangles) + "\nproperty list uchar int vertex_indices\n";
    if (textured) {
        h += "property list uchar float texcoord\n";
        if (m.images.size() > 1)
            h += "property int texnumber\n";
    }
    out.write(h + "end_header\n");
    Records r(out);
    for (size_t i = 0; i < m.nVertices; ++i) {
        for (int k = 0; k < 3; ++k)
            r.put(m.vertices[3 * i + k]);
        if (m.colours)
            for (int k = 0; k < 3; ++k)
                r.put(m.colours[3 * i + k]);
        for (const auto &item : m.items)
            r.put(item.second[i]);
    }
    for (size_t t = 0; t < m.nTriangles; ++t) {
        r.put(static_cast<uint8_t>(3));
        for (int k = 0; k < 3; ++k)
            r.put(static_cast<int32_t>(m.triangles[3 * t + k]));
        if (!textured)
            continue;
        r.put(static_cast<uint8_t>(6));
        // The file's v runs upwards from the image's bottom row.
        for (int k = 0; k < 3; ++k) {
            r.put(m.texCoords[6 * t + 2 * k]);
            r.put(1.0f - m.texCoords[6 * t + 2 * k + 1]);
        }
        if (m.images.size() > 1)
            r.put(static_cast<int32_t>(m.imageOfTriangle ? m.imageOfTriangle[t] : 0));
    }
    r.flush();
    out.commit();
}
