#ifndef VELMORA_GLOCTREEOBJECT_H
#define VELMORA_GLOCTREEOBJECT_H

#include "formats/OctreeReader.h"
#include "objects/GLSlicedObject.h"

#include <memory>
#include <string>
#include <vector>

/// An adaptive octree over a regular voxel grid (correlation scores, gradient-vector-flow
/// vectors, distance and normal fields), drawn as coloured points of its finest leaves, as
/// cubes, or as three axis-aligned slice planes showing the data or the octree's structure.
///
/// Read by OctreeReader ("oct" versions 1 and 2, "voc", "dn"). The vertices of the object
/// are the centres of the finest leaves. Slice textures are built lazily: a change marks the
/// planes it concerns stale and the next frame rebuilds those. A texture side never exceeds
/// SlicePlanes::getMaxTextureSize() (or the limit given) nor kMaxSliceSide: larger grids are sub-sampled by a
/// power of two. Reading needs no OpenGL context; drawing does.
class GLOctreeObject : public GLSlicedObject {
public:
    enum SliceSource { DATA_SLICE, STRUCTURE_SLICE };
    /// Largest slice texture side, below the OpenGL limit where that is larger.
    static constexpr int kMaxSliceSide = 4096;

    /// Raises the reader's error when the file is refused. Slice textures stay within
    /// `maxTextureSide`, or the context's largest texture when it is 0.
    explicit GLOctreeObject(const char *path, int maxTextureSide = 0);
    /// Takes over an octree read elsewhere.
    explicit GLOctreeObject(OctreeData data, int maxTextureSide = 0);
    ~GLOctreeObject() override;

    /// Keeps the finest leaves whose value is >= t for the point drawing.
    void setDataThreshold(float t);
    float getDataThreshold() const { return dataThreshold; }
    /// The range the slice colours span.
    void setMinMaxThreshold(float min, float max) override;

    /// Grid size: max finest leaf coordinate + 1 per axis.
    void getSize(int *out) const;
    /// Texels per texture side of a voxel: 1, or a power of two for grids beyond the
    /// largest texture.
    int getTextureSubSampling() const { return textureScale; }

    /// Non-zero: linear filtering; 0: nearest. getInterpolationMode() is 1 for linear.
    void setInterpolationMode(int mode);
    void setDrawStructure(bool on);
    bool getDrawStructure() const { return drawStructure; }
    float getPointSize() const { return pointSize; }
    int getCurrentDataItem() const { return currentDataItem; }
    int getNDataItems() const { return static_cast<int>(octree.dataItems.size()); }
    const OctreeData &getOctree() const { return octree; }
    /// Points drawn in the point mode (finest leaves passing the threshold).
    int getNThresholded() const { return nThresholded; }
    /// Value of finest leaf i.
    float getFinestValue(int i) const;
    SliceSource getSliceSource() const { return sliceSource; }

    void setDrawDataCube();
    void setDrawTexture();
    void setDrawOctreeTexture();
    void setDrawCubes();
    void setDefaultDrawing() { setDrawTexture(); }

    /// The information text of the panel.
    std::string getInformation() const;

    /// Texels of plane p (0 X, 1 Y, 2 Z) at the current position from the current slice
    /// source, black where no leaf lies; `width`, `height` receive the texture size.
    void buildSlice(int p, std::vector<unsigned char> &rgb, int &width, int &height) const override;

    void drawDataCube();
    void drawTexture();
    void drawCubes();

    void notifyClick(int x, int y) override;
    enum class Action {
        BIGGER_POINTS, SMALLER_POINTS, PREVIOUS_DATA, NEXT_DATA, DATA_POINTS, DATA_SLICES, STRUCTURE_SLICES,
        DEPTH_BUFFER, CUBES, X_PLANE, Y_PLANE, Z_PLANE,
    };
    static const BindingTable &bindings();
    const BindingTable *getBindings() const override { return &bindings(); }
    void defaultDrawing() override;
    void drawInfo() override;

protected:
    bool runAction(const KeyBinding &row) override;
    /// Recolours the slices over the same threshold range.
    void colorMapChanged() override;

private:
    void completeLoading(int maxTextureSide);
    /// Values of the current item on the leaves, the ranges, the legend and the colours.
    void updateData();
    /// The hot colours of the finest leaves and the thresholded copy.
    void updateColors();
    void refreshLegend();
    /// The point set drawn: every finest leaf until a threshold is set, then those >= it.
    void copyAllPoints();
    void applyThreshold();
    void markAllStale();
    /// Draws the slice planes from `source`, rebuilding their textures when it changes.
    void drawSlicesOf(SliceSource source);
    /// The structure overlay follows the plane's new texture.
    void planeRefreshed(int p) override;
    /// Outline segments of every leaf square on plane p, 6 floats a segment.
    void buildOverlay(int p);
    void printInfo(int i) const;
    void drawPoints();
    void drawPlanes();
    void drawCubeList();

    OctreeData octree;
    std::unique_ptr<float[]> vertexStore;
    std::unique_ptr<unsigned char[]> colorStore;
    std::vector<float> finestValues;
    std::vector<float> thresholdedVertices;
    std::vector<unsigned char> thresholdedColors;
    int nThresholded = 0;
    int currentDataItem = 0;
    float dataThreshold = 0;
    bool thresholdSet = false;
    std::vector<float> overlay[3];
    int textureScale = 1;
    float pointSize = 1.0f;
    bool drawStructure = false;
    SliceSource sliceSource = DATA_SLICE;
    int cubeList = -1;
};

#endif
