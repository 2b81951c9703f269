#include "formats/PotreeReader.h"
#include "math/Messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

// A node record of hierarchy.bin.
std::string node(unsigned type, uint32_t points, uint64_t offset, uint64_t bytes)
{
    std::string n(22, '\0');
    n[0] = static_cast<char>(type);
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
                        R"("offset":[1000,2000,3000],"hierarchy":{"firstChunkSize":%d,"stepSize":4,"depth":1},)"
                        R"("attributes":[{"name":"position","size":12,"numElements":3,"elementSize":4,"type":"int32"},)"
                        R"({"name":"intensity","size":2,"numElements":1,"elementSize":2,"type":"uint16"},)"
                        R"({"name":"rgb","size":6,"numElements":3,"elementSize":2,"type":"uint16"}]})";

std::string writeCloud(const std::string &name, const char *encoding, const std::string &hierarchy, int firstChunk)
{
    const std::string dir = testing::TempDir() + "/" + name;
    std::filesystem::create_directories(dir);
    char meta[1024];
    std::snprintf(meta, sizeof meta, kMetadata, encoding, firstChunk);
    std::ofstream(dir + "/metadata.json") << meta;
    std::ofstream(dir + "/hierarchy.bin", std::ios::binary) << hierarchy;
    std::ofstream(dir + "/octree.bin", std::ios::binary)
        << point(0, 0, 0, 10, 65535) + point(1000, 0, 0, 20, 0) + point(0, 500, 0, 30, 32768);
    return dir + "/metadata.json";
}

} // namespace

// The root holds one point and a proxy whose chunk holds the child with two more.
TEST(PotreeReader, NodesBehindProxiesJoinTheCloud)
{
    const std::string hierarchy = node(0, 1, 0, 20) + node(2, 0, 44, 22) + node(1, 2, 20, 40);
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    const PointListData d = PotreeReader::read(writeCloud("potree", "DEFAULT", hierarchy, 44).c_str());
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
    for (const Case &c : {Case{node(0, 3, 0, 60), 22, "BROTLI", "BROTLI encoding is not read"},
                          Case{node(0, 3, 0, 60), 21, "DEFAULT", "not whole nodes"},
                          Case{node(2, 0, 0, 22), 22, "DEFAULT", "twice"},
                          Case{node(2, 0, 22, 220), 22, "DEFAULT", "not whole nodes"},
                          Case{node(7, 3, 0, 60), 22, "DEFAULT", "type 7"},
                          Case{node(0, 4, 0, 80), 22, "DEFAULT", "of octree.bin"},
                          Case{node(0, 3, 0, 61), 22, "DEFAULT", "of octree.bin"},
                          Case{node(0, 0, 0, 0), 22, "DEFAULT", "0 points"}}) {
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
