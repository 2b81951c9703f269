// The writers of what is kept of a cloud (LAS 1.4, PLY) and of a mesh (PLY, OBJ): each file
// reopens, through the program's own readers, as what was written.
#include "formats/AssimpReader.h"
#include "formats/LasReader.h"
#include "formats/LasWriter.h"
#include "formats/ObjWriter.h"
#include "formats/PlyReader.h"
#include "formats/PlyWriter.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

bool exists(const std::string &path) { return std::ifstream(path).good(); }

// 1000 points of a survey a million metres from its datum, a centimetre apart.
LasPoint surveyPoint(size_t i)
{
    LasPoint p;
    p.xyz[0] = 512345.67 + 0.01 * static_cast<double>(i % 100);
    p.xyz[1] = 4123456.78 + 0.01 * static_cast<double>(i / 100);
    p.xyz[2] = 88.5 + 0.25 * static_cast<double>(i % 7);
    p.intensity = static_cast<uint16_t>(40 * i);
    p.returnNumber = static_cast<uint8_t>(1 + i % 3);
    p.returnCount = 3;
    p.classification = static_cast<uint8_t>(i % 19);
    p.gpsTime = 245380.5 + 0.001 * static_cast<double>(i);
    for (int k = 0; k < 3; ++k)
        p.rgb[k] = static_cast<uint16_t>(257 * ((i * (k + 3)) % 256));
    return p;
}

TEST(LasWriter, ReopensWithItsScaleOffsetAndEveryAttribute)
{
    const std::string dir = testsupport::makeTempDir("LasWriter");
    LasScaling scaling;
    for (int k = 0; k < 3; ++k) {
        scaling.scale[k] = 0.01;
        scaling.offset[k] = k == 2 ? 0 : 500000;
    }
    for (int format : {6, 7}) {
        const std::string path = dir + "/survey" + std::to_string(format) + ".las";
        LasWriter::write(path, format, scaling, 1000, [](size_t i, LasPoint &p) { p = surveyPoint(i); });
        EXPECT_FALSE(exists(path + ".part"));
        const PointListData d = LasReader::read(path.c_str());
        ASSERT_EQ(d.nPoints, 1000);
        EXPECT_EQ(d.las.scale[1], 0.01);
        EXPECT_EQ(d.las.offset[0], 500000);
        EXPECT_EQ(d.colors != nullptr, format == 7);
        ASSERT_EQ(d.items.size(), 4u);
        EXPECT_EQ(d.items[3].name, "GPS time (s after 245380)");
        for (size_t i = 0; i < 1000; ++i) {
            const LasPoint p = surveyPoint(i);
            for (int k = 0; k < 3; ++k)
                ASSERT_NEAR(d.points[3 * i + k] + d.origin[k], p.xyz[k], 1e-3) << i;
            EXPECT_EQ(d.items[0].values[i], p.intensity);
            EXPECT_EQ(d.items[1].values[i], p.classification);
            EXPECT_EQ(d.items[2].values[i], p.returnNumber);
            EXPECT_NEAR(d.items[3].values[i], p.gpsTime - 245380, 1e-4);
            if (format == 7) {
                EXPECT_EQ(d.colors[3 * i + 1], p.rgb[1] / 257) << i;
            }
        }
    }
}

TEST(LasWriter, RefusesWhatItCannotStoreAndLeavesNoFile)
{
    const std::string dir = testsupport::makeTempDir("LasWriterRefusals");
    LasScaling fine = LasWriter::scalingFor(std::vector<double>{0, 0, 0}.data(), std::vector<double>{10, 10, 10}.data());
    LasScaling flat = fine;
    flat.scale[2] = 0;
    const struct {
        int format;
        LasScaling scaling;
        double x;
        const char *message;
    } cases[] = {
        {5, fine, 1, "LAS point format 5 is not written (6, 7 or 8 are)"},
        {7, flat, 1, "LAS: the scale must be positive"},
        {7, fine, 1e9, "LAS: a coordinate lies beyond what the scale and offset can store"},
    };
    for (const auto &c : cases) {
        const std::string path = dir + "/refused.las";
        try {
            LasWriter::write(path, c.format, c.scaling, 3, [&](size_t i, LasPoint &p) { p.xyz[0] = i ? c.x : 0; });
            ADD_FAILURE() << c.message;
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_FALSE(exists(path) || exists(path + ".part")) << c.message;
    }
    // Millimetres about the box's centre, coarser where the box is too wide for them.
    const double lo[3] = {-5e6, 0, 0}, hi[3] = {5e6, 1, 1};
    const LasScaling wide = LasWriter::scalingFor(lo, hi);
    EXPECT_EQ(wide.scale[0], 0.01);
    EXPECT_EQ(wide.scale[1], 0.001);
    EXPECT_EQ(wide.offset[1], 1);
}

TEST(PlyWriter, ACloudKeepsItsColoursAndValuesAndDoubleCoordinates)
{
    const std::string path = testsupport::makeTempDir("PlyWriterCloud") + "/cloud.ply";
    PlyCloudLayout layout;
    layout.doubleCoordinates = true;
    layout.colours = true;
    layout.values = {"Reprojection error", "Track length"};
    PlyWriter::writeCloud(path, layout, 50, [](size_t i, double xyz[3], unsigned char rgb[3], float *v) {
        xyz[0] = 1000.125 + static_cast<double>(i);
        xyz[1] = -2.5;
        xyz[2] = 0.5 * static_cast<double>(i);
        rgb[0] = static_cast<unsigned char>(5 * i);
        rgb[1] = 7;
        rgb[2] = 200;
        v[0] = 0.01f * static_cast<float>(i);
        v[1] = static_cast<float>(i % 4);
    });
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("property double x\n"), std::string::npos);
    EXPECT_NE(text.str().find("property float Reprojection_error\n"), std::string::npos);
    const ForeignModel m = PlyReader::read(path.c_str());
    ASSERT_TRUE(m.isPointCloud);
    const PointListData &d = m.points;
    ASSERT_EQ(d.nPoints, 50);
    ASSERT_TRUE(d.colors);
    for (size_t i = 0; i < 50; ++i) {
        EXPECT_FLOAT_EQ(d.points[3 * i] + static_cast<float>(d.origin[0]), 1000.125f + static_cast<float>(i));
        EXPECT_EQ(d.colors[3 * i], 5 * i);
    }
}

