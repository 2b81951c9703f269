#include "app/SceneMeasure.h"

#include "app/SceneAccess.h"
#include "app/SceneWindow.h"
#include "app/SplitView.h"
#include "camera/GLCamera.h"
#include "math/ColumnMajor.h"
#include "math/Messages.h"
#include "math/SquareMatrix.h"
#include "objects/GLPointListObject.h"
#include "objects/GLPointStreamObject.h"
#include "render/GLFont.h"
#include "render/GLState.h"

#include <GL/gl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A 4 x 4 matrix in double precision, column-major as OpenGL keeps them.
using Mat4d = std::array<double, 16>;

Mat4d toDouble(const Matrix4 &f) { return squarematrix::doubles<4>(f, true); }

Mat4d multiply(const Mat4d &a, const Mat4d &b)
{
    Mat4d c;
    multiplyColumnMajor4(a.data(), b.data(), c.data());
    return c;
}

// Gauss-Jordan elimination with partial pivoting; false for a singular matrix.
bool invert(Mat4d a, Mat4d &out)
{
    Mat4d b{};
    for (int i = 0; i < 4; ++i)
        b[static_cast<size_t>(5 * i)] = 1;
    const auto at = [](Mat4d &m, int r, int c) -> double & { return m[static_cast<size_t>(4 * c + r)]; };
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::fabs(at(a, r, c)) > std::fabs(at(a, pivot, c)))
                pivot = r;
        if (!(std::fabs(at(a, pivot, c)) > 0))
            return false;
        for (int k = 0; k < 4; ++k) {
            std::swap(at(a, c, k), at(a, pivot, k));
            std::swap(at(b, c, k), at(b, pivot, k));
        }
        const double d = at(a, c, c);
        for (int k = 0; k < 4; ++k) {
            at(a, c, k) /= d;
            at(b, c, k) /= d;
        }
        for (int r = 0; r < 4; ++r)
            if (r != c) {
                const double f = at(a, r, c);
                for (int k = 0; k < 4; ++k) {
                    at(a, r, k) -= f * at(a, c, k);
                    at(b, r, k) -= f * at(b, c, k);
                }
            }
    }
    out = b;
    return true;
}

// m (x, y, z, 1), with w returned apart.
Vec3d transform(const Mat4d &m, const Vec3d &p, double &w)
{
    Vec3d q;
    for (int i = 0; i < 3; ++i)
        q[static_cast<size_t>(i)] = m[static_cast<size_t>(i)] * p[0] + m[static_cast<size_t>(4 + i)] * p[1] +
                                    m[static_cast<size_t>(8 + i)] * p[2] + m[static_cast<size_t>(12 + i)];
    w = m[3] * p[0] + m[7] * p[1] + m[11] * p[2] + m[15];
    return q;
}

Vec3d transform(const Mat4d &m, const Vec3d &p)
{
    double w = 1;
    Vec3d q = transform(m, p, w);
    for (double &v : q)
        v /= w;
    return q;
}

