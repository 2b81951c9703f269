#include "app/GLMachine.h"
#include "core/StartupTiming.h"

#include "camera/GLCamera.h"
#include "camera/ReconstructionImport.h"
#include "core/GLFlags.h"
#include "core/GLObject.h"
#include "app/OffscreenWindow.h"
#include "core/KeyCodes.h"
#include "image/Bitmap4.h"
#include "objects/GL3DObject.h"
#include "objects/GL3DObjectLoader.h"
#include "objects/GLPointListObject.h"
#include "ps/CPsRenderer.h"
#include "render/CaptureTarget.h"

#include <GL/gl.h>

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kPi = 3.1415927f;

bool endsWithDat(const char *name)
{
    const size_t n = std::strlen(name);
    return n >= 3 && std::strcmp(name + n - 3, "dat") == 0;
}

} // namespace

GLMachine::GLMachine(int width, int height)
{
    init(width, height);
    window = std::make_unique<OffscreenWindow>(this, windowWidth, windowHeight);
}

GLMachine::GLMachine(int width, int height, const WindowFactory &makeWindow)
{
    init(width, height);
    if (makeWindow)
        window = makeWindow(this, windowWidth, windowHeight);
    if (!window)
        window = std::make_unique<OffscreenWindow>(this, windowWidth, windowHeight);
}

void GLMachine::init(int width, int height)
{
    backgroundColor = Point4(0.75f, 0.75f, 0.75f, 1);
    subWindowBackgroundColor = Point4(0.75f, 0.75f, 0.75f, 1);
    shadowColor = Point4(0.3f, 0.3f, 0.3f, 1);
    pressX = pressY = 0;
    anchorX = anchorY = -1;
    lights.push_back(Light{Point4(1500, 0, 0, 1), Point4(0, 0, 0, 0)});
    currentIndex = 0;
    currentCamera = nullptr;
    currentObject = nullptr;
    focus = nullptr;
    shadowPlaneOffset = -1000000.0f;
    rotationAxis = Point3(0, 0, 0);
    captureCounter = 0;
    captureScale = 1;
    drawScale = 1;
    offFrame = false;
    shadows = false;
    drawInfo = true;
    subAnchorX = subAnchorY = 0;
    windowWidth = width;
    windowHeight = height;
    dragReductionThreshold = kDefaultDragReductionThreshold;
    drawingReduced = false;
    smallestCaptures = false;
    // The window may call back into this machine (realize runs initGL), so every field is
    // set before it is created.
}

GLMachine::~GLMachine()
{
    // The window owns the panels: they go first, while every element is still alive.
    for (const auto &o : objects)
        window->unregisterInterface(o.get());
    for (const auto &c : cameras)
        window->unregisterInterface(c.get());
    // Objects give their buffers back to the context they were drawn in.
    window->makeCurrent(false);
    objects.clear();
    cameras.clear();
    window.reset();
}

void GLMachine::mainLoop() { window->runLoop(); }

void GLMachine::initGL()
{
    glClearColor(backgroundColor.x, backgroundColor.y, backgroundColor.z, 0);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_LIGHT0);
}

void GLMachine::requestRedraw() { window->postRedisplay(false); }

// --- Registry -------------------------------------------------------------------------------

int GLMachine::registerStartFiles(const char *cameraFile, int nFiles, char *const *files)
{
    const bool cameraRead = !cameraFile || registerObject(cameraFile) != nullptr;
    const int before = getNObjects();
    for (int i = 0; i < nFiles; ++i)
        registerObject(files[i]);
    return cameraRead ? getNObjects() - before : -1;
}

GLObject *GLMachine::registerObject(const char *name)
{
    if (!name)
        return nullptr;
    if (ReconstructionImport::identify(name).kind != ReconstructionImport::NONE)
        return registerReconstruction(name);
    window->setCursor(ElementWindow::BUSY_CURSOR);
    GLObject *element = nullptr;
    if (endsWithDat(name))
        element = registerCamera(name);
    else
        element = register3DObject(name);
    if (element) {
        window->registerInterface(element, name);
        requestRedraw();
    }
    window->overrideCursor();
    return element;
}

