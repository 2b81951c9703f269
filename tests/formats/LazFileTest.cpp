// ctest-label: thread
#include "formats/LasReader.h"
#include "formats/LazFile.h"
#include "math/Messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <zlib.h>

namespace {

std::string dataPath(const std::string &name) { return std::string(VELMORA_SOURCE_DIR) + "/tests/data/laz/" + name; }

// A twin kept gzip-compressed (".gz") is inflated.
std::vector<unsigned char> fileBytes(const std::string &path)
{
    if (path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0) {
        std::vector<unsigned char> out;
        gzFile in = gzopen(path.c_str(), "rb");
        unsigned char buffer[1 << 16];
        for (int got; in && (got = gzread(in, buffer, sizeof buffer)) > 0;)
            out.insert(out.end(), buffer, buffer + got);
        if (in)
            gzclose(in);
        return out;
    }
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <class T> T get(const std::vector<unsigned char> &b, size_t at)
{
    T v;
    std::memcpy(&v, &b[at], sizeof v);
    return v;
}

LazFile::Header headerOf(const std::vector<unsigned char> &b)
{
    uint64_t count = get<uint32_t>(b, 107);
    if (b[25] >= 4 && count == 0)
        count = get<uint64_t>(b, 247);
    return {get<uint16_t>(b, 94), get<uint32_t>(b, 100), get<uint32_t>(b, 96), get<uint16_t>(b, 105), count};
}

struct Opened {
    FILE *f;
    explicit Opened(const std::string &path) : f(std::fopen(path.c_str(), "rb")) {}
    ~Opened()
    {
        if (f)
            std::fclose(f);
    }
};

// A file of tests/data/laz read whole and open, with its LAS header (a file too short to hold
// one fails the test and keeps a zero header).
struct LazInput {
    std::vector<unsigned char> bytes;
    LazFile::Header h{};
    Opened f;
    explicit LazInput(const std::string &name) : bytes(fileBytes(dataPath(name))), f(dataPath(name))
    {
        EXPECT_GT(bytes.size(), 375u) << name;
        if (bytes.size() > 375)
            h = headerOf(bytes);
    }
    long long size() const { return static_cast<long long>(bytes.size()); }
};

} // namespace

// Files of other programs with their uncompressed twins: the decoded records must equal the
// twin's byte for byte. autzen_trim holds three chunks of a fixed chunk table; lion_takanawa_r
// is a node of a hierarchy of the older Potree format (format 2, 5,202 points).
TEST(LazFile, RealFilesDecodeToTheRecordsOfTheirUncompressedTwins)
{
    struct Case {
        const char *laz, *las;
        size_t chunks;
    };
    for (const Case c : {Case{"point10.las.laz", "point10.las", 1}, Case{"point-time.las.laz", "point-time.las", 1},
                         Case{"point-color.las.laz", "point-color.las", 1},
                         Case{"point-color-time.las.laz", "point-color-time.las", 1},
                         Case{"extrabytes.laz", "extrabytes.las", 1}, Case{"simple.laz", "simple.las", 1},
                         Case{"point-time-1.4.las.laz", "point-time.las", 1},
                         Case{"simple-laszip-compressor-version-1.2r0.laz", "simple.las", 1},
                         Case{"autzen_trim.laz", "autzen_trim.las.gz", 3}, Case{"1_4_w_evlr.laz", "1_4_w_evlr.las", 1},
                         Case{"lion_takanawa_r.laz", "lion_takanawa_r.las", 1}}) {
        SCOPED_TRACE(c.laz);
        const std::vector<unsigned char> laz = fileBytes(dataPath(c.laz)), las = fileBytes(dataPath(c.las));
        ASSERT_GT(laz.size(), 375u);
        ASSERT_GT(las.size(), 375u);
        const LazFile::Header h = headerOf(laz), twin = headerOf(las);
        ASSERT_EQ(h.count, twin.count);
        ASSERT_EQ(h.recordLength, twin.recordLength);
        Opened f(dataPath(c.laz));
        ASSERT_NE(f.f, nullptr);
        LazFile::Summary summary;
        LargeArray<unsigned char> records = LazFile::read(f.f, static_cast<long long>(laz.size()), h, &summary);
        EXPECT_EQ(summary.chunks, c.chunks);
        size_t wrong = 0, firstWrong = 0;
        for (size_t i = 0; i < h.count; ++i)
            if (std::memcmp(records.get() + i * h.recordLength, &las[twin.offsetToPoints + i * h.recordLength],
                            h.recordLength) != 0 &&
                wrong++ == 0)
                firstWrong = i;
        EXPECT_EQ(wrong, 0u) << "first at point " << firstWrong;
        // The same in batches of at most 20,000 points (steps of a larger chunk) or 100,000 (two of
        // autzen_trim's chunks, then its third), asked for in steps that cross the batches' ends.
        for (const size_t most : {20000, 100000}) {
            LazFile::Batches batches(f.f, static_cast<long long>(laz.size()), h, most * h.recordLength);
            for (uint64_t at = 0; at < h.count && wrong == 0;) {
                size_t n = 7777;
                const unsigned char *r = batches.records(at, n);
                ASSERT_GT(n, 0u);
                wrong +=
                    std::memcmp(r, &las[twin.offsetToPoints + at * h.recordLength], n * h.recordLength) != 0;
                at += n;
            }
        }
        EXPECT_EQ(wrong, 0u);
        // And each chunk in steps of 777 points, as a large one is made into tiles.
        const LazLayout layout = LazFile::findLayout(f.f, static_cast<long long>(laz.size()), h);
        LazChunkDecoder steps(layout);
        std::vector<unsigned char> piece(777 * h.recordLength);
        uint64_t at = 0;
        for (const LazChunk &chunk :
             LazFile::chunkTable(f.f, static_cast<long long>(laz.size()), h, layout)) {
            steps.begin(&laz[chunk.offset], chunk.bytes, chunk.points);
            for (uint64_t k = 0; k < chunk.points; k += 777) {
                const size_t n = std::min<size_t>(777, chunk.points - k);
                steps.next(n, piece.data());
                wrong += std::memcmp(piece.data(), records.get() + (at + k) * h.recordLength,
                                     n * h.recordLength) != 0;
            }
            at += chunk.points;
        }
        EXPECT_EQ(wrong, 0u);
    }
}

namespace {

// The point format 7 record that a format 3 record becomes in a file of other offsets: the
// same fields, the scan angle in steps of 0.006 degrees, the flags in a byte of their own.
std::vector<unsigned char> asFormat7(const std::vector<unsigned char> &from, const unsigned char *b,
                                     const std::vector<unsigned char> &to)
{
    std::vector<unsigned char> r(36);
    for (int k = 0; k < 3; ++k) {
        int32_t v;
        std::memcpy(&v, b + 4 * k, 4);
        const double at = v * get<double>(from, 131 + 8 * k) + get<double>(from, 155 + 8 * k);
        v = static_cast<int32_t>(std::lround((at - get<double>(to, 155 + 8 * k)) / get<double>(to, 131 + 8 * k)));
        std::memcpy(&r[4 * k], &v, 4);
    }
    std::memcpy(&r[12], b + 12, 2);
    r[14] = static_cast<unsigned char>((b[14] & 7) | ((b[14] >> 3) & 7) << 4);
    r[15] = static_cast<unsigned char>((b[15] >> 5) | (b[14] & 0xC0));
    r[16] = b[15] & 31;
    r[17] = b[17];
    const int16_t angle = static_cast<int16_t>(std::lround(static_cast<int8_t>(b[16]) / 0.006));
    std::memcpy(&r[18], &angle, 2);
    std::memcpy(&r[20], b + 18, 16); // source, GPS time, RGB
    return r;
}

} // namespace

// A point format 7 file of the layered compressor (a COPC file, whose chunks are its nodes)
// against the same points in format 3: every record equal byte for byte to the twin's record
// in format 7, once both are in the same order. The same file read through its chunk table
// (variable chunks, each count from the table) gives the same records as through its hierarchy.
TEST(LazFile, LayeredChunksDecodeToTheRecordsOfTheirTwin)
{
    const std::vector<unsigned char> laz = fileBytes(dataPath("1.2-with-color.copc.laz")),
                                     las = fileBytes(dataPath("1.2-with-color.las"));
    ASSERT_GT(laz.size(), 375u);
    const LazFile::Header h = headerOf(laz), twin = headerOf(las);
    ASSERT_EQ(h.count, twin.count);
    Opened f(dataPath("1.2-with-color.copc.laz"));
    LargeArray<unsigned char> records = LazFile::read(f.f, static_cast<long long>(laz.size()), h);
    std::vector<std::vector<unsigned char>> got, want;
    for (size_t i = 0; i < h.count; ++i) {
        got.emplace_back(records.get() + 36 * i, records.get() + 36 * (i + 1));
        want.push_back(asFormat7(las, &las[twin.offsetToPoints + 34 * i], laz));
    }
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_TRUE(got == want);

    const LazLayout layout = LazFile::findLayout(f.f, static_cast<long long>(laz.size()), h);
    ASSERT_EQ(layout.chunkSize, LazLayout::kVariableChunks);
    const std::vector<LazChunk> table = LazFile::chunkTable(f.f, static_cast<long long>(laz.size()), h, layout);
    EXPECT_GT(table.size(), 1u);
    LargeArray<unsigned char> again = LazFile::decode(laz.data(), layout, table, h.count);
    EXPECT_EQ(std::memcmp(again.get(), records.get(), 36 * h.count), 0);
}

// One decoder takes the chunks of a file in reverse order, each after a copy whose last third
// is garbled (decoded to wrong points or refused part way): every chunk decodes as with a
// decoder of its own (no model of the chunk before, finished or not, carries over).
// autzen_trim is pointwise (format 3) in three chunks, the COPC file layered (format 7) in
// nodes of a few points.
TEST(LazChunkDecoder, OneDecoderDecodesEveryChunkAsAFreshOne)
{
    for (const char *name : {"autzen_trim.laz", "1.2-with-color.copc.laz"}) {
        SCOPED_TRACE(name);
        const LazInput in(name);
        const std::vector<unsigned char> &laz = in.bytes;
        const LazLayout layout = LazFile::findLayout(in.f.f, in.size(), in.h);
        const std::vector<LazChunk> chunks = LazFile::chunkTable(in.f.f, in.size(), in.h, layout);
        ASSERT_GT(chunks.size(), 2u);
        LazChunkDecoder reused(layout);
        const unsigned length = reused.recordLength();
        for (size_t i = chunks.size(); i-- > 0;) {
            const LazChunk &c = chunks[i];
            std::vector<unsigned char> garbled(&laz[c.offset], &laz[c.offset] + c.bytes), got(c.points * length),
                want(c.points * length);
            for (size_t k = garbled.size() * 2 / 3; k < garbled.size(); ++k)
                garbled[k] ^= 0x5A;
            try {
                reused.decode(garbled.data(), garbled.size(), c.points, got.data());
            } catch (const std::runtime_error &) {
            }
            reused.decode(&laz[c.offset], c.bytes, c.points, got.data());
            LazChunkDecoder(layout).decode(&laz[c.offset], c.bytes, c.points, want.data());
            EXPECT_TRUE(got == want) << "chunk " << i;
        }
    }
}

// Layered files of other programs without a twin, with several returns a pulse (but the COPC
// file, format 7, 341,989 points in chunks of its nodes' sizes): the decoded
// points fill the header's box exactly and hold its counts by return; the waveform packets
// (format 10) all point at the one wave packet descriptor, with its sample bytes, each
// packet following the last or sharing it.
TEST(LazFile, LayeredFilesAgreeWithTheirHeaders)
{
    for (const char *name : {"append-bug.laz", "fullwave.laz", "lion_takanawa.copc.laz"}) {
        SCOPED_TRACE(name);
        const LazInput in(name);
        ASSERT_GT(in.h.recordLength, 0u);
        const std::vector<unsigned char> &laz = in.bytes;
        const LazFile::Header &h = in.h;
        LargeArray<unsigned char> records = LazFile::read(in.f.f, in.size(), h);
        int32_t lo[3] = {INT32_MAX, INT32_MAX, INT32_MAX}, hi[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
        std::vector<uint64_t> byReturn(15, 0);
        uint64_t lastOffset = 0;
        size_t badPackets = 0;
        // The sample bytes of wave packet descriptor 1 (record 100: bits a sample, then samples).
        uint32_t packetBytes = 0;
        for (size_t at = h.headerSize, k = 0; k < h.vlrCount && at + 54 + 26 <= laz.size(); ++k) {
            if (get<uint16_t>(laz, at + 18) == 100)
                packetBytes = laz[at + 54] / 8 * get<uint32_t>(laz, at + 54 + 2);
            at += 54 + get<uint16_t>(laz, at + 20);
        }
        EXPECT_EQ(packetBytes != 0, (laz[104] & 0x3F) == 10);
        for (size_t i = 0; i < h.count; ++i) {
            const unsigned char *b = records.get() + i * h.recordLength;
            for (int k = 0; k < 3; ++k) {
                int32_t v;
                std::memcpy(&v, b + 4 * k, 4);
                lo[k] = std::min(lo[k], v);
                hi[k] = std::max(hi[k], v);
            }
            if ((b[14] & 15) > 0)
                ++byReturn[(b[14] & 15) - 1];
            if (packetBytes) {
                uint64_t offset;
                uint32_t bytes;
                std::memcpy(&offset, b + 39, 8);
                std::memcpy(&bytes, b + 47, 4);
                badPackets += b[38] != 1 || bytes != packetBytes ||
                              (i > 0 && offset != lastOffset && offset != lastOffset + bytes);
                lastOffset = offset;
            }
        }
        // A writer may give the box of the points before they were rounded to the grid: half a
        // step at most (the COPC file's lowest z, -3.445 for points at -3.45).
        for (int k = 0; k < 3; ++k) {
            const double scale = get<double>(laz, 131 + 8 * k), offset = get<double>(laz, 155 + 8 * k);
            EXPECT_NEAR(lo[k] * scale + offset, get<double>(laz, 187 + 16 * k), scale * 0.501) << "axis " << k;
            EXPECT_NEAR(hi[k] * scale + offset, get<double>(laz, 179 + 16 * k), scale * 0.501) << "axis " << k;
        }
        for (int r = 0; r < 15; ++r)
            EXPECT_EQ(byReturn[r], get<uint64_t>(laz, 255 + 8 * r)) << "return " << r + 1;
        EXPECT_EQ(badPackets, 0u);
    }
}

// A file of another program whose extra bytes, typed by their descriptors (an array of three
// unsigned shorts, seven untyped bytes, an array of two chars, an unsigned long and an unsigned
// long long), repeat its own fields: each item agrees with the field it copies, read from the
// LAS file and from its LAZ twin alike.
TEST(LasReader, GpsTimeAndTypedExtraBytesAreDataItems)
{
    for (const char *name : {"extrabytes.las", "extrabytes.laz"}) {
        SCOPED_TRACE(name);
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        const PointListData d = LasReader::read(dataPath(name).c_str());
        std::vector<std::string> names;
        for (const PointValueItem &item : d.items)
            names.push_back(item.name);
        ASSERT_EQ(names, (std::vector<std::string>{"intensity", "classification", "return number",
                                                   "GPS time (s after 245380)", "Colors[0]", "Colors[1]", "Colors[2]",
                                                   "Flags[0]", "Flags[1]", "Intensity", "Time"}));
        size_t wrong = 0;
        for (int i = 0; i < d.nPoints; ++i) {
            const double gps = 245380.0 + d.items[3].values[i], time = d.items[10].values[i];
            wrong += d.items[9].values[i] != d.items[0].values[i] || d.items[7].values[i] != d.items[2].values[i] ||
                     time > gps + 1e-3 || time < gps - 1;
            for (int k = 0; k < 3; ++k)
                wrong += d.items[4 + k].values[i] != d.colors[3 * i + k];
        }
        EXPECT_EQ(wrong, 0u);
        EXPECT_GT(d.items[3].hi, d.items[3].lo);
    }
}

TEST(LazFile, CopcOpensThroughItsHierarchyWithItsFullCount)
{
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    const PointListData d = LasReader::read(dataPath("1.2-with-color.copc.laz").c_str());
    EXPECT_EQ(d.nPoints, 1065);
    EXPECT_NE(d.colors, nullptr);
    EXPECT_EQ(sink.text(MessageLevel::Note).rfind("COPC 1.4, point format 7: 1065 points", 0), 0u)
        << sink.text(MessageLevel::Note);
}

TEST(CopcHierarchy, ImpossibleEntriesAndLoopingPagesAreRefused)
{
    auto entry = [](int32_t level, int64_t offset, int32_t bytes, int32_t points) {
        std::string e(32, '\0');
        std::memcpy(&e[0], &level, 4);
        std::memcpy(&e[16], &offset, 8);
        std::memcpy(&e[24], &bytes, 4);
        std::memcpy(&e[28], &points, 4);
        return e;
    };
    struct Case {
        std::string page;
        const char *says;
    };
    for (const Case &c : {Case{entry(0, 0, 10, 5).substr(0, 31), "not a multiple of 32"},
                          Case{entry(-1, 0, 10, 5), "out of range"}, Case{entry(0, 0, -3, 5), "out of range"},
                          Case{entry(0, 0, 10, -2), "out of range"}, Case{entry(1, 0, 64, -1), "twice"},
                          Case{entry(1, 0, 4000, -1), "runs past the end"}, Case{entry(1, 0, 4000, 7), "runs past the end"}}) {
        SCOPED_TRACE(c.says);
        // The page sits at the start of a file of its own size plus 32 bytes.
        std::string file = c.page + std::string(32, '\0');
        FILE *f = fmemopen(&file[0], file.size(), "rb");
        CopcInfo info{{0, 0, 0}, 1, 1, 0, c.page.size(), 0, 0};
        try {
            CopcHierarchy::nodes(f, file.size(), info);
            ADD_FAILURE() << "read";
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
        std::fclose(f);
    }
}

// Damaged chunks are refused with what is wrong, never decoded past their bytes: cut before
// the first point, before a layered chunk's layer sizes, or a coder's stream that starts at
// the top of its range (no coder writes one; decoded on, its values run off every model's
// table), in the one stream of a pointwise chunk or in the first layer of a layered one.
TEST(LazChunkDecoder, DamagedChunksAreRefused)
{
    const LazLayout pointwise{LazLayout::PointwiseChunked, 50000, {{LazItem::Point10, 20, 2}, {LazItem::GpsTime11, 8, 2}}},
        layered{LazLayout::LayeredChunked, 50000, {{LazItem::Point14, 30, 3}}};
    auto bytes = [](std::initializer_list<std::pair<size_t, unsigned char>> runs) {
        std::vector<unsigned char> b;
        for (const auto &r : runs)
            b.insert(b.end(), r.first, r.second);
        return b;
    };
    // A layered chunk: the first point, the count (3), the nine layer sizes (the first 40 bytes).
    std::vector<unsigned char> layers = bytes({{30, 0}, {1, 3}, {3, 0}, {1, 40}, {35, 0}, {4, 0xFF}, {36, 0x80}});
    struct Case {
        const LazLayout &layout;
        std::vector<unsigned char> chunk;
        const char *says;
    };
    for (const Case &c : {Case{pointwise, bytes({{27, 0}}), "a chunk of 27 bytes is shorter than its first point"},
                          Case{pointwise, bytes({{28, 0}, {4, 0xFF}, {60, 0x80}}), "a chunk ends inside its point 2 of 3"},
                          Case{layered, bytes({{30, 0}, {1, 3}, {3, 0}, {20, 0}}), "a chunk ends inside its layer sizes"},
                          Case{layered, layers, "a chunk ends inside its point 2 of 3"}}) {
        SCOPED_TRACE(c.says);
        LazChunkDecoder decoder(c.layout);
        std::vector<unsigned char> out(3 * decoder.recordLength());
        try {
            decoder.decode(c.chunk.data(), c.chunk.size(), 3, out.data());
            ADD_FAILURE() << "decoded";
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), c.says);
        }
    }
}
