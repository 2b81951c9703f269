#include "camera/GLCameraAnimationImpl.h"
#include "render/CaptureTarget.h"

#include "formats/AviContainer.h"
#include "camera/CameraAnimationWindow.h"
#include "camera/GLCamera.h"
#include "core/ElementHost.h"
#include "formats/KeyCameraFile.h"
#include "core/GLObject.h"
#include "image/Bitmap.h"
#include "math/Messages.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace
{

/// The drawn path is the flight shrunk about the rotation point, so that it lies near the model.
constexpr float pathScale = 0.18f;

} // namespace

GLCameraAnimation *GLCameraAnimationFactory(GLCamera *camera)
{
    return camera ? new GLCameraAnimationImpl(camera, camera->getHost()) : nullptr;
}

GLCameraAnimationImpl::GLCameraAnimationImpl(GLCamera *cam, ElementHost *elementHost)
    : camera(cam), host(elementHost), t(0), playing(0), cubic(1), drawPathFlag(0), drawCamerasFlag(0), closedPath(0), timer(-1),
      period(0.05f), duration(4.f), selected(-1), path(pathSamples),
      lengths(pathSamples), pathLength(0), pathValid(false), codec(-1), exporting(false)
{
    for (int k = 0; k < pathSamples; ++k)
        lengths[k] = k / float(pathSamples - 1);
    if (host)
        window.reset(host->openCameraAnimationWindow(this));
}

GLCameraAnimationImpl::~GLCameraAnimationImpl()
{
    setTimer(0);
    // The window goes first, while the key cameras it may still read are there.
    window.reset();
}

// --- Key cameras ------------------------------------------------------------------------------

void GLCameraAnimationImpl::showKeyCameras()
{
    if (window)
        window->showKeyCameras(keyLabels, selected);
}

void GLCameraAnimationImpl::pathChanged()
{
    pathValid = false;
    pathLength = 0;
    if (drawPathFlag && keys.size() > 1)
        computePath();
    camera->postRedisplay();
}

void GLCameraAnimationImpl::add()
{
    keys.push_back(camera->getPose());
    keyLabels.push_back(nextLabel++);
    showKeyCameras();
    if (drawPathFlag && keys.size() > 1)
        pathChanged();
    else
        pathValid = false, pathLength = 0;
}

void GLCameraAnimationImpl::remove()
{
    if (selected < 0 || selected >= static_cast<int>(keys.size()))
        return;
    keys.erase(keys.begin() + selected);
    keyLabels.erase(keyLabels.begin() + selected);
    const int n = static_cast<int>(keys.size());
    // The row before the removed one is selected, the last one when the first went; as a
    // row the user selects, it brings the camera to its key camera.
    const int next = n == 0 ? -1 : (selected == 0 ? n - 1 : selected - 1);
    selected = next;
    showKeyCameras();
    pathChanged();
    if (next >= 0)
        selection_made(next);
}

void GLCameraAnimationImpl::up()
{
    if (selected < 1 || selected >= static_cast<int>(keys.size()))
        return;
    std::swap(keys[selected], keys[selected - 1]);
    std::swap(keyLabels[selected], keyLabels[selected - 1]);
    --selected;
    showKeyCameras();
    pathChanged();
}

void GLCameraAnimationImpl::down()
{
    if (selected < 0 || selected + 1 >= static_cast<int>(keys.size()))
        return;
    std::swap(keys[selected], keys[selected + 1]);
    std::swap(keyLabels[selected], keyLabels[selected + 1]);
    ++selected;
    showKeyCameras();
    pathChanged();
}

void GLCameraAnimationImpl::selection_made(int row)
{
    const int n = static_cast<int>(keys.size());
    if (row < 0 || row >= n)
        return;
    selected = row;
    if (playing)
        return;
    camera->setPose(keys[row]);
    t = n > 1 ? row / float(n - 1) : 0.f;
    camera->postRedisplay();
}

void GLCameraAnimationImpl::unselection_made()
{
    selected = -1;
}

