#include "objects/GLPointStreamObject.h"

#include "objects/Answering.h"
#include "objects/GLPointListObject.h"

#include "core/ElementHost.h"
#include "core/StartupTiming.h"
#include "formats/ColorMap.h"
#include "formats/NodeCache.h"
#include "formats/PointTiles.h"
#include "math/Messages.h"
#include "math/Parallel.h"
#include "render/EyeDomePass.h"
#include "render/GLState.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

GL3DObject::DrawMethod method(void (GLPointStreamObject::*m)()) { return static_cast<GL3DObject::DrawMethod>(m); }

} // namespace

std::shared_ptr<PointTiles> GLPointStreamObject::openTiles(const char *path, ElementHost *host)
{
    if (!path)
        throw std::runtime_error("no file");
    PointTiles::Access access;
    // Nodes of a web server are kept on the disk for the next time.
    const std::string folder = NodeCache::userFolder();
    if (!folder.empty())
        access.cache = std::make_shared<NodeCache>(folder + "/nodes", NodeCache::userLimit());
    if (!HttpRangeReader::isRemote(path))
        return PointTiles::open(path, access);
    // A web server's metadata and hierarchy are read while the windows keep answering.
    access.pool = std::make_shared<HttpRangeReader::Pool>();
    std::unique_ptr<PointTiles> tiles;
    openWhileAnswering(
        host, path, nullptr, [&] { access.pool->cancel(); }, [&] { tiles = PointTiles::open(path, access); });
    return tiles;
}

GLPointStreamObject::GLPointStreamObject(const char *path, size_t memoryBudget)
    : GL3DObject(STREAM), tiles(openTiles(path))
{
    setUp(memoryBudget);
}

GLPointStreamObject::GLPointStreamObject(std::shared_ptr<PointTiles> t, size_t memoryBudget)
    : GL3DObject(STREAM), tiles(std::move(t))
{
    setUp(memoryBudget);
}

GLPointStreamObject::~GLPointStreamObject()
{
    // The reading threads decide the rules of this object: they end first.
    stream.reset();
}

void GLPointStreamObject::setUp(size_t memoryBudget)
{
    budgetBytes = memoryBudget;
    const std::vector<TileNode> &nodes = tiles->nodes();
    size_t filled = 0;
    for (int k = 0; k < 3; ++k)
        origin[k] = tiles->rootLow()[k] + tiles->rootSize() / 2;
    lod.nodes.resize(nodes.size());
    firstIndex.assign(nodes.size() + 1, 0);
    for (size_t i = 0; i < nodes.size(); ++i) {
        PointLodNode &n = lod.nodes[i];
        double lo[3], side;
        tiles->cubeOf(i, lo, side);
        for (int k = 0; k < 3; ++k)
            n.lo[k] = static_cast<float>(lo[k] - origin[k]);
        n.size = static_cast<float>(side);
        n.count = static_cast<uint32_t>(std::min<uint64_t>(nodes[i].points, UINT32_MAX));
        std::copy(nodes[i].child, nodes[i].child + 8, n.child);
        n.depth = nodes[i].level;
        firstIndex[i + 1] = firstIndex[i] + nodes[i].points;
        filled += nodes[i].points > 0;
    }
    // PointLod::select starts from node 0: the root goes first.
    const auto root = std::find_if(nodes.begin(), nodes.end(), [](const TileNode &n) { return n.level == 0; });
    if (root != nodes.begin())
        throw std::runtime_error("the hierarchy's root is not its first node");
    lod.fixedSampleDepth = tiles->sampleBits();
    lod.nPoints = static_cast<size_t>(std::min<uint64_t>(tiles->pointCount(), SIZE_MAX));
    // The box of the points, where the files say it, frames the view; else the root cube.
    double lo[3], hi[3];
    tiles->dataBox(lo, hi);
    bbMin = Point3(static_cast<float>(lo[0] - origin[0]), static_cast<float>(lo[1] - origin[1]),
                   static_cast<float>(lo[2] - origin[2]));
    bbMax = Point3(static_cast<float>(hi[0] - origin[0]), static_cast<float>(hi[1] - origin[1]),
                   static_cast<float>(hi[2] - origin[2]));
    center = (bbMin + bbMax) * 0.5f;
    const size_t items = tiles->itemNames().size();
    itemLo.assign(items, INFINITY);
    itemHi.assign(items, -INFINITY);
    shown = tiles->hasColours() || items == 0 ? -1 : 0;
    // Without colours of their own, points in one colour or a colour map read as a flat stain.
    eyeDome = !tiles->hasColours();
    selectedVertex = -1;
    cleaning.reset(0);
    rules.reset();
    resetClippingPlanes();
    drawMethod = method(&GLPointStreamObject::drawData);
    updateLegend();
    // Workers that mostly wait for a server can be more than the cores.
    stream = std::make_unique<PointStream>(tiles, tiles->isRemote() ? 6 : std::max(2u, Parallel::cores()),
                                           [this](PointStream::Node &n) { prepareNode(n); });
    msg::note("%s: %llu points in %zu nodes around [%.3f %.3f %.3f]\n", tiles->kind(),
              static_cast<unsigned long long>(tiles->pointCount()), filled, origin[0], origin[1], origin[2]);
}

