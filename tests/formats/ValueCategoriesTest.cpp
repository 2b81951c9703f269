// Which data items are categories, and how their values are labelled.
#include "formats/ValueCategories.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

TEST(ValueCategories, WholeNumbersWithFewValuesOrACategoryNameAreCategories)
{
    const float nan = NAN;
    std::vector<float> many;
    std::vector<int> forty;
    for (int i = 0; i < 40; ++i) {
        many.push_back(static_cast<float>(i));
        forty.push_back(i);
    }
    struct Case {
        std::string name;
        std::vector<float> values;
        bool categorical;
        std::vector<int> present;
    };
    const std::vector<Case> cases = {
        {"classification", {2, 3, 2, nan, 2}, true, {2, 3}},
        {"return number", {1, 1, 1, 1}, true, {1}},
        {"height", {0.5f, 1, 2}, false, {}},
        {"intensity", many, false, {}},
        {"Classification", many, true, forty},
        {"height", {nan, nan}, false, {}},
        {"cluster", {-1, 7, -1}, true, {-1, 7}},
        {"height", {1e12f, 1}, false, {}},
    };
    for (const Case &c : cases) {
        std::vector<int> values;
        EXPECT_EQ(ValueCategories::of(c.name, c.values.data(), c.values.size(), values), c.categorical) << c.name;
        if (c.categorical) {
            EXPECT_EQ(values, c.present) << c.name;
        }
    }
}

TEST(ValueCategories, ClassificationLabelsCarryTheAsprsNames)
{
    EXPECT_EQ(ValueCategories::label("classification", 2), "2 ground");
    EXPECT_EQ(ValueCategories::label("classification", 9), "9 water");
    EXPECT_EQ(ValueCategories::label("classification", 40), "40 reserved");
    EXPECT_EQ(ValueCategories::label("classification", 200), "200 user defined");
    EXPECT_EQ(ValueCategories::label("return number", 2), "2");
}

} // namespace
