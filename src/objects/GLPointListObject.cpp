#include "objects/GLPointListObject.h"

#include "formats/FiniteVertices.h"
#include "formats/ValueCategories.h"

#include "core/ElementHost.h"

#include "core/KeyCodes.h"
#include "core/StartupTiming.h"
#include "formats/CloudFile.h"
#include "formats/ColorMap.h"
#include "formats/TextCloudReader.h"
#include "render/EyeDomePass.h"
#include "math/Messages.h"
#include "math/Parallel.h"
#include "render/GLState.h"

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

GLPointListObject::GLPointListObject(const char *path) : GLPointListObject(path, CloudFile::read(path)) {}

GLPointListObject::GLPointListObject(const char *path, PointListData &&d) : GL3DObject(GLObject::POINTLIST)
{
    initVariables();
    if (path)
        sourcePath = path;
    adopt(d);
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
    // Every cloud reader hands its points over here (see GLMeshObject::adopt).
    const FiniteVertices::Dropped dropped = FiniteVertices::drop(d);
    if (dropped.vertices > 0 && dropped.kept == 0)
        throw std::runtime_error("no point has finite coordinates (" + std::to_string(dropped.vertices) +
                                 " with NaN or infinity)");
    if (dropped.vertices > 0)
        msg::warning("GLPointListObject: %zu points with NaN or infinite coordinates skipped\n", dropped.vertices);
    // The worker reads the arrays being replaced.
    cancelBuild = true;
    if (building.valid())
        building.wait();
    building = {};
    lod.reset();
    lodRefused = false;
    readOrder = std::move(d.cellOrder);
    sample.clear();
    const size_t n = static_cast<size_t>(d.nPoints);
    const bool ownColours = d.colors != nullptr;
    nVertices = d.nPoints;
    cleaning.reset(n);
    lasScaling = d.las;
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
    // Readers of formats without colours hand over black ones; such a cloud is drawn in a
    // colour that stands out from the background instead (black is lost on a black one).
    const unsigned char *own = valueItem < 0 ? colorStore.get() : ownColorStore.get();
    plainColors = own && std::all_of(own, own + 3 * n, [](unsigned char c) { return c == 0; });
    // Without colours of their own, points in one colour or a colour map read as a flat stain.
    eyeDome = !ownColours;
    selectedVertex = -1;
    pointsUploaded = colorsUploaded = false;
    indicesStale = true;
}

// --- Values and the file's order ----------------------------------------------------------

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
    if (i >= 0 && i < nVertices && !lod && readOrder)
        return static_cast<int>(readOrder.fileIndex[static_cast<size_t>(i)]);
    if (i < 0 || i >= nVertices || !lod)
        return i;
    try {
        return static_cast<int>(lod->order[static_cast<size_t>(i)]);
    } catch (const std::exception &e) {
        // The order of the largest clouds is on disk: a failed read loses the index, not the view.
        msg::warning("GLPointListObject: the file index of point %d is lost: %s\n", i, e.what());
        return -1;
    }
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

void GLPointListObject::colorMapChanged()
{
    if (!hasValues())
        return;
    colorsStale = true;
    const ColorMap::ColorFunction f = ColorMap::selectColorMap(colorMapIndex);
    legend.clearData();
    if (!addCategoriesToLegend(f))
        legend.add(f, valueMin, valueMax, thresholdLow, thresholdHigh, 15, 2);
}

bool GLPointListObject::addCategoriesToLegend(ColorMap::ColorFunction f)
{
    // Classes and return numbers are not measures: one band a value present, no ramp.
    std::vector<int> categories;
    if (!ValueCategories::of(getValueName(), getValues(), nVertices > 0 ? static_cast<size_t>(nVertices) : 0,
                             categories))
        return false;
    legend.addCategories(f, valueMin, valueMax, categories, getValueName());
    return true;
}

