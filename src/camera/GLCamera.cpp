#include "camera/GLCamera.h"

#include "camera/CameraMarkers.h"
#include "camera/CameraStateFile.h"
#include "camera/GLCameraAnimation.h"
#include "camera/ViewGeometry.h"
#include "core/ElementHost.h"
#include "math/Messages.h"
#include "render/GLFont.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

Matrix4 translation(const Point3 &v)
{
    return Matrix4(Matrix3(), v);
}

// The directory part of a file name: everything before the last '/' (or '\' when there is
// no '/'), "." when there is neither.
std::string directoryOf(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    if (!slash)
        slash = std::strrchr(path, '\\');
    return slash ? std::string(path, slash) : std::string(".");
}

// The elements of a projection's first two rows that pan and zoom change.
const int kPanZoomElements[6][2] = {{0, 0}, {0, 2}, {0, 3}, {1, 1}, {1, 2}, {1, 3}};

} // namespace

GLCamera::GLCamera()
    : GLView(), loadedFromFile(0), zoomFactor(1), winW(defaultWindowSize), winH(defaultWindowSize),
      currentView(0), showImages(0), showSilhouettes(0), options(0), transparency(0), atOriginalView(1),
      panAround(0), zNear(kInfinity), zFar(-kInfinity), userZNear(kInfinity), userZFar(-kInfinity),
      minAngle(0), worldScale(0), recording(0), viewport{0, 0, defaultWindowSize, defaultWindowSize}
{
    setUp();
}

GLCamera::GLCamera(const char *path, const Options &given)
    : GLView(path), loadedFromFile(1), zoomFactor(1), winW(defaultWindowSize), winH(defaultWindowSize),
      currentView(0), showImages(0), showSilhouettes(0), options(0), transparency(0), atOriginalView(1),
      panAround(0), zNear(kInfinity), zFar(-kInfinity), userZNear(kInfinity), userZFar(-kInfinity),
      minAngle(0), worldScale(0), recording(0), viewport{0, 0, defaultWindowSize, defaultWindowSize}
{
    overlay.searchImagePaths(directoryOf(path).c_str(), given.path_img.value_or(""),
                             given.extension.value_or(""), given.path_sil.value_or(""));
    setUp();
}

GLCamera::GLCamera(const std::vector<Intrinsics> &intrinsics, const std::vector<Matrix3> &rotations,
                   const std::vector<Point3> &translations, const std::vector<std::string> &photographs)
    : GLView(intrinsics, rotations, translations), loadedFromFile(1), zoomFactor(1), winW(defaultWindowSize),
      winH(defaultWindowSize), currentView(0), showImages(0), showSilhouettes(0), options(0), transparency(0),
      atOriginalView(1), panAround(0), zNear(kInfinity), zFar(-kInfinity), userZNear(kInfinity),
      userZFar(-kInfinity), minAngle(0), worldScale(0), recording(0),
      viewport{0, 0, defaultWindowSize, defaultWindowSize}
{
    if (!photographs.empty() && photographs.size() != static_cast<size_t>(N))
        throw std::runtime_error("photograph names handed over for " + std::to_string(photographs.size()) +
                                 " of " + std::to_string(N) + " views");
    overlay.setPhotographFiles(photographs);
    setUp();
}

GLCamera::~GLCamera()
{
    // The flight editor goes first: it still talks to the camera while it closes.
    animation.reset();
    overlay.releaseTextures();
}

void GLCamera::setUp()
{
    // Without a current context nothing is written here, and the camera starts with the
    // size the view window is opened with.
    GLint vp[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, vp);
    if (vp[2] > 0 && vp[3] > 0)
        std::copy(vp, vp + 4, viewport);
    winW = viewport[2];
    winH = viewport[3];
    overlay.resize(N);
    loadModelView(getGLEMatrix());
    backupModelView = modelView;
    computeMinAngle();
    computeWorldScale();
}

// --- Matrices ---------------------------------------------------------------------------

Matrix4 GLCamera::getGLEMatrix()
{
    return GLView::getGLEMatrix(currentView);
}

Matrix4 GLCamera::getGLKMatrix()
{
    return GLView::getGLKMatrix(winW, winH, zNear, zFar);
}

Matrix4 GLCamera::getGLKMatrix(int w, int h)
{
    return GLView::getGLKMatrix(w, h, zNear, zFar);
}