void GLCameraAnimationImpl::setKeyCameras(const std::vector<Position> &list)
{
    stop();
    keys = list;
    keyLabels.resize(keys.size());
    for (size_t i = 0; i < keyLabels.size(); ++i)
        keyLabels[i] = static_cast<int>(i) + 1;
    nextLabel = static_cast<int>(keys.size()) + 1;
    selected = -1;
    showKeyCameras();
    pathChanged();
}

// --- Playing ------------------------------------------------------------------------------------

void GLCameraAnimationImpl::setTimer(int ms)
{
    timer = ms > 0 ? ms : -1;
    if (window)
        window->setTimer(ms);
}

void GLCameraAnimationImpl::pause()
{
    if (!playing) {
        if (keys.size() < 2)
            return;
        setTimer(std::max(1, static_cast<int>(std::lround(period * 1000))));
        playing = 1;
        computePath();
        if (window)
            window->showPlaying(true);
    } else {
        setTimer(0);
        playing = 0;
        if (window)
            window->showPlaying(false);
    }
}

void GLCameraAnimationImpl::stop()
{
    setTimer(0);
    playing = 0;
    t = 0;
    if (window)
        window->showPlaying(false);
}

void GLCameraAnimationImpl::tick()
{
    camera->postRedisplay();
}

void GLCameraAnimationImpl::play()
{
    if (keys.size() < 2) {
        stop();
        return;
    }
    // Steps of period / duration added up may miss 1 by a rounding step: the frame at the
    // end of the flight is played all the same.
    if (t > 1.0001f) {
        stop();
        // The last step moved the camera after its frame was drawn: show where it ended.
        camera->postRedisplay();
        return;
    }
    if (!pathValid)
        computePath();
    const Position p = interpolation(speed(std::min(t, 1.f)));
    if (drawPathFlag)
        drawCamera(p);
    else
        camera->setPose(p);
    t += duration > 0 ? period / duration : 2.f;
    // The timer asks for the next frame; a redraw asked here would run the flight as fast as
    // frames can be drawn instead of at its frame rate.
    const int row = static_cast<int>(std::floor(std::min(t, 1.f) * (keys.size() - 1)));
    if (row != selected) {
        selected = row;
        showKeyCameras();
    }
}

void GLCameraAnimationImpl::draw()
{
    if (drawPathFlag)
        drawPath();
    if (playing)
        play();
}

void GLCameraAnimationImpl::speedChange(int fps)
{
    period = 1.f / std::max(1, fps);
    if (playing)
        setTimer(std::max(1, static_cast<int>(std::lround(period * 1000))));
}

void GLCameraAnimationImpl::timeChange(float seconds)
{
    duration = std::isfinite(seconds) ? std::max(0.f, seconds) : 0.f;
}

int GLCameraAnimationImpl::getFrameCount() const
{
    // Frames are counted, not accumulated from float steps: a step of period / duration added
    // up eighty times need not reach exactly the number of frames that fit.
    const long frames = duration > 0 ? std::lround(duration / period) : 1;
    return static_cast<int>(std::max(1L, std::min(frames, 1000000L)));
}

// --- Flight ---------------------------------------------------------------------------------------

void GLCameraAnimationImpl::setCubicInterpolation(bool on)
{
    cubic = on;
    pathChanged();
}

void GLCameraAnimationImpl::toggleDrawPath()
{
    drawPathFlag = !drawPathFlag;
    pathChanged();
}

void GLCameraAnimationImpl::toggleDrawCameras()
{
    drawCamerasFlag = !drawCamerasFlag;
    camera->postRedisplay();
}

void GLCameraAnimationImpl::toggleClosePath()
{
    closedPath = !closedPath;
    pathChanged();
}

Position GLCameraAnimationImpl::interpolation(float u) const
{
    const int n = static_cast<int>(keys.size());
    if (n == 0)
        return camera->getPose();
    u = std::min(std::max(u, 0.f), 1.f);
    const Point3 rp = camera->getRotationPoint();
    return cubic ? cubicInterpolation(u, n, rp) : linearInterpolation(u, n, rp);
}

