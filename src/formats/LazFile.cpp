#include "formats/LazFile.h"

#include "formats/ArithmeticDecoder.h"
#include "formats/IntegerDecompressor.h"
#include "math/Parallel.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

uint16_t u16(const unsigned char *b) { return static_cast<uint16_t>(b[0] | b[1] << 8); }
uint32_t u32(const unsigned char *b)
{
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}
uint64_t u64(const unsigned char *b) { return static_cast<uint64_t>(u32(b)) | static_cast<uint64_t>(u32(b + 4)) << 32; }

void readAt(FILE *f, uint64_t at, unsigned char *into, size_t n)
{
    if (fseeko(f, static_cast<off_t>(at), SEEK_SET) != 0 || std::fread(into, 1, n, f) != n)
        fail("can't read " + std::to_string(n) + " bytes at byte " + std::to_string(at));
}

constexpr uint16_t kLaszipRecord = 22204;

} // namespace

LazLayout LazFile::findLayout(FILE *f, long long size, const Header &h, std::optional<CopcInfo> *copc)
{
    uint64_t at = h.headerSize;
    std::optional<LazLayout> layout;
    for (uint32_t i = 0; i < h.vlrCount; ++i) {
        unsigned char v[54];
        if (at + sizeof v > h.offsetToPoints)
            break;
        readAt(f, at, v, sizeof v);
        const unsigned length = u16(v + 20);
        at += sizeof v;
        const char *user = reinterpret_cast<const char *>(v + 2);
        const bool laszip = std::strncmp(user, "laszip encoded", 16) == 0 && u16(v + 18) == kLaszipRecord;
        const bool info = copc && std::strncmp(user, "copc", 16) == 0 && u16(v + 18) == 1;
        if (laszip || info) {
            if (at + length > static_cast<uint64_t>(size))
                fail("a variable-length record of " + std::to_string(length) + " bytes runs past the end of the file");
            std::vector<unsigned char> data(length);
            readAt(f, at, data.data(), length);
            if (laszip)
                layout = LazLayout::parse(data.data(), length, h.recordLength);
            else
                *copc = CopcInfo::parse(data.data(), length);
        }
        at += length;
    }
    if (!layout)
        fail("compressed, but without the \"laszip encoded\" record that says how");
    return *layout;
}

std::vector<LazChunk> LazFile::parseChunkTable(const unsigned char *t, size_t bytes, uint64_t first, bool variable,
                                               uint32_t chunkSize)
{
    if (bytes < 8)
        fail("the chunk table is cut short");
    if (u32(t) != 0)
        fail("chunk table version " + std::to_string(u32(t)) + ", only 0 is read");
    const uint32_t n = u32(t + 4);
    // Each entry takes at least a few bits: a count beyond the table's bytes is false.
    if (n == 0 || n / 64 > bytes)
        fail("a chunk table of " + std::to_string(n) + " chunks in " + std::to_string(bytes) + " bytes");
    std::vector<LazChunk> chunks;
    chunks.reserve(n);
    ArithmeticDecoder dec(t + 8, t + bytes);
    IntegerDecompressor ic(32, 2);
    int32_t points = 0, size = 0;
    uint64_t at = first;
    for (uint32_t i = 0; i < n; ++i) {
        if (variable)
            points = ic.decompress(dec, points, 0);
        size = ic.decompress(dec, size, 1);
        if (dec.overrun())
            fail("the chunk table is cut short");
        const uint64_t p = variable ? static_cast<uint32_t>(points) : chunkSize;
        chunks.push_back({at, static_cast<uint32_t>(size), p});
        at += static_cast<uint32_t>(size);
    }
    return chunks;
}

