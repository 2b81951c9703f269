#include "formats/MeshTextureReader.h"
#include "math/Messages.h"

#include "formats/ColorMap.h"
#include "formats/TextScanner.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

// The smallest power of two not below x (x >= 1), as a 64-bit value so that no image size
// overflows it.
long long nextPowerOfTwo(long long x)
{
    long long p = 1;
    while (p < x)
        p <<= 1;
    return p;
}

bool isPowerOfTwo(double x)
{
    if (!(x > 0) || !std::isfinite(x))
        return false;
    const double l = std::log2(x);
    return std::fabs(l - std::round(l)) < 1e-5;
}

constexpr unsigned char kWhite = 255;

// A chunk of its own, white, w x h.
TextureChunk whiteChunk(int w, int h)
{
    TextureChunk c;
    c.width = w;
    c.height = h;
    c.own.assign(3 * static_cast<size_t>(w) * static_cast<size_t>(h), kWhite);
    c.pixels = c.own.data();
    return c;
}

// A chunk that is the image itself, pointing into its pixels: no copy.
TextureChunk imageChunk(const Bitmap &image)
{
    TextureChunk c;
    c.width = image.width;
    c.height = image.height;
    c.pixels = reinterpret_cast<const unsigned char *>(image.pixels);
    return c;
}

// Copies `count` image rows from `firstRow` to the top of the chunk (left aligned).
void copyRows(TextureChunk &c, const Bitmap &image, int firstRow, int count)
{
    const size_t rowBytes = 3 * static_cast<size_t>(image.width);
    const auto *src = reinterpret_cast<const unsigned char *>(image.pixels);
    for (int r = 0; r < count; ++r)
        std::memcpy(&c.own[3 * static_cast<size_t>(c.width) * static_cast<size_t>(r)],
                    src + rowBytes * static_cast<size_t>(firstRow + r), rowBytes);
}

void chunkLimitMessage(long long pw, long long ph, int limit)
{
    msg::error("GLMeshObject: texture chunk size (%lldx%lld) exceeds implementation limits (%d)!\n", pw, ph, limit);
}

} // namespace

MeshTextureReader::MeshTextureReader(int triangles, const float *tc, int version, int limit)
    : nTriangles(triangles > 0 ? triangles : 0), tcBlock(tc), tcVersion(version), maxTextureSize(limit)
{
}

bool MeshTextureReader::readTextureImages(std::vector<std::unique_ptr<Bitmap>> images,
                                          const std::vector<int> &triangleImage)
{
    std::vector<MaterialImages> materials(images.size());
    for (size_t k = 0; k < images.size(); ++k)
        materials[k].images.push_back(std::move(images[k]));
    return readTextureMaterials(std::move(materials), triangleImage);
}

namespace {

// Coordinates this close past an edge of an image (or tile) are taken as on it.
constexpr double kEdge = 1e-4;

bool finiteCorners(const float *uv)
{
    for (int k = 0; k < 6; ++k)
        if (!std::isfinite(uv[k]))
            return false;
    return true;
}

// True when every corner lies within 0..1, after moving those a hair outside onto the edge.
bool insideUnit(float *uv)
{
    for (int k = 0; k < 6; ++k) {
        if (uv[k] < 0 && uv[k] >= -kEdge)
            uv[k] = 0;
        else if (uv[k] > 1 && uv[k] <= 1 + kEdge)
            uv[k] = 1;
        if (uv[k] < 0 || uv[k] > 1)
            return false;
    }
    return true;
}

// Where a triangle's coordinates fall, once moved by the whole repeats its centre lies in.
enum class Repeat { One, Several, Unusable };

// Moves a triangle's coordinates by the whole repeats its centre lies in: One when it then
// lies within one copy of the image, Several when it needs the image repeated, Unusable when
// its corners lie so far apart that the moved coordinates leave the float range.
Repeat intoOneRepeat(float *uv)
{
    float moved[6];
    std::copy(uv, uv + 6, moved);
    if (insideUnit(moved)) {
        std::copy(moved, moved + 6, uv);
        return Repeat::One;
    }
    const double su = std::floor((double(uv[0]) + uv[2] + uv[4]) / 3);
    const double sv = std::floor((double(uv[1]) + uv[3] + uv[5]) / 3);
    for (int k = 0; k < 3; ++k) {
        moved[2 * k] = static_cast<float>(uv[2 * k] - su);
        moved[2 * k + 1] = static_cast<float>(uv[2 * k + 1] - sv);
    }
    if (!finiteCorners(moved))
        return Repeat::Unusable;
    std::copy(moved, moved + 6, uv);
    if (!insideUnit(moved))
        return Repeat::Several;
    std::copy(moved, moved + 6, uv);
    return Repeat::One;
}

// The tile (1001 + u + 10 v, v counted upwards) that holds a triangle's centre, with the
// coordinates moved into it; 0 when the centre lies in no tile or the triangle crosses its
// border. v is stored downwards from the image's top row (v = 1 - v upwards).
int intoTile(float *uv)
{
    const double cu = (double(uv[0]) + uv[2] + uv[4]) / 3;
    const double cv = 1 - (double(uv[1]) + uv[3] + uv[5]) / 3;
    const double iu = std::floor(cu), iv = std::floor(cv);
    if (iu < 0 || iu > 9 || iv < 0 || iv > 9)
        return 0;
    float moved[6];
    for (int k = 0; k < 3; ++k) {
        moved[2 * k] = static_cast<float>(uv[2 * k] - iu);
        moved[2 * k + 1] = static_cast<float>(uv[2 * k + 1] + iv);
    }
    if (!insideUnit(moved))
        return 0;
    std::copy(moved, moved + 6, uv);
    return 1001 + static_cast<int>(iu) + 10 * static_cast<int>(iv);
}

bool fitsOneTexture(const Bitmap &image, int limit)
{
    return nextPowerOfTwo(image.width) <= limit && nextPowerOfTwo(image.height) <= limit;
}

} // namespace