Position GLCameraAnimationImpl::linearInterpolation(float u, int n, const Point3 &rp) const
{
    if (closedPath) {
        const float v = u * n;
        const int i = static_cast<int>(v);
        return Position::interpol(keys[i % n], keys[(i + 1) % n], rp, v - i);
    }
    const float v = u * (n - 1);
    const int i = std::min(static_cast<int>(v), n - 1);
    const int j = i >= n - 1 ? i : i + 1;
    return Position::interpol(keys[i], keys[j], rp, v - i);
}

Position GLCameraAnimationImpl::cubicInterpolation(float u, int n, const Point3 &rp) const
{
    int a, b, c, d;
    float f;
    if (closedPath) {
        const float v = u * n;
        const int i = static_cast<int>(v);
        f = v - i;
        a = (i + n - 1) % n;
        b = i % n;
        c = (i + 1) % n;
        d = (i + 2) % n;
    } else {
        const float v = u * (n - 1);
        const int i = std::min(static_cast<int>(v), n - 1);
        f = v - i;
        if (n == 1) {
            a = b = c = d = 0;
        } else if (i == 0) {
            a = 0, b = 0, c = 1, d = n == 2 ? 1 : 2;
        } else if (i < n - 2) {
            a = i - 1, b = i, c = i + 1, d = i + 2;
        } else if (i == n - 2) {
            a = i - 1, b = i, c = i + 1, d = i + 1;
        } else {
            a = i - 1, b = i, c = i, d = i;
        }
    }
    // q and -q are the same rotation, but the spline through them is not: each key's
    // quaternion is taken on the side of its neighbour towards the segment, so that the
    // curve neither jumps between the two covers nor turns the long way round.
    Position pa = keys[a], pb = keys[b], pc = keys[c], pd = keys[d];
    auto align = [](Position &p, const Position &reference) {
        if (p.rotation.dot(reference.rotation) < 0)
            p.rotation = p.rotation * -1;
    };
    align(pc, pb);
    align(pa, pb);
    align(pd, pc);
    return Position::interpol(pa, pb, pc, pd, rp, f);
}

Point3 GLCameraAnimationImpl::pathPoint(const Position &p) const
{
    const Matrix4 &m = p.getModelViewMatrix();
    const Point3 centre = m.getSubMatrix().transpose() * -m.getSubVector();
    const Point3 rp = camera->getRotationPoint();
    return rp + (centre - rp) * pathScale;
}

void GLCameraAnimationImpl::computePath()
{
    if (keys.size() < 2)
        return;
    for (int k = 0; k < pathSamples; ++k)
        path[k] = pathPoint(interpolation(k / float(pathSamples - 1)));
    lengths[0] = 0;
    for (int k = 1; k < pathSamples; ++k)
        lengths[k] = lengths[k - 1] + (path[k] - path[k - 1]).norm();
    const float total = lengths[pathSamples - 1];
    // A path too short to measure (key cameras turning on the spot) runs at the pace of u.
    pathLength = total / pathSamples < 0.0001f ? 0.f : total;
    for (int k = 0; k < pathSamples; ++k)
        lengths[k] = pathLength > 0 ? lengths[k] / total : k / float(pathSamples - 1);
    pathValid = true;
}

float GLCameraAnimationImpl::speed(float s) const
{
    int k = 0;
    while (k < pathSamples && !(s < lengths[k]))
        ++k;
    if (k == 0)
        return 0;
    if (k == pathSamples)
        return 1;
    const float u0 = (k - 1) / float(pathSamples - 1), u1 = k / float(pathSamples - 1);
    const float guess = (k - (lengths[k] - s) / (lengths[k] - lengths[k - 1])) / (pathSamples - 1);
    if (!(pathLength > 0))
        return guess;
    // The table is linear between samples, but the speed along the path is not where the
    // flight passes a key camera of a linear path, or bends hard: there the table alone
    // misplaces frames by up to a sample's length. Within the sample found, the distance
    // from its start is measured on the path itself and halved down to the fraction asked.
    const float target = (s - lengths[k - 1]) * pathLength;
    const Point3 start = path[k - 1];
    float lo = u0, hi = u1;
    for (int i = 0; i < 16; ++i) {
        const float mid = 0.5f * (lo + hi);
        if ((pathPoint(interpolation(mid)) - start).norm() < target)
            lo = mid;
        else
            hi = mid;
    }
    return 0.5f * (lo + hi);
}

