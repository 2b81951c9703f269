// ctest-label: thread
// Selections, edits and saving on a streamed cloud (a COPC file of another program, whose
// uncompressed LAS twin gives every point's position): rules decided node by node, also in
// the nodes read after the rule, and what is kept saved node after node.
#include "formats/LasReader.h"
#include "formats/PlyReader.h"
#include "math/Messages.h"
#include "objects/GLPointStreamObject.h"
#include "support/GLTestFixture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::GLTestFixture;

const std::string kData = std::string(VELMORA_SOURCE_DIR) + "/tests/data/laz/";

// One point of the LAS twin: integer coordinates of its scale, colour, intensity.
using Row = std::array<long long, 7>;

class StreamCleaning : public GLTestFixture
{
  protected:
    void SetUp() override
    {
        GLTestFixture::SetUp();
        las = LasReader::read((kData + "1.2-with-color.las").c_str());
        ASSERT_EQ(las.nPoints, 1065);
        open();
    }
    void open()
    {
        CapturingMessageSink quiet;
        ScopedMessageSink scope(quiet);
        cloud = std::make_unique<GLPointStreamObject>((kData + "1.2-with-color.copc.laz").c_str(), size_t(64)
                                                                                                       << 20);
        // The cloud's box in view from above, the same for every frame.
        const Point3 lo = cloud->getBBMin(), hi = cloud->getBBMax();
        const float side = 1.02f * std::max(hi.x - lo.x, hi.y - lo.y);
        orthographic(0.5f * (lo.x + hi.x - side), 0.5f * (lo.x + hi.x + side), 0.5f * (lo.y + hi.y - side),
                     0.5f * (lo.y + hi.y + side), -1e4, 1e4);
        enableState(DepthTest);
    }
    // A frame: a capture reads every node at once, an interactive one only asks for them.
    void frame(FrameContext::Kind kind = FrameContext::Kind::Capture)
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        cloud->draw(FrameContext::of(kind));
        expectNoGLError();
    }
    // Every node read: at once by a capture, or by the reading threads for frames that wait
    // for nothing (until they say so, within a bound only a hung test reaches).
    void readAll(bool threads)
    {
        if (!threads)
            return frame();
        frame(FrameContext::Kind::Interactive);
        for (int i = 0; i < 6000 && (cloud->getStream().pending() > 0 || cloud->countResident().read < 1065);
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            frame(FrameContext::Kind::Interactive);
        }
    }
    // The LAS twin's point i in the cloud's object coordinates.
    Point3 object(int i) const
    {
        const double *o = cloud->getFileOrigin();
        return Point3(static_cast<float>(las.points[3 * i] + las.origin[0] - o[0]),
                      static_cast<float>(las.points[3 * i + 1] + las.origin[1] - o[1]),
                      static_cast<float>(las.points[3 * i + 2] + las.origin[2] - o[2]));
    }
    size_t countWhere(const std::function<bool(int)> &inside) const
    {
        size_t n = 0;
        for (int i = 0; i < las.nPoints; ++i)
            n += inside(i);
        return n;
    }
    // The rows of the points of `d` (or of the twin's points where `keep` holds).
    static std::vector<Row> rows(const PointListData &d, const LasScaling &s,
                                 const std::function<bool(int)> &keep)
    {
        std::vector<Row> out;
        for (int i = 0; i < d.nPoints; ++i) {
            if (!keep(i))
                continue;
            Row r{};
            for (int a = 0; a < 3; ++a)
                r[a] = std::llround((d.points[3 * i + a] + d.origin[a] - s.offset[a]) / s.scale[a]);
            for (int c = 0; c < 3; ++c)
                r[3 + c] = d.colors ? d.colors[3 * i + c] : -1;
            r[6] = d.items.empty() ? -1 : std::llround(d.items[0].values[i]);
            out.push_back(r);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    bool inBox(int i) const
    {
        const Point3 p = object(i);
        return p.x >= box.centre.x - box.half.x && p.x <= box.centre.x + box.half.x &&
               p.y >= box.centre.y - box.half.y && p.y <= box.centre.y + box.half.y;
    }
    // The box of the lower left quarter of the cloud (all heights), its low sides a metre
    // beyond the points, so that none lies on a side.
    ElementCleaning::Box quarter() const
    {
        const Point3 lo = cloud->getBBMin() - Point3(1, 1, 1), hi = cloud->getBBMax();
        ElementCleaning::Box b;
        b.centre = Point3(0.75f * lo.x + 0.25f * hi.x, 0.75f * lo.y + 0.25f * hi.y, 0.5f * (lo.z + hi.z));
        b.half = Point3(0.25f * (hi.x - lo.x), 0.25f * (hi.y - lo.y), hi.z - lo.z + 1);
        return b;
    }
    std::string command(int key)
    {
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        cloud->notifyCommand(key);
        return said.text();
    }

    PointListData las;
    std::unique_ptr<GLPointStreamObject> cloud;
    ElementCleaning::Box box;
};

// Each rule, given while no node is in memory, selects in every node read after it exactly the
// points of the LAS twin that it holds; the marks are drawn.
TEST_F(StreamCleaning, RulesSelectInTheNodesReadAfterThem)
{
    frame(FrameContext::Kind::Interactive); // the frame's matrices; its nodes are only asked for
    float mvp[16], projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    std::copy(projection, projection + 16, mvp); // the model-view and pose are the identity
    const float *intensity = las.items.at(0).values.get();
    ASSERT_EQ(las.items[0].name, "intensity");
    struct Case {
        const char *name;
        std::function<void(ElementCleaning &)> select;
        std::function<bool(int)> expected;
    };
    const Point2 a(0, 0), b(0.5f * kSize, kSize);
    const std::vector<Point2> lasso = {Point2(kSize, 0), Point2(kSize, kSize), Point2(0.3f * kSize, 0.6f * kSize)};
    const std::vector<Case> cases = {
        {"box",
         [&](ElementCleaning &c) {
             c.setBox(box);
             c.selectInBox(SelectMode::Replace);
         },
         [&](int i) { return inBox(i); }},
        {"values", [&](ElementCleaning &c) { c.selectByValues(0, 100, 300, SelectMode::Replace); },
         [&](int i) { return intensity[i] >= 100 && intensity[i] <= 300; }},
        {"rectangle less the values, inverted",
         [&](ElementCleaning &c) {
             c.selectInWindow({a, b}, false, SelectMode::Replace);
             c.selectByValues(0, 100, 300, SelectMode::Subtract);
             c.invert();
         },
         [&](int i) {
             ElementSelection s;
             const Point3 p = object(i);
             SelectionRules::rectangle(&p.x, 1, mvp, kSize, kSize, a, b, s, SelectMode::Replace);
             return !(s.contains(0) && !(intensity[i] >= 100 && intensity[i] <= 300));
         }},
        {"lasso added to the box",
         [&](ElementCleaning &c) {
             c.setBox(box);
             c.selectInBox(SelectMode::Replace);
             c.selectInWindow(lasso, true, SelectMode::Add);
         },
         [&](int i) {
             ElementSelection s;
             const Point3 p = object(i);
             SelectionRules::lasso(&p.x, 1, mvp, kSize, kSize, lasso, s, SelectMode::Replace);
             return inBox(i) || s.contains(0);
         }},
    };
    box = quarter();
    for (const Case &c : cases)
        for (bool threads : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (threads ? ", nodes read by the threads" : ", by a capture"));
            open();
            frame(FrameContext::Kind::Interactive);
            ASSERT_EQ(cloud->countResident().read, 0u);
            ElementCleaning &cleaning = *cloud->getCleaning();
            c.select(cleaning);
            EXPECT_EQ(cloud->countResident().selected, 0u);
            readAll(threads);
            frame();
            const size_t expected = countWhere(c.expected);
            EXPECT_GT(expected, 20u);
            EXPECT_LT(expected, 1045u);
            EXPECT_EQ(cloud->countResident().read, 1065u);
            EXPECT_EQ(cloud->countResident().selected, expected);
            EXPECT_EQ(cloud->getDrawnCount(), 1065u);
            const testsupport::RgbaImage image = capture();
            size_t marked = 0;
            for (size_t p = 0; p < image.pixels.size(); p += 4)
                marked += image.pixels[p] == 255 && image.pixels[p + 1] == 230 && image.pixels[p + 2] == 0;
            EXPECT_GT(marked, 20u);
        }
    EXPECT_GT(cloud->getStream().nodesResident(), 1u) << "the file holds more than one node";
}

