#include "objects/GLMeshPicking.h"
#include "core/ElementHost.h"

#include "math/Messages.h"
#include "objects/GL3DObject.h"
#include "math/Matrix3.h"
#include "measure/Objet_data.h"
#include "measure/SurfacePath.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <utility>
#include <vector>

void GLMeshPicking::initVariables()
{
    nNeighbours = 0;
    std::fill(std::begin(pickedVertices), std::end(pickedVertices), 0);
    nPicked = 0;
    ringClosed = false;
}

void GLMeshPicking::release()
{
    neighbours.reset();
    nNeighbours = 0;
    nPicked = 0;
    deletePath();
    distancePanel.reset();
    adjacency.reset();
}

void GLMeshPicking::deletePath()
{
    // The window holds the path without owning it: it must let go first.
    if (distancePanel && pathOnMesh)
        distancePanel->setPath(nullptr);
    pathOnMesh.reset();
}

void GLMeshPicking::vertexSelected()
{
    const int s = element.getSelectedVertex();
    if (s >= 0) {
        getNbhood();
        printInfo(s);
    }
}

void GLMeshPicking::getNbhood()
{
    nNeighbours = 0;
    ringClosed = false;
    neighbours.reset();
    const int s = element.getSelectedVertex();
    const MeshArrays mesh = model.arrays();
    if (s < 0 || s >= mesh.nVertices)
        return;
    // The edge opposite the vertex in every triangle around it, in the triangle's orientation.
    std::vector<std::pair<int, int>> pairs;
    const int *t = mesh.triangles;
    for (size_t i = 0; i < static_cast<size_t>(mesh.nTriangles); ++i) {
        const int a = t[3 * i], b = t[3 * i + 1], c = t[3 * i + 2];
        if (a == s)
            pairs.emplace_back(b, c);
        else if (b == s)
            pairs.emplace_back(c, a);
        else if (c == s)
            pairs.emplace_back(a, b);
    }
    if (pairs.empty())
        return;
    // Chain the edges at both ends, so that a vertex on the border gets its whole fan
    // whichever triangle comes first.
    std::deque<int> chain{pairs[0].first, pairs[0].second};
    std::vector<char> used(pairs.size(), 0);
    used[0] = 1;
    for (bool grown = true; grown;) {
        grown = false;
        for (size_t k = 1; k < pairs.size(); ++k) {
            if (used[k])
                continue;
            const auto [p, q] = pairs[k];
            if (p == chain.back())
                chain.push_back(q);
            else if (q == chain.front())
                chain.push_front(p);
            else if (q == chain.back())
                chain.push_back(p);
            else if (p == chain.front())
                chain.push_front(q);
            else
                continue;
            used[k] = 1;
            grown = true;
        }
    }
    if (chain.size() > 2 && chain.front() == chain.back()) {
        chain.pop_back();
        ringClosed = true;
    }
    nNeighbours = static_cast<int>(chain.size());
    neighbours.reset(new int[chain.size()]);
    std::copy(chain.begin(), chain.end(), neighbours.get());
}

void GLMeshPicking::printInfo(int i) const
{
    const MeshArrays mesh = model.arrays();
    if (i < 0 || i >= mesh.nVertices)
        return;
    const float *v = mesh.vertices + 3 * i;
    msg::note("Selected vertex n:\t%d,\t[%f %f %f]\n", i, v[0], v[1], v[2]);
    msg::note("\tvalence=%d\n", nNeighbours);
    for (const DataItem &item : model.items()) {
        msg::note("\t");
        item.print(i);
    }
}

void GLMeshPicking::notifyAdditionalClick(int x, int y)
{
    const int v = element.getVertex(x, y);
    if (v < 0) {
        nPicked = 0;
        return;
    }
    pickedVertices[nPicked++] = v;
    if (nPicked < 3)
        return;
    nPicked = 0;
    int picked[3] = {pickedVertices[0], pickedVertices[1], pickedVertices[2]};
    std::sort(picked, picked + 3);
    const MeshArrays mesh = model.arrays();
    const int *t = mesh.triangles;
    for (int i = 0; i < mesh.nTriangles; ++i) {
        int corners[3] = {t[3 * i], t[3 * i + 1], t[3 * i + 2]};
        std::sort(corners, corners + 3);
        if (std::equal(corners, corners + 3, picked)) {
            msg::note("triangle: %d\n", i);
            return;
        }
    }
}

void GLMeshPicking::notifyAdditionalClick(int x, int y, int mode)
{
    const int s = element.getSelectedVertex();
    if (s < 0 || s >= model.arrays().nVertices) {
        deletePath();
        return;
    }
    const int v = element.getVertex(x, y);
    if (v < 0) {
        deletePath();
        return;
    }
    printInfo(v);
    Matrix4 modelView = Matrix4::Identity;
    glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(modelView));
    // The viewer is wanted in the mesh's own coordinates, so the pose goes in too: a moved
    // mesh is then cut through the eye as an unmoved one.
    measurePath(v, mode, modelView * element.getPose());
}

