#include "objects/GLSMeshObject.h"

#include "core/KeyCodes.h"
#include "math/Messages.h"
#include "math/VertexNormals.h"
#include "objects/SimplexDual.h"
#include "formats/SimplexMeshReader.h"

#include <GL/gl.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

GL3DObject::DrawMethod method(void (GLSMeshObject::*m)()) { return static_cast<GL3DObject::DrawMethod>(m); }

} // namespace

GLSMeshObject::GLSMeshObject(const char *file, const char *kind)
    : GLMeshObject(), nDualVertices(0), nDualTriangles(0), readAsSOFF(false)
{
    setPath(file);
    selectedVertex = -1;
    if (!kind)
        readMesh(file);
    else if (std::strcmp(kind, "off") == 0)
        readSOFF(file);
    open();
}

GLSMeshObject::GLSMeshObject(const char *file, MeshData &&mesh, bool off)
    : GLMeshObject(), nDualVertices(0), nDualTriangles(0), readAsSOFF(off)
{
    setPath(file);
    selectedVertex = -1;
    adopt(mesh);
    open();
}

void GLSMeshObject::open()
{
    initDisplayLists();
    computeBoundingBox();
    computeColors();
    // The empty mesh starts with material 0; a "MAT0" block of the file replaced it and stays.
    resetClippingPlanes();
    setDrawTriangles();
    msg::note("%d triangles, %d vertex\n", getArrays().nTriangles, nVertices);
}

GLSMeshObject::~GLSMeshObject() = default;

void GLSMeshObject::readMesh(const char *file)
{
    MeshData g = SimplexMeshReader::readMesh(file);
    adopt(g);
    readAsSOFF = false;
}

void GLSMeshObject::readSOFF(const char *file)
{
    MeshData g = SimplexMeshReader::readSOFF(file);
    adopt(g);
    readAsSOFF = true;
}

void GLSMeshObject::reload()
{
    try {
        const char *name = getPath().c_str();
        MeshData g = readAsSOFF ? SimplexMeshReader::readSOFF(name) : SimplexMeshReader::readMesh(name);
        adopt(g);
        initDisplayLists();
    } catch (const std::exception &) {
        // As for a triangle mesh: a refused file leaves the mesh empty.
        msg::error("GLSMeshObject: unable to reload %s\n", getPath().c_str());
        freeData();
        initDisplayLists();
        return;
    }
    computeBoundingBox();
    computeColors();
    msg::note("%d triangles, %d vertex\n", getArrays().nTriangles, nVertices);
}

// --- The dual surface -----------------------------------------------------------------------

std::vector<int> GLSMeshObject::computeSimplexEdges() const
{
    const MeshArrays a = getArrays();
    return SimplexDual::links(a.triangles, a.nTriangles, nVertices, getPath().c_str());
}

void GLSMeshObject::simplex2Tri(const int *next)
{
    const int n = getArrays().nTriangles;
    SimplexDual dual = SimplexDual::faces(next, vertices, n, getPath().c_str());
    cornerFace = std::move(dual.cornerFace);
    dualVertices = std::move(dual.dualVertices);
    nDualVertices = static_cast<int>(dualVertices.size());
    nDualTriangles = n;
}

void GLSMeshObject::computeNormals(Point3 *out) const
{
    const auto corner = [this](int i) { return dualVertices[static_cast<size_t>(i)]; };
    vertexNormals(static_cast<size_t>(std::max(nDualVertices, 0)), cornerFace.data(),
                  static_cast<size_t>(std::max(nDualTriangles, 0)), corner, out);
}

