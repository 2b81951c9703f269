#include "objects/GLSplatObject.h"

#include "core/KeyCodes.h"
#include "core/StartupTiming.h"
#include "formats/ColorMap.h"
#include "formats/SplatFile.h"
#include "math/Messages.h"
#include "ps/PsRaster.h"
#include "render/GLState.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

GL3DObject::DrawMethod method(void (GLSplatObject::*m)()) { return static_cast<GL3DObject::DrawMethod>(m); }

bool sameFrame(const SplatCamera &a, const SplatCamera &b)
{
    return std::equal(a.R, a.R + 9, b.R) && std::equal(a.t, a.t + 3, b.t) && a.fx == b.fx && a.fy == b.fy &&
           a.cx == b.cx && a.cy == b.cy && a.width == b.width && a.height == b.height;
}

const char *centreColourName(GLSplatObject::CentreColour c)
{
    switch (c) {
    case GLSplatObject::CentreColour::OPACITY: return "Opacity";
    case GLSplatObject::CentreColour::LARGEST_SCALE: return "Largest scale";
    case GLSplatObject::CentreColour::OWN: break;
    }
    return "Colour";
}

// The frame mark of VELMORA_TIMING: the whole frame since `started`, the rasteriser's parts,
// and laying the image over the frame since `composing`. A frame that lays the last image over
// again (an expose, another object moved) says so.
void markFrame(std::chrono::steady_clock::time_point started, std::chrono::steady_clock::time_point composing,
               const SplatImage &image, size_t count, const char *kind, double sortMs, double blendMs)
{
    glFinish();
    const auto ms = [](std::chrono::steady_clock::time_point t) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
    };
    char what[200];
    std::snprintf(what, sizeof what, "splat frame %.1f ms, %zu of %zu splats (%s): sort %.1f ms, blend %.1f ms, composite %.1f ms, %d x %d pixels",
                  ms(started), image.drawn, count, kind, sortMs, blendMs, ms(composing), image.width, image.height);
    StartupTiming::mark(what);
}

} // namespace

namespace {

// The scene of `path`; a refusal is reported with its reason before it goes on.
SplatScene readScene(const char *path)
{
    try {
        return SplatFile::read(path);
    } catch (const std::exception &e) {
        msg::error("GLSplatObject: %s: %s\n", path, e.what());
        throw;
    }
}

} // namespace

GLSplatObject::GLSplatObject(const char *p) : GL3DObject(SPLATS), scene(readScene(p)), path(p) { init(); }

GLSplatObject::GLSplatObject(SplatScene s, const std::string &name)
    : GL3DObject(SPLATS), scene(std::move(s)), path(name)
{
    init();
}

GLSplatObject::~GLSplatObject()
{
    lodCancel = true;
    lodWorker.join();
    vertices = nullptr;
    colors = nullptr;
}

void GLSplatObject::init()
{
    selectedVertex = -1;
    degree = scene.shDegree;
    antialiased = scene.antialiased;
    vertices = scene.position.data();
    nVertices = static_cast<int>(std::min<size_t>(scene.count, 0x7fffffff));
    cleaning.reset(scene.count);
    computeBoundingBox();
    resetClippingPlanes();
    setDrawMethod(method(&GLSplatObject::drawSplats));
}

std::string GLSplatObject::getInformation() const
{
    char line[128];
    std::snprintf(line, sizeof line, "%zu splats, spherical harmonics of degree %d\n", scene.count, scene.shDegree);
    return line + GL3DObject::getInformation();
}

void GLSplatObject::setDegree(int d)
{
    degree = std::max(0, std::min(scene.shDegree, d));
    centreColoursStale = true;
}

void GLSplatObject::setScaleFactor(double f) { scaleFactor = std::max(0.1, std::min(2.0, f)); }

void GLSplatObject::setOpacityFloor(double f) { opacityFloor = std::max(0.0, std::min(1.0, f)); }

void GLSplatObject::setShowCentres(bool on) { showCentres = on; }

