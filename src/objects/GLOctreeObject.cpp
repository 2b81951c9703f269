#include "objects/GLOctreeObject.h"

#include "core/KeyCodes.h"
#include "formats/ColorMap.h"
#include "formats/VolumeReader.h"
#include "math/Messages.h"
#include "objects/SizeStep.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

namespace {

GL3DObject::DrawMethod method(void (GLOctreeObject::*m)()) { return static_cast<GL3DObject::DrawMethod>(m); }

int coordinate(const Pointsi &p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

// Range of a set of values; (0, 0) when there is none or only NaN.
void rangeOf(const float *v, size_t n, float &lo, float &hi)
{
    lo = std::numeric_limits<float>::infinity();
    hi = -lo;
    for (size_t i = 0; i < n; ++i) {
        lo = std::min(lo, v[i]);
        hi = std::max(hi, v[i]);
    }
    if (!(lo <= hi))
        lo = hi = 0;
}

} // namespace

GLOctreeObject::GLOctreeObject(const char *path, int maxTextureSide)
    : GLOctreeObject(OctreeReader::read(path), maxTextureSide)
{
}

GLOctreeObject::GLOctreeObject(OctreeData data, int maxTextureSide)
    : GLSlicedObject(GLObject::OCTREE, 1, actionValue(Action::X_PLANE)), octree(std::move(data))
{
    completeLoading(maxTextureSide);
}

GLOctreeObject::~GLOctreeObject()
{
    if (cubeList >= 0)
        glDeleteLists(static_cast<GLuint>(cubeList), 1);
    vertices = nullptr;
    colors = nullptr;
}

void GLOctreeObject::completeLoading(int maxTextureSide)
{
    const int levels = octree.levels;
    msg::note("[");
    for (int d = 0; d <= levels; ++d)
        msg::note("%d ", static_cast<int>(octree.leaves[static_cast<size_t>(d)].size()));
    msg::note("]\n");

    const std::vector<Pointsi> &finest = octree.leaves[static_cast<size_t>(levels)];
    nVertices = static_cast<int>(finest.size());
    vertexStore.reset(new float[3 * finest.size() + 1]);
    colorStore.reset(new unsigned char[3 * finest.size() + 1]());
    vertices = vertexStore.get();
    colors = colorStore.get();
    int grid[3] = {0, 0, 0};
    for (size_t i = 0; i < finest.size(); ++i)
        for (int k = 0; k < 3; ++k) {
            const int c = coordinate(finest[i], k);
            vertices[3 * i + static_cast<size_t>(k)] = octree.origin[k] + (c + 0.5f) * octree.voxelSize[k];
            grid[k] = std::max(grid[k], c + 1);
        }
    // Without finest leaves the coarser ones give the extent, so that they can still be shown.
    if (finest.empty())
        for (int d = 0; d < levels; ++d)
            for (const Pointsi &p : octree.leaves[static_cast<size_t>(d)])
                for (int k = 0; k < 3; ++k)
                    grid[k] = std::max(grid[k], coordinate(p, k) + (1 << (levels - d)));
    msg::note("%d %d %d\n", grid[0], grid[1], grid[2]);

    // A few bytes of file can claim a leaf at the far corner of a 2^15 grid: slices are also
    // kept to kMaxSliceSide texels a side, so that such a claim costs no more than 48 MiB.
    const int maxSide = std::min(SlicePlanes::getMaxTextureSize(maxTextureSide), kMaxSliceSide);
    for (int k = 0; k < 3; ++k) {
        grid[k] = std::max(grid[k], 1);
        geometry.origin[k] = octree.origin[k];
        geometry.voxelSize[k] = octree.voxelSize[k];
        geometry.size[k] = grid[k];
        geometry.textureSize[k] = VolumeReader::textureSide(grid[k]);
        geometry.position[k] = grid[k] / 2;
        while (geometry.textureSize[k] / textureScale > maxSide)
            textureScale *= 2;
    }
    geometry.visible[0] = geometry.visible[1] = false;
    geometry.visible[2] = true;

    // Version 1 and voc octrees carry their values in the file; the others take them from
    // their data items.
    if (octree.kind == OctreeData::OCT_V1 || octree.kind == OctreeData::VOC) {
        const std::vector<float> &v = octree.values[static_cast<size_t>(levels)];
        rangeOf(v.data(), v.size(), minimum, maximum);
        thresholdMin = minimum;
        thresholdMax = maximum;
    }
    updateData();

    for (int k = 0; k < 3; ++k) {
        bbMin[k] = octree.origin[k];
        bbMax[k] = octree.origin[k] + grid[k] * octree.voxelSize[k];
    }
    center = (bbMin + bbMax) * 0.5f;
    resetClippingPlanes();
    setDrawTexture();
}

void GLOctreeObject::updateData()
{
    const int levels = octree.levels;
    const int nItems = getNDataItems();
    const bool fromItems = octree.kind == OctreeData::OCT_V2 || octree.kind == OctreeData::DN;
    if (nItems > 0)
        currentDataItem = ((currentDataItem % nItems) + nItems) % nItems;
    if (fromItems && nItems > 0) {
        const DataItem &item = octree.dataItems[static_cast<size_t>(currentDataItem)];
        // The reader guarantees a value for every leaf rank.
        for (int d = 0; d <= levels; ++d) {
            std::vector<float> &values = octree.values[static_cast<size_t>(d)];
            const std::vector<int> &order = octree.order[static_cast<size_t>(d)];
            for (size_t i = 0; i < values.size(); ++i)
                values[i] = item.data[order[i]];
        }
        minimum = item.getMinimum();
        maximum = item.getMaximum();
        if (!(minimum <= maximum))
            minimum = maximum = 0;
        thresholdMin = minimum;
        thresholdMax = maximum;
    }
    finestValues = octree.values[static_cast<size_t>(levels)];
    updateColors();
    if (thresholdSet)
        applyThreshold();
    else
        copyAllPoints();
    refreshLegend();
    markAllStale();
}

void GLOctreeObject::copyAllPoints()
{
    nThresholded = nVertices;
    thresholdedVertices.assign(vertices, vertices + 3 * static_cast<size_t>(nVertices));
    thresholdedColors.assign(colors, colors + 3 * static_cast<size_t>(nVertices));
}

void GLOctreeObject::applyThreshold()
{
    thresholdedVertices.clear();
    thresholdedColors.clear();
    for (int i = 0; i < nVertices; ++i) {
        // Unordered (NaN) values fail the comparison and are dropped.
        if (!(finestValues[static_cast<size_t>(i)] >= dataThreshold))
            continue;
        const size_t o = 3 * static_cast<size_t>(i);
        thresholdedVertices.insert(thresholdedVertices.end(), vertices + o, vertices + o + 3);
        thresholdedColors.insert(thresholdedColors.end(), colors + o, colors + o + 3);
    }
    nThresholded = static_cast<int>(thresholdedVertices.size() / 3);
}

void GLOctreeObject::updateColors()
{
    for (int i = 0; i < nVertices; ++i)
        ColorMap::hotColorMap(colors + 3 * static_cast<size_t>(i), std::fabs(finestValues[static_cast<size_t>(i)]),
                              minimum, maximum);
}

void GLOctreeObject::refreshLegend()
{
    legend.clear();
    if (sliceSource == STRUCTURE_SLICE && drawMethod == method(&GLOctreeObject::drawTexture)) {
        legend.setTitle("Octree levels");
        legend.add(&ColorMap::grayColorMap, 0, octree.levels, octree.levels);
        return;
    }
    const int nItems = getNDataItems();
    legend.setTitle(nItems > 0 ? octree.dataItems[static_cast<size_t>(currentDataItem % nItems)].getName() : "");
    const bool points = drawMethod == method(&GLOctreeObject::drawDataCube);
    legend.add(points ? &ColorMap::hotColorMap : ColorMap::selectColorMap(colorMapIndex), minimum, maximum, 15, 2);
}

void GLOctreeObject::markAllStale()
{
    stale[0] = stale[1] = stale[2] = true;
}

float GLOctreeObject::getFinestValue(int i) const { return finestValues[static_cast<size_t>(i)]; }

// --- Thresholds, planes, settings -----------------------------------------------------------

void GLOctreeObject::setDataThreshold(float t)
{
    // The standard output sink shows a line that starts with a carriage return at once.
    msg::note("\rThresholding @ %2.2f", t);
    dataThreshold = t;
    thresholdSet = true;
    applyThreshold();
    postRedisplay();
}

void GLOctreeObject::setMinMaxThreshold(float lo, float hi)
{
    thresholdMin = lo;
    thresholdMax = hi;
    markAllStale();
    postRedisplay();
}

void GLOctreeObject::getSize(int *out) const { std::copy(geometry.size, geometry.size + 3, out); }

void GLOctreeObject::setInterpolationMode(int mode)
{
    planes.setFilter(mode ? GL_LINEAR : GL_NEAREST);
    markAllStale();
    postRedisplay();
}

void GLOctreeObject::colorMapChanged()
{
    refreshLegend();
    markAllStale();
}

void GLOctreeObject::setDrawStructure(bool on)
{
    drawStructure = on;
    markAllStale();
    postRedisplay();
}

std::string GLOctreeObject::getInformation() const
{
    char head[256], tail[128];
    std::snprintf(head, sizeof head, "%d points\n%d-level octree\nvoxel size:\n[%2.2f,%2.2f,%2.2f]\n", nVertices,
                  octree.levels, octree.voxelSize[0], octree.voxelSize[1], octree.voxelSize[2]);
    std::snprintf(tail, sizeof tail, "\nvolume size:\n[%d,%d,%d]\n", geometry.size[0], geometry.size[1],
                  geometry.size[2]);
    return head + boxInformation(nullptr) + tail;
}

// --- Slices ---------------------------------------------------------------------------------

void GLOctreeObject::buildSlice(int p, std::vector<unsigned char> &rgb, int &width, int &height) const
{
    int a, b;
    SliceGeometry::planeAxes(p, a, b);
    const int scale = textureScale;
    width = std::max(1, geometry.textureSize[a] / scale);
    height = std::max(1, geometry.textureSize[b] / scale);
    rgb.assign(static_cast<size_t>(width) * height * 3, 0);
    const int levels = octree.levels;
    const int slice = geometry.position[p];
    const ColorMap::ColorFunction f = ColorMap::selectColorMap(colorMapIndex);
    const bool structure = sliceSource == STRUCTURE_SLICE;

    for (int d = levels; d >= 0; --d) {
        const int side = 1 << (levels - d);
        // The slice index rounded down to the cells of this depth.
        const int s = slice / side * side;
        const std::vector<Pointsi> &leaves = octree.leaves[static_cast<size_t>(d)];
        const std::vector<float> &values = octree.values[static_cast<size_t>(d)];
        const unsigned char grey = static_cast<unsigned char>(d == levels ? 255 : d * 255 / std::max(levels, 1));
        for (size_t i = 0; i < leaves.size(); ++i) {
            if (coordinate(leaves[i], p) != s)
                continue;
            unsigned char c[3] = {grey, grey, grey};
            if (!structure)
                f(c, values[i], thresholdMin, thresholdMax);
            // The leaf's square in texels, clipped to the texture.
            const int u0 = coordinate(leaves[i], a) / scale, v0 = coordinate(leaves[i], b) / scale;
            const int u1 = std::min(width, (coordinate(leaves[i], a) + side + scale - 1) / scale);
            const int v1 = std::min(height, (coordinate(leaves[i], b) + side + scale - 1) / scale);
            for (int v = v0; v < v1; ++v)
                for (int u = u0; u < u1; ++u) {
                    unsigned char *t = rgb.data() + (static_cast<size_t>(v) * width + u) * 3;
                    t[0] = c[0];
                    t[1] = c[1];
                    t[2] = c[2];
                }
        }
    }
}

void GLOctreeObject::buildOverlay(int p)
{
    int a, b;
    SliceGeometry::planeAxes(p, a, b);
    std::vector<float> &out = overlay[p];
    out.clear();
    const int levels = octree.levels;
    const float place = SlicePlanes::slicePlace(geometry, p, geometry.position[p]);
    for (int d = levels; d >= 0; --d) {
        const int side = 1 << (levels - d);
        const int s = geometry.position[p] / side * side;
        for (const Pointsi &leaf : octree.leaves[static_cast<size_t>(d)]) {
            if (coordinate(leaf, p) != s)
                continue;
            const float u0 = geometry.origin[a] + coordinate(leaf, a) * geometry.voxelSize[a];
            const float v0 = geometry.origin[b] + coordinate(leaf, b) * geometry.voxelSize[b];
            const float u1 = u0 + side * geometry.voxelSize[a], v1 = v0 + side * geometry.voxelSize[b];
            const float corners[5][2] = {{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}, {u0, v0}};
            for (int e = 0; e < 4; ++e)
                for (int end = 0; end < 2; ++end) {
                    float v[3];
                    v[p] = place;
                    v[a] = corners[e + end][0];
                    v[b] = corners[e + end][1];
                    out.insert(out.end(), v, v + 3);
                }
        }
    }
}

void GLOctreeObject::planeRefreshed(int p)
{
    if (drawStructure)
        buildOverlay(p);
}

// --- Drawing --------------------------------------------------------------------------------

void GLOctreeObject::setDrawDataCube()
{
    drawMethod = method(&GLOctreeObject::drawDataCube);
    refreshLegend();
}

void GLOctreeObject::drawSlicesOf(SliceSource source)
{
    drawMethod = method(&GLOctreeObject::drawTexture);
    if (sliceSource != source) {
        sliceSource = source;
        markAllStale();
    }
    refreshLegend();
}

void GLOctreeObject::setDrawTexture() { drawSlicesOf(DATA_SLICE); }
void GLOctreeObject::setDrawOctreeTexture() { drawSlicesOf(STRUCTURE_SLICE); }

void GLOctreeObject::setDrawCubes() { drawMethod = method(&GLOctreeObject::drawCubes); }

void GLOctreeObject::drawPoints()
{
    if (nThresholded <= 0)
        return;
    glPushAttrib(GL_ENABLE_BIT | GL_POINT_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glPointSize(pointSize);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, thresholdedVertices.data());
    glColorPointer(3, GL_UNSIGNED_BYTE, 0, thresholdedColors.data());
    glDrawArrays(GL_POINTS, 0, nThresholded);
    glPopClientAttrib();
    glPopAttrib();
}

void GLOctreeObject::drawPlanes()
{
    refreshTextures();
    planes.drawQuads(geometry);
    if (drawStructure) {
        SlicePlanes::pushLineState(1.5f);
        glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
        glEnableClientState(GL_VERTEX_ARRAY);
        for (int p = 0; p < 3; ++p) {
            if (!geometry.visible[p] || overlay[p].empty())
                continue;
            glVertexPointer(3, GL_FLOAT, 0, overlay[p].data());
            glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(overlay[p].size() / 3));
        }
        glPopClientAttrib();
        SlicePlanes::popLineState();
    }
    planes.drawOutlines(geometry);
}

