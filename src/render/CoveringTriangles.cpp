#include "render/CoveringTriangles.h"

#include "math/ColumnMajor.h"
#include "math/Parallel.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Margins, in pixels: far above the 1/256 pixel a renderer snaps corners to and the rounding
// of single-precision window coordinates.
constexpr float kBoxMargin = 1.0f / 64;
constexpr float kAreaMargin = 1.0f / 64; ///< per pixel of the triangle's outline

// True when the current state draws filled triangles one sample a pixel, at its centre.
bool fillsAtPixelCentres()
{
    GLint modes[2] = {GL_FILL, GL_FILL};
    glGetIntegerv(GL_POLYGON_MODE, modes);
    GLint sampleBuffers = 0;
    glGetIntegerv(GL_SAMPLE_BUFFERS, &sampleBuffers);
    return modes[0] == GL_FILL && modes[1] == GL_FILL && !glIsEnabled(GL_POLYGON_SMOOTH) &&
           !(sampleBuffers > 0 && glIsEnabled(GL_MULTISAMPLE));
}

// Whether a pixel centre (k + 0.5) of the row or column range [first, first + count) lies
// between lo and hi, give or take the margin. Both are clamped to the viewport first, so that
// the integer conversions (truncation of positive numbers: floor) stay in range.
bool centresBetween(float lo, float hi, int first, int count)
{
    const float offset = 1024.f - static_cast<float>(first); // keeps the values below positive
    lo = std::max(lo - kBoxMargin - 0.5f, first - 1.f) + offset;
    hi = std::min(hi + kBoxMargin - 0.5f, static_cast<float>(first + count)) + offset;
    // The first centre not below lo: ceil(lo) = floor(lo) + (lo is not whole).
    const int from = static_cast<int>(lo) + (static_cast<float>(static_cast<int>(lo)) < lo ? 1 : 0);
    const int to = std::min(static_cast<int>(hi), 1024 + count - 1);
    return from <= to && to >= 1024;
}

// Whether OpenGL may colour a pixel centre of the viewport with the triangle of window
// corners a, b, d (x, y; NaN for a corner it clips away): its facing (times `front`) on the
// culled side (`culledSide` -1 back, 1 front, 0 none) or no centre in its box say it cannot.
bool covers(const float *a, const float *b, const float *d, float front, float culledSide, const GLint *viewport)
{
    if (std::isnan(a[0]) || std::isnan(b[0]) || std::isnan(d[0]))
        return true;
    const float abx = b[0] - a[0], aby = b[1] - a[1], adx = d[0] - a[0], ady = d[1] - a[1];
    const float facing = front * (abx * ady - aby * adx);
    const float outline = std::fabs(abx) + std::fabs(aby) + std::fabs(adx) + std::fabs(ady) + std::fabs(d[0] - b[0]) +
                          std::fabs(d[1] - b[1]);
    if (culledSide != 0.f && culledSide * facing > kAreaMargin * outline)
        return false;
    return centresBetween(std::min(a[0], std::min(b[0], d[0])), std::max(a[0], std::max(b[0], d[0])), viewport[0],
                          viewport[2]) &&
           centresBetween(std::min(a[1], std::min(b[1], d[1])), std::max(a[1], std::max(b[1], d[1])), viewport[1],
                          viewport[3]);
}

// Parts of the work for n items: one a core for large meshes.
unsigned parts(size_t n) { return n < 262144 ? 1 : Parallel::cores(); }

} // namespace

bool CoveringTriangles::select(const float *vertices, size_t vertexCount, const int *triangles, size_t triangleCount,
                               std::vector<int> &kept)
{
    if (!fillsAtPixelCentres())
        return false;
    GLint viewport[4] = {0, 0, 0, 0}, cullMode = GL_BACK, frontFace = GL_CCW;
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetIntegerv(GL_CULL_FACE_MODE, &cullMode);
    glGetIntegerv(GL_FRONT_FACE, &frontFace);
    const bool culling = glIsEnabled(GL_CULL_FACE);
    double modelView[16], projection[16], m[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    multiplyColumnMajor4(projection, modelView, m);
    // Window positions; NaN for a corner at or behind the eye, whose triangles OpenGL clips.
    float f[16];
    std::copy(m, m + 16, f);
    static thread_local std::vector<float> window;
    window.resize(2 * vertexCount);
    const float halfWidth = viewport[2] / 2.f, halfHeight = viewport[3] / 2.f;
    const float left = viewport[0] + halfWidth, bottom = viewport[1] + halfHeight;
    float *out = window.data();
    Parallel::split(vertexCount, parts(vertexCount), [&](unsigned, size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            const float x = vertices[3 * i], y = vertices[3 * i + 1], z = vertices[3 * i + 2];
            const float w = f[3] * x + f[7] * y + f[11] * z + f[15];
            const float s = w > 0 ? 1 / w : std::numeric_limits<float>::quiet_NaN();
            out[2 * i] = left + (f[0] * x + f[4] * y + f[8] * z + f[12]) * s * halfWidth;
            out[2 * i + 1] = bottom + (f[1] * x + f[5] * y + f[9] * z + f[13]) * s * halfHeight;
        }
    });
    // Facing: positive for a front face (counter-clockwise in the window, as OpenGL counts
    // with y up, unless the front face is clockwise); the side culled, if any.
    const float front = frontFace == GL_CW ? -1.f : 1.f;
    const float culledSide = !culling ? 0.f : cullMode == GL_FRONT ? 1.f : cullMode == GL_BACK ? -1.f : 2.f;
    kept.clear();
    if (culledSide == 2.f)
        return true; // both sides culled: nothing is drawn
    // Each range of triangles into a list of its own, joined in their order.
    const unsigned count = parts(triangleCount);
    std::vector<std::vector<int>> lists(count);
    const float *p = window.data();
    Parallel::split(triangleCount, count, [&](unsigned k, size_t from, size_t to) {
        std::vector<int> &list = k == 0 ? kept : lists[k];
        list.reserve(3 * (to - from));
        for (size_t t = from; t < to; ++t) {
            const int *c = triangles + 3 * t;
            if (covers(p + 2 * static_cast<size_t>(c[0]), p + 2 * static_cast<size_t>(c[1]),
                       p + 2 * static_cast<size_t>(c[2]), front, culledSide, viewport))
                list.insert(list.end(), c, c + 3);
        }
    });
    for (unsigned k = 1; k < count; ++k)
        kept.insert(kept.end(), lists[k].begin(), lists[k].end());
    return true;
}
