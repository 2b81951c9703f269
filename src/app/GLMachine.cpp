#include "app/GLMachine.h"
#include "core/StartupTiming.h"

#include "app/OffscreenWindow.h"
#include "app/SceneCleaning.h"
#include "app/SplatComparison.h"
#include "camera/AlignedViews.h"
#include "camera/GLCamera.h"
#include "camera/ReconstructionImport.h"
#include "core/ElementHost.h"
#include "core/GLObject.h"
#include "core/KeyCodes.h"
#include "math/Messages.h"
#include "objects/ElementCleaning.h"
#include "objects/GL3DObject.h"
#include "objects/GL3DObjectLoader.h"
#include "objects/GLMeshObject.h"
#include "objects/GLPointListObject.h"

#include <GL/gl.h>

#include <unistd.h>

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

bool endsWithDat(const char *name)
{
    const size_t n = std::strlen(name);
    return n >= 3 && std::strcmp(name + n - 3, "dat") == 0;
}

// How much a pose enlarges its object: an aligned reconstruction's pose carries a scale.
float poseScale(const Matrix4 &pose)
{
    float largest = 0;
    for (int c = 0; c < 3; ++c)
        largest = std::max(largest, std::sqrt(pose(0, c) * pose(0, c) + pose(1, c) * pose(1, c) + pose(2, c) * pose(2, c)));
    return largest;
}

} // namespace

GLMachine::GLMachine(int width, int height, const Options &given) : options(given)
{
    init(width, height);
    window = std::make_unique<OffscreenWindow>(this, windowWidth, windowHeight);
}

GLMachine::GLMachine(int width, int height, const WindowFactory &makeWindow, const Options &given)
    : options(given)
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
    shadowColor = Point4(0.3f, 0.3f, 0.3f, 1);
    lights.push_back(Light{Point4(1500, 0, 0, 1)});
    currentIndex = 0;
    currentCamera = nullptr;
    currentObject = nullptr;
    focus = nullptr;
    shadowPlaneOffset = -1000000.0f;
    rotationAxis = Point3(0, 0, 0);
    shadows = false;
    drawInfo = true;
    windowWidth = width;
    windowHeight = height;
    setPointBudgets(options.stillPointBudget, options.dragPointBudget);
    setCaptureEveryPoint(options.captureEveryPoint);
    loadOptions.pointMemoryBudget = static_cast<size_t>(std::max(64LL << 20, options.pointMemoryBudget));
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

void GLMachine::tell(const std::string &text)
{
    msg::text(MessageLevel::Note, text);
    host().showMessage(MessageLevel::Note, text);
}

ElementHost &GLMachine::host() { return window->elementHost(); }

// --- Registry -------------------------------------------------------------------------------

int GLMachine::registerStartFiles(const Options &start)
{
    if (start.masks)
        masksFolder = *start.masks;
    std::vector<const char *> files;
    for (const std::string &f : start.inputFiles)
        files.push_back(f.c_str());
    return registerStartFiles(start.paramFile ? start.paramFile->c_str() : nullptr, static_cast<int>(files.size()),
                              files.data());
}

int GLMachine::registerStartFiles(const char *cameraFile, int nFiles, const char *const *files)
{
    cameraRefusal.clear();
    const bool cameraRead = !cameraFile || openFile(cameraFile) != nullptr;
    startCameraRefusal = cameraRead ? std::string() : cameraRefusal;
    const int before = getNObjects();
    for (int i = 0; i < nFiles; ++i)
        openFile(files[i]);
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

GLObject *GLMachine::openFile(const char *name)
{
    GLObject *element = registerObject(name);
    if (element)
        window->fileOpened(name);
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
        msg::warning("GLMachine: no more than 256 objects can be shown, %s is not loaded\n", name);
        return nullptr;
    }
    std::unique_ptr<GL3DObject> loaded(GL3DObjectLoader::load(name, &host(), loadOptions));
    if (!loaded)
        return nullptr;
    GL3DObject *object = loaded.get();
    appendObject(std::move(loaded));
    // The default camera is fitted to the scene, so the object is already in it.
    if (!currentCamera) {
        GLCamera *camera = registerDefaultCamera(getDirName(name).c_str());
        // Other programs model with y up and look from +z, surveys with z up; the built-in
        // camera follows the first file of the scene (or the axis the user chose).
        if (camera && camera->isDefaultCamera() && objects.size() == 1) {
            startFrame = GL3DObjectLoader::frameOf(name, *object);
            orientDefaultCamera(*camera);
        }
    }
    placeNewObject(object);
    return object;
}

