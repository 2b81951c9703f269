#include "objects/ElementCleaning.h"

#include "math/Matrix4.h"
#include "math/Messages.h"
#include "math/Parallel.h"
#include "objects/GL3DObject.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

namespace {

// File indices are read this many at a time: the order of the largest clouds is on a disk.
constexpr size_t kBlock = 65536;

const char *const kToolNames[] = {"off", "rectangle", "lasso", "box", "oriented box"};

SelectMode modeOf(unsigned modifiers)
{
    return (modifiers & InputEvent::CONTROL) ? SelectMode::Subtract
           : (modifiers & InputEvent::SHIFT) ? SelectMode::Add
                                             : SelectMode::Replace;
}

Point3 axisOf(const Matrix3 &axes, int a) { return Point3(axes(a, 0), axes(a, 1), axes(a, 2)); }

} // namespace

const unsigned char ElementCleaning::kMarked[3] = {255, 230, 0};

void CleanableElements::fileIndices(size_t first, size_t count, uint32_t *out) const
{
    for (size_t k = 0; k < count; ++k)
        out[k] = static_cast<uint32_t>(first + k);
}

const std::vector<KeyBinding> &ElementCleaning::bindingRows()
{
    constexpr unsigned F = KeyBinding::BUSY | KeyBinding::REDRAW | KeyBinding::SHARED;
    static const std::vector<KeyBinding> rows = {
        {actionValue(Action::TOOL), {'O'}, "Select",
         "selection tool: rectangle, lasso, box, box along the view, off (Shift adds, Control takes away)", F},
        {actionValue(Action::HIDE), {'h'}, "Hide", "hide the selection", F},
        {actionValue(Action::SHOW_ALL), {'H'}, "Show all", "show what is hidden", F},
        {actionValue(Action::DELETE), {'r'}, "Delete", "delete the selection", F},
        {actionValue(Action::KEEP_ONLY), {'k'}, "Keep only", "delete everything but the selection", F},
        {actionValue(Action::UNDO), {'u'}, "Undo", "undo the last deletion", F},
        {actionValue(Action::REDO), {'U'}, "Redo", "redo the deletion undone last", F},
        {actionValue(Action::INVERT), {'n'}, "Invert", "invert the selection", F},
        {actionValue(Action::CLEAR), {'N'}, "Clear", "clear the selection", F},
        {actionValue(Action::GROW), {'g'}, "Grow", "grow the selection by 1% of the object's size", F},
        {actionValue(Action::BY_VALUES), {'T'}, "By values",
         "select by the values shown within their thresholds (or the panel's item and range)", F},
        {actionValue(Action::UNSEEN), {'W'}, "Unseen", "select what no view of the camera sees", F},
        {actionValue(Action::CARVE), {'K'}, "Carve", "select what lies outside the silhouettes of K views (panel)", F},
    };
    return rows;
}

ElementCleaning::ElementCleaning(GL3DObject &o, CleanableElements &e, const char *ownerName, const char *nounName)
    : object(o), elements(e), owner(ownerName), noun(nounName)
{
}

void ElementCleaning::reset(size_t n)
{
    selection = ElementSelection(n);
    edits = ElementEdits(n);
    storedImageValid = false;
    dragShape.clear();
    marksStale = true;
}

std::vector<std::string> ElementCleaning::valueNames() const
{
    std::vector<std::string> names;
    for (const ElementValues &item : elements.valueItems())
        names.push_back(item.name);
    return names;
}

void ElementCleaning::note(const char *what, size_t n)
{
    // A kind that selects by rules counts only what it has read.
    if (elements.byRules())
        msg::note("%s: %zu %s %s of the %s read so far\n", owner, n, noun, what, noun);
    else
        msg::note("%s: %zu %s %s\n", owner, n, noun, what);
}


void ElementCleaning::selectionChanged()
{
    marksStale = true;
    storedImageValid = false;
    elements.selectionChanged();
    object.postRedisplay();
}

void ElementCleaning::editsChanged()
{
    marksStale = true;
    elements.editsChanged();
    elements.selectionChanged();
    object.postRedisplay();
}