void GLCamera::updateKMatrix()
{
    baseProjection = getGLKMatrix();
    loadKMatrix();
}

void GLCamera::loadKMatrix()
{
    loadProjection(getFinalKMatrix());
}

Matrix4 GLCamera::getFinalKMatrix() const
{
    Matrix4 p = baseProjection;
    p(0, 2) -= 2 * pan.x * p(3, 2) / winW;
    p(1, 2) += 2 * pan.y * p(3, 2) / winH;
    p(0, 3) -= 2 * pan.x * p(3, 3) / winW;
    p(1, 3) += 2 * pan.y * p(3, 3) / winH;
    for (const auto &e : kPanZoomElements)
        p(e[0], e[1]) *= zoomFactor;
    return p;
}

Matrix4 GLCamera::withoutPanAndZoom(const Matrix4 &p) const
{
    // The calibrated projection is what the final one was made from: undo the zoom, then the
    // pan.
    Matrix4 base = p;
    for (const auto &e : kPanZoomElements)
        base(e[0], e[1]) /= zoomFactor;
    base(0, 2) += 2 * pan.x * base(3, 2) / winW;
    base(1, 2) -= 2 * pan.y * base(3, 2) / winH;
    base(0, 3) += 2 * pan.x * base(3, 3) / winW;
    base(1, 3) -= 2 * pan.y * base(3, 3) / winH;
    return base;
}

Matrix4 GLCamera::getModelViewMatrix() const
{
    return Matrix4::GLCS * modelView;
}

void GLCamera::setModelViewMatrix(const Matrix4 &rt)
{
    backupModelView = Matrix4::GLCS * rt;
    loadModelView(backupModelView);
}

void GLCamera::setProjectionMatrix(const Matrix4 &p)
{
    baseProjection = p;
    zoomFactor = 1;
    pan = Point2(0, 0);
    loadProjection(p);
}

void GLCamera::loadModelView(const Matrix4 &m)
{
    modelView = m;
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(modelView);
}

void GLCamera::loadProjection(const Matrix4 &p)
{
    projection = p;
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(projection);
    glMatrixMode(GL_MODELVIEW);
}

void GLCamera::loadMatrices() const
{
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(modelView);
}

// --- Zoom, pan and planes -----------------------------------------------------------------

void GLCamera::setFocal(float f)
{
    zoomFactor = f;
    loadKMatrix();
}

void GLCamera::zoom(float f)
{
    zoomFactor *= f;
    loadKMatrix();
}

void GLCamera::zoomin()
{
    zoomFactor *= 1.1f;
    loadKMatrix();
}

void GLCamera::zoomout()
{
    zoomFactor /= 1.1f;
    loadKMatrix();
}

void GLCamera::setPanning(Point2 p)
{
    pan = p;
    loadKMatrix();
}

void GLCamera::panning(int dx, int dy)
{
    if (options & TEXTURE_2D) {
        t[currentView] += Point3(-0.01f * dx, -0.01f * dy, 0);
        backupModelView = modelView;
        loadModelView(getGLEMatrix());
        rebuildDisplayLists();
        return;
    }
    pan += Point2(static_cast<float>(dx), static_cast<float>(dy)) / zoomFactor;
    loadKMatrix();
}

void GLCamera::perspective(float f)
{
    t[currentView].z *= f;
    loadModelView(getGLEMatrix());
    zNear = 1;
    zFar = 1023;
    updateKMatrix();
    rebuildDisplayLists();
}

void GLCamera::setZPlanes(float n, float f)
{
    userZNear = n;
    userZFar = f;
    checkZPlanes();
}

void GLCamera::checkZPlanes()
{
    if (showImages || showSilhouettes) {
        // The photographs lie just beyond the near plane in front of their cameras, and every
        // camera must fit before the far plane.
        float far = zFar;
        for (int i = 0; i < N; i++)
            far = std::max(far, (rotationPoint - getOrigin(i)).norm());
        zFar = 2 * far + zNear;
        const float h = std::tan(getPhotographAngle() / 2);
        zNear = h * worldScale / (h + W / (2 * fx)) * 0.95f;
    } else {
        zNear = userZNear;
        zFar = userZFar;
    }
    if (options & TEXTURE_2D) {
        zNear = 1;
        zFar = 1000;
    }
    updateKMatrix();
}

