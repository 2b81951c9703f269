#include "formats/TileBuilder.h"

#include "formats/PointListReader.h"
#include "math/Parallel.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

// Levels whose grids are kept in memory while the points of one cube pass.
constexpr int kLevels = 3;
constexpr int kDeepest = 24;

int32_t i32(const char *b)
{
    int32_t v;
    std::memcpy(&v, b, 4);
    return v;
}

std::string keyName(const TileBuilder::Key &k)
{
    return std::to_string(k.d) + "-" + std::to_string(k.x) + "-" + std::to_string(k.y) + "-" + std::to_string(k.z);
}

// A file that records are appended to through a buffer of its own (set aside when the first
// record comes: most of a cube's sinks take none).
struct Sink {
    static constexpr size_t kBuffer = size_t(1) << 16;
    std::string path;
    FILE *f = nullptr;
    std::unique_ptr<char[]> buffer;
    size_t used = 0;
    uint64_t count = 0;
    void append(const char *record, size_t bytes)
    {
        if (used + bytes > kBuffer)
            flush();
        if (!buffer)
            buffer.reset(new char[kBuffer]);
        std::memcpy(buffer.get() + used, record, bytes);
        used += bytes;
        ++count;
    }
    void flush()
    {
        if (used == 0)
            return;
        if (!f && !(f = std::fopen(path.c_str(), "ab")))
            fail("can't write " + path + " (" + std::strerror(errno) + ")");
        if (std::fwrite(buffer.get(), 1, used, f) != used)
            fail("can't write " + path + " (the disk is full?)");
        used = 0;
    }
    void close()
    {
        flush();
        if (f && std::fclose(f) != 0)
            fail("can't write " + path);
        f = nullptr;
    }
    ~Sink()
    {
        if (f)
            std::fclose(f);
    }
};

// What ends a maker's part of the making once another maker has failed (the failure is raised).
struct Stopped {
};

} // namespace

/// The making of the cubes below the first levels, shared by the threads that make them. Its
/// progress counts the records written into nodes and those of the cubes sent through files
/// again as they pass, against all the records below and those of the cubes sent again so far.
struct TileBuilder::Making {
    Making(const std::function<void(double)> &report, uint64_t records) : progress(report), all(records) {}
    const std::function<void(double)> &progress; ///< heard on the calling thread only
    std::atomic<uint64_t> all;
    std::atomic<uint64_t> done{0};
    double heard = 0; ///< the largest share heard (a cube sent again adds to `all`)
    std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> quit{false}; ///< a maker has failed, or progress has raised
    std::mutex lock;
    std::condition_variable ended;
    unsigned busy = 0; ///< cubes under way (under lock)
};

void TileBuilder::checkpoint()
{
    if (!making)
        return;
    if (making->quit)
        throw Stopped{};
    if (making->progress && std::this_thread::get_id() == making->caller) {
        const uint64_t all = making->all;
        making->heard =
            std::max(making->heard, all ? std::min(1.0, static_cast<double>(making->done) / all) : 1.0);
        making->progress(making->heard);
    }
}

bool TileBuilder::Key::operator<(const Key &o) const
{
    return std::tie(d, x, y, z) < std::tie(o.d, o.x, o.y, o.z);
}

// Where a record lies: its coordinates as shares of the root cube's side.
struct Place {
    double f[3];
    Place(const char *record, double cells)
    {
        for (int k = 0; k < 3; ++k)
            f[k] = (i32(record + 4 * k) + 0.5) / cells;
    }
    // The cube of depth d holding it, and its cell in that cube's grid of `span` a side.
    void at(int d, unsigned span, int *node, unsigned *cell) const
    {
        // 2^d exactly (d is at most kDeepest + kLevels), without the library call.
        const double n = static_cast<double>(uint64_t(1) << d);
        for (int k = 0; k < 3; ++k) {
            const double v = std::clamp(f[k] * n, 0.0, n - 1e-9);
            node[k] = static_cast<int>(v);
            cell[k] = std::min(span - 1, static_cast<unsigned>((v - node[k]) * span));
        }
    }
};

