// The camera's photographs and silhouettes: finding the files of a sequence, loading them as
// textures, and drawing them, the turntable lines and the epipolar tangents over the scene.
#include "camera/GLCameraOverlay.h"
#include "render/GLFont.h"
#include "render/GLState.h"

#include "camera/GLView.h"
#include "camera/PhotographLoader.h"
#include "core/GLObject.h"
#include "core/StartupTiming.h"
#include "formats/SequenceFiles.h"
#include "formats/Sil.h"
#include "camera/ViewGeometry.h"
#include "image/Bitmap.h"
#include "math/Messages.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <memory>

namespace {

// The texture of texels already laid out as PhotographLoader::texelsOf lays them.
std::unique_ptr<textureData> uploadTexture(const unsigned char *texels, int width, int height, int texW, int texH,
                                           int components, int s)
{
    auto t = std::make_unique<textureData>(textureData{width, height, texW, texH, s, 0, 0});
    glPushAttrib(GL_TEXTURE_BIT);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    const GLenum format = components == 3 ? GL_RGB : GL_LUMINANCE;
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), texW, texH, 0, format, GL_UNSIGNED_BYTE, texels);
    glPopClientAttrib();
    glPopAttrib();
    t->textureId = name;
    return t;
}

// The texture of a width x height image of `components` bytes a pixel, sub-sampled by s into
// the top-left corner of a power-of-two texture.
std::unique_ptr<textureData> makeTexture(const unsigned char *pixels, int width, int height, int components,
                                         int s)
{
    int texW = 0, texH = 0;
    const std::vector<unsigned char> texels = PhotographLoader::texelsOf(pixels, width, height, components, s, texW, texH);
    return uploadTexture(texels.data(), width, height, texW, texH, components, s);
}

// Bytes a texture of a photograph takes.
size_t textureBytes(const textureData &t) { return static_cast<size_t>(t.texWidth) * t.texHeight * 3; }

void deleteTexture(std::unique_ptr<textureData> &t)
{
    if (!t)
        return;
    GLuint name = t->textureId;
    if (name)
        glDeleteTextures(1, &name);
    t.reset();
}

// The shared state of the photograph drawings: opaque photographs modulate a white colour;
// transparent ones are blended at half opacity (the environment colour gives the texels, the
// fragment colour the alpha).
void setImageEnvironment(bool transparent, float opacity)
{
    static const float white[4] = {1, 1, 1, 0.5f};
    glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, white);
    if (transparent) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_BLEND);
        glColor4f(0, 0, 0, opacity);
    } else {
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        glColor4f(1, 1, 1, 1);
    }
}

// A grey silhouette is drawn through the blend environment: black background, white object.
void setSilhouetteEnvironment(bool transparent, float opacity)
{
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_BLEND);
    glColor4f(0, 0, 0, transparent ? opacity : 1.0f);
}

void blackLines()
{
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_LINE_SMOOTH);
    glLineWidth(2);
    glColor3f(0, 0, 0);
}

Point2 dehomogenise(const Point3 &p)
{
    return Point2(p.x / p.z, p.y / p.z);
}

} // namespace

// The camera releases the OpenGL textures (releaseTextures()) where its context is current;
// only the records go here.
GLCameraOverlay::~GLCameraOverlay() = default;

void GLCameraOverlay::resize(int n)
{
    textures.resize(n);
    lastUsed.assign(static_cast<size_t>(n), 0);
    imageFailed.assign(n, 0);
    readAhead.assign(static_cast<size_t>(n), 0);
    silhouetteFailed.assign(n, 0);
}

int GLCameraOverlay::wrap(int i) const
{
    const int n = views.getNViews();
    const int k = i % n;
    return k < 0 ? k + n : k;
}


// --- Finding the files --------------------------------------------------------------------

void GLCameraOverlay::searchImagePaths(const char *directory, const std::string &images,
                                       const std::string &wanted, const std::string &silhouettes)
{
    imagePath = images;
    if (!wanted.empty())
        imageExtension = wanted;
    silhouettePath = silhouettes;
    const std::string dir = directory ? directory : ".";
    // -p names a folder and a file-name prefix; without it the photographs are in "seq/".
    const auto find = [&](const std::string &given, const char *folder, const std::string &extension) {
        if (!given.empty())
            return sequence::findSequence(sequence::directoryPart(given) + "/", sequence::lastPart(given), extension);
        return sequence::findSequence(dir + "/" + folder + "/", "", extension);
    };
    const sequence::SequencePath photographs = find(imagePath, "seq", wanted);
    imagePath = photographs.base;
    if (photographs.found())
        imageExtension = photographs.extension;
    const sequence::SequencePath masks = find(silhouettePath, "sil", "");
    silhouettePath = masks.base;
    if (masks.found())
        silhouetteExtension = masks.extension;
}