void GLPointListObject::setDrawData()
{
    drawMethod = method(&GLPointListObject::drawData);
    if (hasValues()) {
        legend.clear();
        legend.setTitle(getValueName().c_str());
        if (!addCategoriesToLegend(ColorMap::selectColorMap(colorMapIndex)))
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
    if (const float *p = selectedPoint())
        return pose * Point3(p[0], p[1], p[2]);
    return pose * center;
}

const float *GLPointListObject::selectedPoint() const
{
    if (selectedVertex < 0 || selectedVertex >= nVertices)
        return nullptr;
    // The worker reorders the arrays until its hierarchy is taken: the copy made as it started.
    return building.valid() ? heldSelection : vertices + 3 * selectedVertex;
}

std::string GLPointListObject::getInformation() const
{
    // The file's coordinates: a georeferenced cloud is kept relative to an origin near it.
    std::string info = std::to_string(nVertices) + " points\n" + boxInformation(fileOrigin) + "\n";
    char text[512];
    if (modelIds.empty() || selectedVertex < 0 || selectedVertex >= nVertices)
        return info;
    // Points of a model that gives them no identifier (transforms.json) go by their index.
    const int index = getFileIndex(selectedVertex);
    const int64_t id = index >= 0 ? modelIds[static_cast<size_t>(index)] : -1;
    if (id >= 0)
        std::snprintf(text, sizeof text, "point %lld\n", static_cast<long long>(id));
    else
        std::snprintf(text, sizeof text, "point index %d\n", index);
    info += text;
    for (const PointValueItem &item : items)
        if (item.name == "Reprojection error" || item.name == "Track length") {
            const float v = item.values.get()[selectedVertex];
            std::snprintf(text, sizeof text, item.name == "Track length" ? "%s: %.0f\n" : "%s: %.3f px\n",
                          item.name.c_str(), v);
            info += text;
        }
    return info;
}

void GLPointListObject::setModelIdentifiers(std::vector<int64_t> ids)
{
    if (ids.size() == static_cast<size_t>(nVertices))
        modelIds = std::move(ids);
}

float GLPointListObject::getMaxRadius() { return GL3DObject::getMaxRadius(); }

void GLPointListObject::setThresholds(float lo, float hi)
{
    // Steps that come back to an end of the range land on it exactly, so that the extreme
    // values show again.
    const float close = (valueMax - valueMin) / 1000;
    thresholdLow = std::fabs(lo - valueMin) <= close ? valueMin : lo;
    thresholdHigh = std::fabs(hi - valueMax) <= close ? valueMax : hi;
    indicesStale = true;
    // The marks are of the points drawn.
    cleaning.orderChanged();
}

int GLPointListObject::getVisibleCount() const
{
    const float *v = getValues();
    if (!v)
        return nVertices;
    int n = 0;
    for (int i = 0; i < nVertices; ++i)
        n += withinThresholds(v[i]);
    return n;
}

// --- Events ---------------------------------------------------------------------------------

void GLPointListObject::notifyClick(int x, int y)
{
    waitForLevelOfDetail();
    // Points below the threshold are not drawn, so they cannot be clicked either.
    const float *v = getValues();
    selectedVertex = v ? getVertex(x, y, [&](int i) { return withinThresholds(v[i]); }) : getVertex(x, y);
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
        {actionValue(Action::UPPER_THRESHOLD_DOWN), {'['}, nullptr, "upper threshold down", F},
        {actionValue(Action::UPPER_THRESHOLD_UP), {']'}, nullptr, "upper threshold up", F},
        {actionValue(Action::DATA), {'1'}, "Data", "the points in their colours", F},
        {actionValue(Action::DEPTH_BUFFER), {'2'}, "Zbuffer", "depth buffer shading", F},
        {actionValue(Action::OWN_COLORS), {'3'}, nullptr, "its colours or its values", F},
        {actionValue(Action::EYE_DOME), {'e'}, "Eye-dome lighting", "eye-dome lighting on/off", F},
        {actionValue(Action::ADAPTIVE_SIZE), {'4'}, "Adaptive size", "adaptive point size on/off", F},
    };
    static const BindingTable table("point cloud", rows, BindingTable::WITH_COLOR_MAPS, ElementCleaning::bindingRows());
    return table;
}

float GLPointListObject::steppedPointSize(float size, const KeyBinding &row)
{
    size = std::max(0.0f, size + (row.action == actionValue(Action::BIGGER_POINTS) ? 1.0f : -1.0f));
    msg::note("\rpointSize @ %2.2f", size);
    return size;
}

