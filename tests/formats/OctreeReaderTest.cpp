#include "formats/OctreeReader.h"
#include "math/Messages.h"

#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Builds an octree file byte by byte, in this machine's order or swapped.
struct Bytes {
    std::vector<unsigned char> b;
    bool swap = false;

    template <class T> Bytes &put(T v)
    {
        unsigned char raw[sizeof(T)];
        std::memcpy(raw, &v, sizeof(T));
        if (swap)
            for (size_t i = 0; i < sizeof(T) / 2; ++i)
                std::swap(raw[i], raw[sizeof(T) - 1 - i]);
        b.insert(b.end(), raw, raw + sizeof(T));
        return *this;
    }
    Bytes &raw(std::initializer_list<unsigned char> bytes)
    {
        b.insert(b.end(), bytes);
        return *this;
    }
    // Marker (native "LE" unless swapped, then the bytes "BE"), origin 0, voxel size 1, levels.
    Bytes &header(int levels)
    {
        if (swap)
            raw({'B', 'E'});
        else
            put<uint16_t>(0x454C);
        for (int i = 0; i < 3; ++i)
            put<float>(0.0f);
        for (int i = 0; i < 3; ++i)
            put<float>(1.0f);
        return put<int32_t>(levels);
    }
    Bytes &leaves(std::initializer_list<std::initializer_list<short>> coords, std::initializer_list<float> values)
    {
        put<int32_t>(static_cast<int32_t>(coords.size()));
        return leavesNoCount(coords, values);
    }
    Bytes &leavesNoCount(std::initializer_list<std::initializer_list<short>> coords,
                         std::initializer_list<float> values)
    {
        for (auto c : coords)
            for (short v : c)
                put<int16_t>(v);
        for (float v : values)
            put<float>(v);
        return *this;
    }
    Bytes &item(const char *name, std::vector<float> values)
    {
        char n[64] = {};
        std::strncpy(n, name, 63);
        b.insert(b.end(), n, n + 64);
        put<float>(0).put<float>(static_cast<float>(values.size()));
        put<int32_t>(static_cast<int32_t>(values.size()));
        for (float v : values)
            put<float>(v);
        return *this;
    }
    // A dn file: corners (0,0,0)-(hi,hi,hi), the node table, levels and point records.
    static Bytes dn(std::vector<std::vector<int>> nodes, int levels, int points, float hi = 4)
    {
        Bytes d;
        for (int i = 0; i < 3; ++i)
            d.put<float>(0);
        for (int i = 0; i < 3; ++i)
            d.put<float>(hi);
        d.put<int32_t>(static_cast<int32_t>(nodes.size()));
        for (auto &n : nodes)
            for (int e : n)
                d.put<int32_t>(e);
        d.put<int32_t>(levels).put<int32_t>(points);
        for (int p = 0; p < points; ++p)
            d.put<float>(0).put<float>(0).put<float>(1).put<float>(static_cast<float>(p));
        return d;
    }
};

OctreeData readQuietly(OctreeData (*reader)(const unsigned char *, size_t, const char *), const Bytes &in,
                       std::string *out = nullptr)
{
    CapturingMessageSink sink;
    ScopedMessageSink sinkScope(sink);
    try {
        OctreeData o = reader(in.b.data(), in.b.size(), "test.oct");
        const std::string text = sink.text();
        if (out)
            *out = text;
        return o;
    } catch (...) {
        const std::string text = sink.text();
        if (out)
            *out = text;
        throw;
    }
}

