#include "camera/ViewTracks.h"

#include "render/GLFont.h"
#include "render/GLState.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

const unsigned char ViewTracks::highlight[3] = {255, 0, 255};
const unsigned char ViewTracks::observedColour[3] = {0, 255, 0};
const unsigned char ViewTracks::residualColour[3] = {255, 255, 0};
const unsigned char ViewTracks::unobservedColour[3] = {255, 64, 0};

void ViewTracks::set(const Reconstruction &model, const std::vector<GLView::Intrinsics> &intrinsics)
{
    trackStart = model.trackStart;
    trackViews.resize(model.tracks.size());
    for (size_t e = 0; e < model.tracks.size(); ++e)
        trackViews[e] = model.tracks[e].view;
    shownPoint = -1;
    observing.assign(model.views.size(), 0);

    keypointStart.clear();
    keypoints.clear();
    observed.clear();
    points.clear();
    poses.clear();
    size_t total = 0;
    for (const ReconstructionView &v : model.views)
        total += v.observes.size();
    if (total == 0 || total > UINT32_MAX)
        return;
    keypointStart.reserve(model.views.size() + 1);
    keypoints.reserve(2 * total);
    observed.reserve(total);
    poses.reserve(12 * model.views.size());
    for (size_t v = 0; v < model.views.size(); ++v) {
        const ReconstructionView &view = model.views[v];
        keypointStart.push_back(static_cast<uint32_t>(observed.size()));
        // Keypoints measured from the principal point go to the photograph's corner.
        const bool centred = model.centredPrincipalPoint && (intrinsics.size() == 1 || v < intrinsics.size());
        const GLView::Intrinsics *in = centred ? &intrinsics[intrinsics.size() == 1 ? 0 : v] : nullptr;
        const float dx = in ? in->cx - static_cast<float>(view.cx) : 0;
        const float dy = in ? in->cy - static_cast<float>(view.cy) : 0;
        for (int k = 0; k < view.keypointCount(); ++k) {
            keypoints.push_back(view.keypoints[2 * static_cast<size_t>(k)] + dx);
            keypoints.push_back(view.keypoints[2 * static_cast<size_t>(k) + 1] + dy);
        }
        observed.insert(observed.end(), view.observes.begin(), view.observes.end());
        for (double r : view.R)
            poses.push_back(static_cast<float>(r));
        for (double t : view.t)
            poses.push_back(static_cast<float>(t));
    }
    keypointStart.push_back(static_cast<uint32_t>(observed.size()));
    points.resize(3 * model.points.size());
    for (size_t i = 0; i < model.points.size(); ++i) {
        points[3 * i] = model.points[i].x;
        points[3 * i + 1] = model.points[i].y;
        points[3 * i + 2] = model.points[i].z;
    }
}

bool ViewTracks::show(int point, Point3 position)
{
    if (point < 0 || static_cast<size_t>(point) >= pointCount())
        point = -1;
    if (point == shownPoint && (point < 0 || position == shownAt))
        return false;
    shownPoint = point;
    shownAt = position;
    std::fill(observing.begin(), observing.end(), 0);
    if (point >= 0)
        for (uint32_t e = trackStart[point]; e < trackStart[point + 1]; ++e)
            if (trackViews[e] < observing.size())
                observing[trackViews[e]] = 1;
    return true;
}

void ViewTracks::drawLines(const GLView &views) const
{
    if (shownPoint < 0)
        return;
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glLineWidth(1);
    glColor3ub(highlight[0], highlight[1], highlight[2]);
    glBegin(GL_LINES);
    for (size_t v = 0; v < observing.size() && static_cast<int>(v) < views.getNViews(); ++v)
        if (observing[v]) {
            const Point3 c = views.getOrigin(static_cast<int>(v));
            glVertex3f(c.x, c.y, c.z);
            glVertex3f(shownAt.x, shownAt.y, shownAt.z);
        }
    glEnd();
    glPopAttrib();
}

// --- Keypoints ------------------------------------------------------------------------------

int ViewTracks::keypointCount(int v) const
{
    if (v < 0 || static_cast<size_t>(v) + 1 >= keypointStart.size())
        return 0;
    return static_cast<int>(keypointStart[static_cast<size_t>(v) + 1] - keypointStart[static_cast<size_t>(v)]);
}

Point2 ViewTracks::keypoint(int v, int k) const
{
    const size_t i = keypointStart[static_cast<size_t>(v)] + static_cast<size_t>(k);
    return Point2(keypoints[2 * i], keypoints[2 * i + 1]);
}

