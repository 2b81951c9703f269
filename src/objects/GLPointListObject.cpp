#include "objects/GLPointListObject.h"

#include "core/KeyCodes.h"
#include "formats/ColorMap.h"
#include "math/Messages.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

GL3DObject::DrawMethod method(void (GLPointListObject::*m)()) { return static_cast<GL3DObject::DrawMethod>(m); }

bool endsWith(const char *path, const char *ext)
{
    const size_t n = std::strlen(path), e = std::strlen(ext);
    return n >= e && std::strcmp(path + n - e, ext) == 0;
}

} // namespace

// --- Buffers --------------------------------------------------------------------------------

GLPointListObject::Buffer::~Buffer() { release(); }

void GLPointListObject::Buffer::release()
{
    if (name)
        glDeleteBuffers(1, &name);
    name = 0;
}

void GLPointListObject::Buffer::upload(unsigned target, const void *data, size_t bytes)
{
    if (!name)
        glGenBuffers(1, &name);
    glBindBuffer(target, name);
    glBufferData(target, static_cast<GLsizeiptr>(bytes), data, GL_STATIC_DRAW);
    glBindBuffer(target, 0);
}

void GLPointListObject::Buffer::bind(unsigned target) const { glBindBuffer(target, name); }

// --- Construction ---------------------------------------------------------------------------

GLPointListObject::GLPointListObject(const char *path) : GL3DObject(GLObject::POINTLIST)
{
    initVariables();
    if (path && endsWith(path, "bin"))
        readBIN(path);
    else if (path && endsWith(path, "las"))
        readLAS(path);
    else
        throw std::runtime_error("can't recognize extension\n");
    resetClippingPlanes();
    setDrawData();
}

GLPointListObject::GLPointListObject(const PointListRecord *record) : GL3DObject(GLObject::POINTLIST)
{
    initVariables();
    PointListData d = PointListReader::fromRecord(record);
    adopt(d);
    resetClippingPlanes();
    setDrawData();
}

GLPointListObject::~GLPointListObject()
{
    vertices = nullptr;
    colors = nullptr;
}

void GLPointListObject::initVariables()
{
    selectedVertex = -1;
    valueMin = valueMax = 0;
    thresholdLow = thresholdHigh = 0;
    pointSize = 1.0f;
    colorMapIndex = 0;
    nUnordered = 0;
    nIndices = -1;
    colorsStale = false;
    pointsUploaded = colorsUploaded = false;
    indicesStale = true;
}

void GLPointListObject::readBIN(const char *path)
{
    PointListData d = PointListReader::readBIN(path);
    adopt(d);
}

void GLPointListObject::readLAS(const char *path)
{
    PointListData d = PointListReader::readLAS(path);
    adopt(d);
}

void GLPointListObject::adopt(PointListData &d)
{
    const size_t n = static_cast<size_t>(d.nPoints);
    nVertices = d.nPoints;
    pointStore = std::move(d.points);
    vertices = pointStore.get();
    // The reader took the box while reading: no second pass over the points.
    const PointBounds &b = d.bounds;
    bbMin = Point3(b.lo[0], b.lo[1], b.lo[2]);
    bbMax = Point3(b.hi[0], b.hi[1], b.hi[2]);
    center = (bbMin + bbMax) * 0.5f;
    values = std::move(d.values);
    valueName = d.valueName;
    ownColorStore.reset();
    showOwnColors = false;
    if (values) {
        colorStore = allocateLargeArray<unsigned char>(3 * n);
        if (d.colors) {
            // Both: the cloud's own colours first, the values one key away.
            ownColorStore = std::move(d.colors);
            showOwnColors = true;
        }
        float lo = b.valueLo, hi = b.valueHi;
        // Only NaN: an empty range at 0, and nothing is ever drawn.
        if (!(lo <= hi))
            lo = hi = 0;
        valueMin = thresholdLow = lo;
        valueMax = thresholdHigh = hi;
        nUnordered = static_cast<int>(b.nUnordered);
        colorsStale = true;
    } else {
        colorStore = std::move(d.colors);
        colorsStale = false;
        nUnordered = 0;
    }
    colors = showOwnColors ? ownColorStore.get() : colorStore.get();
    selectedVertex = -1;
    pointsUploaded = colorsUploaded = false;
    indicesStale = true;
}

