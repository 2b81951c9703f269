#include "objects/GL3DObject.h"

#include "objects/ElementCleaning.h"
#include "formats/ColorMap.h"
#include "formats/PointBounds.h"
#include "math/Messages.h"
#include "render/GLState.h"

#include "synthesis/Synthese.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

Matrix4 translation(const Point3 &t)
{
    Matrix4 m = Matrix4::Identity;
    m.setSubVector(t);
    return m;
}

Matrix4 currentModelView()
{
    // Without a context the query leaves the array untouched, so start from the identity.
    Matrix4 m = Matrix4::Identity;
    glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(m));
    return m;
}

} // namespace

GL3DObject::GL3DObject(short t)
    : GLObject(t), dragStartPose(Matrix4::Identity), pose(Matrix4::Identity), shadowMatrix(Matrix4::Identity),
      selectedVertex(0), vertices(nullptr), colors(nullptr), nVertices(0), bbMin(-kInf, -kInf, -kInf),
      bbMax(kInf, kInf, kInf), center(0, 0, 0), showBoundingBox(false), showAxes(false),
      drawMethod(&GL3DObject::notImplementedBanner), reducedDrawing(false), inDepthPass(false)
{
    for (int i = 0; i < 6; ++i) {
        clipEnabled[i] = 0;
        for (int k = 0; k < 4; ++k)
            clipPlanes[i][k] = 0;
    }
    Synthese::init(10);
}

GL3DObject::~GL3DObject() = default;

void GL3DObject::resetPosition()
{
    pose = Matrix4::Identity;
    dragStartPose = Matrix4::Identity;
}

void GL3DObject::backupPosition() { dragStartPose = pose; }

void GL3DObject::setRotation(float ax, float ay)
{
    const Matrix4 m = currentModelView() * dragStartPose;
    // Rows 0 and 1 of the model-view are the screen's axes in object coordinates.
    const Point3 axisY(m(1, 0), m(1, 1), m(1, 2));
    const Point3 axisX(m(0, 0), m(0, 1), m(0, 2));
    const Matrix4 r1(axisY, ax);
    const Matrix4 r2(axisX, ay);
    pose = dragStartPose * translation(center) * r1 * r2 * translation(-center);
}

void GL3DObject::setPosition(int dx, int dy)
{
    const Matrix4 m = currentModelView() * dragStartPose;
    const Point3 x(m(0, 0), m(0, 1), m(0, 2));
    const Point3 y(m(1, 0), m(1, 1), m(1, 2));
    const Point3 t = (x * static_cast<float>(-dx) + y * static_cast<float>(dy)) * 0.01f;
    pose = pose * translation(t);
}

void GL3DObject::setPosition(float dz)
{
    const Matrix4 m = currentModelView() * dragStartPose;
    const Point3 x(m(0, 0), m(0, 1), m(0, 2));
    const Point3 y(m(1, 0), m(1, 1), m(1, 2));
    const Point3 t = x.cross(y) * (0.1f * dz);
    pose = pose * translation(t);
}

Point3 GL3DObject::getOrigin() const { return pose * center; }

void GL3DObject::getOrigin(float *out) const
{
    const Point3 o = getOrigin();
    out[0] = o.x;
    out[1] = o.y;
    out[2] = o.z;
}

float GL3DObject::getMaxRadius()
{
    if (!(bbMin.x > -kInf)) {
        msg::warning("GL3DObject::bounding box variables not initialized\n");
        return 0;
    }
    return 0.5f * (bbMax - bbMin).norm();
}

float GL3DObject::getMaxIntoDirection(Point3 d)
{
    const Point3 u = d / d.norm();
    float best = -kInf;
    for (int i = 0; i < 8; ++i) {
        const Point3 c(i & 1 ? bbMax.x : bbMin.x, i & 2 ? bbMax.y : bbMin.y, i & 4 ? bbMax.z : bbMin.z);
        best = std::max(best, c * u);
    }
    return best;
}

float GL3DObject::getMinIntoDirection(Point3 d)
{
    const Point3 u = d / d.norm();
    float best = kInf;
    for (int i = 0; i < 8; ++i) {
        const Point3 c(i & 1 ? bbMax.x : bbMin.x, i & 2 ? bbMax.y : bbMin.y, i & 4 ? bbMax.z : bbMin.z);
        best = std::min(best, c * u);
    }
    return best;
}

