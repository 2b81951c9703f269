#ifndef VELMORA_GLMESHTEXTURE_H
#define VELMORA_GLMESHTEXTURE_H

#include "math/Point3.h"
#include "math/NonCopyable.h"
#include "formats/MeshTexture.h"

#include <vector>

/// The OpenGL side of a mesh texture: one texture object a chunk, and the textured corners
/// of every triangle (texture coordinate, normal, position: the T2F_N3F_V3F layout) in one
/// vertex buffer, so that chunk i is drawn as the range of its triangles in one call.
///
/// Needs a current OpenGL context for everything but construction; release() must run
/// in the context that made it (the mesh releases it with its other OpenGL objects).
class GLMeshTexture : NonCopyable {
public:
    GLMeshTexture() = default;
    ~GLMeshTexture();

    /// Uploads the chunks of `texture` (wrap GL_REPEAT, minifying and magnifying filter
    /// `filter`, environment GL_DECAL) and the corners of `triangles` (in the texture's
    /// order, 3 a triangle) with their coordinates `texCoords` (6 a triangle). The texels of
    /// `texture` are released once uploaded. Returns false, holding nothing, when OpenGL
    /// refuses them.
    bool upload(MeshTexture &texture, const float *texCoords, const float *vertices, const Point3 *normals,
                const int *triangles, int nTriangles, int filter);
    /// Writes the corners of `triangles` into the buffer again (the textures stay): after the
    /// triangles drawn changed. False when OpenGL refuses the buffer.
    bool fillCorners(const float *texCoords, const float *vertices, const Point3 *normals, const int *triangles,
                     int nTriangles);
    /// Deletes the textures and the buffer.
    void release();

    /// Draws every chunk's triangles with its texture bound, with the current texture
    /// environment and material, filtered by `filter` (GL_NEAREST or GL_LINEAR); texturing
    /// must be enabled by the caller. Leaves the bound texture and the client arrays as it
    /// found them.
    void draw(int filter);
    /// GL_NEAREST or GL_LINEAR for every chunk.
    void setFilter(int filter);

    int getNChunks() const { return static_cast<int>(names.size()); }
    const std::vector<unsigned> &getNames() const { return names; }
    const std::vector<int> &getChunkStart() const { return chunkStart; }

private:
    std::vector<unsigned> names;
    std::vector<int> chunkStart;
    unsigned buffer = 0;
    int filter = 0; ///< the filter the chunks have
};

#endif