void GLCamera::resizeWindow(int w, int h)
{
    if (w < 1 || h < 1)
        return;
    glViewport(0, 0, w, h);
    viewport[0] = viewport[1] = 0;
    viewport[2] = w;
    viewport[3] = h;
    if (w == winW && h == winH)
        return;
    // The pan stays on the same spot of the photograph: it scales with the photograph's width
    // on the screen, which is the window's width or, when bands fill the sides, less.
    const auto shownWidth = [this](int ww, int wh) {
        return H / W < static_cast<float>(wh) / ww ? static_cast<float>(ww) : wh * W / H;
    };
    pan *= shownWidth(w, h) / shownWidth(winW, winH);
    winW = w;
    winH = h;
    updateKMatrix();
}

// --- Rotation point and motion ------------------------------------------------------------

void GLCamera::backupPosition()
{
    backupModelView = modelView;
}

Position GLCamera::getPose() const
{
    return Position(getModelViewMatrix(), getFocal(), getPanning().x, getPanning().y);
}

void GLCamera::setPose(const Position &pose)
{
    setModelViewMatrix(pose.getModelViewMatrix());
    setFocal(pose.focal);
    setPanning(Point2(pose.panning[0], pose.panning[1]));
}

void GLCamera::setPosition(float a, float b)
{
    if (atOriginalView && (options & (CAMERA_ORIGINS | CAMERA_TRAJECTORY))) {
        ensureCameraVisibility();
        atOriginalView = 0;
    }
    const Matrix4 &m = backupModelView;
    // Rows 1 and 0 of the model-view are the screen's vertical and horizontal axes in world
    // coordinates: turning the world about them turns it on the screen.
    const Point3 vertical(m(1, 0), m(1, 1), m(1, 2));
    const Point3 horizontal(m(0, 0), m(0, 1), m(0, 2));
    loadModelView(m * translation(rotationPoint) * Matrix4(vertical, a) * Matrix4(horizontal, b) *
                  translation(-rotationPoint));
    if (options & TEXTURE_2D) {
        const Matrix4 e = Matrix4::GLCS * modelView;
        R[currentView] = e.getSubMatrix();
        t[currentView] = e.getSubVector();
        rebuildDisplayLists();
    }
    if (recording && animation)
        animation->add();
}

void GLCamera::ensureCameraVisibility()
{
    float dmax = 0;
    for (int i = 0; i < N; i++)
        dmax = std::max(dmax, (rotationPoint - getOrigin(i)).norm());
    const float d = dmax + std::max(1.01f * zNear, dmax / 10);
    zFar = std::max(zFar, zNear + 2 * d);
    const Point3 u = (getOrigin(currentView) - rotationPoint).normalized();
    const Point3 centre = rotationPoint + u * d;
    backupModelView.setSubVector(Matrix3::GLCS * (R[currentView] * -centre));
    updateKMatrix();
}

void GLCamera::panAroundRotationPoint()
{
    const Matrix4 k = getFinalKMatrix();
    const auto window = [&](const Matrix4 &mv) {
        float clip[4];
        (k * mv).product(clip, rotationPoint);
        return Point2((clip[0] / clip[3] + 1) / 2 * winW, (clip[1] / clip[3] + 1) / 2 * winH);
    };
    const Point2 before = window(backupModelView);
    const Point2 after = window(modelView);
    // A pan moves the picture left for positive x but up for positive y, and these window
    // coordinates grow to the right and upwards.
    pan.x -= (before.x - after.x) / zoomFactor;
    pan.y += (before.y - after.y) / zoomFactor;
    loadKMatrix();
}

void GLCamera::updateGeometry(Point3 center, float distance)
{
    if (!isDefaultCamera())
        msg::warning("GLCamera: warning, updating geometry of a non-default camera\n");
    setOrigin(center);
    setDistance2Origin(distance);
    computeWorldScale();
    loadModelView(getGLEMatrix());
    framingZoom = zoomFactor;
}

void GLCamera::setTurntableFrame(const Matrix3 &b)
{
    if (!isDefaultCamera())
        return;
    B = b;
    std::vector<float> angles(static_cast<size_t>(N));
    for (int i = 0; i < N; i++)
        angles[static_cast<size_t>(i)] = 6.28318530717958647692f * static_cast<float>(i) / static_cast<float>(N);
    buildTurntable(angles);
    setOrigin(-P);
    loadModelView(getGLEMatrix());
    backupModelView = modelView;
    computeMinAngle();
}