void GL3DObject::computeBoundingBox()
{
    if (!vertices || nVertices <= 0)
        return;
    PointBounds b;
    b.addPoints(vertices, 3 * static_cast<size_t>(nVertices));
    bbMin = Point3(b.lo);
    bbMax = Point3(b.hi);
    center = (bbMin + bbMax) * 0.5f;
}

// --- Drawing -------------------------------------------------------------------------------

namespace {

// Debug builds say which drawing left an OpenGL error behind, before another one hides it.
void checkGLErrors(const GL3DObject &object, const char *what)
{
#ifndef NDEBUG
    for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError())
        msg::warning("GL3DObject: OpenGL error 0x%x after the %s of object %d\n", static_cast<unsigned>(e), what,
                     static_cast<int>(object.getID()));
#else
    (void)object;
    (void)what;
#endif
}

const FrameContext kNoFrame;

} // namespace

const FrameContext &GL3DObject::frame() const { return currentFrame ? *currentFrame : kNoFrame; }

const FrameContext *GL3DObject::enterFrame(const FrameContext &f)
{
    const FrameContext *outer = currentFrame;
    currentFrame = &f;
    const bool reduced = f.reduced() && canDrawReduced(f);
    if (reduced != reducedDrawing) {
        reducedDrawing = reduced;
        reducedDrawingChanged();
    }
    return outer;
}

void GL3DObject::draw(const FrameContext &f)
{
    const FrameContext *outer = enterFrame(f);
    drawObject();
    currentFrame = outer;
    checkGLErrors(*this, "drawing");
}

void GL3DObject::drawShadow(const FrameContext &f, float *plane, float *light, float *color)
{
    const FrameContext *outer = enterFrame(f);
    drawShadow(plane, light, color);
    currentFrame = outer;
    checkGLErrors(*this, "shadow");
}

void GL3DObject::drawObject()
{
    (this->*drawMethod)();
    if (ElementCleaning *cleaning = getCleaning()) {
        const FrameContext &f = frame();
        const size_t still = static_cast<size_t>(std::max(1LL, f.points.still));
        cleaning->drawSelection(static_cast<const float *>(pose), still,
                                reducedDrawing ? static_cast<size_t>(std::max(1LL, f.points.drag)) : still);
    }
    if (showBoundingBox)
        drawBoundingBox();
    if (showAxes) {
        const float r = getMaxRadius();
        GLObject::draw3DAxes(center, Point3(r, r, r));
    }
}

void GL3DObject::defaultDrawing() { drawObject(); }

void GL3DObject::setDrawDepthBuffer() { drawMethod = &GL3DObject::drawDepthBuffer; }

void GL3DObject::notImplementedBanner() { msg::warning("GL3DObject::function not implemented\n"); }

void GL3DObject::drawDepthBuffer()
{
    // A class without its own plain drawing inherits defaultDrawing() = draw(), which would
    // come straight back here; the inner pass then simply draws nothing.
    if (inDepthPass)
        return;
    inDepthPass = true;
    // Restore whichever buffer was drawn to (the back buffer of a window, the single
    // buffer of an off-screen surface).
    GLint drawBuffer = GL_BACK;
    glGetIntegerv(GL_DRAW_BUFFER, &drawBuffer);
    glDrawBuffer(GL_NONE);
    defaultDrawing();
    glDrawBuffer(static_cast<GLenum>(drawBuffer));
    inDepthPass = false;
    renderFrameBuffer();
}

void GL3DObject::renderFrameBuffer()
{
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int w = viewport[2], h = viewport[3];
    if (w <= 0 || h <= 0)
        return;
    const size_t n = static_cast<size_t>(w) * h;
    std::vector<float> depth(n);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(viewport[0], viewport[1], w, h, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());

    float dmin = 1e6f, dmax = -1e6f;
    for (float d : depth) {
        dmin = std::min(dmin, d);
        if (d < 1.0f)
            dmax = std::max(dmax, d);
    }
    // A surface at one single depth has no range to scale by; it is drawn at full height.
    const float range = dmax - dmin;
    for (float &d : depth) {
        if (d == 1.0f)
            d = 0;
        else if (range > 0)
            d = (1 - (d - dmin) / range) * 255;
        else
            d = 255;
    }
    const std::vector<unsigned char> shaded = Synthese::computeImage(w, h, depth.data(), 0, 0, 1, 0.5f, 1, 0.5f);
    if (shaded.size() != n)
        return;

    std::vector<unsigned char> image(n * 2);
    for (size_t i = 0; i < n; ++i) {
        image[2 * i] = shaded[i];
        image[2 * i + 1] = shaded[i] ? 255 : 0;
    }

    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_PIXEL_MODE_BIT | GL_COLOR_BUFFER_BIT);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glColor3f(0, 0, 0);
    blendLuminanceAlpha(w, h, image.data());
    glPopAttrib();
}

