// The headless renderer as a user runs it, with no display in its environment.
#include "support/ImageCompare.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kTool = std::string(VELMORA_BINARY_DIR) + "/velmora-render";

class VelmoraRender : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = testsupport::makeTempDir("VelmoraRender");
        mesh = dir + "/sample.tri";
        const auto r = testsupport::runProcess({std::string(VELMORA_BINARY_DIR) + "/make_sample_mesh", mesh, "60", "24"});
        ASSERT_EQ(r.exitStatus, 0) << r.err;
    }

    // velmora-render with `args`, DISPLAY removed from its environment.
    static testsupport::ProcessResult render(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"/usr/bin/env", "-u", "DISPLAY", "-u", "XAUTHORITY", kTool});
        return testsupport::runProcess(args, {}, dir);
    }

    static testsupport::RgbaImage image(const std::string &name)
    {
        testsupport::RgbaImage picture;
        std::string error;
        EXPECT_TRUE(testsupport::readPng(dir + "/" + name, picture, error)) << error;
        return picture;
    }

    static std::string dir, mesh;
};

std::string VelmoraRender::dir, VelmoraRender::mesh;

TEST_F(VelmoraRender, ErrorsAreOneLineOnStandardErrorAndStatusOne)
{
    const std::vector<std::vector<std::string>> cases = {
        {"-o", "a.png", "missing.tri"},
        {"-o", "a.png"},
        {"sample.tri"},
        {"--size", "0x5", "-o", "a.png", "sample.tri"},
        {"--size", "640", "-o", "a.png", "sample.tri"},
        {"--size", "64x48x2", "-o", "a.png", "sample.tri"},
        {"--mode", "glow", "-o", "a.png", "sample.tri"},
        {"--background", "1,2", "-o", "a.png", "sample.tri"},
        {"--view", "36", "-o", "a.png", "sample.tri"},
        {"--photo-opacity", "1.5", "-o", "a.png", "sample.tri"},
        {"-c", "missing.dat", "-o", "a.png", "sample.tri"},
        {"-o", "no/such/folder/a.png", "sample.tri"},
        {"-o", "no/such/folder/a.eps", "sample.tri"},
        {"--size"},
    };
    for (const auto &args : cases) {
        const auto r = render(args);
        std::string shown;
        for (const auto &a : args)
            shown += a + " ";
        EXPECT_EQ(r.exitStatus, 1) << shown;
        EXPECT_EQ(r.err.rfind("velmora-render: ", 0), 0u) << shown << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << shown << "one line: " << r.err;
    }
    // A camera file that is there but unusable: the line says why, as the viewer does.
    std::ofstream(dir + "/empty.dat").close();
    EXPECT_EQ(render({"-c", "empty.dat", "-o", "a.png", "sample.tri"}).err,
              "velmora-render: Unable to load camera file: the file is empty: empty.dat\n");
}

