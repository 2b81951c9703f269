#ifndef VELMORA_MESHTEXTURE_H
#define VELMORA_MESHTEXTURE_H

#include "image/Bitmap.h"
#include "formats/LargeArray.h"

#include <memory>
#include <vector>

/// One texture of a mesh's atlas as it goes to OpenGL: width x height RGB texels, rows top
/// first, packed without gaps. The texels are the chunk's own (`own`) or point into the
/// decoded image that the MeshTexture keeps (`source`).
struct TextureChunk {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> own;
    const unsigned char *pixels = nullptr; ///< width x height x 3 bytes
};

/// A mesh texture set up from an image or from data, before anything is uploaded: plain
/// owned arrays, no OpenGL. Every chunk is at most the maximum texture size on each side.
///
/// Triangles chunkStart[i] .. chunkStart[i + 1] - 1 (in the new order) are textured from
/// chunk i; chunkStart[0] is 0 and the last entry is the number of triangles. When the layout
/// regrouped the triangles, `order` says where each came from: new triangle i is the mesh's
/// triangle order[i]; an empty `order` keeps the mesh's order. `texCoords` holds u, v of the
/// three corners of every triangle (new order), in the texture space of its chunk.
struct MeshTexture {
    int textureWidth = 0;  ///< the image's size (the data texture's texel grid)
    int textureHeight = 0;
    std::vector<TextureChunk> chunks;
    std::vector<int> chunkStart;
    std::vector<int> order;
    LargeArray<float> texCoords;
    std::unique_ptr<Bitmap> source; ///< the image chunks may point into
};

#endif