bool GLPointListObject::setValues(const char *name, const float *v, int n)
{
    if (n != nVertices || n <= 0 || !v)
        return false;
    const size_t count = static_cast<size_t>(n);
    if (!values) {
        ownColorStore = std::move(colorStore);
        colorStore = allocateLargeArray<unsigned char>(3 * count);
    }
    values = allocateLargeArray<float>(count);
    std::copy(v, v + count, values.get());
    valueName = name ? name : "";
    float lo = std::numeric_limits<float>::infinity(), hi = -lo;
    nUnordered = 0;
    for (size_t i = 0; i < count; ++i) {
        nUnordered += std::isnan(v[i]) ? 1 : 0;
        lo = std::min(lo, v[i]);
        hi = std::max(hi, v[i]);
    }
    if (!(lo <= hi))
        lo = hi = 0;
    valueMin = thresholdLow = lo;
    valueMax = thresholdHigh = hi;
    showOwnColors = false;
    colors = colorStore.get();
    colorsStale = indicesStale = true;
    colorsUploaded = false;
    setDrawData();
    postRedisplay();
    return true;
}

// --- Colours and legend ---------------------------------------------------------------------

void GLPointListObject::updateColorMap()
{
    if (!values)
        return;
    const ColorMap::ColorFunction f = ColorMap::selectColorMap(colorMapIndex);
    const float *v = values.get();
    unsigned char *mapped = colorStore.get();
    for (int i = 0; i < nVertices; ++i)
        f(mapped + 3 * static_cast<size_t>(i), v[i], valueMin, valueMax);
    colorsStale = false;
    colorsUploaded = false;
}

const unsigned char *GLPointListObject::getColors()
{
    if (colorsStale)
        updateColorMap();
    return colors;
}

void GLPointListObject::setColorMap(int i)
{
    const int m = ((i % ColorMap::nColorMaps) + ColorMap::nColorMaps) % ColorMap::nColorMaps;
    if (m == colorMapIndex)
        return;
    colorMapIndex = m;
    if (values) {
        colorsStale = true;
        const ColorMap::ColorFunction f = ColorMap::selectColorMap(colorMapIndex);
        legend.clearData();
        legend.add(f, valueMin, valueMax, thresholdLow, thresholdHigh, 15, 2);
    }
    postRedisplay();
}

void GLPointListObject::setDrawData()
{
    drawMethod = method(&GLPointListObject::drawData);
    if (values) {
        legend.clear();
        legend.setTitle(valueName.c_str());
        legend.add(ColorMap::selectColorMap(colorMapIndex), valueMin, valueMax, 15, 2);
    }
}

bool GLPointListObject::setShowOwnColors(bool on)
{
    if (!ownColorStore || !values)
        return false;
    showOwnColors = on;
    colors = on ? ownColorStore.get() : colorStore.get();
    colorsUploaded = false;
    msg::note("GLPointListObject: %s\n", on ? "point colours" : valueName.c_str());
    return true;
}

// --- Queries --------------------------------------------------------------------------------

void GLPointListObject::centerObject(Point3 c)
{
    GL3DObject::centerObject(c);
    pointsUploaded = false;
}

Point3 GLPointListObject::getOrigin() const
{
    if (selectedVertex >= 0 && selectedVertex < nVertices)
        return Point3(vertices[3 * selectedVertex], vertices[3 * selectedVertex + 1], vertices[3 * selectedVertex + 2]);
    return center;
}

std::string GLPointListObject::getInformation() const
{
    char text[512];
    std::snprintf(text, sizeof text, "%d points\nbounding box:\n[%2.1f,%2.1f,%2.1f]\n[%2.1f,%2.1f,%2.1f]\n\n",
                  nVertices, bbMin.x, bbMin.y, bbMin.z, bbMax.x, bbMax.y, bbMax.z);
    return text;
}

float GLPointListObject::getMaxRadius() { return GL3DObject::getMaxRadius(); }

int GLPointListObject::getVisibleCount() const
{
    if (!values)
        return nVertices;
    int n = 0;
    for (int i = 0; i < nVertices; ++i)
        n += values[i] >= thresholdLow;
    return n;
}

// --- Events ---------------------------------------------------------------------------------

void GLPointListObject::notifyClick(int x, int y)
{
    selectedVertex = getVertex(x, y);
    if (selectedVertex >= 0) {
        const float *p = vertices + 3 * selectedVertex;
        msg::note("Selected vertex n:\t%d,\t[%f %f %f]\n", selectedVertex, p[0], p[1], p[2]);
    }
}

const BindingTable &GLPointListObject::bindings()
{
    constexpr unsigned F = KeyBinding::BUSY | KeyBinding::REDRAW;
    static const KeyBinding rows[] = {
        {actionValue(Action::BIGGER_POINTS), {'+'}, "+", "point size up", F},
        {actionValue(Action::SMALLER_POINTS), {'-'}, "-", "point size down (0 hides them)", F},
        {actionValue(Action::LOWER_THRESHOLD), {'<', ','}, nullptr, "lower threshold down", F},
        {actionValue(Action::HIGHER_THRESHOLD), {'>', '.'}, nullptr, "lower threshold up", F},
        {actionValue(Action::DATA), {'1'}, "Data", "the points in their colours", F},
        {actionValue(Action::DEPTH_BUFFER), {'2'}, "Zbuffer", "depth buffer shading", F},
        {actionValue(Action::OWN_COLORS), {'3'}, nullptr, "its colours or its values", F},
        nextColorMapRow(Action::NEXT_COLOR_MAP, F),
        previousColorMapRow(Action::PREVIOUS_COLOR_MAP, F),
    };
    static const BindingTable table("point cloud", rows);
    return table;
}

