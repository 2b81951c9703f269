#include "formats/PointTiles.h"

#include "formats/LasReader.h"
#include "formats/NodeCache.h"
#include "formats/TileFormats.h"
#include "formats/ReadRefusal.h"
#include "formats/ValueCategories.h"
#include "math/Messages.h"
#include "math/Parallel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <new>
#include <stdexcept>
#include <tuple>

namespace {

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

bool endsWith(const std::string &s, const char *tail)
{
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

bool isNamed(const std::string &path, const char *name)
{
    const size_t n = std::strlen(name);
    return endsWith(path, name) && (path.size() == n || path[path.size() - n - 1] == '/');
}

} // namespace

// --- Items ----------------------------------------------------------------------------------

TileItems::Role TileItems::roleOf(const std::string &name)
{
    const std::string p = ValueCategories::foldedName(name);
    if (p == "x" || p == "y" || p == "z" || p == "position" || p == "positioncartesian")
        return Position;
    if (p == "red" || p == "green" || p == "blue" || p == "rgb" || p == "rgba")
        return Colour;
    if (p == "intensity")
        return Intensity;
    if (p == "classification")
        return Classification;
    if (p == "returnnumber")
        return ReturnNumber;
    if (p == "gpstime")
        return GpsTime;
    static const char *standard[] = {"numberofreturns", "scandirectionflag", "edgeofflightline", "scananglerank",
                                     "scanangle", "userdata", "pointsourceid", "originid", "scanchannel",
                                     "scannerchannel", "classflags", "classificationflags", "synthetic", "keypoint",
                                     "withheld", "overlap"};
    for (const char *s : standard)
        if (p == s)
            return Standard;
    return Extra;
}

std::vector<TileItems::Role> TileItems::roles(const std::vector<std::string> &dimensions)
{
    std::vector<Role> out;
    for (const std::string &d : dimensions) {
        Role r = roleOf(d);
        // A second "Intensity" (extra bytes that copy a field) is an item of its own.
        if ((r == Intensity || r == Classification || r == ReturnNumber || r == GpsTime) &&
            std::find(out.begin(), out.end(), r) != out.end())
            r = Extra;
        out.push_back(r);
    }
    return out;
}

std::vector<std::string> TileItems::names(const std::vector<std::string> &dimensions)
{
    const std::vector<Role> role = roles(dimensions);
    std::vector<std::string> out = {"intensity", "classification", "return number"};
    for (size_t k = 0; k < dimensions.size(); ++k)
        if (role[k] == GpsTime)
            out.push_back("GPS time");
    for (size_t k = 0; k < dimensions.size(); ++k)
        if (role[k] == Extra)
            out.push_back(dimensions[k]);
    return out;
}

std::vector<int> TileItems::slots(const std::vector<std::string> &dimensions)
{
    const std::vector<Role> role = roles(dimensions);
    std::vector<int> at(dimensions.size(), -1);
    int next = 3;
    for (size_t k = 0; k < dimensions.size(); ++k)
        if (role[k] == GpsTime)
            at[k] = next++;
    for (size_t k = 0; k < dimensions.size(); ++k) {
        const Role r = role[k];
        if (r == Intensity || r == Classification || r == ReturnNumber)
            at[k] = r - Intensity;
        else if (r == Extra)
            at[k] = next++;
    }
    return at;
}

void TileItems::addItems(PointListData &d, const std::vector<std::string> &names, size_t n)
{
    for (const std::string &name : names) {
        PointValueItem v;
        v.name = name;
        v.values = allocateLargeArray<float>(n);
        std::fill(v.values.get(), v.values.get() + n, 0.0f);
        d.items.push_back(std::move(v));
    }
}

void TileItems::setRanges(PointListData &d)
{
    for (PointValueItem &item : d.items) {
        float lo = INFINITY, hi = -INFINITY;
        for (int i = 0; i < d.nPoints; ++i)
            if (!std::isnan(item.values[i])) {
                lo = std::min(lo, item.values[i]);
                hi = std::max(hi, item.values[i]);
            }
        item.lo = lo <= hi ? lo : 0;
        item.hi = lo <= hi ? hi : 0;
    }
}

// --- Opening --------------------------------------------------------------------------------

bool PointTiles::isTilesName(const char *path)
{
    if (!path)
        return false;
    const std::string p = path;
    return isNamed(p, "ept.json") || isNamed(p, "metadata.json") || endsWith(p, ".copc.laz");
}

std::unique_ptr<PointTiles> PointTiles::open(const std::string &path, Access access)
{
    if (!access.pool)
        access.pool = std::make_shared<HttpRangeReader::Pool>();
    if (isNamed(path, "ept.json"))
        return openEptTiles(path, access);
    if (isNamed(path, "metadata.json"))
        return openPotreeTiles(path, access);
    return openCopcTiles(path, access);
}

PointTiles::PointTiles(const char *kind, std::string path, Access a)
    : kindName(kind), name(std::move(path)), access(std::move(a))
{
}

PointTiles::~PointTiles() = default;

uint32_t PointTiles::addFile(const std::string &path)
{
    files.push_back(std::make_unique<RangeFile>(path, access.pool));
    return static_cast<uint32_t>(files.size() - 1);
}

void PointTiles::setSpacing(double spacing)
{
    const double across = size / spacing;
    if (std::isfinite(across) && across >= 1)
        bits = std::clamp(static_cast<int>(std::lround(std::log2(across))), 2, 12);
}

void PointTiles::dataBox(double *low, double *high) const
{
    for (int k = 0; k < 3; ++k) {
        // Only what lies in the cube: a box of a writer's own that says more is not taken.
        low[k] = hasBox ? std::max(boxLo[k], lo[k]) : lo[k];
        high[k] = hasBox ? std::min(boxHi[k], lo[k] + size) : lo[k] + size;
        if (!(low[k] <= high[k])) {
            low[k] = lo[k];
            high[k] = lo[k] + size;
        }
    }
}

void PointTiles::cubeOf(size_t i, double *low, double &side) const
{
    const TileNode &n = all[i];
    side = size / std::ldexp(1.0, n.level);
    low[0] = lo[0] + n.x * side;
    low[1] = lo[1] + n.y * side;
    low[2] = lo[2] + n.z * side;
}

std::string PointTiles::nodeLabel(size_t i) const { return name + " node " + nodeName(i); }

std::string PointTiles::nodeName(size_t i) const
{
    const TileNode &n = all[i];
    return std::to_string(n.level) + "-" + std::to_string(n.x) + "-" + std::to_string(n.y) + "-" + std::to_string(n.z);
}

void PointTiles::link()
{
    if (!(size > 0) || !std::isfinite(size) || !std::isfinite(lo[0]) || !std::isfinite(lo[1]) || !std::isfinite(lo[2]))
        fail("the hierarchy's cube is not a cube");
    std::map<std::tuple<int, int, int, int>, int32_t> index;
    total = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        const TileNode &n = all[i];
        const int64_t side = int64_t(1) << std::min(n.level, 62);
        if (n.level < 0 || n.level > 30 || n.x < 0 || n.y < 0 || n.z < 0 || n.x >= side || n.y >= side || n.z >= side)
            fail("node " + nodeName(i) + " lies outside the hierarchy's cube");
        if (!index.insert({{n.level, n.x, n.y, n.z}, static_cast<int32_t>(i)}).second)
            fail("node " + nodeName(i) + " is given twice");
        if (total + n.points < total)
            fail("the hierarchy's counts add up to more than can be counted");
        total += n.points;
    }
    // Parents first: a node's parent is found, or made empty, before the node is linked.
    std::vector<int32_t> order(all.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int32_t>(i);
    std::sort(order.begin(), order.end(), [this](int32_t a, int32_t b) { return all[a].level < all[b].level; });
    if (index.find({0, 0, 0, 0}) == index.end()) {
        TileNode root;
        index[{0, 0, 0, 0}] = static_cast<int32_t>(all.size());
        all.push_back(root);
        order.insert(order.begin(), static_cast<int32_t>(all.size() - 1));
    }
    for (size_t k = 0; k < order.size(); ++k) {
        const int32_t i = order[k];
        TileNode n = all[static_cast<size_t>(i)];
        while (n.level > 0) {
            const auto key = std::make_tuple(n.level - 1, n.x >> 1, n.y >> 1, n.z >> 1);
            auto found = index.find(key);
            int32_t parent;
            if (found == index.end()) {
                TileNode empty;
                std::tie(empty.level, empty.x, empty.y, empty.z) = key;
                parent = static_cast<int32_t>(all.size());
                index[key] = parent;
                all.push_back(empty);
            } else {
                parent = found->second;
            }
            const int32_t self = index[{n.level, n.x, n.y, n.z}];
            all[static_cast<size_t>(self)].parent = parent;
            all[static_cast<size_t>(parent)].child[(n.x & 1) | (n.y & 1) << 1 | (n.z & 1) << 2] = self;
            if (found != index.end())
                break;
            n = all[static_cast<size_t>(parent)]; // a new parent needs a parent of its own
        }
    }
    if (total == 0)
        fail("no point in the hierarchy");
}

PointListData PointTiles::blankNode(size_t i, size_t n) const
{
    PointListData d;
    d.nPoints = static_cast<int>(n);
    double side;
    cubeOf(i, d.origin, side);
    for (double &o : d.origin)
        o += side / 2;
    d.points = allocateLargeArray<float>(3 * n);
    if (colours)
        d.colors = allocateLargeArray<unsigned char>(3 * n);
    TileItems::addItems(d, items, n);
    return d;
}

void PointTiles::matchItems(PointListData &d, int brightest)
{
    std::vector<PointValueItem> ordered;
    const size_t n = static_cast<size_t>(d.nPoints);
    for (const std::string &item : items) {
        // The first of that name not taken yet: an extra "Intensity" is not the intensity.
        const std::string wanted = ValueCategories::foldedName(item);
        auto same = std::find_if(d.items.begin(), d.items.end(), [&](const PointValueItem &v) {
            return v.values && ValueCategories::foldedName(v.name) == wanted;
        });
        if (same == d.items.end()) {
            PointListData zero;
            TileItems::addItems(zero, {item}, n);
            ordered.push_back(std::move(zero.items[0]));
            continue;
        }
        PointValueItem v;
        v.name = item;
        v.values = std::move(same->values);
        ordered.push_back(std::move(v));
    }
    d.items = std::move(ordered);
    TileItems::setRanges(d);
    if (brightest > 255)
        wideColours = true;
    // The LAS reader took a node whose colours all lie below 256 for one of 8-bit colours.
    if (d.colors && brightest >= 0 && brightest <= 255 && wideColours)
        for (size_t k = 0; k < 3 * n; ++k)
            d.colors[k] = static_cast<unsigned char>((d.colors[k] * 255u + 32767u) / 65535u);
}

void PointTiles::fixGpsTime(double minimum)
{
    const auto gps = std::find(items.begin(), items.end(), "GPS time");
    if (gps == items.end())
        return;
    const size_t at = static_cast<size_t>(gps - items.begin());
    if (std::isfinite(minimum)) {
        gpsBase = std::floor(minimum);
    } else {
        // The nodes are in no order: the first is the one nearest the root.
        size_t first = all.size();
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].points > 0 && (first == all.size() || all[i].level < all[first].level))
                first = i;
        try {
            const double t = first < all.size() ? firstGpsTime(first) : NAN;
            if (std::isfinite(t))
                gpsBase = std::floor(t);
            else if (first < all.size())
                load(first);
        } catch (const std::runtime_error &) {
            // A node that can't be read says so when it is drawn; the reference is then 0.
        }
    }
    if (!std::isfinite(gpsBase))
        gpsBase = 0;
    items[at] = LasReader::gpsTimeName(gpsBase);
}

