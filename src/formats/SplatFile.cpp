#include "formats/SplatFile.h"

#include "formats/CompressedPlyReader.h"
#include "formats/DotSplatReader.h"
#include "formats/GltfSplatReader.h"
#include "formats/PlyHeader.h"
#include "formats/SogReader.h"
#include "formats/SplatReader.h"
#include "formats/SpzReader.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

bool endsWith(const char *path, const char *tail)
{
    const size_t n = std::strlen(path), m = std::strlen(tail);
    return n >= m && strcasecmp(path + n - m, tail) == 0;
}

SplatFile::Kind plyKind(const char *path)
{
    FILE *f = std::fopen(path, "rb");
    if (!f)
        return SplatFile::NONE;
    std::vector<char> head(1 << 16);
    head.resize(std::fread(head.data(), 1, head.size(), f));
    std::fclose(f);
    try {
        const PlyHeader h = PlyHeader::parse(head.data(), head.size(), false);
        if (SplatReader::isSplatHeader(h))
            return SplatFile::TRAINER_PLY;
        if (CompressedPlyReader::isCompressedHeader(h))
            return SplatFile::COMPRESSED_PLY;
    } catch (const std::exception &) {
    }
    return SplatFile::NONE;
}

} // namespace

SplatFile::Kind SplatFile::kindOf(const char *path)
{
    if (!path)
        return NONE;
    if (endsWith(path, ".spz"))
        return SPZ;
    if (endsWith(path, ".splat"))
        return DOT_SPLAT;
    if (endsWith(path, ".sog") || endsWith(path, "meta.json"))
        return SOG;
    if (endsWith(path, ".glb") || endsWith(path, ".gltf"))
        return GltfSplatReader::isSplatFile(path) ? GLTF : NONE;
    if (endsWith(path, ".ply"))
        return plyKind(path);
    return NONE;
}

SplatScene SplatFile::read(const char *path)
{
    switch (kindOf(path)) {
    case SPZ: return SpzReader::read(path);
    case DOT_SPLAT: return DotSplatReader::read(path);
    case COMPRESSED_PLY: return CompressedPlyReader::read(path);
    case SOG: return SogReader::read(path);
    case GLTF: return GltfSplatReader::read(path);
    case TRAINER_PLY:
    case NONE: break;
    }
    // The trainer's PLY reader says best why a PLY is no splat scene.
    return SplatReader::read(path);
}