uint64_t GLPointStreamObject::getPointCount() const { return tiles->pointCount(); }

size_t GLPointStreamObject::getDrawingCost() const
{
    return static_cast<size_t>(std::min<uint64_t>(tiles->pointCount(), SIZE_MAX));
}

std::string GLPointStreamObject::getInformation() const
{
    return std::to_string(tiles->pointCount()) + " points\n" + boxInformation(origin) + "\n";
}

// --- Colours --------------------------------------------------------------------------------

void GLPointStreamObject::takeArrived()
{
    bool widened = false;
    for (int i : stream->takeArrived()) {
        PointStream::Node *n = stream->resident(i);
        for (size_t k = 0; n && k < n->values.size() && k < itemLo.size(); ++k)
            for (float v : n->values[k])
                if (v < itemLo[k] || v > itemHi[k]) {
                    itemLo[k] = std::min(itemLo[k], v);
                    itemHi[k] = std::max(itemHi[k], v);
                    widened = widened || static_cast<int>(k) == shown;
                }
    }
    if (widened) {
        ++colouring;
        updateLegend();
    }
}

const unsigned char *GLPointStreamObject::coloursOf(PointStream::Node &n)
{
    if (shown < 0 || static_cast<size_t>(shown) >= n.values.size())
        return n.rgb.empty() ? nullptr : n.rgb.data();
    if (n.mappedFor != colouring) {
        const ColorMap::ColorFunction f = ColorMap::selectColorMap(colorMapIndex);
        const std::vector<float> &v = n.values[static_cast<size_t>(shown)];
        n.mapped.resize(3 * n.count);
        for (size_t p = 0; p < n.count; ++p)
            f(&n.mapped[3 * p], v[p], itemLo[shown], itemHi[shown]);
        n.mappedFor = colouring;
    }
    return n.mapped.data();
}

void GLPointStreamObject::updateLegend()
{
    legend.clear();
    if (shown < 0)
        return;
    legend.setTitle(tiles->itemNames()[static_cast<size_t>(shown)].c_str());
    const float lo = itemLo[shown] <= itemHi[shown] ? itemLo[shown] : 0;
    const float hi = itemLo[shown] <= itemHi[shown] ? itemHi[shown] : 0;
    legend.add(ColorMap::selectColorMap(colorMapIndex), lo, hi, 15, 2);
}

void GLPointStreamObject::colorMapChanged()
{
    ++colouring;
    updateLegend();
}

void GLPointStreamObject::showNext()
{
    const int items = static_cast<int>(tiles->itemNames().size());
    // Own colours, then each item; without own colours the items in turn.
    int next = shown + 1;
    if (next >= items)
        next = tiles->hasColours() ? -1 : 0;
    shown = next;
    ++colouring;
    updateLegend();
    msg::note("GLPointStreamObject: %s\n", shown < 0 ? "point colours" : tiles->itemNames()[static_cast<size_t>(shown)].c_str());
}

// --- Keys and clicks ------------------------------------------------------------------------

const BindingTable *GLPointStreamObject::getBindings() const { return &GLPointListObject::bindings(); }

bool GLPointStreamObject::runAction(const KeyBinding &row)
{
    using Action = GLPointListObject::Action;
    switch (static_cast<Action>(row.action)) {
    case Action::BIGGER_POINTS:
    case Action::SMALLER_POINTS:
        pointSize = GLPointListObject::steppedPointSize(pointSize, row);
        break;
    case Action::DATA:
        drawMethod = method(&GLPointStreamObject::drawData);
        break;
    case Action::DEPTH_BUFFER:
        setDrawDepthBuffer();
        break;
    case Action::OWN_COLORS:
        if (tiles->itemNames().empty() || (tiles->itemNames().size() == 1 && !tiles->hasColours()))
            return false;
        showNext();
        break;
    case Action::EYE_DOME:
        eyeDome = !eyeDome;
        msg::note("GLPointStreamObject: eye-dome lighting %s\n", eyeDome ? "on" : "off");
        break;
    default:
        return false;
    }
    return true;
}

