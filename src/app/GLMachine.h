#ifndef VELMORA_GLMACHINE_H
#define VELMORA_GLMACHINE_H

#include "app/LightWidget.h"
#include "app/SceneAccess.h"
#include "app/SceneCapture.h"
#include "app/SceneInput.h"
#include "app/SceneMeasure.h"
#include "app/SplitView.h"
#include "core/FrameContext.h"
#include "core/Options.h"
#include "core/UpAxis.h"
#include "math/Matrix4.h"
#include "math/Point3.h"
#include "math/Point4.h"
#include "objects/GL3DObjectLoader.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class ElementHost;
class GLObject;
class GL3DObject;
class GLCamera;
class SceneWindow;
class CPsRenderer;
struct Similarity;
namespace PsRenderer {
class FunctorBase;
}

/// The application controller: owns the scene elements (3D objects and cameras), the light
/// and the main window; draws a frame; turns mouse and key input into operations on the
/// current camera or the current 3D object; fits the camera's planes to the scene; captures
/// frames to files; drives the light-direction sub-window.
///
/// Input: the window's mouse events as InputEvents (buttons 1 left, 2 right, 3 middle, 4 and
/// 5 wheel), keys as key values with the cursor keys and Return and Escape as the named
/// KeyCodes. Everything runs on the toolkit's main thread.
///
/// The machine keeps the element registry and draws the frame; it hands the captures
/// (SceneCapture), the input of the main view (SceneInput) and the light sub-window
/// (LightWidget) to parts of their own, which reach the scene through SceneAccess only.
class GLMachine : private SceneAccess {
public:
    /// Builds the window a scene is shown in, for the scene manager `machine` and a drawing
    /// area of width x height. The window may call back into the machine while it is built.
    using WindowFactory = std::function<std::unique_ptr<SceneWindow>(GLMachine *machine, int width, int height)>;

    /// A scene drawn into an off-screen buffer of width x height, with no display at all.
    /// Throws std::runtime_error("impossible to use OpenGL/GLX") when OpenGL is unusable and
    /// std::runtime_error("no appropriate visual found") when it offers no suitable buffer.
    /// `options` are the command line's (the folders and extension of the photographs).
    explicit GLMachine(int width = 512, int height = 512, const Options &options = Options());
    /// A scene shown in the window that `makeWindow` builds (off-screen when it gives none).
    GLMachine(int width, int height, const WindowFactory &makeWindow, const Options &options = Options());
    ~GLMachine();

    GLMachine(const GLMachine &) = delete;
    GLMachine &operator=(const GLMachine &) = delete;

    /// Runs the window's event loop until a quit command; returns at once off-screen.
    void mainLoop();
    SceneWindow *getWindow() { return window.get(); }
    /// OpenGL state of the main view, once its drawing area exists.
    void initGL();

    // --- Registry ---------------------------------------------------------------------
    /// What a program does at start-up with its command line: the camera file first (when
    /// given), so that it is the camera of every object that follows, then every file in
    /// order. Returns the number of 3D objects registered, or -1 when the camera file was
    /// given and could not be read (the other files are registered all the same).
    int registerStartFiles(const char *cameraFile, int nFiles, const char *const *files);
    /// The same with the command line's camera file and files.
    int registerStartFiles(const Options &start);
    /// Why the camera file given to registerStartFiles was refused (its reader's text); empty
    /// when it was read or none was given.
    const std::string &getStartCameraRefusal() const { return startCameraRefusal; }
    /// A name ending in "dat" becomes a camera; the output of a reconstruction tool (a
    /// COLMAP model or a folder holding one, a Bundler file) becomes a camera and a point
    /// list (see registerReconstruction); anything else goes to the object loader.
    GLObject *registerObject(const char *name);
    /// registerObject for a file the user opened (the command line, a file dialog, a drop,
    /// the recent files): the window is told of it when it loads.
    GLObject *openFile(const char *name);
    /// The 3D objects registered together with `camera` from one reconstruction (its points,
    /// its splats), in the order they were registered; none for a camera loaded alone.
    std::vector<GL3DObject *> objectsLoadedWith(const GLObject *camera) const;
    /// Moves a reconstruction into another frame by the similarity X' = s R X + t: the original
    /// views of `camera` (see moveViews) and the poses of the objects loaded with it; their files
    /// stay as they are. The planes of the current camera are fitted to the moved scene.
    void moveReconstruction(GLCamera *camera, const Similarity &moved);
    /// Moves the whole scene by the similarity: every camera with the objects loaded with it
    /// (moveReconstruction), then the objects loaded alone, and what the measure tool picked.
    void moveScene(const Similarity &moved);
    /// "Set scale...": scales the scene about the measure tool's point A so that the distance
    /// it measured (A-B) becomes `length`. False, changing nothing, with the reason in `why`,
    /// without a measured distance or for a length that is not a positive number.
    bool setScale(double length, std::string &why);
    /// Registers a 3D object built elsewhere and takes it over; a current camera must exist.
    /// Something that is not a 3D object is refused (null) and stays the caller's.
    GLObject *registerObject(GLObject *object, const char *name);
    GL3DObject *register3DObject(const char *name);
    /// "<directory>/param.dat" if it loads, else the built-in default camera.
    GLCamera *registerDefaultCamera(const char *directory);
    bool unregisterObject(GLObject *element);
    bool swapObjects(GLObject *a, GLObject *b);
    GL3DObject *getObject(int index);
    int getNObjects() const { return static_cast<int>(objects.size()); }
    int getNCameras() const { return static_cast<int>(cameras.size()); }
    GLCamera *getCamera(int index);
    /// Takes a GLObject rather than an untyped pointer: a 3D object pointer turned into void*
    /// would not point at its GLObject part.
    void setFocus(GLObject *element);
    GLObject *getFocus() const { return focus; }
    GLCamera *getCurrentCamera() const { return currentCamera; }
    GL3DObject *getCurrentObject() const { return currentObject; }
    /// True for an object a reconstruction brought with its camera (its points).
    bool isBroughtByCamera(const GL3DObject *object) const;
    /// The path up to its last '/' (else its last '\\'), or "." without either; empty for null.
    static std::string getDirName(const char *path);

