// velmora-render --save with the cleaning rules, on a COLMAP model of three photographs whose
// masks hold a disc about the origin, and a PLY cloud of points about the origin, floaters
// above and below it, and points behind every camera.
#include "camera/ReconstructionTestFiles.h"
#include "formats/LasReader.h"
#include "formats/PlyHeader.h"
#include "formats/SplatFile.h"
#include "image/ImageCodecs.h"
#include "support/ImageCompare.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kTool = std::string(VELMORA_BINARY_DIR) + "/velmora-render";
const std::string kCopc = std::string(VELMORA_SOURCE_DIR) + "/tests/data/laz/1.2-with-color.copc.laz";

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class VelmoraClean : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = testsupport::makeTempDir("VelmoraClean");
        recontest::Model m = recontest::knownModel();
        m.points.clear();
        mkdir((dir + "/model").c_str(), 0755);
        mkdir((dir + "/model/images").c_str(), 0755);
        mkdir((dir + "/masks").c_str(), 0755);
        recontest::writeColmapText(m, dir + "/model");
        for (const recontest::Cam &c : m.cams) {
            const recontest::Intr &k = m.of(c);
            recontest::writePhotograph(dir + "/model/images/" + c.name, k.width, k.height);
            double u0, v0;
            recontest::colmapPixel(c, k, {0, 0, 0}, u0, v0);
            std::vector<unsigned char> mask(static_cast<size_t>(k.width) * k.height * 3);
            for (int y = 0; y < k.height; ++y)
                for (int x = 0; x < k.width; ++x)
                    mask[3 * (static_cast<size_t>(y) * k.width + x)] =
                        (x - u0) * (x - u0) + (y - v0) * (y - v0) < 100 * 100 ? 255 : 0;
            ASSERT_EQ(imagecodecs::writePng((dir + "/masks/" + c.name + ".png").c_str(), mask.data(), k.width, k.height, 3),
                      imagecodecs::Written);
        }
        // 30 points within 0.3 of the origin, 8 floaters at y = +-2 and 4 behind the cameras,
        // each with the file's own index in a property the viewer does not read.
        std::string rows;
        int n = 0;
        const auto row = [&](double x, double y, double z) {
            rows += std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + " " + std::to_string(n++) + "\n";
        };
        for (int i = 0; i < 30; ++i)
            row(0.01 * (i % 7) - 0.03, 0.01 * (i % 5), 0.02 * (i % 3));
        for (int i = 0; i < 8; ++i)
            row(0.1 * (i % 4), i < 4 ? 2 : -2, 0);
        for (int i = 0; i < 4; ++i)
            row(0.1 * i, 0, -40);
        recontest::writeText(dir + "/cloud.ply", "ply\nformat ascii 1.0\nelement vertex " + std::to_string(n) +
                                                     "\nproperty float x\nproperty float y\nproperty float z\n"
                                                     "property int original\nend_header\n" + rows);
    }

    static testsupport::ProcessResult run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"/usr/bin/env", "-u", "DISPLAY", kTool});
        return testsupport::runProcess(args, {}, dir);
    }

    // The `original` column of the saved cloud.
    static std::vector<int> savedRows(const std::string &name)
    {
        const std::string text = slurp(dir + "/" + name);
        std::istringstream body(text.substr(PlyHeader::parse(text.data(), text.size()).bodyOffset));
        std::vector<int> out;
        double x, y, z;
        int original;
        while (body >> x >> y >> z >> original)
            out.push_back(original);
        return out;
    }

    static std::string dir;
};

std::string VelmoraClean::dir;

TEST_F(VelmoraClean, RulesRemoveWhatTheySelectAndTheRestIsSaved)
{
    auto r = run({"--masks", "masks", "--carve", "2", "--drop-unseen", "--save", "kept.ply", "model", "cloud.ply"});
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("drop-unseen: 4 removed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("carve: 8 removed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("kept.ply: 30 of 42 kept"), std::string::npos) << r.out;
    std::vector<int> rows = savedRows("kept.ply");
    ASSERT_EQ(rows.size(), 30u);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(rows[static_cast<size_t>(i)], i);

    // The box keeps the upper floaters only (in the file's coordinates).
    r = run({"--keep-box", "-1,1,-1,1,3,1", "--save", "box.ply", "model", "cloud.ply"});
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("keep-box: 38 removed"), std::string::npos) << r.out;
    EXPECT_EQ(savedRows("box.ply"), (std::vector<int>{30, 31, 32, 33}));
}