namespace {

// Where a record goes below the cube `top`, in kPlaceWords words: the cell within the grid of
// each level that has one (a grid has at most 2^30 cells), then the node within the cube of
// each level below the first (fewer than 8^l at level l: 3, 6 and 9 bits).
constexpr size_t kPlaceWords = kLevels + 1;
static_assert(kLevels == 3, "the nodes' bits below are laid out for three levels");

void placeOf(const char *record, const TileBuilder::Key &top, double cells, unsigned span, uint32_t *words)
{
    const Place p(record, cells);
    uint32_t nodes = 0;
    for (int l = 0; l <= kLevels; ++l) {
        int node[3];
        unsigned cell[3];
        p.at(top.d + l, span, node, cell);
        const int local[3] = {node[0] - (top.x << l), node[1] - (top.y << l), node[2] - (top.z << l)};
        const int side = 1 << l;
        for (int k = 0; k < 3; ++k)
            if (local[k] < 0 || local[k] >= side)
                fail("a point outside its cube");
        nodes |= static_cast<uint32_t>(local[0] + side * (local[1] + side * local[2]))
                 << (l * (l - 1) / 2 * 3);
        if (l < kLevels)
            words[l] = cell[0] + span * (cell[1] + span * cell[2]);
    }
    words[kLevels] = nodes;
}

// The node within the cube at level l of a place.
size_t nodeOf(const uint32_t *words, int l)
{
    return words[kLevels] >> (l * (l - 1) / 2 * 3) & ((1u << 3 * l) - 1);
}

} // namespace

/// The first kLevels levels below one cube while its points pass: their grids, and one file
/// for the points of each node and each cube below them.
class TileBuilder::Splitter {
public:
    Splitter(TileBuilder &builder, Key root, std::string folder) : b(builder), top(root), dir(std::move(folder))
    {
        for (int l = 0; l <= kLevels; ++l) {
            const size_t n = size_t(1) << (3 * l);
            sinks.emplace_back(n);
            if (l < kLevels)
                grids.emplace_back(n);
            for (size_t i = 0; i < n; ++i)
                sinks[l][i].path = dir + "/" + std::to_string(root.d) + "-" + std::to_string(l) + "-" + std::to_string(i);
        }
        fs::create_directories(dir);
    }

    /// Adds n records laid one after the other, in their order.
    void add(const char *records, size_t n)
    {
        std::vector<uint32_t> places(n * kPlaceWords);
        for (size_t i = 0; i < n; ++i)
            placeOf(records + i * b.record, top, b.cells, b.s.span, &places[i * kPlaceWords]);
        addPlaced(records, places.data(), n);
    }

    /// The same with their places worked out (placeOf below this splitter's cube). The grids
    /// are far larger than the processor's caches, and waiting for each grid word took most of
    /// the time: the words of a batch of records are asked for ahead.
    void addPlaced(const char *records, const uint32_t *places, size_t n)
    {
        constexpr size_t kBatch = 32;
        const size_t gridWords = (size_t(b.s.span) * b.s.span * b.s.span + 63) / 64;
        uint64_t *words[kBatch][kLevels];
        for (size_t from = 0; from < n; from += kBatch) {
            const size_t m = std::min(kBatch, n - from);
            for (size_t i = 0; i < m; ++i) {
                const uint32_t *p = places + (from + i) * kPlaceWords;
                for (int l = 0; l < kLevels; ++l) {
                    std::vector<uint64_t> &bits = grids[l][nodeOf(p, l)];
                    if (bits.empty())
                        bits.assign(gridWords, 0);
                    words[i][l] = &bits[p[l] / 64];
                    __builtin_prefetch(words[i][l], 1);
                }
            }
            for (size_t i = 0; i < m; ++i) {
                const uint32_t *p = places + (from + i) * kPlaceWords;
                int l = 0;
                // The first level whose grid cell is free keeps it, else the files below.
                for (; l < kLevels; ++l) {
                    const uint64_t bit = uint64_t(1) << (p[l] % 64);
                    if (!(*words[i][l] & bit)) {
                        *words[i][l] |= bit;
                        break;
                    }
                }
                sinks[l][nodeOf(p, l)].append(records + (from + i) * b.record, b.record);
            }
        }
    }