GLObject *GLMachine::registerObject(GLObject *object, const char *name)
{
    if (!object || !object->is3DObject())
        return nullptr;
    window->setCursor(ElementWindow::BUSY_CURSOR);
    GL3DObject *object3D = static_cast<GL3DObject *>(object);
    appendObject(std::unique_ptr<GL3DObject>(object3D));
    placeNewObject(object3D);
    window->registerInterface(object, name);
    requestRedraw();
    window->overrideCursor();
    return object;
}

GL3DObject *GLMachine::register3DObject(const char *name)
{
    if (objects.size() >= 256) {
        std::printf("GLMachine: no more than 256 objects can be shown, %s is not loaded\n", name);
        return nullptr;
    }
    std::unique_ptr<GL3DObject> loaded(GL3DObjectLoader::load(name));
    if (!loaded)
        return nullptr;
    GL3DObject *object = loaded.get();
    appendObject(std::move(loaded));
    // The default camera is fitted to the scene, so the object is already in it.
    if (!currentCamera) {
        registerDefaultCamera(getDirName(name).c_str());
    }
    placeNewObject(object);
    return object;
}

void GLMachine::appendObject(std::unique_ptr<GL3DObject> object)
{
    currentObject = object.get();
    objects.push_back(std::move(object));
    currentIndex = static_cast<int>(objects.size()) - 1;
}

void GLMachine::placeNewObject(GL3DObject *object)
{
    object->setRotationAxis(rotationAxis);
    const float extent = object->getMaxIntoDirection(rotationAxis);
    if (extent > shadowPlaneOffset)
        shadowPlaneOffset = extent;
    if (currentCamera)
        updateCameraPosition();
    object->setID(static_cast<unsigned char>(objects.size() - 1));
    focus = object;
}

GLCamera *GLMachine::registerDefaultCamera(const char *directory)
{
    // The directory comes from a user's path, so the name is built without a fixed buffer.
    const std::string param = std::string(directory ? directory : ".") + "/param.dat";
    GLObject *camera = registerObject(param.c_str());
    if (!camera)
        camera = registerObject("default.dat");
    return static_cast<GLCamera *>(camera);
}

GLObject *GLMachine::registerReconstruction(const char *name)
{
    if (!name)
        return nullptr;
    const ReconstructionImport::Source source = ReconstructionImport::identify(name);
    if (source.kind == ReconstructionImport::NONE)
        return nullptr;
    window->setCursor(ElementWindow::BUSY_CURSOR);
    std::unique_ptr<GLCamera> made;
    std::unique_ptr<GLPointListObject> points;
    try {
        const Reconstruction model = ReconstructionImport::read(source);
        std::printf("GLMachine: %s model %s: %d views, %d points\n", model.format.c_str(), source.folder.c_str(),
                    static_cast<int>(model.views.size()), static_cast<int>(model.points.size()));
        for (const std::string &note : model.notes)
            std::printf("GLMachine: note: %s\n", note.c_str());
        const std::vector<std::string> photographs =
            ReconstructionImport::findPhotographs(model, source.folder, GLFlags::path_img);
        made = ReconstructionImport::makeCamera(model, photographs);
        points = ReconstructionImport::makePoints(model);
    } catch (const std::exception &e) {
        std::printf("GLMachine: unable to load %s: %s\n", name, e.what());
        window->overrideCursor();
        return nullptr;
    }
    GLCamera *camera = adoptCamera(std::move(made));
    if (camera) {
        window->registerInterface(camera, name);
        // The points come after their camera, which is then the scene's camera for them.
        if (points && objects.size() >= 256)
            std::printf("GLMachine: no more than 256 objects can be shown, the points of %s are not loaded\n", name);
        else if (points)
            registerObject(points.release(), (source.folder + "/points").c_str());
        requestRedraw();
    }
    window->overrideCursor();
    return camera;
}

GLCamera *GLMachine::registerCamera(const char *name)
{
    if (!name)
        return nullptr;
    std::unique_ptr<GLCamera> made;
    try {
        made = std::strcmp(name, "default.dat") == 0 ? std::make_unique<GLCamera>() : std::make_unique<GLCamera>(name);
    } catch (...) {
        return nullptr;
    }
    return adoptCamera(std::move(made));
}