void GLOctreeObject::drawCubeList()
{
    if (cubeList < 0) {
        cubeList = static_cast<int>(glGenLists(1));
        glNewList(static_cast<GLuint>(cubeList), GL_COMPILE);
        // Faces counter-clockwise seen from outside: corner bits are x, y, z.
        static const int faces[6][4] = {{0, 2, 6, 4}, {1, 5, 7, 3}, {0, 4, 5, 1},
                                        {2, 3, 7, 6}, {0, 1, 3, 2}, {4, 6, 7, 5}};
        const float h[3] = {0.5f * octree.voxelSize[0], 0.5f * octree.voxelSize[1], 0.5f * octree.voxelSize[2]};
        glBegin(GL_QUADS);
        for (int i = 0; i < nVertices; ++i) {
            const float *c = vertices + 3 * static_cast<size_t>(i);
            for (const auto &face : faces)
                for (int corner : face)
                    glVertex3f(c[0] + (corner & 1 ? h[0] : -h[0]), c[1] + (corner & 2 ? h[1] : -h[1]),
                               c[2] + (corner & 4 ? h[2] : -h[2]));
        }
        glEnd();
        glEndList();
    }
    glPushAttrib(GL_ENABLE_BIT | GL_POLYGON_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT |
                 GL_LIGHTING_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glColor3f(0, 0, 0);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glCallList(static_cast<GLuint>(cubeList));
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glColor4f(0.8f, 0.8f, 0.8f, 0.5f);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 2.0f);
    glCallList(static_cast<GLuint>(cubeList));
    glPopAttrib();
}