    /// Writes the nodes of the grids; the cubes below are left in `below` (their files).
    void finish(std::vector<std::tuple<Key, std::string, uint64_t>> &below)
    {
        grids.clear();
        for (int l = 0; l <= kLevels; ++l) {
            const int side = 1 << l;
            for (size_t i = 0; i < sinks[l].size(); ++i) {
                Sink &s = sinks[l][i];
                s.close();
                if (s.count == 0)
                    continue;
                const Key k{top.d + l, (top.x << l) + static_cast<int>(i % side), (top.y << l) + static_cast<int>(i / side % side),
                            (top.z << l) + static_cast<int>(i / side / side)};
                if (l < kLevels) {
                    std::vector<char> records(static_cast<size_t>(s.count) * b.record);
                    std::ifstream in(s.path, std::ios::binary);
                    if (!in.read(records.data(), static_cast<std::streamsize>(records.size())))
                        fail("can't read back " + s.path);
                    in.close();
                    fs::remove(s.path);
                    b.writeNode(k, records.data(), static_cast<size_t>(s.count));
                } else {
                    below.emplace_back(k, s.path, s.count);
                }
            }
        }
    }

private:
    TileBuilder &b;
    Key top;
    std::string dir;
    std::vector<std::vector<Sink>> sinks;                  ///< by level, by node within the cube
    std::vector<std::vector<std::vector<uint64_t>>> grids; ///< the same, the taken cells
};

TileBuilder::TileBuilder(Settings settings) : s(std::move(settings))
{
    if (!(s.size > 0) || !std::isfinite(s.size) || s.span < 2 || s.span > 1024)
        fail("a tile set needs a cube and a span of 2 to 1024");
    // Integer coordinates from the low corner: the cube fits in 31 bits.
    s.scale = std::max(s.scale, s.size / 2e9);
    cells = std::ceil(s.size / s.scale);
    record = 12 + (s.colours ? 3 : 0) + 4 * s.items.size();
    for (int k = 0; k < 3; ++k) {
        lo[k] = INFINITY;
        hi[k] = -INFINITY;
    }
    fs::create_directories(s.folder + "/ept-data");
    fs::create_directories(s.folder + "/ept-hierarchy");
    top = std::make_unique<Splitter>(*this, Key{0, 0, 0, 0}, s.folder + "/build");
}

TileBuilder::~TileBuilder()
{
    top.reset();
    std::error_code ignored;
    fs::remove_all(s.folder + "/build", ignored);
}

TileBuilder::Part TileBuilder::prepare(size_t n, const double *xyz, const unsigned char *rgb,
                                       const std::vector<const float *> &values) const
{
    Part part;
    part.records.resize(n * record);
    part.places.resize(n * kPlaceWords);
    for (int k = 0; k < 3; ++k) {
        part.lo[k] = INFINITY;
        part.hi[k] = -INFINITY;
    }
    const Key root{0, 0, 0, 0};
    for (size_t p = 0; p < n; ++p) {
        char *r = part.records.data() + p * record;
        for (int k = 0; k < 3; ++k) {
            const double v = xyz[3 * p + k];
            part.lo[k] = std::min(part.lo[k], v);
            part.hi[k] = std::max(part.hi[k], v);
            const double c = std::clamp(std::floor((v - s.lo[k]) / s.scale), 0.0, cells - 1);
            const int32_t i = static_cast<int32_t>(c);
            std::memcpy(r + 4 * k, &i, 4);
        }
        if (s.colours)
            std::memcpy(r + 12, rgb + 3 * p, 3);
        for (size_t k = 0; k < s.items.size(); ++k)
            std::memcpy(r + 12 + (s.colours ? 3 : 0) + 4 * k, values[k] + p, 4);
        placeOf(r, root, cells, s.span, &part.places[p * kPlaceWords]);
    }
    return part;
}

