// Carving a splat scene by its photographs' silhouettes, end to end through velmora-render: a
// sphere of 200,000 splats on its surface and 5,000 floaters around it, seen by 24 calibrated
// views (a COLMAP model, with a few points of its own, whose masks lie beside its images, as
// reconstruction tools keep them) whose photographs show the sphere alone.
#include "camera/ReconstructionTestFiles.h"
#include "formats/SplatFile.h"
#include "image/ImageCodecs.h"
#include "support/ImageCompare.h"
#include "support/Process.h"
#include "synthesis/SplatRaster.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

const std::string kTool = std::string(VELMORA_BINARY_DIR) + "/velmora-render";
constexpr size_t kSurface = 200000, kFloaters = 5000;
constexpr int kWidth = 64, kHeight = 48;
constexpr double kFocal = 44;

// Splat i of the scene: the first kSurface on the unit sphere, the rest between radii 1.4
// and 2.4 around it.
SplatScene sphereWithFloaters(bool withFloaters)
{
    std::mt19937 rng(38);
    std::normal_distribution<float> gauss;
    std::uniform_real_distribution<float> radius(1.4f, 2.4f), colour(0.f, 1.f);
    SplatScene s;
    s.resize(withFloaters ? kSurface + kFloaters : kSurface, 0);
    for (size_t i = 0; i < s.count; ++i) {
        float d[3] = {gauss(rng), gauss(rng), gauss(rng)};
        const float length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        const bool floater = i >= kSurface;
        const float r = floater ? radius(rng) : 1.f;
        for (int k = 0; k < 3; ++k) {
            s.position[3 * i + k] = r * d[k] / length;
            s.scale[3 * i + k] = floater ? 0.02f : 0.012f;
            // The surface coloured by where it faces, the floaters grey to white.
            const float c = floater ? 0.6f + 0.4f * colour(rng) : 0.5f + 0.45f * d[k] / length;
            s.dc[3 * i + k] = (c - 0.5f) / 0.2820948f;
        }
        s.rotation[4 * i] = 1;
        s.opacity[i] = floater ? 0.6f : 0.95f;
    }
    return s;
}

