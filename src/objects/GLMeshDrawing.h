#ifndef VELMORA_GLMESHDRAWING_H
#define VELMORA_GLMESHDRAWING_H

#include "math/Matrix4.h"
#include "formats/LargeArray.h"
#include "objects/RadixSort.h"
#include "math/NonCopyable.h"
#include "objects/MeshModel.h"

#include <memory>

class GL3DObject;
class GLMeshPicking;
class GLMeshTexturing;

/// How a GLMeshObject reaches the screen: its vertex buffer objects, the drawing methods
/// (lit triangles, wire frame, data colours, texture, shadow), the back-to-front order of
/// translucent faces and the reduced stand-in of a large mesh while a scene is dragged.
///
/// Every drawing method loads the enabled clipping planes under the model-view matrix it
/// finds (so they stay put while the object moves), multiplies the pose, and restores every
/// state it changes. Geometry is drawn from vertex buffer objects, one glDrawElements call a
/// pass, whatever the size of the mesh. The buffers are filled on the first frame after the
/// geometry or the colours changed and belong to the context that drew that frame; another
/// context that does not share them (the light sub-window's) draws the same arrays as client
/// arrays.
///
/// It reads the mesh's arrays and display settings (MeshModel), asks the element for its pose
/// and clipping planes, lays the picking's selection and path over its passes and draws the
/// texture's chunks; it owns nothing of the mesh but the buffers and the sorted copy of the
/// triangles.
class GLMeshDrawing : NonCopyable {
public:
    /// Meshes above this many triangles get a reduced stand-in while a large scene is
    /// dragged; the stand-in keeps about kReducedTriangles triangles.
    static constexpr int kReduceAbove = 600000;
    static constexpr int kReducedTriangles = 250000;

    GLMeshDrawing(GL3DObject &element, const MeshModel &model, GLMeshPicking &picking,
                  GLMeshTexturing &texturing);
    ~GLMeshDrawing();

    void defaultDrawing();
    void drawTriangles();
    void drawShade();
    void drawWireframe();
    void drawData();
    /// The vertex colours lit: each colour stands for the material's ambient and diffuse
    /// colours, so that it is multiplied by the shading of drawShade().
    void drawFileColours();
    void drawDataShade();
    void drawDataWire();
    void drawTexture();
    /// The textured drawing in the modulate (decal) environment; the environment the
    /// drawing found is restored afterwards, as every other state.
    void drawTextureModulate();
    void drawTextureDecal();
    void drawShadow(float *plane, float *light, float *color);
    /// The shaded geometry (normals and vertices), from the buffers.
    void callShadeList();

    /// Marks the buffers of the geometry, or of the colours only, for a new upload; a change
    /// of the geometry also stops a stand-in being built from the old arrays.
    void geometryChanged();
    void coloursChanged();
    /// The triangles were put in another order, maybe outside a frame: the stand-in stops,
    /// the buffers are only marked stale (refilled at the next frame) and the sorted copy goes.
    void orderChanged();
    /// Drops the back-to-front copy of the triangles.
    void dropSortedOrder() { sortedTriangles.reset(); }
    /// True once the vertices, normals and triangles are in buffers of the current context
    /// (after a first frame).
    bool hasVertexBuffers() const;
    /// Starts the stand-in of the whole mesh (once) while the element draws reduced: until it
    /// is built, a fixed subset of the triangles.
    void startReduction();
    /// Waits for the stand-in being built, if any; true when one is there.
    bool waitForReducedMesh();
    /// Triangles a frame draws now: the whole mesh, or the stand-in while the element draws
    /// reduced.
    int getDrawnTriangles() const;

    /// Orders the triangles back to front into the sorted copy for the matrix `toClip`
    /// (object to clip coordinates), by the first corner of each triangle.
    void sortTrianglesByDepth(const Matrix4 &toClip);
    /// The same for the current OpenGL projection and model-view matrices.
    void sortTrianglesByDepth();
    /// Null until a sorted frame was drawn.
    const int *getSortedTriangles() const { return sortedTriangles.get(); }

private:
    const MeshDisplay &display() const { return model.display(); }
    /// There are triangles and vertices to draw.
    bool hasSurface() const;
    void beginFrame();
    void endFrame();
    void applyDoubleFace() const;
    /// With the wire frame on, draws it and offsets the fills that follow behind it (the
    /// caller keeps GL_POLYGON_BIT pushed around both).
    void drawWireframeInFront();
    /// Depth-tested, culled (as the clipping planes and double-face setting allow), unlit and
    /// untextured, with the shade model `shading` and both faces drawn as `polygons`.
    void setUnlitState(unsigned shading, unsigned polygons);
    /// The same state lit by the mesh's material, filled, with the mesh's shade model.
    void setLitState();
    /// One pass over the triangles (in back-to-front order when `sorted`), with normals
    /// and/or the vertex colours (RGB, or RGBA with the alpha `alpha` when `withAlpha`).
    void drawElements(bool sorted, bool withNormals, bool withColours, bool withAlpha = false,
                      unsigned char alpha = 255);
    /// The vertex colours of the data drawings: opaque, or blended with `alpha` (0 to 1) when
    /// `translucent`, back to front when `sorted` as well.
    void drawDataElements(bool translucent, float alpha, bool sorted);
    /// The surface in the material's colour: sorted back to front when the material is
    /// translucent and sorting is on, otherwise through the shade list.
    void drawSurface(bool withNormals);

    GL3DObject &element;
    const MeshModel &model;
    GLMeshPicking &picking;
    GLMeshTexturing &texturing;
    struct Buffers;
    std::unique_ptr<Buffers> buffers;
    LargeArray<int> sortedTriangles; ///< back-to-front order when sorting
    RadixSort sorter;
};

#endif
