// Captures from the viewer's own window: the larger-than-window capture draws in the window's
// OpenGL context (through a capture buffer) and leaves the window's frames alone.
#include "gui/MainInterface.h"

#include "app/GLMachine.h"
#include "support/ImageCompare.h"
#include "support/TestObject.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

TEST(WindowCapture, ScaledAndVectorCapturesOfTheShownView)
{
    const std::string dir = testsupport::makeTempDir("WindowCapture");
    MainInterface *window = nullptr;
    std::unique_ptr<GLMachine> machine(new GLMachine(256, 192, [&window](GLMachine *m, int w, int h) {
        window = new MainInterface(m, "Velmora", w, h);
        return std::unique_ptr<SceneWindow>(window);
    }));
    for (int i = 0; i < 50 && gtk_events_pending(); ++i)
        gtk_main_iteration_do(FALSE);
    ASSERT_TRUE(window->makeCurrent(false));
    testing::internal::CaptureStdout();
    machine->registerObject("default.dat");
    testsupport::TestObject *box = testsupport::TestObject::box(Point3(0, 0, 0), Point3(1, 1, 1));
    box->useSurface();
    machine->registerObject(box, "box");

    ASSERT_TRUE(machine->saveFrameBuffer((dir + "/one.png").c_str()));
    machine->setCaptureScale(3);
    ASSERT_TRUE(machine->saveFrameBuffer((dir + "/three.png").c_str()));
    EXPECT_TRUE(machine->saveVectorFrame((dir + "/frame.eps").c_str()));
    testing::internal::GetCapturedStdout();

    testsupport::RgbaImage one, three;
    std::string error;
    ASSERT_TRUE(testsupport::readPng(dir + "/one.png", one, error)) << error;
    ASSERT_TRUE(testsupport::readPng(dir + "/three.png", three, error)) << error;
    ASSERT_EQ(three.width, 768);
    ASSERT_EQ(three.height, 576);
    // Sampled at the centre of every 3 x 3 block, the large capture is the small one but for
    // pixels along the box's edges.
    testsupport::RgbaImage sampled = one;
    for (int y = 0; y < one.height; ++y)
        for (int x = 0; x < one.width; ++x)
            std::copy(three.at(3 * x + 1, 3 * y + 1), three.at(3 * x + 1, 3 * y + 1) + 4,
                      sampled.pixels.begin() + (static_cast<size_t>(y) * one.width + x) * 4);
    testsupport::Tolerance edges;
    edges.maxMeanDiff = 2;
    edges.maxBadShare = 0.03;
    EXPECT_TRUE(testsupport::imagesMatch(sampled, one, error, edges)) << error;

    // The window still shows and captures its own frame.
    machine->setCaptureScale(1);
    ASSERT_TRUE(machine->saveFrameBuffer((dir + "/again.png").c_str()));
    testsupport::RgbaImage again;
    ASSERT_TRUE(testsupport::readPng(dir + "/again.png", again, error)) << error;
    EXPECT_TRUE(testsupport::imagesMatch(again, one, error)) << error;
    EXPECT_GT(std::filesystem::file_size(dir + "/frame.eps"), 1000u);
}

} // namespace
