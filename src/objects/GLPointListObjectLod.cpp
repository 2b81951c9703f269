#include "objects/GLPointListObject.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include "math/Messages.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

// The level of detail of a cloud: the hierarchy built in the background, the sample drawn
// until it is there, and the nodes a frame draws under its budget.

bool GLPointListObject::needsLevelOfDetail() const
{
    // Clouds within the drag budget are drawn whole in every frame, and so is one whose
    // hierarchy failed (it is not tried again for every frame).
    return !lod && !lodRefused &&
           static_cast<size_t>(nVertices) > static_cast<size_t>(std::max(0LL, frame().points.drag));
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
    const size_t m = std::min(n, static_cast<size_t>(std::max(1LL, frame().points.drag)));
    // Copied in the file's order, which reads the arrays front to back, and put in space
    // order once the worker runs.
    const std::vector<unsigned> indices = stratifiedSample(n, m);
    const float *v = getValues();
    heldPoints.resize(3 * m);
    heldUploaded = false;
    heldColors.resize(3 * m);
    heldValues.resize(v ? m : 0);
    for (size_t k = 0; k < m; ++k) {
        const size_t i = indices[k];
        std::copy(vertices + 3 * i, vertices + 3 * i + 3, &heldPoints[3 * k]);
        std::copy(colors + 3 * i, colors + 3 * i + 3, &heldColors[3 * k]);
        if (v)
            heldValues[k] = v[i];
    }
    if (selectedVertex >= 0 && selectedVertex < nVertices)
        std::copy(vertices + 3 * selectedVertex, vertices + 3 * selectedVertex + 3, heldSelection);
    const PointLodArrays arrays = reorderedArrays();
    auto grouped = std::make_shared<PointCellOrder>(handOverReadOrder());
    cancelBuild = false;
    buildDone = std::make_shared<std::atomic<bool>>(false);
    redisplayAsked = false;
    building = std::async(std::launch::async, [this, arrays, n, grouped, done = buildDone] {
        struct Done {
            std::atomic<bool> &flag;
            ~Done() { flag = true; }
        } mark{*done};
        return std::make_unique<PointLod>(
            PointLod::buildInPlace(arrays, n, 2, &cancelBuild, PointLod::kSpillBytes, grouped.get()));
    });
    std::vector<unsigned> slots(m);
    for (size_t k = 0; k < m; ++k)
        slots[k] = static_cast<unsigned>(k);
    PointLod::sortSpatially(heldPoints.data(), slots);
    std::vector<float> points(3 * m), values(heldValues.size());
    std::vector<unsigned char> rgb(3 * m);
    for (size_t k = 0; k < m; ++k) {
        const size_t j = slots[k];
        std::copy(&heldPoints[3 * j], &heldPoints[3 * j] + 3, &points[3 * k]);
        std::copy(&heldColors[3 * j], &heldColors[3 * j] + 3, &rgb[3 * k]);
        if (v)
            values[k] = heldValues[j];
    }
    heldPoints.swap(points);
    heldColors.swap(rgb);
    heldValues.swap(values);
}

std::vector<unsigned> GLPointListObject::stratifiedSample(size_t n, size_t m)
{
    // A uniform random subset, one point from each stretch of n / m.
    std::vector<unsigned> indices(m);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (size_t k = 0; k < m; ++k) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const size_t from = k * n / m, to = (k + 1) * n / m;
        indices[k] = static_cast<unsigned>(from + (state >> 33) % std::max<size_t>(1, to - from));
    }
    return indices;
}

const std::vector<unsigned> &GLPointListObject::sampleOf(size_t m)
{
    // The uniform random subset drawn in space order.
    const size_t n = static_cast<size_t>(nVertices);
    if (sample.size() == m)
        return sample;
    sample = stratifiedSample(n, m);
    PointLod::sortSpatially(pointStore.get(), sample);
    return sample;
}

PointCellOrder GLPointListObject::handOverReadOrder()
{
    // From here on the hierarchy's order leads to the file, and it looks the selected point
    // up by its index in the file.
    if (readOrder && selectedVertex >= 0 && selectedVertex < nVertices)
        selectedVertex = static_cast<int>(readOrder.fileIndex[static_cast<size_t>(selectedVertex)]);
    return std::move(readOrder);
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
        size_t at = n;
        try {
            at = lod->order.find(static_cast<uint32_t>(selectedVertex));
        } catch (const std::exception &e) {
            msg::warning("GLPointListObject: the selected point is lost: %s\n", e.what());
        }
        selectedVertex = at < n ? static_cast<int>(at) : -1;
    }
    sample.clear();
    sample.shrink_to_fit();
    std::vector<float>().swap(heldPoints);
    std::vector<float>().swap(heldValues);
    std::vector<unsigned char>().swap(heldColors);
    samplePointBuffer.release();
    sampleColorBuffer.release();
    heldUploaded = false;
    // Drawn from the arrays themselves: a copy in OpenGL would double the memory of a cloud.
    pointBuffer.release();
    colorBuffer.release();
    if (valueItem >= 0)
        colorsStale = true;
    pointsUploaded = colorsUploaded = false;
    indicesStale = true;
    cleaning.orderChanged();
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
        lodRefused = true;
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
    PointCellOrder grouped = handOverReadOrder();
    takeLevelOfDetail(std::make_unique<PointLod>(PointLod::buildInPlace(
        reorderedArrays(), static_cast<size_t>(nVertices), 2, &cancelBuild, PointLod::kSpillBytes, &grouped)));
}

// --- Frames ---------------------------------------------------------------------------------