ElementSelection ElementCleaning::toFile(const ElementSelection &inside, bool onlyDrawn, ElementSelection *kept)
{
    const size_t n = inside.size(), files = selection.size();
    const bool edited = onlyDrawn && (!edits.getHidden().empty() || !edits.getDeleted().empty());
    const bool cut = onlyDrawn && elements.cutApartFromEdits();
    const bool inOrder = elements.storedInFileOrder();
    // Each part takes whole blocks of the stored order (whole words of `kept`, which it alone
    // writes) and sets the file indices in words of its own, merged at the end: no bit is
    // set from two threads at once.
    const size_t blocks = (n + kBlock - 1) / kBlock;
    const unsigned parts = static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(Parallel::cores(), blocks)));
    std::vector<std::vector<uint64_t>> found(parts);
    std::vector<uint64_t> keptWords(kept ? (n + 63) / 64 : 0, 0);
    Parallel::split(blocks, parts, [&](unsigned part, size_t firstBlock, size_t lastBlock) {
        std::vector<uint64_t> &words = found[part];
        words.assign((files + 63) / 64, 0);
        std::vector<uint32_t> file(inOrder ? 0 : kBlock);
        for (size_t block = firstBlock * kBlock; block < std::min(n, lastBlock * kBlock); block += kBlock) {
            const size_t end = std::min(n, block + kBlock);
            // Only the blocks that hold a selected element are read.
            if (inside.next(block) >= end)
                continue;
            if (!inOrder)
                elements.fileIndices(block, end - block, file.data());
            for (size_t w = block / 64; 64 * w < end; ++w)
                for (uint64_t bits = inside.word(w); bits != 0; bits &= bits - 1) {
                    const size_t i = 64 * w + static_cast<size_t>(__builtin_ctzll(bits));
                    const size_t f = inOrder ? i : file[i - block];
                    if (f >= files || (edited && !edits.isShown(f)) || (cut && !elements.drawnApartFromEdits(i)))
                        continue;
                    words[f / 64] |= uint64_t(1) << (f % 64);
                    if (kept)
                        keptWords[w] |= uint64_t(1) << (i % 64);
                }
        }
    });
    std::vector<uint64_t> merged = std::move(found[0]);
    Parallel::split(merged.size(), 0, [&](unsigned, size_t begin, size_t end) {
        for (unsigned part = 1; part < parts; ++part)
            for (size_t w = begin; w < end; ++w)
                merged[w] |= found[part][w];
    });
    if (kept)
        *kept = ElementSelection::fromWords(std::move(keptWords), n);
    return ElementSelection::fromWords(std::move(merged), files);
}

void ElementCleaning::join(const ElementSelection &inside, SelectMode mode, const ElementSelection *stored)
{
    SelectionRules::join(inside, selection, mode);
    selectionChanged();
    // The stored image follows the selection when the same change is known in both orders.
    if (stored && (mode == SelectMode::Replace || storedImageValid)) {
        SelectionRules::join(*stored, storedImage, mode);
        storedImageValid = true;
    }
}

void ElementCleaning::joinStored(const ElementSelection &inside, SelectMode mode)
{
    ElementSelection kept;
    const ElementSelection file = toFile(inside, true, &kept);
    join(file, mode, &kept);
}

void ElementCleaning::setTool(int t)
{
    tool = t < 0 || t >= TOOLS ? OFF : t;
    dragShape.clear();
    dragFace = -1;
    if (tool == BOX || tool == ORIENTED_BOX)
        startBox(tool == ORIENTED_BOX);
    msg::note("%s: selection tool %s\n", owner, kToolNames[tool]);
    object.postRedisplay();
}

void ElementCleaning::selectInWindow(const std::vector<Point2> &shape, bool lasso, SelectMode mode)
{
    if (frameSize[0] <= 0 || frameSize[1] <= 0 || shape.size() < (lasso ? 3u : 2u))
        return;
    if (elements.byRules()) {
        SelectionRule rule;
        rule.kind = lasso ? SelectionRule::Lasso : SelectionRule::Rectangle;
        rule.mode = mode;
        rule.shape = shape;
        std::memcpy(rule.mvp, frameMvp, sizeof rule.mvp);
        rule.width = frameSize[0];
        rule.height = frameSize[1];
        byRule(std::move(rule));
        return;
    }
    size_t n = 0;
    const float *xyz = elements.storedPositions(n);
    // The rule decides the elements in their stored order; the selection keeps file indices.
    ElementSelection inside;
    if (lasso)
        SelectionRules::lasso(xyz, n, frameMvp, frameSize[0], frameSize[1], shape, inside, SelectMode::Replace);
    else
        SelectionRules::rectangle(xyz, n, frameMvp, frameSize[0], frameSize[1], shape[0], shape[1], inside,
                                  SelectMode::Replace);
    joinStored(inside, mode);
}