void GLCameraAnimationImpl::drawPath()
{
    if (keys.size() > 1) {
        if (!pathValid)
            computePath();
        glPushAttrib(GL_ENABLE_BIT | GL_LINE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT);
        glDisable(GL_LIGHTING);
        glDisable(GL_TEXTURE_2D);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glEnable(GL_LINE_SMOOTH);
        glLineWidth(4);
        glColor3ub(0, 0, 255);
        glBegin(GL_LINE_STRIP);
        for (int k = 0; k < pathSamples; ++k)
            glVertex3f(path[k].x, path[k].y, path[k].z);
        glEnd();
        glLineWidth(1);
        glPopAttrib();
    }
    if (drawCamerasFlag)
        for (const Position &p : keys)
            drawCamera(p);
}

void GLCameraAnimationImpl::drawCamera(const Position &p)
{
    const Point3 s = pathPoint(p);
    const float size = (s - camera->getRotationPoint()).norm() / 10;
    // The axes of the camera's own frame: R's transpose turns them into world directions.
    const Matrix4 turn(p.getModelViewMatrix().getSubMatrix().transpose(), Point3(0, 0, 0));
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glTranslatef(s.x, s.y, s.z);
    glMultMatrixf(turn);
    GLObject::draw3DAxes(Point3(0, 0, 0), Point3(size, size, size));
    glPopMatrix();
}

// --- Files ----------------------------------------------------------------------------------------

bool GLCameraAnimationImpl::save(const char *name)
{
    const char *file = name ? name : KeyCameraFile::defaultName;
    if (!KeyCameraFile::write(file, keys)) {
        msg::error("GLCameraAnimation: unable to write %s\n", file);
        return false;
    }
    return true;
}

bool GLCameraAnimationImpl::load(const char *name)
{
    const char *file = name ? name : KeyCameraFile::defaultName;
    try {
        setKeyCameras(KeyCameraFile::read(file));
    } catch (const std::exception &e) {
        msg::error("GLCameraAnimation: %s\n", e.what());
        return false;
    }
    return true;
}

// --- Exports --------------------------------------------------------------------------------------

Bitmap GLCameraAnimationImpl::readViewport(bool bgr)
{
    GLint vp[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, vp);
    Bitmap image(std::max(0, vp[2]), std::max(0, vp[3]));
    if (image.width > 0 && image.height > 0) {
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glFinish();
        glReadPixels(vp[0], vp[1], image.width, image.height, bgr ? GL_BGR : GL_RGB, GL_UNSIGNED_BYTE,
                     image.pixels);
        // OpenGL delivers the bottom row first; pictures and films start with the top row.
        image.flipY();
    }
    return image;
}

int GLCameraAnimationImpl::exportFrames(const char *title, const FrameStep &step, bool whole)
{
    if (exporting)
        return EXPORT_FAILED;
    std::unique_ptr<ExportProgress> progress;
    std::string error;
    auto fail = [&](const std::string &text) {
        msg::error("GLCameraAnimation: %s\n", text.c_str());
        if (progress)
            progress->showError(text.c_str());
        return EXPORT_FAILED;
    };
    stop();
    // Exports started from the editor's window show their progress; a test's do not.
    if (window && host)
        progress.reset(host->openProgress(title));
    if (keys.empty())
        return fail("no key camera to export");
    computePath();
    exporting = true;
    // The frames are drawn into a buffer of their own and read from there: after the swap
    // that shows a frame, the window's buffer holds nothing defined (GLX), whatever a
    // software renderer happens to leave in it.
    camera->updateDisplay();
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    CaptureTarget target;
    if (viewport[2] > 0 && viewport[3] > 0 && !target.create(viewport[2], viewport[3]))
        msg::warning("GLCameraAnimation: %s; the frames are read from the window\n", target.error().c_str());
    const int frames = getFrameCount();
    int result = EXPORT_DONE;
    for (int k = 0; k < frames; ++k) {
        const float time = k / float(frames);
        if (progress && !progress->setValue(time * 100)) {
            result = EXPORT_CANCELLED;
            break;
        }
        const Position p = interpolation(speed(time));
        camera->setPose(p);
        // A frame read back is drawn as a capture: whole, what it shows read first (a cloud's
        // nodes).
        if (!whole) {
            camera->updateDisplay();
        } else if (!camera->updateDisplayWhole()) {
            result = EXPORT_CANCELLED;
            break;
        }
        if (!step(k, p, error)) {
            result = EXPORT_FAILED;
            break;
        }
    }
    target.release();
    exporting = false;
    if (result == EXPORT_FAILED)
        return fail(error);
    if (progress && result == EXPORT_DONE)
        progress->setValue(100);
    return result;
}