GLCamera *GLMachine::adoptCamera(std::unique_ptr<GLCamera> made)
{
    GLCamera *camera = made.get();
    GLCamera *previous = currentCamera;
    currentCamera = camera;
    cameras.push_back(std::move(made));
    try {
        updateCameraPosition();
    } catch (...) {
        cameras.pop_back();
        currentCamera = previous;
        return nullptr;
    }
    rotationAxis = camera->getRotationAxis();
    focus = camera;
    return camera;
}

bool GLMachine::unregisterObject(GLObject *element)
{
    // Looked up by address before anything is read through the pointer: an element that
    // was already removed may be gone.
    if (indexOfCamera(element) >= 0)
        return unregisterCamera(element);
    if (indexOf(element) >= 0)
        return unregister3DObject(element);
    return false;
}

int GLMachine::indexOfCamera(const GLObject *camera) const
{
    for (size_t i = 0; i < cameras.size(); ++i)
        if (static_cast<const GLObject *>(cameras[i].get()) == camera)
            return static_cast<int>(i);
    return -1;
}

int GLMachine::indexOf(const GLObject *object) const
{
    for (size_t i = 0; i < objects.size(); ++i)
        if (static_cast<const GLObject *>(objects[i].get()) == object)
            return static_cast<int>(i);
    return -1;
}

bool GLMachine::unregisterCamera(GLObject *element)
{
    const int i = indexOfCamera(element);
    if (i < 0)
        return false;
    cameras.erase(cameras.begin() + i);
    if (cameras.empty()) {
        currentCamera = nullptr;
        focus = nullptr;
    } else {
        currentCamera = cameras[std::min<size_t>(i, cameras.size() - 1)].get();
        focus = currentCamera;
    }
    requestRedraw();
    return true;
}

void GLMachine::renumberObjects()
{
    for (size_t i = 0; i < objects.size(); ++i)
        objects[i]->setID(static_cast<unsigned char>(i));
}

bool GLMachine::unregister3DObject(GLObject *element)
{
    // The identifier is only 8 bits wide, so the object is looked up by address.
    const int i = indexOf(element);
    if (i < 0)
        return false;
    window->makeCurrent(false);
    objects.erase(objects.begin() + i);
    renumberObjects();
    if (objects.empty()) {
        currentIndex = 0;
        currentObject = nullptr;
        shadowPlaneOffset = -1.0f;
        if (focus == element)
            focus = currentCamera;
        if (!currentCamera)
            focus = nullptr;
    } else {
        if (currentIndex >= static_cast<int>(objects.size()))
            currentIndex = static_cast<int>(objects.size()) - 1;
        currentObject = objects[currentIndex].get();
        if (focus == element)
            focus = currentObject;
    }
    if (currentCamera)
        updateCameraPosition();
    requestRedraw();
    return true;
}

bool GLMachine::swapObjects(GLObject *a, GLObject *b)
{
    const int i = indexOf(a);
    const int j = indexOf(b);
    if (i < 0 || j < 0)
        return false;
    std::swap(objects[i], objects[j]);
    objects[i]->setID(static_cast<unsigned char>(i));
    objects[j]->setID(static_cast<unsigned char>(j));
    if (currentObject)
        currentIndex = indexOf(currentObject);
    requestRedraw();
    return true;
}

GL3DObject *GLMachine::getObject(int index)
{
    return index >= 0 && index < static_cast<int>(objects.size()) ? objects[index].get() : nullptr;
}

GLCamera *GLMachine::getCamera(int index)
{
    return index >= 0 && index < static_cast<int>(cameras.size()) ? cameras[index].get() : nullptr;
}

void GLMachine::setFocus(GLObject *element)
{
    if (!element)
        return;
    focus = element;
    if (element->is3DObject()) {
        const int i = indexOf(element);
        if (i >= 0) {
            currentObject = objects[i].get();
            currentIndex = i;
        }
    } else if (element->isCamera()) {
        const int i = indexOfCamera(element);
        if (i >= 0)
            currentCamera = cameras[i].get();
    }
    if (currentCamera && currentObject)
        currentCamera->setRotationPoint(currentObject->getOrigin());
}