const MeshAdjacency &GLMeshPicking::getAdjacency()
{
    if (!adjacency) {
        const MeshArrays a = model.arrays();
        const Point3 *points = reinterpret_cast<const Point3 *>(a.vertices);
        const Objet_data mesh(&a.nVertices, points, &a.nTriangles, a.triangles);
        adjacency = std::make_unique<MeshAdjacency>(mesh);
    }
    return *adjacency;
}

bool GLMeshPicking::measurePath(int to, int mode, const Matrix4 &objectToEye)
{
    deletePath();
    const int from = element.getSelectedVertex(), n = model.arrays().nVertices;
    if (from < 0 || from >= n || to < 0 || to >= n)
        return false;
    const MeshAdjacency &mesh = getAdjacency();
    if (!mode) {
        const Matrix3 r = objectToEye.getSubMatrix();
        const Point3 eye = (r.transpose() * objectToEye.getSubVector()) * -1.0f;
        pathOnMesh = chemin_plan(mesh, from, to, eye);
        // Reconstructed surfaces have holes: a section that cannot go on gives way to the
        // path along the edges.
        if (!pathOnMesh && from != to)
            msg::note("GLMeshObject: no plane section joins vertices %d and %d, measured along the edges instead\n",
                      from, to);
    }
    if (mode || (!pathOnMesh && from != to)) {
        pathOnMesh = chemin_aretes(mesh, from, to);
        if (!pathOnMesh->isConnected())
            msg::warning("GLMeshObject: vertices %d and %d are not connected, no path along the surface\n", from, to);
    }
    if (!pathOnMesh) {
        // The window shows no figures of a path that is gone.
        if (distancePanel)
            distancePanel->setPath(nullptr);
        return false;
    }
    if (!distancePanel && element.getHost())
        distancePanel.reset(element.getHost()->openDistanceWindow());
    if (distancePanel)
        distancePanel->setPath(pathOnMesh.get());
    element.postRedisplay();
    return true;
}

void GLMeshPicking::drawPath()
{
    if (!pathOnMesh || pathOnMesh->size() == 0 || !pathOnMesh->isConnected())
        return;
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_POINT_SMOOTH);
    glEnable(GL_LINE_SMOOTH);
    // The path lies in the surface: its depth is pulled a hair towards the viewer so that
    // the triangles it crosses do not hide it half of the time.
    glDepthFunc(GL_LEQUAL);
    glDepthRange(0, 0.9995);
    glMultMatrixf(element.getPose());
    glLineWidth(4);
    glColor3ub(0, 0, 255);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glVertexPointer(3, GL_FLOAT, 0, pathOnMesh->data());
    glEnableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDrawArrays(GL_LINE_STRIP, 0, pathOnMesh->size());
    glPopClientAttrib();
    glLineWidth(1);
    glPopMatrix();
    glPopAttrib();
}

void GLMeshPicking::drawSelectedPoint()
{
    const MeshArrays mesh = model.arrays();
    const int selected = element.getSelectedVertex();
    if (selected < 0 || selected >= mesh.nVertices)
        return;
    const float *v = mesh.vertices;
    auto vertex = [v](int i) { return Point3(v[3 * i], v[3 * i + 1], v[3 * i + 2]); };
    const Point3 s = vertex(selected);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glMultMatrixf(element.getPose());
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_LINE_SMOOTH);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glLineWidth(2);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glEnable(GL_POLYGON_OFFSET_LINE);
    glPolygonOffset(-1, -2);
    // The one-ring is a handful of vertices: immediate mode is the plain way to draw it.
    if (nNeighbours > 0) {
        glColor3ub(255, 0, 0);
        glBegin(GL_TRIANGLE_FAN);
        glVertex3fv(&v[3 * selected]);
        for (int k = 0; k < nNeighbours; ++k)
            glVertex3fv(&v[3 * neighbours[k]]);
        if (ringClosed)
            glVertex3fv(&v[3 * neighbours[0]]);
        glEnd();
        glPolygonOffset(-2, -4);
        glDepthFunc(GL_LEQUAL);
        glColor3ub(0, 0, 200);
        glBegin(GL_POLYGON);
        for (int k = 0; k < nNeighbours; ++k)
            glVertex3fv(&v[3 * neighbours[k]]);
        glEnd();
    }
    glDepthFunc(GL_LESS);
    glBegin(GL_LINES);
    if (mesh.normals) {
        const float length = model.display().normalLength;
        glColor3ub(255, 255, 0);
        glVertex3f(s.x, s.y, s.z);
        const Point3 e = s + mesh.normals[selected] * length;
        glVertex3f(e.x, e.y, e.z);
        glColor3ub(0, 255, 0);
        for (int k = 0; k < nNeighbours; ++k) {
            const Point3 a = vertex(neighbours[k]);
            const Point3 b = a + mesh.normals[neighbours[k]] * length;
            glVertex3f(a.x, a.y, a.z);
            glVertex3f(b.x, b.y, b.z);
        }
    }
    glEnd();
    glLineWidth(1);
    glPopMatrix();
    glPopAttrib();
}
