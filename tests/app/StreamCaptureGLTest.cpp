// ctest-label: thread
#include "app/GLMachine.h"
#include "app/OffscreenWindow.h"
#include "objects/GLPointStreamObject.h"
#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"
#include "support/LocalServer.h"
#include "support/ProgressHost.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// The off-screen window, with a host whose progress windows the test sees.
class HostedWindow : public OffscreenWindow {
public:
    HostedWindow(GLMachine *m, int width, int height, ElementHost &h) : OffscreenWindow(m, width, height), host(h) {}
    ElementHost &elementHost() override { return host; }

private:
    ElementHost &host;
};

} // namespace

// A capture of a cloud whose node comes slowly reads the node before the capture's frame,
// behind a progress window (the window's frames drawn meanwhile ask for no node), and the
// window's "Cancel" cancels the capture; otherwise the capture shows the node's points.
TEST(StreamCapture, ASlowNodeIsReadBeforeTheFrameBehindAProgressWindow)
{
    testsupport::Nginx server;
    ASSERT_TRUE(testsupport::accepts(server.port)) << "nginx did not start (setup.sh installs nginx-light)";
    std::filesystem::copy(std::string(VELMORA_SOURCE_DIR) + "/tests/data/ept/1.2-with-color",
                          server.dir + "/www/data/ept", std::filesystem::copy_options::recursive);
    const std::string cache = testing::TempDir() + "/capture-cache-" + std::to_string(getpid());
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    const std::string address = server.url("/slow/ept/ept.json"), png = server.dir + "/capture.png";
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
        testsupport::RgbaImage image;
        std::string error;
        ASSERT_TRUE(testsupport::readPng(png, image, error)) << error;
        size_t lit = 0;
        for (size_t p = 0; p < image.pixels.size(); p += 4)
            lit += image.pixels[p] + image.pixels[p + 1] + image.pixels[p + 2] > 0;
        EXPECT_GT(lit, 100u);
    }
    std::filesystem::remove_all(cache);
}