// A splat scene is cleaned by the same rules and saved in the format the name asks for; what
// the rules keep comes back in its order, whichever format holds it.
TEST_F(VelmoraClean, ASplatSceneIsSavedAsPlyOrSpz)
{
    SplatScene scene;
    scene.resize(6, 1);
    for (size_t i = 0; i < scene.count; ++i) {
        scene.position[3 * i] = 0.5f * static_cast<float>(i);
        scene.position[3 * i + 1] = i % 2 ? 2.f : 0.f; // the odd ones float above
        scene.opacity[i] = 0.8f;
        for (int k = 0; k < 3; ++k)
            scene.scale[3 * i + k] = 0.05f;
        scene.rotation[4 * i] = 1.f;
        scene.dc[3 * i] = 0.25f * static_cast<float>(i);
    }
    ASSERT_TRUE(SplatFile::write(dir + "/splats.ply", scene));
    for (const char *out : {"low.ply", "low.spz"}) {
        const auto r = run({"--keep-box", "-1,-1,-1,3,1,1", "--save", out, "splats.ply"});
        ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(std::string(out) + ": 3 of 6 kept"), std::string::npos) << r.out;
        const SplatScene saved = SplatFile::read((dir + "/" + out).c_str());
        ASSERT_EQ(saved.count, 3u) << out;
        EXPECT_EQ(saved.shDegree, 1);
        for (size_t j = 0; j < 3; ++j) {
            EXPECT_NEAR(saved.position[3 * j], 1.f * static_cast<float>(j), 0.01f) << out;
            EXPECT_NEAR(saved.position[3 * j + 1], 0.f, 0.01f) << out;
            EXPECT_NEAR(saved.dc[3 * j], 0.5f * static_cast<float>(j), 0.02f) << out;
        }
    }
    const auto r = run({"--keep-box", "-1,-1,-1,3,1,1", "--save", "low.splat", "splats.ply"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("splats are saved as PLY (.ply) or SPZ (.spz)"), std::string::npos) << r.err;
}

TEST_F(VelmoraClean, WhatCannotBeDoneIsRefusedWithoutAFile)
{
    const struct {
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {{"--carve", "1", "--save", "x.ply", "cloud.ply"}, "no camera to see it by"},
        {{"--carve", "1", "--masks", "nowhere", "--save", "x.ply", "model", "cloud.ply"}, "no mask in nowhere"},
        {{"--carve", "0", "--save", "x.ply", "cloud.ply"}, "bad number of views 0"},
        {{"--keep-box", "1,2,3", "--save", "x.ply", "cloud.ply"}, "bad box 1,2,3"},
        {{"--drop-unseen", "model", "cloud.ply"}, "need an output file (--save OUT)"},
        {{"--save", "x.xyz", "cloud.ply"}, "saved as PLY"},
        {{"--drop-unseen", "--save", "x.spz", "model", "cloud.ply"}, "saved as PLY"},
        {{"--save", "x.ply", "model"}, "no point cloud, splat scene or mesh to clean"},
        {{"--keep-box", "0,0,0,1,1,1", "--save", "x.xyz", kCopc}, "saved as PLY"},
    };
    for (const auto &c : cases) {
        const auto r = run(c.args);
        EXPECT_EQ(r.exitStatus, 1) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        // A refusal comes before any rule says what it removed.
        EXPECT_EQ(r.out.find("removed"), std::string::npos) << r.out;
    }
    EXPECT_FALSE(std::ifstream(dir + "/x.ply").good());
}

// A COPC file is read node by node: the box the script keeps is cut from each node as the
// save reads it, in the file's coordinates; what is written is what the file's uncompressed
// twin holds in the box.
TEST_F(VelmoraClean, AStreamedCloudKeepsTheBoxNodeByNode)
{
    const PointListData las = LasReader::read((std::string(VELMORA_SOURCE_DIR) + "/tests/data/laz/1.2-with-color.las").c_str());
    const double lo[3] = {635600, 848000, 0}, hi[3] = {637000.005, 853000, 1000};
    int inside = 0;
    for (int i = 0; i < las.nPoints; ++i) {
        bool in = true;
        for (int a = 0; a < 3; ++a) {
            const double c = las.points[3 * i + a] + las.origin[a];
            in = in && c >= lo[a] && c <= hi[a];
        }
        inside += in;
    }
    ASSERT_GT(inside, 100);
    ASSERT_LT(inside, las.nPoints - 100);
    for (const std::string out : {"copc.las", "copc.ply"}) {
        const auto r = run({"--keep-box", "635600,848000,0,637000.005,853000,1000", "--save", out, kCopc});
        ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("keep-box: " + std::to_string(las.nPoints - inside) + " removed"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(out + ": " + std::to_string(inside) + " of 1065 kept"), std::string::npos) << r.out;
    }
    EXPECT_EQ(LasReader::read((dir + "/copc.las").c_str()).nPoints, inside);
    // The model's cameras, about the origin, see none of the survey's points.
    const auto r = run({"--drop-unseen", "--save", "unseen.ply", "model", kCopc});
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("drop-unseen: 1065 removed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("unseen.ply: 0 of 1065 kept"), std::string::npos) << r.out;
}

} // namespace