std::vector<LazChunk> LazFile::chunkTable(FILE *f, long long size, const Header &h, const LazLayout &layout)
{
    const uint64_t fileSize = static_cast<uint64_t>(size);
    if (layout.compressor == LazLayout::Pointwise)
        return {{h.offsetToPoints, fileSize - h.offsetToPoints, h.count}};
    unsigned char word[8];
    if (h.offsetToPoints + 8 > fileSize)
        fail("the file ends before its chunk table offset");
    readAt(f, h.offsetToPoints, word, 8);
    uint64_t tableAt = u64(word);
    const uint64_t first = h.offsetToPoints + 8;
    // A writer that could not seek back leaves -1 and puts the offset in the last 8 bytes.
    if (tableAt == ~uint64_t(0) && fileSize >= first + 8) {
        readAt(f, fileSize - 8, word, 8);
        tableAt = u64(word);
    }
    const bool variable = layout.chunkSize == LazLayout::kVariableChunks;
    std::vector<LazChunk> chunks;
    if (tableAt > first && tableAt + 8 <= fileSize) {
        std::vector<unsigned char> table(static_cast<size_t>(fileSize - tableAt));
        readAt(f, tableAt, table.data(), table.size());
        chunks = parseChunkTable(table.data(), table.size(), first, variable, layout.chunkSize);
    } else if (!variable && h.count <= layout.chunkSize) {
        // Without a table only one chunk can be found: it runs to the end.
        chunks.push_back({first, fileSize - first, h.count});
    } else {
        fail("the chunk table offset " + std::to_string(tableAt) + " is outside the file");
    }
    // Fixed chunks: the last one holds what is left; trailing chunks beyond the count are empty.
    uint64_t left = h.count;
    const uint64_t end = tableAt > first && tableAt <= fileSize ? tableAt : fileSize;
    for (LazChunk &c : chunks) {
        if (!variable)
            c.points = std::min<uint64_t>(c.points, left);
        if (c.points > left)
            fail("the chunks hold more points than the header's " + std::to_string(h.count));
        left -= c.points;
        if (c.offset > end || c.bytes > end - c.offset)
            fail("a chunk runs past the point data");
        if (c.points > 0 && (c.bytes < h.recordLength || c.points > LazChunkDecoder::mostPoints(c.bytes)))
            fail("a chunk of " + std::to_string(c.bytes) + " bytes can't hold " + std::to_string(c.points) +
                 " points");
    }
    if (left > 0)
        fail("the chunks hold " + std::to_string(h.count - left) + " of the header's " + std::to_string(h.count) +
             " points");
    return chunks;
}

namespace {

// Decodes `chunks` (their offsets in a file whose bytes from `base` on are at `file`) on every
// core, the first point of the first chunk into `out`.
void decodeChunks(const unsigned char *file, uint64_t base, const LazLayout &layout, const LazChunk *chunks,
                  size_t n, unsigned length, unsigned char *out)
{
    std::vector<uint64_t> firstPoint(n + 1, 0);
    for (size_t i = 0; i < n; ++i)
        firstPoint[i + 1] = firstPoint[i] + chunks[i].points;
    // Chunks are taken one at a time from a shared counter: their sizes differ.
    std::atomic<size_t> nextChunk{0};
    Parallel::run(std::min<unsigned>(Parallel::cores(), static_cast<unsigned>(std::max<size_t>(n, 1))),
                  [&](unsigned) {
                      LazChunkDecoder decoder(layout);
                      for (size_t i; (i = nextChunk++) < n;) {
                          const LazChunk &c = chunks[i];
                          decoder.decode(file + (c.offset - base), static_cast<size_t>(c.bytes),
                                         static_cast<size_t>(c.points), out + firstPoint[i] * length);
                      }
                  });
}

unsigned recordLength(const LazLayout &layout)
{
    unsigned length = 0;
    for (const LazItem &item : layout.items)
        length += item.size;
    return length;
}

} // namespace

LargeArray<unsigned char> LazFile::decode(const unsigned char *file, const LazLayout &layout,
                                          const std::vector<LazChunk> &chunks, uint64_t count)
{
    const unsigned length = recordLength(layout);
    LargeArray<unsigned char> out = allocateLargeArray<unsigned char>(static_cast<size_t>(count) * length);
    decodeChunks(file, 0, layout, chunks.data(), chunks.size(), length, out.get());
    return out;
}

std::vector<LazChunk> LazFile::copcChunks(FILE *f, long long size, const Header &h, const CopcInfo &info)
{
    std::vector<LazChunk> chunks;
    uint64_t total = 0;
    for (const CopcEntry &e : CopcHierarchy::nodes(f, static_cast<uint64_t>(size), info)) {
        const uint64_t bytes = static_cast<uint32_t>(e.bytes), points = static_cast<uint32_t>(e.points);
        if (bytes < h.recordLength || points > LazChunkDecoder::mostPoints(bytes))
            fail("node " + std::to_string(e.level) + "-" + std::to_string(e.x) + "-" + std::to_string(e.y) + "-" +
                 std::to_string(e.z) + " of " + std::to_string(bytes) + " bytes can't hold " + std::to_string(points) +
                 " points");
        total += points;
        chunks.push_back({e.offset, bytes, points});
    }
    if (total != h.count)
        fail("the hierarchy's nodes hold " + std::to_string(total) + " points, the header says " +
             std::to_string(h.count));
    std::sort(chunks.begin(), chunks.end(), [](const LazChunk &a, const LazChunk &b) { return a.offset < b.offset; });
    for (size_t i = 1; i < chunks.size(); ++i)
        if (chunks[i].offset < chunks[i - 1].offset + chunks[i - 1].bytes)
            fail("two nodes of the hierarchy overlap at byte " + std::to_string(chunks[i].offset));
    return chunks;
}

