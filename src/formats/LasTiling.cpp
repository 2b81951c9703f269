#include "formats/LasTiling.h"

#include "formats/LasRecords.h"
#include "formats/LazChunkDecoder.h"
#include "formats/RangeFile.h"
#include "formats/TileBuilder.h"
#include "math/Messages.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

// The builder of the file's tiles, with the items of its first part.
std::unique_ptr<TileBuilder> builderFor(const LasRecords &las, const PointListData &first, const std::string &folder,
                                        size_t memoryBytes)
{
    TileBuilder::Settings s;
    s.folder = folder;
    double lo[3], hi[3];
    if (!las.box(lo, hi))
        fail("the header's box of the points is not usable");
    s.size = 0;
    for (int k = 0; k < 3; ++k) {
        s.lo[k] = lo[k];
        s.size = std::max(s.size, hi[k] - lo[k]);
    }
    s.size = s.size > 0 ? s.size * 1.0001 : 1;
    s.scale = 0.0001;
    s.colours = first.colors != nullptr;
    for (const PointValueItem &item : first.items)
        s.items.push_back(item.name);
    s.memoryBytes = memoryBytes;
    return std::make_unique<TileBuilder>(s);
}

// Points `first` to `first + points` of chunk `chunk`: what is read at once (a plain file's
// parts are chunks of their own, a large LAZ chunk is read in several pieces).
struct Piece {
    size_t chunk;
    uint64_t first, points;
};

// A LAZ chunk of several pieces, decoded in order by whichever thread reads its next piece.
struct ChunkCursor {
    std::mutex lock;
    std::condition_variable moved;
    std::string bytes;
    std::unique_ptr<LazChunkDecoder> decoder;
    uint64_t done = 0;   // its points decoded
    bool failed = false; // a piece failed: the ones after it fail too
};

// The points of a LAS or LAZ file in pieces of at most `most` points, read as the LAS reader
// reads them. The pieces may be read on several threads at once, each asked for after the one
// before it.
class PieceReader {
public:
    PieceReader(RangeFile &f, const std::string &name, uint64_t size, size_t most)
        : file(f), path(name), las(LasRecords::headOf(f), size)
    {
        const LazFile::Header &h = las.header();
        if (las.isCompressed()) {
            std::unique_ptr<FILE, int (*)(FILE *)> s(file.stream(), std::fclose);
            layout = LazFile::findLayout(s.get(), static_cast<long long>(size), h);
            chunks = LazFile::chunkTable(s.get(), static_cast<long long>(size), h, layout);
        } else {
            const uint64_t whole = std::min<uint64_t>(h.count, (size - h.offsetToPoints) / h.recordLength);
            for (uint64_t at = 0; at < whole; at += most)
                chunks.push_back(
                    {h.offsetToPoints + at * h.recordLength, 0, std::min<uint64_t>(most, whole - at)});
        }
        cursors.resize(chunks.size());
        for (size_t c = 0; c < chunks.size(); ++c) {
            for (uint64_t at = 0; at < chunks[c].points; at += most)
                pieces.push_back({c, at, std::min<uint64_t>(most, chunks[c].points - at)});
            if (chunks[c].points > most)
                cursors[c] = std::make_unique<ChunkCursor>();
        }
    }
    const LasRecords &records() const { return las; }
    const std::vector<Piece> &all() const { return pieces; }

    PointListData read(const Piece &p, double *gpsReference)
    {
        const std::string records = recordsOf(p);
        // The reader's note of each part is none of the user's business.
        CapturingMessageSink quiet;
        ScopedThreadMessageSink scope(quiet);
        return las.read(records.data(), static_cast<size_t>(p.points), path, gpsReference);
    }

private:
    // A piece's records, decoded where they are compressed.
    std::string recordsOf(const Piece &p)
    {
        const LazChunk &c = chunks[p.chunk];
        const unsigned length = las.header().recordLength;
        if (!las.isCompressed())
            return file.read(c.offset, static_cast<size_t>(c.points) * length);
        std::string records(static_cast<size_t>(p.points) * length, '\0');
        unsigned char *out = reinterpret_cast<unsigned char *>(&records[0]);
        if (!cursors[p.chunk]) {
            const std::string bytes = file.read(c.offset, static_cast<size_t>(c.bytes));
            LazChunkDecoder(layout).decode(reinterpret_cast<const unsigned char *>(bytes.data()),
                                           bytes.size(), static_cast<size_t>(c.points), out);
            return records;
        }
        ChunkCursor &k = *cursors[p.chunk];
        std::unique_lock<std::mutex> hold(k.lock);
        k.moved.wait(hold, [&] { return k.failed || k.done == p.first; });
        if (k.failed)
            fail("a chunk that could not be decoded");
        try {
            if (p.first == 0) {
                k.bytes = file.read(c.offset, static_cast<size_t>(c.bytes));
                k.decoder = std::make_unique<LazChunkDecoder>(layout);
                k.decoder->begin(reinterpret_cast<const unsigned char *>(k.bytes.data()), k.bytes.size(),
                                 static_cast<size_t>(c.points));
            }
            k.decoder->next(static_cast<size_t>(p.points), out);
            if ((k.done += p.points) == c.points) {
                k.decoder.reset();
                std::string().swap(k.bytes);
            }
        } catch (...) {
            k.failed = true;
            k.moved.notify_all();
            throw;
        }
        k.moved.notify_all();
        return records;
    }