bool GLPointListObject::stepColorMap(int step)
{
    setColorMap(colorMapIndex + step);
    return true;
}

bool GLPointListObject::runAction(const KeyBinding &row)
{
    const float step = (valueMax - valueMin) / 100;
    switch (static_cast<Action>(row.action)) {
    case Action::BIGGER_POINTS:
    case Action::SMALLER_POINTS:
        // Size 0 hides the points; OpenGL takes no smaller size.
        pointSize = std::max(0.0f, pointSize + (row.action == actionValue(Action::BIGGER_POINTS) ? 1.0f : -1.0f));
        msg::note("\rpointSize @ %2.2f", pointSize);
        break;
    case Action::LOWER_THRESHOLD:
        thresholdLow -= step;
        indicesStale = true;
        break;
    case Action::HIGHER_THRESHOLD:
        thresholdLow += step;
        indicesStale = true;
        break;
    case Action::DATA:
        setDefaultDrawing();
        break;
    case Action::DEPTH_BUFFER:
        setDrawDepthBuffer();
        break;
    case Action::OWN_COLORS:
        return setShowOwnColors(!showOwnColors);
    case Action::NEXT_COLOR_MAP:
    case Action::PREVIOUS_COLOR_MAP:
        return stepColorMap(row.action == actionValue(Action::NEXT_COLOR_MAP) ? 1 : -1);
    }
    return true;
}

// --- Drawing --------------------------------------------------------------------------------

void GLPointListObject::prepareBuffers()
{
    const size_t n = static_cast<size_t>(nVertices);
    if (!pointsUploaded) {
        pointBuffer.upload(GL_ARRAY_BUFFER, vertices, 3 * sizeof(float) * n);
        pointsUploaded = true;
    }
    if (colorsStale)
        updateColorMap();
    if (!colorsUploaded) {
        colorBuffer.upload(GL_ARRAY_BUFFER, colors, 3 * n);
        colorsUploaded = true;
    }
    if (!indicesStale)
        return;
    indicesStale = false;
    if (!values || (thresholdLow <= valueMin && nUnordered == 0)) {
        // Every point shown: no index list at all.
        nIndices = -1;
        indexBuffer.release();
        return;
    }
    std::vector<unsigned> shown;
    const float *v = values.get();
    for (size_t i = 0; i < n; ++i)
        if (v[i] >= thresholdLow)
            shown.push_back(static_cast<unsigned>(i));
    nIndices = static_cast<int>(shown.size());
    indexBuffer.upload(GL_ELEMENT_ARRAY_BUFFER, shown.data(), shown.size() * sizeof(unsigned));
}

void GLPointListObject::defaultDrawing() { drawData(); }

void GLPointListObject::drawData()
{
    if (nVertices <= 0)
        return;
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POINT_BIT | GL_DEPTH_BUFFER_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(static_cast<const float *>(pose));
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(GL_SMOOTH);

    prepareBuffers();
    if (pointSize > 0 && nIndices != 0) {
        glPointSize(pointSize);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        pointBuffer.bind(GL_ARRAY_BUFFER);
        glVertexPointer(3, GL_FLOAT, 0, nullptr);
        colorBuffer.bind(GL_ARRAY_BUFFER);
        glColorPointer(3, GL_UNSIGNED_BYTE, 0, nullptr);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        if (nIndices < 0) {
            glDrawArrays(GL_POINTS, 0, nVertices);
        } else {
            indexBuffer.bind(GL_ELEMENT_ARRAY_BUFFER);
            glDrawElements(GL_POINTS, nIndices, GL_UNSIGNED_INT, nullptr);
            glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        }
    }
    glPopClientAttrib();

    if (selectedVertex >= 0 && selectedVertex < nVertices) {
        // Drawn again at the same depth: it must win against the point itself.
        glDepthFunc(GL_LEQUAL);
        glPointSize(5);
        glColor3ub(255, 0, 0);
        glBegin(GL_POINTS);
        glVertex3fv(vertices + 3 * selectedVertex);
        glEnd();
    }
    glPopMatrix();
    glPopAttrib();
}

void GLPointListObject::drawInfo()
{
    if (values && !showOwnColors && drawMethod != &GL3DObject::drawDepthBuffer)
        legend.draw(10, 10);
}