float GLCamera::frameSphere(Point3 centre, float radius)
{
    if (!(radius > 0) || !std::isfinite(radius) || !std::isfinite(centre.x + centre.y + centre.z))
        return 0;
    pan = Point2(0, 0);
    loadKMatrix();
    const Matrix4 k = projection;
    if (k(0, 0) == 0 || k(1, 1) == 0)
        return 0;
    const float tanHalf = std::min(1 / std::fabs(k(0, 0)), 1 / std::fabs(k(1, 1)));
    float distance;
    Point3 eyeCentre;
    if (k(3, 3) != 0) {
        // Orthographic (its last row need not be normalised): the distance only has to keep
        // the sphere in front; the zoom makes the narrower half of the window a little wider
        // than the radius.
        const float half = std::fabs(k(3, 3)) * tanHalf;
        distance = 3 * radius;
        zoomFactor *= half / (1.1f * radius);
        loadKMatrix();
        eyeCentre = Point3(-k(0, 3) / k(0, 0), -k(1, 3) / k(1, 1), -distance);
    } else {
        // On the eye ray through the window centre (off the axis when the principal point
        // is), far enough for the narrower half angle to hold the sphere with some room.
        const Point3 ray(k(0, 2) / k(0, 0), k(1, 2) / k(1, 1), -1);
        distance = 1.1f * radius * std::sqrt(1 + 1 / (tanHalf * tanHalf));
        eyeCentre = ray * (distance / ray.norm());
    }
    Matrix4 m = modelView;
    const Point3 turned(m(0, 0) * centre.x + m(0, 1) * centre.y + m(0, 2) * centre.z,
                        m(1, 0) * centre.x + m(1, 1) * centre.y + m(1, 2) * centre.z,
                        m(2, 0) * centre.x + m(2, 1) * centre.y + m(2, 2) * centre.z);
    m(0, 3) = eyeCentre.x - turned.x;
    m(1, 3) = eyeCentre.y - turned.y;
    m(2, 3) = eyeCentre.z - turned.z;
    backupModelView = m;
    loadModelView(m);
    rotationPoint = centre;
    atOriginalView = 0;
    return distance;
}

void GLCamera::reset()
{
    zoomFactor = isDefaultCamera() ? framingZoom : 1;
    pan = Point2(0, 0);
    updateKMatrix();
    atOriginalView = 1;
    loadModelView(getGLEMatrix());
}

void GLCamera::computeMinAngle()
{
    minAngle = N == 1 ? 0.17453292f : static_cast<float>(smallestAngleBetween(R));
}

void GLCamera::computeWorldScale()
{
    if (N >= 2) {
        const Point3 c0 = getOrigin(0), d0 = getOpticalAxis(0);
        const Point3 c1 = getOrigin(1), d1 = getOpticalAxis(1);
        // Views 0 and 1 looking the same way meet nowhere; they are then treated like a
        // single view.
        if (d0.cross(d1).norm() > 1e-6f * d0.norm() * d1.norm()) {
            const float s = cross(c0, d0, c1, d1);
            if (std::isfinite(s)) {
                worldScale = s;
                rotationPoint = c0 + d0 * s;
                return;
            }
        }
    }
    worldScale = (rotationPoint - getOrigin(0)).norm();
}

// --- Input --------------------------------------------------------------------------------

