// ctest-label: thread
#include "objects/GLPointStreamObject.h"

#include "core/ElementHost.h"
#include "formats/LasReader.h"
#include "formats/LasTiling.h"
#include "formats/NodeCache.h"
#include "formats/PlyReader.h"
#include "formats/PointTiles.h"
#include "math/Messages.h"
#include "objects/GL3DObjectLoader.h"
#include "support/GLTestFixture.h"
#include "support/ImageCompare.h"
#include "support/LocalServer.h"
#include "support/ProgressHost.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

using testsupport::GLTestFixture;
using testsupport::Nginx;
using testsupport::ProgressHost;
using testsupport::RgbaImage;

const std::string kData = std::string(VELMORA_SOURCE_DIR) + "/tests/data/";

class PointStreamFrames : public GLTestFixture {
protected:
    static std::string cacheFolder() { return testing::TempDir() + "/stream-cache-" + std::to_string(getpid()); }
    void SetUp() override
    {
        GLTestFixture::SetUp();
        // Nodes fetched from the test servers go to a cache of the test's own (of this process:
        // the tests run side by side).
        setenv("XDG_CACHE_HOME", cacheFolder().c_str(), 1);
        std::filesystem::remove_all(cacheFolder());
    }
    void TearDown() override
    {
        std::filesystem::remove_all(cacheFolder());
        GLTestFixture::TearDown();
    }
    // The cloud's box in view (a square over x and y), drawn as `kind` asks.
    RgbaImage frame(GLPointStreamObject &cloud, FrameContext::Kind kind = FrameContext::Kind::Capture)
    {
        const Point3 lo = cloud.getBBMin(), hi = cloud.getBBMax();
        const float side = 1.02f * std::max({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z});
        left = 0.5f * (lo.x + hi.x - side);
        bottom = 0.5f * (lo.y + hi.y - side);
        width = side;
        orthographic(left, left + side, bottom, bottom + side, -4 * side - std::fabs(lo.z), 4 * side + std::fabs(hi.z));
        enableState(DepthTest);
        cloud.draw(FrameContext::of(kind));
        expectNoGLError();
        return capture();
    }
    // Waits (without a fixed time: until the workers say so, within a bound only a hung test
    // reaches) for the nodes the last frame asked for.
    static void waitForNodes(GLPointStreamObject &cloud)
    {
        for (int i = 0; i < 6000 && cloud.getStream().pending() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    static std::unique_ptr<GLPointStreamObject> open(const std::string &path, size_t budget = size_t(256) << 20)
    {
        CapturingMessageSink quiet;
        ScopedMessageSink scope(quiet);
        return std::make_unique<GLPointStreamObject>(path.c_str(), budget);
    }
    float left = 0, bottom = 0, width = 1; ///< the view of the last frame
};

} // namespace

// A COPC file and an EPT set of another program, from the disk and through a real web server:
// the full count and the same picture either way.
TEST_F(PointStreamFrames, OtherProgramsHierarchiesShowTheSameFromDiskAndServer)
{
    Nginx server;
    ASSERT_TRUE(testsupport::accepts(server.port)) << "nginx did not start (setup.sh installs nginx-light)";
    std::filesystem::copy(kData + "laz/1.2-with-color.copc.laz", server.dir + "/www/data/cloud.copc.laz");
    std::filesystem::copy(kData + "ept/1.2-with-color", server.dir + "/www/data/ept", std::filesystem::copy_options::recursive);
    for (const auto &[local, remote] : {std::pair<std::string, std::string>{kData + "laz/1.2-with-color.copc.laz", "/data/cloud.copc.laz"},
                                        {kData + "ept/1.2-with-color/ept.json", "/data/ept/ept.json"}}) {
        SCOPED_TRACE(local);
        auto disk = open(local), web = open(server.url(remote));
        EXPECT_EQ(disk->getPointCount(), 1065u);
        EXPECT_EQ(web->getPointCount(), 1065u);
        const RgbaImage a = frame(*disk), b = frame(*web);
        EXPECT_EQ(disk->getDrawnCount(), 1065u);
        EXPECT_EQ(web->getDrawnCount(), 1065u);
        std::string why;
        EXPECT_TRUE(testsupport::imagesMatch(b, a, why, testsupport::Tolerance{0, 0, 0})) << why;
        size_t lit = 0;
        for (size_t p = 0; p < a.pixels.size(); p += 4)
            lit += a.pixels[p] + a.pixels[p + 1] + a.pixels[p + 2] > 0;
        EXPECT_GT(lit, 300u);
    }
    // A server that ignores Range is named as one.
    try {
        open(server.url("/norange/cloud.copc.laz"));
        ADD_FAILURE() << "opened";
    } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find("ignores byte ranges"), std::string::npos) << e.what();
    }
}