bool MeshTextureReader::readTextureMaterials(std::vector<MaterialImages> materials,
                                             const std::vector<int> &triangleMaterial)
{
    if (materials.empty() || nTriangles <= 0 || !tcBlock || tcVersion < 2)
        return false;
    std::vector<const Bitmap *> images;
    std::vector<size_t> first;
    for (const MaterialImages &m : materials) {
        if (m.images.empty() || (!m.tiles.empty() && m.tiles.size() != m.images.size()))
            return false;
        first.push_back(images.size());
        for (const auto &image : m.images) {
            if (!image || image->width <= 0 || image->height <= 0 || !image->pixels)
                return false;
            images.push_back(image.get());
        }
    }
    const size_t n = static_cast<size_t>(nTriangles);
    LargeArray<float> uv = allocateLargeArray<float>(6 * n);
    std::copy(tcBlock, tcBlock + 6 * n, uv.get());
    std::vector<int> imageOf(n, -1);
    std::vector<bool> repeat(images.size(), false);
    for (size_t t = 0; t < n; ++t) {
        float *c = &uv[6 * t];
        if (!finiteCorners(c))
            continue;
        size_t m = triangleMaterial.size() == n ? static_cast<size_t>(triangleMaterial[t]) : 0;
        if (m >= materials.size())
            m = 0;
        const MaterialImages &material = materials[m];
        if (!material.tiles.empty()) {
            const int tile = intoTile(c);
            const auto at = std::find(material.tiles.begin(), material.tiles.end(), tile);
            if (tile != 0 && at != material.tiles.end())
                imageOf[t] = static_cast<int>(first[m] + static_cast<size_t>(at - material.tiles.begin()));
            continue;
        }
        const size_t k = first[m];
        const Repeat where = intoOneRepeat(c);
        if (where == Repeat::One) {
            imageOf[t] = static_cast<int>(k);
        } else if (where == Repeat::Several && fitsOneTexture(*images[k], maxTextureSize)) {
            imageOf[t] = static_cast<int>(k);
            repeat[k] = true;
        }
    }
    if (!layoutPlaced(images, imageOf, repeat, uv))
        return false;
    // A chunk that points into an image keeps it.
    for (const TextureChunk &c : texture.chunks)
        for (MaterialImages &m : materials)
            for (auto &image : m.images)
                if (c.own.empty() && image && c.pixels == reinterpret_cast<const unsigned char *>(image->pixels))
                    texture.source = std::move(image);
    return true;
}

bool MeshTextureReader::floatLayout(const Bitmap &image)
{
    // The same placement as over a material's images, the image staying the caller's.
    const size_t n = static_cast<size_t>(nTriangles);
    LargeArray<float> uv = allocateLargeArray<float>(6 * n);
    std::copy(tcBlock, tcBlock + 6 * n, uv.get());
    std::vector<int> imageOf(n, -1);
    std::vector<bool> repeat(1, false);
    for (size_t t = 0; t < n; ++t) {
        float *c = &uv[6 * t];
        if (!finiteCorners(c))
            continue;
        const Repeat where = intoOneRepeat(c);
        if (where == Repeat::One) {
            imageOf[t] = 0;
        } else if (where == Repeat::Several && fitsOneTexture(image, maxTextureSize)) {
            imageOf[t] = 0;
            repeat[0] = true;
        }
    }
    return layoutPlaced({&image}, imageOf, repeat, uv);
}