const BindingTable &GLCamera::bindings()
{
    using A = Action;
    constexpr unsigned F = KeyBinding::REDRAW;
    static const KeyBinding rows[] = {
        {actionValue(A::LOAD_STATE), {KeyCode::SPACE}, "Load camera...", "load cameraState.txt", F},
        {actionValue(A::SAVE_STATE), {'*'}, "Save camera...", "save cameraState.txt", F},
        {actionValue(A::PRINT_STATE), {'+'}, nullptr, "print the camera matrices", F},
        {actionValue(A::VIEW_LABEL), {'/'}, nullptr, "view label on/off", F},
        {actionValue(A::PROJECTION), {'0'}, nullptr, "perspective or orthographic", F},
        {actionValue(A::LOOK_ALONG_X), {'7'}, "X", "look along x", F},
        {actionValue(A::LOOK_ALONG_Y), {'8'}, "Y", "look along y", F},
        {actionValue(A::LOOK_ALONG_Z), {'9'}, "Z", "look along z", F},
        {actionValue(A::PLANES_FARTHER), {'D'}, nullptr, "near and far planes farther", F},
        {actionValue(A::PLANES_NEARER), {'d'}, nullptr, "near and far planes nearer", F},
        {actionValue(A::MOVE_OUT), {'X'}, nullptr, "camera translation out", F},
        {actionValue(A::MOVE_IN), {'x'}, nullptr, "camera translation in", F},
        {actionValue(A::ZOOM_OUT), {'Z'}, nullptr, "camera zoom out", F},
        {actionValue(A::ZOOM_IN), {'z'}, nullptr, "camera zoom in", F},
        {actionValue(A::IMAGES), {'b'}, "images", "original image on/off", F},
        {actionValue(A::SILHOUETTES), {'v'}, "silhouettes", "silhouette on/off", F},
        {actionValue(A::TRANSPARENCY), {'t'}, "transparency", "transparency on/off", F},
        {actionValue(A::PAN_AROUND), {'p'}, "pan around", "keep the rotation point on/off", F},
        {actionValue(A::NEXT_VIEW), {KeyCode::NEXT_VIEW}, nullptr, "next original view", F},
        {actionValue(A::PREVIOUS_VIEW), {KeyCode::PREVIOUS_VIEW}, nullptr, "previous original view", F},
        {actionValue(A::MARKERS), {'F'}, nullptr, "camera markers (frustums) on/off", F},
        {actionValue(A::VIEWS), {'V'}, "Views...", "window \"Views\": every original view against its photograph", 0},
    };
    static const BindingTable table("camera", rows);
    return table;
}

bool GLCamera::runAction(const KeyBinding &row)
{
    switch (static_cast<Action>(row.action)) {
    case Action::LOAD_STATE:
        loadCameraState("cameraState.txt");
        break;
    case Action::SAVE_STATE:
        saveCameraState("cameraState.txt");
        break;
    case Action::PRINT_STATE:
        printCameraState();
        break;
    case Action::VIEW_LABEL:
        atOriginalView = !atOriginalView;
        break;
    case Action::PROJECTION:
        setProjectionMode(projectionMode == 0 ? 1 : 0);
        updateKMatrix();
        break;
    case Action::LOOK_ALONG_X:
    case Action::LOOK_ALONG_Y:
    case Action::LOOK_ALONG_Z: {
        static Matrix4 (GLView::*const along[3])(Point3) = {&GLView::getGLEMatrixAxeX, &GLView::getGLEMatrixAxeY,
                                                             &GLView::getGLEMatrixAxeZ};
        backupPosition();
        loadModelView((this->*along[row.action - actionValue(Action::LOOK_ALONG_X)])(rotationPoint));
        break;
    }
    case Action::PLANES_FARTHER:
        zNear /= 0.8f;
        zFar /= 0.8f;
        updateKMatrix();
        break;
    case Action::PLANES_NEARER:
        zNear *= 0.8f;
        zFar *= 0.8f;
        updateKMatrix();
        break;
    case Action::MOVE_OUT:
    case Action::MOVE_IN: {
        // Moving the camera along its axis scales the distances to the scene, so the planes
        // follow by the same factor.
        const float f = row.action == actionValue(Action::MOVE_IN) ? 0.8f : 1 / 0.8f;
        backupModelView = modelView;
        backupModelView(2, 3) *= f;
        loadModelView(backupModelView);
        zNear *= f;
        zFar *= f;
        updateKMatrix();
        break;
    }
    case Action::ZOOM_OUT:
        zoomout();
        break;
    case Action::ZOOM_IN:
        zoomin();
        break;
    case Action::IMAGES:
    case Action::SILHOUETTES: {
        int &shown = row.action == actionValue(Action::IMAGES) ? showImages : showSilhouettes;
        shown = !shown;
        checkTextures();
        checkZPlanes();
        break;
    }
    case Action::TRANSPARENCY:
        transparency = !transparency;
        break;
    case Action::PAN_AROUND:
        panAround = !panAround;
        break;
    case Action::MARKERS:
        toggleOption(CAMERA_ORIGINS);
        break;
    case Action::VIEWS:
        if (ElementHost *h = getHost())
            h->openViewsWindow(this);
        break;
    case Action::NEXT_VIEW:
    case Action::PREVIOUS_VIEW:
        showView(currentView + (row.action == actionValue(Action::NEXT_VIEW) ? 1 : -1));
        break;
    }
    return true;
}

