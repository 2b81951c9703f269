// What the selections and edits (ElementCleaning, through RuleElements) see of a streamed
// cloud: its rules decided node by node, the counts of the nodes in memory, and saving what is
// kept, node after node, as PLY or LAS.
#include "objects/GLPointStreamObject.h"

#include "formats/LasWriter.h"
#include "formats/PlyWriter.h"
#include "formats/PointTiles.h"
#include "math/Messages.h"
#include "math/Parallel.h"
#include "objects/Answering.h"
#include "objects/GLPointListObject.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

bool endsWith(const std::string &s, const char *tail)
{
    const size_t n = std::char_traits<char>::length(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

std::vector<const float *> valuesOf(const PointStream::Node &n)
{
    std::vector<const float *> out;
    for (const std::vector<float> &v : n.values)
        out.push_back(v.data());
    return out;
}

// The points of node n as drawn once it has edits: those shown, and those marked.
void indexShown(PointStream::Node &n)
{
    n.shown.clear();
    n.marked.clear();
    if (n.masks.plain()) {
        n.shown.shrink_to_fit();
        n.marked.shrink_to_fit();
        return;
    }
    for (size_t p = 0; p < n.count; ++p)
        if (n.masks.shown(p)) {
            n.shown.push_back(static_cast<uint32_t>(p));
            if (n.masks.selected.contains(p))
                n.marked.push_back(static_cast<uint32_t>(p));
        }
}

} // namespace

std::vector<int> GLPointStreamObject::residentNodes()
{
    std::vector<int> ids;
    for (size_t i = 0; i < lod.nodes.size(); ++i)
        if (stream->resident(static_cast<int>(i)))
            ids.push_back(static_cast<int>(i));
    return ids;
}

void GLPointStreamObject::refresh(const std::vector<int> &ids)
{
    if (rules.empty())
        return;
    std::vector<PointStream::Node *> stale;
    for (int id : ids)
        if (PointStream::Node *n = stream->resident(id); n && !rules.current(n->masks))
            stale.push_back(n);
    if (stale.empty())
        return;
    // The nodes shared among the cores, each decided on one thread.
    Parallel::split(stale.size(), static_cast<unsigned>(std::min<size_t>(stale.size(), Parallel::cores())),
                    [&](unsigned, size_t begin, size_t end) {
                        for (size_t k = begin; k < end; ++k)
                            decide(rules, *stale[k]);
                    });
}

void GLPointStreamObject::decide(const RuleSelection &r, PointStream::Node &n) const
{
    double shift[3];
    for (int a = 0; a < 3; ++a)
        shift[a] = n.centre[a] - origin[a];
    r.update(n.masks, n.xyz.data(), n.count, shift, valuesOf(n));
    indexShown(n);
}

void GLPointStreamObject::publishRules()
{
    auto copy = std::make_shared<const RuleSelection>(rules);
    std::lock_guard<std::mutex> hold(publishing);
    published = std::move(copy);
}

void GLPointStreamObject::prepareNode(PointStream::Node &n)
{
    std::shared_ptr<const RuleSelection> r;
    {
        std::lock_guard<std::mutex> hold(publishing);
        r = published;
    }
    // The drawing thread adds what came since (the list only grows, or starts over).
    if (r && !r->empty())
        decide(*r, n);
}

GLPointStreamObject::Counts GLPointStreamObject::countResident()
{
    const std::vector<int> ids = residentNodes();
    refresh(ids);
    Counts c;
    for (int id : ids) {
        const PointStream::Node &n = *stream->resident(id);
        c.read += n.count;
        c.selected += n.masks.selected.count();
        c.hidden += n.masks.hidden.count();
        c.deleted += n.masks.deleted.count();
    }
    return c;
}

void GLPointStreamObject::select(SelectionRule rule)
{
    if (rule.kind == SelectionRule::Grow && !rule.seeds)
        rule.seeds = selectedPoints(rule.radius);
    rules.select(std::move(rule));
    publishRules();
}

std::shared_ptr<const NearPoints> GLPointStreamObject::selectedPoints(float radius)
{
    // The nodes in memory, up to date with the rules given so far.
    const std::vector<int> ids = residentNodes();
    refresh(ids);
    auto near = std::make_shared<NearPoints>(radius);
    for (int id : ids) {
        const PointStream::Node &n = *stream->resident(id);
        for (size_t p : n.masks.selected) {
            const float *q = n.xyz.data() + 3 * p;
            near->add(static_cast<float>(q[0] + n.centre[0] - origin[0]),
                      static_cast<float>(q[1] + n.centre[1] - origin[1]),
                      static_cast<float>(q[2] + n.centre[2] - origin[2]));
        }
    }
    return near;
}

bool GLPointStreamObject::edit(RuleSelection::Edit e, size_t &changed)
{
    const Counts before = countResident();
    if (!rules.edit(e)) {
        changed = 0;
        return false;
    }
    publishRules();
    const Counts after = countResident();
    const uint64_t gone = e == RuleSelection::Edit::Hide ? after.hidden - before.hidden
                          : e == RuleSelection::Edit::Delete || e == RuleSelection::Edit::KeepOnly
                              ? after.deleted - before.deleted
                              : 0;
    changed = static_cast<size_t>(gone);
    return true;
}

size_t GLPointStreamObject::selectedCount()
{
    return static_cast<size_t>(countResident().selected);
}

std::vector<ElementValues> GLPointStreamObject::valueItems() const
{
    std::vector<ElementValues> out;
    const std::vector<std::string> &names = tiles->itemNames();
    for (size_t k = 0; k < names.size(); ++k) {
        ElementValues v;
        v.name = names[k];
        v.shown = static_cast<int>(k) == shown;
        // The range of the nodes read so far.
        v.lo = itemLo[k] <= itemHi[k] ? itemLo[k] : 0;
        v.hi = itemLo[k] <= itemHi[k] ? itemHi[k] : 0;
        out.push_back(std::move(v));
    }
    return out;
}

void GLPointStreamObject::editsChanged()
{
    // The frame after an edit starts light and refines, as a new view does.
    lastMvp[0] = std::numeric_limits<float>::quiet_NaN();
    postRedisplay();
}

// --- Saving ---------------------------------------------------------------------------------

void GLPointStreamObject::checkSaveName(const std::string &path) const
{
    GLPointListObject::checkCloudSaveName(path);
}

size_t GLPointStreamObject::saveKept(const std::string &path, const ElementSelection &)
{
    std::vector<uint64_t> removedBy;
    return static_cast<size_t>(saveKept(path, {}, removedBy));
}

void GLPointStreamObject::keptOf(int id, PointStream::Node &n, const std::vector<SelectionRule> &removal,
                                 std::vector<uint64_t> &removedBy, std::vector<uint32_t> &kept)
{
    refresh({id});
    double shift[3];
    for (int a = 0; a < 3; ++a)
        shift[a] = n.centre[a] - origin[a];
    std::vector<ElementSelection> found;
    RuleSelection::findAll(removal, n.xyz.data(), n.count, shift, valuesOf(n), found);
    ElementSelection gone = n.masks.deleted;
    gone.resize(n.count);
    for (size_t r = 0; r < found.size(); ++r) {
        removedBy[r] += found[r].count();
        gone.addAll(found[r]);
    }
    kept.clear();
    for (size_t p = 0; p < n.count; ++p)
        if (!gone.contains(p))
            kept.push_back(static_cast<uint32_t>(p));
}

uint64_t GLPointStreamObject::saveKept(const std::string &path, const std::vector<SelectionRule> &removal,
                                       std::vector<uint64_t> &removedBy)
{
    checkSaveName(path);
    removedBy.assign(removal.size(), 0);
    // A save that takes a while (nodes of a web server) shows how far it is in a progress
    // window, "Saving PATH", whose Cancel ends it, and in a line every two seconds; the
    // window's events are handled while the nodes are read.
    LateProgress progress(host, "Saving " + path);
    auto said = std::chrono::steady_clock::now();
    uint64_t read = 0;
    // `coming`: the points of the part being read that have come.
    const auto answer = [&](uint64_t coming) {
        const auto now = std::chrono::steady_clock::now();
        if (now - said > std::chrono::seconds(2)) {
            said = now;
            msg::note("GLPointStreamObject: saving %s: %llu of %llu points read\n", path.c_str(),
                      static_cast<unsigned long long>(read + coming),
                      static_cast<unsigned long long>(tiles->pointCount()));
        }
        return progress.show(100.0f * static_cast<float>(read + coming) /
                             static_cast<float>(std::max<uint64_t>(1, tiles->pointCount())));
    };
    const Holding during(holding);
    // Every node with points, in the file's order of nodes (that of the points' indices).
    std::vector<int> order;
    for (size_t i = 0; i < lod.nodes.size(); ++i)
        if (tiles->nodes()[i].points > 0)
            order.push_back(static_cast<int>(i));
    // The scale and offset of the cloud's LAS nodes (COPC, EPT of LAZ), else millimetres.
    LasScaling scaling;
    if (!order.empty()) {
        stream->loadNow({order[0]}, answer);
        if (const PointStream::Node *root = stream->resident(order[0]))
            scaling = root->las;
    }
    // PLY coordinates go on the grid of the LAS nodes' files: the digits those hold.
    const bool fileGrid = scaling.given();
    if (!fileGrid) {
        double lo[3], hi[3];
        tiles->dataBox(lo, hi);
        scaling = LasWriter::scalingFor(lo, hi);
    }
    // A cursor over the kept points: a part of the nodes is read at a time, the part before
    // let go first, so that memory stays within the budget whatever the cloud's size.
    size_t nextNode = 0, inPart = 0, at = 0;
    std::vector<int> part;
    PointStream::Node *node = nullptr;
    std::vector<uint32_t> kept;
    std::vector<const float *> values;
    const auto advance = [&]() {
        while (!node || at >= kept.size()) {
            if (inPart >= part.size()) {
                if (nextNode >= order.size())
                    return false;
                stream->evict(budgetBytes / 2, frameNumber + 1);
                part = nextPart(order, nextNode);
                if (!answer(0))
                    throw std::runtime_error("cancelled");
                stream->loadNow(part, answer);
                inPart = 0;
            }
            const int id = part[inPart++];
            node = stream->resident(id);
            if (!node)
                throw std::runtime_error("node " + tiles->nodeName(static_cast<size_t>(id)) +
                                         " could not be read");
            read += node->count;
            keptOf(id, *node, removal, removedBy, kept);
            values = valuesOf(*node);
            at = 0;
        }
        return true;
    };
    // A coordinate of the file: on the grid of its scale, where the points came from one.
    const auto fileCoordinate = [&](const PointStream::Node &n, size_t p, int a) {
        const double v = n.centre[a] + static_cast<double>(n.xyz[3 * p + a]);
        return fileGrid ? scaling.offset[a] +
                              std::round((v - scaling.offset[a]) / scaling.scale[a]) * scaling.scale[a]
                        : v;
    };
    const bool colours = tiles->hasColours();
    uint64_t written;
    if (endsWith(path, ".ply")) {
        PlyCloudLayout layout;
        layout.doubleCoordinates = true;
        layout.colours = colours;
        layout.values = tiles->itemNames();
        written = PlyWriter::writeCloud(path, layout, [&](double xyz[3], unsigned char rgb[3], float *row) {
            if (!advance())
                return false;
            const size_t p = kept[at++];
            for (int a = 0; a < 3; ++a)
                xyz[a] = fileCoordinate(*node, p, a);
            if (colours && !node->rgb.empty())
                std::copy(&node->rgb[3 * p], &node->rgb[3 * p] + 3, rgb);
            for (size_t k = 0; k < values.size() && k < layout.values.size(); ++k)
                row[k] = values[k][p];
            return true;
        });
    } else {
        const LasValueSlots slots(tiles->itemNames());
        written = LasWriter::write(path, colours ? 7 : 6, scaling, [&](LasPoint &point) {
            if (!advance())
                return false;
            const size_t p = kept[at++];
            for (int a = 0; a < 3; ++a)
                point.xyz[a] = node->centre[a] + static_cast<double>(node->xyz[3 * p + a]);
            slots.fill(point, values.data(), p);
            if (colours && !node->rgb.empty())
                for (int k = 0; k < 3; ++k)
                    point.rgb[k] = static_cast<uint16_t>(node->rgb[3 * p + k] * 257u);
            return true;
        });
    }
    stream->evict(budgetBytes, frameNumber + 1);
    return written;
}