bool MeshTextureReader::layoutPlaced(const std::vector<const Bitmap *> &images, const std::vector<int> &imageOf,
                                     const std::vector<bool> &repeat, LargeArray<float> &uv)
{
    const size_t n = imageOf.size();
    if (n == 0)
        return explicitLayout(*images[0], uv);
    size_t refused = 0, firstRefused = 0;
    for (size_t t = n; t-- > 0;)
        if (imageOf[t] < 0) {
            ++refused;
            firstRefused = t;
        }
    char where[64];
    if (images.size() == 1)
        std::snprintf(where, sizeof where, "the %dx%d image", images[0]->width, images[0]->height);
    else
        std::snprintf(where, sizeof where, "every image");
    if (refused == n) {
        msg::warning("GLMeshObject: texture coordinates of triangle %zu lie outside %s\n", firstRefused, where);
        return false;
    }
    if (refused > 0)
        msg::warning("GLMeshObject: texture coordinates of %zu of %zu triangles (the first: triangle %zu) lie "
                     "outside %s, drawn white\n",
                     refused, n, firstRefused, where);
    // One image for every triangle: laid out in place, in the mesh's order.
    if (refused == 0 && std::all_of(imageOf.begin(), imageOf.end(), [&](int k) { return k == imageOf[0]; }))
        return explicitLayout(*images[static_cast<size_t>(imageOf[0])], uv, repeat[static_cast<size_t>(imageOf[0])]);

    // Otherwise the triangles are regrouped by image, those of no image last, on one white texel.
    Bitmap white(1, 1);
    white.get(0, 0) = RGB<unsigned char>(kWhite, kWhite, kWhite);
    std::vector<std::vector<int>> members(images.size() + 1);
    for (size_t t = 0; t < n; ++t)
        members[imageOf[t] < 0 ? images.size() : static_cast<size_t>(imageOf[t])].push_back(static_cast<int>(t));
    MeshTexture merged;
    merged.textureWidth = images[0]->width;
    merged.textureHeight = images[0]->height;
    merged.texCoords = allocateLargeArray<float>(6 * n);
    merged.order.reserve(n);
    merged.chunkStart.push_back(0);
    for (size_t k = 0; k <= images.size(); ++k) {
        const std::vector<int> &group = members[k];
        if (group.empty())
            continue;
        const bool blank = k == images.size();
        const size_t m = group.size();
        LargeArray<float> sub = allocateLargeArray<float>(6 * m);
        for (size_t j = 0; j < m; ++j)
            for (int c = 0; c < 6; ++c)
                sub[6 * j + static_cast<size_t>(c)] = blank ? 0.5f : uv[6 * static_cast<size_t>(group[j]) + static_cast<size_t>(c)];
        MeshTextureReader part(static_cast<int>(m), nullptr, 3, maxTextureSize);
        if (!part.explicitLayout(blank ? white : *images[k], sub, !blank && repeat[k])) {
            msg::warning("GLMeshObject: texture image %zu refused its triangles\n", k);
            return false;
        }
        MeshTexture &r = part.result();
        const size_t offset = merged.order.size();
        for (size_t j = 0; j < m; ++j) {
            const size_t from = r.order.empty() ? j : static_cast<size_t>(r.order[j]);
            merged.order.push_back(group[from]);
            std::copy(&r.texCoords[6 * j], &r.texCoords[6 * j] + 6, &merged.texCoords[6 * (offset + j)]);
        }
        for (size_t c = 1; c < r.chunkStart.size(); ++c)
            merged.chunkStart.push_back(static_cast<int>(offset) + r.chunkStart[c]);
        // The images stay the caller's: chunks that point into one get their own copy.
        for (TextureChunk &c : r.chunks) {
            if (c.own.empty()) {
                c.own.assign(c.pixels, c.pixels + 3 * static_cast<size_t>(c.width) * static_cast<size_t>(c.height));
                c.pixels = c.own.data();
            }
            merged.chunks.push_back(std::move(c));
        }
    }
    texture = std::move(merged);
    return true;
}

bool MeshTextureReader::readTexture(std::unique_ptr<Bitmap> image)
{
    if (!image || image->width <= 0 || image->height <= 0 || !image->pixels || nTriangles <= 0)
        return false;
    if (!readTextureV3(*image) && !readTextureV2(*image) && !readTextureV1(*image))
        return false;
    // A chunk that points into the image keeps it; otherwise the image goes now.
    for (const TextureChunk &c : texture.chunks)
        if (c.own.empty())
            texture.source = std::move(image);
    return true;
}

// --- Explicit coordinates -----------------------------------------------------------------------