void GLCamera::goToView(int i)
{
    showView(i);
    postRedisplay();
}

void GLCamera::showView(int i)
{
    backupPosition();
    currentView = wrap(i);
    if (hasViewIntrinsics()) {
        // Imported views may each have their own lens and image size.
        selectIntrinsics(currentView);
        updateKMatrix();
    }
    checkTextures();
    loadModelView(getGLEMatrix());
    if (panAround)
        panAroundRotationPoint();
    atOriginalView = 1;
}

void GLCamera::notifyClick(int x, int y)
{
    if (animation)
        animation->notifyClick(x, y);
}

void GLCamera::notifyDrag(float dx, float dy)
{
    if (animation)
        animation->notifyDrag(dx, dy);
}

void GLCamera::toggleOption(unsigned bits)
{
    options ^= bits;
}

void GLCamera::attachAnimation(GLCameraAnimation *editor) { animation.reset(editor); }

void GLCamera::setAnimationInterface(bool on)
{
    if (on) {
        if (!animation)
            animation.reset(GLCameraAnimationFactory(this));
    } else {
        animation.reset();
    }
}

void GLCamera::toggleRecording()
{
    recording = !recording;
}

// --- State file ---------------------------------------------------------------------------

void GLCamera::saveCameraState(const char *path) { getState().write(path); }

void GLCamera::loadCameraState(const char *path)
{
    CameraState state;
    if (CameraState::read(path, state))
        showState(state);
}

void GLCamera::printCameraState() { CameraStateFile::print(getState(), W, H); }

CameraState GLCamera::getState() const
{
    CameraState state;
    state.modelView = modelView;
    state.projection = projection;
    std::copy(viewport, viewport + 4, state.viewport);
    state.pan = pan;
    state.zoom = zoomFactor;
    state.zNear = zNear;
    state.zFar = zFar;
    return state;
}

void GLCamera::showState(const CameraState &state)
{
    const int *vp = state.viewport;
    loadModelView(state.modelView);
    std::copy(vp, vp + 4, viewport);
    glViewport(vp[0], vp[1], vp[2], vp[3]);
    winW = vp[2];
    winH = vp[3];
    reshapeWindow(winW, winH);
    loadProjection(state.projection);
    pan = state.pan;
    zoomFactor = state.zoom;
    zNear = state.zNear;
    zFar = state.zFar;
    baseProjection = withoutPanAndZoom(state.projection);
    loadKMatrix();
    postRedisplay();
}

// --- Drawing ------------------------------------------------------------------------------

void GLCamera::draw()
{
    if (animation)
        animation->draw();
    if (options & CIRCULAR_MOTION)
        drawCircularMotion();
    if (options & EPIPOLAR_TANGENCIES)
        drawEpipolarTangencies();
    if (options & (CAMERA_ORIGINS | CAMERA_TRAJECTORY))
        drawCameras();
    if ((options & CAMERA_ORIGINS) && !markerColours.empty())
        markerLegend.draw(winW - 110, 10);
    if (showImages || showSilhouettes) {
        if (transparency)
            glDepthFunc(GL_ALWAYS);
        if (options & TEXTURE_2D)
            draw2DTexture();
        else
            drawTextures();
        glDepthFunc(GL_LESS);
        // A view of a reconstruction shown from its pose over its photograph: its keypoints.
        if (showImages && atOriginalView && !(options & TEXTURE_2D))
            tracks.drawKeypoints(currentView, *this, overlay.imageToWindow(getFinalKMatrix()), winW, winH);
        if (atOriginalView)
            drawText();
    }
}

void GLCamera::drawPhotograph()
{
    // Shown for the time of the call: the overlay loads the view's texture when it lacks it.
    const int images = showImages, silhouettes = showSilhouettes, see = transparency;
    showImages = 1;
    showSilhouettes = transparency = 0;
    checkTextures();
    draw2DTexture();
    showImages = images;
    showSilhouettes = silhouettes;
    transparency = see;
    // What the camera's own drawing shows is loaded at its next frame, as before the call.
    if (images || silhouettes)
        checkTextures();
}

void GLCamera::drawText()
{
    char text[32];
    snprintf(text, sizeof text, "camera %02d", currentView);
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_TRANSFORM_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, winW, 0, winH, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    const Point4 colour = GLFont::getFgColor();
    GLFont::setFgColor(Point4(0, 0, 0, 1));
    GLfprint(text, 10, 10);
    GLFont::setFgColor(colour);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}