double length(const Vec3d &a, const Vec3d &b)
{
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

// How the camera shows the scene, in double precision: window pixels from the lower left.
struct View {
    Mat4d modelView, all, inverse;
    int width, height;
    explicit View(const GLCamera &camera)
        : modelView(toDouble(camera.getGLModelViewMatrix())),
          all(multiply(toDouble(camera.getProjectionMatrix()), modelView)), width(camera.getWindowWidth()),
          height(camera.getWindowHeight())
    {
        if (!invert(all, inverse))
            inverse.fill(kNaN);
    }
    // Window x, y (lower left origin) and the depth 0 to 1; false behind the eye.
    bool project(const Vec3d &p, double &x, double &y) const
    {
        double w = 1;
        const Vec3d c = transform(all, p, w);
        x = (c[0] / w + 1) * 0.5 * width;
        y = (c[1] / w + 1) * 0.5 * height;
        return w > 0;
    }
    Vec3d unproject(double x, double y, double depth) const
    {
        return transform(inverse, {2 * x / width - 1, 2 * y / height - 1, 2 * depth - 1});
    }
    double eyeDistance(const Vec3d &p) const
    {
        double w = 1;
        return -transform(modelView, p, w)[2];
    }
};

// As many decimals as show a tenth of a micro-part of the distance: millimetres of a hundred metres.
int decimalsFor(double distance)
{
    if (!(distance > 0) || !std::isfinite(distance))
        return 4;
    return std::max(0, std::min(12, 6 - static_cast<int>(std::ceil(std::log10(distance)))));
}

std::string formatted(double v, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

const char *const kNames[3] = {"A", "B", "C"};

} // namespace

void SceneMeasure::add(const MeasuredPoint &p)
{
    if (points.size() >= 3)
        points.clear();
    points.push_back(p);
}

double SceneMeasure::distance() const { return points.size() < 2 ? kNaN : length(points[0].scene, points[1].scene); }

double SceneMeasure::angle() const
{
    if (points.size() < 3)
        return kNaN;
    const Vec3d &a = points[0].scene, &b = points[1].scene, &c = points[2].scene;
    double dot = 0;
    for (size_t k = 0; k < 3; ++k)
        dot += (a[k] - b[k]) * (c[k] - b[k]);
    const double ab = length(a, b), cb = length(c, b);
    if (!(ab > 0) || !(cb > 0))
        return kNaN;
    return std::acos(std::max(-1.0, std::min(1.0, dot / (ab * cb)))) * 180 / std::acos(-1.0);
}

std::string SceneMeasure::text() const
{
    std::string t;
    const double d = distance();
    const int decimals = decimalsFor(points.size() > 1 ? d : 1);
    for (size_t i = 0; i < points.size(); ++i) {
        const MeasuredPoint &p = points[i];
        t += std::string(kNames[i]) + " " + formatted(p.file[0], decimals) + " " + formatted(p.file[1], decimals) + " " +
             formatted(p.file[2], decimals);
        if (p.point >= 0)
            t += " (point " + std::to_string(p.point) + ")";
        t += "\n";
        if (i == 1)
            t += "A-B " + formatted(d, decimals) + "\n";
        if (i == 2) {
            t += "B-C " + formatted(length(points[1].scene, points[2].scene), decimals) + "\n";
            t += "angle A-B-C " + formatted(angle(), 2) + " degrees\n";
        }
    }
    return t;
}

bool SceneMeasure::scaling(double wanted, Similarity &out, std::string &why) const
{
    const double d = distance();
    if (!(d > 0) || !std::isfinite(d)) {
        why = points.size() < 2 ? "measure a distance first: two clicks with the measure tool"
                                : "the two points measured are one";
        return false;
    }
    if (!(wanted > 0) || !std::isfinite(wanted)) {
        why = "the length must be a positive number";
        return false;
    }
    out = Similarity();
    out.s = wanted / d;
    // About point A, which stays where it is.
    for (size_t k = 0; k < 3; ++k)
        out.t[k] = points[0].scene[k] * (1 - out.s);
    return true;
}

void SceneMeasure::moved(const Similarity &s)
{
    for (MeasuredPoint &p : points)
        p.scene = s.apply(p.scene);
}

// --- Picking ---------------------------------------------------------------------------------

bool SceneMeasure::pick(int x, int y)
{
    if (!m.camera())
        return false;
    MeasuredPoint p, q;
    double surfaceEye = kInf;
    const bool surface = surfacePoint(x, y, p, surfaceEye);
    if (cloudPoint(x, y, surfaceEye, q))
        p = q;
    else if (!surface)
        return false;
    else
        locate(p);
    add(p);
    const size_t n = points.size();
    msg::note("Measure: %s at %.6f %.6f %.6f\n", kNames[n - 1], p.file[0], p.file[1], p.file[2]);
    if (n == 2)
        msg::note("Measure: A-B %.6f\n", distance());
    if (n == 3)
        msg::note("Measure: angle A-B-C %.4f degrees\n", angle());
    m.requestRedraw();
    return true;
}

bool SceneMeasure::surfacePoint(int x, int y, MeasuredPoint &out, double &eyeDistance)
{
    int width = 0, height = 0;
    m.windowSize(width, height);
    if (width < 1 || height < 1 || !m.sceneWindow().makeCurrent(false))
        return false;
    // A frame drawn for it: what the window shows may be a reduced frame, or swapped away.
    m.drawFrame(m.frameOf(FrameContext::Kind::Capture), 1);
    constexpr int r = 3;
    const int row = height - 1 - y;
    const int x0 = std::max(0, x - r), y0 = std::max(0, row - r);
    const int w = std::min(width, x + r + 1) - x0, h = std::min(height, row + r + 1) - y0;
    if (w < 1 || h < 1)
        return false;
    std::vector<float> depth(static_cast<size_t>(w) * h, 1.f);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x0, y0, w, h, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
    glPopClientAttrib();
    // The pixel nearest the pointer that shows something; at equal distances the nearest surface.
    int best = -1, bestRing = 0;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            const float z = depth[static_cast<size_t>(j) * w + i];
            const int ring = (x0 + i - x) * (x0 + i - x) + (y0 + j - row) * (y0 + j - row);
            if (z < 1 && (best < 0 || ring < bestRing || (ring == bestRing && z < depth[static_cast<size_t>(best)]))) {
                best = j * w + i;
                bestRing = ring;
            }
        }
    if (best < 0)
        return false;
    const View view(*m.camera());
    out = MeasuredPoint();
    out.scene = view.unproject(x0 + best % w + 0.5, y0 + best / w + 0.5, depth[static_cast<size_t>(best)]);
    eyeDistance = view.eyeDistance(out.scene);
    return std::isfinite(out.scene[0]) && std::isfinite(out.scene[1]) && std::isfinite(out.scene[2]);
}