    // --- View and settings -------------------------------------------------------------
    /// `chosen`: the user chose it (the Preferences, --background), rather than a part of the
    /// program for a time (an evaluation over the photographs' background).
    void setBackgroundColor(Point4 colour, bool chosen = true);
    Point4 getBackgroundColor() const { return backgroundColor; }
    bool isBackgroundChosen() const { return backgroundChosen; }
    void setDrawInfo(bool on) { drawInfo = on; }
    bool getDrawInfo() const { return drawInfo; }
    void getWindowSize(int &width, int &height) const;
    void setWindowSize(int width, int height);
    void updateCameraZPlanes() override;
    /// Which way up the built-in camera shows a scene that starts without a camera file. A
    /// change turns the built-in camera, when it is the current one, and frames the scene.
    void setUpAxis(UpAxis axis);
    UpAxis getUpAxis() const { return upAxis; }
    /// The current camera back at its original view; the built-in camera is fitted to the
    /// scene again, and the near and far planes of any camera are put around it.
    void resetCamera() override;
    /// Moves the current camera, looking the way it looks now, so that every object fills
    /// the view; the planes follow. Nothing happens without a camera or an object.
    void fitAll() override;
    /// The folder of masks (NAME.png for photograph NAME) the selections by silhouettes of the
    /// objects loaded from now on start with (`Viewer --masks DIR`); empty: the camera's own.
    void setMasksFolder(const std::string &folder) { masksFolder = folder; }
    const std::string &getMasksFolder() const { return masksFolder; }
    /// The orientation triad in the lower left corner of the view.
    void toggleTriad() override { triad = !triad; requestRedraw(); }
    bool getTriad() const { return triad; }
    bool getShadows() const { return shadows; }
    float getShadowPlaneOffset() const { return shadowPlaneOffset; }
    Point3 getRotationAxis() const { return rotationAxis; }
    int getCaptureCounter() const { return capture.getCaptureCounter(); }
    /// While a mouse drag turns, pans or zooms a scene of more than this many triangles,
    /// large meshes draw a reduced stand-in; the release draws them whole again. 0 never
    /// reduces. Captures always draw everything.
    void setDragReductionThreshold(long long triangles) { input.setDragReductionThreshold(triangles); }
    long long getDragReductionThreshold() const { return input.getDragReductionThreshold(); }
    static constexpr long long kDefaultDragReductionThreshold = SceneInput::kDefaultDragReductionThreshold;
    /// The point budgets of the clouds' frames (see Options), applied to every cloud.
    void setPointBudgets(long long still, long long drag);
    /// The memory of the clouds read node by node, for those open and those opened later.
    void setPointMemoryBudget(long long bytes);
    long long getPointMemoryBudget() const { return options.pointMemoryBudget; }
    long long getStillPointBudget() const { return options.stillPointBudget; }
    long long getDragPointBudget() const { return options.dragPointBudget; }
    void setCaptureEveryPoint(bool on);
    bool getCaptureEveryPoint() const { return options.captureEveryPoint; }
    /// PNG captures are written fast (deflate level 2) unless the smallest files are asked
    /// for (level 9); the pixels are the same.
    void setSmallestCaptures(bool on) { capture.setSmallestCaptures(on); }
    bool getSmallestCaptures() const { return capture.getSmallestCaptures(); }
    static constexpr int kFastCaptureLevel = SceneCapture::kFastCaptureLevel;
    /// True while the frames of a drag draw reduced objects.
    bool isDrawingReduced() const { return input.isDrawingReduced(); }
    /// How the loader reads the files registered from now on.
    void setLoadOptions(const LoadOptions &o) { loadOptions = o; }