// A hierarchy, or a LAS file, on a server that answers slowly opens behind a progress window
// (the window's loop runs meanwhile), whose "Cancel" ends the opening.
TEST_F(PointStreamFrames, ASlowServerOpensBehindAProgressWindowThatCancels)
{
    Nginx server;
    ASSERT_TRUE(testsupport::accepts(server.port));
    const std::string ept = server.dir + "/www/data/ept";
    std::filesystem::copy(kData + "ept/1.2-with-color", ept, std::filesystem::copy_options::recursive);
    std::filesystem::copy(kData + "laz/1.2-with-color.las", server.dir + "/www/data/cloud.las");
    // Seconds of white space at the slow location's rate.
    std::ofstream(ept + "/ept.json", std::ios::app) << std::string(60000, ' ');
    for (const char *address : {"/slow/ept/ept.json", "/slow/cloud.las"})
        for (const bool cancel : {true, false}) {
            SCOPED_TRACE(std::string(address) + (cancel ? " cancelled" : ""));
            ProgressHost host;
            host.cancel = cancel;
            CapturingMessageSink said;
            ScopedMessageSink scope(said);
            std::unique_ptr<GL3DObject> cloud(GL3DObjectLoader::load(server.url(address).c_str(), &host));
            EXPECT_EQ(host.titles.size(), 1u);
            EXPECT_GE(host.most, 0.0f);
            if (cancel) {
                EXPECT_FALSE(cloud);
                EXPECT_NE(said.text().find("cancelled"), std::string::npos) << said.text();
                continue;
            }
            ASSERT_TRUE(cloud) << said.text();
            ASSERT_TRUE(cloud->getCleaning());
            EXPECT_EQ(cloud->getCleaning()->elementCount(), 1065u);
            // The file's share that came is shown; a hierarchy's whole is not known.
            if (std::string(address).find(".las") != std::string::npos) {
                EXPECT_GT(host.most, 10.0f);
            }
        }
    // A LAS file takes two requests: its size and header, then the whole of it.
    EXPECT_TRUE(
        std::unique_ptr<GL3DObject>(GL3DObjectLoader::load(server.url("/data/cloud.las").c_str(), nullptr)));
    EXPECT_EQ(server.requests("/data/cloud.las", 2), 2u);
}

// Saving a cloud whose node comes slowly: a progress window shows while it comes, the frames
// drawn meanwhile (the window's loop draws them) ask for no node, and the window's "Cancel"
// ends the save, leaving no file.
TEST_F(PointStreamFrames, ASlowSaveShowsItsProgressAndCancels)
{
    Nginx server;
    ASSERT_TRUE(testsupport::accepts(server.port));
    std::filesystem::copy(kData + "ept/1.2-with-color", server.dir + "/www/data/ept", std::filesystem::copy_options::recursive);
    const std::string saved = server.dir + "/kept.ply";
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "saved");
        std::filesystem::remove_all(cacheFolder()); // the node comes from the server each time
        auto cloud = open(server.url("/slow/ept/ept.json"));
        ProgressHost host;
        size_t frames = 0, asked = 0;
        host.shown = [&] {
            frame(*cloud, FrameContext::Kind::Interactive);
            ++frames;
            asked += cloud->getStream().pending();
        };
        host.cancel = cancel;
        cloud->attach(&host);
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        const bool written = cloud->getCleaning()->saveAs(saved);
        EXPECT_EQ(host.titles, std::vector<std::string>{"Saving " + saved});
        EXPECT_GT(frames, 0u);
        EXPECT_EQ(asked, 0u) << "a frame drawn during the save asked for a node";
        EXPECT_EQ(written, !cancel) << said.text();
        EXPECT_EQ(std::filesystem::exists(saved), !cancel);
        if (cancel)
            EXPECT_NE(said.text(MessageLevel::Error).find("cancelled"), std::string::npos) << said.text();
        else
            EXPECT_EQ(PlyReader::read(saved.c_str()).points.nPoints, 1065);
    }
}