size_t GLPointListObject::frameBudget(const float *mvp)
{
    const FrameContext &f = frame();
    const size_t still = static_cast<size_t>(std::max(1LL, f.points.still));
    const size_t drag = static_cast<size_t>(std::max(1LL, f.points.drag));
    if (f.capture())
        return f.captureBudget(static_cast<size_t>(nVertices));
    if (reducedDrawing) {
        rampBudget = drag;
    } else if (std::memcmp(mvp, lastMvp, sizeof lastMvp) != 0) {
        // A new view starts light and refines while it stays. Over photographs a point is
        // drawn three times, ringed: the first frame fills as many pixels as a plain one.
        rampBudget = std::min(still, drag);
        if (outlined) {
            const double s = framePointSize;
            rampBudget = static_cast<size_t>(static_cast<double>(rampBudget) * s * s / ringedArea(s));
        }
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
    const bool cut = thresholdsCut(v);
    // While the worker runs, the held sample stays as it is: frames of it upload it again
    // only when the threshold moves, and leave the processors to the worker.
    const bool held = building.valid();
    if (held && heldUploaded && heldThresholds[0] == thresholdLow && heldThresholds[1] == thresholdHigh && !samplePointBuffer.empty()) {
        samplePointBuffer.bind(GL_ARRAY_BUFFER);
        glVertexPointer(3, GL_FLOAT, 0, nullptr);
        sampleColorBuffer.bind(GL_ARRAY_BUFFER);
        glColorPointer(3, GL_UNSIGNED_BYTE, 0, nullptr);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        drawSized(framePointSize, [this](bool) { glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(drawnCount = heldShown)); });
        return;
    }
    p.clear();
    c.clear();
    p.reserve(3 * m);
    c.reserve(3 * m);
    if (held) {
        // The arrays are the worker's: the copy of the sample taken before it started.
        for (size_t k = 0; k < heldPoints.size() / 3; ++k) {
            if (cut && !heldValues.empty() && !withinThresholds(heldValues[k]))
                continue;
            p.insert(p.end(), &heldPoints[3 * k], &heldPoints[3 * k] + 3);
            c.insert(c.end(), &heldColors[3 * k], &heldColors[3 * k] + 3);
        }
    } else {
        for (unsigned i : sampleOf(m)) {
            if (!isDrawn(i, v, cut))
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
    drawSized(framePointSize, [](bool) { glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(p.size() / 3)); });
    drawnCount = p.size() / 3;
    heldUploaded = held;
    heldThresholds[0] = thresholdLow;
    heldThresholds[1] = thresholdHigh;
    heldShown = drawnCount;
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
        const float base = framePointSize;
        float size = base;
        if (adaptiveSize) {
            bool frontier = false, anyChild = false;
            for (int c : node.child)
                if (c >= 0) {
                    anyChild = true;
                    frontier = frontier || chosen[static_cast<size_t>(c)];
                }
            if (anyChild && !frontier) {
                const float spacing = selectedPixels[k] / static_cast<float>(1 << PointLod::sampleDepth(node.depth));
                size = std::min(std::max(base, std::round(spacing * base)), std::max(base, 8.0f));
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
        size_t to = from;
        drawSized(nodes[from].first, [&](bool last) {
            for (to = from; to < nodes.size() && nodes[to].first == nodes[from].first; ++to) {
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
                    drawn += last ? nodeShownCount[id] : 0;
                    continue;
                }
                uint32_t end = node.first + node.count;
                while (to + 1 < nodes.size() && nodes[to + 1].first == nodes[from].first &&
                       lod->nodes[static_cast<size_t>(nodes[to + 1].second)].first == end) {
                    ++to;
                    end += lod->nodes[static_cast<size_t>(nodes[to].second)].count;
                }
                glDrawArrays(GL_POINTS, static_cast<GLint>(node.first), static_cast<GLsizei>(end - node.first));
                drawn += last ? end - node.first : 0;
            }
        });
        from = to;
    }
    drawnCount = drawn;
}

// --- Sizes ----------------------------------------------------------------------------------

float GLPointListObject::defaultPointSize(size_t count, int width, int height)
{
    if (count == 0 || width <= 0 || height <= 0)
        return 1;
    const double spacing = std::sqrt(static_cast<double>(width) * height / static_cast<double>(count));
    return static_cast<float>(std::min(4.0, std::max(1.0, std::round(spacing / 2))));
}

float GLPointListObject::getPointSize() const
{
    if (pointSizeChosen)
        return pointSize;
    return defaultPointSize(static_cast<size_t>(std::max(0, nVertices)), frameViewport[0], frameViewport[1]);
}

double GLPointListObject::ringedArea(double size)
{
    return (size + kOuterRing) * (size + kOuterRing) + (size + kInnerRing) * (size + kInnerRing) + size * size;
}

void GLPointListObject::drawSized(float size, const std::function<void(bool last)> &draw)
{
    if (outlined) {
        // The rings first, at the points' depth without writing it: the points cover them.
        GLfloat colour[4];
        glGetFloatv(GL_CURRENT_COLOR, colour);
        const GLboolean colours = glIsEnabled(GL_COLOR_ARRAY);
        glDisableClientState(GL_COLOR_ARRAY);
        glDepthMask(GL_FALSE);
        for (const GLubyte ring : {255, 0}) {
            glPointSize(size + (ring ? kOuterRing : kInnerRing));
            glColor3ub(ring, ring, ring);
            draw(false);
        }
        glDepthMask(GL_TRUE);
        glColor4fv(colour);
        if (colours)
            glEnableClientState(GL_COLOR_ARRAY);
    }
    glPointSize(size);
    draw(true);
}
