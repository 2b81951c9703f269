#ifndef VELMORA_GLSLICEDOBJECT_H
#define VELMORA_GLSLICEDOBJECT_H

#include "objects/GL3DObject.h"
#include "objects/SlicePlanes.h"

#include <functional>
#include <vector>

/// What the octree and the volume share as elements shown on three axis-aligned planes: where
/// the planes stand and which show, their textures and which of those are stale, and the value
/// and colour ranges that the panel reads.
class GLSlicedObject : public GL3DObject {
public:
    void getCurrentPosition(int *out) const;
    void getPlaneStates(bool *out) const;
    /// Moves the planes (each index clamped to the grid); only a plane that moved gets its
    /// texture rebuilt. Requests a redisplay when anything changed.
    void setCurrentPosition(int x, int y, int z);
    /// The value range of the current data.
    void getMinMax(float *out) const;
    /// The range the slice colours span.
    void getMinMaxThreshold(float *out) const;
    virtual void setMinMaxThreshold(float min, float max) = 0;
    /// 1 when the slice textures are filtered linearly, 0 for the nearest sample.
    int getInterpolationMode() const;
    /// The RGB texture of plane `p` (0 for X, 1 for Y, 2 for Z), `width` x `height` texels.
    virtual void buildSlice(int p, std::vector<unsigned char> &rgb, int &width, int &height) const = 0;
    /// Planes in space cast no shadow worth drawing.
    void drawShadow(float *plane, float *light, float *color) override;
    /// Texture sides per axis.
    const int *getTextureSize() const { return geometry.textureSize; }
    const SlicePlanes &getSlicePlanes() const { return planes; }

protected:
    /// `xPlane`: the action value of the kind's X plane toggle; its Y and Z toggles are the
    /// two values after it.
    GLSlicedObject(short kind, int firstColorMap, int xPlane)
        : GL3DObject(kind), xPlaneAction(xPlane)
    {
        colorMapIndex = firstColorMap;
    }
    /// The plane toggles, whose rows every sliced kind has; false for any other row.
    bool runAction(const KeyBinding &row) override;
    /// Rebuilds and uploads the stale textures of the visible planes (needs a context).
    void refreshTextures();
    /// Called when the texture of plane `p` was uploaded again.
    virtual void planeRefreshed(int) {}
    /// Runs `pass` under the pose with the clipping planes set there; the model-view matrix
    /// and the enable and transform state come back as they were.
    void withPose(const std::function<void()> &pass);

    SliceGeometry geometry;
    SlicePlanes planes;
    bool stale[3] = {true, true, true};
    float minimum = 0, maximum = 0;
    float thresholdMin = 0, thresholdMax = 0;

private:
    int xPlaneAction;
    std::vector<unsigned char> sliceBuffer;
};

#endif