bool MeshTextureReader::readTextureCoordinates(const Bitmap &image, LargeArray<float> &uv) const
{
    if (image.nComments < 1 || std::strcmp(image.comments[0]->getKey(), "uv") != 0)
        return false;
    const size_t n = 6 * static_cast<size_t>(nTriangles);
    const char *p = image.comments[0]->getText();
    LargeArray<float> out = allocateLargeArray<float>(n);
    const double w = image.width, h = image.height;
    size_t got = 0;
    TextScanner in(p, p + std::strlen(p));
    for (; got < n; ++got) {
        in.skipSpace();
        if (in.atEnd())
            break;
        long long x = 0;
        if (!in.cInteger(x) || (!in.atEnd() && !TextScanner::isSpace(*in.position()))) {
            msg::warning("GLMeshObject: the \"uv\" comment holds something else than whole numbers\n");
            return false;
        }
        out[got] = static_cast<float>((x + 0.5) / (got % 2 == 0 ? w : h));
    }
    if (got < n) {
        msg::warning("GLMeshObject: the \"uv\" comment holds %zu numbers for %d triangles\n", got, nTriangles);
        return false;
    }
    uv = std::move(out);
    return true;
}

bool MeshTextureReader::readTextureV3(const Bitmap &image)
{
    texture.textureWidth = image.width;
    texture.textureHeight = image.height;
    LargeArray<float> uv;
    const size_t n = 6 * static_cast<size_t>(nTriangles);
    if (tcBlock && tcVersion >= 2)
        return floatLayout(image);
    if (tcBlock) {
        // Integer blocks hold pixel positions, like the "uv" comment.
        uv = allocateLargeArray<float>(n);
        for (size_t i = 0; i < n; ++i)
            uv[i] = static_cast<float>((tcBlock[i] + 0.5) / (i % 2 == 0 ? image.width : image.height));
    } else if (!readTextureCoordinates(image, uv)) {
        return false;
    }
    return explicitLayout(image, uv);
}

std::vector<int> MeshTextureReader::divideTexture(const std::vector<int> &rows, int height) const
{
    // Triangles by their top row (a counting sort over the image rows). A band starts at
    // the top row of the first triangle that does not fit in the band before it, so that
    // every triangle lies whole inside the L rows from its band's start.
    const size_t n = rows.size() / 3;
    std::vector<int> top(n), bottom(n), first(static_cast<size_t>(height) + 1, 0);
    for (size_t t = 0; t < n; ++t) {
        top[t] = std::min({rows[3 * t], rows[3 * t + 1], rows[3 * t + 2]});
        bottom[t] = std::max({rows[3 * t], rows[3 * t + 1], rows[3 * t + 2]});
        ++first[static_cast<size_t>(top[t]) + 1];
    }
    for (int r = 0; r < height; ++r)
        first[static_cast<size_t>(r) + 1] += first[static_cast<size_t>(r)];
    std::vector<int> byTop(n);
    for (size_t t = 0; t < n; ++t)
        byTop[static_cast<size_t>(first[static_cast<size_t>(top[t])]++)] = static_cast<int>(t);

    std::vector<int> starts;
    int last = 0;
    for (int t : byTop) {
        if (starts.empty() || bottom[static_cast<size_t>(t)] >= starts.back() + maxTextureSize)
            starts.push_back(top[static_cast<size_t>(t)]);
        last = std::max(last, bottom[static_cast<size_t>(t)]);
    }
    if (starts.empty() || starts.front() != 0)
        starts.insert(starts.begin(), 0);
    starts.push_back(last + 1);
    return starts;
}