    RangeFile &file;
    const std::string &path;
    const LasRecords las;
    LazLayout layout;
    std::vector<LazChunk> chunks;
    std::vector<Piece> pieces;
    std::vector<std::unique_ptr<ChunkCursor>> cursors; // of the chunks of several pieces
};

} // namespace

uint64_t LasTiling::wholeBytes(const std::string &path)
{
    try {
        RangeFile f(path);
        const uint64_t size = f.size();
        return wholeBytes(f.read(0, static_cast<size_t>(std::min<uint64_t>(size, kHeadBytes))), size);
    } catch (const std::exception &) {
        return 0;
    }
}

uint64_t LasTiling::wholeBytes(const std::string &head, uint64_t size)
{
    try {
        return LasRecords(head, size).header().count * 40;
    } catch (const std::exception &) {
        return 0;
    }
}

std::string LasTiling::tilesOf(const std::string &path, const std::string &cacheFolder, size_t memoryBytes,
                               const TilingWatch &watch, size_t partPoints)
{
    RangeFile file(path, watch.pool);
    const uint64_t size = file.size();
    // The same file (path, size and, on a disk, time) finds the tiles an earlier run made.
    struct stat st;
    const std::string when = stat(path.c_str(), &st) == 0 ? std::to_string(st.st_mtime) : "";
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : path + "|" + std::to_string(size) + "|" + when)
        hash = (hash ^ c) * 0x100000001b3ull;
    char name[32];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
    const std::string folder = cacheFolder + "/hierarchies/" + name;
    if (fs::exists(folder + "/ept.json"))
        return folder + "/ept.json";
    const std::string part = folder + ".part";
    std::error_code ignored;
    fs::remove_all(part, ignored);
    std::unique_ptr<TileBuilder> builder;
    int shown = -1; // the percentage on the progress line
    // A making that fails, or is stopped, takes what it wrote with it (and ends its line).
    struct Leftovers {
        const std::string &part;
        std::unique_ptr<TileBuilder> &builder;
        const int &shown;
        bool kept = false;
        ~Leftovers()
        {
            if (kept)
                return;
            if (shown >= 0)
                msg::note("\n");
            builder.reset();
            std::error_code ignored;
            fs::remove_all(part, ignored);
        }
    } leftovers{part, builder, shown};
    const auto stopped = [&] {
        if (watch.stop && *watch.stop)
            fail("cancelled");
    };
    const auto show = [&](float percent) {
        if (watch.percent)
            *watch.percent = percent;
    };

    PieceReader reader(file, path, size, std::max<size_t>(1, partPoints));
    const std::vector<Piece> &pieces = reader.all();
    const uint64_t count = reader.records().header().count;
    // The GPS times of every part after the first point's whole second, as a whole read has them.
    double gpsReference = NAN;
    uint64_t done = 0;
    const auto added = [&](const Piece &p) {
        done += p.points;
        const int percent = static_cast<int>(100 * done / std::max<uint64_t>(1, count));
        if (percent != shown)
            msg::note("\rGLPointStreamObject: %s: %d%% read into a hierarchy", path.c_str(), shown = percent);
        // Reading takes most of the time; making the nodes the rest.
        show(0.8f * static_cast<float>(percent));
    };
    if (!pieces.empty()) {
        PointListData first = reader.read(pieces[0], &gpsReference);
        builder = builderFor(reader.records(), first, part, memoryBytes);
        TileBuilder::Part ready = builder->prepare(first);
        first = PointListData();
        // The pieces after the first are read (a LAZ file's decoded) and made ready on threads of
        // their own, two ahead, while the one before goes into the hierarchy in the file's order:
        // the reading and the sorting keep both cores busy, whichever takes longer.
        constexpr size_t kAhead = 2;
        std::deque<std::future<TileBuilder::Part>> ahead;
        size_t asked = 1;
        const auto ask = [&] {
            for (; ahead.size() < kAhead && asked < pieces.size(); ++asked)
                ahead.push_back(std::async(std::launch::async,
                                           [&, &p = pieces[asked], reference = gpsReference]() mutable {
                                               return builder->prepare(reader.read(p, &reference));
                                           }));
        };
        ask();
        builder->add(std::move(ready));
        added(pieces[0]);
        for (size_t k = 1; k < pieces.size(); ++k) {
            stopped();
            ready = ahead.front().get();
            ahead.pop_front();
            ask();
            builder->add(std::move(ready));
            added(pieces[k]);
        }
    }
    if (!builder)
        fail("no point to make a hierarchy of");
    int last = -1;
    builder->finish([&](double share) {
        stopped();
        const int percent = static_cast<int>(100 * share);
        if (percent != last)
            msg::note("\rGLPointStreamObject: %s: hierarchy %d%% made", path.c_str(), last = percent);
        show(80.0f + 20.0f * static_cast<float>(share));
    });
    builder.reset();
    stopped();
    msg::note("\rGLPointStreamObject: %s: %llu points made into a hierarchy in %s\n", path.c_str(),
              static_cast<unsigned long long>(done), folder.c_str());
    fs::rename(part, folder);
    leftovers.kept = true;
    return folder + "/ept.json";
}
