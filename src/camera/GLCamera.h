#ifndef VELMORA_GLCAMERA_H
#define VELMORA_GLCAMERA_H

#include "camera/CameraMarkers.h"
#include "camera/GLCameraOverlay.h"
#include "camera/ViewTracks.h"
#include "camera/GLView.h"
#include "formats/CameraState.h"
#include "core/KeyCodes.h"
#include "core/Options.h"
#include "math/Matrix4.h"
#include "math/Point2.h"
#include "math/Point3.h"
#include "math/Position.h"
#include "objects/Legend.h"

#include <memory>
#include <string>
#include <vector>

class GLCameraAnimation;

/// The scene's viewing camera: the calibrated views of a camera file (or the default views)
/// plus what looking at the scene needs: the current original view, a zoom and a pan on top
/// of the calibrated projection, near and far planes, the point the mouse turns the scene
/// about, the window size, display options and the camera state file.
///
/// The camera keeps the model-view and projection it shows and loads them into the current
/// OpenGL context whenever they change. Both are OpenGL matrices: the model-view is
/// Matrix4::GLCS times the [R | t] of the calibration's camera frame. Its operations can be
/// used without a context (OpenGL calls then have no effect); `loadMatrices` hands the whole
/// state to a context that was made current after the camera changed.
///
/// Window positions are in pixels; pans move the picture by window pixels (positive x to
/// the left, positive y upwards) before the zoom scales it about the window centre.
///
/// The photographs and silhouettes of the views, and the lines drawn over them, are the
/// overlay's (getOverlay()); it sees the camera through GLCameraOverlay::Camera only.
class GLCamera : public GLView, private GLCameraOverlay::Camera {
public:
    /// Option bits (toggleOption); the camera panel's menu keys "cmotion", "etangencies",
    /// "corigin", "ctrajectory" and "2dtexture" flip them.
    enum : unsigned {
        CIRCULAR_MOTION = 0x01,     ///< the turntable's image lines
        EPIPOLAR_TANGENCIES = 0x02, ///< epipoles and tangents to the current silhouette
        CAMERA_ORIGINS = 0x04,      ///< a marker at every original camera and the world axes
        CAMERA_TRAJECTORY = 0x08,   ///< the polyline through the original cameras
        TEXTURE_2D = 0x10,          ///< the photograph flat in the window; drags edit the view
    };

    /// Key codes of the commands that are not characters.
    enum : int { NEXT_VIEW = KeyCode::NEXT_VIEW, PREVIOUS_VIEW = KeyCode::PREVIOUS_VIEW };

    /// The window size taken when no OpenGL viewport can be read at construction.
    static constexpr int defaultWindowSize = 512;

    /// The default camera (36 views about +y).
    GLCamera();
    /// The camera of a camera file; throws as GLView(const char *) does. Its photographs and
    /// silhouettes are looked up beside the file, or where the command line's -p, -b and -e
    /// of `options` say.
    explicit GLCamera(const char *path, const Options &options = Options());
    /// Views handed over in memory (see GLView); `photographs` is empty or holds the file
    /// of each view's photograph (an empty name for a view without one). Throws as that
    /// GLView constructor does.
    GLCamera(const std::vector<Intrinsics> &intrinsics, const std::vector<Matrix3> &rotations,
             const std::vector<Point3> &translations, const std::vector<std::string> &photographs);
    ~GLCamera() override;

    GLCamera(const GLCamera &) = delete;
    GLCamera &operator=(const GLCamera &) = delete;

    /// False for a camera read from a file.
    bool isDefaultCamera() const { return !loadedFromFile; }
    /// The kind of file the views came from ("COLMAP binary", "Meshroom", ...) for a camera
    /// imported from another program's output; empty for a camera file and the default camera.
    const std::string &getSourceFormat() const { return sourceFormat; }
    void setSourceFormat(const std::string &format) { sourceFormat = format; }