std::string GLMachine::getDirName(const char *path)
{
    if (!path)
        return std::string();
    const char *cut = std::strrchr(path, '/');
    if (!cut)
        cut = std::strrchr(path, '\\');
    return cut ? std::string(path, static_cast<size_t>(cut - path)) : std::string(".");
}

// --- View -----------------------------------------------------------------------------------

void GLMachine::setBackgroundColor(Point4 colour)
{
    backgroundColor = colour;
    if (window->makeCurrent(false))
        glClearColor(colour.x, colour.y, colour.z, colour.w);
    window->updateDisplay();
}

void GLMachine::getWindowSize(int &width, int &height) const
{
    width = windowWidth;
    height = windowHeight;
}

void GLMachine::setWindowSize(int width, int height)
{
    if (width == windowWidth && height == windowHeight)
        return;
    windowWidth = width;
    windowHeight = height;
    if (currentCamera)
        currentCamera->resizeWindow(width, height);
    requestRedraw();
}

Point3 GLMachine::sceneCentre(bool objectsOnly) const
{
    Point3 c(0, 0, 0);
    if (!objects.empty()) {
        for (const auto &o : objects)
            c += o->getOrigin();
        return c / static_cast<float>(objects.size());
    }
    if (objectsOnly || !currentCamera || currentCamera->getNViews() <= 0)
        return c;
    for (int i = 0; i < currentCamera->getNViews(); ++i)
        c += currentCamera->getOrigin(i);
    return c / static_cast<float>(currentCamera->getNViews());
}

void GLMachine::fitZPlanes(const Point3 &centre, float radius)
{
    float nearPlane = kInf, farPlane = -kInf;
    for (int i = 0; i < currentCamera->getNViews(); ++i) {
        const float d = (centre - currentCamera->getOrigin(i)).norm();
        nearPlane = std::min(nearPlane, d - 2 * radius);
        farPlane = std::max(farPlane, d + 2 * radius);
    }
    if (nearPlane < 0)
        nearPlane = 1.0f;
    currentCamera->setZPlanes(nearPlane, farPlane);
}

void GLMachine::updateCameraPosition()
{
    if (!currentCamera)
        return;
    const Point3 c = sceneCentre(false);
    float radius = -kInf;
    for (const auto &o : objects)
        radius = std::max(radius, (o->getOrigin() - c).norm() + o->getMaxRadius());
    if (currentCamera->isDefaultCamera()) {
        currentCamera->setFocal(5.0f);
        currentCamera->updateGeometry(c, 10 * radius);
    }
    if (objects.empty())
        for (int i = 0; i < currentCamera->getNViews(); ++i)
            radius = std::max(radius, (currentCamera->getOrigin(i) - c).norm());
    fitZPlanes(c, radius);
}

void GLMachine::updateCameraZPlanes()
{
    if (!currentCamera)
        return;
    const Point3 c = sceneCentre(true);
    float radius = -kInf;
    for (const auto &o : objects)
        radius = std::max(radius, (o->getOrigin() - c).norm() + o->getMaxRadius());
    fitZPlanes(c, radius);
}

void GLMachine::getLightPositionFromCamera()
{
    Matrix4 m;
    glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(m));
    const float d = -m(2, 3);
    lights[0].position.x = d * m(2, 0);
    lights[0].position.y = d * m(2, 1);
    lights[0].position.z = d * m(2, 2);
}

void GLMachine::blockSignals()
{
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, nullptr);
}

void GLMachine::unblockSignals()
{
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_UNBLOCK, &all, nullptr);
}

