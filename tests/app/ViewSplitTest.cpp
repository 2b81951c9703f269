#include "app/ViewEvaluation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Views whose photographs are not in name order: the split follows the names, not the views.
TEST(ViewSplit, EveryEighthByPhotographName)
{
    std::vector<std::string> names;
    for (int i = 16; i >= 0; --i)
        names.push_back("folder" + std::to_string(i % 3) + "/p" + std::string(1, static_cast<char>('a' + i)) + ".png");
    EXPECT_EQ(ViewEvaluation::splitViews(names, "test"), (std::vector<int>{16, 8, 0}));
    const std::vector<int> train = ViewEvaluation::splitViews(names, "train");
    EXPECT_EQ(train.size(), 14u);
    EXPECT_EQ(train.front(), 15);
    EXPECT_TRUE(ViewEvaluation::splitViews({}, "test").empty());
}