    // --- Matrices ----------------------------------------------------------------------
    using GLView::getGLEMatrix;
    using GLView::getGLKMatrix;
    /// The model-view of the current original view.
    Matrix4 getGLEMatrix();
    /// The calibrated projection for the window size and the current planes, without pan
    /// and zoom; the second form for another window size.
    Matrix4 getGLKMatrix();
    Matrix4 getGLKMatrix(int winW, int winH);
    /// Recomputes the calibrated projection and loads the final one.
    void updateKMatrix();
    /// Loads the final projection (pan and zoom applied).
    void loadKMatrix();
    Matrix4 getFinalKMatrix() const;
    /// The calibrated projection that the final projection `p` was made from, under the
    /// current pan, zoom and window size.
    Matrix4 withoutPanAndZoom(const Matrix4 &p) const;
    /// The shown model-view in the calibration's [R | t] form.
    Matrix4 getModelViewMatrix() const;
    /// Shows the [R | t] model-view `rt` (it also becomes the backed-up model-view).
    void setModelViewMatrix(const Matrix4 &rt);
    /// The shown model-view in OpenGL form.
    const Matrix4 &getGLModelViewMatrix() const { return modelView; }
    /// The shown projection.
    Matrix4 getProjectionMatrix() const { return projection; }
    /// Shows the projection `p` as it is: it becomes the calibrated projection, with zoom 1
    /// and no pan.
    void setProjectionMatrix(const Matrix4 &p);
    /// Loads viewport, projection and model-view into the current OpenGL context, leaving
    /// the model-view matrix mode selected.
    void loadMatrices() const;

    // --- Zoom, pan and planes -------------------------------------------------------------
    /// The zoom factor (not the calibrated focal length, which is GLView::setFocal).
    void setFocal(float f);
    float getFocal() const { return zoomFactor; }
    void zoom(float f);
    void zoomin();
    void zoomout();
    void setPanning(Point2 p);
    Point2 getPanning() const { return pan; }
    /// A pan by a mouse displacement in pixels; in 2D texture mode it moves the current
    /// view's camera by -0.01 units a pixel instead.
    void panning(int dx, int dy);
    /// Moves the current view along its optical axis (t.z scaled by f) and puts the planes
    /// at 1 and 1023.
    void perspective(float f);
    /// The planes the scene needs (kept as the user planes), then checkZPlanes.
    void setZPlanes(float zNear, float zFar);
    /// Chooses the planes: around the photographs when they are shown, the user planes
    /// otherwise, 1 and 1000 in 2D texture mode; then updateKMatrix.
    void checkZPlanes();
    float getZNear() const { return zNear; }
    float getZFar() const { return zFar; }
    /// The drawing area is now w x h pixels: sets the viewport and keeps the pan on the same
    /// spot of the photograph. Sizes below one pixel are ignored.
    void resizeWindow(int w, int h);
    int getWindowWidth() const { return winW; }
    int getWindowHeight() const { return winH; }

    // --- Rotation point and motion --------------------------------------------------------
    void setRotationPoint(Point3 p) { rotationPoint = p; }
    Point3 getRotationPoint() const { return rotationPoint; }
    /// Remembers the shown model-view; mouse rotations are relative to it.
    void backupPosition();
    const Matrix4 &getBackupModelViewMatrix() const { return backupModelView; }
    /// Turns the scene about the rotation point by a (about the screen's vertical axis) and
    /// b (about its horizontal axis), in radians, from the backed-up model-view.
    void setPosition(float a, float b);
    /// What the camera shows now as a pose: its [R | t] model-view, zoom factor and pan.
    Position getPose() const;
    /// Moves the camera to `pose`: model-view, then zoom factor, then pan.
    void setPose(const Position &pose);
    /// Moves the backed-up model-view back from the rotation point, along the line to the
    /// current original camera, until every original camera is in front of the near plane.
    void ensureCameraVisibility();
    /// Changes the pan so that the rotation point is where it was under the backed-up
    /// model-view.
    void panAroundRotationPoint();
    /// Frames the turntable around `center` at `distance` (meant for the default camera). The
    /// zoom factor it has then is the one reset() goes back to.
    void updateGeometry(Point3 center, float distance);
    /// No pan, back at the current original view, with the zoom of the framing: 1 for a
    /// calibrated camera, that of the last updateGeometry() for the default one.
    void reset();
    /// Turns the default camera's turntable to the convention of modelling programs: seen
    /// from +z with y up (instead of from -z with y down). Takes effect at the next framing.
    void viewFromPositiveZWithYUp() { setTurntableFrame(Matrix3::GLCS); }
    /// Gives the default camera's turntable the base rotation `b` (world to the camera frame
    /// of view 0: x right, y down, z forward); the identity is the built-in one. Calibrated
    /// cameras keep their views. Takes effect at the next framing.
    void setTurntableFrame(const Matrix3 &b);
    /// Moves the eye, keeping the direction it looks in, so that the sphere (centre, radius)
    /// fills the window's shorter side about the window centre; the pan goes and the zoom
    /// stays. The rotation point becomes the centre. Returns the distance from the eye to the
    /// centre (0, with nothing changed, for a sphere without a finite positive radius).
    float frameSphere(Point3 centre, float radius);