void GLMachine::draw()
{
    blockSignals();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // The camera keeps its matrices; the context may have changed since it last loaded them.
    if (currentCamera)
        currentCamera->loadMatrices();
    // The same projection over a larger viewport: the same picture at a higher resolution.
    if (drawScale > 1)
        glViewport(0, 0, windowWidth * drawScale, windowHeight * drawScale);
    if (window->isSubWindowEnabled())
        for (size_t i = 0; i < lights.size(); ++i)
            glLightfv(GL_LIGHT0 + static_cast<GLenum>(i), GL_POSITION, lights[i].position);
    glMatrixMode(GL_MODELVIEW);
    if (shadows) {
        float plane[4] = {-rotationAxis.x, -rotationAxis.y, -rotationAxis.z, shadowPlaneOffset};
        float colour[4] = {shadowColor.x, shadowColor.y, shadowColor.z, shadowColor.w};
        for (const auto &o : objects)
            o->drawShadow(plane, lights[0].position, colour);
    }
    for (const auto &o : objects)
        o->draw();
    for (const auto &c : cameras)
        c->draw();
    if (!objects.empty() && drawInfo && currentObject && drawScale == 1)
        currentObject->drawInfo();
    if (!offFrame)
        window->swapBuffers(false);
    unblockSignals();
}

bool GLMachine::saveFrameBuffer(const char *prefix, int number)
{
    char name[4096];
    std::snprintf(name, sizeof name, "%s%04d.png", prefix, number);
    return saveFrameBuffer(name);
}

void GLMachine::setDragReductionThreshold(long long triangles)
{
    dragReductionThreshold = std::max(0LL, triangles);
}

void GLMachine::setReducedDrawing(bool on)
{
    drawingReduced = on;
    for (const auto &o : objects)
        o->setReducedDrawing(on);
}

namespace {

// Draws every object whole for the time it lives (a capture in the middle of a drag).
class WholeFrame {
public:
    WholeFrame(bool reduced, const std::function<void(bool)> &set) : was(reduced), apply(set)
    {
        if (was)
            apply(false);
    }
    ~WholeFrame()
    {
        if (was)
            apply(true);
    }

private:
    bool was;
    std::function<void(bool)> apply;
};

} // namespace

bool GLMachine::saveFrameBuffer(const char *fileName)
{
    const WholeFrame whole(drawingReduced, [this](bool on) { setReducedDrawing(on); });
    if (captureScale > 1)
        return saveScaledFrame(fileName, captureScale);
    return saveWindowFrame(fileName);
}

void GLMachine::setCaptureScale(int scale) { captureScale = std::max(1, std::min(4, scale)); }

bool GLMachine::saveScaledFrame(const char *fileName, int scale)
{
    if (!window->makeCurrent(false))
        return false;
    const int w = windowWidth * scale, h = windowHeight * scale;
    CaptureTarget target;
    if (!target.create(w, h)) {
        std::printf("GLMachine: %s; the capture is taken at the window size\n", target.error().c_str());
        return saveWindowFrame(fileName);
    }
    try {
        Bitmap4 image(w, h);
        offFrame = true;
        drawScale = scale;
        draw();
        drawScale = 1;
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, image.pixels);
        // The overlays (legend, information) are drawn at the window size and laid over the
        // capture enlarged, so that their text stays readable. They are drawn twice, over
        // black and over white: the two tell each pixel's colour and how much of what lies
        // beneath shows through, whatever blending the overlay itself uses.
        if (!objects.empty() && drawInfo && currentObject) {
            GLfloat clear[4];
            glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
            const size_t layerSize = static_cast<size_t>(windowWidth) * windowHeight * 4;
            std::vector<unsigned char> overBlack(layerSize), overWhite(layerSize);
            for (int pass = 0; pass < 2; ++pass) {
                glViewport(0, 0, windowWidth, windowHeight);
                glClearColor(static_cast<float>(pass), static_cast<float>(pass), static_cast<float>(pass), 1);
                glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
                currentObject->drawInfo();
                glReadPixels(0, 0, windowWidth, windowHeight, GL_RGBA, GL_UNSIGNED_BYTE,
                             (pass ? overWhite : overBlack).data());
            }
            glClearColor(clear[0], clear[1], clear[2], clear[3]);
            for (int y = 0; y < h; ++y) {
                const size_t row = static_cast<size_t>(y / scale) * windowWidth * 4;
                unsigned char *out = image.pixels + static_cast<size_t>(y) * w * 4;
                for (int x = 0; x < w; ++x, out += 4) {
                    const unsigned char *b = &overBlack[row + (x / scale) * 4];
                    const unsigned char *wh = &overWhite[row + (x / scale) * 4];
                    for (int c = 0; c < 3; ++c) {
                        const int through = std::max(0, wh[c] - b[c]);
                        if (through < 255 || b[c] != 0)
                            out[c] = static_cast<unsigned char>(std::min(255, b[c] + (out[c] * through + 127) / 255));
                    }
                }
            }
        }
        offFrame = false;
        target.release();
        const size_t n = static_cast<size_t>(w) * h;
        for (size_t i = 0; i < n; ++i)
            image.pixels[4 * i + 3] = 255;
        image.flipY();
        if (image.savePNG(fileName, smallestCaptures ? 9 : kFastCaptureLevel))
            return true;
    } catch (const std::exception &e) {
        offFrame = false;
        drawScale = 1;
        std::printf("GLMachine: %s\n", e.what());
        return false;
    }
    std::printf("GLMachine: unable to write %s\n", fileName);
    return false;
}