void GLPointStreamObject::notifyClick(int x, int y)
{
    uint64_t index;
    if (pickDrawn(x, y) && getPicked(index, picked))
        msg::note("Selected vertex n:\t%llu,\t[%f %f %f]\n", static_cast<unsigned long long>(index),
                  picked[0], picked[1], picked[2]);
}

bool GLPointStreamObject::pickDrawn(int x, int y)
{
    GLint vp[4] = {0, 0, 0, 0};
    const Matrix4 a = currentMatrices(vp) * pose;
    float best = INFINITY;
    pickedNode = -1;
    // Among the points the last frame drew: those are the ones the user sees.
    for (int id : drawnNodes) {
        const PointStream::Node *n = stream->resident(id);
        if (!n)
            continue;
        float offset[3];
        for (int k = 0; k < 3; ++k)
            offset[k] = static_cast<float>(n->centre[k] - origin[k]);
        for (size_t p = 0; p < n->count; ++p) {
            if (!n->masks.plain() && !n->masks.shown(p))
                continue; // hidden or deleted: not drawn
            const float v[3] = {n->xyz[3 * p] + offset[0], n->xyz[3 * p + 1] + offset[1], n->xyz[3 * p + 2] + offset[2]};
            float w[3];
            if (windowPosition(a, vp, v, w) && std::fabs(x - w[0]) < 4 && std::fabs(y - w[1]) < 4 && w[2] < best) {
                best = w[2];
                pickedNode = id;
                pickedPoint = p;
            }
        }
    }
    return pickedNode >= 0;
}

bool GLPointStreamObject::getPicked(uint64_t &index, double *xyz) const
{
    const PointStream::Node *n = pickedNode >= 0 ? stream->resident(pickedNode) : nullptr;
    if (!n || pickedPoint >= n->count)
        return false;
    index = firstIndex[static_cast<size_t>(pickedNode)] + pickedPoint;
    for (int k = 0; k < 3; ++k)
        xyz[k] = n->centre[k] + static_cast<double>(n->xyz[3 * pickedPoint + k]);
    return true;
}

// --- Frames ---------------------------------------------------------------------------------

size_t GLPointStreamObject::frameBudget(const float *mvp, uint64_t total)
{
    const FrameContext &f = frame();
    const size_t still = static_cast<size_t>(std::max(1LL, f.points.still));
    const size_t drag = static_cast<size_t>(std::max(1LL, f.points.drag));
    if (f.capture())
        return f.points.captureEveryPoint ? static_cast<size_t>(std::min<uint64_t>(total, SIZE_MAX)) : still;
    if (reducedDrawing) {
        rampBudget = drag;
    } else if (std::memcmp(mvp, lastMvp, sizeof lastMvp) != 0) {
        // A new view starts light and refines while it stays.
        rampBudget = std::min(still, drag);
        reportedComplete = false;
    } else if (lastCut) {
        rampBudget = std::min(still, std::max(rampBudget, drag) * 4);
    }
    std::memcpy(lastMvp, mvp, sizeof lastMvp);
    return std::max<size_t>(rampBudget, 1);
}

void GLPointStreamObject::drawNode(PointStream::Node &n)
{
    glPushMatrix();
    glTranslated(n.centre[0] - origin[0], n.centre[1] - origin[1], n.centre[2] - origin[2]);
    glVertexPointer(3, GL_FLOAT, 0, n.xyz.data());
    if (const unsigned char *c = coloursOf(n)) {
        glEnableClientState(GL_COLOR_ARRAY);
        glColorPointer(3, GL_UNSIGNED_BYTE, 0, c);
    } else {
        glDisableClientState(GL_COLOR_ARRAY);
        colorContrastingBackground();
    }
    if (n.masks.plain()) {
        glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(n.count));
        drawnCount += n.count;
    } else {
        // Neither hidden nor deleted, and the selected ones again, marked, at the same depth
        // and a little larger, as a cloud read whole marks them.
        glDrawElements(GL_POINTS, static_cast<GLsizei>(n.shown.size()), GL_UNSIGNED_INT, n.shown.data());
        drawnCount += n.shown.size();
        if (!n.marked.empty()) {
            glPushAttrib(GL_POINT_BIT | GL_CURRENT_BIT | GL_DEPTH_BUFFER_BIT);
            glDisableClientState(GL_COLOR_ARRAY);
            glColor3ubv(ElementCleaning::kMarked);
            glPointSize(std::max(pointSize, 1.0f) + 2);
            glDepthFunc(GL_LEQUAL);
            glDrawElements(GL_POINTS, static_cast<GLsizei>(n.marked.size()), GL_UNSIGNED_INT, n.marked.data());
            glPopAttrib();
        }
    }
    glPopMatrix();
    n.drawn = frameNumber;
}