void GL3DObject::drawBoundingBox()
{
    glPushAttrib(0xFFFFF);
    glPushMatrix();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glEnable(GL_LINE_SMOOTH);
    glColor3f(0, 0, 0);
    glLineWidth(2);

    const Point3 &a = bbMin, &b = bbMax;
    const float c[8][3] = {{a.x, a.y, a.z}, {b.x, a.y, a.z}, {b.x, b.y, a.z}, {a.x, b.y, a.z},
                           {a.x, a.y, b.z}, {b.x, a.y, b.z}, {b.x, b.y, b.z}, {a.x, b.y, b.z}};
    drawLineLoop(c, 4);
    drawLineLoop(c + 4, 4);
    glBegin(GL_LINES);
    for (int i = 0; i < 4; ++i) {
        glVertex3fv(c[i]);
        glVertex3fv(c[i + 4]);
    }
    glEnd();

    glPopMatrix();
    glPopAttrib();
}

void GL3DObject::MakeShadowMatrix(const float *p, const float *l, float *out)
{
    const float dot = p[0] * l[0] + p[1] * l[1] + p[2] * l[2] + p[3] * l[3];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out[c * 4 + r] = (r == c ? dot : 0.0f) - l[r] * p[c];
}

void GL3DObject::centerObject(Point3 c)
{
    for (int i = 0; i < nVertices; ++i) {
        vertices[3 * i] -= c.x;
        vertices[3 * i + 1] -= c.y;
        vertices[3 * i + 2] -= c.z;
    }
    computeBoundingBox();
    resetClippingPlanes();
}

void GL3DObject::beginShadowPass(const float *plane, const float *light, const float *color)
{
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glColor3fv(color);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    MakeShadowMatrix(plane, light, shadowMatrix);
    glMultMatrixf(shadowMatrix);
    glMultMatrixf(pose);
}

void GL3DObject::endShadowPass()
{
    glPopMatrix();
    glPopAttrib();
}

// --- Clipping planes ------------------------------------------------------------------------

void GL3DObject::resetClippingPlanes()
{
    for (auto &plane : clipPlanes)
        for (double &v : plane)
            v = 0;
    const Point3 c = (bbMin + bbMax) * 0.5f;
    for (int k = 0; k < 3; ++k) {
        clipPlanes[k][k] = 1;
        clipPlanes[k][3] = -c[k];
        clipPlanes[k + 3][k] = -1;
        clipPlanes[k + 3][3] = c[k];
    }
}

void GL3DObject::setRotationAxis(Point3 v)
{
    clipPlanes[0][0] = -v.x;
    clipPlanes[0][1] = -v.y;
    clipPlanes[0][2] = -v.z;
    clipPlanes[0][3] = (getMaxIntoDirection(v) + getMinIntoDirection(v)) / 2;
}

void GL3DObject::computeClippingPlanes()
{
    for (int i = 0; i < 6; ++i)
        if (clipEnabled[i])
            glClipPlane(GL_CLIP_PLANE0 + i, clipPlanes[i]);
}

void GL3DObject::setClippingPlanes()
{
    for (int i = 0; i < 6; ++i)
        if (clipEnabled[i]) {
            glDisable(GL_CULL_FACE);
            glEnable(GL_CLIP_PLANE0 + i);
        }
}

int GL3DObject::getClippingPlane(double *out, int i) const
{
    if (i < 0 || i >= 6)
        return 0;
    for (int k = 0; k < 4; ++k)
        out[k] = clipPlanes[i][k];
    return clipEnabled[i];
}

void GL3DObject::setClippingPlane(const double *plane, int i)
{
    if (i < 0 || i >= 6)
        return;
    for (int k = 0; k < 4; ++k)
        clipPlanes[i][k] = plane[k];
}

void GL3DObject::enableClippingPlane(int i, bool on)
{
    if (i >= 0 && i < 6)
        clipEnabled[i] = on ? 1 : 0;
}

// --- Picking --------------------------------------------------------------------------------

int GL3DObject::getVertex(float *p)
{
    float best = 1e10f;
    int index = 0;
    for (int i = 0; i < nVertices; ++i) {
        const float dx = vertices[3 * i] - p[0], dy = vertices[3 * i + 1] - p[1], dz = vertices[3 * i + 2] - p[2];
        const float d = dx * dx + dy * dy + dz * dz;
        if (d < best) {
            best = d;
            index = i;
        }
    }
    return index;
}