TileBuilder::Part TileBuilder::prepare(const PointListData &d) const
{
    const size_t n = static_cast<size_t>(d.nPoints);
    std::vector<double> xyz(3 * n);
    for (size_t p = 0; p < 3 * n; ++p)
        xyz[p] = d.points[p] + d.origin[p % 3];
    std::vector<const float *> values;
    for (const PointValueItem &item : d.items)
        values.push_back(item.values.get());
    return prepare(n, xyz.data(), d.colors.get(), values);
}

void TileBuilder::add(Part part)
{
    const size_t n = part.places.size() / kPlaceWords;
    if (part.records.size() != n * record || part.places.size() != n * kPlaceWords)
        fail("a part of points made for another tile set");
    for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], part.lo[k]);
        hi[k] = std::max(hi[k], part.hi[k]);
    }
    top->addPlaced(part.records.data(), part.places.data(), n);
    added += n;
}

void TileBuilder::writeNode(const Key &key, const char *records, size_t count)
{
    const std::string path = s.folder + "/ept-data/" + keyName(key) + ".bin";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(records, static_cast<std::streamsize>(count * record));
    if (!out.flush())
        fail("can't write " + path + " (the disk is full?)");
    {
        std::lock_guard<std::mutex> hold(writing);
        written[key] = count;
    }
    if (making)
        making->done += count;
    checkpoint();
}

void TileBuilder::buildInMemory(const Key &key, std::vector<char> &records)
{
    const size_t n = records.size() / record;
    if (n <= s.leafPoints || key.d >= kDeepest) {
        writeNode(key, records.data(), n);
        return;
    }
    const unsigned span = s.span;
    std::vector<uint64_t> bits((size_t(span) * span * span + 63) / 64, 0);
    std::vector<char> kept, below[8];
    for (size_t p = 0; p < n; ++p) {
        const char *r = records.data() + p * record;
        const Place at(r, cells);
        int node[3], child[3];
        unsigned cell[3], half[3];
        at.at(key.d, span, node, cell);
        const size_t c = cell[0] + span * (cell[1] + size_t(span) * cell[2]);
        if (!(bits[c / 64] >> (c % 64) & 1)) {
            bits[c / 64] |= uint64_t(1) << (c % 64);
            kept.insert(kept.end(), r, r + record);
            continue;
        }
        at.at(key.d + 1, 2, child, half);
        const int octant = (child[0] & 1) | (child[1] & 1) << 1 | (child[2] & 1) << 2;
        below[octant].insert(below[octant].end(), r, r + record);
    }
    std::vector<char>().swap(records);
    std::vector<uint64_t>().swap(bits);
    writeNode(key, kept.data(), kept.size() / record);
    std::vector<char>().swap(kept);
    for (int o = 0; o < 8; ++o)
        if (!below[o].empty())
            buildInMemory({key.d + 1, 2 * key.x + (o & 1), 2 * key.y + (o >> 1 & 1), 2 * key.z + (o >> 2 & 1)}, below[o]);
}

void TileBuilder::buildFromFile(const Key &key, const std::string &path, uint64_t count)
{
    if (count * record <= s.memoryBytes / 2 || key.d >= kDeepest) {
        std::vector<char> records(static_cast<size_t>(count * record));
        std::ifstream in(path, std::ios::binary);
        if (!in.read(records.data(), static_cast<std::streamsize>(records.size())))
            fail("can't read back " + path);
        in.close();
        fs::remove(path);
        buildInMemory(key, records);
        return;
    }
    // Too many for the memory: the same three levels again, through files.
    std::vector<std::tuple<Key, std::string, uint64_t>> below;
    if (making)
        making->all += count;
    {
        Splitter again(*this, key, s.folder + "/build/" + std::to_string(++spills));
        std::ifstream in(path, std::ios::binary);
        std::vector<char> chunk(record * 65536);
        for (uint64_t done = 0; done < count;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(65536, count - done));
            if (!in.read(chunk.data(), static_cast<std::streamsize>(n * record)))
                fail("can't read back " + path);
            again.add(chunk.data(), n);
            done += n;
            if (making)
                making->done += n;
            checkpoint();
        }
        in.close();
        fs::remove(path);
        again.finish(below);
    }
    for (const auto &[k, file, n] : below)
        buildFromFile(k, file, n);
}