void GLSplatObject::setCentreColour(CentreColour c)
{
    centreColour = c;
    centreColoursStale = true;
}

void GLSplatObject::colorMapChanged() { centreColoursStale = true; }

bool GLSplatObject::canDrawReduced(const FrameContext &f) const { return scene.count > f.splats.drag; }

const BindingTable &GLSplatObject::bindings()
{
    constexpr unsigned F = KeyBinding::BUSY | KeyBinding::REDRAW;
    static const KeyBinding rows[] = {
        {actionValue(Action::SPLATS), {'1'}, "Splats", "the splats", F},
        {actionValue(Action::CENTRES), {'2'}, "Centres", "the centres as points", F},
        {actionValue(Action::CENTRE_COLOURS), {'3'}, "Colour / data", "the centres' colour, opacity or largest scale", F},
        {actionValue(Action::BIGGER), {'+'}, "+", "splat scale factor up", F},
        {actionValue(Action::SMALLER), {'-'}, "-", "splat scale factor down", F},
        {actionValue(Action::FLOOR_DOWN), {'<', ','}, "<", "opacity floor down", F},
        {actionValue(Action::FLOOR_UP), {'>', '.'}, ">", "opacity floor up", F},
        {actionValue(Action::DEGREE_DOWN), {'['}, "[", "spherical-harmonic degree down", F},
        {actionValue(Action::DEGREE_UP), {']'}, "]", "spherical-harmonic degree up", F},
        {actionValue(Action::ANTIALIASED), {'m'}, "Anti-aliased", "anti-aliased compensation on / off (mip-filtered training)", F},
    };
    static const BindingTable table("splat scene", rows, BindingTable::WITH_COLOR_MAPS, ElementCleaning::bindingRows());
    return table;
}

bool GLSplatObject::runAction(const KeyBinding &row)
{
    switch (static_cast<Action>(row.action)) {
    case Action::SPLATS: setShowCentres(false); break;
    case Action::CENTRES: setShowCentres(true); break;
    case Action::CENTRE_COLOURS:
        setCentreColour(static_cast<CentreColour>((static_cast<int>(centreColour) + 1) % 3));
        msg::note("%s: centres show %s\n", path.c_str(), centreColourName(centreColour));
        break;
    case Action::BIGGER: setScaleFactor(scaleFactor + 0.1); msg::note("\rsplat scale @ %.1f", scaleFactor); break;
    case Action::SMALLER: setScaleFactor(scaleFactor - 0.1); msg::note("\rsplat scale @ %.1f", scaleFactor); break;
    case Action::FLOOR_DOWN: setOpacityFloor(opacityFloor - 0.05); msg::note("\ropacity floor @ %.2f", opacityFloor); break;
    case Action::FLOOR_UP: setOpacityFloor(opacityFloor + 0.05); msg::note("\ropacity floor @ %.2f", opacityFloor); break;
    case Action::DEGREE_DOWN: setDegree(degree - 1); msg::note("\rspherical-harmonic degree %d", degree); break;
    case Action::DEGREE_UP: setDegree(degree + 1); msg::note("\rspherical-harmonic degree %d", degree); break;
    case Action::ANTIALIASED:
        setAntialiased(!antialiased);
        msg::note("%s: anti-aliased compensation %s\n", path.c_str(), antialiased ? "on" : "off");
        break;
    }
    return true;
}

// --- Drawing --------------------------------------------------------------------------------