int GLCameraAnimationImpl::exportToImage(const char *name)
{
    if (!name)
        return EXPORT_FAILED;
    // Only a dot in the last part of the name starts an extension.
    std::string base = name, extension = "png";
    const char *slash = std::strrchr(name, '/');
    const char *dot = std::strrchr(slash ? slash : name, '.');
    if (dot) {
        base.assign(name, dot - name);
        extension = dot + 1;
    }
    if (extension != "png" && extension != "ppm" && extension != "jpg") {
        const std::string text = "can't write images of type \"" + extension + "\" (png, ppm or jpg)";
        msg::error("GLCameraAnimation: %s\n", text.c_str());
        if (window && host) {
            std::unique_ptr<ExportProgress> progress(host->openProgress(name));
            if (progress)
                progress->showError(text.c_str());
        }
        return EXPORT_FAILED;
    }
    return exportFrames(name, [&](int frame, const Position &, std::string &error) {
        char file[4096];
        std::snprintf(file, sizeof file, "%s%04d.%s", base.c_str(), frame, extension.c_str());
        Bitmap image = readViewport(false);
        if (image.width <= 0 || image.height <= 0 || !image.save(file)) {
            error = std::string("unable to write ") + file;
            return false;
        }
        return true;
    });
}

int GLCameraAnimationImpl::exportToParam(const char *name)
{
    if (!name)
        return EXPORT_FAILED;
    std::vector<Position> poses;
    // Only the poses are kept: the frames are shown, not read back.
    const int result = exportFrames(
        name,
        [&](int, const Position &p, std::string &) {
            poses.push_back(p);
            return true;
        },
        false);
    if (result != EXPORT_DONE)
        return result;
    const KeyCameraFile::Intrinsics intrinsics{camera->getWidth(),   camera->getHeight(), camera->getCenterX(),
                                               camera->getCenterY(), camera->getFocalX(), camera->getFocalY()};
    if (!KeyCameraFile::writePoses(name, intrinsics, poses)) {
        msg::error("GLCameraAnimation: unable to write %s\n", name);
        if (window && host) {
            std::unique_ptr<ExportProgress> progress(host->openProgress(name));
            if (progress)
                progress->showError((std::string("unable to write ") + name).c_str());
        }
        return EXPORT_FAILED;
    }
    return EXPORT_DONE;
}

int GLCameraAnimationImpl::exportToAvi(const char *name)
{
    if (!name)
        return EXPORT_FAILED;
    // Rounded: 1 / (1 / 20.f) need not come back as 20 exactly.
    const int fps = static_cast<int>(std::lround(1.f / period));
    AviContainer film(name, fps, codec);
    std::unique_ptr<ExportProgress> failure;
    int result = exportFrames(film.getFileName().c_str(), [&](int, const Position &, std::string &error) {
        if (!film.addFrame(readViewport(true))) {
            error = film.getError();
            return false;
        }
        return true;
    });
    if (result == EXPORT_DONE && !film.close()) {
        const std::string text = film.getError();
        msg::error("GLCameraAnimation: %s\n", text.c_str());
        if (window && host) {
            failure.reset(host->openProgress(film.getFileName().c_str()));
            if (failure)
                failure->showError(text.c_str());
        }
        result = EXPORT_FAILED;
    }
    return result;
}

void GLCameraAnimationImpl::selectCodec(int i)
{
    // The dialog is the window's; here the choice is only kept.
    if (i >= 0)
        codec = i;
}
