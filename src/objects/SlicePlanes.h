#ifndef VELMORA_SLICEPLANES_H
#define VELMORA_SLICEPLANES_H

#include "objects/SliceGeometry.h"
#include "math/NonCopyable.h"

#include <vector>

/// The three slice textures of a volume or an octree and the drawing of the planes: textured
/// quads, their outlines and the lines where two visible planes meet. A texture is created
/// on its first upload and replaced only when its plane is uploaded again. Every call needs a
/// current OpenGL context except the constructor; the textures go with `release` or the
/// destructor (which must then run with the context current, or after it is gone).
class SlicePlanes : NonCopyable {
public:
    SlicePlanes() = default;
    ~SlicePlanes();

    /// Replaces the texture of `plane` by `width` x `height` RGB texels, row 0 first.
    void upload(int plane, const unsigned char *rgb, int width, int height);
    /// GL_NEAREST or GL_LINEAR, for minification and magnification of every texture.
    void setFilter(int filter);
    int getFilter() const { return filter; }
    bool hasTexture(int plane) const { return textures[plane] != 0; }
    /// How many times plane p's texels were uploaded.
    int getUploadCount(int plane) const { return uploads[plane]; }
    unsigned getTexture(int plane) const { return textures[plane]; }
    void release();

    /// Each visible plane's textured quad at its slice's cell centre (unlit, decal, polygon
    /// offset so that outlines drawn afterwards stay on top).
    void drawQuads(const SliceGeometry &g) const;
    /// Black closed outlines of the visible quads, and the lines where two visible planes
    /// meet, running over the grid's whole extent.
    void drawOutlines(const SliceGeometry &g) const;
    /// Pushes the state of black smooth lines `width` wide drawn over the quads (the octree's
    /// structure lines take it too); popLineState() restores it.
    static void pushLineState(float width);
    static void popLineState();

    /// The largest texture side a slice may use: a positive `limit` (tests, and drivers that
    /// overstate theirs), else `GL_MAX_TEXTURE_SIZE` of the current context (1024 when the
    /// query gives nothing).
    static int getMaxTextureSize(int limit = 0);

    /// The world coordinate of the cell centre of slice `index` along `axis`.
    static float slicePlace(const SliceGeometry &g, int axis, int index);

private:
    unsigned textures[3] = {0, 0, 0};
    int textureWidth[3] = {0, 0, 0};
    int textureHeight[3] = {0, 0, 0};
    int uploads[3] = {0, 0, 0};
    int filter = 0x2600;  // GL_NEAREST
};

#endif