void TileBuilder::finish(const std::function<void(double)> &progress)
{
    std::vector<std::tuple<Key, std::string, uint64_t>> below;
    top->finish(below);
    top.reset();
    uint64_t all = 0;
    for (const auto &b : below)
        all += std::get<2>(b);
    // With many records below, the cubes whose records take at most a quarter of the memory
    // are made two at a time (a making in memory holds its records twice at most), the others
    // one after the other. The nodes are the same in any order.
    const unsigned makers = all * record >= s.bothCoresFrom ? 2 : 1;
    std::vector<size_t> together, alone;
    for (size_t i = 0; i < below.size(); ++i)
        (std::get<2>(below[i]) * record <= s.memoryBytes / (2 * makers) ? together : alone).push_back(i);
    Making m(progress, all);
    making = &m;
    struct Unset {
        TileBuilder &b;
        ~Unset() { b.making = nullptr; }
    } unset{*this};
    std::atomic<size_t> next{0};
    const auto make = [&](const std::vector<size_t> &cubes, unsigned threads) {
        next = 0;
        Parallel::run(threads, [&](unsigned) {
            try {
                for (size_t i; !m.quit && (i = next++) < cubes.size();) {
                    struct Busy {
                        Making &m;
                        explicit Busy(Making &making) : m(making)
                        {
                            std::lock_guard<std::mutex> hold(m.lock);
                            ++m.busy;
                        }
                        ~Busy()
                        {
                            {
                                std::lock_guard<std::mutex> hold(m.lock);
                                --m.busy;
                            }
                            m.ended.notify_all();
                        }
                    } busy(m);
                    const auto &[k, file, n] = below[cubes[i]];
                    buildFromFile(k, file, n);
                }
                // The calling thread, out of cubes, keeps the progress going (and hears a
                // cancel) while the other thread ends its cube.
                if (std::this_thread::get_id() == m.caller)
                    for (std::unique_lock<std::mutex> hold(m.lock); m.busy > 0;) {
                        m.ended.wait_for(hold, std::chrono::milliseconds(100));
                        hold.unlock();
                        checkpoint();
                        hold.lock();
                    }
            } catch (const Stopped &) {
                // Another maker failed: its failure is raised.
            } catch (...) {
                m.quit = true;
                throw;
            }
        });
    };
    make(together, makers);
    make(alone, 1);
    if (progress)
        progress(1);
    nlohmann::json hierarchy = nlohmann::json::object();
    for (const auto &[k, n] : written)
        hierarchy[keyName(k)] = n;
    std::ofstream(s.folder + "/ept-hierarchy/0-0-0-0.json") << hierarchy.dump();
    nlohmann::json meta;
    meta["version"] = "1.0.0";
    meta["dataType"] = "binary";
    meta["hierarchyType"] = "json";
    meta["points"] = added;
    meta["span"] = s.span;
    meta["bounds"] = {s.lo[0], s.lo[1], s.lo[2], s.lo[0] + s.size, s.lo[1] + s.size, s.lo[2] + s.size};
    if (added > 0)
        meta["boundsConforming"] = {lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]};
    nlohmann::json schema = nlohmann::json::array();
    for (int k = 0; k < 3; ++k)
        schema.push_back({{"name", std::string(1, static_cast<char>('X' + k))}, {"type", "signed"}, {"size", 4},
                          {"scale", s.scale}, {"offset", s.lo[k]}});
    for (const char *c : {"Red", "Green", "Blue"})
        if (s.colours)
            schema.push_back({{"name", c}, {"type", "unsigned"}, {"size", 1}});
    for (const std::string &item : s.items) {
        // The names other programs give the LAS fields.
        const std::string name = item == "intensity"       ? "Intensity"
                                 : item == "classification" ? "Classification"
                                 : item == "return number"  ? "ReturnNumber"
                                 : item == "GPS time"       ? "GpsTime"
                                                            : item;
        schema.push_back({{"name", name}, {"type", "float"}, {"size", 4}});
    }
    meta["schema"] = schema;
    std::ofstream out(s.folder + "/ept.json");
    out << meta.dump(2);
    if (!out.flush())
        fail("can't write " + s.folder + "/ept.json");
}