    /// The smallest angle (radians) between two original views.
    float getMinAngle() const { return minAngle; }
    /// The angle the photographs are placed by (GLCameraOverlay::getImageDepth): the smallest
    /// angle between views, but at least 0.01 radians. Views that share their orientation
    /// (cameras that only moved sideways, as reconstruction tools often give) would otherwise
    /// lay their photographs on their own centres, behind a near plane at zero.
    float getPhotographAngle() const { return minAngle > 0.01f ? minAngle : 0.01f; }
    /// A length typical of the scene the original cameras look at.
    float getWorldScale() const { return worldScale; }

    // --- Display state --------------------------------------------------------------------
    int getCurrentView() const { return currentView; }
    /// Shows original view i (wrapped into 0..N-1) from its calibrated pose, as the "next
    /// view" key does when it lands on it: the pose before becomes the backed-up model-view,
    /// a view with a lens of its own brings its projection, its photograph is asked for, the
    /// pan follows the rotation point when "pan around" is on, the view label shows and a
    /// frame is asked for. The current view is shown again from its pose.
    void goToView(int i);
    /// Colours the markers of the original cameras by `values` (one a view; NaN: grey)
    /// through the first colour map, over the range of the finite values (an infinite value
    /// takes the top colour), with a legend titled `name` at the right of the view while the
    /// markers show. No values: the plain markers. Values of another count change nothing
    /// (false).
    bool setMarkerValues(const std::vector<float> &values, const std::string &name);
    /// Replaces the poses of the original views (one each, in order; else nothing changes and
    /// false), keeping the intrinsics: the views' spacing, the world scale and the shown
    /// model-view follow, and the photographs are laid again at the next frame.
    bool setViewPoses(const std::vector<Matrix3> &rotations, const std::vector<Point3> &translations);
    /// RGB, 3 bytes a view; empty for plain markers.
    const std::vector<unsigned char> &getMarkerColours() const { return markerColours; }
    Legend &getMarkerLegend() { return markerLegend; }
    /// The tracks of the reconstruction the camera came from (none for other cameras).
    ViewTracks &getTracks() { return tracks; }
    const ViewTracks &getTracks() const { return tracks; }
    bool isAtOriginalView() const { return atOriginalView != 0; }
    bool getPanAround() const { return panAround != 0; }
    bool getTransparency() const { return transparency != 0; }
    /// How much the photographs and silhouette cover the scene while transparency (key "t")
    /// is on: 0.5 unless set, clamped to 0 .. 1.
    float getPhotoOpacity() const { return photoOpacity; }
    void setPhotoOpacity(float a) { photoOpacity = a < 0 ? 0 : a > 1 ? 1 : a; }
    bool getShowImages() const { return showImages != 0; }
    bool getShowSilhouettes() const { return showSilhouettes != 0; }
    unsigned getOptions() const { return options; }
    bool isRecording() const { return recording != 0; }
    GLCameraAnimation *getAnimation() const { return animation.get(); }

    // --- Input ----------------------------------------------------------------------------
    /// The same as notifyCommand(key).
    int notifyKey(int key) { return notifyCommand(key); }
    /// What the camera does on a key or a panel control; every one asks for a redraw.
    enum class Action {
        LOAD_STATE, SAVE_STATE, PRINT_STATE, VIEW_LABEL, PROJECTION, LOOK_ALONG_X, LOOK_ALONG_Y, LOOK_ALONG_Z,
        PLANES_FARTHER, PLANES_NEARER, MOVE_OUT, MOVE_IN, ZOOM_OUT, ZOOM_IN, IMAGES, SILHOUETTES, TRANSPARENCY,
        PAN_AROUND, NEXT_VIEW, PREVIOUS_VIEW, VIEWS, MARKERS,
    };
    static const BindingTable &bindings();
    const BindingTable *getBindings() const override { return &bindings(); }
    /// Passed on to the flight editor when there is one.
    void notifyClick(int x, int y);
    void notifyDrag(float dx, float dy);
    void toggleOption(unsigned bits);
    /// Opens (creates the flight editor) or closes (destroys it) the camera animation.
    void setAnimationInterface(bool on);
    /// While recording, every mouse rotation adds a key camera to the flight editor.
    void toggleRecording();

    // --- State file -----------------------------------------------------------------------
    /// Writes model-view, projection, viewport, pan, zoom and planes as text. A file that
    /// cannot be written is left as it was.
    void saveCameraState(const char *path);
    /// Restores what saveCameraState wrote; a file that cannot be opened is ignored, one that
    /// does not hold a complete, usable state is reported and ignored.
    void loadCameraState(const char *path);
    /// The matrices of the camera on standard output, with the pixel-unit K that the shown
    /// projection amounts to.
    void printCameraState();

