#include "formats/PotreeReader.h"
#include "math/Messages.h"
#include "support/LocalServer.h"

#include <brotli/encode.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

// A node record of hierarchy.bin.
std::string node(unsigned type, uint32_t points, uint64_t offset, uint64_t bytes, unsigned mask = 0)
{
    std::string n(22, '\0');
    n[0] = static_cast<char>(type);
    n[1] = static_cast<char>(mask);
    std::memcpy(&n[2], &points, 4);
    std::memcpy(&n[6], &offset, 8);
    std::memcpy(&n[14], &bytes, 8);
    return n;
}

// One point: position (int32 x 3), intensity (uint16), rgb (uint16 x 3): 20 bytes.
std::string point(int32_t x, int32_t y, int32_t z, uint16_t intensity, uint16_t red)
{
    std::string p(20, '\0');
    const int32_t xyz[3] = {x, y, z};
    std::memcpy(&p[0], xyz, 12);
    std::memcpy(&p[12], &intensity, 2);
    const uint16_t rgb[3] = {red, 0, 65535};
    std::memcpy(&p[14], rgb, 6);
    return p;
}

const char *kMetadata = R"({"version":"2.0","points":3,"encoding":"%s","scale":[0.001,0.001,0.001],)"
                        R"("offset":[1000,2000,3000],"boundingBox":{"min":[1000,2000,3000],"max":[1001,2001,3001]},"spacing":0.01,"hierarchy":{"firstChunkSize":%d,"stepSize":4,"depth":1},)"
                        R"("attributes":[{"name":"position","size":12,"numElements":3,"elementSize":4,"type":"int32"},)"
                        R"({"name":"intensity","size":2,"numElements":1,"elementSize":2,"type":"uint16"},)"
                        R"({"name":"rgb","size":6,"numElements":3,"elementSize":2,"type":"uint16"}]})";

const std::string kPoints[3] = {point(0, 0, 0, 10, 65535), point(1000, 0, 0, 20, 0), point(0, 500, 0, 30, 32768)};

std::string writeCloud(const std::string &name, const char *encoding, const std::string &hierarchy, int firstChunk,
                       const std::string &octree = kPoints[0] + kPoints[1] + kPoints[2])
{
    const std::string dir = testing::TempDir() + "/" + name;
    std::filesystem::create_directories(dir);
    char meta[1024];
    std::snprintf(meta, sizeof meta, kMetadata, encoding, firstChunk);
    std::ofstream(dir + "/metadata.json") << meta;
    std::ofstream(dir + "/hierarchy.bin", std::ios::binary) << hierarchy;
    std::ofstream(dir + "/octree.bin", std::ios::binary) << octree;
    return dir + "/metadata.json";
}

// The Morton code of three 16-bit numbers, x in bit 0.
uint64_t morton(uint32_t x, uint32_t y, uint32_t z)
{
    uint64_t m = 0;
    for (int b = 0; b < 16; ++b)
        m |= uint64_t(x >> b & 1) << (3 * b) | uint64_t(y >> b & 1) << (3 * b + 1) | uint64_t(z >> b & 1) << (3 * b + 2);
    return m;
}

// Points of kPoints as the BROTLI encoding stores a node: each attribute for all points in
// turn, positions and colours as Morton codes, then compressed.
std::string brotliNode(size_t from, size_t count)
{
    std::string raw;
    auto add = [&raw](const void *v, size_t n) { raw.append(static_cast<const char *>(v), n); };
    for (size_t p = from; p < from + count; ++p) {
        uint32_t c[3];
        std::memcpy(c, &kPoints[p][0], 12);
        const uint64_t high = morton(c[0] >> 16, c[1] >> 16, c[2] >> 16), low = morton(c[0] & 0xFFFF, c[1] & 0xFFFF, c[2] & 0xFFFF);
        add(&high, 8);
        add(&low, 8);
    }
    for (size_t p = from; p < from + count; ++p)
        add(&kPoints[p][12], 2);
    for (size_t p = from; p < from + count; ++p) {
        uint16_t rgb[3];
        std::memcpy(rgb, &kPoints[p][14], 6);
        const uint64_t m = morton(rgb[0], rgb[1], rgb[2]);
        add(&m, 8);
    }
    std::string packed(BrotliEncoderMaxCompressedSize(raw.size()), '\0');
    size_t size = packed.size();
    EXPECT_TRUE(BrotliEncoderCompress(5, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC, raw.size(),
                                      reinterpret_cast<const uint8_t *>(raw.data()), &size,
                                      reinterpret_cast<uint8_t *>(&packed[0])));
    packed.resize(size);
    return packed;
}

} // namespace