class VelmoraCarve : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = testsupport::makeTempDir("VelmoraCarve");
        recontest::Model m;
        m.intrinsics.push_back(
            {1, "PINHOLE", 1, kWidth, kHeight, {kFocal, kFocal, 32, 24}, kFocal, kFocal, 32, 24});
        // Three rings of eight views 4 units from the centre, looking at it.
        for (int i = 0; i < 24; ++i) {
            const double h = (2 * M_PI * (i % 8) / 8 + 0.3 * (i / 8)) / 2, tilt = 0.45 * (i / 8 - 1) / 2;
            const double qy[4] = {std::cos(h), 0, std::sin(h), 0}, qx[4] = {std::cos(tilt), std::sin(tilt), 0, 0};
            const double q[4] = {qy[0] * qx[0], qy[0] * qx[1], qy[2] * qx[0], -qy[2] * qx[1]};
            double R[9];
            recontest::rotationOf(q, R);
            m.cams.push_back(recontest::camera("v" + std::to_string(100 + i) + ".png", i + 1, 1, q,
                                               {-4 * R[6], -4 * R[7], -4 * R[8]}));
        }
        // A few points of the model's own: the splat scene beside the model is what is cleaned.
        m.points = {{0, 0, 0}, {0.5, 0.2, -0.1}};
        for (const char *sub : {"/model", "/model/images", "/model/masks"})
            mkdir((dir + sub).c_str(), 0755);
        recontest::writeColmapText(m, dir + "/model");
        const SplatScene sphere = sphereWithFloaters(false);
        for (const recontest::Cam &c : m.cams) {
            SplatCamera view;
            recontest::rotationOf(c.q, view.R);
            std::copy(c.t, c.t + 3, view.t);
            view.fx = view.fy = kFocal;
            view.cx = 32;
            view.cy = 24;
            view.width = kWidth;
            view.height = kHeight;
            SplatRasterOptions options;
            options.shDegree = 0;
            const float black[3] = {0, 0, 0};
            const std::vector<unsigned char> photo = SplatRaster::render(sphere, view, options).composite8(black);
            ASSERT_EQ(imagecodecs::writePng((dir + "/model/images/" + c.name).c_str(), photo.data(), kWidth, kHeight, 3),
                      imagecodecs::Written);
            // The silhouette: the pixels whose ray meets the sphere.
            const double *R = view.R, *t = view.t;
            const double C[3] = {-(R[0] * t[0] + R[3] * t[1] + R[6] * t[2]), -(R[1] * t[0] + R[4] * t[1] + R[7] * t[2]),
                                 -(R[2] * t[0] + R[5] * t[1] + R[8] * t[2])};
            std::vector<unsigned char> mask(3 * static_cast<size_t>(kWidth) * kHeight);
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) {
                    const double d[3] = {(x + 0.5 - 32) / kFocal, (y + 0.5 - 24) / kFocal, 1};
                    double w[3], dd = 0, cd = 0, cc = 0;
                    for (int k = 0; k < 3; ++k) {
                        w[k] = R[k] * d[0] + R[3 + k] * d[1] + R[6 + k] * d[2];
                        dd += w[k] * w[k];
                        cd += C[k] * w[k];
                        cc += C[k] * C[k];
                    }
                    mask[3 * (static_cast<size_t>(y) * kWidth + x)] = cc - cd * cd / dd < 1 ? 255 : 0;
                }
            ASSERT_EQ(imagecodecs::writePng((dir + "/model/masks/" + c.name + ".png").c_str(), mask.data(), kWidth,
                                            kHeight, 3),
                      imagecodecs::Written);
        }
        ASSERT_TRUE(SplatFile::write(dir + "/splats.ply", sphereWithFloaters(true)));
    }

    static testsupport::ProcessResult run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"/usr/bin/env", "-u", "DISPLAY", kTool});
        return testsupport::runProcess(args, {}, dir);
    }

    // The mean PSNR of the scene `splats` against the photographs.
    static double meanPsnr(const std::string &splats)
    {
        const auto r = run({"--evaluate", "--background", "0,0,0", "--json", splats + ".json", "model", splats});
        EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
        std::ifstream in(dir + "/" + splats + ".json");
        const nlohmann::json psnr = nlohmann::json::parse(in).at("mean").at("psnr");
        // Frames equal to their photographs have no noise at all: "inf".
        return psnr.is_string() && psnr.get<std::string>() == "inf" ? HUGE_VAL : psnr.get<double>();
    }

    static std::string dir;
};

std::string VelmoraCarve::dir;

TEST_F(VelmoraCarve, FloatersGoTheSurfaceStaysThePictureImprovesAndTheSavedSplatsAreTheKeptOnes)
{
    const auto r = run({"--carve", "2", "--save", "carved.ply", "model", "splats.ply"});
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    const SplatScene before = sphereWithFloaters(true);
    const SplatScene after = SplatFile::read((dir + "/carved.ply").c_str());
    // The kept splats come back in their order: walk both scenes side by side.
    size_t surfaceKept = 0, floatersKept = 0, j = 0;
    for (size_t i = 0; i < before.count && j < after.count; ++i) {
        if (std::fabs(after.position[3 * j] - before.position[3 * i]) > 1e-6f ||
            std::fabs(after.position[3 * j + 1] - before.position[3 * i + 1]) > 1e-6f ||
            std::fabs(after.position[3 * j + 2] - before.position[3 * i + 2]) > 1e-6f)
            continue;
        EXPECT_NEAR(after.opacity[j], before.opacity[i], 1e-5f) << i;
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(after.scale[3 * j + k], before.scale[3 * i + k], 1e-6f) << i;
            EXPECT_NEAR(after.dc[3 * j + k], before.dc[3 * i + k], 1e-6f) << i;
        }
        (i < kSurface ? surfaceKept : floatersKept) += 1;
        ++j;
    }
    EXPECT_EQ(j, after.count) << "splats saved that the scene did not have in that order";
    EXPECT_GE(surfaceKept, kSurface * 995 / 1000) << r.out;
    EXPECT_LE(floatersKept, kFloaters / 100) << r.out;
    EXPECT_NE(r.out.find("carve: " + std::to_string(before.count - after.count) + " removed"), std::string::npos)
        << r.out;

    const double psnrBefore = meanPsnr("splats.ply"), psnrAfter = meanPsnr("carved.ply");
    EXPECT_GT(psnrAfter, psnrBefore + 1) << psnrBefore << " dB before carving";
}

} // namespace
