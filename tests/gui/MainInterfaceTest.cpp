#include "gui/FileDialog.h"
#include "gui/MainInterface.h"
#include "core/KeyCodes.h"

#include <gtest/gtest.h>

namespace {

TEST(MainInterfaceInput, CursorKeysBecomeSceneCodesAndOtherKeysPass)
{
    // The toolkit's key values of Left, Right, Up, Down, Home, End, Page Up, Page Down.
    const unsigned keys[] = {0xff51, 0xff53, 0xff52, 0xff54, 0xff50, 0xff57, 0xff55, 0xff56};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(MainInterface::mapKey(keys[i]), 6000 + i) << std::hex << keys[i];
    EXPECT_EQ(MainInterface::mapKey('c'), 'c');
    EXPECT_EQ(MainInterface::mapKey(0xff0d), KeyCode::RETURN);
    EXPECT_EQ(MainInterface::mapKey(0xff1b), KeyCode::ESCAPE);
    EXPECT_EQ(MainInterface::mapKey(0xffbe), 0) << "F1 is none of the scene's keys";
    EXPECT_EQ(MainInterface::mapKey(0xe9), 0xe9) << "Latin-1 keys are their character";
}

TEST(MainInterfaceInput, RightAndMiddleButtonsExchangeNumbers)
{
    EXPECT_EQ(MainInterface::mapButton(1), 1);
    EXPECT_EQ(MainInterface::mapButton(2), 3);
    EXPECT_EQ(MainInterface::mapButton(3), 2);
    EXPECT_EQ(MainInterface::mapButton(4), 4);
    EXPECT_EQ(MainInterface::mapButton(5), 5);
}

// The control window goes beside the view window, never over it while there is room, and
// always on the screen.
TEST(MainInterfacePlacement, ControlWindowBesideTheViewOnTheScreen)
{
    const struct {
        int viewX, viewY, viewW, w, h;
        MainInterface::Corner expected;
        const char *what;
    } cases[] = {
        {400, 100, 512, 360, 420, {32, 100, 400}, "room on the left"},
        {100, 100, 512, 360, 420, {620, 100, 100}, "no room on the left: on the right"},
        {384, 100, 512, 414, 420, {173, 100, 595}, "a centred view, room on neither side: both centred"},
        {200, 100, 1000, 360, 420, {0, 100, 200}, "no room for both: the edge with more room"},
        {100, 900, 512, 360, 420, {620, 604, 100}, "kept above the screen's bottom"},
        {-50, -20, 512, 360, 420, {470, 0, -50}, "a view partly off the screen"},
    };
    for (const auto &c : cases) {
        const MainInterface::Corner got = MainInterface::controlWindowCorner(c.viewX, c.viewY, c.viewW, c.w, c.h, 1280, 1024);
        EXPECT_EQ(got.x, c.expected.x) << c.what;
        EXPECT_EQ(got.y, c.expected.y) << c.what;
        EXPECT_EQ(got.viewX, c.expected.viewX) << c.what;
    }
}

// "open file" hands the files over in the order they were picked, not the list's.
TEST(FileDialogOrder, FilesComeInTheOrderPicked)
{
    PickOrder order;
    order.update({"c"});
    order.update({"a", "c"});
    order.update({"a", "b", "c"});
    EXPECT_EQ(order.ordered({"a", "b", "c"}), (std::vector<std::string>{"c", "a", "b"}));
    order.update({"b", "c"}); // "a" unpicked
    order.update({"a", "b", "c"});
    EXPECT_EQ(order.ordered({"a", "b", "c"}), (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_EQ(order.ordered({"b", "d"}), (std::vector<std::string>{"b", "d"})) << "names never seen come last";
}

} // namespace