    /// One frame of the main view (reduced while a drag of a large scene lasts).
    void draw();
    /// One frame of the main view as a capture draws it, not shown: what it shows is read first
    /// while the windows answer (see GL3DObject::readsForCapture). False when the user cancelled
    /// that reading, or the reading of the later parts of a large cloud inside the frame.
    bool drawWhole();
    /// True while a frame is drawn. A capture of a cloud too large for half the point memory
    /// reads its later parts inside its frame while the windows answer: nothing may then draw
    /// or change the scene.
    bool drawingFrame() const { return framing > 0; }
    /// While a frame is drawn, true: what asked for it waits, and the windows are drawn again
    /// once the frame has ended (at the size they have taken meanwhile). False otherwise.
    bool putOffWhileDrawing();
    /// A frame of `kind` with the scene's budgets.
    FrameContext frameOf(FrameContext::Kind kind) const override;
    /// Draws the frame `f` describes; a capture is not shown (it is read back first). With
    /// `scale` above 1 it covers that multiple of the window size, without the text overlays.
    void drawFrame(const FrameContext &f, int scale = 1) override;
    /// Saves the frame as "<prefix><number, 4 digits>.png"; true when it was written.
    bool saveFrameBuffer(const char *prefix, int number);
    /// Saves the frame as a PNG file, at the capture scale times the window size.
    bool saveFrameBuffer(const char *fileName);
    /// Saves the frame as Encapsulated PostScript (depth-sorted vector capture).
    bool saveVectorFrame(const char *fileName);
    /// Captures ("c") are taken at `scale` (1 to 4) times the window size: same camera, same
    /// aspect, text overlays enlarged with the picture. Out-of-range values are clamped.
    void setCaptureScale(int scale);
    int getCaptureScale() const { return capture.getCaptureScale(); }
    /// Draws and reads the frame as RGB bytes, bottom row first (width x height x 3 bytes), as
    /// a capture draws it: what it shows read first (see GL3DObject::readsForCapture), or, when
    /// the user cancelled that, what has come.
    void getFrameBuffer(unsigned char *buffer);

    // --- Tools of the view ------------------------------------------------------------------
    /// The measure tool (key M): distances and angles between points picked in the view.
    SceneMeasure &getMeasure() { return measureTool; }
    /// The A/B comparison (key A): two objects, or an object and the photograph, split by a divider.
    SplitView &getSplitView() { return split; }

    // --- Input ---------------------------------------------------------------------------
    /// A press, release or wheel step at (x, y). A left click without motion goes to the
    /// current object: plain, its click; with Shift, its additional click in mode 0 (a path
    /// across the plane section), with Shift+Control in mode 1 (a path along the edges).
    void notifyClick(const InputEvent &event, int x, int y);
    /// The pointer at (x, y) with `event`'s button held.
    void notifyDrag(const InputEvent &event, int x, int y);
    void notifyCommand(int key);

    /// The light-direction sub-window: the window hands it its context, size and input.
    LightWidget &getLightWidget() { return lightWidget; }

private:
    struct Light {
        Point4 position;
    };

    // What the parts see of the scene (SceneAccess).
    SceneWindow &sceneWindow() override { return *window; }
    void windowSize(int &width, int &height) const override { getWindowSize(width, height); }
    GLCamera *camera() const override { return currentCamera; }
    GL3DObject *object() const override { return currentObject; }
    GLCamera *cameraLoadedWith(const GL3DObject *object) const override;
    GLObject *focused() const override { return focus; }
    bool drawingReduced() const override { return input.isDrawingReduced(); }
    bool lastFrameLessThanCapture() const override { return lessThanCapture; }
    bool showsInfo() const override { return !objects.empty() && drawInfo && currentObject; }
    /// The objects' costs and the current camera's markers' (ten thousand views add to a cloud).
    size_t drawingCost() const override;
    void drawObjectsPlainly() override;
    /// Shadows on or off; turned on where none can show, says why (nothing casts one, or the
    /// view looks along the ground).
    void toggleShadows() override;
    int lightCount() const override { return static_cast<int>(lights.size()); }
    Point4 lightPosition(int i) const override { return getLightPosition(i); }
    void takeLightFromCamera() override { getLightPositionFromCamera(); }
    void printSplatPsnr() override;
    int objectCount() const override { return getNObjects(); }
    GL3DObject *objectAt(int i) const override { return objects[static_cast<size_t>(i)].get(); }
    SceneMeasure &measure() override { return measureTool; }
    SplitView &splitView() override { return split; }
    bool hasPhotograph() const override;
    /// One side of a split frame (or the whole frame): shadows, objects, cameras.
    void drawSide(const FrameContext &f, const SplitView::Side &side);