void GLOctreeObject::drawDataCube() { withPose([this] { drawPoints(); }); }
void GLOctreeObject::drawTexture() { withPose([this] { drawPlanes(); }); }
void GLOctreeObject::drawCubes() { withPose([this] { drawCubeList(); }); }
void GLOctreeObject::defaultDrawing() { drawDataCube(); }

void GLOctreeObject::drawInfo()
{
    if (drawMethod == &GL3DObject::drawDepthBuffer || drawMethod == method(&GLOctreeObject::drawCubes))
        return;
    legend.draw(10, 10);
}

// --- Events ---------------------------------------------------------------------------------

void GLOctreeObject::printInfo(int i) const
{
    msg::note("Selected vertex n:\t%d,%f\n", i, finestValues[static_cast<size_t>(i)]);
    const float *v = vertices + 3 * static_cast<size_t>(i);
    msg::note("[%f,%f,%f]\n", v[0], v[1], v[2]);
}

void GLOctreeObject::notifyClick(int x, int y)
{
    selectedVertex = getVertex(x, y);
    if (selectedVertex >= 0 && selectedVertex < nVertices)
        printInfo(selectedVertex);
}

const BindingTable &GLOctreeObject::bindings()
{
    constexpr unsigned F = KeyBinding::BUSY | KeyBinding::REDRAW;
    static const KeyBinding rows[] = {
        {actionValue(Action::BIGGER_POINTS), {'+'}, "+", "point size up", F},
        {actionValue(Action::SMALLER_POINTS), {'-'}, "-", "point size down", F},
        {actionValue(Action::PREVIOUS_DATA), {'<', ','}, nullptr, "previous data item", F},
        {actionValue(Action::NEXT_DATA), {'>', '.'}, nullptr, "next data item", F},
        {actionValue(Action::DATA_POINTS), {'1'}, "Data", "finest leaves as points", F},
        {actionValue(Action::DATA_SLICES), {'2'}, "Volume", "slice planes of the data", F},
        {actionValue(Action::STRUCTURE_SLICES), {'3'}, "Octree", "slice planes of the structure", F},
        {actionValue(Action::DEPTH_BUFFER), {'4'}, "Zbuffer", "depth buffer shading", F},
        {actionValue(Action::CUBES), {'5'}, nullptr, "finest leaves as cubes", F},
        {actionValue(Action::X_PLANE), {'6'}, "X", "X plane on/off", F},
        {actionValue(Action::Y_PLANE), {'7'}, "Y", "Y plane on/off", F},
        {actionValue(Action::Z_PLANE), {'8'}, "Z", "Z plane on/off", F},
    };
    static const BindingTable table("octree", rows, BindingTable::WITH_COLOR_MAPS);
    return table;
}

bool GLOctreeObject::runAction(const KeyBinding &row)
{
    if (GLSlicedObject::runAction(row))
        return true;
    const Action a = static_cast<Action>(row.action);
    switch (a) {
    case Action::BIGGER_POINTS:
    case Action::SMALLER_POINTS:
        // A point size below 1 is not drawable.
        stepSize(pointSize, a == Action::BIGGER_POINTS, 1.0f, "pointSize");
        break;
    case Action::PREVIOUS_DATA:
    case Action::NEXT_DATA:
        currentDataItem += a == Action::PREVIOUS_DATA ? -1 : 1;
        updateData();
        break;
    case Action::DATA_POINTS:
        setDrawDataCube();
        break;
    case Action::DATA_SLICES:
        setDrawTexture();
        break;
    case Action::STRUCTURE_SLICES:
        setDrawOctreeTexture();
        break;
    case Action::DEPTH_BUFFER:
        setDrawDepthBuffer();
        break;
    case Action::CUBES:
        setDrawCubes();
        break;
    default: // the plane toggles, taken above
        break;
    }
    return true;
}
