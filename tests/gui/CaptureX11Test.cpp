// Captures from the viewer's own window: the larger-than-window capture draws in the window's
// OpenGL context (through a capture buffer) and leaves the window's frames alone.
#include "gui/MainInterface.h"

#include "app/GLMachine.h"
#include "support/ImageCompare.h"
#include "support/TestObject.h"
#include "support/CapturedMessages.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
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
    testsupport::CapturedMessages captured;
    machine->registerObject("default.dat");
    testsupport::TestObject *box = testsupport::TestObject::box(Point3(0, 0, 0), Point3(1, 1, 1));
    box->useSurface();
    machine->registerObject(box, "box");

    ASSERT_TRUE(machine->saveFrameBuffer((dir + "/one.png").c_str()));
    // Each capture names its file on the message line as well, in place of the one before.
    EXPECT_EQ(window->getMessageLine(), "GLMachine: capture saved as " + dir + "/one.png");
    machine->setCaptureScale(3);
    ASSERT_TRUE(machine->saveFrameBuffer((dir + "/three.png").c_str()));
    EXPECT_EQ(window->getMessageLine(), "GLMachine: capture saved as " + dir + "/three.png");
    EXPECT_TRUE(machine->saveVectorFrame((dir + "/frame.eps").c_str()));
    {
        const std::filesystem::path before = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        machine->notifyCommand('C');
        std::filesystem::current_path(before);
    }
    EXPECT_EQ(window->getMessageLine(), "GLMachine: capture saved as capture0000.eps");
    captured.take();

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

// A box whose frames take long, as a large mesh's do on a software renderer.
class SlowBox : public testsupport::TestObject {
public:
    SlowBox()
        : TestObject({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0, 1, 1, 0, 1, 0, 1, 1, 1, 1, 1},
                     {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                      2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5})
    {
        drawMethod = static_cast<DrawMethod>(&SlowBox::slow);
    }
    void slow()
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        drawSurface();
    }
};

void pump()
{
    for (int i = 0; i < 200 && gtk_events_pending(); ++i)
        gtk_main_iteration_do(FALSE);
}

TEST(WindowCapture, ACaptureRightAfterASlowFrameTakesThatFrame)
{
    const std::string dir = testsupport::makeTempDir("WindowCaptureKept");
    MainInterface *window = nullptr;
    std::unique_ptr<GLMachine> machine(new GLMachine(256, 192, [&window](GLMachine *m, int w, int h) {
        window = new MainInterface(m, "Velmora", w, h);
        return std::unique_ptr<SceneWindow>(window);
    }));
    pump();
    ASSERT_TRUE(window->makeCurrent(false));
    testsupport::CapturedMessages captured;
    machine->registerObject("default.dat");
    SlowBox *box = new SlowBox;
    machine->registerObject(box, "box");
    captured.take();
    pump();
    auto capture = [&](const char *name, testsupport::RgbaImage &image) {
        std::string error;
        ASSERT_TRUE(machine->saveFrameBuffer((dir + "/" + name).c_str()));
        ASSERT_TRUE(testsupport::readPng(dir + "/" + name, image, error)) << error;
    };

    // The frame the window shows is the capture: nothing is drawn again.
    window->updateDisplay();
    int draws = box->surfaceDraws;
    testsupport::RgbaImage kept, drawn, afterClick;
    capture("kept.png", kept);
    EXPECT_EQ(box->surfaceDraws, draws);
    // Once a redraw was asked for, the capture draws its frame: the same picture.
    window->postRedisplay(false);
    capture("drawn.png", drawn);
    EXPECT_EQ(box->surfaceDraws, draws + 1);
    std::string error;
    testsupport::Tolerance exact;
    exact.maxMeanDiff = 0;
    exact.maxBadShare = 0;
    EXPECT_TRUE(testsupport::imagesMatch(kept, drawn, error, exact)) << error;

    // Input that asks for no redraw (here a button pressed on the control window, as when
    // another element is chosen in its list) still makes the kept frame stale: it may have
    // changed what the next frame shows.
    pump();
    window->updateDisplay();
    draws = box->surfaceDraws;
    GtkWidget *control = nullptr;
    GList *windows = gtk_window_list_toplevels();
    for (GList *w = windows; w; w = w->next) {
        const char *title = gtk_window_get_title(GTK_WINDOW(w->data));
        if (title && std::string(title) == "Interface")
            control = GTK_WIDGET(w->data);
    }
    g_list_free(windows);
    ASSERT_NE(control, nullptr);
    ASSERT_NE(control->window, nullptr);
    GdkEvent *press = gdk_event_new(GDK_BUTTON_PRESS);
    press->button.window = GDK_WINDOW(g_object_ref(control->window));
    press->button.button = 1;
    press->button.x = press->button.y = 2;
    gdk_event_put(press);
    gdk_event_free(press);
    pump();
    capture("after-click.png", afterClick);
    EXPECT_EQ(box->surfaceDraws, draws + 1);
}

} // namespace