void GLSMeshObject::initDisplayLists()
{
    cornerFace.clear();
    dualVertices.clear();
    dualNormals.clear();
    edgeList.clear();
    nDualVertices = nDualTriangles = 0;
    const MeshArrays a = getArrays();
    if (a.nTriangles <= 0)
        return;
    const std::vector<int> next = computeSimplexEdges();
    simplex2Tri(next.data());
    dualNormals.assign(static_cast<size_t>(nDualVertices), Point3(0, 0, 0));
    computeNormals(dualNormals.data());
    const int *neighbours = a.triangles;
    for (int i = 0; i < a.nTriangles; ++i)
        for (int k = 0; k < 3; ++k)
            if (i < neighbours[3 * i + k]) {
                edgeList.push_back(i);
                edgeList.push_back(neighbours[3 * i + k]);
            }
}

// --- Drawing --------------------------------------------------------------------------------

void GLSMeshObject::setDrawTriangles() { drawMethod = method(&GLSMeshObject::drawTriangles); }
void GLSMeshObject::setDrawEdges() { drawMethod = method(&GLSMeshObject::drawEdges); }
void GLSMeshObject::setDrawData()
{
    if (colors && getNDataItems() > 0)
        drawMethod = method(&GLSMeshObject::drawData);
}

bool GLSMeshObject::isData3DVector() const
{
    return getNDataItems() > 0 && getDataItem(getCurrentDataItem()).getNElements() == 3 * nVertices;
}

void GLSMeshObject::beginDraw()
{
    computeClippingPlanes();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(pose);
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_POLYGON_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT |
                 GL_LINE_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glEnable(GL_RESCALE_NORMAL); // a pose that scales keeps the shading
    setClippingPlanes();
}

void GLSMeshObject::endDraw()
{
    glPopClientAttrib();
    glPopAttrib();
    glPopMatrix();
}

void GLSMeshObject::drawDualSurface()
{
    if (nDualTriangles <= 0)
        return;
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(Point3), dualVertices.data());
    glNormalPointer(GL_FLOAT, sizeof(Point3), dualNormals.data());
    glDrawElements(GL_TRIANGLES, 3 * nDualTriangles, GL_UNSIGNED_INT, cornerFace.data());
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

void GLSMeshObject::drawTriangles()
{
    glPushAttrib(GL_POLYGON_BIT);
    if (getDisplay().wireFrame) {
        drawEdges();
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(1, 2);
    }
    drawShade();
    glPopAttrib();
    drawSelectedPoint();
}

void GLSMeshObject::setSurfaceState()
{
    glEnable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glShadeModel(GL_SMOOTH);
    glDisable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT, GL_FILL);
    getDisplay().material.set();
}

void GLSMeshObject::drawShade()
{
    beginDraw();
    setSurfaceState();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    drawDualSurface();
    endDraw();
}

void GLSMeshObject::drawEdges()
{
    beginDraw();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(GL_FLAT);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    const MeshDisplay &shown = getDisplay();
    if (shown.material.wireColor[3] < 1) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    glLineWidth(shown.wireSize > 0 ? shown.wireSize : 1);
    glColor4fv(shown.material.wireColor);
    drawSimplexEdges();
    endDraw();
}

void GLSMeshObject::drawSimplexEdges()
{
    if (edgeList.empty())
        return;
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vertices);
    glDrawElements(GL_LINES, static_cast<GLsizei>(edgeList.size()), GL_UNSIGNED_INT, edgeList.data());
    glDisableClientState(GL_VERTEX_ARRAY);
    glPopClientAttrib();
}

void GLSMeshObject::drawData()
{
    if (colors && !edgeList.empty()) {
        beginDraw();
        glDisable(GL_BLEND);
        glDisable(GL_LIGHTING);
        glEnable(GL_DEPTH_TEST);
        glDisable(GL_TEXTURE_2D);
        glShadeModel(GL_SMOOTH);
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glVertexPointer(3, GL_FLOAT, 0, vertices);
        glColorPointer(3, GL_UNSIGNED_BYTE, 0, colors);
        glDrawElements(GL_LINES, static_cast<GLsizei>(edgeList.size()), GL_UNSIGNED_INT, edgeList.data());
        glDisableClientState(GL_COLOR_ARRAY);
        glDisableClientState(GL_VERTEX_ARRAY);
        // The surface in grey behind the coloured edges.
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(1, 2);
        glColor3f(0.5f, 0.5f, 0.5f);
        drawDualSurface();
        endDraw();
    }
    drawSelectedPoint();
}

