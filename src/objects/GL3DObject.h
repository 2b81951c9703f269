#ifndef VELMORA_GL3DOBJECT_H
#define VELMORA_GL3DOBJECT_H

#include "core/FrameContext.h"
#include "core/GLObject.h"
#include "core/InputEvent.h"
#include "math/Matrix4.h"
#include "math/Point3.h"
#include "objects/Legend.h"

#include <cstddef>
#include <functional>
#include <string>

/// Base of every drawable scene object (meshes, octrees, volumes, point lists, graphs,
/// textured objects).
///
/// It holds what they share: the pose the user changes by dragging, the bounding box and its
/// centre (the centre of rotation), the vertex array with per-vertex colours, a legend, six
/// user clipping planes, and the drawing method that `draw()` invokes every frame. Subclasses
/// own `vertices` and `colors`, compute the bounding box, reset the clipping planes and pick
/// a drawing method in their constructors.
///
/// Every drawing operation needs a current OpenGL context.
class ElementCleaning;

class GL3DObject : public GLObject {
public:
    /// A parameterless drawing operation of this class or of a subclass (a subclass passes
    /// its own operations through `static_cast<DrawMethod>(&Sub::drawSomething)`).
    typedef void (GL3DObject::*DrawMethod)();

    explicit GL3DObject(short type);
    virtual ~GL3DObject();

    GL3DObject(const GL3DObject &) = delete;
    GL3DObject &operator=(const GL3DObject &) = delete;

    // --- Pose, changed by the scene manager during mouse drags -------------------------
    void resetPosition();
    /// Remembers the pose at the start of a drag; rotations are relative to it.
    void backupPosition();
    /// Turns the object about its box centre by `ax` about the screen's vertical axis and
    /// `ay` about its horizontal axis (radians), relative to the pose at the drag start.
    /// Reads the current OpenGL model-view matrix.
    void setRotation(float ax, float ay);
    /// Moves the object parallel to the screen by a pixel displacement (since the last call).
    void setPosition(int dx, int dy);
    /// Moves the object along the viewing direction.
    void setPosition(float dz);
    const Matrix4 &getPose() const { return pose; }
    void setPose(const Matrix4 &m) { pose = m; }

    // --- Extent --------------------------------------------------------------------------
    /// Half the diagonal of the bounding box; 0 (with a message) when it was never computed.
    virtual float getMaxRadius();
    virtual void setDrawDepthBuffer();
    /// Draws one frame of the object as `frame` asks (drawObject()); the drawing methods read
    /// the frame through frame() while it lasts. Debug builds check OpenGL's error state after.
    void draw(const FrameContext &frame);
    /// An interactive frame with the default budgets, for a program that draws one object alone.
    void draw() { draw(FrameContext()); }
    /// Whether the object is drawn on top of the photographs a camera shows, after them
    /// (point clouds: they would be lost behind them), rather than before them.
    virtual bool drawnOverPhotographs() const { return false; }
    /// Whether a capture must read this object's data before it is drawn (a cloud read node by
    /// node). The scene then draws a planning frame first (FrameContext::plan), in which the
    /// object notes what the capture needs, and calls readForCapture outside any frame.
    virtual bool readsForCapture() const { return false; }
    /// Reads what the planning frame noted while the windows answer; false when the user
    /// cancelled the reading.
    virtual bool readForCapture() { return true; }
    /// Largest / smallest projection of a bounding-box corner on the direction `d`.
    virtual float getMaxIntoDirection(Point3 d);
    virtual float getMinIntoDirection(Point3 d);

    // --- Picking -------------------------------------------------------------------------
    /// Index of the vertex nearest to the object-space point p (3 floats); 0 when none.
    virtual int getVertex(float *p);
    /// Index of the vertex nearest to the viewer within 4 pixels of the window position
    /// (x, y), y counted from the top; -1 when none. Reads the current OpenGL matrices.
    virtual int getVertex(int x, int y);
    /// The same among the vertices i for which shown(i) holds (those drawn).
    int getVertex(int x, int y, const std::function<bool(int)> &shown);

