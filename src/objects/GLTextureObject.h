#ifndef VELMORA_GLTEXTUREOBJECT_H
#define VELMORA_GLTEXTUREOBJECT_H

#include "objects/GL3DObject.h"

#include <string>
#include <vector>

class Bitmap;

/// One picture shown as a flat textured rectangle, one scene unit a pixel, so that a texture
/// atlas made for the meshes can be inspected; an overlay draws triangle outlines given in
/// pixel coordinates by the picture's "uv" text comment.
///
/// The key "n" (and any key offered through notifyKey) replaces the picture by the next
/// one of the numbered sequence "mosaic%04d.png" in the picture's folder; when that file is
/// missing or unreadable the current picture stays, with a message, and the sequence does
/// not move on.
///
/// Reading needs no OpenGL context: the texture is made on the first frame that draws it.
class GLTextureObject : public GL3DObject {
public:
    /// Reads the picture at `path` (raises the image reader's error when it is refused).
    explicit GLTextureObject(const char *path);
    ~GLTextureObject() override;

    /// Reads a picture through Stream and decodes it by the last three characters of the
    /// path; nothing for a null path.
    void readTexture(const char *path);
    /// Prepares the texture of `bitmap`: false (no texture) without a bitmap or when the
    /// padded texture would exceed the texture size limit.
    bool readTextureV3(const Bitmap *bitmap);
    /// Overlay triangles from the first comment when its key is "uv": decimal integers
    /// taken in pairs (x, y), three pairs a triangle. Prints "%d triangles\n".
    void readTextureCoordinates(const Bitmap *bitmap);
    void computeBoundingBox();

    void defaultDrawing() override;
    /// Any key loads the next picture of the sequence.
    int notifyKey(int key) override;
    /// "n" loads the next picture of the sequence.
    enum class Action { NEXT_PICTURE };
    static const BindingTable &bindings();
    const BindingTable *getBindings() const override { return &bindings(); }
    /// Loads the next picture of the sequence; false (keeping the current one) when it is
    /// missing or refused.
    bool nextImage();

    int getImageWidth() const { return imageWidth; }
    int getImageHeight() const { return imageHeight; }
    int getTextureWidth() const { return textureWidth; }
    int getTextureHeight() const { return textureHeight; }
    bool hasTexture() const { return !texels.empty() || nTextureChunks > 0; }
    int getNTriangles() const { return nTriangles; }
    const float *getTrianglePixels() const { return trianglePixels.data(); }
    int getFrameCounter() const { return frameCounter; }
    int getMaxTextureSize() const { return maxTextureSize; }
    void setMaxTextureSize(int size) { maxTextureSize = size; }
    /// The file name of picture `frame` of the sequence.
    std::string sequenceName(int frame) const;

protected:
    void drawObject() override;
    bool runAction(const KeyBinding &row) override;

private:
    void initVariables();
    /// Uploads the prepared texels to the texture (needs a context).
    void makeTexture();
    void drawTexture();
    void drawTriangles();

    int nTriangles;
    int imageWidth, imageHeight;
    int textureWidth, textureHeight;
    unsigned textureName;
    int nTextureChunks;
    int frameCounter;
    std::vector<float> trianglePixels;
    int maxTextureSize;
    /// RGB texels of the next texture to upload (textureWidth x textureHeight), empty once
    /// uploaded or when there is none.
    std::vector<unsigned char> texels;
    std::string folder;
};

#endif