// Hide, delete, keep only, undo and redo through the keys: the frames draw what they leave,
// also once every node has been let go and read again; undo restores every point.
TEST_F(StreamCleaning, EditsHoldInNodesReadAgainAndUndoRestoresEveryPoint)
{
    box = quarter();
    const size_t inside = countWhere([&](int i) { return inBox(i); });
    ElementCleaning &cleaning = *cloud->getCleaning();
    const auto selectBox = [&] {
        cleaning.setBox(box);
        cleaning.selectInBox(SelectMode::Replace);
    };
    frame();
    // The rectangle tool's drag draws its outline over the frame, and selects on release.
    EXPECT_NE(command('O').find("selection tool rectangle"), std::string::npos);
    cloud->notifyWindowDrag(InputEvent::press(1), 0, 0);
    cloud->notifyWindowDrag(InputEvent::motion(1), kSize / 2, kSize - 1);
    frame();
    cloud->drawInfo();
    const testsupport::RgbaImage outlined = capture();
    bool edge = false; // the rectangle's right side, on one pixel or its neighbour
    for (int x = kSize / 2 - 1; x <= kSize / 2; ++x) {
        const unsigned char *c = outlined.at(x, kSize / 3);
        edge = edge || (c[0] == 255 && c[1] == 230 && c[2] == 0);
    }
    EXPECT_TRUE(edge);
    cloud->notifyWindowDrag(InputEvent::release(1), kSize / 2, kSize - 1);
    EXPECT_GT(cloud->countResident().selected, 100u);
    cleaning.setTool(ElementCleaning::OFF);
    selectBox();
    const std::string said = command('r');
    EXPECT_NE(said.find(std::to_string(inside) + " points deleted of the points read so far"),
              std::string::npos)
        << said << inside;
    struct Step {
        int key;
        bool selectFirst;
        size_t drawn;
    };
    const std::vector<Step> steps = {
        {'u', false, 1065}, {'U', false, 1065 - inside}, {'h', true, 1065 - inside}, // nothing left to hide
        {'u', false, 1065}, {'k', true, inside},         {'H', false, inside},
        {'u', false, 1065}, {'u', false, 1065},          {'n', false, 1065},
        {'h', false, 0},    {'H', false, 1065},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(std::string(1, static_cast<char>(s.key)));
        if (s.selectFirst)
            selectBox();
        command(s.key);
        frame();
        EXPECT_EQ(cloud->getDrawnCount(), s.drawn);
    }
    // Delete again, let every node go, and read them all again.
    selectBox();
    command('r');
    cloud->setMemoryBudget(0);
    frame();
    EXPECT_EQ(cloud->getStream().nodesResident(), 0u);
    cloud->setMemoryBudget(size_t(64) << 20);
    frame();
    EXPECT_EQ(cloud->getDrawnCount(), 1065 - inside);
    command('u');
    frame();
    EXPECT_EQ(cloud->getDrawnCount(), 1065u);
}

