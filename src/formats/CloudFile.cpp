#include "formats/CloudFile.h"

#include "formats/EptReader.h"
#include "formats/LasReader.h"
#include "formats/PotreeReader.h"
#include "formats/TextCloudReader.h"

#include <cstring>
#include <stdexcept>
#include <strings.h>

namespace {

// Other programs write ".LAS" or ".XYZ" too, as the loader's own list allows.
bool endsWith(const char *path, const char *ext)
{
    const size_t n = std::strlen(path), e = std::strlen(ext);
    return n >= e && strcasecmp(path + n - e, ext) == 0;
}

// The name itself, or an extension after a dot ("bin" takes "a.bin", not "hierarchy.bin"'s
// cousin "cabin").
bool named(const char *path, const char *ext)
{
    const size_t n = std::strlen(path), e = std::strlen(ext);
    if (!endsWith(path, ext))
        return false;
    const char before = n > e ? path[n - e - 1] : '/';
    return std::strchr(ext, '.') ? before == '/' : before == '.';
}

// The parts of a Potree 2.0 cloud beside its metadata.json, which are no clouds of their own.
bool isPotreePart(const char *path) { return named(path, "hierarchy.bin") || named(path, "octree.bin"); }

} // namespace

bool CloudFile::isCloudName(const char *path)
{
    if (!path)
        return false;
    for (const char *ext : {"bin", "las", "laz", "xyz", "pts", "txt", "ept.json", "metadata.json"})
        if (named(path, ext))
            return true;
    return false;
}

PointListData CloudFile::read(const char *path)
{
    if (path && isPotreePart(path))
        throw std::runtime_error(std::string(path) + " is a part of a Potree 2.0 cloud: open the metadata.json beside it");
    if (path && named(path, "bin"))
        return PointListReader::readBIN(path);
    if (path && named(path, "las") && !LasReader::hasSignature(path))
        return PointListReader::readLAS(path);
    if (path && named(path, "ept.json"))
        return EptReader::read(path);
    if (path && named(path, "metadata.json"))
        return PotreeReader::read(path);
    if (path && (named(path, "las") || named(path, "laz")))
        return LasReader::read(path);
    if (path && (named(path, "xyz") || named(path, "pts") || named(path, "txt")))
        return TextCloudReader::read(path);
    throw std::runtime_error("can't recognize extension\n");
}