std::string GLCameraOverlay::getPhotographFile(int i) const
{
    if (views.getNViews() <= 0)
        return std::string();
    const int k = wrap(i);
    if (!photographFiles.empty())
        return photographFiles[static_cast<size_t>(k)];
    return imagePath.empty() ? std::string() : sequence::viewFileName(imagePath, k, imageExtension);
}

std::string GLCameraOverlay::getSilhouetteFile(int i) const
{
    if (views.getNViews() <= 0 || silhouettePath.empty())
        return std::string();
    return sequence::viewFileName(silhouettePath, wrap(i), silhouetteExtension);
}

// --- Textures -----------------------------------------------------------------------------

int GLCameraOverlay::getMaxTextureSize() const
{
    GLint m = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &m);
    if (m <= 0)
        m = 1024;
    if (maxTextureSizeLimit > 0)
        m = std::min<GLint>(m, maxTextureSizeLimit);
    return m;
}

int GLCameraOverlay::computeSubSampling(int width, int height) const
{
    const int m = getMaxTextureSize();
    const int s = PhotographLoader::subSamplingFor(width, height, m);
    if (s > 1)
        msg::note("GLCamera: subSampling:%d,GL_MAX_TEXTURE_SIZE:%d\n", s, m);
    return s;
}

PhotographLoader::Request GLCameraOverlay::requestOf(int k) const
{
    PhotographLoader::Request r;
    r.view = k;
    r.file = getPhotographFile(k);
    r.lens = views.getDistortion(k);
    r.intrinsics = views.getIntrinsics(k);
    r.maxTextureSize = getMaxTextureSize();
    return r;
}

std::unique_ptr<textureData> GLCameraOverlay::loadImage(int i)
{
    const int k = wrap(i);
    if (getPhotographFile(k).empty())
        return nullptr;
    return upload(loader.decode(requestOf(k)));
}

std::unique_ptr<textureData> GLCameraOverlay::upload(const PhotographLoader::Decoded &d)
{
    if (d.failed) {
        if (d.view < static_cast<int>(imageFailed.size()) && !imageFailed[d.view]) {
            msg::error("GLCamera: error reading %s\n", d.file.c_str());
            imageFailed[d.view] = 1;
        }
        return nullptr;
    }
    // A photograph read ahead is said to be sub-sampled when its view is shown.
    if (d.subSampling > 1 && !readAhead[static_cast<size_t>(d.view)])
        msg::note("GLCamera: subSampling:%d,GL_MAX_TEXTURE_SIZE:%d\n", d.subSampling, getMaxTextureSize());
    return uploadTexture(d.texels.data(), d.width, d.height, d.texWidth, d.texHeight, 3, d.subSampling);
}

std::unique_ptr<textureData> GLCameraOverlay::loadSilhouette(int i)
{
    if (silhouettePath.empty())
        return nullptr;
    const int k = wrap(i);
    const std::string name = getSilhouetteFile(k);
    std::unique_ptr<unsigned char[]> grey;
    int w = 0, h = 0;
    try {
        grey = sequence::loadSilhouetteGrey(name, silhouetteExtension, w, h);
    } catch (const std::exception &) {
        grey.reset();
    }
    if (!grey || w < 1 || h < 1) {
        if (k < static_cast<int>(silhouetteFailed.size()) && !silhouetteFailed[k]) {
            msg::error("GLCamera: error reading %s\n", name.c_str());
            silhouetteFailed[k] = 1;
        }
        return nullptr;
    }
    return makeTexture(grey.get(), w, h, 1, computeSubSampling(w, h));
}

const textureData *GLCameraOverlay::getTexture(int i) const
{
    return textures.empty() ? nullptr : textures[wrap(i)].get();
}