void GLMachine::appendObject(std::unique_ptr<GL3DObject> object)
{
    object->attach(&host());
    if (ElementCleaning *cleaning = object->getCleaning()) {
        // The selections by the cameras see the views of whichever camera is current then.
        cleaning->masks = masksFolder;
        cleaning->setViewSource([this](bool withMasks, const std::string &masks) {
            return CameraSights::ofScene(*this, masks, withMasks);
        });
    }
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
        StartupTiming::mark("reconstruction read");
        msg::note("GLMachine: %s model %s: %d views, %d points\n", model.format.c_str(), source.folder.c_str(),
                  static_cast<int>(model.views.size()), static_cast<int>(model.points.size()));
        for (const std::string &note : model.notes)
            msg::note("GLMachine: note: %s\n", note.c_str());
        const std::vector<std::string> photographs =
            ReconstructionImport::findPhotographs(model, source.folder,
                                                  options.path_img ? options.path_img->c_str() : nullptr);
        // The figures of the points and of the views come from one pass over the tracks.
        const ReconstructionStatistics stats = ReconstructionStatistics::of(model);
        StartupTiming::mark("reconstruction statistics");
        made = ReconstructionImport::makeCamera(model, photographs, &stats);
        StartupTiming::mark("reconstruction camera made");
        points = ReconstructionImport::makePoints(model, &stats);
        StartupTiming::mark("reconstruction points made");
    } catch (const std::exception &e) {
        const std::string text = std::string("GLMachine: unable to load ") + name + ": " + e.what() + "\n";
        msg::text(MessageLevel::Error, text);
        host().showMessage(MessageLevel::Error, text);
        window->overrideCursor();
        return nullptr;
    }
    GLCamera *camera = adoptCamera(std::move(made));
    if (camera) {
        window->registerInterface(camera, name);
        // The points come after their camera, which is then the scene's camera for them.
        std::vector<GLObject *> loaded;
        if (points && objects.size() >= 256)
            msg::warning("GLMachine: no more than 256 objects can be shown, the points of %s are not loaded\n", name);
        else if (points)
            loaded.push_back(registerObject(points.release(), (source.folder + "/points").c_str()));
        if (!source.splats.empty())
            loaded.push_back(registerObject(source.splats.c_str()));
        // Remembered so that aligning the camera to another frame takes them along.
        for (GLObject *o : loaded)
            if (indexOf(o) >= 0)
                loadedWith.push_back({camera, objects[static_cast<size_t>(indexOf(o))].get()});
        requestRedraw();
    }
    window->overrideCursor();
    return camera;
}

std::vector<GL3DObject *> GLMachine::objectsLoadedWith(const GLObject *camera) const
{
    std::vector<GL3DObject *> found;
    for (const LoadedWith &l : loadedWith)
        if (static_cast<const GLObject *>(l.camera) == camera)
            found.push_back(l.object);
    return found;
}

GLCamera *GLMachine::cameraLoadedWith(const GL3DObject *object) const
{
    for (const LoadedWith &l : loadedWith)
        if (l.object == object)
            return l.camera;
    return nullptr;
}

bool GLMachine::isBroughtByCamera(const GL3DObject *object) const { return cameraLoadedWith(object) != nullptr; }

namespace {

// The similarity as a pose applied after an object's own: X' = s R X + t.
Matrix4 poseOf(const Similarity &moved)
{
    Matrix4 S = Matrix4::Identity;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            S(r, c) = static_cast<float>(moved.s * moved.R[static_cast<size_t>(3 * r + c)]);
        S(r, 3) = static_cast<float>(moved.t[static_cast<size_t>(r)]);
    }
    return S;
}

} // namespace

