#include "objects/GLPointListObject.h"

#include "core/KeyCodes.h"
#include "core/StartupTiming.h"
#include "formats/ColorMap.h"
#include "formats/LasReader.h"
#include "formats/TextCloudReader.h"
#include "render/EyeDomePass.h"
#include "math/Messages.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <thread>
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
    else if (path && endsWith(path, "las") && !LasReader::hasSignature(path))
        readLAS(path);
    else if (path && (endsWith(path, "las") || endsWith(path, "laz"))) {
        PointListData d = LasReader::read(path);
        adopt(d);
    } else if (path && (endsWith(path, "xyz") || endsWith(path, "pts") || endsWith(path, "txt")))
        readTextCloud(path);
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

GLPointListObject::GLPointListObject(PointListData &&cloud) : GL3DObject(GLObject::POINTLIST)
{
    initVariables();
    if (cloud.nPoints <= 0 || !cloud.points) {
        const PointListRecord record = {cloud.nPoints, cloud.points.get(), nullptr, nullptr};
        PointListReader::fromRecord(&record); // raises the record's refusal
    }
    const size_t n = static_cast<size_t>(cloud.nPoints);
    if (!cloud.colors && !cloud.values) {
        cloud.colors = allocateLargeArray<unsigned char>(3 * n);
        std::fill(cloud.colors.get(), cloud.colors.get() + 3 * n, 0);
    }
    // A reader that took the box on the way saves a pass over the points.
    const PointBounds taken = cloud.bounds;
    cloud.bounds = PointBounds();
    if (taken.lo[0] <= taken.hi[0] && taken.lo[1] <= taken.hi[1] && taken.lo[2] <= taken.hi[2]) {
        std::copy(taken.lo, taken.lo + 3, cloud.bounds.lo);
        std::copy(taken.hi, taken.hi + 3, cloud.bounds.hi);
    } else {
        cloud.bounds.addPoints(cloud.points.get(), 3 * n);
    }
    if (cloud.values)
        cloud.bounds.addValues(cloud.values.get(), n);
    adopt(cloud);
    resetClippingPlanes();
    setDrawData();
}