size_t GLCamera::getDrawingCost() const
{
    return (options & CAMERA_ORIGINS) ? CameraMarkers::trianglesPerMarker * static_cast<size_t>(std::max(0, N)) : 0;
}

void GLCamera::drawCameras()
{
    // A negative scale (cameras whose first two axes meet behind them) would turn the
    // markers inside out.
    const float s = std::fabs(worldScale) / 20;
    if (options & CAMERA_ORIGINS) {
        draw3DAxes(rotationPoint, Point3(s, s, s));
        markers.draw(*this, s, markerColours.empty() ? nullptr : markerColours.data(), tracks);
        tracks.drawLines(*this);
    }
    if (options & CAMERA_TRAJECTORY) {
        glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT | GL_COLOR_BUFFER_BIT);
        glDisable(GL_LIGHTING);
        glDisable(GL_TEXTURE_2D);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glEnable(GL_LINE_SMOOTH);
        glLineWidth(2);
        glColor3f(0, 0, 0);
        glBegin(GL_LINE_STRIP);
        for (int i = 0; i < N; i++) {
            const Point3 c = getOrigin(i);
            glVertex3f(c.x, c.y, c.z);
        }
        glEnd();
        glPopAttrib();
    }
}

bool GLCamera::setMarkerValues(const std::vector<float> &values, const std::string &name)
{
    if (!values.empty() && values.size() != static_cast<size_t>(N))
        return false;
    markerColours.clear();
    markerLegend.clear();
    if (values.empty()) {
        postRedisplay();
        return true;
    }
    float lo = std::numeric_limits<float>::infinity(), hi = -lo;
    for (float v : values)
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    if (!(lo <= hi))
        lo = hi = 0;
    const ColorMap::ColorFunction f = ColorMap::selectColorMap(0);
    markerColours.resize(3 * values.size(), 128);
    for (size_t i = 0; i < values.size(); ++i)
        if (!std::isnan(values[i]))
            f(&markerColours[3 * i], std::isinf(values[i]) ? (values[i] > 0 ? hi : lo) : values[i], lo, hi);
    markerLegend.setTitle(name.c_str());
    markerLegend.add(f, lo, hi, 10, 2);
    postRedisplay();
    return true;
}

void GLCamera::drawCamera(Point3 position, Point3 size, const unsigned char *rgb)
{
    CameraMarkers::drawPyramid(position, size, rgb);
}

// --- Photographs and silhouettes: see GLCameraOverlay ----------------------------------------

void GLCamera::checkTextures() { overlay.requestTextures(); }
void GLCamera::rebuildDisplayLists() { overlay.requestDisplayLists(); }
void GLCamera::drawTextures() { overlay.drawTextures(); }
void GLCamera::draw2DTexture() { overlay.draw2DTexture(); }
void GLCamera::drawCircularMotion() { overlay.drawCircularMotion(); }
void GLCamera::drawEpipolarTangencies() { overlay.drawEpipolarTangencies(); }

CameraShown GLCamera::shown() const
{
    CameraShown s;
    s.view = currentView;
    s.windowWidth = winW;
    s.windowHeight = winH;
    std::copy(viewport, viewport + 4, s.viewport);
    s.calibratedProjection = baseProjection;
    s.finalProjection = getFinalKMatrix();
    s.images = showImages != 0;
    s.silhouettes = showSilhouettes != 0;
    s.transparency = transparency != 0;
    s.opacity = photoOpacity;
    s.worldScale = worldScale;
    s.photographAngle = getPhotographAngle();
    s.turntableOffset = T0;
    return s;
}

void GLCamera::redisplayWhen(std::function<bool()> ready) const
{
    if (ElementHost *elementHost = getHost())
        elementHost->redisplayWhen(std::move(ready));
}

bool GLCamera::setViewPoses(const std::vector<Matrix3> &rotations, const std::vector<Point3> &translations)
{
    if (rotations.size() != static_cast<size_t>(N) || translations.size() != static_cast<size_t>(N))
        return false;
    R = rotations;
    t = translations;
    computeMinAngle();
    computeWorldScale();
    loadModelView(getGLEMatrix());
    backupModelView = modelView;
    rebuildDisplayLists();
    return true;
}
