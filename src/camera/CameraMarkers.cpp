#include "camera/CameraMarkers.h"

#include "camera/GLView.h"
#include "camera/ViewTracks.h"
#include "math/ColumnMajor.h"
#include "math/Matrix3.h"
#include "math/Matrix4.h"
#include "math/Quaternion.h"
#include "objects/Material.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

namespace {

// The pyramid in its own frame: apex at the origin, base 1 x 1 at depth 1; six triangles
// counter-clockwise seen from outside, so that culled back faces leave the outside, each with
// the normal of its face.
constexpr float kH = 0.5f, kSide = 1 / 1.118034f;
const float kCorners[18][3] = {
    {0, 0, 0}, {-kH, -kH, 1}, {-kH, kH, 1}, {0, 0, 0}, {-kH, kH, 1}, {kH, kH, 1},
    {0, 0, 0}, {kH, kH, 1},   {kH, -kH, 1}, {0, 0, 0}, {kH, -kH, 1}, {-kH, -kH, 1},
    {-kH, -kH, 1}, {kH, -kH, 1}, {kH, kH, 1}, {-kH, -kH, 1}, {kH, kH, 1}, {-kH, kH, 1},
};
const float kNormals[6][3] = {
    {-kSide, 0, -0.5f * kSide}, {0, kSide, -0.5f * kSide}, {kSide, 0, -0.5f * kSide},
    {0, -kSide, -0.5f * kSide}, {0, 0, 1},                 {0, 0, 1},
};

// The marker colour of the material, as bytes: its ambient and diffuse colours are one.
void materialColour(unsigned char rgb[3])
{
    const float *d = Material::predefined[1].frontDiffuse;
    for (int c = 0; c < 3; ++c)
        rgb[c] = static_cast<unsigned char>(std::lround(d[c] * 255));
}

// The turn of a marker as it has always been drawn: the rotation of the inverse of the view's
// rotation, through its quaternion's axis and angle.
Matrix3 markerTurn(const Matrix3 &R)
{
    const Quaternion q(R.inverse());
    const float angle = 2 * std::acos(std::max(-1.f, std::min(1.f, q(3))));
    return Matrix4(Point3(q), angle).getSubMatrix();
}

// Row r of the column-major 4 x 4 matrix m times (x, y, z, 1).
float row(const float *m, int r, const Point3 &p) { return m[r] * p.x + m[4 + r] * p.y + m[8 + r] * p.z + m[12 + r]; }


} // namespace

bool CameraMarkers::refresh(const GLView &views, float size)
{
    // The views' poses and the size the pyramids were made for: they are made again only when
    // one of them changed (a moved reconstruction, another world scale).
    const size_t n = static_cast<size_t>(std::max(0, views.getNViews()));
    std::vector<float> now;
    now.reserve(12 * n + 1);
    now.push_back(size);
    for (size_t i = 0; i < n; ++i) {
        const Matrix3 &R = views.getRotation(static_cast<int>(i));
        const Point3 &t = views.getTranslation(static_cast<int>(i));
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                now.push_back(R(r, c));
        now.insert(now.end(), {t.x, t.y, t.z});
    }
    if (now == poses)
        return false;
    poses.swap(now);
    centres.resize(3 * n);
    vertices.resize(54 * n);
    normals.resize(54 * n);
    for (size_t i = 0; i < n; ++i) {
        const Point3 c = views.getOrigin(static_cast<int>(i));
        const Matrix3 back = markerTurn(views.getRotation(static_cast<int>(i)));
        std::copy(&c.x, &c.x + 3, &centres[3 * i]);
        for (int k = 0; k < 18; ++k) {
            const Point3 p = c + back * (Point3(kCorners[k][0], kCorners[k][1], kCorners[k][2]) * size);
            Point3 nk = back * Point3(kNormals[k / 3][0], kNormals[k / 3][1], kNormals[k / 3][2]);
            const float length = nk.norm();
            if (length > 0)
                nk = nk / length;
            std::copy(&p.x, &p.x + 3, &vertices[54 * i + 3 * static_cast<size_t>(k)]);
            std::copy(&nk.x, &nk.x + 3, &normals[54 * i + 3 * static_cast<size_t>(k)]);
        }
    }
    return true;
}