// What nodes gain after they came (the masks of a rule, the lists of the points they draw)
// counts against the memory budget from the next frame on.
TEST_F(StreamCleaning, WhatNodesGainAfterTheyCameCountsAgainstTheBudget)
{
    frame();
    PointStream &stream = cloud->getStream();
    const size_t read = stream.bytesResident();
    box = quarter();
    cloud->getCleaning()->setBox(box);
    cloud->getCleaning()->selectInBox(SelectMode::Replace);
    command('h');
    frame();
    size_t held = 0;
    for (size_t i = 0; i < stream.getTiles().nodes().size(); ++i)
        if (const PointStream::Node *n = stream.resident(static_cast<int>(i)))
            held += n->bytes();
    EXPECT_GT(held, read + 1065 * sizeof(uint32_t) / 2);
    EXPECT_EQ(stream.bytesResident(), held);
}

// Growing adds the points within the radius of a selected one as over the LAS twin read whole
// when every node is in memory as it is given, and again in nodes let go and read again; given
// before any node is read, each node grows from its own selected points.
TEST_F(StreamCleaning, GrowingAddsThePointsNearTheSelection)
{
    box = quarter();
    const float radius = 60;
    std::vector<float> xyz;
    ElementSelection whole(static_cast<size_t>(las.nPoints));
    for (int i = 0; i < las.nPoints; ++i) {
        const Point3 p = object(i);
        xyz.insert(xyz.end(), {p.x, p.y, p.z});
        if (inBox(i))
            whole.add(static_cast<size_t>(i));
    }
    const size_t inside = whole.count();
    SelectionRules::grow(xyz.data(), whole.size(), radius, whole);
    ASSERT_GT(whole.count(), inside);
    const auto selectAndGrow = [&] {
        ElementCleaning &cleaning = *cloud->getCleaning();
        cleaning.setBox(box);
        cleaning.selectInBox(SelectMode::Replace);
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        cleaning.grow(radius);
        EXPECT_EQ(said.text(), "");
    };
    frame();
    selectAndGrow();
    EXPECT_EQ(cloud->countResident().selected, whole.count());
    cloud->setMemoryBudget(0);
    frame();
    EXPECT_EQ(cloud->getStream().nodesResident(), 0u);
    cloud->setMemoryBudget(size_t(64) << 20);
    frame();
    EXPECT_EQ(cloud->countResident().selected, whole.count());

    open();
    frame(FrameContext::Kind::Interactive);
    ASSERT_EQ(cloud->countResident().read, 0u);
    selectAndGrow();
    readAll(false);
    EXPECT_GE(cloud->countResident().selected, inside);
    EXPECT_LE(cloud->countResident().selected, whole.count());
}