void ElementCleaning::selectInBox(SelectMode mode)
{
    if (elements.byRules()) {
        SelectionRule rule;
        rule.mode = mode;
        rule.centre = box.centre;
        rule.axes = box.axes;
        rule.half = box.half;
        byRule(std::move(rule));
        return;
    }
    size_t n = 0;
    const float *xyz = elements.storedPositions(n);
    ElementSelection inside;
    SelectionRules::box(xyz, n, box.centre, box.axes, box.half, inside, SelectMode::Replace);
    joinStored(inside, mode);
}

void ElementCleaning::selectByValues(int item, float lo, float hi, SelectMode mode)
{
    size_t n = 0;
    if (!elements.byRules())
        elements.storedPositions(n);
    const std::vector<ElementValues> items = elements.valueItems();
    if (item < 0 || static_cast<size_t>(item) >= items.size()) {
        msg::warning("%s: no values to select by\n", owner);
        return;
    }
    if (elements.byRules()) {
        SelectionRule rule;
        rule.kind = SelectionRule::Values;
        rule.mode = mode;
        rule.item = item;
        rule.lo = lo;
        rule.hi = hi;
        byRule(std::move(rule));
        return;
    }
    ElementSelection inside;
    SelectionRules::range(items[static_cast<size_t>(item)].data(), n, lo, hi, inside, SelectMode::Replace);
    joinStored(inside, mode);
}

bool ElementCleaning::sightsOf(bool withMasks, ViewSights &out)
{
    if (views)
        out = views(withMasks, masks);
    if (out.views.empty()) {
        msg::warning("%s: %s\n", owner, out.missing.empty() ? "there is no camera to select by" : out.missing.c_str());
        return false;
    }
    if (withMasks && out.withMask == 0) {
        msg::warning("%s: %s\n", owner,
                     masks.empty() ? "the camera's views have no silhouettes" : ("no mask in " + masks + " for the views").c_str());
        return false;
    }
    return true;
}


ElementSelection ElementCleaning::unseenBy(const ViewSights &sights)
{
    size_t n = 0;
    const float *xyz = elements.storedPositions(n);
    ElementSelection inside;
    SelectionRules::unseen(xyz, n, viewsUnderPose(sights), inside, SelectMode::Replace);
    return toFile(inside, false);
}

ElementSelection ElementCleaning::carvedBy(const ViewSights &sights, int k)
{
    size_t n = 0;
    const float *xyz = elements.storedPositions(n);
    ElementSelection inside;
    SelectionRules::carve(xyz, n, viewsUnderPose(sights), k, inside, SelectMode::Replace);
    return toFile(inside, false);
}


ElementSelection ElementCleaning::outsideFileBox(const double lo[3], const double hi[3])
{
    // The box is in the file's coordinates, the elements in the object's.
    const auto corner = [&](const double *c) { return fileToObject(c); };
    size_t n = 0;
    const float *xyz = elements.storedPositions(n);
    ElementSelection outside;
    SelectionRules::box(xyz, n, corner(lo), corner(hi), outside, SelectMode::Replace);
    outside.invert();
    return toFile(outside, false);
}

bool ElementCleaning::selectByViews(int k, SelectMode mode)
{
    ViewSights sights;
    if (!sightsOf(k > 0, sights))
        return false;
    if (elements.byRules()) {
        SelectionRule rule = viewRule(std::make_shared<const ViewSights>(std::move(sights)), k);
        rule.mode = mode;
        return byRule(std::move(rule));
    }
    // What is hidden or deleted is not drawn, and is not selected either.
    ElementSelection found = k > 0 ? carvedBy(sights, k) : unseenBy(sights);
    found.removeAll(edits.getHidden());
    found.removeAll(edits.getDeleted());
    join(found, mode);
    return true;
}

bool ElementCleaning::selectUnseen(SelectMode mode) { return selectByViews(0, mode); }

bool ElementCleaning::selectCarved(int k, SelectMode mode) { return selectByViews(std::max(1, k), mode); }