// --- Nodes ----------------------------------------------------------------------------------

std::string PointTiles::fetch(size_t i)
{
    const TileNode &n = all[i];
    RangeFile &f = *files[n.file];
    std::string key;
    std::string bytes;
    if (f.isRemote() && access.cache) {
        key = f.path() + "#" + std::to_string(n.offset) + "+" + std::to_string(n.bytes);
        if (access.cache->get(key, bytes))
            return bytes;
    }
    // A node larger than this is no node: it would be a cloud of its own.
    constexpr uint64_t kMostNode = uint64_t(1) << 31;
    bytes = n.bytes == 0 ? f.readAll(kMostNode) : f.read(n.offset, static_cast<size_t>(n.bytes));
    if (!key.empty())
        access.cache->put(key, bytes);
    return bytes;
}

PointListData PointTiles::load(size_t i)
{
    if (i >= all.size())
        fail("no node " + std::to_string(i));
    CapturingMessageSink kept;
    PointListData d;
    try {
        std::string bytes = fetch(i);
        ScopedThreadMessageSink quiet(kept);
        d = decode(i, bytes);
    } catch (const std::bad_alloc &) {
        fail("node " + nodeName(i) + ": no memory for its points");
    } catch (const std::runtime_error &e) {
        fail("node " + nodeName(i) + ": " + e.what());
    }
    // The decoders name the node in their messages (see nodeLabel).
    for (const CapturingMessageSink::Entry &e : kept.entries())
        if (e.level == MessageLevel::Warning)
            msg::text(e.level, e.text);
    if (d.nPoints < 0 || static_cast<uint64_t>(d.nPoints) != all[i].points)
        fail("node " + nodeName(i) + " holds " + std::to_string(d.nPoints) + " points, the hierarchy says " +
             std::to_string(all[i].points));
    return d;
}