GLPointListObject::~GLPointListObject()
{
    cancelBuild = true;
    if (building.valid())
        building.wait();
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

void GLPointListObject::readTextCloud(const char *path)
{
    PointListData d = TextCloudReader::read(path);
    adopt(d);
}

namespace {

size_t countUnordered(const float *v, size_t n)
{
    size_t k = 0;
    for (size_t i = 0; i < n; ++i)
        k += v[i] != v[i];
    return k;
}

} // namespace

void GLPointListObject::adopt(PointListData &d)
{
    // The worker reads the arrays being replaced.
    cancelBuild = true;
    if (building.valid())
        building.wait();
    building = {};
    lod.reset();
    sample.clear();
    const size_t n = static_cast<size_t>(d.nPoints);
    const bool ownColours = d.colors != nullptr;
    nVertices = d.nPoints;
    pointStore = std::move(d.points);
    vertices = pointStore.get();
    std::copy(d.origin, d.origin + 3, fileOrigin);
    // The reader took the box while reading: no second pass over the points.
    const PointBounds &b = d.bounds;
    bbMin = Point3(b.lo[0], b.lo[1], b.lo[2]);
    bbMax = Point3(b.hi[0], b.hi[1], b.hi[2]);
    center = (bbMin + bbMax) * 0.5f;
    items.clear();
    const bool scores = d.values != nullptr;
    if (scores) {
        PointValueItem item;
        item.name = d.valueName;
        item.values = std::move(d.values);
        item.lo = b.valueLo;
        item.hi = b.valueHi;
        items.push_back(std::move(item));
    }
    for (PointValueItem &item : d.items)
        items.push_back(std::move(item));
    valueItem = items.empty() ? -1 : 0;
    ownColorStore.reset();
    showOwnColors = false;
    if (valueItem >= 0) {
        colorStore = allocateLargeArray<unsigned char>(3 * n);
        if (d.colors) {
            // Both: the cloud's own colours first, the values one key away.
            ownColorStore = std::move(d.colors);
            showOwnColors = true;
        }
        float lo = items[0].lo, hi = items[0].hi;
        // Only NaN: an empty range at 0, and nothing is ever drawn.
        if (!(lo <= hi))
            lo = hi = 0;
        valueMin = thresholdLow = lo;
        valueMax = thresholdHigh = hi;
        nUnordered = static_cast<int>(scores ? b.nUnordered : countUnordered(items[0].values.get(), n));
        colorsStale = true;
    } else {
        colorStore = std::move(d.colors);
        if (!colorStore) {
            colorStore = allocateLargeArray<unsigned char>(3 * n);
            std::fill(colorStore.get(), colorStore.get() + 3 * n, 0);
        }
        colorsStale = false;
        nUnordered = 0;
    }
    colors = showOwnColors ? ownColorStore.get() : colorStore.get();
    // Without colours of their own, points in one colour or a colour map read as a flat stain.
    eyeDome = !ownColours;
    selectedVertex = -1;
    pointsUploaded = colorsUploaded = false;
    indicesStale = true;
}

// --- Level of detail ------------------------------------------------------------------------

const float *GLPointListObject::getValues() const
{
    return valueItem >= 0 ? items[valueItem].values.get() : nullptr;
}

const std::string &GLPointListObject::getValueName() const
{
    static const std::string scores = "Correlation";
    return valueItem >= 0 ? items[valueItem].name : scores;
}

int GLPointListObject::getFileIndex(int i) const
{
    if (i < 0 || i >= nVertices || !lod)
        return i;
    return static_cast<int>(lod->order[static_cast<size_t>(i)]);
}

bool GLPointListObject::needsLevelOfDetail() const
{
    // Clouds within the drag budget are drawn whole in every frame.
    return !lod && static_cast<size_t>(nVertices) > static_cast<size_t>(std::max(0LL, PointBudgets::current().drag));
}

void GLPointListObject::startLevelOfDetail()
{
    if (building.valid() || !needsLevelOfDetail())
        return;
    const size_t n = static_cast<size_t>(nVertices);
    // The worker reorders the arrays in place: until it is done, frames draw a copy of the
    // sample, taken now.
    if (colorsStale)
        updateColorMap();
    const size_t m = std::min(n, static_cast<size_t>(std::max(1LL, PointBudgets::current().drag)));
    const std::vector<unsigned> &indices = sampleOf(m);
    const float *v = getValues();
    heldPoints.resize(3 * m);
    heldColors.resize(3 * m);
    heldValues.resize(v ? m : 0);
    for (size_t k = 0; k < m; ++k) {
        const size_t i = indices[k];
        std::copy(vertices + 3 * i, vertices + 3 * i + 3, &heldPoints[3 * k]);
        std::copy(colors + 3 * i, colors + 3 * i + 3, &heldColors[3 * k]);
        if (v)
            heldValues[k] = v[i];
    }
    const PointLodArrays arrays = reorderedArrays();
    cancelBuild = false;
    building = std::async(std::launch::async, [this, arrays, n] {
        return std::make_unique<PointLod>(PointLod::buildInPlace(arrays, n, 2, &cancelBuild));
    });
}

const std::vector<unsigned> &GLPointListObject::sampleOf(size_t m)
{
    // A uniform random subset, one point from each stretch of n / m, drawn in space order.
    const size_t n = static_cast<size_t>(nVertices);
    if (sample.size() == m)
        return sample;
    sample.resize(m);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (size_t k = 0; k < m; ++k) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const size_t from = k * n / m, to = (k + 1) * n / m;
        sample[k] = static_cast<unsigned>(from + (state >> 33) % std::max<size_t>(1, to - from));
    }
    PointLod::sortSpatially(pointStore.get(), sample);
    return sample;
}

PointLodArrays GLPointListObject::reorderedArrays()
{
    PointLodArrays arrays;
    arrays.xyz = pointStore.get();
    // Colours computed from the values are not reordered but computed again.
    arrays.rgb = ownColorStore ? ownColorStore.get() : valueItem < 0 ? colorStore.get() : nullptr;
    for (PointValueItem &item : items)
        arrays.values.push_back(item.values.get());
    return arrays;
}

