#ifndef VELMORA_GLVOLUMEOBJECT_H
#define VELMORA_GLVOLUMEOBJECT_H

#include "formats/VolumeReader.h"
#include "objects/GLSlicedObject.h"

#include <string>
#include <vector>

/// A regular grid of scalar samples shown as three axis-aligned slice planes textured through
/// a colour map (or, for a colour image, in its own colours).
///
/// Read from an IMA volume, a PGM image or any image Bitmap reads (by the last three
/// characters of the path: "ima", "pgm", anything else). A volume whose texture sides would
/// exceed the largest OpenGL texture (SlicePlanes::getMaxTextureSize, or a given limit) is sub-sampled on
/// reading. Slice textures are built lazily: moving a plane marks only that plane's texture
/// stale, and the next frame rebuilds it. Reading needs no OpenGL context; drawing does.
class GLVolumeObject : public GLSlicedObject {
public:
    /// Raises the reader's error when the file is refused. Slices are sub-sampled below
    /// `maxTextureSide`, or the context's largest texture when it is 0.
    explicit GLVolumeObject(const char *path, int maxTextureSide = 0);
    /// Takes over a volume read elsewhere.
    explicit GLVolumeObject(VolumeData data, int maxTextureSide = 0);
    ~GLVolumeObject() override;

    void getSize(int *out) const;
    /// The range the colour map spans; rebuilds every texture.
    void setMinMaxThreshold(float min, float max) override;
    /// Non-zero: linear filtering; 0: nearest.
    void setInterpolationMode(int mode);
    bool isPackedColor() const { return volume.packedColor; }
    int getSubSampling() const { return subSampling; }
    const float *getVoxelSize() const { return volume.voxelSize; }
    const float *getVolumeOrigin() const { return volume.origin; }
    /// Sample (x, y, z); the caller keeps the indices inside the volume.
    float getSample(int x, int y, int z) const;

    /// "[XxYxZ]" and the bounding box, for the panel.
    std::string getInformation() const;
    /// The farthest point of the box the ray from the world origin along the direction meets
    /// (largest ray parameter over the six faces; -1000000 when it meets none).
    float getMaxIntoDirection(float x, float y, float z) const;
    using GL3DObject::getMaxIntoDirection;

    /// Texels of plane p (0 X, 1 Y, 2 Z) at the current position: RGB rows of the plane's
    /// texture size, white outside the sampled area. `width`, `height` receive its size.
    void buildSlice(int plane, std::vector<unsigned char> &rgb, int &width, int &height) const override;
    /// The colour-map texels and legend after the map, the thresholds or the filter changed:
    /// every plane is rebuilt.
    void updateColorMap();

    void setDefaultDrawing();
    void drawTexture();
    void notifyClick(int x, int y) override;
    /// "1", "2", "3" toggle the X, Y, Z planes; Page Up / Page Down change the colour map.
    enum class Action { X_PLANE, Y_PLANE, Z_PLANE };
    static const BindingTable &bindings();
    const BindingTable *getBindings() const override { return &bindings(); }
    void defaultDrawing() override;
    void drawInfo() override;

private:
    void colorMapChanged() override;
    void prepare(int maxTextureSide);

    VolumeData volume;
    int subSampling = 1;
};

#endif