bool GLCameraOverlay::loadSilhouetteVector(int i, int part, std::vector<Point2> &points) const
{
    points.clear();
    if (silhouettePath.empty())
        return false;
    return sequence::readContour(silhouettePath, wrap(i), part, points);
}

int GLCameraOverlay::displayList(int i)
{
    if (!listBase) {
        listBase = static_cast<int>(glGenLists(views.getNViews() + 1));
        if (!listBase)
            return 0;
    }
    return listBase + i;
}

void GLCameraOverlay::requestTextures()
{
    texturesPending = true;
}

void GLCameraOverlay::updateTextures()
{
    if (listsStale) {
        listsStale = false;
        for (int k = 0; k < static_cast<int>(textures.size()); ++k)
            if (textures[k])
                createDisplayList(k, textures[k].get());
        if (silhouetteView >= 0) {
            if (silhouetteIsContour)
                createProfileDisplayList(silhouetteView);
            else if (silhouetteTexture)
                createDisplayList(silhouetteView, silhouetteTexture.get());
        }
    }
    takeDecoded();
    const CameraShown shown = camera.shown();
    // A capture shows the photograph it asks for, whatever the worker has done so far.
    const int k = views.getNViews() > 0 ? wrap(shown.view) : 0;
    const bool missing = waitForPhotographs && shown.images && !textures.empty() && !textures[k] && !imageFailed[k];
    if (!texturesPending && !missing)
        return;
    texturesPending = false;
    if (shown.images)
        createCameraTexture(shown.view);
    if (shown.silhouettes)
        createSilhouetteTexture(shown.view);
}

void GLCameraOverlay::createCameraTexture(int i)
{
    const int k = wrap(i);
    lastUsed[static_cast<size_t>(k)] = ++useClock;
    if (readAhead[static_cast<size_t>(k)] && textures[k] && textures[k]->subSampling > 1)
        msg::note("GLCamera: subSampling:%d,GL_MAX_TEXTURE_SIZE:%d\n", textures[k]->subSampling, getMaxTextureSize());
    readAhead[static_cast<size_t>(k)] = 0;
    shownMarked = false;
    if (!background || waitForPhotographs) {
        if (!textures[k] && !imageFailed[k])
            install(k, loadImage(k));
        return;
    }
    // In the background: the frame goes on without the photograph, and the window draws again
    // once the worker has it. The views either side are read ahead, asked for first: the
    // worker takes the newest request first, the view's own.
    for (const int next : {wrap(k - 1), wrap(k + 1)})
        if (next != k && !textures[next] && !imageFailed[next] && !getPhotographFile(next).empty() &&
            !loader.isPending(next)) {
            readAhead[static_cast<size_t>(next)] = 1;
            loader.request(requestOf(next));
        }
    if (textures[k] || imageFailed[k] || getPhotographFile(k).empty())
        return;
    if (!loader.isPending(k))
        loader.request(requestOf(k));
    const auto finished = loader.finishedFlag();
    camera.redisplayWhen([finished] { return finished->load(); });
}

void GLCameraOverlay::install(int k, std::unique_ptr<textureData> texture)
{
    if (!texture)
        return;
    textures[k] = std::move(texture);
    loadedBytes += textureBytes(*textures[k]);
    textures[k]->displayList = displayList(k);
    createDisplayList(k, textures[k].get());
    // One read ahead that does not fit beside the current view's goes again at once.
    evict(readAhead[static_cast<size_t>(k)] ? -1 : k);
    if (StartupTiming::enabled()) {
        char what[64];
        std::snprintf(what, sizeof what, "photograph of view %d in", k);
        StartupTiming::mark(what);
    }
}

void GLCameraOverlay::takeDecoded()
{
    for (const PhotographLoader::Decoded &d : loader.take())
        if (d.view >= 0 && d.view < static_cast<int>(textures.size()) && !textures[d.view]) {
            // A photograph read ahead that could not be read is said when its view is shown.
            if (d.failed && readAhead[static_cast<size_t>(d.view)])
                continue;
            lastUsed[static_cast<size_t>(d.view)] = ++useClock;
            install(d.view, upload(d));
        }
}