std::vector<int> GLPointStreamObject::nextPart(const std::vector<int> &wanted, size_t &at) const
{
    const size_t itemBytes = 4 * tiles->itemNames().size() + 18;
    std::vector<int> part;
    size_t bytes = 0;
    for (; at < wanted.size() && (part.empty() || bytes < budgetBytes / 2); ++at) {
        part.push_back(wanted[at]);
        bytes += lod.nodes[static_cast<size_t>(wanted[at])].count * itemBytes;
    }
    return part;
}

uint64_t GLPointStreamObject::pointsToRead(const std::vector<int> &ids)
{
    uint64_t points = 0;
    for (int id : ids)
        if (!stream->resident(id) && !stream->hasFailed(id))
            points += lod.nodes[static_cast<size_t>(id)].count;
    return points;
}

void GLPointStreamObject::drawCapture(const FrameContext &f, const std::vector<int> &wanted)
{
    // A part of the nodes at a time, each read at once on every core, drawn, and let go when
    // the next needs the room: a capture of every point of a cloud larger than the memory.
    // The first part was read before the frame; the others are read in it, while the windows
    // answer (the scene manager puts off what they ask for until the frame has ended).
    // The share shown is of all the points: a node in memory when the capture began may be
    // let go for a later part, and read again.
    float points = 0;
    for (int id : wanted)
        points += static_cast<float>(lod.nodes[static_cast<size_t>(id)].count);
    uint64_t done = 0; // the points of the parts drawn
    LateProgress progress(getHost(), "Reading " + tiles->path());
    const auto show = [&](uint64_t read) {
        return progress.show(100.0f * static_cast<float>(done + read) / points);
    };
    bool cancelled = false;
    for (size_t at = 0; at < wanted.size();) {
        const std::vector<int> part = nextPart(wanted, at);
        const uint64_t toRead = pointsToRead(part);
        // Once cancelled, the rest draws what is in memory (a frame asked for all the same).
        try {
            if (!cancelled && toRead > 0)
                stream->loadNow(part, show);
        } catch (const std::runtime_error &) {
            cancelled = true; // the only error loadNow raises
        }
        for (int id : part)
            done += lod.nodes[static_cast<size_t>(id)].count;
        // Between parts too: parts read quickly one after the other may take long together.
        cancelled = cancelled || (toRead > 0 && !show(0));
        if (cancelled)
            f.reportCancelled();
        refresh(part);
        for (int id : part)
            if (PointStream::Node *n = stream->resident(id)) {
                drawNode(*n);
                drawnNodes.push_back(id);
            }
        stream->evict(budgetBytes / 2, frameNumber + 1);
    }
    complete = true;
}

bool GLPointStreamObject::readForCapture()
{
    std::vector<int> wanted;
    std::vector<bool> taken(lod.nodes.size());
    for (int id : planned)
        if (!taken[static_cast<size_t>(id)]) {
            taken[static_cast<size_t>(id)] = true;
            wanted.push_back(id);
        }
    const uint64_t points = pointsToRead(wanted);
    planned.clear();
    readCancelled = false;
    if (points == 0)
        return true;
    LateProgress progress(getHost(), "Reading " + tiles->path());
    const Holding during(holding);
    try {
        stream->loadNow(wanted, [&](uint64_t read) {
            return progress.show(100.0f * static_cast<float>(read) / static_cast<float>(points));
        });
    } catch (const std::runtime_error &) {
        readCancelled = true; // the only error loadNow raises
        return false;
    }
    return true;
}