bool SceneMeasure::cloudPoint(int x, int y, double surfaceEye, MeasuredPoint &out) const
{
    GLCamera &camera = *m.camera();
    const View view(camera);
    const SplitView::Side side = m.splitView().sideAt(x, view.width);
    double nearest = kInf;
    // The point of an object, `stored` in its coordinates, `file` in its file's; it is taken when
    // it is the nearest to the eye so far and no surface in front of it hides it (the point's
    // own square is at its depth).
    const auto take = [&](const GL3DObject &object, const Vec3d &stored, const Vec3d &file, long long index) {
        const Vec3d scene = transform(toDouble(object.getPose()), stored);
        const double eye = view.eyeDistance(scene);
        if (!(eye < nearest) || eye > surfaceEye * 1.01 + 1e-12)
            return;
        nearest = eye;
        out.scene = scene;
        out.file = file;
        out.point = index;
    };
    for (int o = 0; o < m.objectCount(); ++o) {
        auto *cloud = dynamic_cast<GLPointListObject *>(m.objectAt(o));
        if (!cloud || !m.splitView().draws(side, cloud))
            continue;
        cloud->waitForLevelOfDetail();
        // Only the points drawn: above the threshold, neither hidden nor deleted.
        const float *values = cloud->getValues(), threshold = cloud->getLowerThreshold();
        const ElementEdits &edits = cloud->getEdits();
        camera.loadMatrices();
        const int i = cloud->getVertex(x, y, [&](int k) {
            return (!values || values[k] >= threshold) && edits.isShown(static_cast<size_t>(cloud->getFileIndex(k)));
        });
        if (i < 0)
            continue;
        const float *v = cloud->getVertices() + 3 * static_cast<size_t>(i);
        const double *origin = cloud->getFileOrigin();
        take(*cloud, {v[0], v[1], v[2]}, {v[0] + origin[0], v[1] + origin[1], v[2] + origin[2]},
             cloud->getFileIndex(i));
    }
    for (int o = 0; o < m.objectCount(); ++o) {
        // A streamed cloud: among the points its last frame drew.
        auto *stream = dynamic_cast<GLPointStreamObject *>(m.objectAt(o));
        if (!stream || !m.splitView().draws(side, stream))
            continue;
        camera.loadMatrices();
        uint64_t index = 0;
        Vec3d file;
        if (!stream->pickDrawn(x, y) || !stream->getPicked(index, file.data()))
            continue;
        const double *origin = stream->getFileOrigin();
        take(*stream, {file[0] - origin[0], file[1] - origin[1], file[2] - origin[2]}, file,
             static_cast<long long>(index));
    }
    return nearest < kInf;
}