bool GLMachine::saveVectorFrame(const char *fileName)
{
    const WholeFrame whole(drawingReduced, [this](bool on) { setReducedDrawing(on); });
    return vectorCapture([fileName](CPsRenderer &renderer, const PsRenderer::FunctorBase *drawFrame) {
        return renderer.Run(fileName, drawFrame, true);
    });
}

bool GLMachine::vectorCapture(const std::function<bool(CPsRenderer &, const PsRenderer::FunctorBase *)> &write)
{
    if (!window->makeCurrent(false))
        return false;
    std::unique_ptr<PsRenderer::FunctorBase> drawFrame(PsRenderer::Functor(this, &GLMachine::draw));
    CPsRenderer renderer;
    // The frame goes to the feedback buffer, not to the window.
    offFrame = true;
    const bool written = write(renderer, drawFrame.get());
    offFrame = false;
    return written;
}

bool GLMachine::saveWindowFrame(const char *fileName)
{
    StartupTiming::mark("capture asked");
    // The window may still hold the frame it shows (drawn with everything, nothing changed
    // since): that is the capture.
    int keptWidth = 0, keptHeight = 0;
    const unsigned char *kept = nullptr;
    const bool reuse = !drawingReduced && window->lastFrame(keptWidth, keptHeight, kept);
    if (!reuse)
        window->updateDisplay();
    if (!window->makeCurrent(false))
        return false;
    StartupTiming::markFinished(reuse ? "capture takes the frame shown" : "capture frame drawn");
    GLint vp[4] = {0, 0, windowWidth, windowHeight};
    if (reuse) {
        vp[2] = keptWidth;
        vp[3] = keptHeight;
    } else {
        glGetIntegerv(GL_VIEWPORT, vp);
    }
    const int w = vp[2], h = vp[3];
    if (w <= 0 || h <= 0)
        return false;
    try {
        Bitmap4 image(w, h);
        if (reuse) {
            std::copy(kept, kept + static_cast<size_t>(w) * h * 4, image.pixels);
        } else {
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glFinish();
            glReadPixels(vp[0], vp[1], w, h, GL_RGBA, GL_UNSIGNED_BYTE, image.pixels);
        }
        StartupTiming::mark("capture read back");
        // The background is cleared with alpha 0, and a drawing buffer with an alpha channel
        // keeps it: a capture is a picture of the window, so it is made opaque.
        const size_t n = static_cast<size_t>(w) * h;
        for (size_t i = 0; i < n; ++i)
            image.pixels[4 * i + 3] = 255;
        // OpenGL delivers the bottom row first; files start with the top row.
        image.flipY();
        if (image.savePNG(fileName, smallestCaptures ? 9 : kFastCaptureLevel)) {
            StartupTiming::mark("capture written");
            return true;
        }
    } catch (const std::exception &e) {
        std::printf("GLMachine: %s\n", e.what());
        return false;
    }
    std::printf("GLMachine: unable to write %s\n", fileName);
    return false;
}

void GLMachine::getFrameBuffer(unsigned char *buffer)
{
    const WholeFrame whole(drawingReduced, [this](bool on) { setReducedDrawing(on); });
    window->updateDisplay();
    if (!window->makeCurrent(false))
        return;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glFinish();
    glReadPixels(0, 0, windowWidth, windowHeight, GL_RGB, GL_UNSIGNED_BYTE, buffer);
}