bool MeshTextureReader::explicitLayout(const Bitmap &image, LargeArray<float> &coordinates, bool repeat)
{
    float *uv = coordinates.get();
    const int W = image.width, H = image.height, L = maxTextureSize;
    const long long pw = nextPowerOfTwo(W), ph = nextPowerOfTwo(H);
    if (L < pw || (repeat && L < ph)) {
        chunkLimitMessage(pw, L >= ph ? ph : L, L);
        return false;
    }
    const size_t n = static_cast<size_t>(nTriangles);
    texture.textureWidth = W;
    texture.textureHeight = H;

    if (repeat) {
        // Repeated, the texture must be the whole image and nothing else: one of a
        // power-of-two size is scaled to it (nearest texel) instead of padded.
        texture.texCoords = std::move(coordinates);
        if (pw == W && ph == H) {
            texture.chunks.push_back(imageChunk(image));
        } else {
            TextureChunk c = whiteChunk(static_cast<int>(pw), static_cast<int>(ph));
            const auto *src = reinterpret_cast<const unsigned char *>(image.pixels);
            for (long long y = 0; y < ph; ++y)
                for (long long x = 0; x < pw; ++x)
                    std::memcpy(&c.own[3 * static_cast<size_t>(y * pw + x)],
                                src + 3 * static_cast<size_t>((y * H / ph) * W + x * W / pw), 3);
            texture.chunks.push_back(std::move(c));
        }
        texture.chunkStart = {0, nTriangles};
        return true;
    }

    // Every corner must name a pixel of the image (u or v of exactly 1 names the last one).
    for (size_t i = 0; i < 3 * n; ++i) {
        const double c = std::trunc(double(W) * uv[2 * i]), r = std::trunc(double(H) * uv[2 * i + 1]);
        const bool inside = c >= 0 && r >= 0 && (c < W || (c == W && uv[2 * i] <= 1.0f)) &&
                            (r < H || (r == H && uv[2 * i + 1] <= 1.0f));
        if (!inside) {
            msg::warning("GLMeshObject: texture coordinates of triangle %zu lie outside the %dx%d image\n", i / 3, W,
                         H);
            return false;
        }
    }
    // The pixel a corner names (after the check above).
    const auto pixelColumn = [&](size_t i) { return std::min(static_cast<int>(double(W) * uv[2 * i]), W - 1); };
    const auto pixelRow = [&](size_t i) { return std::min(static_cast<int>(double(H) * uv[2 * i + 1]), H - 1); };

    if (L >= ph) {
        // One texture: the coordinates only shrink to the power-of-two size, in place.
        if (pw != W || ph != H)
            for (size_t i = 0; i < 3 * n; ++i) {
                uv[2 * i] = static_cast<float>(uv[2 * i] * W / pw);
                uv[2 * i + 1] = static_cast<float>(uv[2 * i + 1] * H / ph);
            }
        texture.texCoords = std::move(coordinates);
        if (pw == W && ph == H) {
            // The image is already a texture: no copy.
            texture.chunks.push_back(imageChunk(image));
        } else {
            texture.chunks.push_back(whiteChunk(static_cast<int>(pw), static_cast<int>(ph)));
            copyRows(texture.chunks.back(), image, 0, H);
        }
        texture.chunkStart = {0, nTriangles};
        return true;
    }

    // Taller than a texture may be: bands of rows, each triangle whole inside the L rows of
    // its band (the band with the last start not below its top row). A triangle taller than
    // L rows cannot be shown and refuses the layout.
    std::vector<int> rows(3 * n);
    for (size_t i = 0; i < 3 * n; ++i)
        rows[i] = pixelRow(i);
    for (size_t t = 0; t < n; ++t) {
        const int *r = &rows[3 * t];
        if (std::max({r[0], r[1], r[2]}) - std::min({r[0], r[1], r[2]}) >= L) {
            msg::warning("GLMeshObject: texture triangle %zu spans more rows than a chunk holds (%d)\n", t, L);
            return false;
        }
    }
    const std::vector<int> bounds = divideTexture(rows, H);
    const int nBands = static_cast<int>(bounds.size()) - 1;
    std::vector<int> band(n);
    for (size_t t = 0; t < n; ++t) {
        const int top = std::min({rows[3 * t], rows[3 * t + 1], rows[3 * t + 2]});
        band[t] = static_cast<int>(std::upper_bound(bounds.begin(), bounds.end() - 1, top) - bounds.begin()) - 1;
    }
    // Regroup the triangles by band, keeping their order within a band.
    std::vector<int> start(static_cast<size_t>(nBands) + 1, 0);
    for (int b : band)
        ++start[static_cast<size_t>(b) + 1];
    for (int b = 0; b < nBands; ++b)
        start[static_cast<size_t>(b) + 1] += start[static_cast<size_t>(b)];
    texture.chunkStart = start;
    texture.order.resize(n);
    texture.texCoords = allocateLargeArray<float>(6 * n);
    float *out = texture.texCoords.get();
    for (size_t t = 0; t < n; ++t) {
        const int b = band[t];
        const size_t to = static_cast<size_t>(start[static_cast<size_t>(b)]++);
        texture.order[to] = static_cast<int>(t);
        for (int k = 0; k < 3; ++k) {
            out[6 * to + 2 * k] = static_cast<float>((pixelColumn(3 * t + k) + 0.5) / pw);
            out[6 * to + 2 * k + 1] = static_cast<float>((rows[3 * t + k] + 0.5 - bounds[static_cast<size_t>(b)]) / L);
        }
    }
    for (int b = 0; b < nBands; ++b) {
        texture.chunks.push_back(whiteChunk(static_cast<int>(pw), L));
        const int first = bounds[static_cast<size_t>(b)];
        copyRows(texture.chunks.back(), image, first, std::min(L, H - first));
    }
    return true;
}

// --- Multi-size cells ---------------------------------------------------------------------------