    void init(int width, int height);
    /// Registers the camera of a COLMAP model or Bundler file (one view per registered
    /// photograph, photographs found by their names, see ReconstructionImport) and then its
    /// points, coloured, with their reprojection errors as values. Returns the camera, or
    /// null (with a message) when `name` is not such a model or cannot be read.
    GLObject *registerReconstruction(const char *name);
    GLCamera *registerCamera(const char *name);
    bool unregisterCamera(GLObject *camera);
    bool unregister3DObject(GLObject *object);
    void updateCameraPosition();
    void getLightPositionFromCamera();
    Point4 getLightPosition(int i = 0) const { return lights[i].position; }
    void blockSignals();
    void unblockSignals();
    /// The user interface every registered element talks to: the window's host.
    ElementHost &host();
    /// Makes `made` the current camera; null (and nothing registered) when the scene
    /// cannot be fitted to it.
    GLCamera *adoptCamera(std::unique_ptr<GLCamera> made);
    void requestRedraw() override;
    void tell(const std::string &text) override;
    void appendObject(std::unique_ptr<GL3DObject> object);
    /// Rotation axis, shadow plane, planes, identifier and focus of a newly appended object.
    void placeNewObject(GL3DObject *object);
    /// Positions in the arrays, by address; -1 when not registered.
    int indexOf(const GLObject *object) const;
    int indexOfCamera(const GLObject *camera) const;
    void renumberObjects();
    Point3 sceneCentre(bool objectsOnly) const;
    void fitZPlanes(const Point3 &centre, float radius);
    /// How far from c the farthest object reaches (-infinity without objects).
    float objectsRadius(const Point3 &c) const;

    Point4 backgroundColor;
    bool backgroundChosen = false;
    std::string masksFolder;
    Point4 shadowColor;
    std::vector<Light> lights;
    std::vector<std::unique_ptr<GL3DObject>> objects;
    std::vector<std::unique_ptr<GLCamera>> cameras;
    /// What a reconstruction brought with its camera: the objects move with the camera when it
    /// is aligned to another frame. An entry goes when its camera or object is unregistered.
    struct LoadedWith {
        GLCamera *camera;
        GL3DObject *object;
    };
    std::vector<LoadedWith> loadedWith;
    int currentIndex;
    GLCamera *currentCamera;
    GL3DObject *currentObject;
    GLObject *focus;
    float shadowPlaneOffset;
    Point3 rotationAxis;
    bool shadows;
    bool drawInfo;
    bool triad = false;
    std::string cameraRefusal;      ///< why the last camera file was refused
    std::string startCameraRefusal; ///< the same for the camera file of the command line
    UpAxis upAxis = UpAxis::ByFile;
    /// How the first object of a scene framed by the built-in camera lays out its world.
    GL3DObjectLoader::ModelFrame startFrame = GL3DObjectLoader::ModelFrame::Own;
    /// The frame the built-in camera shows: the up axis chosen, or the first file's.
    GL3DObjectLoader::ModelFrame shownFrame() const;
    /// Turns the built-in camera `camera` as the up axis and the start frame say.
    void orientDefaultCamera(GLCamera &camera) const;
    /// The scene's downward direction (a unit vector): the built-in camera's down, or the mean
    /// of the downward directions of a camera file's views.
    Point3 groundDown() const;
    /// The plane under every object, across groundDown(), and the light above the scene that
    /// casts the shadows on it (towards the eye and to its left); false without a camera or
    /// objects.
    bool shadowGround(float plane[4], float light[4]) const;
    int windowWidth, windowHeight;
    /// The last frame of the window drew less than a capture would: a capture draws anew.
    bool lessThanCapture = false;
    // Frames under way (one, or a capture's inside the frame of a flight's export), whether a
    // frame or a new size waits for their end (see putOffWhileDrawing).
    int framing = 0;
    bool putOff = false;
    int putOffWidth = -1, putOffHeight = -1;
    Options options;
    LoadOptions loadOptions;
    std::unique_ptr<SceneWindow> window;
    // The parts the machine hands its work to.
    SplitView split;
    SceneMeasure measureTool{*this};
    SceneCapture capture{*this};
    SceneInput input{*this, capture};
    LightWidget lightWidget{*this};
};

#endif