    // --- Shadows and events (base versions do nothing) -----------------------------------
    /// The object's shadow in a frame (see draw()): drawShadow(plane, light, color).
    void drawShadow(const FrameContext &frame, float *plane, float *light, float *color);
    virtual void drawShadow(float *plane, float *light, float *color);
    virtual void notifyClick(int x, int y);
    virtual void notifyAdditionalClick(int x, int y, int button);
    virtual void notifyDrag(float dx, float dy);
    /// True while a selection tool of the object takes the left button in the view: presses,
    /// motions and releases then go to notifyWindowDrag at window pixels (y downwards).
    virtual bool takesWindowDrags() const;
    virtual void notifyWindowDrag(const InputEvent &event, int x, int y);
    /// The selections and edits of a kind whose elements can be cleaned (point clouds, splat
    /// scenes, meshes); null for the others. Its window tools take the drags above, its keys
    /// run through runSharedAction, and its marks are drawn after the drawing method.
    virtual ElementCleaning *getCleaning() { return nullptr; }
    const ElementCleaning *getCleaning() const { return const_cast<GL3DObject *>(this)->getCleaning(); }
    /// A key offered by other ways than the keyboard's path through notifyCommand; returns
    /// non-zero when it was consumed (the base class consumes nothing).
    virtual int notifyKey(int key);
    /// The plain opaque drawing used by shadows and the depth-buffer mode.
    virtual void defaultDrawing();
    virtual void reload();
    /// The world-space centre of rotation, copied into out[0..2].
    virtual void getOrigin(float *out) const;
    /// The box centre under the pose: the point the camera turns about.
    virtual Point3 getOrigin() const;
    /// The text overlay of the object (none in the base class).
    virtual void drawInfo();
    /// What the object's panel shows about it: the vertex count and the bounding box here;
    /// subclasses say more.
    virtual std::string getInformation() const;
    /// "bounding box:\n[min]\n[max]\n" with as many decimals as the extent needs, `offset`
    /// (three values, or null for none) added to both corners.
    std::string boxInformation(const double *offset) const;

    // --- Lighter frames while the scene is dragged ----------------------------------------
    /// What a frame of the object costs, in triangles (or points); 0 in the base class. The
    /// scene manager adds them up to decide whether a drag draws reduced frames.
    virtual size_t getDrawingCost() const { return 0; }
    /// Whether the frame being drawn, or the last one, drew the object's lighter stand-in: a
    /// reduced frame (a drag of a large scene) of an object that has one (canDrawReduced).
    bool getReducedDrawing() const { return reducedDrawing; }

    void toggleBoundingBox() { showBoundingBox = !showBoundingBox; }
    void toggleAxes() { showAxes = !showAxes; }
    bool getShowBoundingBox() const { return showBoundingBox; }
    bool getShowAxes() const { return showAxes; }

    void drawDepthBuffer();
    /// Shades the current depth buffer (see drawDepthBuffer) and draws it over the frame.
    void renderFrameBuffer();
    void drawBoundingBox();
    /// Fills `out` (16 floats, column-major) with the matrix that projects geometry from the
    /// light L (x, y, z, w) onto the plane P (a, b, c, d).
    static void MakeShadowMatrix(const float *plane, const float *light, float *out);
    /// Opens a shadow pass: flat `color` with no depth test, culling, lighting or texture, and
    /// the model view projected onto `plane` from `light` after the pose. endShadowPass()
    /// restores the state and the matrix.
    void beginShadowPass(const float *plane, const float *light, const float *color);
    void endShadowPass();
    void notImplementedBanner();

