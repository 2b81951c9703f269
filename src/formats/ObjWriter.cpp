#include "formats/ObjWriter.h"

#include "formats/PartFile.h"

#include <cstdio>
#include <memory>

namespace {

std::string baseName(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string withoutExtension(const std::string &path)
{
    const size_t dot = path.find_last_of('.'), slash = path.find_last_of('/');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? path : path.substr(0, dot);
}

// Lines are formatted into a buffer and written a block at a time.
class Lines {
public:
    explicit Lines(PartFile &f) : file(f) {}
    template <class... Args>
    void add(const char *format, Args... args)
    {
        char line[256];
        const int n = std::snprintf(line, sizeof line, format, args...);
        text.append(line, static_cast<size_t>(n > 0 ? n : 0));
        if (text.size() >= (1u << 20))
            flush();
    }
    void flush()
    {
        file.write(text);
        text.clear();
    }

private:
    PartFile &file;
    std::string text;
};

} // namespace

void ObjWriter::write(const std::string &path, const MeshOutput &m)
{
    const bool textured = m.texCoords && !m.images.empty();
    // The material file first: the model names it, and must not go without it.
    std::unique_ptr<PartFile> materials;
    const std::string mtl = withoutExtension(path) + ".mtl";
    if (textured) {
        materials = std::make_unique<PartFile>(mtl);
        std::string text = "# written by velmora\n";
        for (size_t k = 0; k < m.images.size(); ++k)
            text += "newmtl image" + std::to_string(k) + "\nKa 1 1 1\nKd 1 1 1\nmap_Kd " + m.images[k] + "\n";
        materials->write(text);
    }
    PartFile out(path);
    Lines lines(out);
    lines.add("# written by velmora\n");
    if (textured)
        lines.add("mtllib %s\n", baseName(mtl).c_str());
    for (size_t i = 0; i < m.nVertices; ++i)
        lines.add("v %.9g %.9g %.9g\n", m.vertices[3 * i], m.vertices[3 * i + 1], m.vertices[3 * i + 2]);
    if (textured)
        for (size_t c = 0; c < 3 * m.nTriangles; ++c)
            lines.add("vt %.9g %.9g\n", m.texCoords[2 * c], 1.0f - m.texCoords[2 * c + 1]);
    int image = -1;
    for (size_t t = 0; t < m.nTriangles; ++t) {
        const int *v = m.triangles + 3 * t;
        if (!textured) {
            lines.add("f %d %d %d\n", v[0] + 1, v[1] + 1, v[2] + 1);
            continue;
        }
        const int wanted = m.imageOfTriangle ? m.imageOfTriangle[t] : 0;
        if (wanted != image) {
            image = wanted;
            lines.add("usemtl image%d\n", image);
        }
        const long long c = 3 * static_cast<long long>(t) + 1;
        lines.add("f %d/%lld %d/%lld %d/%lld\n", v[0] + 1, c, v[1] + 1, c + 1, v[2] + 1, c + 2);
    }
    lines.flush();
    if (materials)
        materials->commit();
    out.commit();
}