// The root holds one point and names one child, behind a proxy whose chunk holds it with two
// more; the same cloud in the BROTLI encoding reads the same.
TEST(PotreeReader, NodesBehindProxiesJoinTheCloudInEitherEncoding)
{
    const std::string hierarchy = node(0, 1, 0, 20, 1) + node(2, 0, 44, 22) + node(1, 2, 20, 40);
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    const PointListData d = PotreeReader::read(writeCloud("potree", "DEFAULT", hierarchy, 44).c_str());
    const std::string root = brotliNode(0, 1), child = brotliNode(1, 2);
    const std::string packed = node(0, 1, 0, root.size(), 1) + node(2, 0, 44, 22) + node(1, 2, root.size(), child.size());
    const PointListData b = PotreeReader::read(writeCloud("potree-brotli", "BROTLI", packed, 44, root + child).c_str());
    ASSERT_EQ(b.nPoints, 3);
    for (int i = 0; i < 9; ++i)
        EXPECT_DOUBLE_EQ(b.points[i] + b.origin[i % 3], d.points[i] + d.origin[i % 3]) << i;
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(b.colors[i], d.colors[i]) << i;
    EXPECT_EQ(b.items[0].values[2], 30);
    // The same files through a web server.
    testsupport::Nginx server;
    std::filesystem::copy(testing::TempDir() + "/potree-brotli", server.dir + "/www/data/potree");
    const PointListData remote = PotreeReader::read(server.url("/data/potree/metadata.json").c_str());
    ASSERT_EQ(remote.nPoints, 3);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(remote.points[i] + remote.origin[i % 3], b.points[i] + b.origin[i % 3]) << i;
    ASSERT_EQ(d.nPoints, 3);
    double x[3];
    for (int i = 0; i < 3; ++i)
        x[i] = d.points[3 * i] + d.origin[0];
    EXPECT_DOUBLE_EQ(x[0] + x[1] + x[2], 3001);
    EXPECT_DOUBLE_EQ(d.points[3 * 2 + 1] + d.origin[1], 2000.5);
    EXPECT_EQ(d.items[0].hi, 30);
    ASSERT_NE(d.colors, nullptr);
    EXPECT_EQ(d.colors[2], 255);
    EXPECT_EQ(sink.text(MessageLevel::Note).rfind("Potree 2.0: 3 points in 2 nodes", 0), 0u);
}

TEST(PotreeReader, BrokenHierarchiesAndOtherEncodingsAreRefused)
{
    struct Case {
        std::string hierarchy;
        int firstChunk;
        const char *encoding, *says;
    };
    for (const Case &c : {Case{node(0, 3, 0, 60), 22, "LAZPERF", "LAZPERF encoding is not read"},
                          Case{node(0, 3, 0, 60), 22, "BROTLI", "not a Brotli stream"},
                          Case{node(0, 3, 0, 60) + node(0, 3, 0, 60), 44, "DEFAULT", "more nodes than its masks name"},
                          Case{node(0, 3, 0, 60), 21, "DEFAULT", "not whole nodes"},
                          Case{node(2, 0, 0, 22), 22, "DEFAULT", "twice"},
                          Case{node(2, 0, 22, 220), 22, "DEFAULT", "not whole nodes"},
                          Case{node(7, 3, 0, 60), 22, "DEFAULT", "type 7"},
                          Case{node(0, 4, 0, 80), 22, "DEFAULT", "of octree.bin"},
                          Case{node(0, 3, 0, 61), 22, "DEFAULT", "of octree.bin"},
                          Case{node(0, 0, 0, 0), 22, "DEFAULT", "no point"}}) {
        SCOPED_TRACE(c.says);
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        try {
            PotreeReader::read(writeCloud("potree-bad", c.encoding, c.hierarchy, c.firstChunk).c_str());
            ADD_FAILURE() << "read";
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
}