void CameraMarkers::draw(const GLView &views, float size, const unsigned char *rgb, const ViewTracks &tracks)
{
    float projection[16], modelView[16], mvp[16];
    int viewport[4] = {0, 0, 1, 1};
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
    glGetIntegerv(GL_VIEWPORT, viewport);
    multiplyColumnMajor4(projection, modelView, mvp);
    // Pixels a length of one at clip depth w spans: the projection's vertical scale (the
    // length of the second row's rotation part) over w, times half the viewport height.
    const float rowScale = std::sqrt(mvp[1] * mvp[1] + mvp[5] * mvp[5] + mvp[9] * mvp[9]) * viewport[3] / 2;
    unsigned char plain[3];
    materialColour(plain);
    refresh(views, size);

    // Per frame only the choice between pyramid and point, and the colours.
    const size_t n = centres.size() / 3;
    colours.resize(54 * n);
    for (std::vector<unsigned> &list : pyramidIndices)
        list.clear();
    pointVertices.clear();
    pointColours.clear();
    for (size_t i = 0; i < n; ++i) {
        const int v = static_cast<int>(i);
        const unsigned char *colour = tracks.observes(v) ? ViewTracks::highlight : rgb ? rgb + 3 * i : plain;
        const Point3 c(centres[3 * i], centres[3 * i + 1], centres[3 * i + 2]);
        const float w = row(mvp, 3, c);
        if (w > 0 && size * rowScale / w < pointBelowPixels) {
            pointVertices.insert(pointVertices.end(), {c.x, c.y, c.z});
            pointColours.insert(pointColours.end(), colour, colour + 3);
            continue;
        }
        std::vector<unsigned> &list = pyramidIndices[tracks.observes(v) || rgb ? 1 : 0];
        for (unsigned k = 0; k < 18; ++k) {
            list.push_back(static_cast<unsigned>(18 * i) + k);
            std::copy(colour, colour + 3, &colours[54 * i + 3 * k]);
        }
    }
    pyramids = (pyramidIndices[0].size() + pyramidIndices[1].size()) / 18;
    points = pointVertices.size() / 3;

    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT | GL_POINT_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glDisable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    if (pyramids) {
        glEnable(GL_LIGHTING);
        glShadeModel(GL_SMOOTH);
        Material::predefined[1].set();
        glEnable(GL_COLOR_MATERIAL);
        glEnableClientState(GL_NORMAL_ARRAY);
        glVertexPointer(3, GL_FLOAT, 0, vertices.data());
        glNormalPointer(GL_FLOAT, 0, normals.data());
        glColorPointer(3, GL_UNSIGNED_BYTE, 0, colours.data());
        // The material's markers keep its grey ambient colour; a marker of a colour of its own
        // takes it for both, as a material set to it would.
        for (int own = 0; own < 2; ++own) {
            const std::vector<unsigned> &list = pyramidIndices[own];
            if (list.empty())
                continue;
            glColorMaterial(GL_FRONT_AND_BACK, own ? GL_AMBIENT_AND_DIFFUSE : GL_DIFFUSE);
            glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(list.size()), GL_UNSIGNED_INT, list.data());
        }
        glDisableClientState(GL_NORMAL_ARRAY);
        glDisable(GL_COLOR_MATERIAL);
    }
    if (points) {
        glDisable(GL_LIGHTING);
        glPointSize(2);
        glVertexPointer(3, GL_FLOAT, 0, pointVertices.data());
        glColorPointer(3, GL_UNSIGNED_BYTE, 0, pointColours.data());
        glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(points));
    }
    glPopClientAttrib();
    glPopAttrib();
}

void CameraMarkers::drawPyramid(Point3 position, Point3 size, const unsigned char *rgb)
{
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glTranslatef(position.x, position.y, position.z);
    glScalef(size.x, size.y, size.z);
    glEnable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(GL_SMOOTH);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    Material::predefined[1].set();
    if (rgb) {
        const GLfloat colour[4] = {rgb[0] / 255.f, rgb[1] / 255.f, rgb[2] / 255.f, 1};
        glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE, colour);
    }
    // The normals are given times the size: the scaling above divides them by it again, so
    // they reach the lighting at unit length without GL_NORMALIZE.
    glBegin(GL_TRIANGLES);
    for (int k = 0; k < 18; ++k) {
        if (k % 3 == 0)
            glNormal3f(kNormals[k / 3][0] * size.x, kNormals[k / 3][1] * size.y, kNormals[k / 3][2] * size.z);
        glVertex3fv(kCorners[k]);
    }
    glEnd();
    glPopMatrix();
    glPopAttrib();
}
