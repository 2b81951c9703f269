// The PSNR key against the sample trainer folder: the figure it prints for an original view is
// the one a script computes from velmora-render's picture of that view and the photograph.
#include "app/GLMachine.h"
#include "app/SplatComparison.h"
#include "camera/GLCamera.h"
#include "core/KeyCodes.h"
#include "objects/GLSplatObject.h"
#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
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
    GLCamera *camera = machine.getCurrentCamera();
    ASSERT_NE(camera, nullptr);
    for (int i = 0; i <= view; ++i)
        camera->notifyCommand(GLCamera::NEXT_VIEW);
    camera->notifyCommand(GLCamera::PREVIOUS_VIEW);
    ASSERT_EQ(camera->getCurrentView(), view);
    EXPECT_TRUE(SplatComparison::printPsnr(machine));
    const std::string text = messages.take();
    EXPECT_NE(text.find(expected), std::string::npos) << text << "\nexpected " << expected;
    EXPECT_NE(text.find("view05.png (view 5)"), std::string::npos) << text;
}

} // namespace