bool GLPointListObject::runAction(const KeyBinding &row)
{
    const float step = (valueMax - valueMin) / 100;
    switch (static_cast<Action>(row.action)) {
    case Action::BIGGER_POINTS:
    case Action::SMALLER_POINTS:
        pointSize = steppedPointSize(getPointSize(), row);
        pointSizeChosen = true;
        break;
    case Action::LOWER_THRESHOLD:
    case Action::HIGHER_THRESHOLD:
        setThresholds(thresholdLow + (row.action == actionValue(Action::LOWER_THRESHOLD) ? -step : step), thresholdHigh);
        break;
    case Action::UPPER_THRESHOLD_DOWN:
    case Action::UPPER_THRESHOLD_UP:
        setThresholds(thresholdLow, thresholdHigh + (row.action == actionValue(Action::UPPER_THRESHOLD_UP) ? step : -step));
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
    const bool cut = thresholdsCut(v);
    const bool edited = !getEdits().getHidden().empty() || !getEdits().getDeleted().empty();
    if (!cut && !edited) {
        // Every point shown: no index list at all.
        nIndices = -1;
        indexBuffer.release();
        return;
    }
    std::vector<unsigned> shown;
    if (lod) {
        // Node by node, so that a frame draws the shown points of the nodes it picks. Runs of
        // nodes go to the cores, each into a list of its own, joined in the nodes' order.
        const size_t nodes = lod->nodes.size();
        nodeShownFirst.assign(nodes, 0);
        nodeShownCount.assign(nodes, 0);
        const unsigned parts = static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(Parallel::cores(), nodes)));
        std::vector<std::vector<unsigned>> partShown(parts);
        std::vector<size_t> partFirstNode(parts, nodes);
        Parallel::split(nodes, parts, [&](unsigned part, size_t begin, size_t end) {
            partFirstNode[part] = begin;
            for (size_t k = begin; k < end; ++k) {
                const PointLodNode &node = lod->nodes[k];
                nodeShownFirst[k] = static_cast<unsigned>(partShown[part].size());
                appendShown(node.first, node.count, v, cut, partShown[part]);
                nodeShownCount[k] = static_cast<unsigned>(partShown[part].size()) - nodeShownFirst[k];
            }
        });
        size_t total = 0;
        for (const std::vector<unsigned> &p : partShown)
            total += p.size();
        shown.reserve(total);
        for (unsigned part = 0; part < parts; ++part) {
            const size_t end = part + 1 < parts ? partFirstNode[part + 1] : nodes;
            for (size_t k = partFirstNode[part]; k < end; ++k)
                nodeShownFirst[k] += static_cast<unsigned>(shown.size());
            shown.insert(shown.end(), partShown[part].begin(), partShown[part].end());
            std::vector<unsigned>().swap(partShown[part]);
        }
    } else {
        appendShown(0, n, v, cut, shown);
    }
    nIndices = static_cast<int>(shown.size());
    indexBuffer.upload(GL_ELEMENT_ARRAY_BUFFER, shown.data(), shown.size() * sizeof(unsigned));
}

void GLPointListObject::defaultDrawing() { drawData(); }