// A node that comes slowly: the frame is drawn without it and asks for the next one; the node
// then shows. One that the server does not have is left out, with its name, the others shown.
TEST_F(PointStreamFrames, ASlowNodeLeavesFramesDrawnAndAMissingOneIsLeftOut)
{
    Nginx server;
    ASSERT_TRUE(testsupport::accepts(server.port));
    std::filesystem::copy(kData + "ept/1.2-with-color", server.dir + "/www/data/ept", std::filesystem::copy_options::recursive);
    std::filesystem::copy(kData + "ept/bcbf", server.dir + "/www/data/bcbf", std::filesystem::copy_options::recursive);
    std::filesystem::remove(server.dir + "/www/data/bcbf/ept-data/2-2-2-3.bin");

    auto slow = open(server.url("/slow/ept/ept.json"));
    frame(*slow, FrameContext::Kind::Interactive);
    // The 20 kB node takes about a second at 20 kB/s: the frame came back before it.
    EXPECT_EQ(slow->getDrawnCount(), 0u);
    EXPECT_FALSE(slow->lastFrameComplete());
    EXPECT_EQ(slow->getStream().pending(), 1u);
    waitForNodes(*slow);
    frame(*slow, FrameContext::Kind::Interactive);
    EXPECT_EQ(slow->getDrawnCount(), 1065u);
    EXPECT_TRUE(slow->lastFrameComplete());
    // A cloud that goes while its node is on the way ends the transfer rather than wait for it
    // (the node is not in the cache: it comes from the server again).
    std::filesystem::remove_all(cacheFolder());
    auto leaving = open(server.url("/slow/ept/ept.json"));
    frame(*leaving, FrameContext::Kind::Interactive);
    EXPECT_EQ(leaving->getStream().pending(), 1u);
    leaving.reset();

    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    auto holed = open(server.url("/data/bcbf/ept.json"));
    frame(*holed);
    EXPECT_EQ(holed->getDrawnCount(), 4u);
    const std::string warned = sink.text(MessageLevel::Warning);
    EXPECT_NE(warned.find("node 2-2-2-3"), std::string::npos) << warned;
    EXPECT_NE(warned.find("HTTP 404"), std::string::npos) << warned;
    frame(*holed, FrameContext::Kind::Interactive);
    EXPECT_TRUE(holed->lastFrameComplete()) << "a node that failed is not waited for";
}