bool GLSplatObject::currentCamera(SplatCamera &cam, double *depthScale) const
{
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(static_cast<const float *>(pose));
    GLdouble mv[16], pr[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, pr);
    glPopMatrix();
    if (pr[15] != 0 || pr[11] != -1)
        return false;
    cam.width = vp[2];
    cam.height = vp[3];
    // A uniform scale s of the pose: s R X + t and R X + t / s project alike, and the covariance
    // of the splats, carried by the same matrix, scales with it. The rasteriser is handed the
    // rotation, which its view directions need; the depths it finds are then 1 / s of the view's.
    const double det = mv[0] * (mv[5] * mv[10] - mv[9] * mv[6]) - mv[4] * (mv[1] * mv[10] - mv[9] * mv[2]) +
                       mv[8] * (mv[1] * mv[6] - mv[5] * mv[2]);
    double scale = std::cbrt(std::fabs(det));
    if (!(scale > 0) || std::fabs(scale - 1) < 1e-6)
        scale = 1;
    if (depthScale)
        *depthScale = scale;
    // Eye coordinates look down -z with y up; the camera's look down +z with y down.
    const double flip[3] = {1, -1, -1};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            cam.R[3 * r + c] = flip[r] * mv[4 * c + r] / scale;
        cam.t[r] = flip[r] * mv[12 + r] / scale;
    }
    cam.fx = 0.5 * cam.width * pr[0];
    cam.fy = 0.5 * cam.height * pr[5];
    cam.cx = 0.5 * cam.width * (1 - pr[8]);
    cam.cy = 0.5 * cam.height * (1 + pr[9]);
    return cam.width > 0 && cam.height > 0 && cam.fx > 0 && cam.fy > 0;
}

SplatImage GLSplatObject::render(const SplatCamera &camera, bool reduced, size_t dragBudget) const
{
    SplatRasterOptions options;
    options.shDegree = degree;
    options.scaleFactor = scaleFactor;
    options.opacityFloor = opacityFloor;
    options.antialiased = antialiased;
    if (!reduced || scene.count <= dragBudget) {
        options.subset = const_cast<GLSplatObject *>(this)->shownSplats();
        return SplatRaster::render(scene, camera, options);
    }
    // Half the pixels each way, each drawn twice as large.
    SplatCamera coarse = camera;
    coarse.width = (camera.width + DRAG_PIXEL_STEP - 1) / DRAG_PIXEL_STEP;
    coarse.height = (camera.height + DRAG_PIXEL_STEP - 1) / DRAG_PIXEL_STEP;
    coarse.fx /= DRAG_PIXEL_STEP;
    coarse.fy /= DRAG_PIXEL_STEP;
    coarse.cx /= DRAG_PIXEL_STEP;
    coarse.cy /= DRAG_PIXEL_STEP;
    auto *self = const_cast<GLSplatObject *>(this);
    if (const SplatLod *levels = self->levelOfDetail()) {
        options.subset = &self->standIn(dragBudget);
        return SplatRaster::render(levels->merged(), coarse, options);
    }
    options.subset = &self->evenSample(dragBudget);
    return SplatRaster::render(scene, coarse, options);
}

