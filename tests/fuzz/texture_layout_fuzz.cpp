// libFuzzer harness of the mesh texture layouts: the "TC" block of a mesh file or the "uv"
// comment of its image, and the image's own bytes (the cell sizes of the multi-size layout),
// through every layout at a small texture limit; coordinates in 0..1 also over two images.
//
// Input: 5 header bytes, then the block or comment.
//   0: bit 0 set: the coordinates come from a "TC" block, version (bits 1-2); else a "uv" comment
//   1: triangles - 1 (0..63)
//   2: bit 7 set: the image is 1024 wide (the multi-size layout's width); else width - 1
//   3: height - 1 (its low 6 bits: small images keep the runs fast)
//   4: the texture limit is 4 << (byte % 9) (4 to 1024)
// The rest is the block's bytes (read by the mesh reader's block reader) or the comment's
// text; the image's pixels repeat the whole input.
#include "Harness.h"
#include "MeshCheck.h"
#include "formats/MeshTextureReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

// What drawing relies on: chunks within the limit with their texels whole, bounds that
// cover the triangles in order, a permutation of them, finite coordinates.
void checkTexture(const MeshTexture &t, int nTriangles, int limit)
{
    if (t.chunkStart.size() != t.chunks.size() + 1 || t.chunkStart.front() != 0 || t.chunkStart.back() != nTriangles)
        std::abort();
    for (size_t i = 0; i < t.chunks.size(); ++i) {
        const TextureChunk &c = t.chunks[i];
        if (c.width <= 0 || c.height <= 0 || c.width > limit || c.height > limit || !c.pixels)
            std::abort();
        if (t.chunkStart[i] > t.chunkStart[i + 1])
            std::abort();
        volatile unsigned char last = c.pixels[3 * static_cast<size_t>(c.width) * c.height - 1];
        (void)last;
    }
    if (!t.order.empty()) {
        if (t.order.size() != static_cast<size_t>(nTriangles))
            std::abort();
        std::string seen(static_cast<size_t>(nTriangles), 0);
        for (int o : t.order)
            if (o < 0 || o >= nTriangles || seen[static_cast<size_t>(o)]++)
                std::abort();
    }
    for (size_t i = 0; i < 6 * static_cast<size_t>(nTriangles); ++i)
        if (!std::isfinite(t.texCoords[i]))
            std::abort();
}

} // namespace

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::QuietOutput)
{
    if (size < 5)
        return;
    const bool fromBlock = data[0] & 1;
    const int version = (data[0] >> 1) & 3;
    const int nTriangles = (data[1] & 63) + 1;
    const int width = data[2] & 128 ? 1024 : data[2] + 1;
    const int height = (data[3] & 63) + 1;
    const int limit = 4 << (data[4] % 9);
    const uint8_t *rest = data + 5;
    const size_t restSize = size - 5;

    std::unique_ptr<Bitmap> image(new Bitmap(width, height));
    auto *pixels = reinterpret_cast<unsigned char *>(image->pixels);
    for (size_t i = 0, n = 3 * static_cast<size_t>(width) * height; i < n; i += size)
        std::memcpy(pixels + i, data, std::min(size, n - i));

    MeshData block;
    block.nTriangles = nTriangles;
    if (fromBlock) {
        if (restSize == 0)
            return;
        meshfuzz::File f(fmemopen(const_cast<uint8_t *>(rest), restSize, "rb"), std::fclose);
        if (!f)
            return;
        const char tag[4] = {'T', 'C', '0', static_cast<char>('0' + version)};
        MeshReader::readTextureCoordinates(f.get(), 0, tag, block);
    } else {
        const std::string text(reinterpret_cast<const char *>(rest), restSize);
        image->comments.push_back(std::make_unique<Comment>("uv", text.c_str()));
        image->nComments = 1;
    }
    try {
        if (block.texCoords && block.texCoordVersion >= 2) {
            // The same coordinates over several images (an imported mesh's materials): the
            // image of each triangle from the input, some of them outside the list.
            std::vector<std::unique_ptr<Bitmap>> images;
            images.emplace_back(new Bitmap(width, height));
            std::memcpy(images.back()->pixels, image->pixels, 3 * static_cast<size_t>(width) * height);
            images.emplace_back(new Bitmap(height, (data[2] & 63) + 1));
            std::vector<int> triangleImage(static_cast<size_t>(nTriangles));
            for (int t = 0; t < nTriangles; ++t)
                triangleImage[static_cast<size_t>(t)] = data[static_cast<size_t>(t) % size] % 4 - 1;
            MeshTextureReader several(nTriangles, block.texCoords.get(), block.texCoordVersion, limit);
            if (several.readTextureImages(std::move(images), triangleImage))
                checkTexture(several.result(), nTriangles, limit);

            // The tiles of a multi-tile atlas: 1001, 1002 and 1011, two sizes.
            std::vector<MeshTextureReader::MaterialImages> tiled(1);
            for (int k = 0; k < 3; ++k) {
                tiled[0].images.emplace_back(new Bitmap(k == 1 ? height : width, k == 1 ? width : height));
                tiled[0].tiles.push_back(k == 2 ? 1011 : 1001 + k);
            }
            MeshTextureReader tiles(nTriangles, block.texCoords.get(), block.texCoordVersion, limit);
            if (tiles.readTextureMaterials(std::move(tiled), {}))
                checkTexture(tiles.result(), nTriangles, limit);
        }
        MeshTextureReader reader(nTriangles, block.texCoords.get(), block.texCoordVersion, limit);
        if (reader.readTexture(std::move(image)))
            checkTexture(reader.result(), nTriangles, limit);
    } catch (const std::bad_alloc &) {
        std::abort(); // nothing here is large enough to excuse running out of memory
    }
}
