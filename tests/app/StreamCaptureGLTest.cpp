// ctest-label: thread
#include "app/GLMachine.h"
#include "app/OffscreenWindow.h"
#include "camera/GLCamera.h"
#include "camera/GLCameraAnimationImpl.h"
#include "objects/GLPointStreamObject.h"
#include "support/CapturedMessages.h"
#include "support/LocalServer.h"
#include "support/ProgressHost.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

// The off-screen window, with a host whose progress windows the test sees and that draws the
// frames asked for at once in it.
class HostedWindow : public OffscreenWindow {
public:
    HostedWindow(GLMachine *m, int width, int height, testsupport::ProgressHost &h)
        : OffscreenWindow(m, width, height), host(h)
    {
        host.view = this;
    }
    ElementHost &elementHost() override { return host; }

private:
    testsupport::ProgressHost &host;
};

} // namespace

// A capture, or a flight's frame, of a cloud whose node comes slowly (about a second) reads the
// node before its frame, behind a progress window (the window's frames drawn meanwhile ask for
// no node), and that window's "Cancel" cancels the capture. An ordinary frame would draw none of
// the node until it had come.
TEST(StreamCapture, CapturesAndFlightsReadTheNodesBeforeTheirFrame)
{
    testsupport::Nginx server;
    ASSERT_TRUE(testsupport::accepts(server.port)) << "nginx did not start (setup.sh installs nginx-light)";
    std::filesystem::copy(std::string(VELMORA_SOURCE_DIR) + "/tests/data/ept/1.2-with-color",
                          server.dir + "/www/data/ept", std::filesystem::copy_options::recursive);
    const std::string cache = server.dir + "/cache", address = server.url("/slow/ept/ept.json");
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    enum Case { Cancelled, Captured, Flight };
    for (const Case c : {Cancelled, Captured, Flight}) {
        SCOPED_TRACE(c);
        std::filesystem::remove_all(cache); // the node comes from the server each time
        testsupport::ProgressHost host;
        host.cancel = c == Cancelled;
        GLMachine machine(96, 96, [&host](GLMachine *m, int w, int h) {
            return std::unique_ptr<SceneWindow>(new HostedWindow(m, w, h, host));
        });
        testsupport::CapturedMessages said;
        auto *camera = dynamic_cast<GLCamera *>(machine.registerObject("default.dat"));
        auto *cloud = dynamic_cast<GLPointStreamObject *>(machine.registerObject(address.c_str()));
        ASSERT_TRUE(camera && cloud) << said.take();
        size_t frames = 0, asked = 0;
        host.shown = [&] {
            machine.draw();
            ++frames;
            asked += cloud->getStream().pending();
        };
        std::string picture = server.dir + "/capture.png";
        if (c == Flight) {
            camera->setAnimationInterface(true);
            auto *flight = static_cast<GLCameraAnimationImpl *>(camera->getAnimation());
            camera->backupPosition();
            for (const float a : {0.0f, 0.3f}) {
                camera->setPosition(a, 0);
                flight->add();
            }
            flight->speedChange(2); // frames a second, for a second
            flight->timeChange(1);
            EXPECT_EQ(flight->exportToImage((server.dir + "/flight.png").c_str()), GLCameraAnimationImpl::EXPORT_DONE);
            camera->setAnimationInterface(false);
            picture = server.dir + "/flight0001.png";
        } else {
            EXPECT_EQ(machine.saveFrameBuffer(picture.c_str()), c == Captured);
        }
        const std::string text = said.take();
        EXPECT_EQ(host.titles, std::vector<std::string>{"Reading " + address});
        EXPECT_GT(frames, 0u);
        // (The flight draws an ordinary frame first, which asks for the node.)
        EXPECT_TRUE(c == Flight || asked == 0) << "a frame drawn while the capture read asked for a node";
        if (c == Cancelled) {
            // The node's transfer ended with the cancel; the node is read again when wanted.
            EXPECT_FALSE(cloud->getStream().resident(0) || cloud->getStream().hasFailed(0));
            EXPECT_FALSE(std::filesystem::exists(picture));
            EXPECT_NE(text.find("capture cancelled"), std::string::npos) << text;
            continue;
        }
        EXPECT_TRUE(std::filesystem::exists(picture));
        EXPECT_EQ(cloud->getDrawnCount(), 1065u) << "the last frame drew every point";
    }
}