void GLPointListObject::takeLevelOfDetail(std::unique_ptr<PointLod> built)
{
    if (!built)
        return;
    const size_t n = static_cast<size_t>(nVertices);
    lod = std::move(built);
    if (selectedVertex >= 0) {
        const uint32_t *order = lod->order.get();
        const uint32_t *at = std::find(order, order + n, static_cast<uint32_t>(selectedVertex));
        selectedVertex = at < order + n ? static_cast<int>(at - order) : -1;
    }
    sample.clear();
    sample.shrink_to_fit();
    std::vector<float>().swap(heldPoints);
    std::vector<float>().swap(heldValues);
    std::vector<unsigned char>().swap(heldColors);
    samplePointBuffer.release();
    sampleColorBuffer.release();
    // Drawn from the arrays themselves: a copy in OpenGL would double the memory of a cloud.
    pointBuffer.release();
    colorBuffer.release();
    if (valueItem >= 0)
        colorsStale = true;
    pointsUploaded = colorsUploaded = false;
    indicesStale = true;
}

bool GLPointListObject::pollLevelOfDetail()
{
    if (!building.valid())
        return true;
    if (building.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        return false;
    std::unique_ptr<PointLod> r;
    try {
        r = building.get();
    } catch (const PointLod::Cancelled &) {
    } catch (const std::exception &e) {
        // Without memory for the hierarchy the cloud stays drawn as it was read.
        msg::warning("GLPointListObject: no level of detail (%s)\n", e.what());
    }
    building = {};
    takeLevelOfDetail(std::move(r));
    return true;
}

void GLPointListObject::waitForLevelOfDetail()
{
    if (building.valid())
        building.wait();
    pollLevelOfDetail();
}

void GLPointListObject::buildLevelOfDetail()
{
    waitForLevelOfDetail();
    if (lod || nVertices <= 0)
        return;
    cancelBuild = false;
    takeLevelOfDetail(std::make_unique<PointLod>(
        PointLod::buildInPlace(reorderedArrays(), static_cast<size_t>(nVertices), 2, &cancelBuild)));
}

bool GLPointListObject::setValues(const char *name, const float *v, int n)
{
    // A hierarchy being built reorders the items it was given: it finishes first, so that the
    // new values and the points are in one order.
    waitForLevelOfDetail();
    if (n != nVertices || n <= 0 || !v)
        return false;
    const size_t count = static_cast<size_t>(n);
    PointValueItem item;
    item.name = name ? name : "";
    item.values = allocateLargeArray<float>(count);
    std::copy(v, v + count, item.values.get());
    float lo = std::numeric_limits<float>::infinity(), hi = -lo;
    for (size_t i = 0; i < count; ++i)
        if (!std::isnan(v[i])) {
            lo = std::min(lo, v[i]);
            hi = std::max(hi, v[i]);
        }
    if (!(lo <= hi))
        lo = hi = 0;
    item.lo = lo;
    item.hi = hi;
    if (items.empty()) {
        // The colours drawn so far become the cloud's own, one key away from the values.
        ownColorStore = std::move(colorStore);
        colorStore = allocateLargeArray<unsigned char>(3 * count);
    }
    const auto same = std::find_if(items.begin(), items.end(),
                                   [&](const PointValueItem &i) { return i.name == item.name; });
    if (same != items.end()) {
        *same = std::move(item);
        valueItem = static_cast<int>(same - items.begin());
    } else {
        items.push_back(std::move(item));
        valueItem = static_cast<int>(items.size()) - 1;
    }
    valueMin = thresholdLow = lo;
    valueMax = thresholdHigh = hi;
    nUnordered = static_cast<int>(countUnordered(items[static_cast<size_t>(valueItem)].values.get(), count));
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
    const float *v = getValues();
    if (!v)
        return;
    const ColorMap::ColorFunction f = ColorMap::selectColorMap(colorMapIndex);
    unsigned char *mapped = colorStore.get();
    for (int i = 0; i < nVertices; ++i)
        f(mapped + 3 * static_cast<size_t>(i), v[i], valueMin, valueMax);
    colorsStale = false;
    colorsUploaded = false;
}

const unsigned char *GLPointListObject::getColors()
{
    waitForLevelOfDetail();
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
    if (hasValues()) {
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
    if (hasValues()) {
        legend.clear();
        legend.setTitle(getValueName().c_str());
        legend.add(ColorMap::selectColorMap(colorMapIndex), valueMin, valueMax, 15, 2);
    }
}

bool GLPointListObject::setShowOwnColors(bool on)
{
    if (!ownColorStore || !hasValues())
        return false;
    waitForLevelOfDetail();
    showOwnColors = on;
    colors = on ? ownColorStore.get() : colorStore.get();
    colorsUploaded = false;
    msg::note("GLPointListObject: %s\n", on ? "point colours" : getValueName().c_str());
    return true;
}

bool GLPointListObject::showNextColoring()
{
    const int nItems = static_cast<int>(items.size());
    if (nItems == 0 || (nItems == 1 && !ownColorStore))
        return false;
    waitForLevelOfDetail();
    if (nItems == 1)
        return setShowOwnColors(!showOwnColors);
    // Own colours, then each item; without own colours the items in turn.
    int next = showOwnColors ? 0 : valueItem + 1;
    if (next >= nItems) {
        if (ownColorStore)
            return setShowOwnColors(true);
        next = 0;
    }
    valueItem = next;
    const PointValueItem &item = items[static_cast<size_t>(valueItem)];
    float lo = item.lo, hi = item.hi;
    if (!(lo <= hi))
        lo = hi = 0;
    valueMin = thresholdLow = lo;
    valueMax = thresholdHigh = hi;
    nUnordered = static_cast<int>(countUnordered(item.values.get(), static_cast<size_t>(nVertices)));
    colorsStale = true;
    indicesStale = true;
    if (showOwnColors)
        return setShowOwnColors(false) && (setDrawData(), true);
    colorsUploaded = false;
    setDrawData();
    msg::note("GLPointListObject: %s\n", item.name.c_str());
    return true;
}

// --- Queries --------------------------------------------------------------------------------

void GLPointListObject::centerObject(Point3 c)
{
    waitForLevelOfDetail();
    GL3DObject::centerObject(c);
    for (PointLodNode &node : lod ? lod->nodes : std::vector<PointLodNode>())
        for (int k = 0; k < 3; ++k)
            node.lo[k] -= k == 0 ? c.x : k == 1 ? c.y : c.z;
    fileOrigin[0] += c.x;
    fileOrigin[1] += c.y;
    fileOrigin[2] += c.z;
    pointsUploaded = false;
}

Point3 GLPointListObject::getOrigin() const
{
    // Where the object is shown: a moved object turns the view about its moved point.
    if (selectedVertex >= 0 && selectedVertex < nVertices)
        return pose * Point3(vertices[3 * selectedVertex], vertices[3 * selectedVertex + 1], vertices[3 * selectedVertex + 2]);
    return pose * center;
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
    const float *v = getValues();
    if (!v)
        return nVertices;
    int n = 0;
    for (int i = 0; i < nVertices; ++i)
        n += v[i] >= thresholdLow;
    return n;
}

// --- Events ---------------------------------------------------------------------------------

void GLPointListObject::notifyClick(int x, int y)
{
    waitForLevelOfDetail();
    // Points below the threshold are not drawn, so they cannot be clicked either.
    const float *v = getValues();
    selectedVertex = v ? getVertex(x, y, [&](int i) { return v[i] >= thresholdLow; }) : getVertex(x, y);
    if (selectedVertex >= 0) {
        const float *p = vertices + 3 * selectedVertex;
        // The file's index and coordinates, whatever the order and offset kept in memory.
        msg::note("Selected vertex n:\t%d,\t[%f %f %f]\n", getFileIndex(selectedVertex), p[0] + fileOrigin[0],
                  p[1] + fileOrigin[1], p[2] + fileOrigin[2]);
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
        {actionValue(Action::EYE_DOME), {'e'}, "Eye-dome lighting", "eye-dome lighting on/off", F},
        {actionValue(Action::ADAPTIVE_SIZE), {'4'}, "Adaptive size", "adaptive point size on/off", F},
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
        return showNextColoring();
    case Action::EYE_DOME:
        eyeDome = !eyeDome;
        msg::note("GLPointListObject: eye-dome lighting %s\n", eyeDome ? "on" : "off");
        break;
    case Action::ADAPTIVE_SIZE:
        adaptiveSize = !adaptiveSize;
        msg::note("GLPointListObject: adaptive point size %s\n", adaptiveSize ? "on" : "off");
        break;
    case Action::NEXT_COLOR_MAP:
    case Action::PREVIOUS_COLOR_MAP:
        return stepColorMap(row.action == actionValue(Action::NEXT_COLOR_MAP) ? 1 : -1);
    }
    return true;
}

// --- Drawing --------------------------------------------------------------------------------

void GLPointListObject::prepareBuffers(bool whole)
{
    const size_t n = static_cast<size_t>(nVertices);
    // A sample is drawn from a copy; a cloud with a hierarchy from its arrays, node by node
    // (a copy in OpenGL would double its memory). Only a small cloud goes to OpenGL whole.
    if (lod)
        pointsUploaded = colorsUploaded = true;
    if (!pointsUploaded && whole) {
        pointBuffer.upload(GL_ARRAY_BUFFER, vertices, 3 * sizeof(float) * n);
        pointsUploaded = true;
    }
    if (colorsStale)
        updateColorMap();
    if (!colorsUploaded && whole) {
        colorBuffer.upload(GL_ARRAY_BUFFER, colors, 3 * n);
        colorsUploaded = true;
    }
    if (!indicesStale || !whole)
        return;
    indicesStale = false;
    const float *v = getValues();
    if (!v || (thresholdLow <= valueMin && nUnordered == 0)) {
        // Every point shown: no index list at all.
        nIndices = -1;
        indexBuffer.release();
        return;
    }
    std::vector<unsigned> shown;
    if (lod) {
        // Node by node, so that a frame draws the shown points of the nodes it picks.
        nodeShownFirst.assign(lod->nodes.size(), 0);
        nodeShownCount.assign(lod->nodes.size(), 0);
        for (size_t k = 0; k < lod->nodes.size(); ++k) {
            const PointLodNode &node = lod->nodes[k];
            nodeShownFirst[k] = static_cast<unsigned>(shown.size());
            for (uint32_t i = node.first; i < node.first + node.count; ++i)
                if (v[i] >= thresholdLow)
                    shown.push_back(i);
            nodeShownCount[k] = static_cast<unsigned>(shown.size()) - nodeShownFirst[k];
        }
    } else {
        for (size_t i = 0; i < n; ++i)
            if (v[i] >= thresholdLow)
                shown.push_back(static_cast<unsigned>(i));
    }
    nIndices = static_cast<int>(shown.size());
    indexBuffer.upload(GL_ELEMENT_ARRAY_BUFFER, shown.data(), shown.size() * sizeof(unsigned));
}

void GLPointListObject::defaultDrawing() { drawData(); }

size_t GLPointListObject::frameBudget(const float *mvp)
{
    const PointBudgets &b = PointBudgets::current();
    const size_t n = static_cast<size_t>(nVertices);
    const size_t still = static_cast<size_t>(std::max(1LL, b.still));
    const size_t drag = static_cast<size_t>(std::max(1LL, b.drag));
    if (PointBudgets::capturing())
        return b.captureEveryPoint ? n : still;
    if (reducedDrawing) {
        rampBudget = drag;
    } else if (std::memcmp(mvp, lastMvp, sizeof lastMvp) != 0) {
        // A new view starts light and refines while it stays.
        rampBudget = std::min(still, drag);
    } else if (lastCut) {
        rampBudget = std::min(still, std::max(rampBudget, drag) * 4);
    }
    std::memcpy(lastMvp, mvp, sizeof lastMvp);
    return std::max<size_t>(rampBudget, 1);
}

void GLPointListObject::drawSample(size_t m)
{
    static thread_local std::vector<float> p;
    static thread_local std::vector<unsigned char> c;
    const float *v = getValues();
    const bool cut = v && (thresholdLow > valueMin || nUnordered > 0);
    p.clear();
    c.clear();
    p.reserve(3 * m);
    c.reserve(3 * m);
    if (building.valid()) {
        // The arrays are the worker's: the copy of the sample taken before it started.
        const size_t held = heldPoints.size() / 3;
        for (size_t k = 0; k < held; ++k) {
            if (cut && !heldValues.empty() && !(heldValues[k] >= thresholdLow))
                continue;
            p.insert(p.end(), &heldPoints[3 * k], &heldPoints[3 * k] + 3);
            c.insert(c.end(), &heldColors[3 * k], &heldColors[3 * k] + 3);
        }
    } else {
        for (unsigned i : sampleOf(m)) {
            if (cut && !(v[i] >= thresholdLow))
                continue;
            p.insert(p.end(), vertices + 3 * static_cast<size_t>(i), vertices + 3 * static_cast<size_t>(i) + 3);
            c.insert(c.end(), colors + 3 * static_cast<size_t>(i), colors + 3 * static_cast<size_t>(i) + 3);
        }
    }
    // Through buffers: Mesa draws large client arrays far slower than buffers.
    samplePointBuffer.upload(GL_ARRAY_BUFFER, p.data(), p.size() * sizeof(float));
    sampleColorBuffer.upload(GL_ARRAY_BUFFER, c.data(), c.size());
    samplePointBuffer.bind(GL_ARRAY_BUFFER);
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    sampleColorBuffer.bind(GL_ARRAY_BUFFER);
    glColorPointer(3, GL_UNSIGNED_BYTE, 0, nullptr);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(p.size() / 3));
    drawnCount = p.size() / 3;
}

void GLPointListObject::drawNodes(size_t budget, const float *mvp, int height)
{
    bool complete = true;
    lod->select(mvp, height, budget, selected, &complete, &selectedPixels);
    lastCut = !complete;
    // Adaptive size: a chosen node none of whose children is drawn shows its sample alone;
    // its points grow to the sample's spacing on screen (at most 8 pixels).
    std::vector<std::pair<float, int>> nodes; // (size, node)
    nodes.reserve(selected.size());
    static thread_local std::vector<char> chosen;
    if (adaptiveSize) {
        chosen.assign(lod->nodes.size(), 0);
        for (int id : selected)
            chosen[static_cast<size_t>(id)] = 1;
    }
    for (size_t k = 0; k < selected.size(); ++k) {
        const PointLodNode &node = lod->nodes[static_cast<size_t>(selected[k])];
        float size = pointSize;
        if (adaptiveSize) {
            bool frontier = false, anyChild = false;
            for (int c : node.child)
                if (c >= 0) {
                    anyChild = true;
                    frontier = frontier || chosen[static_cast<size_t>(c)];
                }
            if (anyChild && !frontier) {
                const float spacing = selectedPixels[k] / static_cast<float>(1 << PointLod::sampleDepth(node.depth));
                size = std::min(std::max(pointSize, std::round(spacing * pointSize)), 8.0f);
            }
        }
        nodes.push_back({size, selected[k]});
    }
    // By size, then in storage order: the memory is read front to back.
    std::sort(nodes.begin(), nodes.end(), [this](const std::pair<float, int> &a, const std::pair<float, int> &b) {
        if (a.first != b.first)
            return a.first < b.first;
        return lod->nodes[static_cast<size_t>(a.second)].first < lod->nodes[static_cast<size_t>(b.second)].first;
    });
    // One draw a run of adjacent nodes: the vertices come from the arrays in memory, and
    // OpenGL copies only the range a draw names.
    size_t drawn = 0;
    for (size_t from = 0; from < nodes.size();) {
        glPointSize(nodes[from].first);
        size_t to = from;
        for (; to < nodes.size() && nodes[to].first == nodes[from].first; ++to) {
            const size_t id = static_cast<size_t>(nodes[to].second);
            const PointLodNode &node = lod->nodes[id];
            if (nIndices >= 0) {
                if (nodeShownCount[id] == 0)
                    continue;
                indexBuffer.bind(GL_ELEMENT_ARRAY_BUFFER);
                glDrawRangeElements(GL_POINTS, node.first, node.first + node.count - 1,
                                    static_cast<GLsizei>(nodeShownCount[id]), GL_UNSIGNED_INT,
                                    reinterpret_cast<const void *>(sizeof(unsigned) * nodeShownFirst[id]));
                glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
                drawn += nodeShownCount[id];
                continue;
            }
            uint32_t end = node.first + node.count;
            while (to + 1 < nodes.size() && nodes[to + 1].first == nodes[from].first &&
                   lod->nodes[static_cast<size_t>(nodes[to + 1].second)].first == end) {
                ++to;
                end += lod->nodes[static_cast<size_t>(nodes[to].second)].count;
            }
            glDrawArrays(GL_POINTS, static_cast<GLint>(node.first), static_cast<GLsizei>(end - node.first));
            drawn += end - node.first;
        }
        from = to;
    }
    drawnCount = drawn;
}

void GLPointListObject::drawData()
{
    if (nVertices <= 0)
        return;
    const bool timing = StartupTiming::enabled();
    const auto started = std::chrono::steady_clock::now();
    // Frames on screen start the hierarchy and take it when it is there. Captures do not wait
    // for it (an off-screen render would pay for a hierarchy it draws once).
    const bool capture = PointBudgets::capturing();
    // A capture, or colours to compute again, need the arrays the worker is reordering.
    if (building.valid() && (capture || colorsStale))
        waitForLevelOfDetail();
    if (!capture)
        pollLevelOfDetail();

    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POINT_BIT | GL_DEPTH_BUFFER_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(static_cast<const float *>(pose));
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(GL_SMOOTH);

    Matrix4 modelView = Matrix4::Identity, projection = Matrix4::Identity;
    glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(modelView));
    glGetFloatv(GL_PROJECTION_MATRIX, static_cast<float *>(projection));
    const Matrix4 mvp = projection * modelView;
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const bool sameView = std::memcmp(static_cast<const float *>(mvp), lastMvp, sizeof lastMvp) == 0;
    const size_t budget = frameBudget(static_cast<const float *>(mvp));

    // Without a hierarchy a large cloud draws a sample of its budget.
    const size_t n = static_cast<size_t>(nVertices);
    size_t sampled = n;
    if (!lod && needsLevelOfDetail()) {
        const PointBudgets &b = PointBudgets::current();
        sampled = capture ? (b.captureEveryPoint ? n : std::min(n, static_cast<size_t>(std::max(1LL, b.still))))
                          : std::min(n, static_cast<size_t>(std::max(1LL, b.drag)));
    }
    prepareBuffers(sampled == n);
    drawnCount = 0;
    if (pointSize > 0 && nIndices != 0) {
        glPointSize(pointSize);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        if (sampled < n) {
            drawSample(sampled);
            lastCut = true;
        } else {
            if (lod) {
                glVertexPointer(3, GL_FLOAT, 0, vertices);
                glColorPointer(3, GL_UNSIGNED_BYTE, 0, colors);
                drawNodes(budget, static_cast<const float *>(mvp), viewport[3]);
            } else {
                pointBuffer.bind(GL_ARRAY_BUFFER);
                glVertexPointer(3, GL_FLOAT, 0, nullptr);
                colorBuffer.bind(GL_ARRAY_BUFFER);
                glColorPointer(3, GL_UNSIGNED_BYTE, 0, nullptr);
                glBindBuffer(GL_ARRAY_BUFFER, 0);
            }
            if (lod) {
            } else if (nIndices < 0) {
                glDrawArrays(GL_POINTS, 0, nVertices);
                drawnCount = static_cast<size_t>(nVertices);
                lastCut = false;
            } else {
                indexBuffer.bind(GL_ELEMENT_ARRAY_BUFFER);
                glDrawElements(GL_POINTS, nIndices, GL_UNSIGNED_INT, nullptr);
                glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
                drawnCount = static_cast<size_t>(nIndices);
                lastCut = false;
            }
        }
    }
    glPopClientAttrib();
    if (eyeDome && drawnCount > 0)
        EyeDomePass::apply(eyeDomeStrength, 1);

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

    // After the frame: the first picture does not share the processors with the worker.
    if (!capture)
        startLevelOfDetail();
    const size_t still = static_cast<size_t>(std::max(1LL, PointBudgets::current().still));
    const bool stillRefining =
        !PointBudgets::capturing() && (building.valid() || (lastCut && !reducedDrawing && budget < still));
    // Fewer points than a capture would draw: a sample, or nodes cut below the capture budget.
    const size_t captureBudget = PointBudgets::current().captureEveryPoint ? n : still;
    if (!capture && ((!lod && sampled < n) || (lod && lastCut && budget < captureBudget)))
        PointBudgets::setLastFrameReduced(true);
    if (timing) {
        glFinish();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        char what[160];
        std::snprintf(what, sizeof what, "point frame %.1f ms, %zu of %d points (%s)", ms, drawnCount, nVertices,
                      PointBudgets::capturing() ? "capture" : reducedDrawing ? "drag" : "still");
        StartupTiming::mark(what);
    }
    if (stillRefining) {
        // The worker is not done or more detail fits: the next frames refine the picture.
        // The sample frame is the same while the view is: wait longer for the worker then,
        // and leave it the processor.
        if (building.valid())
            building.wait_for(std::chrono::milliseconds(sameView ? 150 : 30));
        postRedisplay();
    }
}

void GLPointListObject::drawInfo()
{
    if (hasValues() && !showOwnColors && drawMethod != &GL3DObject::drawDepthBuffer)
        legend.draw(10, 10);
}
