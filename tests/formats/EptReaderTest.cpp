#include "formats/EptReader.h"
#include "formats/LasReader.h"
#include "math/Messages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string eptPath(const std::string &set) { return std::string(VELMORA_SOURCE_DIR) + "/tests/data/ept/" + set + "/ept.json"; }

} // namespace

TEST(EptReader, TileSetsOfAnotherProgramOpenAsOneCloud)
{
    struct Case {
        const char *set;
        int points;
        bool colours;
        const char *warning;
    };
    for (const Case &c : {Case{"1.2-with-color", 1065, true, ""},
                          Case{"bcbf", 5, false, "the hierarchy holds 5 points, ept.json says 10\n"},
                          Case{"bcbf-zstandard", 5, false, "the hierarchy holds 5 points, ept.json says 10\n"}}) {
        SCOPED_TRACE(c.set);
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        const PointListData d = EptReader::read(eptPath(c.set).c_str());
        EXPECT_EQ(d.nPoints, c.points);
        EXPECT_EQ(d.colors != nullptr, c.colours);
        const std::string warned = sink.text(MessageLevel::Warning);
        EXPECT_EQ(warned.empty(), *c.warning == 0) << warned;
        EXPECT_NE(warned.find(c.warning), std::string::npos);
        // Every node of the toy set holds the point (1, 1, 999).
        for (int i = 0; c.points == 5 && i < 5; ++i) {
            EXPECT_DOUBLE_EQ(d.points[3 * i + 2] + d.origin[2], 999);
        }
    }
    // The laszip set holds the same points as the LAS file it was made from.
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    const PointListData ept = EptReader::read(eptPath("1.2-with-color").c_str());
    const PointListData las =
        LasReader::read((std::string(VELMORA_SOURCE_DIR) + "/tests/data/laz/1.2-with-color.las").c_str());
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(ept.bounds.lo[k] + ept.origin[k], las.bounds.lo[k] + las.origin[k], 0.01);
}

TEST(EptReader, MalformedMetadataHierarchyAndNodesAreRefused)
{
    const std::string dir = testing::TempDir() + "/ept-bad";
    const std::string good = R"({"dataType":"binary","points":1,"bounds":[0,0,0,8,8,8],"schema":[{"name":"X","size":4,"type":"signed"},)"
                             R"({"name":"Y","size":4,"type":"signed"},{"name":"Z","size":4,"type":"signed"}]})";
    struct Case {
        std::string metadata, hierarchy;
        size_t nodeBytes;
        const char *says;
    };
    const std::string noZ = R"({"dataType":"binary","schema":[{"name":"X","size":4,"type":"signed"},)"
                            R"({"name":"Y","size":4,"type":"signed"}]})";
    for (const Case &c : {Case{"{", "", 0, "not JSON"}, Case{R"({"dataType":"lasperf","schema":[]})", "", 0, "not read"},
                          Case{noZ, "", 0, "no Z"},
                          Case{R"({"dataType":"binary","schema":[{"name":"X","size":3,"type":"signed"}]})", "", 0, "size 3"},
                          Case{good, R"({"0-0-0":1})", 0, "not D-X-Y-Z"}, Case{good, R"({"0-0-0-0":-2})", 0, "no count"},
                          Case{good, R"({"0-0-0-0":-1})", 0, "no point"}, Case{good, R"({"0-0-0-0":1})", 11, "not the 12"},
                          Case{good, R"({"0-0-0-0":2147483647,"1-0-0-0":2})", 12, "more than"},
                          Case{good, R"({"0-0-0-0":1,"1-2-0-0":1})", 12, "outside the hierarchy's cube"},
                          Case{good.substr(0, 32) + good.substr(55), R"({"0-0-0-0":1})", 12, "no cube"}}) {
        SCOPED_TRACE(c.says);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir + "/ept-hierarchy");
        std::filesystem::create_directories(dir + "/ept-data");
        std::ofstream(dir + "/ept.json") << c.metadata;
        std::ofstream(dir + "/ept-hierarchy/0-0-0-0.json") << c.hierarchy;
        std::ofstream(dir + "/ept-data/0-0-0-0.bin") << std::string(c.nodeBytes, '\0');
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        try {
            EptReader::read((dir + "/ept.json").c_str());
            ADD_FAILURE() << "read";
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
        EXPECT_EQ(sink.text(MessageLevel::Error).find("GLPointListObject: "), 0u);
    }
}