bool MeshTextureReader::readTextureV2(const Bitmap &image)
{
    const int W = image.width, H = image.height;
    if (W != 1024)
        return false;
    const size_t n = static_cast<size_t>(nTriangles);
    const size_t bytes = 3 * static_cast<size_t>(W) * static_cast<size_t>(H);
    if (n > bytes) {
        msg::warning("GLMeshObject: %d cell sizes do not fit in the %dx%d image\n", nTriangles, W, H);
        return false;
    }
    const auto *data = reinterpret_cast<const unsigned char *>(image.pixels);
    std::vector<int> level(data, data + n);
    const int nLevels = *std::max_element(level.begin(), level.end()) + 1;
    if (nLevels > 16)
        return false;
    const int headerRows = static_cast<int>((n + 3 * static_cast<size_t>(W) - 1) / (3 * static_cast<size_t>(W)));

    std::vector<int> count(static_cast<size_t>(nLevels), 0);
    for (int l : level)
        ++count[static_cast<size_t>(l)];
    msg::note("Using multi-sized texture [ ");
    for (int c : count)
        msg::note("%d ", c);
    msg::note("]\n");
    return cutMultiTexture(image, level, nLevels, headerRows);
}

bool MeshTextureReader::cutMultiTexture(const Bitmap &image, const std::vector<int> &level, int nLevels,
                                        int headerRows)
{
    const int W = image.width, H = image.height, L = maxTextureSize;
    const size_t n = level.size();
    const int largest = 1 << (nLevels - 1);
    if (W > L) {
        chunkLimitMessage(W, L, L);
        return false;
    }
    if (largest > W || largest > L) {
        msg::warning("GLMeshObject: texture cells of %d pixels do not fit in a %dx%d chunk\n", largest, W, L);
        return false;
    }
    std::vector<long long> count(static_cast<size_t>(nLevels), 0), first(static_cast<size_t>(nLevels) + 1, 0);
    for (int l : level)
        ++count[static_cast<size_t>(l)];
    // Rows of the cell area where each level starts.
    std::vector<long long> R(static_cast<size_t>(nLevels) + 1, 0);
    for (int k = 0; k < nLevels; ++k) {
        const long long s = 1LL << k;
        R[static_cast<size_t>(k) + 1] = R[static_cast<size_t>(k)] + (count[static_cast<size_t>(k)] * s + W - 1) / W * s;
        first[static_cast<size_t>(k) + 1] = first[static_cast<size_t>(k)] + count[static_cast<size_t>(k)];
    }
    const long long cellRows = H - headerRows;
    if (R[static_cast<size_t>(nLevels)] > cellRows) {
        msg::warning("GLMeshObject: texture cells need %lld rows, the image has %lld below the cell sizes\n",
                     R[static_cast<size_t>(nLevels)], cellRows);
        return false;
    }

    // Chunks of at most L rows, cut between rows of cells: a level that overflows the
    // current chunk moves its last whole rows of cells to the next one.
    std::vector<long long> chunkRow{0};
    std::vector<long long> chunkFirst{0};
    long long S = 0;
    for (int k = 0; k < nLevels; ++k) {
        const long long s = 1LL << k, end = R[static_cast<size_t>(k) + 1];
        while (end - S >= L) {
            const long long next = end - (end - S - L + s - 1) / s * s;
            if (next <= S)
                return false; // cannot happen with cells no larger than L; never loop on it
            S = next;
            const long long t = first[static_cast<size_t>(k)] + (W / s) * ((S - R[static_cast<size_t>(k)]) / s);
            chunkRow.push_back(S);
            chunkFirst.push_back(std::min(t, first[static_cast<size_t>(k) + 1]));
        }
    }
    // A cut exactly at the end leaves nothing for a last chunk.
    if (chunkRow.size() > 1 && chunkRow.back() >= R[static_cast<size_t>(nLevels)]) {
        chunkRow.pop_back();
        chunkFirst.pop_back();
    }
    chunkRow.push_back(R[static_cast<size_t>(nLevels)]);
    const size_t nChunks = chunkFirst.size();

    // Triangles by level, in file order within a level.
    texture.order.resize(n);
    {
        std::vector<long long> next(first.begin(), first.end() - 1);
        for (size_t t = 0; t < n; ++t)
            texture.order[static_cast<size_t>(next[static_cast<size_t>(level[t])]++)] = static_cast<int>(t);
    }
    texture.chunkStart.clear();
    for (long long f : chunkFirst)
        texture.chunkStart.push_back(static_cast<int>(f));
    texture.chunkStart.push_back(static_cast<int>(n));

    // Chunk heights: L as the layout has it, or less for a chunk whose rows need less.
    std::vector<int> height(nChunks);
    for (size_t c = 0; c < nChunks; ++c)
        height[c] = static_cast<int>(std::min<long long>(L, nextPowerOfTwo(chunkRow[c + 1] - chunkRow[c])));

    texture.texCoords = allocateLargeArray<float>(6 * n);
    float *out = texture.texCoords.get();
    size_t chunk = 0;
    for (int k = 0, i = 0; k < nLevels; ++k) {
        const long long s = 1LL << k, perRow = W / s;
        for (long long j = 0; j < count[static_cast<size_t>(k)]; ++j, ++i) {
            while (chunk + 1 < nChunks && i >= texture.chunkStart[chunk + 1])
                ++chunk;
            const double x = double((j % perRow) * s);
            const double y = double(R[static_cast<size_t>(k)] + (j / perRow) * s - chunkRow[chunk]);
            const double h = height[chunk];
            float *uv = out + 6 * static_cast<size_t>(i);
            uv[0] = static_cast<float>((x + 0.5) / W);
            uv[1] = static_cast<float>((y + 0.5) / h);
            uv[2] = static_cast<float>((x + s - 0.5) / W);
            uv[3] = static_cast<float>((y + 0.5) / h);
            uv[4] = static_cast<float>((x + 0.5) / W);
            uv[5] = static_cast<float>((y + s - 0.5) / h);
        }
    }
    for (size_t c = 0; c < nChunks; ++c) {
        texture.chunks.push_back(whiteChunk(W, height[c]));
        copyRows(texture.chunks.back(), image, headerRows + static_cast<int>(chunkRow[c]),
                 static_cast<int>(std::min<long long>(height[c], chunkRow[c + 1] - chunkRow[c])));
    }
    texture.textureWidth = W;
    texture.textureHeight = H;
    return true;
}

