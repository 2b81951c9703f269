#include "objects/GLGraphObject.h"

#include "core/KeyCodes.h"

#include "math/Messages.h"
#include "objects/SizeStep.h"
#include "render/GLState.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

GL3DObject::DrawMethod method(void (GLGraphObject::*m)()) { return static_cast<GL3DObject::DrawMethod>(m); }

} // namespace

GLGraphObject::GLGraphObject(const char *path)
    : GL3DObject(GLObject::GRAPH), nEdges(0), selectedEdge(-1), pointSize(5.0f), lineWidth(1.0f),
      edgeColor{0, 1, 0, 1}, pointColor{1, 0, 0, 1}
{
    selectedVertex = -1;
    GraphData g = GraphReader::read(path);
    nVertices = g.nNodes;
    nodeStore = std::move(g.nodes);
    vertices = nodeStore.get();
    nEdges = g.nEdges;
    edges = std::move(g.edges);
    computeBoundingBox();
    resetClippingPlanes();
    setDrawData();
}

GLGraphObject::~GLGraphObject() { vertices = nullptr; }

void GLGraphObject::setEdgeColor(const double *c)
{
    for (int k = 0; k < 4; ++k)
        edgeColor[k] = static_cast<float>(c[k]);
}

void GLGraphObject::setPointColor(const double *c)
{
    for (int k = 0; k < 4; ++k)
        pointColor[k] = static_cast<float>(c[k]);
}

void GLGraphObject::getEdgeColor(double *c) const { std::copy(edgeColor, edgeColor + 4, c); }
void GLGraphObject::getPointColor(double *c) const { std::copy(pointColor, pointColor + 4, c); }

std::string GLGraphObject::getInformation() const
{
    return std::to_string(nVertices) + " points\n" + boxInformation(nullptr) + "\n";
}

void GLGraphObject::printInfo() const
{
    if (selectedVertex >= 0)
        msg::note("Selected vertex n:\t%d\n", selectedVertex);
    if (selectedEdge >= 0)
        msg::note("Selected edge n:\t%d\n", selectedEdge);
}

void GLGraphObject::setDrawData() { drawMethod = method(&GLGraphObject::drawData); }

float GLGraphObject::getMaxRadius() { return GL3DObject::getMaxRadius(); }

// --- Picking --------------------------------------------------------------------------------

void GLGraphObject::notifyClick(int x, int y)
{
    selectedVertex = getVertex(x, y);
    selectedEdge = selectedVertex >= 0 ? -1 : getEdge(x, y);
    printInfo();
}

int GLGraphObject::getEdge(int x, int y)
{
    Matrix4 modelView = Matrix4::Identity, projection = Matrix4::Identity;
    glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(modelView));
    glGetFloatv(GL_PROJECTION_MATRIX, static_cast<float *>(projection));
    GLint vp[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, vp);
    if (vp[2] <= 0 || vp[3] <= 0)
        return -1;
    const Matrix4 a = projection * modelView * pose;
    const float cx = 2.0f * (x - vp[0]) / vp[2] - 1, cy = 1 - 2.0f * (y - vp[1]) / vp[3];

    int best = -1;
    float bestDistance = INFINITY;
    float q1[4], q2[4];
    for (int e = 0; e < nEdges; ++e) {
        a.product(q1, &vertices[3 * edges[2 * e]]);
        a.product(q2, &vertices[3 * edges[2 * e + 1]]);
        // An end at or behind the eye has no place on the screen.
        if (!(q1[3] > 0) || !(q2[3] > 0))
            continue;
        const float p1x = q1[0] / q1[3], p1y = q1[1] / q1[3];
        const float dx = q2[0] / q2[3] - p1x, dy = q2[1] / q2[3] - p1y;
        const float length2 = dx * dx + dy * dy;
        if (!(length2 > 0))
            continue;
        // Where the click falls along the edge, 0 at its first end and 1 at its second.
        const float t = (dx * (cx - p1x) + dy * (cy - p1y)) / length2;
        if (!(t >= 0 && t <= 1))
            continue;
        const float cross = dx * (cy - p1y) - dy * (cx - p1x);
        const float distance = cross * cross / length2;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = e;
        }
    }
    return best;
}

// --- Keys -----------------------------------------------------------------------------------

const BindingTable &GLGraphObject::bindings()
{
    constexpr unsigned F = KeyBinding::REDRAW;
    static const KeyBinding rows[] = {
        {actionValue(Action::BIGGER_NODES), {'+'}, "+", "node size up", F},
        {actionValue(Action::SMALLER_NODES), {'-'}, "-", "node size down (0 hides them)", F},
        {actionValue(Action::DATA), {'1'}, "Data", "the graph", F},
        {actionValue(Action::DEPTH_BUFFER), {'3'}, "Zbuffer", "depth buffer shading", F},
        {actionValue(Action::WIDER_EDGES), {}, "+", "edge width up", F},
        {actionValue(Action::THINNER_EDGES), {}, "-", "edge width down (0 hides the edges)",
         F},
    };
    static const BindingTable table("graph", rows);
    return table;
}

int GLGraphObject::notifyKey(int key) { return notifyCommand(key); }

bool GLGraphObject::runAction(const KeyBinding &row)
{
    switch (static_cast<Action>(row.action)) {
    case Action::BIGGER_NODES:
    case Action::SMALLER_NODES:
        // Size 0 hides the nodes; OpenGL takes no smaller size.
        stepSize(pointSize, row.action == actionValue(Action::BIGGER_NODES), 0.0f, "pointSize");
        break;
    case Action::DATA:
        setDefaultDrawing();
        break;
    case Action::DEPTH_BUFFER:
        setDrawDepthBuffer();
        break;
    case Action::WIDER_EDGES:
    case Action::THINNER_EDGES:
        stepSize(lineWidth, row.action == actionValue(Action::WIDER_EDGES), 0.0f, "lineSize");
        break;
    }
    return true;
}

// --- Drawing --------------------------------------------------------------------------------

void GLGraphObject::defaultDrawing() { drawData(); }

void GLGraphObject::drawData()
{
    pushPoseAndArrays(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POINT_BIT | GL_LINE_BIT |
                          GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT,
                      pose);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_POINT_SMOOTH);
    glEnable(GL_LINE_SMOOTH);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);

    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vertices);
    // Sizes of 0 hide nodes or edges (OpenGL refuses them).
    if (pointSize > 0) {
        glPointSize(pointSize);
        glColor4fv(pointColor);
        glDrawArrays(GL_POINTS, 0, nVertices);
    }
    if (lineWidth > 0 && nEdges > 0) {
        glLineWidth(lineWidth);
        glColor4fv(edgeColor);
        glDrawElements(GL_LINES, 2 * nEdges, GL_UNSIGNED_INT, edges.get());
    }
    glDisableClientState(GL_VERTEX_ARRAY);

    glColor3f(0, 0, 0);
    if (selectedVertex >= 0 && selectedVertex < nVertices) {
        glPointSize(pointSize + 2);
        glBegin(GL_POINTS);
        glVertex3fv(vertices + 3 * selectedVertex);
        glEnd();
    }
    if (selectedEdge >= 0 && selectedEdge < nEdges) {
        glDisable(GL_DEPTH_TEST);
        glLineWidth(lineWidth + 2);
        glBegin(GL_LINES);
        glVertex3fv(vertices + 3 * edges[2 * selectedEdge]);
        glVertex3fv(vertices + 3 * edges[2 * selectedEdge + 1]);
        glEnd();
    }
    glLineWidth(1);
    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
}
