#ifndef VELMORA_GLSLICEDOBJECT_H
#define VELMORA_GLSLICEDOBJECT_H

#include "objects/GL3DObject.h"
#include "objects/SlicePlanes.h"

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
    /// Any integer, kept modulo the number of colour maps.
    virtual void setColorMap(int i) = 0;
    virtual int getColorMap() const = 0;
    /// Texture sides per axis.
    const int *getTextureSize() const { return geometry.textureSize; }
    const SlicePlanes &getSlicePlanes() const { return planes; }

protected:
    using GL3DObject::GL3DObject;
    /// Like the panel's palette: another map over the same threshold range.
    bool stepColorMap(int step) override;

    SliceGeometry geometry;
    SlicePlanes planes;
    bool stale[3] = {true, true, true};
    float minimum = 0, maximum = 0;
    float thresholdMin = 0, thresholdMax = 0;
};

#endif