// --- Input ----------------------------------------------------------------------------------

void GLMachine::notifyClick(int button, int eventType, int x, int y, int modifiers)
{
    if (eventType == RELEASE) {
        window->overrideCursor();
        // The drag is over: the next frame draws everything.
        if (drawingReduced) {
            setReducedDrawing(false);
            requestRedraw();
        }
    }
    else if (button == 3)
        window->setCursor(ElementWindow::ZOOM_CURSOR);
    else if (button == 2)
        window->setCursor(ElementWindow::PAN_CURSOR);
    if (!currentCamera)
        return;

    if (button == 4) {
        currentCamera->zoomin();
        requestRedraw();
        return;
    }
    if (button == 5) {
        currentCamera->zoomout();
        requestRedraw();
        return;
    }
    if (button == 1 && eventType == RELEASE && x == pressX && y == pressY) {
        if (currentObject) {
            if (modifiers & SHIFT) {
                // Shift measures across the plane section (mode 0), Shift+Control along the
                // mesh's edges (mode 1).
                currentObject->notifyAdditionalClick(x, y, (modifiers & CONTROL) ? 1 : 0);
            } else {
                currentObject->notifyClick(x, y);
                currentCamera->setRotationPoint(currentObject->getOrigin());
            }
        }
        anchorX = anchorY = -1;
        requestRedraw();
        return;
    }
    if (eventType == PRESS) {
        pressX = anchorX = x;
        pressY = anchorY = y;
        if (modifiers & SHIFT) {
            if (currentObject)
                currentObject->backupPosition();
        } else {
            currentCamera->backupPosition();
        }
    }
}

void GLMachine::notifyDrag(int x, int y, int button, int modifiers)
{
    if (!currentCamera || anchorX < 0)
        return;
    const float w = static_cast<float>(windowWidth > 0 ? windowWidth : 1);
    const float h = static_cast<float>(windowHeight > 0 ? windowHeight : 1);
    const bool shift = modifiers & SHIFT, control = modifiers & CONTROL;
    if (!drawingReduced && dragReductionThreshold > 0) {
        long long cost = 0;
        for (const auto &o : objects)
            cost += static_cast<long long>(o->getDrawingCost());
        if (cost > dragReductionThreshold)
            setReducedDrawing(true);
    }

    if (button == 3) {
        const float f = (anchorY - y) / h + 1;
        if (shift && currentObject) {
            currentObject->setPosition(static_cast<float>(anchorY - y));
            updateCameraZPlanes();
            currentCamera->setRotationPoint(currentObject->getOrigin());
        } else if (control) {
            currentCamera->perspective(f);
        } else {
            currentCamera->zoom(f);
        }
        anchorX = x;
        anchorY = y;
        window->setCursor(ElementWindow::ZOOM_CURSOR);
    } else if (button == 2) {
        if (shift && currentObject)
            currentObject->setPosition(anchorX - x, anchorY - y);
        else
            currentCamera->panning(anchorX - x, anchorY - y);
        anchorX = x;
        anchorY = y;
        window->setCursor(ElementWindow::PAN_CURSOR);
    } else if (control) {
        const float u = (x - anchorX) / w, v = (y - anchorY) / h;
        if (currentObject)
            currentObject->notifyDrag(u, v);
        else
            currentCamera->notifyDrag(u, v);
        anchorX = x;
        anchorY = y;
    } else {
        // Measured from the press: the pose saved then is the reference of the whole drag.
        const float alpha = (x - anchorX) * kPi / w, beta = (y - anchorY) * kPi / h;
        if (shift) {
            if (currentObject)
                currentObject->setRotation(alpha, beta);
        } else {
            currentCamera->setPosition(alpha, beta);
        }
    }
    requestRedraw();
}