void GLCameraOverlay::evict(int keep)
{
    // The photographs used longest ago go first; the one just shown stays whatever its size,
    // and so does the current view's.
    const int current = textures.empty() ? -1 : wrap(camera.shown().view);
    while (loadedBytes > photographBudget) {
        int oldest = -1;
        for (int k = 0; k < static_cast<int>(textures.size()); ++k)
            if (textures[k] && k != keep && k != current && (oldest < 0 || lastUsed[static_cast<size_t>(k)] < lastUsed[static_cast<size_t>(oldest)]))
                oldest = k;
        if (oldest < 0)
            return;
        loadedBytes -= textureBytes(*textures[oldest]);
        deleteTexture(textures[oldest]);
    }
}

size_t GLCameraOverlay::getLoadedPhotographCount() const
{
    return static_cast<size_t>(std::count_if(textures.begin(), textures.end(), [](const auto &t) { return t != nullptr; }));
}

void GLCameraOverlay::createSilhouetteTexture(int i)
{
    const int k = wrap(i);
    deleteTexture(silhouetteTexture);
    silhouetteIsContour = false;
    silhouetteView = k;
    if (silhouetteExtension == "txt") {
        createProfileDisplayList(k);
        return;
    }
    silhouetteTexture = loadSilhouette(k);
    if (silhouetteTexture) {
        silhouetteTexture->displayList = displayList(views.getNViews());
        createDisplayList(k, silhouetteTexture.get());
    }
}

float GLCameraOverlay::getImageDepth() const
{
    const CameraShown shown = camera.shown();
    const float h = std::tan(shown.photographAngle / 2);
    return h / (h + views.getWidth() / (2 * views.getFocalX())) * shown.worldScale * 0.97f;
}

void GLCameraOverlay::createDisplayList(int i, const textureData *texture)
{
    if (!texture || !texture->displayList)
        return;
    const int k = wrap(i);
    const float d = getImageDepth();
    const Matrix3 back = views.getRotation(k).inverse();
    const Point3 centre = views.getOrigin(k);
    const GLView::Intrinsics in = views.getIntrinsics(k);
    // An image point at depth d in front of camera k, in world coordinates.
    const auto place = [&](float u, float v) {
        return centre + back * (Point3((u - in.cx) / in.fx, (v - in.cy) / in.fy, 1) * d);
    };
    const float w = static_cast<float>(texture->width), h = static_cast<float>(texture->height);
    const Point3 corners[4] = {place(0, 0), place(w, 0), place(w, h), place(0, h)};
    // The frame goes round the picture, two window pixels out (at the view, where the
    // picture fills the window as it fills the photograph), so that it covers none of it.
    const CameraShown shown = camera.shown();
    const float out = 2 * std::max(shown.windowWidth > 0 ? w / static_cast<float>(shown.windowWidth) : 0.01f * w,
                                   shown.windowHeight > 0 ? h / static_cast<float>(shown.windowHeight) : 0.01f * h);
    const Point3 frame[4] = {place(-out, -out), place(w + out, -out), place(w + out, h + out), place(-out, h + out)};
    const float tu = static_cast<float>(texture->width / texture->subSampling) / texture->texWidth;
    const float tv = static_cast<float>(texture->height / texture->subSampling) / texture->texHeight;
    const float coords[4][2] = {{0, 0}, {tu, 0}, {tu, tv}, {0, tv}};

    glNewList(static_cast<GLuint>(texture->displayList), GL_COMPILE);
    glPushAttrib(GL_ENABLE_BIT | GL_POLYGON_BIT | GL_LIGHTING_BIT | GL_LINE_BIT | GL_TEXTURE_BIT |
                 GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT);
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glShadeModel(GL_FLAT);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glBindTexture(GL_TEXTURE_2D, texture->textureId);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBegin(GL_QUADS);
    for (int c = 0; c < 4; ++c) {
        glTexCoord2f(coords[c][0], coords[c][1]);
        glVertex3f(corners[c].x, corners[c].y, corners[c].z);
    }
    glEnd();
    // The frame, drawn as the outline of a quad round it pulled towards the viewer so that it
    // stays in front of the model.
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_LINE_SMOOTH);
    glLineWidth(2);
    glEnable(GL_POLYGON_OFFSET_LINE);
    glPolygonOffset(-1, -2);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glColor4f(0, 0, 0, 0.5f);
    glBegin(GL_QUADS);
    for (const Point3 &c : frame)
        glVertex3f(c.x, c.y, c.z);
    glEnd();
    glPopAttrib();
    glEndList();
}