// --- Uniform cells ------------------------------------------------------------------------------

bool MeshTextureReader::readTextureV1(const Bitmap &image)
{
    const int W = image.width, H = image.height;
    const long long n = nTriangles;
    if (n <= 0)
        return false;
    const long long b = W > 128 ? static_cast<long long>(std::ceil(std::sqrt(double(n)))) : 1;
    const long long rows = W > 128 ? b : n;
    const double cw = double(W) / b, ch = double(H) / rows;
    if (!isPowerOfTwo(W) || !isPowerOfTwo(cw) || !isPowerOfTwo(ch))
        return false;
    // Cells of whole pixels that tile the image exactly.
    const int icw = static_cast<int>(std::lround(cw)), ich = static_cast<int>(std::lround(ch));
    if (icw < 1 || ich < 1 || icw * b != W || ich * rows != H)
        return false;
    msg::note("using %dx%d cell size texture\n", icw, ich);
    return cutTexture(image, static_cast<int>(b), icw, ich);
}

bool MeshTextureReader::cutTexture(const Bitmap &image, int b, int cw, int ch)
{
    const int W = image.width, H = image.height, L = maxTextureSize;
    const long long n = nTriangles;
    if (cw > L || ch > L) {
        chunkLimitMessage(cw, ch, L);
        return false;
    }
    const long long N = static_cast<long long>(W / cw) * (H / ch);
    long long v = 1LL << (static_cast<int>(std::ceil(std::log2(double(N)))) / 2);
    if (cw * v > L)
        v = L / cw;
    // Cell rows a strip holds, and the rows the triangles' cells take in the new image. A
    // single strip is only as tall as its cells need.
    const long long perStrip = L / ch;
    const long long needed = (n + v - 1) / v;
    const long long A = std::min(perStrip, needed);
    const long long nStrips = (needed + A - 1) / A;
    const int stripW = static_cast<int>(cw * v), stripH = static_cast<int>(ch * A);

    texture.chunkStart.clear();
    for (long long i = 0; i < nStrips; ++i)
        texture.chunkStart.push_back(static_cast<int>(std::min(n, i * v * A)));
    texture.chunkStart.push_back(static_cast<int>(n));
    for (long long i = 0; i < nStrips; ++i)
        texture.chunks.push_back(whiteChunk(stripW, stripH));

    // Cell j of the image (b to a row) goes to cell j of the strips (v to a row).
    const auto *src = reinterpret_cast<const unsigned char *>(image.pixels);
    const size_t cellBytes = 3 * static_cast<size_t>(cw);
    for (long long j = 0; j < n; ++j) {
        const long long sx = (j % b) * cw, sy = (j / b) * ch;
        const long long cellRow = j / v;
        TextureChunk &strip = texture.chunks[static_cast<size_t>(cellRow / A)];
        const long long dx = (j % v) * cw, dy = (cellRow % A) * ch;
        for (int r = 0; r < ch; ++r)
            std::memcpy(&strip.own[3 * (static_cast<size_t>(dy + r) * stripW + static_cast<size_t>(dx))],
                        src + 3 * (static_cast<size_t>(sy + r) * W + static_cast<size_t>(sx)), cellBytes);
    }

    texture.texCoords = allocateLargeArray<float>(6 * static_cast<size_t>(n));
    float *out = texture.texCoords.get();
    for (long long j = 0; j < n; ++j) {
        const double col = double(j % v), row = double((j / v) % A);
        const double u0 = (0.5 / cw + col) / v, v0 = (row + 0.5 / ch) / A;
        const double u1 = (col + 1 - 0.5 / cw) / v, v2 = (row + 1 - 0.5 / ch) / A;
        float *uv = out + 6 * static_cast<size_t>(j);
        uv[0] = static_cast<float>(u0);
        uv[1] = static_cast<float>(v0);
        uv[2] = static_cast<float>(u1);
        uv[3] = static_cast<float>(v0);
        uv[4] = static_cast<float>(u0);
        uv[5] = static_cast<float>(v2);
    }
    texture.textureWidth = W;
    texture.textureHeight = H;
    return true;
}