void GLMachine::moveReconstruction(GLCamera *camera, const Similarity &moved)
{
    if (!camera)
        return;
    moveViews(*camera, moved);
    // The world the object's pose leads into is moved: the pose is applied first.
    const Matrix4 S = poseOf(moved);
    for (GL3DObject *object : objectsLoadedWith(camera))
        object->setPose(S * object->getPose());
    if (camera == currentCamera)
        updateCameraPosition();
    requestRedraw();
}

void GLMachine::moveScene(const Similarity &moved)
{
    const Matrix4 S = poseOf(moved);
    for (const auto &o : objects)
        if (!isBroughtByCamera(o.get()))
            o->setPose(S * o->getPose());
    // The current camera last: its planes are fitted to the scene once everything moved.
    for (const auto &c : cameras)
        if (c.get() != currentCamera)
            moveReconstruction(c.get(), moved);
    moveReconstruction(currentCamera, moved);
    measureTool.moved(moved);
}

bool GLMachine::setScale(double length, std::string &why)
{
    Similarity scaling;
    if (!measureTool.scaling(length, scaling, why))
        return false;
    const double measured = measureTool.distance();
    moveScene(scaling);
    msg::note("Set scale: %.6f becomes %.6f, the scene scaled by %.9g\n", measured, length, scaling.s);
    return true;
}

bool GLMachine::hasPhotograph() const
{
    return currentCamera && currentCamera->getNViews() > 0 &&
           !currentCamera->getOverlay().getPhotographFile(currentCamera->getCurrentView()).empty();
}

GLCamera *GLMachine::registerCamera(const char *name)
{
    if (!name)
        return nullptr;
    std::unique_ptr<GLCamera> made;
    try {
        made = std::strcmp(name, "default.dat") == 0 ? std::make_unique<GLCamera>() : std::make_unique<GLCamera>(name, options);
    } catch (const std::exception &e) {
        cameraRefusal = e.what();
        // A camera file that is there but unusable is said in the window too, with its reason;
        // the param.dat looked for beside every model is mostly absent, which says nothing.
        if (access(name, F_OK) == 0)
            host().showMessage(MessageLevel::Error, std::string("GLCamera: ") + e.what() + ": " + name + "\n");
        return nullptr;
    } catch (...) {
        return nullptr;
    }
    return adoptCamera(std::move(made));
}

