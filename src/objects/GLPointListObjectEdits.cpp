// The point cloud's selections and edits: window shapes, hiding, deleting and undoing, and the
// marks of the selected points.
#include "objects/GLPointListObject.h"

#include "math/Messages.h"
#include "render/GLState.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>

namespace {

// The colour of the selected points: a yellow no colour map of ours ends with.
const unsigned char kMarked[3] = {255, 230, 0};

} // namespace

bool GLPointListObject::isDrawn(size_t i, const float *values, bool cut) const
{
    if (cut && !withinThresholds(values[i]))
        return false;
    if (edits.getHidden().empty() && edits.getDeleted().empty())
        return true;
    const int f = getFileIndex(static_cast<int>(i));
    return f >= 0 && edits.isShown(static_cast<size_t>(f));
}

void GLPointListObject::selectInWindow(const std::vector<Point2> &shape, bool lasso, SelectMode mode)
{
    const size_t n = static_cast<size_t>(std::max(0, nVertices));
    if (n == 0 || lastViewport[0] <= 0 || lastViewport[1] <= 0 || shape.size() < (lasso ? 3u : 2u))
        return;
    // The rule decides the points in their stored order; the selection keeps file indices.
    ElementSelection inside;
    if (lasso)
        SelectionRules::lasso(vertices, n, frameMvp, lastViewport[0], lastViewport[1], shape, inside, SelectMode::Replace);
    else
        SelectionRules::rectangle(vertices, n, frameMvp, lastViewport[0], lastViewport[1], shape[0], shape[1], inside,
                                  SelectMode::Replace);
    if (mode == SelectMode::Replace)
        selection.clear();
    const float *v = getValues();
    const bool cut = thresholdsCut(v);
    for (size_t i : inside) {
        if (!isDrawn(i, v, cut))
            continue;
        const int f = getFileIndex(static_cast<int>(i));
        if (f < 0)
            continue;
        if (mode == SelectMode::Subtract)
            selection.remove(static_cast<size_t>(f));
        else
            selection.add(static_cast<size_t>(f));
    }
    selectionChanged();
}

void GLPointListObject::editsChanged()
{
    indicesStale = true;
    markedStale = true;
    // The sample held while the hierarchy is built is uploaded again without the points gone.
    heldUploaded = false;
    postRedisplay();
}

size_t GLPointListObject::hideSelected()
{
    const size_t n = edits.hide(selection);
    selection.clear();
    editsChanged();
    return n;
}

size_t GLPointListObject::deleteSelected()
{
    const size_t n = edits.remove(selection);
    selection.clear();
    editsChanged();
    return n;
}

size_t GLPointListObject::keepSelected()
{
    const size_t n = edits.keepOnly(selection);
    selection.clear();
    editsChanged();
    return n;
}

bool GLPointListObject::undoDelete()
{
    const bool undone = edits.undo();
    editsChanged();
    return undone;
}

bool GLPointListObject::redoDelete()
{
    const bool redone = edits.redo();
    editsChanged();
    return redone;
}

void GLPointListObject::growSelection(float radius)
{
    const size_t n = static_cast<size_t>(std::max(0, nVertices));
    // The grid works on the stored order: the selection goes there and back.
    ElementSelection stored(n);
    std::vector<int> fileOf(n);
    for (size_t i = 0; i < n; ++i) {
        fileOf[i] = getFileIndex(static_cast<int>(i));
        if (fileOf[i] >= 0 && selection.contains(static_cast<size_t>(fileOf[i])))
            stored.add(i);
    }
    SelectionRules::grow(vertices, n, radius, stored);
    for (size_t i : stored)
        if (fileOf[i] >= 0 && edits.isShown(static_cast<size_t>(fileOf[i])))
            selection.add(static_cast<size_t>(fileOf[i]));
    selectionChanged();
}

void GLPointListObject::setSelectTool(int tool)
{
    selectTool = tool < 0 || tool > 2 ? 0 : tool;
    dragShape.clear();
    static const char *const names[] = {"off", "rectangle", "lasso"};
    msg::note("GLPointListObject: selection tool %s\n", names[selectTool]);
}

void GLPointListObject::notifyWindowDrag(const InputEvent &event, int x, int y)
{
    const Point2 at(static_cast<float>(x), static_cast<float>(y));
    if (event.phase == InputEvent::Phase::Press) {
        dragShape.assign(1, at);
        dragModifiers = event.modifiers;
    } else if (!dragShape.empty()) {
        if (selectTool == 2)
            dragShape.push_back(at);
        else
            dragShape.resize(1), dragShape.push_back(at);
    }
    if (event.isRelease() && !dragShape.empty()) {
        const SelectMode mode = (dragModifiers & InputEvent::CONTROL) ? SelectMode::Subtract
                                : (dragModifiers & InputEvent::SHIFT) ? SelectMode::Add
                                                                      : SelectMode::Replace;
        selectInWindow(dragShape, selectTool == 2, mode);
        dragShape.clear();
        msg::note("GLPointListObject: %zu points selected\n", selection.count());
    }
    postRedisplay();
}

void GLPointListObject::drawMarked()
{
    if (markedStale) {
        markedStale = false;
        markedPoints.clear();
        const size_t n = static_cast<size_t>(std::max(0, nVertices));
        for (size_t i = 0; i < n; ++i) {
            const int f = getFileIndex(static_cast<int>(i));
            if (f >= 0 && selection.contains(static_cast<size_t>(f)) && edits.isShown(static_cast<size_t>(f)))
                markedPoints.insert(markedPoints.end(), vertices + 3 * i, vertices + 3 * i + 3);
        }
    }
    if (markedPoints.empty())
        return;
    // Drawn again at the same depth, a little larger: the marks win against the points.
    glPushAttrib(GL_DEPTH_BUFFER_BIT | GL_POINT_BIT | GL_CURRENT_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glDepthFunc(GL_LEQUAL);
    glPointSize(pointSize + 1);
    glColor3ubv(kMarked);
    glDisableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glVertexPointer(3, GL_FLOAT, 0, markedPoints.data());
    glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(markedPoints.size() / 3));
    glPopClientAttrib();
    glPopAttrib();
}

void GLPointListObject::drawDragShape()
{
    if (dragShape.size() < 2 || lastViewport[0] <= 0 || lastViewport[1] <= 0)
        return;
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    // Window pixels with y downwards, as the mouse gives them.
    glOrtho(0, lastViewport[0], lastViewport[1], 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glColor3ubv(kMarked);
    glBegin(GL_LINE_LOOP);
    if (selectTool == 2) {
        for (const Point2 &p : dragShape)
            glVertex2f(p.x, p.y);
    } else {
        const Point2 a = dragShape.front(), b = dragShape.back();
        glVertex2f(a.x, a.y);
        glVertex2f(b.x, a.y);
        glVertex2f(b.x, b.y);
        glVertex2f(a.x, b.y);
    }
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}