void ElementCleaning::grow(float radius)
{
    if (elements.byRules()) {
        // Grown from the selected elements read so far, and in each part read later from its
        // own selected elements as well.
        SelectionRule rule;
        rule.kind = SelectionRule::Grow;
        rule.mode = SelectMode::Add;
        rule.radius = radius;
        byRule(std::move(rule));
        return;
    }
    size_t n = 0;
    const float *xyz = elements.storedPositions(n);
    // The grid works on the stored order: the selection goes there and back.
    ElementSelection stored = storedSelection(n);
    SelectionRules::grow(xyz, n, radius, stored);
    joinStored(stored, SelectMode::Add);
}

void ElementCleaning::invert()
{
    if (byRule(SelectionRule::Invert, SelectMode::Add))
        return;
    // Among the elements shown: what is hidden or deleted cannot be picked either.
    selection.invert();
    selection.removeAll(edits.getHidden());
    selection.removeAll(edits.getDeleted());
    selectionChanged();
}

void ElementCleaning::clear()
{
    if (byRule(SelectionRule::Clear, SelectMode::Replace))
        return;
    selection.clear();
    selectionChanged();
}

size_t ElementCleaning::edit(size_t (ElementEdits::*change)(const ElementSelection &), RuleSelection::Edit e)
{
    if (elements.byRules()) {
        size_t changed = 0;
        ruleEdit(e, &changed);
        return changed;
    }
    const size_t n = (edits.*change)(selection);
    selection.clear();
    storedImageValid = false;
    editsChanged();
    return n;
}

size_t ElementCleaning::hide() { return edit(&ElementEdits::hide, RuleSelection::Edit::Hide); }

size_t ElementCleaning::remove() { return edit(&ElementEdits::remove, RuleSelection::Edit::Delete); }

size_t ElementCleaning::keepOnly() { return edit(&ElementEdits::keepOnly, RuleSelection::Edit::KeepOnly); }


void ElementCleaning::showAll()
{
    if (elements.byRules()) {
        ruleEdit(RuleSelection::Edit::ShowAll);
        return;
    }
    edits.showAll();
    editsChanged();
}

bool ElementCleaning::undo() { return historyStep(true); }

bool ElementCleaning::redo() { return historyStep(false); }

bool ElementCleaning::historyStep(bool undo)
{
    if (elements.byRules())
        return ruleEdit(undo ? RuleSelection::Edit::Undo : RuleSelection::Edit::Redo);
    const bool stepped = undo ? edits.undo() : edits.redo();
    editsChanged();
    return stepped;
}

size_t ElementCleaning::save(const std::string &path, const ElementSelection *removed)
{
    if (elements.byRules()) {
        std::vector<uint64_t> removedBy;
        return static_cast<size_t>(saveRemoving(path, {}, removedBy));
    }
    elements.checkSaveName(path);
    ElementSelection gone(selection.size());
    gone.addAll(edits.getDeleted());
    if (removed)
        gone.addAll(*removed);
    return elements.saveKept(path, gone);
}

bool ElementCleaning::saveAs(const std::string &path)
{
    try {
        const size_t written = save(path);
        msg::note("%s: %zu %s written to %s\n", owner, written, noun, path.c_str());
        return true;
    } catch (const std::exception &e) {
        msg::error("%s: unable to write %s: %s\n", owner, path.c_str(), e.what());
        return false;
    }
}

