// What the selections and edits (ElementCleaning) see of a point cloud, which points a frame
// draws once some are hidden or deleted, and saving what is kept as PLY or LAS.
#include "objects/GLPointListObject.h"

#include "formats/LasWriter.h"
#include "formats/PlyRowFilter.h"
#include "formats/PlyWriter.h"
#include "math/Messages.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

bool endsWith(const std::string &s, const char *tail)
{
    const size_t n = std::char_traits<char>::length(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

} // namespace

const unsigned char *GLPointListObject::ownColors() const
{
    const unsigned char *own = ownColorStore ? ownColorStore.get() : valueItem < 0 ? colorStore.get() : nullptr;
    // The readers' black stand-in is no colour of the cloud's.
    return plainColors ? nullptr : own;
}

void GLPointListObject::fileIndices(size_t first, size_t count, uint32_t *out) const
{
    if (!lod && readOrder) {
        std::copy(readOrder.fileIndex.get() + first, readOrder.fileIndex.get() + first + count, out);
    } else if (lod) {
        if (const uint32_t *order = lod->order.memory()) {
            std::copy(order + first, order + first + count, out);
            return;
        }
        try {
            // The order of the largest clouds is on a disk: one read a block.
            lod->order.read(first, count, out);
        } catch (const std::exception &e) {
            // An index beyond the cloud names no point: nothing is selected or kept by it.
            msg::warning("GLPointListObject: the file indices of %zu points are lost: %s\n", count, e.what());
            std::fill(out, out + count, UINT32_MAX);
        }
    } else {
        CleanableElements::fileIndices(first, count, out);
    }
}

bool GLPointListObject::isDrawn(size_t i, const float *values, bool cut) const
{
    if (cut && !withinThresholds(values[i]))
        return false;
    const ElementEdits &edits = getEdits();
    if (edits.getHidden().empty() && edits.getDeleted().empty())
        return true;
    const int f = getFileIndex(static_cast<int>(i));
    return f >= 0 && edits.isShown(static_cast<size_t>(f));
}

void GLPointListObject::appendShown(size_t first, size_t count, const float *values, bool cut,
                                    std::vector<unsigned> &shown) const
{
    const ElementEdits &edits = getEdits();
    const bool edited = !edits.getHidden().empty() || !edits.getDeleted().empty();
    std::vector<uint32_t> file(edited ? std::min<size_t>(count, 65536) : 0);
    for (size_t from = first; from < first + count; from += 65536) {
        const size_t part = std::min<size_t>(65536, first + count - from);
        if (edited)
            fileIndices(from, part, file.data());
        for (size_t k = 0; k < part; ++k) {
            const size_t i = from + k;
            if ((cut && !withinThresholds(values[i])) || (edited && !edits.isShown(file[k])))
                continue;
            shown.push_back(static_cast<unsigned>(i));
        }
    }
}

const float *GLPointListObject::storedPositions(size_t &n)
{
    // The worker reorders the arrays while it builds the hierarchy: a selection waits for it.
    waitForLevelOfDetail();
    n = static_cast<size_t>(std::max(0, nVertices));
    return vertices;
}

bool GLPointListObject::drawnApartFromEdits(size_t i) const
{
    const float *v = getValues();
    return !thresholdsCut(v) || withinThresholds(v[i]);
}

std::vector<ElementValues> GLPointListObject::valueItems() const
{
    std::vector<ElementValues> out;
    for (size_t k = 0; k < items.size(); ++k) {
        ElementValues v;
        v.name = items[k].name;
        v.values = items[k].values.get();
        // The item the colour map shows lets through what its thresholds do.
        v.shown = static_cast<int>(k) == valueItem && !showOwnColors;
        v.lo = v.shown ? thresholdLow : items[k].lo;
        v.hi = v.shown ? thresholdHigh : items[k].hi;
        out.push_back(std::move(v));
    }
    return out;
}

void GLPointListObject::editsChanged()
{
    indicesStale = true;
    // The sample held while the hierarchy is built is uploaded again without the points gone.
    heldUploaded = false;
    // The frame after an edit starts light and refines while the view stays, as a new view
    // does: a delete or an undo shows at once on a cloud of a hundred million points.
    lastMvp[0] = std::numeric_limits<float>::quiet_NaN();
    postRedisplay();
}

// --- Saving ---------------------------------------------------------------------------------

void GLPointListObject::checkCloudSaveName(const std::string &path)
{
    if (!endsWith(path, ".ply") && !endsWith(path, ".las"))
        throw std::runtime_error("a point cloud is saved as PLY (.ply) or LAS (.las)");
}

size_t GLPointListObject::saveKept(const std::string &path, const ElementSelection &gone)
{
    size_t n = 0;
    const float *xyz = storedPositions(n);
    const size_t kept = n - std::min(n, gone.count());
    if (endsWith(path, ".ply") && endsWith(sourcePath, ".ply")) {
        // The file's own rows: every property it has, as it has it.
        std::vector<unsigned char> keep(n, 1);
        for (size_t i : gone)
            keep[i] = 0;
        return PlyRowFilter::write(sourcePath, path, keep);
    }
    // The kept points in the file's order, found where the cloud stores them.
    std::vector<uint32_t> storedOf;
    if (!storedInFileOrder()) {
        storedOf.assign(n, 0);
        std::vector<uint32_t> file(65536);
        for (size_t block = 0; block < n; block += file.size()) {
            const size_t count = std::min(file.size(), n - block);
            fileIndices(block, count, file.data());
            for (size_t k = 0; k < count; ++k)
                if (file[k] < n)
                    storedOf[file[k]] = static_cast<uint32_t>(block + k);
        }
    }
    std::vector<uint32_t> keptStored;
    keptStored.reserve(kept);
    for (size_t f = 0; f < n; ++f)
        if (!gone.contains(f))
            keptStored.push_back(storedOf.empty() ? static_cast<uint32_t>(f) : storedOf[f]);
    std::vector<uint32_t>().swap(storedOf);
    const unsigned char *rgb = ownColors();
    const auto at = [&](size_t i, double out[3]) {
        const float *p = xyz + 3 * static_cast<size_t>(keptStored[i]);
        for (int k = 0; k < 3; ++k)
            out[k] = static_cast<double>(p[k]) + fileOrigin[k];
    };
    if (endsWith(path, ".ply")) {
        PlyCloudLayout layout;
        // Georeferenced coordinates keep their digits.
        layout.doubleCoordinates = fileOrigin[0] != 0 || fileOrigin[1] != 0 || fileOrigin[2] != 0;
        layout.colours = rgb != nullptr;
        for (const PointValueItem &item : items)
            layout.values.push_back(item.name);
        PlyWriter::writeCloud(path, layout, keptStored.size(), [&](size_t i, double p[3], unsigned char c[3], float *v) {
            at(i, p);
            const size_t s = keptStored[i];
            if (rgb)
                std::copy(rgb + 3 * s, rgb + 3 * s + 3, c);
            for (size_t k = 0; k < items.size(); ++k)
                v[k] = items[k].values[s];
        });
        return keptStored.size();
    }
    // LAS: the file's scale and offset when it was one, else millimetres about the centre.
    LasScaling scaling = lasScaling;
    if (!scaling.given()) {
        const double lo[3] = {bbMin.x + fileOrigin[0], bbMin.y + fileOrigin[1], bbMin.z + fileOrigin[2]};
        const double hi[3] = {bbMax.x + fileOrigin[0], bbMax.y + fileOrigin[1], bbMax.z + fileOrigin[2]};
        scaling = LasWriter::scalingFor(lo, hi);
    }
    std::vector<std::string> names;
    std::vector<const float *> values;
    for (const PointValueItem &it : items) {
        names.push_back(it.name);
        values.push_back(it.values.get());
    }
    const LasValueSlots slots(names);
    LasWriter::write(path, rgb ? 7 : 6, scaling, keptStored.size(), [&](size_t i, LasPoint &p) {
        at(i, p.xyz);
        const size_t s = keptStored[i];
        slots.fill(p, values.data(), s);
        if (rgb)
            for (int k = 0; k < 3; ++k)
                p.rgb[k] = static_cast<uint16_t>(rgb[3 * s + k] * 257u);
    });
    return keptStored.size();
}

bool GLPointListObject::saveAs(const std::string &path)
{
    return cleaning.saveAs(path);
}
