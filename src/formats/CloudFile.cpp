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

} // namespace

bool CloudFile::isCloudName(const char *path)
{
    if (!path)
        return false;
    for (const char *ext : {"bin", "las", "laz", "xyz", "pts", "txt", "ept.json", "metadata.json"})
        if (endsWith(path, ext))
            return true;
    return false;
}

PointListData CloudFile::read(const char *path)
{
    if (path && endsWith(path, "bin"))
        return PointListReader::readBIN(path);
    if (path && endsWith(path, "las") && !LasReader::hasSignature(path))
        return PointListReader::readLAS(path);
    if (path && endsWith(path, "ept.json"))
        return EptReader::read(path);
    if (path && endsWith(path, "metadata.json"))
        return PotreeReader::read(path);
    if (path && (endsWith(path, "las") || endsWith(path, "laz")))
        return LasReader::read(path);
    if (path && (endsWith(path, "xyz") || endsWith(path, "pts") || endsWith(path, "txt")))
        return TextCloudReader::read(path);
    throw std::runtime_error("can't recognize extension\n");
}