int ViewTracks::observedPoint(int v, int k) const
{
    return observed[keypointStart[static_cast<size_t>(v)] + static_cast<size_t>(k)];
}

ViewTracks::Marks ViewTracks::marksOf(int v, const GLView &views, float factor) const
{
    Marks marks;
    const int n = keypointCount(v);
    if (n == 0)
        return marks;
    const GLView::Intrinsics in = views.getIntrinsics(v);
    const LensDistortion &lens = views.getDistortion(v);
    const float *pose = &poses[12 * static_cast<size_t>(v)];
    for (int k = 0; k < n; ++k) {
        const Point2 d = keypoint(v, k);
        double x = (d.x - in.cx) / in.fx, y = (d.y - in.cy) / in.fy;
        if (!lens.isIdentity() && !lens.undistort(x, y, x, y))
            continue;
        const Point2 at(static_cast<float>(in.fx * x + in.cx), static_cast<float>(in.fy * y + in.cy));
        const int p = observedPoint(v, k);
        if (p < 0 || static_cast<size_t>(p) >= points.size() / 3) {
            marks.unobserved.push_back(at);
            continue;
        }
        const float *X = &points[3 * static_cast<size_t>(p)];
        float c[3];
        for (int r = 0; r < 3; ++r)
            c[r] = pose[3 * r] * X[0] + pose[3 * r + 1] * X[1] + pose[3 * r + 2] * X[2] + pose[9 + r];
        marks.observed.push_back(at);
        if (!(c[2] > 0)) {
            marks.residualEnds.push_back(at);
            continue;
        }
        const Point2 reprojected(in.fx * c[0] / c[2] + in.cx, in.fy * c[1] / c[2] + in.cy);
        marks.residualEnds.push_back(at + (reprojected - at) * factor);
    }
    return marks;
}

namespace {

Point2 toWindow(const Matrix3 &m, Point2 p)
{
    const Point3 h = m * Point3(p.x, p.y, 1);
    return Point2(h.x / h.z, h.y / h.z);
}

void drawPoints(const std::vector<Point2> &at, const Matrix3 &m, const unsigned char *rgb)
{
    glColor3ub(rgb[0], rgb[1], rgb[2]);
    glBegin(GL_POINTS);
    for (const Point2 &p : at) {
        const Point2 w = toWindow(m, p);
        glVertex2f(w.x, w.y);
    }
    glEnd();
}

} // namespace

void ViewTracks::drawKeypoints(int v, const GLView &views, const Matrix3 &imageToWindow, int w, int h) const
{
    if (!keypointsShown || keypointCount(v) == 0)
        return;
    const Marks marks = marksOf(v, views, residualFactor);
    WindowOverlay overlay(w, h);
    disableClipPlanes();
    glLineWidth(1);
    glColor3ub(residualColour[0], residualColour[1], residualColour[2]);
    glBegin(GL_LINES);
    for (size_t k = 0; k < marks.observed.size(); ++k) {
        const Point2 a = toWindow(imageToWindow, marks.observed[k]), b = toWindow(imageToWindow, marks.residualEnds[k]);
        glVertex2f(a.x, a.y);
        glVertex2f(b.x, b.y);
    }
    glEnd();
    glPointSize(3);
    drawPoints(marks.unobserved, imageToWindow, unobservedColour);
    drawPoints(marks.observed, imageToWindow, observedColour);

    // The key: what the colours mean and how much the residuals are magnified.
    char line[64];
    std::snprintf(line, sizeof line, "observed, residual x%g", static_cast<double>(residualFactor));
    const struct {
        const unsigned char *rgb;
        const char *text;
    } key[] = {{observedColour, line}, {unobservedColour, "not observed"}};
    const Point4 colour = GLFont::getFgColor();
    for (int row = 0; row < 2; ++row) {
        const int y = 16 + 14 * row;
        glColor3ub(key[row].rgb[0], key[row].rgb[1], key[row].rgb[2]);
        glBegin(GL_QUADS);
        glVertex2i(8, y - 8);
        glVertex2i(16, y - 8);
        glVertex2i(16, y);
        glVertex2i(8, y);
        glEnd();
        GLFont::setFgColor(Point4(key[row].rgb[0] / 255.f, key[row].rgb[1] / 255.f, key[row].rgb[2] / 255.f, 1));
        GLFont::fprint(key[row].text, 20, y);
    }
    GLFont::setFgColor(colour);
}