void GLPointStreamObject::drawData()
{
    const auto started = std::chrono::steady_clock::now();
    const FrameContext &f = frame();
    const bool capture = f.capture();
    takeArrived();
    ++frameNumber;
    pushPoseAndArrays(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POINT_BIT | GL_DEPTH_BUFFER_BIT,
                      static_cast<const float *>(pose));
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    GLint viewport[4] = {0, 0, 0, 0};
    const Matrix4 mvp = currentMatrices(viewport);
    const size_t budget = frameBudget(static_cast<const float *>(mvp), tiles->pointCount());
    bool fits = true;
    lod.select(static_cast<const float *>(mvp), viewport[3], budget, chosen, &fits, &chosenPixels);
    if (f.plan) {
        // What the capture reads before its frame: the part it draws first (on each side of
        // a split view).
        size_t at = 0;
        if (pointSize > 0) {
            const std::vector<int> part = nextPart(chosen, at);
            planned.insert(planned.end(), part.begin(), part.end());
        }
        glPopMatrix();
        glPopClientAttrib();
        glPopAttrib();
        return;
    }
    lastCut = !fits;
    drawnNodes.clear();
    drawnCount = 0;
    glPointSize(std::max(pointSize, 1.0f));
    glEnableClientState(GL_VERTEX_ARRAY);
    std::vector<int> missing;
    if (pointSize <= 0) {
        complete = true;
    } else if (capture && !holding && !readCancelled) {
        drawCapture(f, chosen);
    } else {
        // The nodes that came, or all of them after a new rule, decide the rules first.
        refresh(chosen);
        for (int id : chosen) {
            if (PointStream::Node *n = stream->resident(id)) {
                drawNode(*n);
                drawnNodes.push_back(id);
            } else if (lod.nodes[static_cast<size_t>(id)].count > 0 && !stream->hasFailed(id)) {
                missing.push_back(id);
            }
        }
        // Largest on screen first, as chosen: the coarse nodes come before the fine ones.
        if (!holding)
            stream->want(missing);
        complete = missing.empty();
    }
    glPopClientAttrib();
    if (capture)
        readCancelled = false;
    if (!holding)
        stream->evict(budgetBytes, frameNumber);
    if (eyeDome && drawnCount > 0)
        EyeDomePass::apply(1, 1);
    uint64_t index;
    double at[3];
    if (getPicked(index, at)) {
        // Drawn again at the same depth: it must win against the point itself.
        glDepthFunc(GL_LEQUAL);
        glPointSize(5);
        glColor3ub(255, 0, 0);
        glBegin(GL_POINTS);
        glVertex3d(at[0] - origin[0], at[1] - origin[1], at[2] - origin[2]);
        glEnd();
    }
    glPopMatrix();
    glPopAttrib();
    if (!capture && (!complete || (lastCut && budget < f.captureBudget(lod.nPoints))))
        f.reportLessThanCapture();
    if (StartupTiming::enabled()) {
        glFinish();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        char what[200];
        std::snprintf(what, sizeof what, "point frame %.1f ms, %zu of %llu points (%s), %zu nodes waited for", ms,
                      drawnCount, static_cast<unsigned long long>(tiles->pointCount()),
                      capture ? "capture" : reducedDrawing ? "drag" : "still", missing.size());
        StartupTiming::mark(what);
        const size_t still = static_cast<size_t>(std::max(1LL, f.points.still));
        if (!capture && !reducedDrawing && complete && (!lastCut || budget >= still) && !reportedComplete) {
            reportedComplete = true;
            StartupTiming::mark("point view complete");
        }
    }
    if (!capture)
        refineLater(!missing.empty(), lastCut && !reducedDrawing && budget < static_cast<size_t>(std::max(1LL, f.points.still)));
}

void GLPointStreamObject::refineLater(bool missing, bool cut)
{
    ElementHost *window = getHost();
    if (missing && window) {
        // The frame that shows them comes when a node arrives; none is drawn before, and one
        // request waits at a time.
        if (!askPending->exchange(true)) {
            window->redisplayWhen([flag = stream->arrivedFlag(), asked = askPending] {
                if (!flag->load())
                    return false;
                *asked = false;
                return true;
            });
        }
    } else if (cut) {
        postRedisplay();
    }
}

void GLPointStreamObject::drawInfo()
{
    // The rectangle or lasso of the drag under way.
    cleaning.drawDragShape();
    if (shown >= 0 && drawMethod != &GL3DObject::drawDepthBuffer)
        legend.draw(10, 10);
}