// --- Texture from data ----------------------------------------------------------------------------

bool MeshTextureReader::readTextureFromData(const float *values, float lo, float hi, int nVertices,
                                            const int *triangles, bool gridOnly)
{
    if (!values || nVertices <= 0 || !triangles)
        return false;
    const int th = static_cast<int>(nextPowerOfTwo(static_cast<long long>(std::ceil(std::sqrt(double(nVertices))))));
    const int tw = nVertices / th;
    // One texel a vertex only works on a mesh laid out as that grid: elsewhere a triangle
    // would be filled with the texels of unrelated vertices between its corners.
    bool grid = nVertices % th == 0;
    for (size_t i = 0; grid && i < static_cast<size_t>(nTriangles); ++i) {
        const int *c = triangles + 3 * i;
        for (int k = 0; k < 3 && grid; ++k) {
            const int a = c[k], b = c[(k + 1) % 3];
            grid = std::abs(a % tw - b % tw) <= 1 && std::abs(a / tw - b / tw) <= 1;
        }
    }
    if (!grid)
        return !gridOnly && rampFromData(values, lo, hi, triangles);
    texture.textureWidth = tw;
    texture.textureHeight = th;
    const long long pw = nextPowerOfTwo(tw), ph = th;
    if (maxTextureSize < pw || maxTextureSize < ph) {
        msg::error("GLMeshObject: texture size exceeds implementation limits!\n");
        return false;
    }
    TextureChunk c = whiteChunk(static_cast<int>(pw), static_cast<int>(ph));
    for (int i = 0; i < nVertices; ++i)
        ColorMap::jetColorMap(&c.own[3 * (static_cast<size_t>(i / tw) * pw + static_cast<size_t>(i % tw))], values[i],
                              lo, hi);
    texture.chunks.push_back(std::move(c));
    const size_t n = static_cast<size_t>(nTriangles);
    texture.texCoords = allocateLargeArray<float>(6 * n);
    float *out = texture.texCoords.get();
    for (size_t i = 0; i < 3 * n; ++i) {
        const int k = triangles[i];
        out[2 * i] = static_cast<float>(((k % tw) + 0.5) / pw);
        out[2 * i + 1] = static_cast<float>(((k / tw) + 0.5) / ph);
    }
    texture.chunkStart = {0, nTriangles};
    return true;
}

bool MeshTextureReader::rampFromData(const float *values, float lo, float hi, const int *triangles)
{
    // The colour map as a row of texels, each corner at the place of its value: the value
    // is what runs across a triangle, so its colours are those of the values in between.
    long long w = 1;
    while (w < 256 && 2 * w <= maxTextureSize)
        w *= 2;
    if (w < 2) {
        msg::error("GLMeshObject: texture size exceeds implementation limits!\n");
        return false;
    }
    TextureChunk c = whiteChunk(static_cast<int>(w), 1);
    for (long long i = 0; i < w; ++i)
        ColorMap::jetColorMap(&c.own[3 * static_cast<size_t>(i)], lo + (hi - lo) * float(i) / float(w - 1), lo, hi);
    texture.textureWidth = static_cast<int>(w);
    texture.textureHeight = 1;
    texture.chunks.push_back(std::move(c));
    const size_t n = static_cast<size_t>(nTriangles);
    texture.texCoords = allocateLargeArray<float>(6 * n);
    float *out = texture.texCoords.get();
    for (size_t i = 0; i < 3 * n; ++i) {
        float t = hi > lo ? (values[triangles[i]] - lo) / (hi - lo) : 0;
        if (!(t >= 0))
            t = 0;
        t = std::min(t, 1.0f);
        out[2 * i] = static_cast<float>((0.5 + t * double(w - 1)) / double(w));
        out[2 * i + 1] = 0.5f;
    }
    texture.chunkStart = {0, nTriangles};
    return true;
}