namespace {

// Camera depth to window depth under the current projection and depth range: eye z is -z,
// then the projection's z row. `depthScale` turns the rasteriser's depths into the view's.
class WindowDepth {
public:
    explicit WindowDepth(double depthScale) : scale(depthScale)
    {
        glGetDoublev(GL_PROJECTION_MATRIX, pr);
        glGetDoublev(GL_DEPTH_RANGE, range);
    }
    float operator()(double rasterDepth) const
    {
        const double z = rasterDepth * scale;
        const double ndc = (-pr[10] * z + pr[14]) / z;
        return static_cast<float>(std::min(1.0, std::max(0.0, range[0] + (range[1] - range[0]) * 0.5 * (ndc + 1))));
    }

private:
    double scale;
    GLdouble pr[16], range[2];
};

// For a vector capture: the pixels where the splats turn mostly opaque, in the splats' own
// colour, as an image of the document at the viewport's corner (x, y).
PsRaster vectorRaster(const SplatImage &image, GLint x, GLint y, const WindowDepth &windowDepth)
{
    PsRaster raster;
    raster.x = x;
    raster.y = y;
    raster.width = image.width;
    raster.height = image.height;
    const size_t n = image.transmittance.size();
    raster.rgb.resize(3 * n);
    raster.depth.resize(n);
    for (size_t p = 0; p < n; ++p) {
        const bool kept = std::isfinite(image.depth[p]);
        raster.depth[p] = kept ? windowDepth(image.depth[p]) : 2.f;
        const float cover = 1 - image.transmittance[p];
        for (size_t ch = 0; ch < 3; ++ch)
            raster.rgb[3 * p + ch] = static_cast<unsigned char>(
                std::lround(255 * std::min(1.f, kept ? image.colour[3 * p + ch] / cover : 0.f)));
    }
    return raster;
}

// Lays `image` (each of its pixels covering step x step of the frame) over the frame's w x h
// pixels and depths, read back from OpenGL (rows from the bottom), by the same sum as
// SplatImage::composite8, so that a capture shows exactly the rasteriser's pixels over the
// background; where the frame already holds something nearer than the splats' own depth, the
// frame stays.
void layOver(const SplatImage &image, size_t w, size_t h, size_t step, const WindowDepth &windowDepth,
             std::vector<unsigned char> &pixels, std::vector<float> &depths)
{
    for (size_t y = 0; y < h; ++y) {
        unsigned char *row = &pixels[3 * w * (h - 1 - y)]; // OpenGL's rows start at the bottom
        float *depthRow = &depths[w * (h - 1 - y)];
        for (size_t x = 0; x < w; ++x) {
            const size_t p = (y / step) * static_cast<size_t>(image.width) + x / step;
            const float T = image.transmittance[p];
            // Where the splats never turn mostly opaque they tint whatever the frame holds.
            float splatDepth = depthRow[x];
            if (std::isfinite(image.depth[p]))
                splatDepth = windowDepth(image.depth[p]);
            if (depthRow[x] < splatDepth && depthRow[x] < 1)
                continue; // something nearer was drawn before (never the cleared background)
            depthRow[x] = splatDepth;
            for (size_t ch = 0; ch < 3; ++ch) {
                const float v = std::min(1.f, std::max(0.f, image.colour[3 * p + ch] + T * (row[3 * x + ch] / 255.f)));
                row[3 * x + ch] = static_cast<unsigned char>(std::lround(v * 255.f));
            }
        }
    }
}

// Writes the composed pixels, and the depths when there is a depth buffer, back over the
// viewport at (x, y), with nothing of the scene's state (lighting, tests, clip planes) in
// the way. The caller has saved the enable, colour, depth and pixel-mode state.
void writeBack(GLint x, GLint y, GLsizei w, GLsizei h, bool withDepth, const std::vector<unsigned char> &pixels,
               const std::vector<float> &depths)
{
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_FOG);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_STENCIL_TEST);
    for (int k = 0; k < 6; ++k)
        glDisable(GL_CLIP_PLANE0 + k);
    glPixelZoom(1, 1);
    glWindowPos2i(x, y);
    glDisable(GL_DEPTH_TEST);
    glDrawPixels(w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    // The depth buffer is written only through the depth test, made to pass everywhere.
    if (withDepth) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_ALWAYS);
        glDepthMask(GL_TRUE);
        glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
        glWindowPos2i(x, y);
        glDrawPixels(w, h, GL_DEPTH_COMPONENT, GL_FLOAT, depths.data());
    }
}

} // namespace