    // --- Drawing (a current context is needed) --------------------------------------------
    /// Everything the camera adds to a frame, after the scene's objects.
    void draw();
    /// The current view's photograph alone, opaque and flat in the window where the view
    /// shows it, whether the photographs are shown or not (the photograph side of a split view).
    void drawPhotograph();
    /// "camera %02d" with the current view in the lower left corner.
    void drawText();
    /// The markers of the original cameras (drawn in one batch, see CameraMarkers) and their
    /// trajectory (options 0x04 and 0x08).
    void drawCameras();
    /// What the last frame's markers were: pyramids and points (see CameraMarkers).
    const CameraMarkers &getMarkers() const { return markers; }
    /// What a frame of the markers costs, in triangles: a pyramid's a view while they show.
    size_t getDrawingCost() const;
    /// A pyramid with its apex at `position` opening along +z, its base 1 x 1 at depth 1, all
    /// scaled by `size`.
    /// `rgb`, when given, colours the marker instead of its material's colour.
    void drawCamera(Point3 position, Point3 size, const unsigned char *rgb = nullptr);

    // --- Photographs and silhouettes ------------------------------------------------------
    /// The photographs and silhouettes of the views and the lines over them: their files,
    /// textures, texture limit and window geometry (see GLCameraOverlay).
    GLCameraOverlay &getOverlay() { return overlay; }
    const GLCameraOverlay &getOverlay() const { return overlay; }

protected:
    bool runAction(const KeyBinding &row) override;

    /// Asks for the textures the current view and the display flags need; they are loaded
    /// at the next frame, where the view's context is current.
    virtual void checkTextures();
    /// Asks for the photographs' display lists to be compiled again after a view moved (at
    /// the next frame, as checkTextures).
    virtual void rebuildDisplayLists();
    /// The photographs and the silhouette as textured quads in front of their cameras.
    virtual void drawTextures();
    /// The current photograph or silhouette flat in the window (option 0x10).
    virtual void draw2DTexture();
    /// The turntable's image lines (option 0x01).
    virtual void drawCircularMotion();
    /// Epipoles and tangents to the silhouette (option 0x02).
    virtual void drawEpipolarTangencies();
    /// Hands the camera a flight editor of the caller's making (it takes it over), as the
    /// animation window's factory does.
    void attachAnimation(GLCameraAnimation *editor);

private:
    /// What both constructors share once the views exist.
    void setUp();
    /// Minimum angle from the view rotations.
    void computeMinAngle();
    /// World scale and rotation point from the first two views.
    void computeWorldScale();
    /// Shows the OpenGL model-view `m`.
    void loadModelView(const Matrix4 &m);
    /// Shows the projection `p` without changing the calibrated one.
    void loadProjection(const Matrix4 &p);
    /// goToView() but for the frame it asks for (a key's binding asks for it).
    void showView(int i);
    /// What the overlay reads (GLCameraOverlay::Camera).
    CameraShown shown() const override;
    void redisplayWhen(std::function<bool()> ready) const override;
    /// The shown state as the camera state file holds it, and the camera brought to one.
    CameraState getState() const;
    void showState(const CameraState &state);

    int loadedFromFile;
    std::string sourceFormat;
    float zoomFactor;
    float framingZoom = 1; ///< the zoom reset() goes back to
    Point2 pan;
    int winW, winH;
    std::vector<unsigned char> markerColours;
    Legend markerLegend;
    ViewTracks tracks;
    CameraMarkers markers;
    int currentView;
    int showImages;
    int showSilhouettes;
    unsigned options;
    int transparency;
    float photoOpacity = 0.5f;
    int atOriginalView;
    int panAround;
    Point3 rotationPoint;
    Matrix4 backupModelView; ///< OpenGL form, the model-view at the start of a drag
    Matrix4 baseProjection;  ///< calibrated projection before pan and zoom
    float zNear, zFar;
    float userZNear, userZFar;
    float minAngle;
    float worldScale;
    std::unique_ptr<GLCameraAnimation> animation; ///< null unless the animation window is open
    char recording;

    Matrix4 modelView;  ///< the shown model-view, OpenGL form
    Matrix4 projection; ///< the shown projection
    int viewport[4];    ///< the shown viewport: x, y, width, height

    /// The photographs, silhouettes and lines laid over the scene.
    GLCameraOverlay overlay{*this, *this};
};

#endif