bool ElementCleaning::runAction(const KeyBinding &row)
{
    if (row.action < actionValue(Action::TOOL) || row.action > actionValue(Action::CARVE))
        return false;
    switch (static_cast<Action>(row.action)) {
    case Action::TOOL: setTool((tool + 1) % TOOLS); return true;
    case Action::HIDE: note("hidden", hide()); return true;
    case Action::SHOW_ALL: showAll(); return true;
    case Action::DELETE: note("deleted", remove()); return true;
    case Action::KEEP_ONLY: note("deleted", keepOnly()); return true;
    case Action::UNDO:
        if (!undo())
            msg::note("%s: nothing to undo\n", owner);
        return true;
    case Action::REDO:
        if (!redo())
            msg::note("%s: nothing to redo\n", owner);
        return true;
    case Action::INVERT: invert(); break;
    case Action::CLEAR: clear(); break;
    case Action::GROW: grow(0.01f * 2 * object.getMaxRadius()); break;
    case Action::BY_VALUES: {
        float lo = valueLow, hi = valueHigh;
        int item = valueItem;
        if (item < 0) {
            // The values the colours show, through their thresholds.
            const std::vector<ElementValues> items = elements.valueItems();
            for (size_t k = 0; k < items.size(); ++k)
                if (items[k].shown)
                    item = static_cast<int>(k), lo = items[k].lo, hi = items[k].hi;
        }
        if (item < 0) {
            msg::warning("%s: no values shown to select by\n", owner);
            return true;
        }
        selectByValues(item, lo, hi, ruleMode);
        break;
    }
    case Action::UNSEEN:
        if (!selectUnseen(ruleMode))
            return true;
        break;
    case Action::CARVE:
        if (!selectCarved(carveViews, ruleMode))
            return true;
        break;
    }
    note("selected", selectedCount());
    return true;
}

// --- The window tools -----------------------------------------------------------------------

void ElementCleaning::notifyDrag(const InputEvent &event, int x, int y)
{
    const Point2 at(static_cast<float>(x), static_cast<float>(y));
    const bool boxTool = tool == BOX || tool == ORIENTED_BOX;
    if (event.phase == InputEvent::Phase::Press) {
        dragShape.assign(1, at);
        dragModifiers = event.modifiers;
        dragFace = boxTool ? boxFaceAt(at) : -1;
    } else if (!dragShape.empty()) {
        if (boxTool) {
            // The face follows the pointer; the shape keeps the last position only.
            if (dragFace >= 0)
                dragBoxFace(dragShape.back(), at);
            dragShape.assign(1, at);
        } else if (tool == LASSO) {
            dragShape.push_back(at);
        } else {
            dragShape.resize(1);
            dragShape.push_back(at);
        }
    }
    if (event.isRelease() && !dragShape.empty()) {
        if (boxTool)
            selectInBox(modeOf(dragModifiers));
        else
            selectInWindow(dragShape, tool == LASSO, modeOf(dragModifiers));
        dragShape.clear();
        dragFace = -1;
        note("selected", selectedCount());
    }
    object.postRedisplay();
}

bool ElementCleaning::toWindow(const Point3 &p, Point2 &out) const
{
    const float *m = frameMvp;
    const float cx = m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12];
    const float cy = m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13];
    const float cw = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
    if (!(cw > 0))
        return false;
    out = Point2((cx / cw + 1) * 0.5f * static_cast<float>(frameSize[0]),
                 (1 - cy / cw) * 0.5f * static_cast<float>(frameSize[1]));
    return std::isfinite(out.x) && std::isfinite(out.y);
}

void ElementCleaning::startBox(bool oriented)
{
    Point3 lo = object.getBBMin(), hi = object.getBBMax();
    if (!(lo.x <= hi.x && lo.y <= hi.y && lo.z <= hi.z))
        lo = Point3(-1, -1, -1), hi = Point3(1, 1, 1);
    box.centre = (lo + hi) * 0.5f;
    box.axes = Matrix3();
    box.half = (hi - lo) * 0.5f;
    if (!oriented)
        return;
    // The rows of the model-view matrix are the view's axes in the object's coordinates.
    const float *mv = frameModelView;
    Point3 rows[3];
    for (int r = 0; r < 3; ++r) {
        rows[r] = Point3(mv[r], mv[4 + r], mv[8 + r]);
        const float length = rows[r].norm();
        if (!(length > 0))
            return; // no frame yet: the box stays along the object's axes
        rows[r] = rows[r] * (1 / length);
    }
    box.axes = Matrix3(rows[0], rows[1], rows[2]).transpose();
    // Half sizes that enclose the object's box.
    Point3 half(0, 0, 0);
    for (int c = 0; c < 8; ++c) {
        const Point3 corner((c & 1) ? hi.x : lo.x, (c & 2) ? hi.y : lo.y, (c & 4) ? hi.z : lo.z);
        const Point3 d = box.axes * (corner - box.centre);
        half = Point3(std::max(half.x, std::fabs(d.x)), std::max(half.y, std::fabs(d.y)),
                      std::max(half.z, std::fabs(d.z)));
    }
    box.half = half;
}