void GLPointListObject::drawData()
{
    if (nVertices <= 0)
        return;
    const bool timing = StartupTiming::enabled();
    const auto started = std::chrono::steady_clock::now();
    const FrameContext &f = frame();
    // Frames on screen start the hierarchy and take it when it is there. Captures do not wait
    // for it (an off-screen render would pay for a hierarchy it draws once).
    const bool capture = f.capture();
    // A capture, or colours to compute again, need the arrays the worker is reordering.
    if (building.valid() && (capture || colorsStale))
        waitForLevelOfDetail();
    if (!capture) {
        pollLevelOfDetail();
        // At once, not after this frame: the frame draws the sample copied as the worker
        // starts, and the hierarchy is complete the sooner.
        startLevelOfDetail();
    }

    pushPoseAndArrays(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POINT_BIT | GL_DEPTH_BUFFER_BIT, pose);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(GL_SMOOTH);

    GLint viewport[4] = {0, 0, 0, 0};
    const Matrix4 mvp = currentMatrices(viewport);
    frameViewport[0] = viewport[2];
    frameViewport[1] = viewport[3];
    framePointSize = getPointSize();
    outlined = f.overPhotographs && framePointSize > 0;
    if (outlined)
        framePointSize = std::max(framePointSize, kPhotographPointSize);
    const bool sameView = std::memcmp(static_cast<const float *>(mvp), lastMvp, sizeof lastMvp) == 0;
    const size_t budget = frameBudget(static_cast<const float *>(mvp));

    // Without a hierarchy a large cloud draws a sample of its budget.
    const size_t n = static_cast<size_t>(nVertices);
    size_t sampled = n;
    if (!lod && needsLevelOfDetail())
        sampled = capture ? std::min(n, f.captureBudget(n)) : std::min(n, static_cast<size_t>(std::max(1LL, f.points.drag)));
    prepareBuffers(sampled == n);
    drawnCount = 0;
    if (framePointSize > 0 && nIndices != 0)
        drawPoints(sampled, budget, static_cast<const float *>(mvp), viewport[3]);
    glPopClientAttrib();
    if (eyeDome && drawnCount > 0)
        EyeDomePass::apply(eyeDomeStrength, 1);

    if (const float *p = selectedPoint()) {
        // Drawn again at the same depth: it must win against the point itself.
        glDepthFunc(GL_LEQUAL);
        glPointSize(5);
        glColor3ub(255, 0, 0);
        glBegin(GL_POINTS);
        glVertex3fv(p);
        glEnd();
    }
    glPopMatrix();
    glPopAttrib();

    const size_t still = static_cast<size_t>(std::max(1LL, f.points.still));
    const bool stillRefining = !capture && (building.valid() || (lastCut && !reducedDrawing && budget < still));
    // Fewer points than a capture would draw: a sample, or nodes cut below the capture budget.
    if (!capture && ((!lod && sampled < n) || (lod && lastCut && budget < f.captureBudget(n))))
        f.reportLessThanCapture();
    if (timing) {
        glFinish();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        char what[160];
        std::snprintf(what, sizeof what, "point frame %.1f ms, %zu of %d points (%s)", ms, drawnCount, nVertices,
                      capture ? "capture" : reducedDrawing ? "drag" : "still");
        StartupTiming::mark(what);
    }
    if (stillRefining)
        refineLater(sameView);
}

void GLPointListObject::drawPoints(size_t sampled, size_t budget, const float *mvp, int height)
{
    glEnableClientState(GL_VERTEX_ARRAY);
    if (drawsPlainColor())
        colorContrastingBackground();
    else
        glEnableClientState(GL_COLOR_ARRAY);
    if (sampled < static_cast<size_t>(nVertices)) {
        drawSample(sampled);
        lastCut = true;
    } else if (lod) {
        glVertexPointer(3, GL_FLOAT, 0, vertices);
        glColorPointer(3, GL_UNSIGNED_BYTE, 0, colors);
        drawNodes(budget, mvp, height);
    } else {
        pointBuffer.bind(GL_ARRAY_BUFFER);
        glVertexPointer(3, GL_FLOAT, 0, nullptr);
        colorBuffer.bind(GL_ARRAY_BUFFER);
        glColorPointer(3, GL_UNSIGNED_BYTE, 0, nullptr);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        drawSized(framePointSize, [this](bool) {
            if (nIndices < 0) {
                glDrawArrays(GL_POINTS, 0, nVertices);
                drawnCount = static_cast<size_t>(nVertices);
            } else {
                indexBuffer.bind(GL_ELEMENT_ARRAY_BUFFER);
                glDrawElements(GL_POINTS, nIndices, GL_UNSIGNED_INT, nullptr);
                glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
                drawnCount = static_cast<size_t>(nIndices);
            }
        });
        lastCut = false;
    }
}

void GLPointListObject::refineLater(bool sameView)
{
    // The worker is not done or more detail fits: the next frames refine the picture.
    // The sample frame is the same while the view is: the window draws again only once
    // the worker is done, and leaves it the processor meanwhile.
    ElementHost *window = getHost();
    if (building.valid() && sameView && window) {
        if (!redisplayAsked) {
            redisplayAsked = true;
            window->redisplayWhen([done = buildDone] { return done->load(); });
        }
    } else {
        if (building.valid())
            building.wait_for(std::chrono::milliseconds(30));
        postRedisplay();
    }
}

void GLPointListObject::drawInfo()
{
    cleaning.drawDragShape();
    if (hasValues() && !showOwnColors && drawMethod != &GL3DObject::drawDepthBuffer)
        legend.draw(10, 10);
}
