#include "formats/GraphReader.h"
#include "math/Messages.h"
#include "formats/PointListReader.h"

#include "support/MeshBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testsupport::MeshBytes;

// Runs a reader on bytes in memory, with the size known or not (-1, as for a download), and
// returns the refusal text ("" when the input was accepted).
template <class Read>
std::string refusal(const std::string &bytes, bool sizeKnown, Read read)
{
    std::string copy = bytes.empty() ? std::string(1, '\0') : bytes;
    FILE *f = fmemopen(&copy[0], bytes.size() ? bytes.size() : 1, "rb");
    if (bytes.empty())
        std::fgetc(f); // an empty stream: fmemopen takes no size 0
    CapturingMessageSink sink;
    ScopedMessageSink sinkScope(sink);
    std::string text;
    try {
        read(f, sizeKnown ? static_cast<long long>(bytes.size()) : -1);
    } catch (const std::runtime_error &e) {
        text = e.what();
    }
    std::fclose(f);
    return text;
}

MeshBytes cloud(int n, const std::vector<float> &xyz, bool swapped = false)
{
    MeshBytes b(swapped);
    b.u16(0x454C).i32(n);
    for (float x : xyz)
        b.f32(x);
    return b;
}

TEST(PointListReader, RefusedBinFilesSayWhy)
{
    const struct {
        std::string bytes;
        bool sizeKnown;
        const char *text;
    } cases[] = {
        {"", true, "p.bin: no byte-order marker"},
        {MeshBytes().u16(0x1234).i32(1).data, true, "p.bin: unknown byte-order marker 1234"},
        {MeshBytes().u16(0x454C).data, true, "p.bin: no point count"},
        {cloud(-1, {}).data, true, "p.bin: point count -1, a cloud needs at least one point"},
        {cloud(0, {}).data, true, "p.bin: point count 0, a cloud needs at least one point"},
        {cloud(1000, {1, 2, 3}).data, true, "p.bin: 1000 points need 12006 bytes, the file has 18"},
        {cloud(0x7fffffff, {}).data, true, "p.bin: 2147483647 points need 25769803770 bytes, the file has 6"},
        // A download whose count lies: read as far as it goes, then refused.
        {cloud(1000, {1, 2, 3}).data, false, "p.bin: the file ends inside the coordinates"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(refusal(c.bytes, c.sizeKnown,
                          [](FILE *f, long long size) { PointListReader::readBIN(f, size, "p.bin"); }),
                  c.text);
}

// Reads bytes that must be accepted.
PointListData readBin(const std::string &bytes, bool sizeKnown = true, std::string *out = nullptr)
{
    std::string copy = bytes;
    FILE *f = fmemopen(&copy[0], copy.size(), "rb");
    CapturingMessageSink sink;
    ScopedMessageSink sinkScope(sink);
    PointListData d = PointListReader::readBIN(f, sizeKnown ? static_cast<long long>(copy.size()) : -1, "p.bin");
    const std::string printed = sink.text();
    if (out)
        *out = printed;
    std::fclose(f);
    return d;
}

TEST(PointListReader, TheRestOfABinFileIsScoresWhenItHoldsThemElseColours)
{
    const std::vector<float> xyz = {1, 2, 3, 4, 5, 6};
    for (bool sizeKnown : {true, false}) {
        std::string printed;
        const PointListData c = readBin(cloud(2, xyz).raw("\x0a\x14\x1e\x28\x32\x3c").data, sizeKnown, &printed);
        EXPECT_EQ(printed, "Detected LITTLE ENDIAN model in a LITTLE ENDIAN machine\nreading an object with 2 points\n");
        ASSERT_EQ(c.nPoints, 2);
        EXPECT_EQ(c.points[5], 6);
        ASSERT_TRUE(c.colors);
        EXPECT_FALSE(c.values);
        EXPECT_EQ(c.colors[0], 10);
        EXPECT_EQ(c.colors[5], 60);

        const PointListData v = readBin(cloud(2, xyz).f32(0.5f).f32(-2).data, sizeKnown);
        ASSERT_TRUE(v.values);
        EXPECT_FALSE(v.colors);
        EXPECT_EQ(v.values[1], -2);

        // Fewer colour bytes than points: the rest stay black.
        const PointListData s = readBin(cloud(2, xyz).raw("\x01\x02\x03\x04").data, sizeKnown);
        ASSERT_TRUE(s.colors);
        EXPECT_EQ(s.colors[3], 4);
        EXPECT_EQ(s.colors[4], 0);
        EXPECT_EQ(s.colors[5], 0);
    }

    // The other byte order: numbers are swapped back, colour bytes stay as they are.
    std::string printed;
    const PointListData w = readBin(cloud(2, xyz, true).f32(7).f32(8).data, true, &printed);
    EXPECT_EQ(printed, "reversing byte-order\nDetected LITTLE ENDIAN model in a LITTLE ENDIAN machine\n"
                       "reading an object with 2 points\n");
    EXPECT_EQ(w.points[4], 5);
    ASSERT_TRUE(w.values);
    EXPECT_EQ(w.values[1], 8);
    const PointListData wc = readBin(cloud(2, xyz, true).raw("\x0a\x14\x1e\x28\x32\x3c").data);
    ASSERT_TRUE(wc.colors);
    EXPECT_EQ(wc.colors[0], 10);
    EXPECT_EQ(wc.colors[3], 40);
}

// The bounds are taken slice by slice while reading: a cloud of several slices, with its
// extremes in the first and the last one and a NaN in between, in both byte orders and with
// the size known or not, gives the bounds of a plain pass over the whole array.
TEST(PointListReader, BoundsOfAManySliceCloudAreThoseOfTheWholeArray)
{
    const int n = 200003;
    std::vector<float> xyz(3 * static_cast<size_t>(n)), score(static_cast<size_t>(n));
    for (size_t i = 0; i < xyz.size(); ++i)
        xyz[i] = static_cast<float>((i * 7919) % 1000) / 100.0f - 5;
    for (size_t i = 0; i < score.size(); ++i)
        score[i] = static_cast<float>(i % 97);
    xyz[1] = -50;                  // y of the first point
    xyz[xyz.size() - 1] = 60;      // z of the last point
    xyz[xyz.size() - 5] = -70;     // y of the one before
    xyz[3 * 100000] = NAN;         // x of a point in the middle
    score[n - 1] = 1000;
    score[7] = NAN;
    score[8] = NAN;
    float lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (size_t i = 0; i < xyz.size(); ++i)
        if (!std::isnan(xyz[i])) {
            lo[i % 3] = std::min(lo[i % 3], xyz[i]);
            hi[i % 3] = std::max(hi[i % 3], xyz[i]);
        }
    EXPECT_EQ(lo[1], -70);
    EXPECT_EQ(hi[2], 60);
    for (bool swapped : {false, true})
        for (bool sizeKnown : {true, false}) {
            MeshBytes b = cloud(n, xyz, swapped);
            for (float v : score)
                b.f32(v);
            const PointListData d = readBin(b.data, sizeKnown);
            ASSERT_TRUE(d.values);
            const PointBounds &k = d.bounds;
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(k.lo[c], lo[c]) << c;
                EXPECT_EQ(k.hi[c], hi[c]) << c;
            }
            EXPECT_EQ(k.valueLo, 0);
            EXPECT_EQ(k.valueHi, 1000);
            EXPECT_EQ(k.nUnordered, 2u);
            EXPECT_EQ(d.points[3 * static_cast<size_t>(n) - 1], 60);
        }
}

TEST(PointListReader, LasTextTakesTheFirstThreeNumbersOfEachLine)
{
    const struct {
        std::string text;
        std::vector<float> points;
    } cases[] = {
        {"1 2 3 4 5\n", {1, 2, 3}},
        {"1 2 3\n\n\r\n4 5 6", {1, 2, 3, 4, 5, 6}},             // blank lines, no final line end
        {"1.5 -2e1 +3\r\n7 8 9 10\r\n", {1.5f, -20, 3, 7, 8, 9}}, // CRLF, exponents, signs
        {"x y z\n1 2 3\n", {1, 2, 3}},                           // a header line is skipped
    };
    for (const auto &c : cases) {
        CapturingMessageSink sink;
        ScopedMessageSink sinkScope(sink);
        const PointListData d = PointListReader::readLAS(c.text.data(), c.text.size(), "p.las");
        const std::string printed = sink.text();
        EXPECT_EQ(printed, std::to_string(c.text.size()) + " bytes " + std::to_string(c.points.size() / 3) +
                               " points\n");
        ASSERT_EQ(d.nPoints, static_cast<int>(c.points.size() / 3)) << c.text;
        for (size_t i = 0; i < c.points.size(); ++i)
            EXPECT_EQ(d.points[i], c.points[i]) << c.text;
        ASSERT_TRUE(d.colors);
        EXPECT_EQ(d.colors[0], 0);
        EXPECT_FALSE(d.values);
    }
    for (const std::string text : {"", "\n\n", "no numbers here\n"}) {
        CapturingMessageSink sink;
        ScopedMessageSink sinkScope(sink);
        EXPECT_THROW(
            {
                try {
                    PointListReader::readLAS(text.data(), text.size(), "p.las");
                } catch (const std::runtime_error &e) {
                    EXPECT_STREQ(e.what(), "p.las: no point in the file");
                    throw;
                }
            },
            std::runtime_error);
    }
}

TEST(PointListReader, HandOverIsCheckedAndCopied)
{
    const float xyz[6] = {1, 2, 3, 4, 5, 6};
    const unsigned char rgb[6] = {1, 2, 3, 4, 5, 6};
    const float scores[2] = {0.25f, 0.75f};
    const PointListRecord withColours{2, xyz, rgb, nullptr};
    const PointListData c = PointListReader::fromRecord(&withColours);
    EXPECT_EQ(c.colors[5], 6);
    EXPECT_FALSE(c.values);
    const PointListRecord withBoth{2, xyz, rgb, scores};
    const PointListData v = PointListReader::fromRecord(&withBoth);
    ASSERT_TRUE(v.values);
    EXPECT_EQ(v.values[1], 0.75f);
    // Both are kept: an imported cloud shows its colours and has its values one key away.
    ASSERT_TRUE(v.colors);
    EXPECT_EQ(v.colors[5], 6);
    const PointListRecord plain{2, xyz, nullptr, nullptr};
    EXPECT_EQ(PointListReader::fromRecord(&plain).colors[2], 0);

    const PointListRecord bad[] = {{0, xyz, nullptr, nullptr}, {-3, xyz, nullptr, nullptr}, {2, nullptr, rgb, nullptr}};
    CapturingMessageSink sink;
    ScopedMessageSink sinkScope(sink);
    for (const PointListRecord &r : bad)
        EXPECT_THROW(PointListReader::fromRecord(&r), std::runtime_error);
    EXPECT_THROW(PointListReader::fromRecord(nullptr), std::runtime_error);
}

MeshBytes graph(int nodes, int edges, const std::vector<float> &xyz, const std::vector<int> &ends)
{
    MeshBytes b;
    b.u16(0x454C).i32(nodes).i32(edges);
    for (float x : xyz)
        b.f32(x);
    for (int e : ends)
        b.i32(e);
    return b;
}

TEST(GraphReader, RefusedFilesSayWhy)
{
    const std::vector<float> xyz = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const struct {
        std::string bytes;
        bool sizeKnown;
        const char *text;
    } cases[] = {
        {MeshBytes().u16(0x454C).i32(3).data, true, "g.gph: no node and edge counts"},
        {graph(-1, 0, {}, {}).data, true, "g.gph: negative count, -1 nodes and 0 edges"},
        {graph(3, -2, xyz, {}).data, true, "g.gph: negative count, 3 nodes and -2 edges"},
        {graph(0, 0, {}, {}).data, true, "g.gph: a graph needs at least one node"},
        {graph(3, 100, xyz, {0, 1}).data, true, "g.gph: 3 nodes and 100 edges need 846 bytes, the file has 54"},
        {graph(3, 2, xyz, {0, 1, 2, 5}).data, true, "g.gph: edge 1 joins node 5, outside 0..2"},
        {graph(3, 2, xyz, {0, -1, 1, 2}).data, true, "g.gph: edge 0 joins node -1, outside 0..2"},
        {graph(3, 100, xyz, {0, 1}).data, false, "g.gph: the file ends inside the edges"},
        {graph(3, 2, xyz, {0, 1, 1, 2}).data, true, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(refusal(c.bytes, c.sizeKnown, [](FILE *f, long long size) { GraphReader::read(f, size, "g.gph"); }),
                  c.text);
}

TEST(GraphReader, ReadsNodesAndEdgesInEitherByteOrder)
{
    for (bool swapped : {false, true}) {
        MeshBytes b(swapped);
        b.u16(0x454C).i32(3).i32(2);
        for (float x : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f})
            b.f32(x);
        for (int e : {0, 1, 1, 2})
            b.i32(e);
        std::string copy = b.data;
        FILE *f = fmemopen(&copy[0], copy.size(), "rb");
        CapturingMessageSink sink;
        ScopedMessageSink sinkScope(sink);
        const GraphData g = GraphReader::read(f, static_cast<long long>(copy.size()), "g.gph");
        const std::string printed = sink.text();
        std::fclose(f);
        EXPECT_EQ(printed, std::string(swapped ? "reversing byte-order\n" : "") +
                               "Detected LITTLE ENDIAN model in a LITTLE ENDIAN machine\n"
                               "reading a graph with 3 nodes and 2 edges\n");
        ASSERT_EQ(g.nNodes, 3);
        ASSERT_EQ(g.nEdges, 2);
        EXPECT_EQ(g.nodes[7], 1);
        EXPECT_EQ(g.edges[3], 2);
    }
}

} // namespace