void GLSMeshObject::defaultDrawing()
{
    beginDraw();
    setSurfaceState();
    drawDualSurface();
    endDraw();
}

void GLSMeshObject::drawShadow(float *plane, float *light, float *color)
{
    if (nDualTriangles <= 0)
        return;
    beginShadowPass(plane, light, color);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    drawDualSurface();
    glPopClientAttrib();
    endShadowPass();
}

void GLSMeshObject::drawSelectedPoint()
{
    if (selectedVertex < 0 || selectedVertex >= nVertices)
        return;
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_POINT_BIT);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(pose);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glColor3ub(255, 0, 0);
    glPointSize(5);
    glBegin(GL_POINTS);
    glVertex3fv(vertices + 3 * selectedVertex);
    glEnd();
    glPointSize(1);
    glPopMatrix();
    glPopAttrib();
}

void GLSMeshObject::drawInfo()
{
    if (drawMethod == method(&GLSMeshObject::drawData))
        legend.draw(10, 10);
}

// --- Picking and commands -------------------------------------------------------------------

void GLSMeshObject::notifyClick(int x, int y)
{
    selectedVertex = getVertex(x, y);
    if (selectedVertex >= 0)
        printInfo(selectedVertex);
}

void GLSMeshObject::printInfo(int i) const
{
    if (i < 0 || i >= nVertices)
        return;
    msg::note("Selected vertex n:\t%d\n", i);
    for (int k = 0; k < getNDataItems(); ++k) {
        msg::note("\t");
        getDataItem(k).print(i);
    }
}

Point3 GLSMeshObject::getOrigin() const
{
    // Where the object is shown: a moved object turns the view about its moved point.
    if (selectedVertex >= 0 && selectedVertex < nVertices)
        return pose * Point3(vertices[3 * selectedVertex], vertices[3 * selectedVertex + 1], vertices[3 * selectedVertex + 2]);
    return pose * center;
}

const BindingTable &GLSMeshObject::bindings()
{
    using A = GLMeshObject::Action;
    static const KeyBinding rows[] = {
        {actionValue(A::WIRE_FRAME), {'1', KeyCode::AZERTY_1}, "Wire", "edges over the surface on/off",
         KeyBinding::REDRAW},
        {actionValue(A::SHADE), {'2', KeyCode::AZERTY_2}, "Shade", "the surface", KeyBinding::REDRAW},
        // No texture coordinates: the texture modes show the plain surface, as a triangle
        // mesh without texture does.
        {actionValue(A::TEXTURE), {'3', KeyCode::AZERTY_3, '9'}, "Texture", "the surface (no texture)",
         KeyBinding::REDRAW},
        {actionValue(A::DATA), {'5', '7'}, "Data", "data colours along the edges", KeyBinding::REDRAW},
        {actionValue(A::DEPTH_BUFFER), {'6'}, "Zbuffer", "depth buffer shading", KeyBinding::REDRAW},
    };
    static const BindingTable table("simplex mesh", rows, &GLMeshObject::bindings());
    return table;
}

bool GLSMeshObject::runAction(const KeyBinding &row)
{
    if (!bindings().owns(row))
        return GLMeshObject::runAction(row);
    switch (static_cast<GLMeshObject::Action>(row.action)) {
    case Action::WIRE_FRAME:
        toggleWireFrame();
        break;
    case Action::SHADE:
    case Action::TEXTURE:
        setDrawTriangles();
        break;
    case Action::DATA:
        setDrawData();
        break;
    case Action::DEPTH_BUFFER:
        setDrawDepthBuffer();
        break;
    default:
        return false;
    }
    return true;
}