PointListData PointTiles::readWhole(const char *path, const char *fallback)
{
    const NamedReadRefusal refuse{"GLPointListObject", fallback};
    try {
        return open(path ? path : "")->readWhole();
    } catch (const std::bad_alloc &) {
        refuse(path, "no memory for the points");
    } catch (const std::runtime_error &e) {
        refuse(path, "%s", e.what());
    }
}

PointListData PointTiles::readWhole()
{
    if (total > static_cast<uint64_t>(INT_MAX))
        fail("more than " + std::to_string(INT_MAX) + " points in the hierarchy");
    std::vector<size_t> first(all.size() + 1, 0);
    for (size_t i = 0; i < all.size(); ++i)
        first[i + 1] = first[i] + static_cast<size_t>(all[i].points);
    const size_t n = static_cast<size_t>(total);
    PointListData d;
    d.nPoints = static_cast<int>(n);
    d.points = allocateLargeArray<float>(3 * n);
    if (colours)
        d.colors = allocateLargeArray<unsigned char>(3 * n);
    TileItems::addItems(d, items, n);
    // The origin is the root cube's centre: the floats stay small, whatever the coordinates.
    for (int k = 0; k < 3; ++k)
        d.origin[k] = lo[k] + size / 2;
    Parallel::split(all.size(), 0, [&](unsigned, size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            if (all[i].points == 0)
                continue;
            const PointListData node = load(i);
            const size_t at = first[i];
            for (size_t p = 0; p < 3 * static_cast<size_t>(node.nPoints); ++p)
                d.points[3 * at + p] = static_cast<float>(node.points[p] + (node.origin[p % 3] - d.origin[p % 3]));
            if (colours)
                for (size_t p = 0; p < 3 * static_cast<size_t>(node.nPoints); ++p)
                    d.colors[3 * at + p] = node.colors ? node.colors[p] : 255;
            for (size_t k = 0; k < d.items.size(); ++k)
                for (int p = 0; p < node.nPoints; ++p)
                    d.items[k].values[at + static_cast<size_t>(p)] =
                        k < node.items.size() ? node.items[k].values[p] : 0.0f;
        }
    });
    d.bounds.addPoints(d.points.get(), 3 * n);
    TileItems::setRanges(d);
    msg::note("%s: %d points in %zu nodes around [%.3f %.3f %.3f]\n", kind(), d.nPoints, all.size(), d.origin[0],
              d.origin[1], d.origin[2]);
    return d;
}
