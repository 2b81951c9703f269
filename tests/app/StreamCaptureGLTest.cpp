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
#include <fstream>
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
// the node until it had come. A capture of every point of a cloud larger than half the memory
// (a node a part) reads the parts after the first inside its frame,
// behind the same window: the frames asked for meanwhile wait for its end.
TEST(StreamCapture, CapturesAndFlightsReadTheNodesBeforeTheirFrame)
{
    testsupport::Nginx server;
    ASSERT_TRUE(testsupport::accepts(server.port)) << "nginx did not start (setup.sh installs nginx-light)";
    const std::string data = std::string(VELMORA_SOURCE_DIR) + "/tests/data/";
    std::filesystem::copy(data + "ept/1.2-with-color", server.dir + "/www/data/ept",
                          std::filesystem::copy_options::recursive);
    // The same points again in a child node: a cloud of two nodes, a node a part below.
    const std::string two = server.dir + "/www/data/ept2";
    std::filesystem::copy(server.dir + "/www/data/ept", two, std::filesystem::copy_options::recursive);
    std::filesystem::copy(two + "/ept-data/0-0-0-0.laz", two + "/ept-data/1-0-0-0.laz");
    std::ofstream(two + "/ept-hierarchy/0-0-0-0.json") << R"({"0-0-0-0": 1065, "1-0-0-0": 1065})";
    const std::string cache = server.dir + "/cache";
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    enum Case { Cancelled, Captured, Flight, InParts, CancelledInFrame };
    for (const Case c : {Cancelled, Captured, Flight, InParts, CancelledInFrame}) {
        SCOPED_TRACE(c);
        const bool parts = c == InParts || c == CancelledInFrame;
        const std::string address = server.url(parts ? "/slow/ept2/ept.json" : "/slow/ept/ept.json");
        std::filesystem::remove_all(cache); // the nodes come from the server each time
        testsupport::ProgressHost host;
        host.cancel = c == Cancelled;
        GLMachine machine(96, 96, [&host](GLMachine *m, int w, int h) {
            return std::unique_ptr<SceneWindow>(new HostedWindow(m, w, h, host));
        });
        machine.setCaptureEveryPoint(parts);
        testsupport::CapturedMessages said;
        auto *camera = dynamic_cast<GLCamera *>(machine.registerObject("default.dat"));
        auto *cloud = dynamic_cast<GLPointStreamObject *>(machine.registerObject(address.c_str()));
        ASSERT_TRUE(camera && cloud) << said.take();
        if (parts)
            cloud->setMemoryBudget(1);
        size_t frames = 0, asked = 0, inFrame = 0;
        host.shown = [&] {
            inFrame += machine.drawingFrame();
            host.cancel = host.cancel || (c == CancelledInFrame && machine.drawingFrame());
            machine.draw();
            ++frames;
            asked += cloud->getStream().pending();
        };
        std::string picture = server.dir + "/capture.png";
        std::filesystem::remove(picture);
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
            EXPECT_EQ(machine.saveFrameBuffer(picture.c_str()), c == Captured || c == InParts);
        }
        const std::string text = said.take();
        EXPECT_EQ(host.titles.size(),
                  std::count(host.titles.begin(), host.titles.end(), "Reading " + address));
        EXPECT_GT(frames, 0u);
        EXPECT_EQ(parts, inFrame > 0) << "the windows answered inside the capture's frame";
        // (The flight draws an ordinary frame first, which asks for the node.)
        EXPECT_TRUE(c == Flight || asked == 0) << "a frame drawn while the capture read asked for a node";
        if (c == Cancelled || c == CancelledInFrame) {
            // The node's transfer ended with the cancel; the node is read again when wanted.
            EXPECT_FALSE(c == Cancelled &&
                         (cloud->getStream().resident(0) || cloud->getStream().hasFailed(0)));
            EXPECT_FALSE(std::filesystem::exists(picture));
            EXPECT_NE(text.find("capture cancelled"), std::string::npos) << text;
            continue;
        }
        EXPECT_TRUE(std::filesystem::exists(picture));
        EXPECT_EQ(cloud->getDrawnCount(), parts ? 2130u : 1065u) << "the last frame drew every point";
    }
}