    // --- Clipping planes -----------------------------------------------------------------
    /// Six planes through the box centre: 0-2 keep the upper half along x, y, z, 3-5 the
    /// lower half. The enable flags are left as they are.
    void resetClippingPlanes();
    /// Hands the enabled planes to OpenGL (before the pose is multiplied).
    void computeClippingPlanes();
    /// Enables the enabled planes, with face culling off so that cut surfaces show.
    void setClippingPlanes();
    /// Copies plane i to out[0..3] and returns its enable flag; 0 for i outside 0..5.
    int getClippingPlane(double *out, int i) const;
    void setClippingPlane(const double *plane, int i);
    void enableClippingPlane(int i, bool on);
    /// Plane 0 across the unit axis v through the middle of the object's extent along it.
    void setRotationAxis(Point3 v);

    const Point3 &getBBMin() const { return bbMin; }
    const Point3 &getBBMax() const { return bbMax; }
    const Point3 &getCenter() const { return center; }
    int getNVertices() const { return nVertices; }
    const float *getVertices() const { return vertices; }
    Legend &getLegend() { return legend; }
    /// Any integer, kept modulo the number of colour maps. A new map is applied by the kinds
    /// that colour their data through one (colorMapChanged) and a frame is asked for; the map
    /// in use changes nothing.
    void setColorMap(int i);
    int getColorMap() const { return colorMapIndex; }
    int getSelectedVertex() const { return selectedVertex; }
    DrawMethod getDrawMethod() const { return drawMethod; }
    void setDrawMethod(DrawMethod m) { drawMethod = m; }

    /// Subtracts c from every vertex; the box and the clipping planes follow.
    void centerObject(Point3 c);

protected:
    /// The object's own part of a frame: the drawing method, then the box and axes when
    /// switched on. A kind that draws otherwise overrides it.
    virtual void drawObject();
    /// The frame being drawn (see draw()); outside a frame, an interactive one with the default
    /// budgets.
    const FrameContext &frame() const;
    /// Whether a reduced frame draws a lighter stand-in of this object (every object in the
    /// base class; the kinds say when they are large enough for one to pay).
    virtual bool canDrawReduced(const FrameContext &) const { return true; }
    /// Called when a frame turns the stand-in on or off (see getReducedDrawing()).
    virtual void reducedDrawingChanged() {}
    /// What a kind redoes for a new colour map (nothing in the base class).
    virtual void colorMapChanged() {}
    /// Page Up / Page Down, for the kinds whose binding table has the colour-map rows.
    bool stepColorMap(int step) override;
    /// The selection and editing keys of a cleanable kind (getCleaning()).
    bool runSharedAction(const KeyBinding &row) override;
    /// Sets bbMin, bbMax and center from the vertex array (nothing without vertices).
    void computeBoundingBox();
    /// OpenGL's current projection times model-view matrix; `viewport` receives its viewport.
    static Matrix4 currentMatrices(int *viewport);
    /// Where the point `v` lands through `a` in the window of viewport `vp`: out[0], out[1] its
    /// pixel (y counted from the top, as clicks are), out[2] its depth; false when it can't.
    static bool windowPosition(const Matrix4 &a, const int *vp, const float *v, float *out);

    Matrix4 dragStartPose;
    Matrix4 pose;
    Matrix4 shadowMatrix;
    int selectedVertex;
    float *vertices;          ///< 3 floats a vertex, owned by the subclass
    unsigned char *colors;    ///< 3 bytes a vertex, owned by the subclass
    int nVertices;
    Legend legend;
    int colorMapIndex = 0;
    Point3 bbMin;             ///< -inf in x until the box is computed
    Point3 bbMax;
    Point3 center;
    bool showBoundingBox;
    bool showAxes;
    DrawMethod drawMethod;
    int clipEnabled[6];
    double clipPlanes[6][4];
    bool reducedDrawing;      ///< see getReducedDrawing()

private:
    /// Makes `f` the frame being drawn until the returned frame is restored (frames nest: the
    /// depth-buffer pass draws the plain drawing inside the object's own frame).
    const FrameContext *enterFrame(const FrameContext &f);
    const FrameContext *currentFrame = nullptr;
    /// Guards the depth-buffer pass against re-entering itself through defaultDrawing().
    bool inDepthPass;
};

#endif
