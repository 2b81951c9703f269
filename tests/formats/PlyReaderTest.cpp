// PLY files: headers, bodies in every encoding and their refusals.
#include "formats/AssimpReader.h"
#include "formats/PlyHeader.h"
#include "formats/PlyReader.h"
#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"
#include "support/PlySquare.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace testsupport::plysquare;

class PlyFile : public ::testing::Test {
protected:
    void SetUp() override { dir = testsupport::makeTempDir("PlyReader"); }

    std::string write(const std::string &name, const std::string &content)
    {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    static ForeignModel read(const std::string &path)
    {
        testsupport::CapturedMessages captured;
        return AssimpReader::read(path.c_str());
    }

    std::string dir;
};

TEST_F(PlyFile, InEveryEncodingGivesGeometryColoursAndScalars)
{
    const struct {
        PlyFormat format;
        const char *name;
    } cases[] = {{Ascii, "ascii.ply"}, {Little, "little.ply"}, {Big, "big.ply"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const ForeignModel m = read(write(c.name, squarePly(c.format)));
        ASSERT_FALSE(m.isPointCloud);
        const MeshData &g = m.mesh;
        ASSERT_EQ(g.nVertices, 4);
        ASSERT_EQ(g.nTriangles, 2);
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 3; ++k) {
                EXPECT_FLOAT_EQ(g.vertices[3 * i + k], kXYZ[i][k]);
                EXPECT_EQ(g.colors[3 * i + k], kRGB[i][k]);
            }
        EXPECT_TRUE(g.colorsFromFile);
        // The quad becomes two triangles that cover it once, both facing +z.
        for (int t = 0; t < 2; ++t) {
            const int *v = &g.triangles[3 * t];
            const float ax = kXYZ[v[1]][0] - kXYZ[v[0]][0], ay = kXYZ[v[1]][1] - kXYZ[v[0]][1];
            const float bx = kXYZ[v[2]][0] - kXYZ[v[0]][0], by = kXYZ[v[2]][1] - kXYZ[v[0]][1];
            EXPECT_FLOAT_EQ(ax * by - ay * bx, 1.0f);
        }
        ASSERT_EQ(g.dataItems.size(), 3u);
        EXPECT_STREQ(g.dataItems[0].getName(), "quality");
        EXPECT_STREQ(g.dataItems[1].getName(), "confidence");
        EXPECT_STREQ(g.dataItems[2].getName(), "intensity");
        for (int i = 0; i < 4; ++i) {
            EXPECT_FLOAT_EQ(g.dataItems[0].getData()[i], kQuality[i]);
            EXPECT_FLOAT_EQ(g.dataItems[1].getData()[i], static_cast<float>(kConfidence[i]));
            EXPECT_FLOAT_EQ(g.dataItems[2].getData()[i], kIntensity[i]);
        }
        EXPECT_FLOAT_EQ(g.dataItems[0].getMinimum(), -3.0f);
        EXPECT_FLOAT_EQ(g.dataItems[2].getMaximum(), 65535.0f);
    }
}

TEST(PlyHeader, ParsesAndRefusesHeaders)
{
    const std::string good = "ply\r\nformat binary_big_endian 1.0\ncomment TextureFile  tex ture.png\n"
                             "element vertex 2\nproperty float32 x\nproperty list uint8 int32 idx\n"
                             "element face 0\nend_header\nBODY";
    const PlyHeader h = PlyHeader::parse(good.data(), good.size());
    EXPECT_EQ(h.format, PlyHeader::BINARY_BIG_ENDIAN);
    ASSERT_EQ(h.elements.size(), 2u);
    EXPECT_EQ(h.elements[0].count, 2);
    ASSERT_EQ(h.elements[0].properties.size(), 2u);
    EXPECT_TRUE(h.elements[0].properties[1].isList);
    EXPECT_EQ(h.elements[0].properties[1].type, PlyHeader::INT32);
    ASSERT_EQ(h.textureFiles().size(), 1u);
    EXPECT_EQ(h.textureFiles()[0], "tex ture.png");
    EXPECT_EQ(good.substr(h.bodyOffset), "BODY");

    // Free text of other programs between the lines: skipped, with one note for all.
    const std::string chatty = "ply\nformat ascii 1.0\nCreated by Modeller 2.1\nelement vertex 1\n"
                               "Exported 2026-12-08\nproperty float x\nend_header\n";
    testsupport::CapturedMessages captured;
    const PlyHeader skipping = PlyHeader::parse(chatty.data(), chatty.size());
    EXPECT_EQ(captured.take(),
              "PLY: skipped 2 header lines the format does not know, the first \"Created by Modeller 2.1\"\n");
    ASSERT_EQ(skipping.elements.size(), 1u);
    EXPECT_EQ(skipping.elements[0].properties.size(), 1u);

    const struct {
        const char *text;
        const char *message;
    } bad[] = {
        {"", "PLY: the header has no end_header line"},
        {"plyx\n", "PLY: no \"ply\" signature"},
        {"ply\nelement vertex 1\nend_header\n", "PLY: the header has no format line"},
        {"ply\nformat binary_middle_endian 1.0\nend_header\n", "PLY: unknown format \"binary_middle_endian\""},
        {"ply\nformat ascii 1.0\nelement vertex -4\nend_header\n", "PLY: element \"vertex\" has a bad count \"-4\""},
        {"ply\nformat ascii 1.0\nelement vertex 99999999999999999999\n",
         "PLY: element \"vertex\" has a bad count \"99999999999999999999\""},
        {"ply\nformat ascii 1.0\nproperty float x\n", "PLY: property before any element on line 3"},
        {"ply\nformat ascii 1.0\nelement v 1\nproperty quad x\n", "PLY: unknown type \"quad\" on line 4"},
        {"ply\nformat ascii 1.0\nelement v 1\nproperty list float int i\n",
         "PLY: a list length must be an integer type (line 4)"},
        {"ply\nformat ascii 1.0\nelement v 1\nproperty float\n", "PLY: property without a name on line 4"},
        // An unknown line is skipped; a header that never ends is still refused.
        {"ply\nformat ascii 1.0\nbogus\n", "PLY: the header has no end_header line"},
    };
    for (const auto &c : bad) {
        try {
            PlyHeader::parse(c.text, std::strlen(c.text));
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(PlyReader, BodiesAreCheckedAgainstTheHeader)
{
    const std::string xyzq = "property float x\nproperty float y\nproperty float z\nproperty float q\n";
    const struct {
        std::string text;
        const char *message;   // null: read, with these values of "q"
        std::vector<float> values;
    } cases[] = {
        // Elements before the vertices are stepped over, lists included; a "+" sign is read.
        {"ply\nformat ascii 1.0\nelement extra 2\nproperty list uchar int l\nproperty float w\n"
         "element vertex 2\n" + xyzq + "end_header\n2 7 8 0.5\n0 9\n0 0 0 -2\n1 1 1 +4e0\n",
         nullptr,
         {-2, 4}},
        {"ply\nformat binary_little_endian 1.0\nelement vertex 1000000\n" + xyzq + "end_header\nabcdefgh",
         "PLY: the file is too short for 1000000 vertices",
         {}},
        {"ply\nformat ascii 1.0\nelement vertex 3\n" + xyzq + "end_header\n1.5 2.5 3.5 4.5\n5.5 6.5 7.5 8.5\n1 2\n",
         "PLY: the file ends before the values its header announces",
         {}},
        {"ply\nformat ascii 1.0\nelement vertex 1\n" + xyzq + "end_header\n1 2 3 zwei\n",
         "PLY: \"zwei\" is no number",
         {}},
        // Colours of every kind: bytes as they are, floats scaled and clamped, NaN black.
        {"ply\nformat ascii 1.0\nelement vertex 3\n" + xyzq +
             "property float red\nproperty double green\nproperty int blue\nend_header\n"
             "0 0 0 1 0.5 nan 300\n0 0 0 2 -1 2 -5\n0 0 0 3 inf 0.0039 7\n",
         nullptr,
         {1, 2, 3}},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\nend_header\n1 2\n",
         "PLY: the vertices have no x, y and z",
         {}},
        {"ply\nformat binary_little_endian 1.0\nelement f 1\nproperty list uint int i\nelement vertex 1\n" + xyzq +
             "end_header\n\xff\xff\xff\x7f",
         "PLY: the file ends inside a list",
         {}},
        {"ply\nformat ascii 1.0\nelement f 1\nproperty list char int i\nelement vertex 1\n" + xyzq +
             "end_header\n-1\n5\n",
         "PLY: bad list length in element \"f\"",
         {}},
        {"ply\nformat ascii 1.0\nelement vertex 3\n" + xyzq +
             "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0 0 1\n1 0 0 2\n0 1 0 3\n3 0 1 3\n",
         "PLY: face 0 names vertex 3.000000 of 3",
         {}},
        {"ply\nformat ascii 1.0\nelement vertex 3\n" + xyzq +
             "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0 0 1\n1 0 0 2\n0 1 0 3\n200 0 1\n",
         "PLY: the file ends before the values its header announces",
         {}},
        {"ply\nformat ascii 1.0\nelement face 1\nproperty list uchar int vertex_indices\nelement vertex 3\n" + xyzq +
             "end_header\n3 0 1 2\n0 0 0 1\n1 0 0 2\n0 1 0 3\n",
         "PLY: the faces come before the vertices",
         {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        try {
            const ForeignModel m = PlyReader::read(c.text.data(), c.text.size(), "");
            ASSERT_EQ(c.message, nullptr);
            ASSERT_TRUE(m.isPointCloud);
            ASSERT_EQ(m.points.nPoints, static_cast<int>(c.values.size()));
            if (m.points.colors) {
                const unsigned char rgb[9] = {128, 0, 255, 0, 255, 0, 255, 1, 7};
                EXPECT_EQ(std::memcmp(m.points.colors.get(), rgb, 9), 0);
                continue;
            }
            EXPECT_EQ(m.valueName, "q");
            for (size_t i = 0; i < c.values.size(); ++i)
                EXPECT_FLOAT_EQ(m.points.values[i], c.values[i]);
        } catch (const std::runtime_error &e) {
            ASSERT_NE(c.message, nullptr) << e.what();
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

} // namespace
