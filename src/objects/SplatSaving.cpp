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

} // namespace

void SplatSaving::checkName(const std::string &path)
{
    if (!endsWith(path, ".ply") && !endsWith(path, ".spz"))
        throw std::runtime_error("splats are saved as PLY (.ply) or SPZ (.spz)");
}

SplatScene SplatSaving::kept(const SplatScene &scene, const std::vector<unsigned char> &keep)
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

void SplatSaving::write(const SplatScene &scene, const std::string &path)
{
    checkName(path);
    errno = 0;
    if (!SplatFile::write(path, scene))
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno ? errno : EIO));
}
