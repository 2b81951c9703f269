#include "formats/CompressedPlyReader.h"

#include "formats/ReadRefusal.h"
#include "formats/SplatFilter.h"
#include "formats/SplatReader.h"
#include "math/Parallel.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr QuietRefusal refuse{"compressed PLY: "};
constexpr size_t kChunk = 256;
constexpr float kC0 = 0.28209479177387814f;

const char *const kBounds[] = {"min_x",       "min_y",       "min_z",       "max_x",       "max_y",
                               "max_z",       "min_scale_x", "min_scale_y", "min_scale_z", "max_scale_x",
                               "max_scale_y", "max_scale_z", "min_r",       "min_g",       "min_b",
                               "max_r",       "max_g",       "max_b"};
const char *const kPacked[] = {"packed_position", "packed_rotation", "packed_scale", "packed_color"};

uint32_t le32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
float floatAt(const unsigned char *p)
{
    const uint32_t u = le32(p);
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

// The index of each bound in the chunk's properties, which are all floats: the position and
// scale bounds must be there, the colour bounds may be missing (-1; `colourBounds` false).
std::vector<int> boundsOf(const PlyHeader::Element &e, bool &colourBounds)
{
    std::vector<int> at(18, -1);
    for (size_t k = 0; k < e.properties.size(); ++k) {
        const PlyHeader::Property &p = e.properties[k];
        if (p.isList || p.type != PlyHeader::FLOAT32)
            refuse("chunk property \"" + p.name + "\" is not a float");
        for (int b = 0; b < 18; ++b)
            if (p.name == kBounds[b])
                at[b] = static_cast<int>(k);
    }
    for (int b = 0; b < 12; ++b)
        if (at[b] < 0)
            refuse(std::string("chunk property \"") + kBounds[b] + "\" missing");
    colourBounds = true;
    for (int b = 12; b < 18; ++b)
        colourBounds = colourBounds && at[b] >= 0;
    return at;
}

float unorm(uint32_t v, int bits) { return static_cast<float>(v & ((1u << bits) - 1)) / static_cast<float>((1u << bits) - 1); }
float lerp(float a, float b, float t) { return a + (b - a) * t; }

struct Layout {
    size_t chunks = 0, count = 0, chunkStride = 0, shCount = 0;
    std::vector<int> bounds;
    bool colourBounds = false;
    int degree = 0;
    const unsigned char *chunk = nullptr, *vertex = nullptr, *sh = nullptr;
};

Layout layoutOf(const PlyHeader &h, const unsigned char *body, size_t bodySize)
{
    if (h.format != PlyHeader::BINARY_LITTLE_ENDIAN)
        refuse("the file is not little-endian binary");
    Layout L;
    size_t at = 0;
    for (const PlyHeader::Element &e : h.elements) {
        size_t stride = 0;
        for (const PlyHeader::Property &p : e.properties) {
            if (p.isList)
                refuse("list property \"" + p.name + "\"");
            stride += p.type == PlyHeader::UINT8 || p.type == PlyHeader::INT8 ? 1
                      : p.type == PlyHeader::INT16 || p.type == PlyHeader::UINT16 ? 2
                      : p.type == PlyHeader::FLOAT64 ? 8 : 4;
        }
        if (e.count < 0 || static_cast<double>(e.count) * static_cast<double>(stride) > static_cast<double>(bodySize - at))
            refuse("element \"" + e.name + "\" of " + std::to_string(e.count) + " does not fit in the file");
        const size_t n = static_cast<size_t>(e.count);
        if (e.name == "chunk") {
            L.bounds = boundsOf(e, L.colourBounds);
            L.chunks = n;
            L.chunkStride = stride;
            L.chunk = body + at;
        } else if (e.name == "vertex") {
            if (e.properties.size() != 4)
                refuse("the vertices have " + std::to_string(e.properties.size()) + " properties, not the 4 packed ones");
            for (size_t k = 0; k < 4; ++k)
                if (e.properties[k].name != kPacked[k] || e.properties[k].type != PlyHeader::UINT32)
                    refuse(std::string("vertex property ") + std::to_string(k) + " is not uint " + kPacked[k]);
            L.count = n;
            L.vertex = body + at;
        } else if (e.name == "sh") {
            const size_t terms = e.properties.size();
            L.degree = terms == 9 ? 1 : terms == 24 ? 2 : terms == 45 ? 3 : -1;
            if (L.degree < 0)
                refuse(std::to_string(terms) + " SH properties: 9, 24 or 45 give the degree");
            for (size_t k = 0; k < terms; ++k)
                if (e.properties[k].type != PlyHeader::UINT8 || e.properties[k].name != "f_rest_" + std::to_string(k))
                    refuse("SH property " + std::to_string(k) + " is not uchar f_rest_" + std::to_string(k));
            L.shCount = n;
            L.sh = body + at;
        }
        at += stride * n;
    }
    if (!L.chunk || !L.vertex)
        refuse("no chunk or no vertex element");
    if (L.chunks != (L.count + kChunk - 1) / kChunk)
        refuse(std::to_string(L.chunks) + " chunks for " + std::to_string(L.count) + " splats (one per 256)");
    if (L.sh && L.shCount != L.count)
        refuse(std::to_string(L.shCount) + " SH rows for " + std::to_string(L.count) + " splats");
    return L;
}

void decode(const Layout &L, size_t first, size_t last, SplatScene &s)
{
    const size_t per = s.restPerSplat();
    for (size_t i = first; i < last; ++i) {
        const unsigned char *c = L.chunk + L.chunkStride * (i / kChunk);
        float b[18];
        for (int k = 0; k < 18; ++k)
            b[k] = L.bounds[k] >= 0 ? floatAt(c + 4 * L.bounds[k]) : (k < 15 ? 0.f : 1.f);
        const unsigned char *v = L.vertex + 16 * i;
        const uint32_t pos = le32(v), rot = le32(v + 4), scale = le32(v + 8), colour = le32(v + 12);
        const float pt[3] = {unorm(pos >> 21, 11), unorm(pos >> 11, 10), unorm(pos, 11)};
        const float st[3] = {unorm(scale >> 21, 11), unorm(scale >> 11, 10), unorm(scale, 11)};
        for (int k = 0; k < 3; ++k) {
            s.position[3 * i + k] = lerp(b[k], b[3 + k], pt[k]);
            s.scale[3 * i + k] = std::exp(lerp(b[6 + k], b[9 + k], st[k]));
            const float ct = unorm(colour >> (24 - 8 * k), 8);
            s.dc[3 * i + k] = (lerp(b[12 + k], b[15 + k], ct) - 0.5f) / kC0;
        }
        s.opacity[i] = unorm(colour, 8);
        // The three smaller components in [-1/sqrt 2, 1/sqrt 2], in w x y z order around the
        // largest, whose index the top two bits hold.
        const int largest = static_cast<int>(rot >> 30);
        float small[3], sum = 0;
        for (int k = 0; k < 3; ++k) {
            small[k] = (unorm(rot >> (20 - 10 * k), 10) - 0.5f) * static_cast<float>(M_SQRT2);
            sum += small[k] * small[k];
        }
        float *q = &s.rotation[4 * i];
        for (int k = 0, j = 0; k < 4; ++k)
            q[k] = k == largest ? std::sqrt(std::max(0.f, 1 - sum)) : small[j++];
        SplatFilter::normaliseRotation(q);
        if (per) {
            const size_t coeffs = per / 3;
            const unsigned char *r = L.sh + per * i;
            float out[45];
            for (size_t k = 0; k < coeffs; ++k)
                for (size_t ch = 0; ch < 3; ++ch)
                    out[3 * k + ch] = (static_cast<float>(r[ch * coeffs + k]) + 0.5f) / 256.f * 8 - 4;
            s.setRest(i, out);
        }
    }
}

} // namespace

bool CompressedPlyReader::isCompressedHeader(const PlyHeader &h)
{
    const PlyHeader::Element *chunk = h.element("chunk"), *vertex = h.element("vertex");
    return chunk && vertex && !vertex->properties.empty() && vertex->properties[0].name == "packed_position";
}

SplatScene CompressedPlyReader::read(const char *data, size_t size, const std::string &name)
{
    const PlyHeader h = PlyHeader::parse(data, size);
    const Layout L = layoutOf(h, reinterpret_cast<const unsigned char *>(data) + h.bodyOffset, size - h.bodyOffset);
    SplatScene s;
    s.resize(L.count, L.degree);
    s.antialiased = SplatReader::trainedAntialiased(h);
    Parallel::split(L.count, L.count < 8192 ? 1 : 0,
                    [&](unsigned, size_t first, size_t last) { decode(L, first, last, s); });
    SplatFilter::apply(s, name);
    return s;
}

SplatScene CompressedPlyReader::read(const char *path)
{
    const std::vector<char> bytes = refuse.wholeFile(path);
    return read(bytes.data(), bytes.size(), path);
}