namespace {

// The layout and chunks of a LASzip file, as `read` takes them.
std::vector<LazChunk> locate(FILE *f, long long size, const LazFile::Header &h, LazLayout &layout,
                             LazFile::Summary &summary)
{
    std::optional<CopcInfo> copc;
    layout = LazFile::findLayout(f, size, h, &copc);
    if (layout.compressor == LazLayout::None)
        fail("LASzip compressor 0 (none) on a compressed point format");
    std::vector<LazChunk> chunks =
        copc ? LazFile::copcChunks(f, size, h, *copc) : LazFile::chunkTable(f, size, h, layout);
    summary.copc = copc.has_value();
    summary.chunks = chunks.size();
    return chunks;
}

} // namespace

LargeArray<unsigned char> LazFile::read(FILE *f, long long size, const Header &h, Summary *summary)
{
    LazLayout layout;
    Summary found;
    const std::vector<LazChunk> chunks = locate(f, size, h, layout, found);
    if (summary)
        *summary = found;
    uint64_t end = 0;
    for (const LazChunk &c : chunks)
        end = std::max(end, c.offset + c.bytes);
    LargeArray<unsigned char> bytes = allocateLargeArray<unsigned char>(static_cast<size_t>(end));
    readAt(f, 0, bytes.get(), static_cast<size_t>(end));
    return decode(bytes.get(), layout, chunks, h.count);
}

LazFile::Batches::Batches(FILE *file, long long size, const Header &h, size_t batchBytes)
    : f(file), chunks(locate(file, size, h, layout, found)), most(batchBytes), length(recordLength(layout))
{
}

void LazFile::Batches::hold(uint64_t compressed, uint64_t records)
{
    if (compressed > bytesHeld) {
        bytes = LargeArray<unsigned char>();
        bytes = allocateLargeArray<unsigned char>(static_cast<size_t>(compressed));
        bytesHeld = static_cast<size_t>(compressed);
    }
    if (records > outHeld) {
        out = LargeArray<unsigned char>();
        out = allocateLargeArray<unsigned char>(static_cast<size_t>(records));
        outHeld = static_cast<size_t>(records);
    }
}

const unsigned char *LazFile::Batches::records(uint64_t first, size_t &n)
{
    while (first >= to && nextChunk < chunks.size()) {
        const LazChunk &c = chunks[nextChunk];
        if (c.points * length > most && c.points > 1) {
            // A chunk larger than a batch, in steps of a batch (its bytes held meanwhile).
            if (!stepper) {
                hold(c.bytes, 0);
                readAt(f, c.offset, bytes.get(), static_cast<size_t>(c.bytes));
                stepper = std::make_unique<LazChunkDecoder>(layout);
                stepper->begin(bytes.get(), static_cast<size_t>(c.bytes), static_cast<size_t>(c.points));
                stepped = 0;
            }
            const uint64_t step =
                std::min<uint64_t>(c.points - stepped, std::max<uint64_t>(1, most / length));
            hold(0, step * length);
            stepper->next(static_cast<size_t>(step), out.get());
            if ((stepped += step) == c.points) {
                stepper.reset();
                ++nextChunk;
            }
            from = to;
            to += step;
            continue;
        }
        // The next batch: whole chunks (in the file's order, so its bytes are one range).
        size_t end = nextChunk;
        uint64_t points = 0, lo = c.offset, hi = lo;
        for (; end < chunks.size() && (end == nextChunk || (points + chunks[end].points) * length <= most);
             ++end) {
            points += chunks[end].points;
            lo = std::min(lo, chunks[end].offset);
            hi = std::max(hi, chunks[end].offset + chunks[end].bytes);
        }
        hold(hi - lo, points * length);
        readAt(f, lo, bytes.get(), static_cast<size_t>(hi - lo));
        decodeChunks(bytes.get(), lo, layout, chunks.data() + nextChunk, end - nextChunk, length, out.get());
        nextChunk = end;
        from = to;
        to += points;
    }
    if (first < from || first >= to)
        fail("point " + std::to_string(first) + " is not in the chunks that follow");
    n = static_cast<size_t>(std::min<uint64_t>(n, to - first));
    return out.get() + (first - from) * length;
}
