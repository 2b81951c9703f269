#include "formats/SplatFile.h"

#include "formats/CompressedPlyReader.h"
#include "formats/DotSplatReader.h"
#include "formats/GltfSplatReader.h"
#include "formats/PlyHeader.h"
#include "formats/SogReader.h"
#include "formats/SplatReader.h"
#include "formats/SplatWriter.h"
#include "formats/SpzReader.h"
#include "formats/SpzWriter.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
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

SplatScene SplatFile::shown(const SplatScene &in, const float *m, double opacityFloor)
{
    std::vector<size_t> kept;
    for (size_t i = 0; i < in.count; ++i)
        if (!(in.opacity[i] < opacityFloor))
            kept.push_back(i);
    SplatScene s;
    s.resize(kept.size(), in.shDegree);
    s.antialiased = in.antialiased;
    // The pose as s R: columns of the upper 3 x 3 block.
    const double a[9] = {m[0], m[1], m[2], m[4], m[5], m[6], m[8], m[9], m[10]};
    const double det = a[0] * (a[4] * a[8] - a[7] * a[5]) - a[3] * (a[1] * a[8] - a[7] * a[2]) +
                       a[6] * (a[1] * a[5] - a[4] * a[2]);
    if (!(det > 0))
        throw std::runtime_error("the pose mirrors or flattens the splats");
    const double scale = std::cbrt(det);
    double r[9];
    for (int k = 0; k < 9; ++k)
        r[k] = a[k] / scale;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (std::fabs(r[3 * i] * r[3 * j] + r[3 * i + 1] * r[3 * j + 1] + r[3 * i + 2] * r[3 * j + 2] - (i == j)) > 1e-4)
                throw std::runtime_error("the pose scales the axes differently");
    const auto e = [&](int row, int c) { return r[3 * c + row]; };
    const double w = std::sqrt(std::max(0.0, 1 + e(0, 0) + e(1, 1) + e(2, 2))) / 2;
    double q[4] = {w, 0, 0, 0};
    if (w > 1e-3) {
        q[1] = (e(2, 1) - e(1, 2)) / (4 * w);
        q[2] = (e(0, 2) - e(2, 0)) / (4 * w);
        q[3] = (e(1, 0) - e(0, 1)) / (4 * w);
    } else { // half a turn: the axis from the diagonal, its signs from the off-diagonal terms
        for (int k = 0; k < 3; ++k)
            q[1 + k] = std::sqrt(std::max(0.0, (1 + e(k, k)) / 2));
        if (q[1] > 1e-6) {
            if (e(0, 1) + e(1, 0) < 0)
                q[2] = -q[2];
            if (e(0, 2) + e(2, 0) < 0)
                q[3] = -q[3];
        } else if (e(1, 2) + e(2, 1) < 0) {
            q[3] = -q[3];
        }
    }
    const bool identity = std::fabs(scale - 1) < 1e-12 && q[0] == 1 && m[12] == 0 && m[13] == 0 && m[14] == 0;
    for (size_t o = 0; o < kept.size(); ++o) {
        const size_t i = kept[o];
        s.copySplat(in, i, o);
        if (identity)
            continue;
        const float *p = &in.position[3 * i];
        const float *b = &in.rotation[4 * i];
        for (int k = 0; k < 3; ++k) {
            s.position[3 * o + k] = static_cast<float>(a[k] * p[0] + a[3 + k] * p[1] + a[6 + k] * p[2] + m[12 + k]);
            s.scale[3 * o + k] = static_cast<float>(scale * in.scale[3 * i + k]);
        }
        float *t = &s.rotation[4 * o];
        t[0] = static_cast<float>(q[0] * b[0] - q[1] * b[1] - q[2] * b[2] - q[3] * b[3]);
        t[1] = static_cast<float>(q[0] * b[1] + q[1] * b[0] + q[2] * b[3] - q[3] * b[2]);
        t[2] = static_cast<float>(q[0] * b[2] - q[1] * b[3] + q[2] * b[0] + q[3] * b[1]);
        t[3] = static_cast<float>(q[0] * b[3] + q[1] * b[2] - q[2] * b[1] + q[3] * b[0]);
    }
    return s;
}

bool SplatFile::write(const std::string &path, const SplatScene &scene)
{
    return endsWith(path.c_str(), ".spz") ? SpzWriter::write(path, scene) : SplatWriter::write(path, scene);
}
