#include "gui/MainInterface.h"

#include <gtest/gtest.h>

namespace {

TEST(MainInterfaceInput, CursorKeysBecomeSceneCodesAndOtherKeysPass)
{
    // The toolkit's key values of Left, Right, Up, Down, Home, End, Page Up, Page Down.
    const unsigned keys[] = {0xff51, 0xff53, 0xff52, 0xff54, 0xff50, 0xff57, 0xff55, 0xff56};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(MainInterface::mapKey(keys[i]), 6000 + i) << std::hex << keys[i];
    EXPECT_EQ(MainInterface::mapKey('c'), 'c');
    EXPECT_EQ(MainInterface::mapKey(0xff0d), 0xff0d) << "Return passes unchanged";
    EXPECT_EQ(MainInterface::mapKey(0xff1b), 0xff1b) << "Escape passes unchanged";
}

TEST(MainInterfaceInput, RightAndMiddleButtonsExchangeNumbers)
{
    EXPECT_EQ(MainInterface::mapButton(1), 1);
    EXPECT_EQ(MainInterface::mapButton(2), 3);
    EXPECT_EQ(MainInterface::mapButton(3), 2);
    EXPECT_EQ(MainInterface::mapButton(4), 4);
    EXPECT_EQ(MainInterface::mapButton(5), 5);
}

} // namespace