int ElementCleaning::boxFaceAt(Point2 at) const
{
    int best = -1;
    float bestDistance = 0;
    for (int f = 0; f < 6; ++f) {
        const int a = f / 2;
        const float side = (f % 2) ? 1.f : -1.f;
        Point2 p;
        if (!toWindow(box.centre + axisOf(box.axes, a) * (side * box.half[a]), p))
            continue;
        const float d = (p.x - at.x) * (p.x - at.x) + (p.y - at.y) * (p.y - at.y);
        if (best < 0 || d < bestDistance)
            best = f, bestDistance = d;
    }
    return best;
}

void ElementCleaning::dragBoxFace(Point2 from, Point2 to)
{
    const int a = dragFace / 2;
    const float side = (dragFace % 2) ? 1.f : -1.f;
    const Point3 out = axisOf(box.axes, a) * side;
    const Point3 face = box.centre + out * box.half[a];
    // How far a step of `unit` outwards goes on the screen, so that the face follows the
    // pointer's motion along it.
    const float unit = std::max(1e-6f, 0.1f * std::max(box.half.x, std::max(box.half.y, box.half.z)));
    Point2 p0, p1;
    if (!toWindow(face, p0) || !toWindow(face + out * unit, p1))
        return;
    const float dx = p1.x - p0.x, dy = p1.y - p0.y, length2 = dx * dx + dy * dy;
    if (!(length2 > 1e-6f))
        return; // the face's normal points at the eye: the pointer cannot move it
    float moved = ((to.x - from.x) * dx + (to.y - from.y) * dy) / length2 * unit;
    moved = std::max(moved, -2 * box.half[a]);
    box.half[a] += moved / 2;
    box.centre = box.centre + out * (moved / 2);
}

// --- Drawing --------------------------------------------------------------------------------

const ElementSelection &ElementCleaning::storedSelection(size_t n)
{
    if (elements.storedInFileOrder() && selection.size() == n)
        return selection;
    if (storedImageValid && storedImage.size() == n && storedImage.count() == selection.count())
        return storedImage;
    // Each part reads whole blocks of the stored order and alone writes their words.
    std::vector<uint64_t> words((n + 63) / 64, 0);
    Parallel::split((n + kBlock - 1) / kBlock, 0, [&](unsigned, size_t firstBlock, size_t lastBlock) {
        std::vector<uint32_t> file(kBlock);
        for (size_t block = firstBlock * kBlock; block < std::min(n, lastBlock * kBlock); block += kBlock) {
            const size_t count = std::min(kBlock, n - block);
            elements.fileIndices(block, count, file.data());
            for (size_t k = 0; k < count; ++k)
                if (selection.contains(file[k]))
                    words[(block + k) / 64] |= uint64_t(1) << ((block + k) % 64);
        }
    });
    storedImage = ElementSelection::fromWords(std::move(words), n);
    storedImageValid = true;
    return storedImage;
}

void ElementCleaning::gatherMarks(size_t budget)
{
    marksStale = false;
    marks.clear();
    size_t n = 0;
    const float *xyz = elements.storedPositions(n);
    const ElementSelection &stored = storedSelection(n);
    // Beyond the budget every k-th selected element (in the stored order) is marked: a frame
    // draws no more points than that anyway, and the marks of a hundred million would take
    // gigabytes. The elements between are skipped by counting the bits of whole words.
    const size_t step = budget > 0 && selection.count() > budget ? (selection.count() + budget - 1) / budget : 1;
    const bool edited = !edits.getHidden().empty() || !edits.getDeleted().empty();
    const bool cut = elements.cutApartFromEdits();
    const size_t blocks = (n + kBlock - 1) / kBlock;
    const unsigned parts = static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(Parallel::cores(), blocks)));
    std::vector<std::vector<float>> partMarks(parts);
    Parallel::split(blocks, parts, [&](unsigned part, size_t firstBlock, size_t lastBlock) {
        const size_t from = firstBlock * kBlock, to = std::min(n, lastBlock * kBlock);
        const size_t before = stored.countBelow(from);
        std::vector<uint32_t> file(edited ? kBlock : 0);
        size_t readBlock = n;
        std::vector<float> &out = partMarks[part];
        for (size_t i = stored.nextAfterSkipping(from, (step - before % step) % step); i < to;
             i = stored.nextAfterSkipping(i + 1, step - 1)) {
            size_t f = i;
            if (edited) {
                const size_t block = i / kBlock * kBlock;
                if (block != readBlock)
                    elements.fileIndices(block, std::min(kBlock, n - block), file.data());
                readBlock = block;
                f = file[i - block];
            }
            if ((!edited || edits.isShown(f)) && (!cut || elements.drawnApartFromEdits(i)))
                out.insert(out.end(), xyz + 3 * i, xyz + 3 * i + 3);
        }
    });
    size_t total = 0;
    for (const std::vector<float> &m : partMarks)
        total += m.size();
    marks.reserve(total);
    for (const std::vector<float> &m : partMarks)
        marks.insert(marks.end(), m.begin(), m.end());
}

