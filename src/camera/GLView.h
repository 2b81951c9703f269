#ifndef VELMORA_GLVIEW_H
#define VELMORA_GLVIEW_H

#include "core/GLObject.h"
#include "formats/CameraFile.h"
#include "math/LensDistortion.h"
#include "math/Matrix3.h"
#include "math/Matrix4.h"
#include "math/Point3.h"

#include <cstdio>
#include <cstdint>
#include <vector>

/// The calibration of the photographs a model was reconstructed from: intrinsic parameters
/// shared by all views and one pose per view.
///
/// Camera model: for view i a world point X has camera coordinates x = R[i] X + t[i], with x
/// to the right, y down and z forward; its pixel is u = fx x/z + cx, v = fy y/z + cy (v grows
/// downwards). The centre of view i is -R[i]^-1 t[i].
///
/// Turntable views (the default camera and file versions 1.0 to 3.0) turn a world point by
/// the base rotation B, move it by P, turn it by the angle of the view about the rotation
/// axis and move it by the distance vector T0: R = Q(angle) B, t = T0 + Q(angle) P.
///
/// A view always holds at least one view; the pose arrays are replaced only by a reader.
class GLView : public GLObject {
public:
    /// Most views a camera file may announce. Every view costs a pose, a display list and a
    /// share of the pairwise view comparison done when a camera is built; real acquisitions
    /// hold tens to a few thousand photographs.
    static constexpr int maxViews = CameraFile::maxViews;

    /// The default camera: 36 views turning about +y at one unit from the origin, unit
    /// image with the principal point in its middle and focal length 1. Prints
    /// "GLCamera: Load default camera".
    GLView();
    /// Reads the camera file `path` (a local name or a network address). Throws
    /// std::runtime_error whose text begins with "Unable to load camera file" when the file
    /// cannot be opened, is empty or holds no usable view; "GLCamera: Unable to load camera
    /// file:<path>" is printed on standard error first.
    explicit GLView(const char *path);
    /// Intrinsic parameters of one view, in pixels (see the camera model above).
    struct Intrinsics {
        float fx, fy, cx, cy, W, H;
        /// Sets the same pinhole in a camera record of another part (one with fields fx, fy,
        /// cx, cy and a whole-pixel width and height).
        template <class Camera> void copyTo(Camera &c) const
        {
            c.fx = fx;
            c.fy = fy;
            c.cx = cx;
            c.cy = cy;
            c.width = static_cast<int>(W);
            c.height = static_cast<int>(H);
        }
    };
    /// Views handed over in memory (cameras imported from other tools): one pose per view
    /// and either one set of intrinsics shared by all views or one per view. Throws
    /// std::runtime_error when the sizes disagree, there is no view or more than maxViews,
    /// or an image size or focal length is not positive.
    GLView(const std::vector<Intrinsics> &intrinsics, const std::vector<Matrix3> &rotations,
           const std::vector<Point3> &translations);
    virtual ~GLView();

    /// Replaces the calibration with that of the camera file `path` (versions 1.0 to 4.0);
    /// on failure throws as the constructor does and leaves this view unchanged.
    void load(const char *path);

    /// The intrinsic matrix in pixels.
    Matrix3 getKMatrix() const;
    /// The OpenGL projection that shows the whole photograph in a winW x winH window with
    /// its aspect ratio kept (bands on two sides when the window's differs). In orthographic
    /// mode the scale is that of the perspective projection at mid-depth.
    Matrix4 getGLKMatrix(int winW, int winH, float zNear, float zFar);
    /// The perspective projection of getGLKMatrix with the principal point at the image
    /// centre, whatever the projection mode.
    Matrix4 getGLKPerfectMatrix(int winW, int winH, float zNear, float zFar);
    /// getGLEMatrix: the extrinsic matrix (E) for OpenGL, as getGLKMatrix is the intrinsic one (K).
    /// The OpenGL model-view of view i; i is wrapped into 0..N-1, negative values included.
    Matrix4 getGLEMatrix(int i);
    /// The OpenGL model-view of the turntable turned by `degrees`.
    Matrix4 getGLEMatrix(float degrees);
    /// getGLEMatrixAxeX, Y, Z: "Axe" is French for "axis".
    /// Model-views looking at c along +x, +y or +z from the distance of view 0.
    Matrix4 getGLEMatrixAxeX(Point3 c);
    Matrix4 getGLEMatrixAxeY(Point3 c);
    Matrix4 getGLEMatrixAxeZ(Point3 c);

