// What the cleanable kinds save of what is kept, and the rules of a script in the file's frame.
#include "formats/AssimpReader.h"
#include "formats/LasReader.h"
#include "formats/LasWriter.h"
#include "formats/PlyWriter.h"
#include "image/ImageCodecs.h"
#include "objects/GLMeshObject.h"
#include "objects/GLPointListObject.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

// A cloud a million metres from its datum, moved by a pose: the script's box is in the file's
// coordinates, whatever the pose (which only places the cloud among the cameras).
TEST(CleaningRules, TheKeptBoxIsInTheFileCoordinatesWhateverThePose)
{
    PointListData d;
    d.nPoints = 4;
    d.points = allocateLargeArray<float>(12);
    for (int i = 0; i < 4; ++i) {
        d.points[3 * i] = static_cast<float>(i);
        d.points[3 * i + 1] = d.points[3 * i + 2] = 0;
    }
    d.bounds.addPoints(d.points.get(), 12);
    d.origin[0] = 1e6;
    d.origin[1] = 2e6;
    GLPointListObject cloud(std::move(d));
    Matrix4 pose = Matrix4::Identity;
    pose(0, 3) = 10;
    cloud.setPose(pose);
    const double lo[3] = {1e6 + 0.5, 2e6 - 1, -1}, hi[3] = {1e6 + 2.5, 2e6 + 1, 1};
    const ElementSelection outside = cloud.getCleaning()->outsideFileBox(lo, hi);
    EXPECT_EQ(outside.count(), 2u);
    EXPECT_TRUE(outside.contains(0) && outside.contains(3));
}

// A cloud whose hierarchy stores its points in an order of its own, in more blocks of file
// indices than there are cores: boxes replacing, taking from and adding to the selection, with
// some points hidden, name the file's points a plain walk over the file finds.
TEST(CleaningRules, SelectionsThroughTheStoredOrderNameTheFileIndices)
{
    const size_t n = 300000;
    std::vector<float> p(3 * n);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(0, 1);
    for (float &v : p)
        v = u(rng);
    PointListData d;
    d.nPoints = static_cast<int>(n);
    d.points = allocateLargeArray<float>(3 * n);
    std::copy(p.begin(), p.end(), d.points.get());
    d.bounds.addPoints(d.points.get(), 3 * n);
    GLPointListObject cloud(std::move(d));
    cloud.buildLevelOfDetail();
    ElementCleaning &cleaning = *cloud.getCleaning();
    std::vector<bool> expected(n), hidden(n);
    struct Step {
        float lo, hi;
        SelectMode mode;
        bool hideAfter;
    };
    for (const Step &step : {Step{0.1f, 0.3f, SelectMode::Replace, true}, Step{0.2f, 0.8f, SelectMode::Replace, false},
                             Step{0.5f, 0.6f, SelectMode::Subtract, false}, Step{0.9f, 1.0f, SelectMode::Add, false}}) {
        const float centre = (step.lo + step.hi) / 2, half = (step.hi - step.lo) / 2;
        cleaning.setBox({Point3(centre, 0.5f, 0.5f), Matrix3(), Point3(half, 1, 1)});
        cleaning.selectInBox(step.mode);
        for (size_t f = 0; f < n; ++f) {
            const bool inside = std::fabs(p[3 * f] - centre) <= half && !hidden[f];
            expected[f] = step.mode == SelectMode::Replace ? inside
                          : step.mode == SelectMode::Add   ? expected[f] || inside
                                                           : expected[f] && !inside;
        }
        size_t count = 0, wrong = 0;
        for (size_t f = 0; f < n; ++f) {
            count += expected[f];
            wrong += cleaning.getSelection().contains(f) != expected[f];
        }
        ASSERT_EQ(wrong, 0u) << "box " << step.lo << " .. " << step.hi;
        ASSERT_EQ(cleaning.getSelection().count(), count);
        if (step.hideAfter) {
            cleaning.hide();
            hidden = expected;
        }
    }
}

