#include "core/ElementHost.h"
#include "core/GLInterface.h"
#include "core/GLObject.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RecordingWindow : public QuietHost {
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
                           GLObject::GRAPH, GLObject::TEXTURE, GLObject::CAMERA};
    const int n = sizeof kinds / sizeof kinds[0];
    for (int i = 0; i < n; ++i) {
        GLObject o(kinds[i]);
        o.setID(0xFF);
        const bool camera = kinds[i] == GLObject::CAMERA;
        EXPECT_EQ(o.isCamera(), camera) << std::hex << kinds[i];
        EXPECT_EQ(o.is3DObject(), !camera) << std::hex << kinds[i];
        EXPECT_EQ(o.getType(), kinds[i]) << "a full identifier leaves the kind alone";
        EXPECT_EQ(o.getID(), 0xFF);
        // Panels and loaders choose by kind: two kinds sharing a code would be confused.
        for (int j = 0; j < i; ++j)
            EXPECT_NE(kinds[i], kinds[j]) << "kinds " << i << " and " << j;
    }
}

TEST(GLObject, WindowRequestsReachTheHostOnceAttached)
{
    RecordingWindow window;
    GLObject o(GLObject::GRAPH);
    o.postRedisplay();   // not registered yet
    GLInterface panel;
    o.setInterface(&panel);
    o.setBusy(true);   // a panel is not a way to the window
    EXPECT_TRUE(window.calls.empty());

    o.attach(&window);
    o.postRedisplay();
    o.reshapeWindow(640, 480);
    o.updateDisplay();
    o.setBusy(true);
    o.setBusy(false);
    EXPECT_EQ(window.calls, (std::vector<std::string>{"postRedisplay(false)", "reshape 640x480", "updateDisplay",
                                                      "setCursor 3", "overrideCursor"}));
}

// An element kind with one action of each shape, recording what its own part is asked to do.
class Toy : public GLObject {
public:
    enum class Action { PLAIN, BUSY, REFUSED, NEXT_MAP, PREVIOUS_MAP };
    Toy() : GLObject(GLObject::GRAPH) {}
    static const BindingTable &bindings()
    {
        static const KeyBinding rows[] = {
            {actionValue(Action::PLAIN), {'p', 'P'}, nullptr, "plain", KeyBinding::REDRAW},
            {actionValue(Action::BUSY), {'b'}, nullptr, "busy", KeyBinding::BUSY | KeyBinding::REDRAW},
            {actionValue(Action::REFUSED), {'r'}, nullptr, "refused", KeyBinding::BUSY | KeyBinding::REDRAW},
            {actionValue(Action::NEXT_MAP), {6006}, nullptr, "next map",
             KeyBinding::REDRAW | KeyBinding::NEXT_COLOR_MAP},
            {actionValue(Action::PREVIOUS_MAP), {6007}, nullptr, "previous map", KeyBinding::PREVIOUS_COLOR_MAP},
        };
        static const BindingTable table("toy", rows);
        return table;
    }
    const BindingTable *getBindings() const override { return &bindings(); }
    std::vector<std::string> *calls = nullptr;

protected:
    bool runAction(const KeyBinding &row) override
    {
        calls->push_back(std::string("run ") + row.description);
        return static_cast<Action>(row.action) != Action::REFUSED;
    }
    bool stepColorMap(int step) override
    {
        calls->push_back("map " + std::to_string(step));
        return true;
    }
};

TEST(GLObject, ActionsRunFromTheirKeysInsideTheSharedTail)
{
    RecordingWindow window;
    Toy toy;
    toy.calls = &window.calls;
    toy.attach(&window);

    struct Case {
        int key;
        int taken;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {'P', 1, {"run plain", "postRedisplay(false)"}},
        {'b', 1, {"setCursor 3", "run busy", "overrideCursor", "postRedisplay(false)"}},
        // Refused: the cursor comes back, no frame is asked for.
        {'r', 0, {"setCursor 3", "run refused", "overrideCursor"}},
        // The colour-map rows step the map instead of running the kind's own part.
        {6006, 1, {"map 1", "postRedisplay(false)"}},
        {6007, 1, {"map -1"}},
        // A key of no action does nothing at all.
        {'z', 0, {}},
    };
    for (const Case &c : cases) {
        window.calls.clear();
        EXPECT_EQ(toy.notifyCommand(c.key), c.taken) << c.key;
        EXPECT_EQ(window.calls, c.calls) << c.key;
    }
    // Panels run the same rows by value.
    window.calls.clear();
    EXPECT_EQ(toy.perform(Toy::Action::BUSY), 1);
    EXPECT_EQ(window.calls, cases[1].calls);
}

} // namespace