    int getNViews() const { return N; }
    float getWidth() const { return W; }
    float getHeight() const { return H; }
    float getFocalX() const { return fx; }
    float getFocalY() const { return fy; }
    float getCenterX() const { return cx; }
    float getCenterY() const { return cy; }
    Point3 getRotationAxis() const { return axis; }
    /// The intrinsics of view i (wrapped): its own when the views have their own, else the
    /// shared ones.
    Intrinsics getIntrinsics(int i) const;
    /// True when every view has its own intrinsics (imported cameras).
    bool hasViewIntrinsics() const { return !viewIntrinsics.empty(); }
    /// Makes view i's intrinsics the ones every operation above uses (nothing happens for
    /// views that share theirs).
    void selectIntrinsics(int i);
    int getProjectionMode() const { return projectionMode; }
    /// The lens of each view (imported cameras); views without one are pinhole cameras.
    /// Throws std::invalid_argument unless there is one a view or none.
    void setDistortions(std::vector<LensDistortion> lenses);
    /// The lens of view i (wrapped like getGLEMatrix): the identity for a pinhole camera.
    const LensDistortion &getDistortion(int i) const;
    /// What the reconstruction a camera came from says of each view: the mean reprojection
    /// error of its observations in pixels (NaN for none) and how many of its keypoints
    /// observe a point. Throws std::invalid_argument unless both have one entry a view, or
    /// both are empty (no figures).
    void setViewStatistics(std::vector<float> meanErrors, std::vector<uint32_t> observations);
    bool hasViewStatistics() const { return !viewErrors.empty(); }
    /// View i's figures (wrapped): NaN and 0 without figures.
    float getViewError(int i) const;
    uint32_t getViewObservations(int i) const;
    /// Rotation and translation of view i (wrapped like getGLEMatrix).
    const Matrix3 &getRotation(int i) const { return R[wrap(i)]; }
    const Point3 &getTranslation(int i) const { return t[wrap(i)]; }
    /// The centre of view i (wrapped like getGLEMatrix).
    Point3 getOrigin(int i) const;
    /// The direction view i looks along, in world coordinates (not normalised).
    Point3 getOpticalAxis(int i) const;

    /// Sets both focal lengths.
    void setFocal(float f);
    /// 0 perspective, anything else orthographic.
    void setProjectionMode(int mode);
    /// Makes `o` the point the turntable turns about: P = -o and every t[i] = T0 + R[i] P.
    void setOrigin(Point3 o);
    /// T0 = (0, 0, d) and every t[i] = T0 + R[i] P.
    void setDistance2Origin(float d);
    /// "focal:%f cx:%f cy:%f" on standard output.
    void print();

protected:
    /// i mod N, non-negative.
    int wrap(int i) const;
    /// Q(angle) for the current rotation axis.
    Matrix3 turn(float angle) const;
    /// R[i] and t[i] of the turntable model for the given angles (radians).
    void buildTurntable(const std::vector<float> &angles);

    int projectionMode;
    float fx, fy;
    float cx, cy;
    float W, H;
    int N;
    Matrix4 modelViewScratch;  ///< the last model-view computed here
    Matrix4 projectionScratch; ///< the last projection computed here
    Point3 T0;
    Point3 axis;
    std::vector<Point3> t;
    std::vector<Matrix3> R;
    Point3 P;
    Matrix3 B;
    /// One set a view when views differ (imported cameras), else empty.
    std::vector<Intrinsics> viewIntrinsics;
    /// One a view when any view has a lens, else empty.
    std::vector<LensDistortion> viewDistortions;
    std::vector<float> viewErrors;
    std::vector<uint32_t> viewObservations;

private:
    // Only load() copies a view, to put it back when a file turns out unusable.
    GLView(const GLView &) = default;
    GLView &operator=(const GLView &) = default;

    /// Throws unless 1 <= N <= maxViews.
    void checkViewCount(const char *path) const;
    void readFile(const char *path);
    /// Makes `k` the intrinsics every operation uses.
    void useIntrinsics(const Intrinsics &k);
};

#endif