void GLCameraOverlay::createProfileDisplayList(int i)
{
    const int k = wrap(i);
    const int list = displayList(views.getNViews());
    if (!list)
        return;
    std::vector<Point2> points;
    loadSilhouetteVector(k, 0, points);
    const float d = getImageDepth() * 0.999f;
    const Matrix3 back = views.getRotation(k).inverse();
    const Point3 centre = views.getOrigin(k);
    const float fx = views.getFocalX(), fy = views.getFocalY();
    const float cx = views.getCenterX(), cy = views.getCenterY();
    glNewList(static_cast<GLuint>(list), GL_COMPILE);
    glPushAttrib(GL_ENABLE_BIT | GL_LINE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDepthMask(GL_FALSE);
    blackLines();
    glBegin(GL_LINE_LOOP);
    for (const Point2 &p : points) {
        const Point3 w = centre + back * (Point3((p.x - cx) / fx, (p.y - cy) / fy, 1) * d);
        glVertex3f(w.x, w.y, w.z);
    }
    glEnd();
    glPopAttrib();
    glEndList();
    silhouetteIsContour = true;
}

void GLCameraOverlay::requestDisplayLists()
{
    listsStale = true;
}

void GLCameraOverlay::releaseTextures()
{
    for (auto &texture : textures)
        deleteTexture(texture);
    loadedBytes = 0;
    deleteTexture(silhouetteTexture);
    if (listBase)
        glDeleteLists(static_cast<GLuint>(listBase), views.getNViews() + 1);
    listBase = 0;
    silhouetteView = -1;
    silhouetteIsContour = false;
}

// --- Drawing --------------------------------------------------------------------------------

void GLCameraOverlay::drawTextures()
{
    updateTextures();
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_DEPTH_BUFFER_BIT);
    // The silhouette lies at the same depth as the current photograph.
    GLint func = GL_LESS;
    glGetIntegerv(GL_DEPTH_FUNC, &func);
    if (func == GL_LESS)
        glDepthFunc(GL_LEQUAL);
    const CameraShown shown = camera.shown();
    // The photographs of the views shown so far; those only read ahead wait for theirs.
    if (shown.images)
        for (size_t k = 0; k < textures.size(); ++k)
            if (textures[k] && !readAhead[k]) {
                setImageEnvironment(shown.transparency, shown.opacity);
                glCallList(static_cast<GLuint>(textures[k]->displayList));
            }
    if (shown.images && !shownMarked && getTexture(shown.view) && StartupTiming::enabled()) {
        shownMarked = true;
        char what[64];
        std::snprintf(what, sizeof what, "photograph of view %d shown", wrap(shown.view));
        StartupTiming::mark(what);
    }
    if (shown.silhouettes && silhouetteView >= 0 && listBase) {
        setImageEnvironment(shown.transparency, shown.opacity);
        setSilhouetteEnvironment(shown.transparency, shown.opacity);
        if (silhouetteIsContour || silhouetteTexture)
            glCallList(static_cast<GLuint>(listBase + views.getNViews()));
    }
    glPopAttrib();
}

Matrix3 GLCameraOverlay::imageToWindow(const Matrix4 &p) const
{
    Matrix3 v = Matrix3::Zero;
    const CameraShown shown = camera.shown();
    const int *viewport = shown.viewport;
    const int halfW = viewport[2] / 2, halfH = viewport[3] / 2;
    v(0, 0) = static_cast<float>(halfW);
    v(1, 1) = static_cast<float>(halfH);
    v(0, 2) = static_cast<float>(halfW + viewport[0]);
    v(1, 2) = static_cast<float>(halfH + viewport[1]);
    v(2, 2) = 1;
    Matrix3 q = p.getSubMatrix();
    q(0, 2) = -q(0, 2);
    q(2, 2) = 1;
    return v * q * views.getKMatrix().inverse();
}

Point3 GLCameraOverlay::projectToWindow(const Point3 &x) const
{
    const Point3 h = imageToWindow(camera.shown().finalProjection) * (views.getKMatrix() * x);
    return Point3(h.x / h.z, h.y / h.z, x.z);
}

