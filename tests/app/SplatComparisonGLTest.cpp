// The PSNR key against the sample trainer folder: the figure it prints for an original view is
// the one a script computes from velmora-render's picture of that view and the photograph.
#include "app/GLMachine.h"
#include "app/SplatComparison.h"
#include "app/ViewEvaluation.h"
#include "camera/GLCamera.h"
#include "core/KeyCodes.h"
#include "formats/SplatWriter.h"
#include "image/Bitmap.h"
#include "objects/GLSplatObject.h"
#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <cstdlib>
#include <string>

namespace {

const std::string kBin = VELMORA_BINARY_DIR;

// PSNR over the RGB channels of two pictures of one size, as a script computes it.
double psnr(const testsupport::RgbaImage &a, const testsupport::RgbaImage &b)
{
    double se = 0;
    size_t n = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            for (int ch = 0; ch < 3; ++ch, ++n) {
                const double d = a.at(x, y)[ch] - b.at(x, y)[ch];
                se += d * d;
            }
    return 10 * std::log10(255.0 * 255.0 * static_cast<double>(n) / se);
}

// Steps the scene's camera to `view` as the arrow keys do, presses the PSNR key and returns
// what it printed.
std::string keyAtView(GLMachine &machine, int view, testsupport::CapturedMessages &messages)
{
    GLCamera *camera = machine.getCurrentCamera();
    EXPECT_NE(camera, nullptr);
    if (!camera)
        return {};
    for (int i = 0; i <= view; ++i)
        camera->notifyCommand(GLCamera::NEXT_VIEW);
    camera->notifyCommand(GLCamera::PREVIOUS_VIEW);
    EXPECT_EQ(camera->getCurrentView(), view);
    EXPECT_TRUE(SplatComparison::printPsnr(machine));
    return messages.take();
}

TEST(SplatComparison, KeyPrintsThePsnrOfTheRenderedViewAgainstItsPhotograph)
{
    const std::string dir = testsupport::makeTempDir("splat_sample");
    auto made = testsupport::runProcess({kBin + "/make_sample_splats", dir, "20000"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    const int view = 5;
    auto rendered = testsupport::runProcess({"/usr/bin/env", "-u", "DISPLAY", kBin + "/velmora-render", "--mode",
                                             "splats", "--view", std::to_string(view), "--size", "512x384", "-o",
                                             dir + "/view5.png", dir});
    ASSERT_EQ(rendered.exitStatus, 0) << rendered.err;
    testsupport::RgbaImage drawn, photo;
    std::string error;
    ASSERT_TRUE(testsupport::readPng(dir + "/view5.png", drawn, error)) << error;
    ASSERT_TRUE(testsupport::readPng(dir + "/images/view05.png", photo, error)) << error;
    ASSERT_EQ(drawn.width, photo.width);
    ASSERT_EQ(drawn.height, photo.height);
    char expected[64];
    std::snprintf(expected, sizeof expected, "PSNR %.2f dB", psnr(drawn, photo));

    GLMachine machine(512, 384);
    testsupport::CapturedMessages messages;
    const char *files[] = {dir.c_str()};
    machine.registerStartFiles(nullptr, 1, files);
    // The grey velmora-render draws over, chosen so that the key keeps it.
    machine.setBackgroundColor(Point4(0.75f, 0.75f, 0.75f, 1));
    std::string text;
    ASSERT_NO_FATAL_FAILURE(text = keyAtView(machine, view, messages));
    EXPECT_NE(text.find(expected), std::string::npos) << text << "\nexpected " << expected;
    EXPECT_NE(text.find("view05.png (view 5)"), std::string::npos) << text;

    // Left to itself, the key measures over the photographs' background, which suits them better.
    GLMachine unset(512, 384);
    unset.registerStartFiles(nullptr, 1, files);
    testsupport::CapturedMessages itsMessages;
    std::string own;
    ASSERT_NO_FATAL_FAILURE(own = keyAtView(unset, view, itsMessages));
    EXPECT_NE(own.find("; background of the photographs "), std::string::npos) << own;
    const auto figure = [](const std::string &line) { return std::atof(line.c_str() + line.find("PSNR ") + 5); };
    EXPECT_GT(figure(own), figure(text)) << own << text;
}

// A camera file whose views have silhouettes: the key also measures inside the silhouette,
// as a script does from velmora-render's picture, the photograph and the silhouette.
TEST(SplatComparison, KeyAlsoMeasuresInsideTheSilhouetteOfAViewThatHasOne)
{
    const std::string dir = testsupport::makeTempDir("splat_silhouette");
    auto made = testsupport::runProcess({kBin + "/make_sample_scene", dir, "12", "120", "48"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    // Splats about the origin, where the sample model lies, larger than a pixel.
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1, 1);
    std::vector<float> values;
    for (int k = 0; k < 3000; ++k)
        values.insert(values.end(), {2 * u(rng), 2 * u(rng), u(rng), 0, 0, 1, u(rng), u(rng), u(rng), 2,
                                     std::log(0.08f), std::log(0.05f), std::log(0.08f), 1, u(rng), u(rng), u(rng)});
    const std::string splats = dir + "/splats.ply";
    ASSERT_TRUE(SplatWriter::write(splats, 0, values));
    const int view = 3;
    auto rendered = testsupport::runProcess({"/usr/bin/env", "-u", "DISPLAY", kBin + "/velmora-render", "-c",
                                             dir + "/scene.dat", "--mode", "splats", "--view", std::to_string(view),
                                             "--size", "1024x768", "-o", dir + "/view3.png", splats});
    ASSERT_EQ(rendered.exitStatus, 0) << rendered.err;
    testsupport::RgbaImage drawn;
    std::string error;
    ASSERT_TRUE(testsupport::readPng(dir + "/view3.png", drawn, error)) << error;
    Bitmap photo;
    photo.loadImage((dir + "/seq/view03.ppm").c_str());
    int sw = 0, sh = 0;
    const std::vector<unsigned char> inside = ViewEvaluation::readSilhouette(dir + "/sil/view03.sil", sw, sh);
    ASSERT_EQ(sw, drawn.width);
    ASSERT_EQ(sh, drawn.height);
    ASSERT_EQ(photo.getWidth(), drawn.width);
    double se = 0;
    size_t n = 0, covered = 0;
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            if (!inside[static_cast<size_t>(y * sw + x)])
                continue;
            const unsigned char *p = &photo.get(x, y).r;
            for (int ch = 0; ch < 3; ++ch, ++n) {
                const double d = drawn.at(x, y)[ch] - p[ch];
                se += d * d;
            }
            covered += drawn.at(x, y)[0] != drawn.at(0, 0)[0];
        }
    ASSERT_GT(covered, 1000u); // the splats reach into the silhouette
    char expected[64];
    std::snprintf(expected, sizeof expected, "inside the silhouette %.2f dB",
                  10 * std::log10(255.0 * 255.0 * static_cast<double>(n) / se));

    GLMachine machine(1024, 768);
    testsupport::CapturedMessages messages;
    const char *files[] = {splats.c_str()};
    machine.registerStartFiles((dir + "/scene.dat").c_str(), 1, files);
    // The grey velmora-render draws over, chosen so that the key keeps it.
    machine.setBackgroundColor(Point4(0.75f, 0.75f, 0.75f, 1));
    std::string text;
    ASSERT_NO_FATAL_FAILURE(text = keyAtView(machine, view, messages));
    EXPECT_NE(text.find(expected), std::string::npos) << text << "\nexpected " << expected;
}

} // namespace