// What is kept is saved, as LAS (the file's scale and offset) and PLY, and reopens with the
// LAS twin's points outside the deleted box: their coordinates, colours and intensities. A
// script's rule removes on the way what it finds, counted.
TEST_F(StreamCleaning, SavedFilesReopenWithTheKeptPoints)
{
    box = quarter();
    const std::function<bool(int)> outside = [&](int i) { return !inBox(i); };
    const std::vector<Row> kept = rows(las, las.las, outside);
    ASSERT_LT(kept.size(), 1065u);
    frame();
    ElementCleaning &cleaning = *cloud->getCleaning();
    cleaning.setBox(box);
    cleaning.selectInBox(SelectMode::Replace);
    command('r');
    cloud->setMemoryBudget(0); // the save reads the nodes again, a part at a time
    frame();
    const std::string dir = testsupport::makeTempDir("StreamCleaning");
    const LasScaling copc = LasReader::read((kData + "1.2-with-color.copc.laz").c_str()).las;
    for (const char *name : {"/kept.las", "/kept.ply"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(cleaning.saveAs(dir + name));
        const PointListData saved = name[6] == 'l' ? LasReader::read((dir + name).c_str())
                                                   : std::move(PlyReader::read((dir + name).c_str()).points);
        if (name[6] == 'l')
            for (int a = 0; a < 3; ++a) {
                EXPECT_EQ(saved.las.scale[a], copc.scale[a]);
                EXPECT_EQ(saved.las.offset[a], copc.offset[a]);
            }
        EXPECT_EQ(rows(saved, las.las, [](int) { return true; }), kept);
    }
    // A script's rule keeps the east half (in the file's coordinates): what the deleted box
    // left there is written, the rest counted as removed by the rule.
    const double *o = cloud->getFileOrigin();
    const float middle = 0.5f * (cloud->getBBMin().x + cloud->getBBMax().x) + 0.001f;
    const double lo[3] = {middle + o[0], -1e9, -1e9}, hi[3] = {1e9, 1e9, 1e9};
    const size_t east = countWhere([&](int i) { return object(i).x >= middle && !inBox(i); });
    std::vector<uint64_t> removed;
    EXPECT_EQ(cleaning.saveRemoving(dir + "/east.las", {cleaning.outsideFileBoxRule(lo, hi)}, removed), east);
    EXPECT_EQ(removed, std::vector<uint64_t>{countWhere([&](int i) { return object(i).x < middle; })});
    EXPECT_EQ(LasReader::read((dir + "/east.las").c_str()).nPoints, static_cast<int>(east));
}

// A node that can't be read makes the save fail, saying which, and leaves no file.
TEST_F(StreamCleaning, ANodeThatCannotBeReadLeavesNoFile)
{
    const std::string dir = testsupport::makeTempDir("StreamCleaningHole");
    std::filesystem::copy(std::string(VELMORA_SOURCE_DIR) + "/tests/data/ept/bcbf", dir + "/ept",
                          std::filesystem::copy_options::recursive);
    std::filesystem::remove(dir + "/ept/ept-data/2-2-2-3.bin");
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    GLPointStreamObject holed((dir + "/ept/ept.json").c_str(), size_t(64) << 20);
    EXPECT_FALSE(holed.getCleaning()->saveAs(dir + "/kept.ply"));
    EXPECT_NE(said.text(MessageLevel::Error).find("node 2-2-2-3 could not be read"), std::string::npos) << said.text();
    EXPECT_FALSE(std::filesystem::exists(dir + "/kept.ply"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/kept.ply.part"));
}

} // namespace