void GLSplatObject::drawSplats()
{
    const auto started = std::chrono::steady_clock::now();
    SplatCamera cam;
    double depthScale = 1;
    if (showCentres || scene.count == 0 || !currentCamera(cam, &depthScale)) {
        drawCentres();
        return;
    }
    const Frame now{cam, degree, scaleFactor, opacityFloor, reducedDrawing, antialiased};
    double sortMs = 0, blendMs = 0;
    const bool again = haveFrame && sameFrame(now.camera, lastFrame.camera) && now.degree == lastFrame.degree &&
                       now.scaleFactor == lastFrame.scaleFactor && now.opacityFloor == lastFrame.opacityFloor &&
                       now.reduced == lastFrame.reduced && now.antialiased == lastFrame.antialiased;
    if (!again) {
        image = reducedDrawing || frame().capture() ? render(cam, reducedDrawing, frame().splats.drag) : renderStill(cam);
        sortMs = image.sortMs;
        blendMs = image.blendMs;
        lastFrame = now;
        haveFrame = true;
    }
    const auto composing = std::chrono::steady_clock::now();
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    const WindowDepth windowDepth(depthScale);
    if (frame().vectorExport() && frame().rasters) {
        frame().rasters->push_back(vectorRaster(image, vp[0], vp[1], windowDepth));
        return;
    }
    // The frame is read back, the splats laid over it, and both written back. The splats'
    // depth goes to the depth buffer, so that what is drawn after them is hidden behind them.
    const size_t w = static_cast<size_t>(cam.width), h = static_cast<size_t>(cam.height);
    const size_t step = static_cast<size_t>(image.width) < w ? DRAG_PIXEL_STEP : 1;
    pixels.resize(3 * w * h);
    depths.resize(w * h);
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_PIXEL_MODE_BIT);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glReadPixels(vp[0], vp[1], cam.width, cam.height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    if (depthBits > 0)
        glReadPixels(vp[0], vp[1], cam.width, cam.height, GL_DEPTH_COMPONENT, GL_FLOAT, depths.data());
    else
        std::fill(depths.begin(), depths.end(), 1.f);
    layOver(image, w, h, step, windowDepth, pixels, depths);
    writeBack(vp[0], vp[1], cam.width, cam.height, depthBits > 0, pixels, depths);
    glPopClientAttrib();
    glPopAttrib();
    if (StartupTiming::enabled())
        markFrame(started, composing, image, scene.count,
                  reducedDrawing ? (again ? "drag again" : "drag") : (again ? "still again" : "still"), sortMs, blendMs);
    // Once the first picture is on the screen, the levels of detail are built meanwhile.
    if (!frame().capture() && scene.count > frame().splats.drag)
        levelOfDetail();
}

void GLSplatObject::prepareCentreColours()
{
    if (!centreColoursStale && centreColours.size() == 3 * scene.count)
        return;
    centreColours.resize(3 * scene.count);
    legend.clear();
    if (centreColour == CentreColour::OWN) {
        for (size_t i = 0; i < 3 * scene.count; ++i)
            centreColours[i] = static_cast<unsigned char>(
                std::lround(255 * std::max(0.0, std::min(1.0, 0.28209479177387814 * scene.dc[i] + 0.5))));
    } else {
        std::vector<float> v(scene.count);
        for (size_t i = 0; i < scene.count; ++i) {
            const float *s = &scene.scale[3 * i];
            v[i] = centreColour == CentreColour::OPACITY ? scene.opacity[i] : std::max(s[0], std::max(s[1], s[2]));
        }
        float lo = 0, hi = 1;
        if (!v.empty()) {
            const auto mm = std::minmax_element(v.begin(), v.end());
            lo = *mm.first;
            hi = *mm.second;
        }
        const ColorMap::ColorFunction f = ColorMap::selectColorMap(colorMapIndex);
        for (size_t i = 0; i < scene.count; ++i)
            f(&centreColours[3 * i], v[i], lo, hi);
        legend.clearData();
        legend.add(f, lo, hi, lo, hi, 15, 2);
        legend.setTitle(centreColourName(centreColour));
    }
    centreColoursStale = false;
}

void GLSplatObject::drawCentres()
{
    if (scene.count == 0)
        return;
    prepareCentreColours();
    pushPoseAndArrays(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POINT_BIT, pose);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glPointSize(1);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, scene.position.data());
    glColorPointer(3, GL_UNSIGNED_BYTE, 0, centreColours.data());
    if (const std::vector<uint32_t> *drawn = shownSplats())
        glDrawElements(GL_POINTS, static_cast<GLsizei>(drawn->size()), GL_UNSIGNED_INT, drawn->data());
    else
        glDrawArrays(GL_POINTS, 0, nVertices);
    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
}

void GLSplatObject::defaultDrawing() { drawCentres(); }

void GLSplatObject::drawInfo()
{
    cleaning.drawDragShape();
    if (showCentres && centreColour != CentreColour::OWN)
        legend.draw(10, 10);
}