int GL3DObject::getVertex(int x, int y) { return getVertex(x, y, nullptr); }

Matrix4 GL3DObject::currentMatrices(int *viewport)
{
    Matrix4 modelView = Matrix4::Identity, projection = Matrix4::Identity;
    glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(modelView));
    glGetFloatv(GL_PROJECTION_MATRIX, static_cast<float *>(projection));
    glGetIntegerv(GL_VIEWPORT, viewport);
    return projection * modelView;
}

bool GL3DObject::windowPosition(const Matrix4 &a, const int *vp, const float *v, float *out)
{
    float q[4];
    a.product(q, v);
    if (q[3] == 0)
        return false;
    out[0] = vp[0] + 0.5f * vp[2] * (q[0] / q[3] + 1);
    out[1] = vp[3] - 1 - (vp[1] + 0.5f * vp[3] * (q[1] / q[3] + 1));
    out[2] = 0.5f * (q[2] / q[3] + 1);
    return true;
}

int GL3DObject::getVertex(int x, int y, const std::function<bool(int)> &shown)
{
    GLint vp[4] = {0, 0, 0, 0};
    const Matrix4 a = currentMatrices(vp) * pose;
    int index = -1;
    float bestDepth = kInf;
    float w[3];
    for (int i = 0; i < nVertices; ++i) {
        if (shown && !shown(i))
            continue;
        if (!windowPosition(a, vp, &vertices[3 * i], w))
            continue;
        if (std::fabs(x - w[0]) < 4 && std::fabs(y - w[1]) < 4 && w[2] < bestDepth) {
            bestDepth = w[2];
            index = i;
        }
    }
    return index;
}

// --- Events: the base class consumes nothing ------------------------------------------------

void GL3DObject::drawShadow(float *, float *, float *) {}
void GL3DObject::notifyClick(int, int) {}
void GL3DObject::notifyAdditionalClick(int, int, int) {}
void GL3DObject::notifyDrag(float, float) {}
int GL3DObject::notifyKey(int) { return 0; }
void GL3DObject::reload() { msg::warning("GL3DObject: reload method not implemented\n"); }
void GL3DObject::drawInfo() {}

bool GL3DObject::takesWindowDrags() const
{
    const ElementCleaning *cleaning = getCleaning();
    return cleaning && cleaning->takesDrags();
}

void GL3DObject::notifyWindowDrag(const InputEvent &event, int x, int y)
{
    if (ElementCleaning *cleaning = getCleaning())
        cleaning->notifyDrag(event, x, y);
}

bool GL3DObject::runSharedAction(const KeyBinding &row)
{
    ElementCleaning *cleaning = getCleaning();
    return cleaning && cleaning->runAction(row);
}

void GL3DObject::setColorMap(int i)
{
    if (!ColorMap::choose(colorMapIndex, i))
        return;
    colorMapChanged();
    postRedisplay();
}

bool GL3DObject::stepColorMap(int step)
{
    setColorMap(colorMapIndex + step);
    return true;
}

std::string GL3DObject::getInformation() const
{
    return std::to_string(nVertices) + " vertices\n" + boxInformation(nullptr) + "\n";
}

std::string GL3DObject::boxInformation(const double *offset) const
{
    // As many decimals as show the box's extent to two significant digits: a model a tenth
    // of a unit across would otherwise read [-0.1,0.0,-0.1] [0.1,0.2,0.1].
    const float extent = std::max({bbMax.x - bbMin.x, bbMax.y - bbMin.y, bbMax.z - bbMin.z});
    int decimals = 1;
    if (extent > 0 && std::isfinite(extent))
        decimals = std::max(1, std::min(9, 1 - static_cast<int>(std::floor(std::log10(extent)))));
    // Added in double: georeferenced coordinates have more digits than a float keeps.
    const double o[3] = {offset ? offset[0] : 0, offset ? offset[1] : 0, offset ? offset[2] : 0};
    char text[512];
    std::snprintf(text, sizeof text, "bounding box:\n[%.*f,%.*f,%.*f]\n[%.*f,%.*f,%.*f]\n", decimals, o[0] + bbMin.x,
                  decimals, o[1] + bbMin.y, decimals, o[2] + bbMin.z, decimals, o[0] + bbMax.x, decimals,
                  o[1] + bbMax.y, decimals, o[2] + bbMax.z);
    return text;
}
