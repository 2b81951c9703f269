#include "core/GLInterface.h"
#include "core/GLObject.h"
#include "gui/MainInterface.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RecordingWindow : public MainInterface {
public:
    std::vector<std::string> calls;
    void postRedisplay(bool now) override { calls.push_back(now ? "postRedisplay(true)" : "postRedisplay(false)"); }
    void reshapeWindow(int w, int h) override { calls.push_back("reshape " + std::to_string(w) + "x" + std::to_string(h)); }
    void updateDisplay() override { calls.push_back("updateDisplay"); }
    void setCursor(int c) override { calls.push_back("setCursor " + std::to_string(c)); }
    void overrideCursor() override { calls.push_back("overrideCursor"); }
};

TEST(GLObject, TypeWordSeparatesKindsAndIdentifier)
{
    GLObject camera(GLObject::CAMERA);
    EXPECT_TRUE(camera.isCamera());
    EXPECT_FALSE(camera.is3DObject());

    GLObject mesh(GLObject::MESH);
    EXPECT_FALSE(mesh.isCamera());
    EXPECT_TRUE(mesh.is3DObject());

    GLObject volume(GLObject::VOLUME);
    volume.setID(5);
    EXPECT_EQ(volume.getID(), 5);
    EXPECT_EQ(volume.getType(), 0x400);
    volume.setID(0xFF);
    EXPECT_EQ(volume.getID(), 0xFF);
    EXPECT_EQ(volume.getType(), 0x400);
    EXPECT_TRUE(volume.is3DObject());
    volume.setID(2);
    EXPECT_EQ(volume.getID(), 2) << "a new identifier replaces the old one, bits are not or-ed";
}

TEST(GLObject, EveryKindCodeIsDistinctAndClassified)
{
    const short kinds[] = {GLObject::MESH, GLObject::OCTREE, GLObject::VOLUME, GLObject::POINTLIST,
                           GLObject::GRAPH, GLObject::TEXTURE};
    for (short k : kinds) {
        GLObject o(k);
        o.setID(0x7F);
        EXPECT_TRUE(o.is3DObject()) << std::hex << k;
        EXPECT_FALSE(o.isCamera()) << std::hex << k;
        EXPECT_EQ(o.getType(), k);
    }
    GLObject camera(GLObject::CAMERA);
    camera.setID(200);
    EXPECT_EQ(camera.getType(), GLObject::CAMERA);
    EXPECT_EQ(camera.getID(), 200);
}

TEST(GLObject, WindowRequestsWithoutPanelAreSkipped)
{
    GLObject o(GLObject::MESH);
    o.postRedisplay();
    o.reshapeWindow(10, 20);
    o.updateDisplay();
    o.setBusy(true);
    GLInterface panel;   // a panel not shown by any window yet
    o.setInterface(&panel);
    o.postRedisplay();
    o.setBusy(false);
    EXPECT_EQ(o.getInterface(), &panel);
}

TEST(GLObject, WindowRequestsReachTheMainWindowThroughThePanel)
{
    RecordingWindow window;
    GLInterface panel(reinterpret_cast<void *>(0x1));
    panel.setParent(&window);
    GLObject o(GLObject::GRAPH);
    o.setInterface(&panel);

    o.postRedisplay();
    o.reshapeWindow(640, 480);
    o.updateDisplay();
    o.setBusy(true);
    o.setBusy(false);
    EXPECT_EQ(window.calls, (std::vector<std::string>{"postRedisplay(false)", "reshape 640x480", "updateDisplay",
                                                      "setCursor 3", "overrideCursor"}));
}

TEST(GLInterface, FieldsStartEmpty)
{
    GLInterface a;
    EXPECT_EQ(a.getMainWidget(), nullptr);
    EXPECT_EQ(a.getMainMenuBar(), nullptr);
    EXPECT_EQ(a.getAccelGroup(), nullptr);
    EXPECT_EQ(a.getParent(), nullptr);
    int widget = 0;
    GLInterface b(&widget);
    EXPECT_EQ(b.getMainWidget(), &widget);
    EXPECT_EQ(b.getParent(), nullptr);
}

} // namespace