// With no memory to spare, only the nodes of the last frame stay; a click reports the picked
// point in the file's coordinates, as the LAS file of the same points has it.
TEST_F(PointStreamFrames, TheMemoryBudgetKeepsTheLastFrameAndPicksAreInFileCoordinates)
{
    auto cloud = open(kData + "laz/1.2-with-color.copc.laz", 0);
    frame(*cloud);
    ASSERT_EQ(cloud->getDrawnCount(), 1065u);
    EXPECT_LE(cloud->getStream().bytesResident(), cloud->getMemoryBudget() + 1) << "a capture keeps nothing beyond";
    cloud->setMemoryBudget(size_t(64) << 20);
    frame(*cloud, FrameContext::Kind::Interactive);
    waitForNodes(*cloud);
    frame(*cloud, FrameContext::Kind::Interactive);
    const size_t all = cloud->getStream().nodesResident();
    EXPECT_GT(all, 1u);
    cloud->setMemoryBudget(0);
    // A view of a corner holds fewer nodes: the others go.
    orthographic(left, left + 0.1f * width, bottom, bottom + 0.1f * width, -1e5, 1e5);
    cloud->draw(FrameContext::of(FrameContext::Kind::Interactive));
    EXPECT_LT(cloud->getStream().nodesResident(), all);

    cloud->setMemoryBudget(size_t(64) << 20);
    frame(*cloud);
    const PointListData las = LasReader::read((kData + "laz/1.2-with-color.las").c_str());
    // The window position of the LAS file's first point, as the capture projected it.
    const double *o = cloud->getFileOrigin();
    const double fx = las.points[0] + las.origin[0] - o[0], fy = las.points[1] + las.origin[1] - o[1];
    const int wx = static_cast<int>((fx - left) / width * kSize), wy = kSize - 1 - static_cast<int>((fy - bottom) / width * kSize);
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    cloud->notifyClick(wx, wy);
    uint64_t index;
    double xyz[3];
    ASSERT_TRUE(cloud->getPicked(index, xyz)) << sink.text();
    EXPECT_LT(index, 1065u);
    bool found = false;
    for (int i = 0; i < las.nPoints && !found; ++i)
        found = std::fabs(las.points[3 * i] + las.origin[0] - xyz[0]) < 1e-3 &&
                std::fabs(las.points[3 * i + 1] + las.origin[1] - xyz[1]) < 1e-3 &&
                std::fabs(las.points[3 * i + 2] + las.origin[2] - xyz[2]) < 1e-3;
    EXPECT_TRUE(found) << xyz[0] << " " << xyz[1] << " " << xyz[2];
    EXPECT_NE(sink.text().find("Selected vertex n:"), std::string::npos);
}

// A LAS or LAZ file larger than the memory is made once into a hierarchy in the cache folder
// and shown node by node, all its points there; a second opening finds the hierarchy made.
TEST_F(PointStreamFrames, LasAndLazFilesLargerThanTheMemoryAreShownThroughAHierarchy)
{
    LoadOptions tiny;
    tiny.pointMemoryBudget = 1000;
    Nginx server;
    std::filesystem::copy(kData + "laz/simple.laz", server.dir + "/www/data/simple.laz");
    for (const std::string &path : {kData + "laz/1.2-with-color.las", kData + "laz/simple.laz", server.url("/data/simple.laz")}) {
        SCOPED_TRACE(path);
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        const int whole = LasReader::read(path.c_str()).nPoints;
        for (int opening = 0; opening < 2; ++opening) {
            sink.clear();
            std::unique_ptr<GL3DObject> object(GL3DObjectLoader::load(path.c_str(), nullptr, tiny));
            auto *cloud = dynamic_cast<GLPointStreamObject *>(object.get());
            ASSERT_NE(cloud, nullptr) << sink.text();
            EXPECT_EQ(cloud->getPointCount(), static_cast<uint64_t>(whole));
            EXPECT_EQ(sink.text().find("made into a hierarchy") != std::string::npos, opening == 0) << sink.text();
            frame(*cloud);
            EXPECT_EQ(cloud->getDrawnCount(), static_cast<size_t>(whole));
        }
    }
    // A making stopped after its first part (the next comes at the server's pace) leaves nothing.
    std::filesystem::copy(kData + "laz/lone-star.laz", server.dir + "/www/data/lone-star.laz");
    std::atomic<bool> stop{false};
    std::atomic<float> percent{0};
    TilingWatch watch{nullptr, &stop, &percent};
    std::string why;
    std::thread making([&] {
        try {
            LasTiling::tilesOf(server.url("/paced/lone-star.laz"), NodeCache::userFolder(), 1 << 20, watch);
        } catch (const std::runtime_error &e) {
            why = e.what();
        }
        stop = true;
    });
    while (percent == 0 && !stop)
        std::this_thread::yield();
    stop = true;
    making.join();
    EXPECT_EQ(why, "cancelled");
    std::vector<std::string> kept;
    for (const auto &entry : std::filesystem::directory_iterator(NodeCache::userFolder() + "/hierarchies"))
        kept.push_back(entry.path().filename());
    EXPECT_EQ(kept.size(), 3u) << "the hierarchies of the three files above alone: " << ::testing::PrintToString(kept);
}