GLCamera *GLMachine::adoptCamera(std::unique_ptr<GLCamera> made)
{
    GLCamera *camera = made.get();
    camera->attach(&host());
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
    loadedWith.erase(std::remove_if(loadedWith.begin(), loadedWith.end(),
                                    [&](const LoadedWith &l) { return l.camera == cameras[static_cast<size_t>(i)].get(); }),
                     loadedWith.end());
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
    loadedWith.erase(std::remove_if(loadedWith.begin(), loadedWith.end(),
                                    [&](const LoadedWith &l) { return l.object == objects[static_cast<size_t>(i)].get(); }),
                     loadedWith.end());
    split.forget(objects[static_cast<size_t>(i)].get());
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

void GLMachine::setBackgroundColor(Point4 colour, bool chosen)
{
    backgroundColor = colour;
    backgroundChosen = chosen;
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
    if (putOffWhileDrawing()) {
        putOffWidth = width;
        putOffHeight = height;
        return;
    }
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

float GLMachine::objectsRadius(const Point3 &c) const
{
    float radius = -kInf;
    for (const auto &o : objects)
        radius = std::max(radius, (o->getOrigin() - c).norm() + poseScale(o->getPose()) * o->getMaxRadius());
    return radius;
}

void GLMachine::updateCameraPosition()
{
    if (!currentCamera)
        return;
    const Point3 c = sceneCentre(false);
    float radius = objectsRadius(c);
    if (currentCamera->isDefaultCamera()) {
        currentCamera->setFocal(5.0f);
        currentCamera->updateGeometry(c, 10 * radius);
    }
    if (objects.empty())
        for (int i = 0; i < currentCamera->getNViews(); ++i)
            radius = std::max(radius, (currentCamera->getOrigin(i) - c).norm());
    fitZPlanes(c, radius);
}

namespace {

// The turntable's base rotation (world to the camera frame: x right, y down, z forward) of a
// camera looking towards +y from `elevation` radians above the horizon, with z up on the
// screen: pi/2 looks straight down with y up the screen.
Matrix3 lookingNorthFrom(float elevation)
{
    const float s = std::sin(elevation), c = std::cos(elevation);
    return Matrix3(Point3(1, 0, 0), Point3(0, -s, -c), Point3(0, c, -s)).transpose();
}

constexpr float kDegree = 0.017453293f;

} // namespace

GL3DObjectLoader::ModelFrame GLMachine::shownFrame() const
{
    using Frame = GL3DObjectLoader::ModelFrame;
    return upAxis == UpAxis::PlusY ? Frame::YUp : upAxis == UpAxis::PlusZ ? Frame::ZUpObject : startFrame;
}

void GLMachine::orientDefaultCamera(GLCamera &camera) const
{
    using Frame = GL3DObjectLoader::ModelFrame;
    const Frame frame = shownFrame();
    if (frame == Frame::Own)
        camera.setTurntableFrame(Matrix3::Identity);
    else if (frame == Frame::YUp)
        camera.setTurntableFrame(Matrix3::GLCS);
    // A survey's ground is seen from above and a little to the south, so that its relief
    // shows; another z-up model (or z chosen up for every file) from the front, a little above.
    else
        camera.setTurntableFrame(lookingNorthFrom((frame == Frame::ZUpObject ? 20 : 70) * kDegree));
}

void GLMachine::setUpAxis(UpAxis axis)
{
    upAxis = axis;
    if (!currentCamera || !currentCamera->isDefaultCamera() || objects.empty())
        return;
    window->makeCurrent(false);
    orientDefaultCamera(*currentCamera);
    currentCamera->reset();
    updateCameraPosition();
    requestRedraw();
}

void GLMachine::resetCamera()
{
    if (!currentCamera)
        return;
    window->makeCurrent(false);
    currentCamera->reset();
    updateCameraPosition();
    requestRedraw();
}

void GLMachine::fitAll()
{
    if (!currentCamera || objects.empty())
        return;
    const Point3 c = sceneCentre(true);
    const float r = objectsRadius(c);
    if (!(r > 0) || !std::isfinite(r))
        return;
    window->makeCurrent(false);
    // Twice: an orthographic scale is that of the perspective at mid-depth, so it follows
    // the planes the first pass put around the scene.
    for (int pass = 0; pass < 2; ++pass) {
        const float d = currentCamera->frameSphere(c, r);
        if (!(d > 0))
            return;
        currentCamera->setZPlanes(std::max(d - 1.5f * r, 0.01f * d), d + 1.5f * r);
    }
    requestRedraw();
}

void GLMachine::updateCameraZPlanes()
{
    if (!currentCamera)
        return;
    const Point3 c = sceneCentre(true);
    fitZPlanes(c, objectsRadius(c));
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

// --- Captures and input: see SceneCapture and SceneInput ------------------------------------

bool GLMachine::saveFrameBuffer(const char *prefix, int number) { return capture.saveFrameBuffer(prefix, number); }
bool GLMachine::saveFrameBuffer(const char *fileName) { return capture.saveFrameBuffer(fileName); }
bool GLMachine::saveVectorFrame(const char *fileName) { return capture.saveVectorFrame(fileName); }
void GLMachine::setCaptureScale(int scale) { capture.setCaptureScale(scale); }
void GLMachine::getFrameBuffer(unsigned char *buffer) { capture.getFrameBuffer(buffer); }

void GLMachine::notifyClick(const InputEvent &event, int x, int y) { input.notifyClick(event, x, y); }
void GLMachine::notifyDrag(const InputEvent &event, int x, int y) { input.notifyDrag(event, x, y); }

void GLMachine::printSplatPsnr() { SplatComparison::printPsnr(*this); }
void GLMachine::notifyCommand(int key) { input.notifyCommand(key); }