// A LAS survey saved again keeps its scale, offset, attributes and the integers of its
// coordinates; as PLY it keeps them as properties, with coordinates in double.
TEST(CleaningSaves, ACloudSavedAsLasOrPlyKeepsWhatTheFileHad)
{
    const std::string dir = testsupport::makeTempDir("CleaningSavesCloud");
    LasScaling scaling;
    for (int k = 0; k < 3; ++k) {
        scaling.scale[k] = 0.01;
        scaling.offset[k] = 700000;
    }
    const auto source = [](size_t i, LasPoint &p) {
        p.xyz[0] = 700123.45 + 0.37 * static_cast<double>(i);
        p.xyz[1] = 701000.01 - 0.11 * static_cast<double>(i);
        p.xyz[2] = 700000.5;
        p.intensity = static_cast<uint16_t>(100 + i);
        p.classification = static_cast<uint8_t>(2 + i % 4);
        p.rgb[0] = static_cast<uint16_t>(257 * i);
        p.gpsTime = 1e9 + 0.25 * static_cast<double>(i);
    };
    LasWriter::write(dir + "/survey.las", 7, scaling, 200, source);
    GLPointListObject cloud((dir + "/survey.las").c_str());
    cloud.getSelection().addRange(10, 20);
    EXPECT_EQ(cloud.getCleaning()->remove(), 10u);
    ASSERT_TRUE(cloud.saveAs(dir + "/kept.las"));
    ASSERT_TRUE(cloud.saveAs(dir + "/kept.ply"));
    const PointListData las = LasReader::read((dir + "/kept.las").c_str());
    const ForeignModel ply = AssimpReader::read((dir + "/kept.ply").c_str());
    ASSERT_EQ(las.nPoints, 190);
    ASSERT_EQ(ply.points.nPoints, 190);
    EXPECT_EQ(las.las.scale[0], 0.01);
    EXPECT_EQ(las.las.offset[2], 700000);
    ASSERT_EQ(ply.points.items.size(), 4u);
    ASSERT_EQ(las.items.size(), 4u);
    EXPECT_EQ(ply.points.items[1].name, "classification");
    for (size_t k = 0, i = 0; i < 200; ++i) {
        if (i >= 10 && i < 20)
            continue;
        LasPoint p;
        source(i, p);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(las.points[3 * k + c] + las.origin[c], p.xyz[c], 1e-4) << i; // its integers
        EXPECT_NEAR(ply.points.points[3 * k] + ply.points.origin[0], p.xyz[0], 1e-4) << i;
        EXPECT_EQ(las.items[0].values[k], p.intensity);
        EXPECT_EQ(las.items[1].values[k], p.classification);
        EXPECT_EQ(las.items[3].values[k], p.gpsTime - 1e9) << i;
        EXPECT_EQ(ply.points.items[1].values[k], p.classification);
        EXPECT_EQ(las.colors[3 * k], i);
        ++k;
    }
}

// An imported textured mesh with a vertex deleted: the faces it spanned go, the others keep
// their corners' coordinates and images, which are copied beside the saved file.
TEST(CleaningSaves, AMeshSavedAsObjOrPlyKeepsItsTextureAndImages)
{
    const std::string dir = testsupport::makeTempDir("CleaningSavesMesh");
    const std::vector<float> v = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    const std::vector<int> t = {0, 1, 2, 0, 2, 3};
    const std::vector<float> uv = {0, 1, 1, 1, 1, 0, 0, 1, 0.25f, 0.5f, 0, 0};
    MeshOutput quad;
    quad.nVertices = 4;
    quad.vertices = v.data();
    quad.nTriangles = 2;
    quad.triangles = t.data();
    quad.texCoords = uv.data();
    quad.images = {"skin.png"};
    const unsigned char red[12] = {255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0};
    ASSERT_EQ(imagecodecs::writePng((dir + "/skin.png").c_str(), red, 2, 2, 3), imagecodecs::Written);
    PlyWriter::writeMesh(dir + "/quad.ply", quad);
    ForeignModel model = AssimpReader::read((dir + "/quad.ply").c_str());
    GLMeshObject mesh((dir + "/quad.ply").c_str(), model);
    mesh.getSelection().add(3);
    EXPECT_EQ(mesh.getCleaning()->remove(), 1u);
    std::filesystem::create_directories(dir + "/out");
    for (const char *name : {"/out/kept.obj", "/out/kept.ply"}) {
        ASSERT_TRUE(mesh.saveAs(dir + name));
        const ForeignModel kept = AssimpReader::read((dir + name).c_str());
        ASSERT_EQ(kept.mesh.nTriangles, 1) << name;
        ASSERT_EQ(kept.textureImages.size(), 1u) << name;
        EXPECT_EQ(kept.textureImages[0], dir + "/out/skin.png") << name;
        for (int c = 0; c < 3; ++c) {
            const int at = kept.mesh.triangles[c];
            for (int k = 0; k < 3; ++k)
                EXPECT_FLOAT_EQ(kept.mesh.vertices[3 * at + k], v[static_cast<size_t>(3 * t[c] + k)]) << name;
            for (int k = 0; k < 2; ++k)
                EXPECT_NEAR(kept.mesh.texCoords[2 * c + k], uv[static_cast<size_t>(2 * c + k)], 1e-6) << name;
        }
    }
    EXPECT_TRUE(std::ifstream(dir + "/out/skin.png").good());
}

} // namespace