void GLMachine::notifyCommand(int key)
{
    switch (key) {
    case 'c':
        saveFrameBuffer("capture", captureCounter);
        ++captureCounter;
        // A capture at the window's size leaves the scene as it was and the view showing
        // it: no new frame is needed.
        if (captureScale == 1)
            return;
        break;
    case 'C': {
        // Vector captures share the image captures' numbering.
        const int number = captureCounter;
        vectorCapture([number](CPsRenderer &renderer, const PsRenderer::FunctorBase *drawFrame) {
            return renderer.save("capture", number, drawFrame);
        });
        ++captureCounter;
        break;
    }
    case 'Q':
    case 'q':
        window->stopLoop();
        break;
    case 'a':
        break;
    case 's':
        shadows = !shadows;
        break;
    case KeyCode::RETURN:
        if (window->isSubWindowEnabled()) {
            window->enableSubWindow(false);
            getLightPositionFromCamera();
            glLightfv(GL_LIGHT0, GL_POSITION, lights[0].position);
        } else {
            window->enableSubWindow(true);
        }
        break;
    case KeyCode::ESCAPE:
        window->toggleTransient();
        break;
    case 'i':
        // Back to the start: the object where it was loaded, the camera at its view.
        if (currentObject)
            currentObject->resetPosition();
        if (currentCamera) {
            window->makeCurrent(false);
            currentCamera->reset();
        }
        break;
    default: {
        int handled = 0;
        if (focus && focus->is3DObject() && currentObject)
            handled = currentObject->notifyCommand(key);
        if (!handled && currentCamera)
            currentCamera->notifyCommand(key);
        break;
    }
    }
    requestRedraw();
}

// --- Sub-window -----------------------------------------------------------------------------

void GLMachine::subWindowInitGL()
{
    glClearColor(subWindowBackgroundColor.x, subWindowBackgroundColor.y, subWindowBackgroundColor.z, 0);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glEnable(GL_LIGHT0);
    Matrix4 modelView;
    if (window->makeCurrent(false)) {
        glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(modelView));
        getLightPositionFromCamera();
    }
    window->makeCurrent(true);
    if (currentCamera) {
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(currentCamera->getGLKMatrix(140, 140));
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixf(modelView);
    }
}

void GLMachine::subWindowDraw()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (size_t i = 0; i < lights.size(); ++i)
        glLightfv(GL_LIGHT0 + static_cast<GLenum>(i), GL_POSITION, lights[i].position);
    for (const auto &o : objects)
        o->defaultDrawing();
    window->swapBuffers(true);
}

void GLMachine::subWindowSetSize(int width, int height)
{
    if (currentCamera) {
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(currentCamera->getGLKMatrix(width, height));
        glMatrixMode(GL_MODELVIEW);
    }
    glViewport(0, 0, width, height);
    window->postRedisplay(true);
}

void GLMachine::subWindowNotifyClick(int, int, int x, int y, int)
{
    lights[0].saved = lights[0].position;
    subAnchorX = x;
    subAnchorY = y;
    glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(subSavedMatrix));
}

void GLMachine::subWindowNotifyDrag(int x, int y, int, int)
{
    GLint vp[4] = {0, 0, 1, 1};
    glGetIntegerv(GL_VIEWPORT, vp);
    const int w = vp[2] > 0 ? vp[2] : 1, h = vp[3] > 0 ? vp[3] : 1;
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(subSavedMatrix);
    const float a = static_cast<float>((x - subAnchorX) * 90 / w);
    const float b = static_cast<float>((y - subAnchorY) * 90 / h);
    const Point3 p = currentCamera ? currentCamera->getRotationPoint() : Point3();
    const Matrix4 &s = subSavedMatrix;
    glTranslatef(p.x, p.y, p.z);
    glRotatef(a, s(0, 1), s(1, 1), s(2, 1));
    glRotatef(b, s(0, 0), s(1, 0), s(2, 0));
    glTranslatef(-p.x, -p.y, -p.z);
    getLightPositionFromCamera();
    window->postRedisplay(true);
    window->postRedisplay(false);
}

void GLMachine::subWindowNotifyCommand(int key)
{
    if (key == 'q' || key == 'Q') {
        window->stopLoop();
        return;
    }
    if (key == 'i') {
        if (currentCamera) {
            glMatrixMode(GL_MODELVIEW);
            glLoadMatrixf(currentCamera->getGLEMatrix());
        }
        getLightPositionFromCamera();
        requestRedraw();
    }
}