void SceneMeasure::locate(MeasuredPoint &p) const
{
    p.file = p.scene;
    // The object whose box (a little larger) holds the point, the smallest when several do.
    double smallest = kInf;
    for (int o = 0; o < m.objectCount(); ++o) {
        GL3DObject *object = m.objectAt(o);
        Mat4d toObject;
        if (!invert(toDouble(object->getPose()), toObject))
            continue;
        const Vec3d q = transform(toObject, p.scene);
        const Point3 &lo = object->getBBMin(), &hi = object->getBBMax();
        const double size = length({lo.x, lo.y, lo.z}, {hi.x, hi.y, hi.z});
        const double margin = 0.01 * size;
        bool inside = size < smallest;
        for (size_t k = 0; k < 3 && inside; ++k)
            inside = q[k] >= (&lo.x)[k] - margin && q[k] <= (&hi.x)[k] + margin;
        if (!inside)
            continue;
        smallest = size;
        const auto *cloud = dynamic_cast<const GLPointListObject *>(object);
        const auto *stream = dynamic_cast<const GLPointStreamObject *>(object);
        const double *origin = cloud ? cloud->getFileOrigin() : stream ? stream->getFileOrigin() : nullptr;
        for (size_t k = 0; k < 3; ++k)
            p.file[k] = q[k] + (origin ? origin[k] : 0.0);
    }
}

// --- Drawing ---------------------------------------------------------------------------------

void SceneMeasure::draw(int width, int height) const
{
    if (points.empty() || !m.camera())
        return;
    const View view(*m.camera());
    std::vector<std::array<double, 2>> at;
    for (const MeasuredPoint &p : points) {
        double x = 0, y = 0;
        if (!view.project(p.scene, x, y))
            x = y = kNaN;
        // The camera's window may differ from a capture's: the same share of it.
        at.push_back({x * width / std::max(1, view.width), y * height / std::max(1, view.height)});
    }
    beginWindowOverlay(GL_LINE_BIT | GL_POINT_BIT, width, height);
    // Dark under light, so that the marks show over any picture.
    for (int pass = 0; pass < 2; ++pass) {
        glLineWidth(pass == 0 ? 4.f : 2.f);
        glPointSize(pass == 0 ? 9.f : 6.f);
        if (pass == 0)
            glColor3f(0.1f, 0.1f, 0.1f);
        else
            glColor3f(1.f, 0.85f, 0.1f);
        glBegin(GL_LINE_STRIP);
        for (const auto &p : at)
            glVertex2d(p[0], p[1]);
        glEnd();
        glBegin(GL_POINTS);
        for (const auto &p : at)
            glVertex2d(p[0], p[1]);
        glEnd();
    }
    endWindowOverlay();

    const int decimals = decimalsFor(points.size() > 1 ? distance() : 1);
    for (size_t i = 0; i < at.size(); ++i) {
        if (!std::isfinite(at[i][0]))
            continue;
        GLFont::printString(kNames[i], static_cast<int>(at[i][0]) + 6, static_cast<int>(at[i][1]) + 6);
        if (i > 0 && std::isfinite(at[i - 1][0])) {
            const std::string d = formatted(length(points[i - 1].scene, points[i].scene), decimals);
            GLFont::printString(d.c_str(), static_cast<int>((at[i][0] + at[i - 1][0]) / 2) + 6,
                                static_cast<int>((at[i][1] + at[i - 1][1]) / 2) - 14);
        }
    }
    // The information text, in the upper left corner.
    const std::string t = text();
    int line = 0;
    for (size_t from = 0; from < t.size(); ++line) {
        const size_t end = t.find('\n', from);
        const std::string row = t.substr(from, end - from);
        GLFont::printString(row.c_str(), 10, height - 16 - line * GLFont::lineSpacing);
        from = end == std::string::npos ? t.size() : end + 1;
    }
}
