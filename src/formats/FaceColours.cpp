#include "formats/FaceColours.h"

#include "formats/MeshReader.h"
#include "formats/TextScanner.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

namespace {

// A face without a colour of its own takes the grey of the default material.
constexpr uint32_t kGrey = FaceColours::kGiven | 166u | 166u << 8 | 166u << 16;

// Copies `width` elements of the old vertex `from` of `old` to the new vertex `to` of `grown`.
template <class T>
void copyVertex(const T *old, T *grown, size_t width, size_t from, size_t to)
{
    if (old)
        std::copy(old + width * from, old + width * (from + 1), grown + width * to);
}

// `array` grown to `n` vertices of `width` elements, the first ones kept; the new ones are
// copies of the vertices `source` gives.
template <class T>
LargeArray<T> grow(const LargeArray<T> &array, size_t width, size_t kept, const std::vector<int> &source)
{
    if (!array)
        return LargeArray<T>();
    LargeArray<T> grown = allocateLargeArray<T>(width * (kept + source.size()));
    std::copy(array.get(), array.get() + width * kept, grown.get());
    for (size_t i = 0; i < source.size(); ++i)
        copyVertex(array.get(), grown.get(), width, static_cast<size_t>(source[i]), kept + i);
    return grown;
}

} // namespace

uint32_t FaceColours::parse(const char *p, const char *end)
{
    float c[4];
    int n = 0;
    for (;;) {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\v' || *p == '\f'))
            ++p;
        if (p == end || *p == '\n' || *p == '#')
            break;
        float value = 0;
        const std::from_chars_result r = TextScanner::parse(p, end, value);
        if (n == 4 || r.ec != std::errc() || (r.ptr < end && std::strchr(" \t\r\v\f\n#", *r.ptr) == nullptr))
            return 0;
        c[n++] = value;
        p = r.ptr;
    }
    if (n < 3)
        return 0;
    // The alpha decides too: OpenSCAD writes "0 0 1 255", an integer colour next to black.
    const float most = *std::max_element(c, c + n);
    const float scale = most > 1 ? 1.0f : 255.0f;
    uint32_t packed = kGiven;
    for (int k = 0; k < 3; ++k) {
        const float v = c[k] * scale;
        // Written so that NaN lands on 0.
        const uint32_t byte = !(v > 0) ? 0 : v >= 255 ? 255 : static_cast<uint32_t>(v + 0.5f);
        packed |= byte << (8 * k);
    }
    return packed;
}

void FaceColours::toVertices(MeshData &m, const std::vector<uint32_t> &triangleColour)
{
    const size_t nv = m.nVertices > 0 ? static_cast<size_t>(m.nVertices) : 0;
    const size_t nt = std::min(triangleColour.size(), m.nTriangles > 0 ? static_cast<size_t>(m.nTriangles) : 0);
    // Each corner keeps its vertex when the vertex has no colour yet or this one; another
    // colour makes (or finds) a copy of the vertex for it.
    std::vector<uint32_t> colourOf(nv, 0);
    std::vector<int> source;
    std::unordered_map<uint64_t, int> copies;
    int *t = m.triangles.get();
    for (size_t i = 0; i < 3 * nt; ++i) {
        const size_t v = static_cast<size_t>(t[i]);
        const uint32_t colour = triangleColour[i / 3] ? triangleColour[i / 3] : kGrey;
        if (colourOf[v] == 0)
            colourOf[v] = colour;
        if (colourOf[v] == colour)
            continue;
        const uint64_t key = static_cast<uint64_t>(v) << 32 | colour;
        const auto found = copies.find(key);
        if (found != copies.end()) {
            t[i] = found->second;
            continue;
        }
        if (nv + source.size() >= static_cast<size_t>(INT_MAX))
            throw std::runtime_error("more than " + std::to_string(INT_MAX) + " vertices once split by face colour");
        const int copy = static_cast<int>(nv + source.size());
        copies.emplace(key, copy);
        source.push_back(static_cast<int>(v));
        colourOf.push_back(colour);
        t[i] = copy;
    }
    m.vertices = grow(m.vertices, 3, nv, source);
    m.normals = grow(m.normals, 1, nv, source);
    m.vertexTexCoords = grow(m.vertexTexCoords, 2, nv, source);
    m.nVertices = static_cast<int>(colourOf.size());
    m.colors.reset(new unsigned char[3 * colourOf.size()]);
    for (size_t v = 0; v < colourOf.size(); ++v) {
        const uint32_t c = colourOf[v] ? colourOf[v] : kGrey;
        for (int k = 0; k < 3; ++k)
            m.colors[3 * v + static_cast<size_t>(k)] = static_cast<unsigned char>(c >> (8 * k));
    }
    m.colorsFromFile = true;
}
