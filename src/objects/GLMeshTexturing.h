#ifndef VELMORA_GLMESHTEXTURING_H
#define VELMORA_GLMESHTEXTURING_H

#include "objects/GLMeshTexture.h"
#include "formats/ForeignModel.h"
#include "formats/MeshTexture.h"
#include "math/NonCopyable.h"
#include "objects/MeshModel.h"

#include <memory>
#include <string>
#include <vector>

class GL3DObject;

/// The texture of a GLMeshObject: the companion image beside its file, the images an
/// imported model names, or the texture of the current data item, laid out in chunks within
/// the texture limit and given to OpenGL at the first textured frame.
///
/// It reads the mesh's file, arrays and data items and hands the layout of a texture back to
/// the mesh (MeshModel); a data texture sets the element's legend.
class GLMeshTexturing : NonCopyable {
public:
    GLMeshTexturing(GL3DObject &mesh, MeshModel &meshModel) : element(mesh), model(meshModel) {}

    /// Finds the companion image beside the mesh file (png, ppm, jpg; fetched like the mesh
    /// when it is remote) and lays it out in chunks within the texture limit; without an
    /// image, the texture of the current data item (unless `dataFallback` is false). An
    /// imported mesh uses the images its file names instead (one group of chunks each; an
    /// image that does not open is white). Returns whether a texture resulted. The chunks go
    /// to OpenGL at the first textured frame. May regroup the triangles by chunk.
    bool readTexture(bool dataFallback = true);
    /// The texture of the current data item: one texel a vertex (see MeshTextureReader);
    /// `gridOnly`: only on a mesh that is a grid of its vertices.
    bool readTextureFromData(bool gridOnly = false);
    /// Gives pending chunks to OpenGL, and the corners again after trianglesChanged(); false
    /// when there is no texture to draw with.
    bool upload();
    /// The triangles drawn changed (some were hidden or shown): the textured corners follow
    /// at the next textured frame.
    void trianglesChanged() { cornersStale = true; }
    /// The images of an imported mesh (see setImages) and those its file holds itself.
    const std::vector<std::string> &getImages() const { return textureImages; }
    const std::vector<int> &getImageOfTriangle() const { return triangleImage; }
    const std::vector<ForeignModel::EmbeddedImage> &getEmbeddedImages() const { return embeddedImages; }
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

    /// Largest texture side: the OpenGL limit, queried at the first texture set-up, unless
    /// a limit is forced here (tests force a small one; 0 lifts it).
    void setMaxTextureSize(int limit) { forcedTextureLimit = limit > 0 ? limit : 0; }
    int getMaxTextureSize() const { return forcedTextureLimit ? forcedTextureLimit : maxTextureSize; }
    /// True when the mesh has texture chunks to map.
    bool hasTexture() const { return nTextureChunks > 0; }
    /// True when the chunks are the texture of data item `item` (not an image's).
    bool showsDataItem(int item) const { return nTextureChunks > 0 && dataItemShown >= 0 && dataItemShown == item; }
    /// True when the chunks held show a data item rather than an image.
    bool showsData() const { return nTextureChunks > 0 && dataItemShown >= 0; }
    int getNTextureChunks() const { return nTextureChunks; }
    /// One OpenGL texture a chunk, once uploaded (empty before the first textured frame).
    const std::vector<unsigned> &getTextureNames() const { return textureNames; }
    /// Triangles chunkStart[i] .. chunkStart[i + 1] - 1 are textured from chunk i.
    const std::vector<int> &getChunkStart() const { return chunkStart; }
    int getTextureWidth() const { return textureWidth; }
    int getTextureHeight() const { return textureHeight; }

private:
    /// Takes a texture set-up over: triangles in its order, its coordinates, its chunks
    /// (uploaded at the next textured frame).
    bool installTexture(MeshTexture &texture);

    GL3DObject &element;
    MeshModel &model;
    int textureWidth = 0;
    int textureHeight = 0;
    std::vector<unsigned> textureNames;          ///< one texture name a chunk
    int nTextureChunks = 0;
    int dataItemShown = -1;                      ///< the item the chunks show, -1: an image
    std::vector<int> chunkStart;                 ///< nTextureChunks + 1 triangle bounds
    int textureList = -1;                        ///< display list, -1 = none
    int maxTextureSize = 1024;
    int forcedTextureLimit = 0;                  ///< 0: the OpenGL limit
    std::vector<std::string> textureImages;
    std::vector<int> triangleImage;
    std::vector<ForeignModel::EmbeddedImage> embeddedImages;
    std::unique_ptr<MeshTexture> pendingTexture; ///< chunks set up, not yet uploaded
    bool cornersStale = false;
    GLMeshTexture meshTexture;                   ///< the uploaded chunks and textured corners
};

#endif