// Two triangles over two images, one vertex coloured; the images are named, not copied.
struct TexturedQuad {
    std::vector<float> v = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    std::vector<unsigned char> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9};
    std::vector<float> height = {0, 1, 2, 3};
    std::vector<int> t = {0, 1, 2, 0, 2, 3};
    std::vector<float> uv = {0, 1, 1, 1, 1, 0, 0, 1, 0.25f, 0.5f, 0, 0};
    std::vector<int> image = {0, 1};
    MeshOutput output() const
    {
        MeshOutput m;
        m.nVertices = 4;
        m.vertices = v.data();
        m.colours = rgb.data();
        m.items = {{"height", height.data()}};
        m.nTriangles = 2;
        m.triangles = t.data();
        m.texCoords = uv.data();
        m.imageOfTriangle = image.data();
        m.images = {"a.png", "b.png"};
        return m;
    }
};

TEST(MeshWriters, PlyAndObjReopenWithTheirCornersTextureCoordinatesAndImages)
{
    const std::string dir = testsupport::makeTempDir("MeshWriters");
    const TexturedQuad quad;
    PlyWriter::writeMesh(dir + "/quad.ply", quad.output());
    ObjWriter::write(dir + "/quad.obj", quad.output());
    EXPECT_TRUE(exists(dir + "/quad.mtl"));
    for (const char *name : {"quad.ply", "quad.obj"}) {
        const ForeignModel m = AssimpReader::read((dir + "/" + name).c_str());
        ASSERT_EQ(m.mesh.nTriangles, 2) << name;
        ASSERT_TRUE(m.mesh.texCoords) << name;
        ASSERT_EQ(m.textureImages.size(), 2u) << name;
        EXPECT_EQ(m.textureImages[0], dir + "/a.png") << name;
        // Corner by corner: the same position and the same texture coordinate.
        for (int t = 0; t < 2; ++t) {
            const int image = m.triangleImage.empty() ? 0 : m.triangleImage[static_cast<size_t>(t)];
            const int source = m.mesh.texCoords[6 * t + 2] == 0.25f || image == 1 ? 1 : 0;
            EXPECT_EQ(image, source) << name;
            for (int c = 0; c < 3; ++c) {
                const int v = m.mesh.triangles[3 * t + c], w = quad.t[static_cast<size_t>(3 * source + c)];
                for (int k = 0; k < 3; ++k)
                    EXPECT_FLOAT_EQ(m.mesh.vertices[3 * v + k], quad.v[static_cast<size_t>(3 * w + k)]) << name;
                for (int k = 0; k < 2; ++k)
                    EXPECT_NEAR(m.mesh.texCoords[6 * t + 2 * c + k], quad.uv[static_cast<size_t>(6 * source + 2 * c + k)],
                                1e-6)
                        << name;
            }
        }
    }
    // PLY keeps the colours and the values a vertex as well.
    const ForeignModel ply = PlyReader::read((dir + "/quad.ply").c_str());
    ASSERT_TRUE(ply.mesh.colors);
    EXPECT_EQ(ply.mesh.colors[4], 255);
    ASSERT_EQ(ply.mesh.dataItems.size(), 1u);
    EXPECT_EQ(ply.mesh.dataItems[0].getData()[3], 3);
}

} // namespace