TEST_F(VelmoraRender, WritesThePictureOrTheDocumentWithoutADisplay)
{
    auto r = render({"--size", "96x64", "-o", "shade.png", "sample.tri"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const testsupport::RgbaImage shade = image("shade.png");
    EXPECT_EQ(shade.width, 96);
    EXPECT_EQ(shade.height, 64);
    EXPECT_EQ(shade.at(0, 0)[0], 191) << "the viewer's grey background";

    // The sample's texture is read on first use; a mesh without one is said so and drawn
    // shaded.
    std::string message;
    r = render({"--size", "96x64", "--mode", "texture", "-o", "texture.png", "sample.tri"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err.find("has no texture"), std::string::npos) << r.err;
    EXPECT_FALSE(testsupport::imagesMatch(image("texture.png"), shade, message));
    {
        std::ifstream in(mesh, std::ios::binary);
        std::ofstream out(dir + "/untextured.tri", std::ios::binary);
        out << in.rdbuf();
    }
    r = render({"--size", "96x64", "--mode", "texture", "-o", "untextured.png", "untextured.tri"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("has no texture"), std::string::npos) << r.err;
    EXPECT_TRUE(testsupport::imagesMatch(image("untextured.png"), shade, message)) << message;

    // Other modes and settings change the picture.
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"--mode", "wire"}, {"--mode", "data"}, {"--view", "9"}, {"--background", "0,0,1"}}) {
        std::vector<std::string> all = {"--size", "96x64", "-o", "other.png", "sample.tri"};
        all.insert(all.begin(), args.begin(), args.end());
        r = render(all);
        ASSERT_EQ(r.exitStatus, 0) << args[0] << " " << r.err;
        EXPECT_FALSE(testsupport::imagesMatch(image("other.png"), shade, message)) << args[0] << " " << args[1];
    }

    r = render({"--size", "96x64", "-o", "frame.eps", "sample.tri"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::ifstream eps(dir + "/frame.eps");
    std::string first, second;
    std::getline(eps, first);
    std::getline(eps, second);
    EXPECT_EQ(first, "%!PS-Adobe-2.0 EPSF-2.0");
    EXPECT_EQ(second, "%%BoundingBox: 0 0 96 64");
}

// PSNR of `got` against `want` over the pixels the splats cover (those of `want` that are not
// the black background).
double coveredPsnr(const testsupport::RgbaImage &want, const testsupport::RgbaImage &got)
{
    double sum = 0;
    size_t n = 0;
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x) {
            const unsigned char *a = want.at(x, y), *b = got.at(x, y);
            if (a[0] + a[1] + a[2] == 0)
                continue;
            for (int c = 0; c < 3; ++c)
                sum += (a[c] - b[c]) * (a[c] - b[c]);
            n += 3;
        }
    EXPECT_GT(n, 3000u) << "the splats cover too little of the frame";
    return sum == 0 ? 200 : 10 * std::log10(255.0 * 255 * static_cast<double>(n) / sum);
}

// A scene written by another converter in each format is drawn from the same camera as the
// PLY it came from, within that format's loss; what --save-splats writes is too.
TEST_F(VelmoraRender, DrawsEachSplatFormatAsThePlyItCameFrom)
{
    const std::string data = std::string(VELMORA_SOURCE_DIR) + "/tests/data/splats/";
    const auto draw = [&](const std::string &file, const std::string &out) {
        const auto r = render({"--size", "128x128", "--mode", "splats", "--background", "0,0,0", "-o", out, file});
        EXPECT_EQ(r.exitStatus, 0) << file << " " << r.err;
        return image(out);
    };
    const testsupport::RgbaImage source = draw(data + "source.ply", "source.png");
    testsupport::ProcessResult r;
    for (const char *saved : {"saved.ply", "saved.spz"}) {
        r = render({"--save-splats", saved, data + "source.ply"});
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_NE(r.out.find("300 splats written to"), std::string::npos) << r.out;
    }
    const struct {
        std::string file;
        double psnr;
    } cases[] = {{data + "converter.glb", 55}, {data + "converter_v3.spz", 40}, {data + "converter_v4.spz", 40},
                 {data + "converter.compressed.ply", 40}, {data + "converter.sog", 44}, {data + "converter.splat", 35},
                 {data + "converter_lod/lod-meta.json", 44}, {dir + "/saved.spz", 40}, {dir + "/saved.ply", 200}};
    for (const auto &c : cases) {
        const double psnr = coveredPsnr(source, draw(c.file, "format.png"));
        EXPECT_GE(psnr, c.psnr) << c.file;
        std::printf("%s: %.1f dB\n", c.file.c_str(), psnr);
    }
}

// A cloud just above the still budget (3,000,000 points) is drawn at the budget and said so;
// --all-points draws it whole and has nothing to say.
TEST_F(VelmoraRender, SaysWhenACloudIsDrawnAtTheStillBudget)
{
    const auto made = testsupport::runProcess(
        {std::string(VELMORA_BINARY_DIR) + "/make_dense_cloud", dir + "/big.ply", "3000100"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    auto r = render({"--size", "32x32", "-o", "big.png", "big.ply"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("a cloud of 3000100 points is drawn with 3000000 of them (the still budget); --all-points"),
              std::string::npos)
        << r.err;
    r = render({"--size", "32x32", "--all-points", "-o", "big.png", "big.ply"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::remove((dir + "/big.ply").c_str());
}

} // namespace
