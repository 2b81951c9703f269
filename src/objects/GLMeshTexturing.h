#ifndef VELMORA_GLMESHTEXTURING_H
#define VELMORA_GLMESHTEXTURING_H

#include "objects/GLMeshTexture.h"
#include "formats/ForeignModel.h"
#include "formats/MeshTexture.h"
#include "math/NonCopyable.h"

#include <memory>
#include <string>
#include <vector>

class GLMeshObject;

/// The texture of a GLMeshObject: the companion image beside its file, the images an
/// imported model names, or the texture of the current data item, laid out in chunks within
/// the texture limit and given to OpenGL at the first textured frame.
class GLMeshTexturing : NonCopyable {
public:
    explicit GLMeshTexturing(GLMeshObject &mesh) : m(mesh) {}

    /// See GLMeshObject::readTexture(); without `dataFallback` only an image makes a texture.
    bool readTexture(bool dataFallback = true);
    /// The data texture; `gridOnly`: only on a mesh that is a grid of its vertices.
    bool readTextureFromData(bool gridOnly = false);
    /// Gives pending chunks to OpenGL; false when there is no texture to draw with.
    bool upload();
    /// The uploaded chunks, drawn with the filter `filter`.
    void draw(int filter) { meshTexture.draw(filter); }
    /// The images of an imported mesh, and the image of each triangle when there are several.
    void setImages(std::vector<std::string> images, std::vector<int> imageOfTriangle)
    {
        textureImages = std::move(images);
        triangleImage = std::move(imageOfTriangle);
    }
    /// The images of textureImages that the model file holds itself, decoded at the first
    /// textured frame as the others are read.
    void setEmbeddedImages(std::vector<ForeignModel::EmbeddedImage> images) { embeddedImages = std::move(images); }
    /// The limits and counts of an empty mesh.
    void initVariables();
    /// Releases the chunks, the pending set-up and the images.
    void release();
    /// Forgets the images of an imported mesh.
    void dropImages();

    void setMaxTextureSize(int limit) { forcedTextureLimit = limit > 0 ? limit : 0; }
    int getMaxTextureSize() const { return forcedTextureLimit ? forcedTextureLimit : maxTextureSize; }
    int getNTextureChunks() const { return nTextureChunks; }
    const std::vector<unsigned> &getTextureNames() const { return textureNames; }
    const std::vector<int> &getChunkStart() const { return chunkStart; }
    int getTextureWidth() const { return textureWidth; }
    int getTextureHeight() const { return textureHeight; }

private:
    /// Takes a texture set-up over: triangles in its order, its coordinates, its chunks
    /// (uploaded at the next textured frame).
    bool installTexture(MeshTexture &texture);

    GLMeshObject &m;
    int textureWidth = 0;
    int textureHeight = 0;
    std::vector<unsigned> textureNames;          ///< one texture name a chunk
    int nTextureChunks = 0;
    std::vector<int> chunkStart;                 ///< nTextureChunks + 1 triangle bounds
    int textureList = -1;                        ///< display list, -1 = none
    int maxTextureSize = 1024;
    int forcedTextureLimit = 0;                  ///< 0: the OpenGL limit
    std::vector<std::string> textureImages;
    std::vector<int> triangleImage;
    std::vector<ForeignModel::EmbeddedImage> embeddedImages;
    std::unique_ptr<MeshTexture> pendingTexture; ///< chunks set up, not yet uploaded
    GLMeshTexture meshTexture;                   ///< the uploaded chunks and textured corners
};

#endif
