#ifndef VELMORA_GLCAMERAANIMATIONIMPL_H
#define VELMORA_GLCAMERAANIMATIONIMPL_H

#include "camera/GLCameraAnimation.h"
#include "math/Point3.h"
#include "math/Position.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class Bitmap;
class CameraAnimationWindow;
class ElementHost;
class GLCamera;

/// The flight editor of the viewing camera: a list of key cameras, a flight through them
/// (linear or cubic interpolation, open or closed path, constant speed along the path), its
/// playback at a frame rate for a duration, the drawn path and key cameras, the key-camera
/// file and the exports of a flight (image sequence, pose file, film).
///
/// The flight is a function of u in [0, 1]: interpolation(u) is the key camera at
/// u = i / (n - 1) (i / n on a closed path) and runs between them in between. speed(s) turns a
/// fraction s of the path's length into the u that reaches it, so that interpolation(speed(t))
/// moves at constant speed as the time t of the flight runs from 0 to 1.
///
/// The path is sampled at 128 values of u; sample k is the camera centre at u = k / 127,
/// shrunk to 0.18 of its distance to the rotation point so that it is drawn near the model.
///
/// The window is optional: where the host opens none (off-screen, tools, tests) the editor
/// works the same and reports through the message sink only.
class GLCameraAnimationImpl : public GLCameraAnimation
{
  public:
    static constexpr int pathSamples = 128;

    /// Outcome of an export.
    enum ExportResult { EXPORT_DONE = 0, EXPORT_CANCELLED = 1, EXPORT_FAILED = 2 };

    /// `camera` is not owned and outlives the editor; the editor's window and the progress
    /// windows of its exports come from `host` (the camera's), when there is one.
    GLCameraAnimationImpl(GLCamera *camera, ElementHost *host);
    ~GLCameraAnimationImpl() override;

    GLCameraAnimationImpl(const GLCameraAnimationImpl &) = delete;
    GLCameraAnimationImpl &operator=(const GLCameraAnimationImpl &) = delete;

    // --- GLCameraAnimation -------------------------------------------------------------------
    void notifyClick(int, int) override {}
    void notifyDrag(float, float) override {}
    void notifyKey(int) override {}
    /// The path when it is drawn, then one step of a running flight.
    void draw() override;
    /// Appends the camera's pose as the last key camera.
    void add() override;

    // --- Key cameras ---------------------------------------------------------------------------
    /// Removes the selected key camera and selects the one before it (the last one when the
    /// first was removed), which moves the camera there as selection_made does.
    void remove();
    /// Exchange the selected key camera with the previous / next one; the selection follows.
    void up();
    void down();
    /// Row `row` chosen: when no flight runs, the camera goes to that key camera and the
    /// flight's time to row / (n - 1) (0 with a single key camera).
    void selection_made(int row);
    void unselection_made();
    /// Replaces the key cameras (the loaded or a test's list).
    void setKeyCameras(const std::vector<Position> &keys);
    int getNKeyCameras() const { return static_cast<int>(keys.size()); }
    const Position &getKeyCamera(int i) const { return keys[i]; }
    const std::vector<Position> &getKeyCameras() const { return keys; }
    int getSelected() const { return selected; }
    /// The number shown for each key camera, in their order.
    const std::vector<int> &getKeyLabels() const { return keyLabels; }

    // --- Playing ------------------------------------------------------------------------------
    /// Play / pause: starts the flight (at least two key cameras) where it was left, or
    /// pauses a running one.
    void pause();
    /// Stops the flight and rewinds it.
    void stop();
    /// One frame of a running flight (called by draw()).
    void play();
    /// The timer's action: asks for a redraw, which plays the next frame.
    void tick();
    void setTimer(int ms);
    /// Frames per second; 0 or less counts as 1.
    void speedChange(int fps);
    /// Duration of the flight in seconds; below 0 counts as 0.
    void timeChange(float seconds);
    bool isPlaying() const { return playing != 0; }
    float getTime() const { return t; }
    float getPeriod() const { return period; }
    float getDuration() const { return duration; }
    /// Frames of an export: duration / period rounded, at least one.
    int getFrameCount() const;

    // --- Flight -------------------------------------------------------------------------------
    void setCubicInterpolation(bool cubic);
    void toggleDrawPath();
    void toggleDrawCameras();
    void toggleClosePath();
    bool isCubic() const { return cubic != 0; }
    bool isPathDrawn() const { return drawPathFlag != 0; }
    bool areCamerasDrawn() const { return drawCamerasFlag != 0; }
    bool isClosed() const { return closedPath != 0; }
    /// The pose at u in [0, 1]; the camera's own pose without key cameras.
    Position interpolation(float u) const;
    // u in [0, 1], n > 0 keys, rp the camera's rotation point.
    Position linearInterpolation(float u, int n, const Point3 &rp) const;
    Position cubicInterpolation(float u, int n, const Point3 &rp) const;
    /// The u reached at the fraction s of the path's length (needs computePath()): found in
    /// the length table, then refined on the path within the sample it falls in.
    float speed(float s) const;
    /// Samples the path and its arc-length table (two key cameras at least).
    void computePath();
    const Point3 *getPath() const { return path.data(); }
    const float *getLengths() const { return lengths.data(); }
    /// The drawn point of a pose: its camera centre shrunk towards the rotation point.
    Point3 pathPoint(const Position &p) const;
    void drawPath();
    void drawCamera(const Position &p);

    // --- Files --------------------------------------------------------------------------------
    /// The key-camera file "cameraAnimation.txt" of the working directory, or `path`. A file
    /// that cannot be written or read leaves everything as it was (the reason is printed).
    bool save(const char *path = nullptr);
    bool load(const char *path = nullptr);

    // --- Exports ------------------------------------------------------------------------------
    /// Plays the flight frame by frame into "<base>%04d.<ext>" (`name` split at its last dot;
    /// extension "png" without one; "ppm", "png" and "jpg" are written).
    int exportToImage(const char *name);
    /// The poses of the flight's frames as a camera file.
    int exportToParam(const char *name);
    /// The flight as a film with the chosen codec (see AviContainer).
    int exportToAvi(const char *name);
    /// The codec of film exports, an index into AviContainer::getCodecList().
    void selectCodec(int i);
    int getCodec() const { return codec; }
    bool isExporting() const { return exporting; }

    CameraAnimationWindow *getWindow() const { return window.get(); }
    GLCamera *getCamera() const { return camera; }

    /// The OpenGL viewport read back as an image, row 0 at the top: RGB, or BGR with `bgr`.
    static Bitmap readViewport(bool bgr);

  private:
    using FrameStep = std::function<bool(int frame, const Position &pose, std::string &error)>;
    /// Plays the flight frame by frame, each drawn (whole, as a capture is, when `whole`: the
    /// frame is read back) and then handed to `step`.
    int exportFrames(const char *title, const FrameStep &step, bool whole = true);
    void showKeyCameras();
    void pathChanged();

    GLCamera *camera;
    ElementHost *host;
    float t;
    int playing;
    char cubic, drawPathFlag, drawCamerasFlag, closedPath;
    int timer;
    float period;
    float duration;
    std::unique_ptr<CameraAnimationWindow> window;
    std::vector<Position> keys;
    std::vector<int> keyLabels; ///< the number each key camera got when added
    int nextLabel = 1;
    int selected;
    std::vector<Point3> path;
    std::vector<float> lengths;
    float pathLength; ///< of the sampled path; 0 when too short to measure or not sampled
    bool pathValid;
    int codec;
    bool exporting;
};

#endif