void ElementCleaning::drawSelection(const float *pose, size_t stillBudget, size_t budget)
{
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(pose);
    Matrix4 modelView = Matrix4::Identity, projection = Matrix4::Identity;
    glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(modelView));
    glGetFloatv(GL_PROJECTION_MATRIX, static_cast<float *>(projection));
    std::memcpy(frameMvp, static_cast<const float *>(projection * modelView), sizeof frameMvp);
    std::memcpy(frameModelView, static_cast<const float *>(modelView), sizeof frameModelView);
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    frameSize[0] = viewport[2];
    frameSize[1] = viewport[3];

    const bool boxTool = tool == BOX || tool == ORIENTED_BOX;
    const bool marking = !selection.empty() && elements.storedReady();
    if (marking && marksStale)
        gatherMarks(stillBudget);
    if ((marking && elements.markSize() > 0) || boxTool) {
        glPushAttrib(GL_ENABLE_BIT | GL_DEPTH_BUFFER_BIT | GL_POINT_BIT | GL_CURRENT_BIT | GL_LINE_BIT |
                     GL_POLYGON_BIT);
        glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
        glDisable(GL_LIGHTING);
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_BLEND);
        glDepthFunc(GL_LEQUAL);
        if (elements.marksInFront())
            glDisable(GL_DEPTH_TEST);
        glColor3ubv(kMarked);
        if (marking) {
            elements.drawMarkedExtras(kMarked);
            // Drawn again at the same depth, a little larger: the marks win against the points.
            const size_t count = marks.size() / 3;
            const size_t stride = budget > 0 && count > budget ? (count + budget - 1) / budget : 1;
            glPointSize(elements.markSize());
            glDisableClientState(GL_COLOR_ARRAY);
            glDisableClientState(GL_NORMAL_ARRAY);
            glDisableClientState(GL_TEXTURE_COORD_ARRAY);
            glEnableClientState(GL_VERTEX_ARRAY);
            glBindBuffer(GL_ARRAY_BUFFER, 0);
            glVertexPointer(3, GL_FLOAT, static_cast<GLsizei>(3 * sizeof(float) * stride), marks.data());
            glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(count / stride));
        }
        if (boxTool)
            drawBox();
        glPopClientAttrib();
        glPopAttrib();
    }
    glPopMatrix();
}

void ElementCleaning::drawBox() const
{
    Point3 corner[8];
    for (int c = 0; c < 8; ++c) {
        corner[c] = box.centre;
        for (int a = 0; a < 3; ++a)
            corner[c] = corner[c] + axisOf(box.axes, a) * (((c >> a) & 1) ? box.half[a] : -box.half[a]);
    }
    glDisable(GL_DEPTH_TEST);
    glLineWidth(dragFace >= 0 ? 2 : 1);
    glBegin(GL_LINES);
    for (int c = 0; c < 8; ++c)
        for (int a = 0; a < 3; ++a)
            if (!((c >> a) & 1)) {
                glVertex3f(corner[c].x, corner[c].y, corner[c].z);
                const Point3 &d = corner[c | (1 << a)];
                glVertex3f(d.x, d.y, d.z);
            }
    glEnd();
}

void ElementCleaning::drawDragShape()
{
    if ((tool != RECTANGLE && tool != LASSO) || dragShape.size() < 2 || frameSize[0] <= 0 || frameSize[1] <= 0)
        return;
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    // Window pixels with y downwards, as the mouse gives them.
    glOrtho(0, frameSize[0], frameSize[1], 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glColor3ubv(kMarked);
    glBegin(GL_LINE_LOOP);
    if (tool == LASSO) {
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
