// ctest-label: thread
#include "app/GLMachine.h"
#include "app/OffscreenWindow.h"
#include "camera/GLCamera.h"
#include "camera/GLCameraAnimationImpl.h"
#include "objects/GLPointStreamObject.h"
#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"
#include "support/LocalServer.h"
#include "support/ProgressHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

// The off-screen window, with a host whose progress windows the test sees.
class HostedWindow : public OffscreenWindow {
public:
    HostedWindow(GLMachine *m, int width, int height, ElementHost &h) : OffscreenWindow(m, width, height), host(h) {}
    ElementHost &elementHost() override { return host; }

private:
    ElementHost &host;
};

// Serves the EPT set of another program under /slow/ (a node of 20 kB takes about a second),
// with the nodes cached in a folder of the test's own that starts empty; its address.
std::string serveSlowCloud(const testsupport::Nginx &server)
{
    std::filesystem::copy(std::string(VELMORA_SOURCE_DIR) + "/tests/data/ept/1.2-with-color",
                          server.dir + "/www/data/ept", std::filesystem::copy_options::recursive);
    const std::string cache = server.dir + "/cache";
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    std::filesystem::remove_all(cache);
    return server.url("/slow/ept/ept.json");
}

// The pixels of a picture unlike its lower-left corner (the background).
size_t pointPixels(const std::string &png)
{
    testsupport::RgbaImage image;
    std::string error;
    if (!testsupport::readPng(png, image, error))
        return ADD_FAILURE() << error, 0;
    size_t n = 0;
    for (size_t p = 0; p < image.pixels.size(); p += 4)
        n += !std::equal(&image.pixels[p], &image.pixels[p + 3], &image.pixels[0]);
    return n;
}

} // namespace

// A capture of a cloud whose node comes slowly reads the node before the capture's frame,
// behind a progress window (the window's frames drawn meanwhile ask for no node), and the
// window's "Cancel" cancels the capture; otherwise the capture shows the node's points.
TEST(StreamCapture, ASlowNodeIsReadBeforeTheFrameBehindAProgressWindow)
{
    testsupport::Nginx server;
    ASSERT_TRUE(testsupport::accepts(server.port)) << "nginx did not start (setup.sh installs nginx-light)";
    const std::string address = serveSlowCloud(server), png = server.dir + "/capture.png";
    const std::string cache = server.dir + "/cache";
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "captured");
        std::filesystem::remove_all(cache); // the node comes from the server each time
        testsupport::ProgressHost host;
        host.cancel = cancel;
        GLMachine machine(96, 96, [&host](GLMachine *m, int w, int h) {
            return std::unique_ptr<SceneWindow>(new HostedWindow(m, w, h, host));
        });
        testsupport::CapturedMessages said;
        auto *cloud = dynamic_cast<GLPointStreamObject *>(machine.registerObject(address.c_str()));
        ASSERT_NE(cloud, nullptr);
        size_t frames = 0, asked = 0;
        host.shown = [&] {
            machine.draw();
            ++frames;
            asked += cloud->getStream().pending();
        };
        EXPECT_EQ(machine.saveFrameBuffer(png.c_str()), !cancel);
        const std::string text = said.take();
        EXPECT_EQ(host.titles, std::vector<std::string>{"Reading " + address});
        EXPECT_GT(frames, 0u);
        EXPECT_EQ(asked, 0u) << "a frame drawn while the capture read asked for a node";
        EXPECT_EQ(std::filesystem::exists(png), !cancel);
        if (cancel) {
            EXPECT_NE(text.find("capture cancelled"), std::string::npos) << text;
            continue;
        }
        EXPECT_EQ(cloud->getDrawnCount(), 1065u);
        EXPECT_GT(pointPixels(png), 100u);
    }
}

// A film of a cloud whose node comes slowly: each frame is drawn whole, the node read first as
// for a capture (an ordinary frame draws none of it until it has come).
TEST(StreamCapture, AFilmsFramesAreDrawnWhole)
{
    testsupport::Nginx server;
    ASSERT_TRUE(testsupport::accepts(server.port));
    const std::string address = serveSlowCloud(server), dir = server.dir;
    GLMachine machine(96, 96);
    testsupport::CapturedMessages said;
    auto *camera = dynamic_cast<GLCamera *>(machine.registerObject("default.dat"));
    auto *cloud = dynamic_cast<GLPointStreamObject *>(machine.registerObject(address.c_str()));
    ASSERT_TRUE(camera && cloud) << said.take();
    // Film frames are drawn in the window the camera's host names.
    struct FilmHost : QuietHost {
        explicit FilmHost(ElementWindow &w) : view(w) {}
        void updateDisplay() override { view.updateDisplay(); }
        bool updateDisplayWhole() override { return view.updateDisplayWhole(); }
        ElementWindow &view;
    } host(*machine.getWindow());
    camera->attach(&host);
    camera->setAnimationInterface(true);
    auto *animation = static_cast<GLCameraAnimationImpl *>(camera->getAnimation());
    ASSERT_NE(animation, nullptr);
    camera->backupPosition();
    for (const float a : {0.0f, 0.3f}) {
        camera->setPosition(a, 0);
        animation->add();
    }
    animation->speedChange(2);
    animation->timeChange(1);
    ASSERT_EQ(animation->exportToImage((dir + "/film.png").c_str()), GLCameraAnimationImpl::EXPORT_DONE) << said.take();
    for (const char *frame : {"/film0000.png", "/film0001.png"})
        EXPECT_GT(pointPixels(dir + frame), 100u) << frame;
    EXPECT_EQ(cloud->getDrawnCount(), 1065u);
    camera->setAnimationInterface(false);
}