void GLCameraOverlay::draw2DTexture()
{
    updateTextures();
    const CameraShown now = camera.shown();
    const textureData *shown = now.silhouettes ? silhouetteTexture.get() : getTexture(now.view);
    if (!shown || (now.silhouettes && silhouetteIsContour))
        return;
    const Matrix3 hm = imageToWindow(now.calibratedProjection);
    const float w = static_cast<float>(shown->width), h = static_cast<float>(shown->height);
    const float tu = static_cast<float>(shown->width / shown->subSampling) / shown->texWidth;
    const float tv = static_cast<float>(shown->height / shown->subSampling) / shown->texHeight;
    const Point2 corners[4] = {Point2(0, 0), Point2(w, 0), Point2(w, h), Point2(0, h)};
    const float coords[4][2] = {{0, 0}, {tu, 0}, {tu, tv}, {0, tv}};
    WindowOverlay overlay(now.windowWidth, now.windowHeight);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, shown->textureId);
    setImageEnvironment(now.transparency, now.opacity);
    if (now.silhouettes)
        setSilhouetteEnvironment(now.transparency, now.opacity);
    glBegin(GL_QUADS);
    for (int c = 0; c < 4; ++c) {
        const Point2 p = dehomogenise(hm * corners[c]);
        glTexCoord2f(coords[c][0], coords[c][1]);
        glVertex2f(p.x, p.y);
    }
    glEnd();
}

void GLCameraOverlay::drawEpipolarTangencies()
{
    const CameraShown shown = camera.shown();
    const int n = views.getNViews(), current = shown.view;
    const Matrix3 toWindow = imageToWindow(shown.finalProjection);
    const Matrix3 k = views.getKMatrix();
    const Matrix3 &r = views.getRotation(current);
    const Point3 &tr = views.getTranslation(current);
    WindowOverlay overlay(shown.windowWidth, shown.windowHeight);
    blackLines();
    // The epipoles: where the other cameras' centres fall in the current view.
    glColor3f(1, 0, 0);
    glEnable(GL_POINT_SMOOTH);
    glPointSize(8);
    std::vector<Point2> epipoles(static_cast<size_t>(n));
    // The numbers go with their dots, in red.
    const Point4 textColour = GLFont::getFgColor();
    GLFont::setFgColor(Point4(1, 0, 0, 1));
    for (int j = 0; j < n; ++j) {
        if (j == current)
            continue;
        const Point3 x = r * views.getOrigin(j) + tr;
        epipoles[j] = dehomogenise(k * x);
        const Point2 w = dehomogenise(toWindow * epipoles[j]);
        glBegin(GL_POINTS);
        glVertex2f(w.x, w.y);
        glEnd();
        char label[16];
        snprintf(label, sizeof label, "%d", j);
        GLObject::GLfprint(label, static_cast<int>(w.x) - 4, static_cast<int>(w.y) - 5);
    }
    GLFont::setFgColor(textColour);
    std::vector<Point2> contour;
    if (!loadSilhouetteVector(current, 0, contour) || contour.empty())
        return;
    glColor3f(1, 0, 0);
    glBegin(GL_LINES);
    for (int j = 0; j < n; ++j) {
        if (j == current)
            continue;
        const TangentPair pair = computeOuterET(contour.data(), static_cast<int>(contour.size()), epipoles[j]);
        const Point2 from = dehomogenise(toWindow * epipoles[j]);
        for (const int index : {pair.first, pair.second}) {
            if (index < 0)
                continue;
            const Point2 to = dehomogenise(toWindow * contour[index]);
            glVertex2f(from.x, from.y);
            glVertex2f(to.x, to.y);
        }
    }
    glEnd();
}

void GLCameraOverlay::drawCircularMotion()
{
    const CameraShown shown = camera.shown();
    const Matrix3 toWindow = imageToWindow(shown.finalProjection) * views.getKMatrix();
    const Matrix3 lines = toWindow.inverse().transpose();
    const Point3 axis = views.getRotationAxis();
    const Point3 n = shown.turntableOffset.cross(axis);
    const float length = n.norm();
    const int w = shown.windowWidth, h = shown.windowHeight;
    WindowOverlay overlay(w, h);
    blackLines();
    glBegin(GL_LINES);
    for (const Point3 &plane : {length > 0 ? n / length : n, axis}) {
        Point2 ends[2];
        if (line(lines * plane, Point2(0, float(w)), Point2(0, float(h)), ends) == 2) {
            glVertex2f(ends[0].x, ends[0].y);
            glVertex2f(ends[1].x, ends[1].y);
        }
    }
    glEnd();
}
