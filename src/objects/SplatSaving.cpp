#include "objects/SplatSaving.h"

#include "formats/SplatFile.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

bool endsWith(const std::string &s, const char *tail)
{
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The splats i with keep[i] not zero, in their order; a keep list shorter than the scene keeps
// the splats past its end.
SplatScene keptSplats(const SplatScene &scene, const std::vector<unsigned char> &keep)
{
    size_t kept = 0;
    for (size_t i = 0; i < scene.count; ++i)
        kept += i >= keep.size() || keep[i];
    SplatScene out;
    out.resize(kept, scene.shDegree);
    out.skipped = scene.skipped;
    out.antialiased = scene.antialiased;
    size_t j = 0;
    for (size_t i = 0; i < scene.count; ++i)
        if (i >= keep.size() || keep[i])
            out.copySplat(scene, i, j++);
    return out;
}

} // namespace

void saveSplats(const SplatScene &scene, const std::vector<unsigned char> &keep, const std::string &path)
{
    if (!endsWith(path, ".ply") && !endsWith(path, ".spz"))
        throw std::runtime_error("splats are saved as PLY (.ply) or SPZ (.spz)");
    if (!SplatFile::write(path, keptSplats(scene, keep)))
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}
