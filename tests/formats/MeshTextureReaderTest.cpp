// Texture layouts of a mesh's companion image: every triangle must find, in its own chunk,
// the texels the image holds for it, whatever the chunk limit; refused images say why.
#include "formats/ColorMap.h"
#include "math/Messages.h"
#include "formats/MeshTextureReader.h"
#include "formats/TextureImageFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Texel = RGB<unsigned char>;

// A colour that names a pixel (or a triangle) uniquely enough for these sizes.
Texel code(int a, int b) { return Texel(static_cast<unsigned char>(a & 255), static_cast<unsigned char>(b & 255), static_cast<unsigned char>(((a >> 8) & 15) | ((b >> 8) << 4))); }

std::unique_ptr<Bitmap> image(int w, int h)
{
    std::unique_ptr<Bitmap> b(new Bitmap(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b->get(x, y) = code(x, y);
    return b;
}

void addComment(Bitmap &b, const char *key, const std::string &text)
{
    b.comments.push_back(std::make_unique<Comment>(key, text.c_str()));
    b.nComments = 1;
}

Texel sample(const TextureChunk &c, float u, float v)
{
    const int x = static_cast<int>(std::floor(u * c.width)), y = static_cast<int>(std::floor(v * c.height));
    EXPECT_TRUE(x >= 0 && x < c.width && y >= 0 && y < c.height) << u << " " << v;
    if (x < 0 || x >= c.width || y < 0 || y >= c.height)
        return Texel(0, 0, 0);
    const unsigned char *p = c.pixels + 3 * (static_cast<size_t>(y) * c.width + x);
    return Texel(p[0], p[1], p[2]);
}

bool same(Texel a, Texel b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

// Every chunk within the limit, chunk bounds that cover all triangles in order.
void expectWellFormed(const MeshTexture &t, int nTriangles, int limit)
{
    ASSERT_EQ(t.chunkStart.size(), t.chunks.size() + 1);
    EXPECT_EQ(t.chunkStart.front(), 0);
    EXPECT_EQ(t.chunkStart.back(), nTriangles);
    for (size_t i = 0; i < t.chunks.size(); ++i) {
        EXPECT_LE(t.chunks[i].width, limit);
        EXPECT_LE(t.chunks[i].height, limit);
        EXPECT_LE(t.chunkStart[i], t.chunkStart[i + 1]);
        ASSERT_NE(t.chunks[i].pixels, nullptr);
    }
    if (!t.order.empty()) {
        std::vector<int> seen(static_cast<size_t>(nTriangles), 0);
        for (int o : t.order)
            ++seen[static_cast<size_t>(o)];
        EXPECT_EQ(seen, std::vector<int>(static_cast<size_t>(nTriangles), 1));
    }
    for (size_t i = 0; i < 6 * static_cast<size_t>(nTriangles); ++i)
        ASSERT_TRUE(std::isfinite(t.texCoords[i])) << "coordinate " << i;
}

int chunkOf(const MeshTexture &t, int triangle)
{
    int c = 0;
    while (triangle >= t.chunkStart[static_cast<size_t>(c) + 1])
        ++c;
    return c;
}

// Pixel corners of triangles spread over the whole image.
std::vector<int> spreadCorners(int n, int w, int h, int span)
{
    std::vector<int> p;
    for (int t = 0; t < n; ++t) {
        const int x = (t * 37) % (w - span), y = (t * 53) % (h - span);
        p.insert(p.end(), {x, y, x + span, y, x, y + span});
    }
    return p;
}

std::string asText(const std::vector<int> &v)
{
    std::string s;
    for (int x : v)
        s += std::to_string(x) + (s.size() % 7 == 3 ? "\n" : " ");
    return s;
}

TEST(MeshTextureReader, ExplicitCoordinatesFindTheirTexelsAtEveryLimit)
{
    const int n = 300, w = 200, h = 1000;
    const std::vector<int> corners = spreadCorners(n, w, h, 6);
    for (int limit : {1024, 256, 64}) {
        std::unique_ptr<Bitmap> img = image(w, h);
        addComment(*img, "uv", asText(corners));
        MeshTextureReader reader(n, nullptr, -1, limit);
        CapturingMessageSink sink;
        ScopedMessageSink sinkScope(sink);
        const bool ok = reader.readTexture(std::move(img));
        const std::string said = sink.text();
        if (limit < 256) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(said, "GLMeshObject: texture chunk size (256x64) exceeds implementation limits (64)!\n");
            continue;
        }
        ASSERT_TRUE(ok) << said;
        const MeshTexture &t = reader.result();
        expectWellFormed(t, n, limit);
        EXPECT_EQ(t.chunks.size(), limit == 1024 ? 1u : 4u) << "bands of 256 rows of 1000";
        for (int i = 0; i < n; ++i) {
            const int from = t.order.empty() ? i : t.order[static_cast<size_t>(i)];
            const TextureChunk &c = t.chunks[static_cast<size_t>(chunkOf(t, i))];
            for (int k = 0; k < 3; ++k) {
                const int x = corners[static_cast<size_t>(6 * from + 2 * k)], y = corners[static_cast<size_t>(6 * from + 2 * k + 1)];
                ASSERT_TRUE(same(sample(c, t.texCoords[6 * i + 2 * k], t.texCoords[6 * i + 2 * k + 1]), code(x, y)))
                    << "limit " << limit << " triangle " << from << " corner " << k;
            }
        }
    }
}

TEST(MeshTextureReader, TextureCoordinateBlocksAndRefusedCoordinates)
{
    // A float block gives u, v directly; an integer block pixel positions.
    const std::vector<float> floats{0.1f, 0.2f, 0.5f, 0.2f, 0.1f, 0.9f};
    const std::vector<float> pixels{10, 20, 50, 20, 10, 90};
    for (const auto &[block, version] : {std::pair{&floats, 2}, std::pair{&pixels, 0}}) {
        MeshTextureReader reader(1, block->data(), version, 512);
        ASSERT_TRUE(reader.readTexture(image(100, 100)));
        const MeshTexture &t = reader.result();
        EXPECT_TRUE(same(sample(t.chunks[0], t.texCoords[2], t.texCoords[3]), code(50, 20)));
        EXPECT_TRUE(same(sample(t.chunks[0], t.texCoords[4], t.texCoords[5]), code(10, 90)));
    }

    struct Case {
        std::vector<float> block;
        const char *comment;
        std::string said;
    } cases[] = {
        {{0.1f, NAN, 0.5f, 0.2f, 0.1f, 0.9f}, nullptr,
         "GLMeshObject: texture coordinates of triangle 0 lie outside the 100x100 image\n"},
        {{}, "1 2 3 4 5", "GLMeshObject: the \"uv\" comment holds 5 numbers for 1 triangles\n"},
        {{}, "1 2 3 4 5 x", "GLMeshObject: the \"uv\" comment holds something else than whole numbers\n"},
        {{}, "1 2 3 4 5 100", "GLMeshObject: texture coordinates of triangle 0 lie outside the 100x100 image\n"},
    };
    for (const Case &c : cases) {
        std::unique_ptr<Bitmap> img = image(100, 100);
        if (c.comment)
            addComment(*img, "uv", c.comment);
        MeshTextureReader reader(1, c.block.empty() ? nullptr : c.block.data(), 2, 512);
        CapturingMessageSink sink;
        ScopedMessageSink sinkScope(sink);
        EXPECT_FALSE(reader.readTextureV3(*img));
        EXPECT_EQ(sink.text(), c.said);
    }
    // The design's wide image: 2048 x 512 with a limit of 1024.
    const std::vector<float> one{0.1f, 0.1f, 0.2f, 0.1f, 0.1f, 0.2f};
    MeshTextureReader wide(1, one.data(), 2, 1024);
    CapturingMessageSink sink;
    ScopedMessageSink sinkScope(sink);
    EXPECT_FALSE(wide.readTextureV3(*image(2048, 512)));
    EXPECT_EQ(sink.text(),
              "GLMeshObject: texture chunk size (2048x512) exceeds implementation limits (1024)!\n");
}

// Float coordinates outside 0..1: the image repeats, or (tiles) the whole parts of u and v
// name the tile; a triangle nothing covers is drawn white and the others stay textured.
TEST(MeshTextureReader, CoordinatesOutsideTheImageRepeatItOrFindTheirTile)
{
    constexpr int kImage = 0, kWhite = -1;
    const Texel white(255, 255, 255);
    const auto tileColour = [](int tile) { return Texel(static_cast<unsigned char>(tile - 1000), 0, 200); };
    struct Case {
        const char *what;
        std::vector<float> uv;   // 6 a triangle, v downwards
        std::vector<int> tiles;  // empty: one 64x64 image
        std::vector<int> shows;  // a triangle: kImage, a tile number or kWhite
        std::string said;
    } cases[] = {
        {"inside", {0.1f, 0.2f, 0.5f, 0.2f, 0.1f, 0.9f}, {}, {kImage}, ""},
        {"moved by whole repeats", {2.1f, -0.8f, 2.5f, -0.8f, 2.1f, -0.1f}, {}, {kImage}, ""},
        {"across the border: repeated", {0.3f, 0.3f, 3.5f, 0.3f, 0.3f, 2.7f}, {}, {kImage}, ""},
        {"not a number beside a good one",
         {0.1f, 0.2f, 0.5f, 0.2f, 0.1f, 0.9f, NAN, 0.2f, 0.5f, 0.2f, 0.1f, 0.9f},
         {},
         {kImage, kWhite},
         "GLMeshObject: texture coordinates of 1 of 2 triangles (the first: triangle 1) lie outside the 64x64 "
         "image, drawn white\n"},
        {"corners too far apart for any repeat",
         {0.1f, 0.2f, 0.5f, 0.2f, 0.1f, 0.9f, -3e38f, 0.2f, 3e38f, 0.2f, 3e38f, 0.9f},
         {},
         {kImage, kWhite},
         "GLMeshObject: texture coordinates of 1 of 2 triangles (the first: triangle 1) lie outside the 64x64 "
         "image, drawn white\n"},
        {"tiles",
         {1.1f, 0.9f, 1.5f, 0.9f, 1.1f, 0.2f,     // u 1..2, v up 0..1: 1002
          0.1f, -0.2f, 0.5f, -0.2f, 0.1f, -0.9f,  // u 0..1, v up 1..2: 1011
          2.1f, 0.9f, 2.5f, 0.9f, 2.1f, 0.2f,     // 1003 is not there
          0.5f, 0.9f, 1.5f, 0.9f, 0.5f, 0.2f,     // across two tiles
          0.1f, 0.9f, 0.5f, 0.9f, 0.1f, 0.2f},    // 1001
         {1001, 1002, 1011},
         {1002, 1011, kWhite, kWhite, 1001},
         "GLMeshObject: texture coordinates of 2 of 5 triangles (the first: triangle 2) lie outside every image, "
         "drawn white\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const int n = static_cast<int>(c.uv.size() / 6);
        std::vector<MeshTextureReader::MaterialImages> materials(1);
        if (c.tiles.empty())
            materials[0].images.push_back(image(64, 64));
        for (int tile : c.tiles) {
            auto img = std::make_unique<Bitmap>(32, 32);
            for (int y = 0; y < 32; ++y)
                for (int x = 0; x < 32; ++x)
                    img->get(x, y) = tileColour(tile);
            materials[0].images.push_back(std::move(img));
        }
        materials[0].tiles = c.tiles;
        MeshTextureReader reader(n, c.uv.data(), 3, 1024);
        CapturingMessageSink sink;
        ScopedMessageSink sinkScope(sink);
        ASSERT_TRUE(reader.readTextureMaterials(std::move(materials), {}));
        EXPECT_EQ(sink.text(), c.said);
        const MeshTexture &t = reader.result();
        expectWellFormed(t, n, 1024);
        for (int i = 0; i < n; ++i) {
            const int from = t.order.empty() ? i : t.order[static_cast<size_t>(i)];
            const TextureChunk &chunk = t.chunks[static_cast<size_t>(chunkOf(t, i))];
            for (int k = 0; k < 3; ++k) {
                const float u = t.texCoords[6 * i + 2 * k], v = t.texCoords[6 * i + 2 * k + 1];
                const Texel got = sample(chunk, u - std::floor(u), v - std::floor(v));
                const int shows = c.shows[static_cast<size_t>(from)];
                const float ou = c.uv[static_cast<size_t>(6 * from + 2 * k)], ov = c.uv[static_cast<size_t>(6 * from + 2 * k + 1)];
                const Texel want = shows == kWhite   ? white
                                   : shows == kImage ? code(static_cast<int>((ou - std::floor(ou)) * 64),
                                                            static_cast<int>((ov - std::floor(ov)) * 64))
                                                     : tileColour(shows);
                EXPECT_TRUE(same(got, want)) << "triangle " << from << " corner " << k;
            }
        }
    }

    // Repeated, an image of another size is scaled to a power of two, not padded with white.
    const std::vector<float> across{0.3f, 0.3f, 3.5f, 0.3f, 0.3f, 2.7f};
    MeshTextureReader scaled(1, across.data(), 3, 1024);
    ASSERT_TRUE(scaled.readTexture(image(100, 100)));
    ASSERT_EQ(scaled.result().chunks.size(), 1u);
    const TextureChunk &whole = scaled.result().chunks[0];
    EXPECT_EQ(whole.width, 128);
    EXPECT_TRUE(same(sample(whole, 0.999f, 0.999f), code(99, 99)));
    EXPECT_TRUE(same(sample(whole, 0.5f, 0.0f), code(50, 0)));

    // Tile numbers in image names.
    const std::pair<const char *, int> names[] = {{"a/wall.1001.png", 1001}, {"wall_1012.jpg", 1012},
                                                  {"a/1001.png", 1001},      {"wall12001.png", 0},
                                                  {"x.1101.png", 0},         {"a.b/wall.png", 0}};
    for (const auto &[name, tile] : names)
        EXPECT_EQ(TextureImageFiles::tileNumber(name), tile) << name;
    EXPECT_EQ(TextureImageFiles::tileName("a/wall.1001.png", 1012), "a/wall.1012.png");
}

// A 1024-wide multi-size image: the level bytes first, then the cells packed level by
// level, each cell painted with its triangle's code.
std::unique_ptr<Bitmap> multiSizeImage(const std::vector<int> &level, int h)
{
    std::unique_ptr<Bitmap> img(new Bitmap(1024, h));
    auto *bytes = reinterpret_cast<unsigned char *>(img->pixels);
    for (size_t t = 0; t < level.size(); ++t)
        bytes[t] = static_cast<unsigned char>(level[t]);
    const int header = static_cast<int>((level.size() + 3071) / 3072);
    int y = header;
    for (int k = 0; k < 16; ++k) {
        const int s = 1 << k;
        int x = 0, placed = 0;
        for (size_t t = 0; t < level.size(); ++t) {
            if (level[t] != k)
                continue;
            if (x + s > 1024) {
                x = 0;
                y += s;
            }
            for (int r = 0; r < s && y + r < h; ++r)
                for (int c = 0; c < s && x + c < 1024; ++c)
                    img->get(x + c, y + r) = code(static_cast<int>(t), 7);
            x += s;
            ++placed;
        }
        if (placed)
            y += s;
    }
    return img;
}

TEST(MeshTextureReader, MultiSizeCellsKeepTheirCellsAcrossChunks)
{
    std::vector<int> level;
    for (int t = 0; t < 1200; ++t)
        level.push_back(t % 3 == 0 ? 6 : t % 3 == 1 ? 3 : 5); // 64, 8 and 32 pixels: 2048 rows
    for (int limit : {4096, 1024}) {
        MeshTextureReader reader(static_cast<int>(level.size()), nullptr, -1, limit);
        CapturingMessageSink sink;
        ScopedMessageSink sinkScope(sink);
        const bool ok = reader.readTexture(multiSizeImage(level, 2100));
        const std::string said = sink.text();
        ASSERT_TRUE(ok) << said;
        EXPECT_EQ(said, "Using multi-sized texture [ 0 0 0 400 0 400 400 ]\n");
        const MeshTexture &t = reader.result();
        expectWellFormed(t, 1200, limit);
        if (limit == 1024) {
            EXPECT_GT(t.chunks.size(), 1u);
        }
        for (int i = 0; i < 1200; ++i) {
            const int from = t.order[static_cast<size_t>(i)];
            const TextureChunk &c = t.chunks[static_cast<size_t>(chunkOf(t, i))];
            for (int k = 0; k < 3; ++k)
                ASSERT_TRUE(same(sample(c, t.texCoords[6 * i + 2 * k], t.texCoords[6 * i + 2 * k + 1]), code(from, 7)))
                    << "limit " << limit << " triangle " << from;
        }
        // Levels ascend through the new order.
        for (int i = 1; i < 1200; ++i)
            ASSERT_LE(level[static_cast<size_t>(t.order[i - 1])], level[static_cast<size_t>(t.order[i])]);
    }

    // Cells that need more rows than the image has, and a level of 16, are refused; the
    // second then goes on to the uniform cells, which do not fit either.
    struct Case {
        std::vector<int> level;
        int height;
        std::string said;
    } cases[] = {
        {std::vector<int>(200, 6), 100, "Using multi-sized texture [ 0 0 0 0 0 0 200 ]\n"
                                         "GLMeshObject: texture cells need 832 rows, the image has 99 below the cell sizes\n"},
        {{16, 0, 0}, 64, ""},
        {{11, 0}, 4096, "Using multi-sized texture [ 1 0 0 0 0 0 0 0 0 0 0 1 ]\n"
                         "GLMeshObject: texture cells of 2048 pixels do not fit in a 1024x1024 chunk\n"},
    };
    for (const Case &c : cases) {
        MeshTextureReader reader(static_cast<int>(c.level.size()), nullptr, -1, 1024);
        std::unique_ptr<Bitmap> img = multiSizeImage(c.level, c.height);
        CapturingMessageSink sink;
        ScopedMessageSink sinkScope(sink);
        EXPECT_FALSE(reader.readTextureV2(*img));
        EXPECT_EQ(sink.text(), c.said);
    }
}

TEST(MeshTextureReader, UniformCellsRepackIntoStrips)
{
    // 16 triangles in a 256 x 256 image: 4 x 4 cells of 64.
    for (auto [n, w, h, limit, strips] : {std::tuple{16, 256, 256, 1024, 1}, std::tuple{16, 256, 256, 128, 4},
                                          std::tuple{200, 64, 200 * 4, 1024, 1}, std::tuple{1000, 1024, 1024, 256, 16}}) {
        std::unique_ptr<Bitmap> img = image(w, h);
        const int b = w > 128 ? static_cast<int>(std::ceil(std::sqrt(double(n)))) : 1;
        const int cw = w / b, ch = h / (w > 128 ? b : n);
        for (int j = 0; j < n; ++j)
            for (int y = 0; y < ch; ++y)
                for (int x = 0; x < cw; ++x)
                    img->get((j % b) * cw + x, (j / b) * ch + y) = code(j, 9);
        MeshTextureReader reader(n, nullptr, -1, limit);
        CapturingMessageSink sink;
        ScopedMessageSink sinkScope(sink);
        const bool ok = reader.readTexture(std::move(img));
        const std::string said = sink.text();
        if (b > 1 && (w % b != 0 || ((w / b) & (w / b - 1)))) {
            EXPECT_FALSE(ok) << said;
            continue;
        }
        ASSERT_TRUE(ok) << said;
        // (A 1024-pixel-wide image is offered to the multi-size cells first, which refuse it.)
        const std::string used = "using " + std::to_string(cw) + "x" + std::to_string(ch) + " cell size texture\n";
        EXPECT_EQ(said.substr(said.size() - std::min(said.size(), used.size())), used);
        const MeshTexture &t = reader.result();
        expectWellFormed(t, n, limit);
        EXPECT_EQ(t.chunks.size(), static_cast<size_t>(strips)) << n;
        for (int i = 0; i < n; ++i) {
            const TextureChunk &c = t.chunks[static_cast<size_t>(chunkOf(t, i))];
            for (int k = 0; k < 3; ++k)
                ASSERT_TRUE(same(sample(c, t.texCoords[6 * i + 2 * k], t.texCoords[6 * i + 2 * k + 1]), code(i, 9)))
                    << n << " triangle " << i << " corner " << k;
        }
    }
    // 8 triangles: 3 columns of 85.3 pixels are no power of two.
    MeshTextureReader eight(8, nullptr, -1, 1024);
    EXPECT_FALSE(eight.readTextureV1(*image(256, 256)));
}

TEST(MeshTextureReader, DataTextureAndCompanionNames)
{
    std::vector<float> values(1024);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<float>(i);
    // A triangle of grid neighbours: one texel a vertex.
    const std::vector<int> tri{0, 33, 1};
    MeshTextureReader r1024(1, nullptr, -1, 1024);
    ASSERT_TRUE(r1024.readTextureFromData(values.data(), 0, 1023, 1024, tri.data()));
    const MeshTexture &t = r1024.result();
    EXPECT_EQ(t.textureWidth, 32);
    EXPECT_EQ(t.textureHeight, 32);
    unsigned char jet[3];
    ColorMap::jetColorMap(jet, 33, 0, 1023);
    EXPECT_TRUE(same(sample(t.chunks[0], t.texCoords[2], t.texCoords[3]), Texel(jet[0], jet[1], jet[2])));
    // Vertices that are no grid (a count that fills no rows, a triangle across the grid): the
    // colours of the values along a row of texels, whatever lies between the corners.
    for (const auto &[count, corners] : {std::pair{1000, std::vector<int>{0, 1, 33}},
                                         std::pair{1024, std::vector<int>{0, 500, 1023}}}) {
        MeshTextureReader ramp(1, nullptr, -1, 1024);
        ASSERT_TRUE(ramp.readTextureFromData(values.data(), 0, 1023, count, corners.data()));
        const MeshTexture &r = ramp.result();
        ASSERT_EQ(r.chunks.size(), 1u);
        EXPECT_EQ(r.chunks[0].height, 1);
        for (int k = 0; k < 3; ++k) {
            ColorMap::jetColorMap(jet, float(corners[static_cast<size_t>(k)]), 0, 1023);
            const Texel got = sample(r.chunks[0], r.texCoords[2 * k], r.texCoords[2 * k + 1]);
            EXPECT_NEAR(got.r, jet[0], 8) << count << " corner " << k;
            EXPECT_NEAR(got.g, jet[1], 8) << count << " corner " << k;
            EXPECT_NEAR(got.b, jet[2], 8) << count << " corner " << k;
        }
    }
    MeshTextureReader small(1, nullptr, -1, 16);
    CapturingMessageSink sink;
    ScopedMessageSink sinkScope(sink);
    EXPECT_FALSE(small.readTextureFromData(values.data(), 0, 1023, 1024, tri.data()));
    EXPECT_EQ(sink.text(), "GLMeshObject: texture size exceeds implementation limits!\n");

    EXPECT_EQ(TextureImageFiles::companionNames("dir/model.tri"),
              (std::vector<std::string>{"dir/model.png", "dir/model.ppm", "dir/model.jpg"}));
    EXPECT_TRUE(TextureImageFiles::companionNames("a.tr").empty());
}

} // namespace