std::string refusal(OctreeData (*reader)(const unsigned char *, size_t, const char *), const Bytes &in)
{
    try {
        readQuietly(reader, in);
    } catch (const std::runtime_error &e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(OctreeReader, VersionOneLevelsAreReadFromTheFinestUpAndStopQuietlyAtTheEnd)
{
    Bytes in;
    in.header(2).leaves({{0, 0, 0}, {3, 2, 1}}, {0.5f, 2.0f}).leaves({{2, 2, 2}}, {7.0f});
    const OctreeData o = readQuietly(&OctreeReader::readOCT, in);
    EXPECT_EQ(o.kind, OctreeData::OCT_V1);
    ASSERT_EQ(o.leaves.size(), 3u);
    ASSERT_EQ(o.leaves[2].size(), 2u);
    EXPECT_EQ(o.leaves[2][1].x, 3);
    EXPECT_EQ(o.leaves[2][1].z, 1);
    EXPECT_EQ(o.values[2][1], 2.0f);
    ASSERT_EQ(o.leaves[1].size(), 1u);
    EXPECT_EQ(o.values[1][0], 7.0f);
    EXPECT_TRUE(o.leaves[0].empty()) << "the file ended before depth 0";
    EXPECT_EQ(o.nLeaves, 3);
    ASSERT_EQ(o.dataItems.size(), 1u);
    EXPECT_STREQ(o.dataItems[0].getName(), "Total correlation");
}

TEST(OctreeReader, ByteSwappedFileIsDetectedFromItsMarker)
{
    Bytes in;
    in.swap = true;
    in.header(1).put<int32_t>(-1).put<int32_t>(1).raw({0x00}).put<int32_t>(1).item("Distance", {1, 2, 3, 4, 5, 6, 7, 8});
    std::string out;
    const OctreeData o = readQuietly(&OctreeReader::readOCT, in, &out);
    EXPECT_EQ(out, "Detected BIG ENDIAN model v0 in a LITTLE ENDIAN machine\n");
    EXPECT_TRUE(o.swapped);
    EXPECT_EQ(o.voxelSize[0], 1.0f);
    ASSERT_EQ(o.dataItems.size(), 1u);
    EXPECT_EQ(o.dataItems[0].getData()[7], 8.0f);
}

TEST(OctreeReader, SignatureBitsMakeInteriorNodesDepthFirst)
{
    // Root 0x00: eight depth-1 leaves in signature order.
    Bytes flat;
    flat.header(1).put<int32_t>(-1).put<int32_t>(1).raw({0x00}).put<int32_t>(0);
    const OctreeData a = readQuietly(&OctreeReader::readOCT, flat);
    ASSERT_EQ(a.leaves[1].size(), 8u);
    EXPECT_EQ(a.leaves[1][2].x, 1);
    EXPECT_EQ(a.leaves[1][2].y, 0);
    EXPECT_EQ(a.leaves[1][2].z, 1) << "child 2 of the signature order is (1,0,1)";

    // Root 0x01 then 0x00: child 0 divides into eight depth-2 leaves inside its octant, the
    // other seven children are depth-1 leaves; ranks follow the depth-first walk.
    Bytes deep;
    deep.header(2).put<int32_t>(-1).put<int32_t>(2).raw({0x01, 0x00}).put<int32_t>(0);
    const OctreeData b = readQuietly(&OctreeReader::readOCT, deep);
    ASSERT_EQ(b.leaves[1].size(), 7u);
    ASSERT_EQ(b.leaves[2].size(), 8u);
    for (const Pointsi &p : b.leaves[2])
        EXPECT_TRUE(p.x < 2 && p.y < 2 && p.z < 2);
    EXPECT_EQ(b.order[2][0], 0);
    EXPECT_EQ(b.order[1][0], 8);
    EXPECT_EQ(b.leaves[1][0].x, 2) << "child 1 of the root at (2,0,0)";
}

TEST(OctreeReader, VectorOctreeValuesAreVectorLengths)
{
    Bytes in;
    in.header(0).put<int32_t>(1).leavesNoCount({{0, 0, 0}}, {3.0f, 0.0f, 4.0f});
    std::string out;
    const OctreeData o = readQuietly(&OctreeReader::readVOC, in, &out);
    EXPECT_NE(out.find("reading a 0-level v-octree\n[dx=1.000000 dy=1.000000 dz=1.000000]\n"), std::string::npos);
    EXPECT_EQ(o.values[0][0], 5.0f);
    EXPECT_STREQ(o.dataItems[0].getName(), "GVF");
}

TEST(OctreeReader, NodeTableChildrenFollowTheirOwnOrder)
{
    // The root's child 2 is node 1 (at (0,2,0) in node-table order); node 1 has 8 leaves.
    const Bytes in = Bytes::dn({{0, 0, 1, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}}, 2, 15);
    const OctreeData o = readQuietly(&OctreeReader::readDN, in);
    EXPECT_EQ(o.kind, OctreeData::DN);
    ASSERT_EQ(o.leaves[1].size(), 7u);
    ASSERT_EQ(o.leaves[2].size(), 8u);
    EXPECT_EQ(o.leaves[2][0].y, 2);
    EXPECT_EQ(o.leaves[2][7].x, 1);
    EXPECT_EQ(o.order[2][0], 2) << "two depth-1 leaves come before node 1 in the walk";
    EXPECT_EQ(o.voxelSize[0], 1.0f);
    ASSERT_EQ(o.dataItems.size(), 4u);
    EXPECT_STREQ(o.dataItems[0].getName(), "Distance");
    EXPECT_EQ(o.dataItems[0].getMaximum(), 14.0f);
    EXPECT_EQ(o.dataItems[3].getData()[0], 1.0f) << "Normal Z";
}

TEST(OctreeReader, BrokenFilesAreRefusedWithTheirReason)
{
    using Reader = OctreeData (*)(const unsigned char *, size_t, const char *);
    const Reader oct = &OctreeReader::readOCT, voc = &OctreeReader::readVOC, dn = &OctreeReader::readDN;
    auto v2 = [](int levels, int length, std::initializer_list<unsigned char> sig) {
        Bytes b;
        b.header(levels).put<int32_t>(-1).put<int32_t>(length).raw(sig);
        return b;
    };
    Bytes hugeCount, negCount, outside, negLevels, manyLevels, tooFew, manyItems, truncatedHeader;
    hugeCount.header(1).put<int32_t>(100000000).leavesNoCount({{0, 0, 0}}, {1.0f});
    negCount.header(1).put<int32_t>(-5);
    outside.header(1).leaves({{2, 0, 0}}, {1.0f});
    negLevels.header(-1).put<int32_t>(0);
    manyLevels.header(16).put<int32_t>(0);
    tooFew = v2(1, 1, {0x00});
    tooFew.put<int32_t>(1).item("Distance", {1, 2, 3});
    manyItems = v2(1, 1, {0x00});
    manyItems.put<int32_t>(1000000);
    truncatedHeader.raw({0x4C, 0x45, 0, 0});

    const struct {
        const char *name;
        Reader reader;
        Bytes in;
        const char *reason;
    } cases[] = {
        {"empty", oct, Bytes(), "ends inside the byte-order marker"},
        {"truncated header", oct, truncatedHeader, "ends inside the origin"},
        {"count beyond the file", oct, hugeCount, "100000000 leaves at depth 1, more than the file holds"},
        {"negative count", oct, negCount, "negative leaf count"},
        {"coordinate outside the grid", oct, outside, "outside the 1-level grid"},
        {"negative levels", oct, negLevels, "-1 levels"},
        {"too many levels", oct, manyLevels, "16 levels"},
        {"signature beyond the file", oct, v2(1, 50, {0x00}), "a signature of 50 bytes"},
        {"signature too deep", oct, v2(1, 1, {0x01}), "deeper than 1 levels"},
        {"signature ends early", oct, v2(3, 1, {0x01}), "signature ends inside the tree"},
        {"data item too short", oct, tooFew, "holds 3 values for 8 leaves"},
        {"data item count beyond the file", oct, manyItems, "1000000 data items"},
        {"voc count beyond the file", voc, hugeCount, "more than the file holds"},
        {"dn without nodes", dn, Bytes::dn({}, 1, 0), "0 nodes"},
        {"dn child beyond the table", dn, Bytes::dn({{5, 0, 0, 0, 0, 0, 0, 0}}, 2, 8), "names child node 5 of 1"},
        {"dn cycle", dn, Bytes::dn({{1, 0, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0, 0}}, 3, 30), "reached twice"},
        {"dn fewer points than leaves", dn, Bytes::dn({{0, 0, 0, 0, 0, 0, 0, 0}}, 1, 3), "3 points for 8 leaves"},
        {"dn levels out of range", dn, Bytes::dn({{0, 0, 0, 0, 0, 0, 0, 0}}, 0, 8), "0 levels"},
    };
    for (const auto &c : cases) {
        const std::string what = refusal(c.reader, c.in);
        EXPECT_EQ(what.rfind("test.oct: ", 0), 0u) << c.name << ": " << what;
        EXPECT_NE(what.find(c.reason), std::string::npos) << c.name << ": " << what;
    }
}

TEST(OctreeReader, ExtensionPicksTheReader)
{
    const std::string dir = testsupport::makeTempDir("OctreeReader");
    const struct {
        std::string path;
        const char *error;
    } cases[] = {
        {dir + "/noextension", "file name error"},
        {dir + "/a.xyz", "unknown format"},
        {dir + "/missing.oct", "can't read file\n"},
        {dir + "/missing.dn", "can't read file\n"},
        {dir + "/missing.voc", "can't read file\n"},
    };
    for (const auto &c : cases) {
        try {
            OctreeReader::read(c.path.c_str());
            ADD_FAILURE() << c.path << " was accepted";
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), c.error) << c.path;
        }
    }
}

} // namespace
