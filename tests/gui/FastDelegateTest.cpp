#include "gui/FastDelegate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Shape {
    virtual ~Shape() = default;
    virtual std::string name(int sides) { return "shape" + std::to_string(sides); }
    int area(int w, int h) const { return w * h; }
    void record(int v) { seen.push_back(v); }
    std::vector<int> seen;
};

struct Square : Shape {
    std::string name(int sides) override { return "square" + std::to_string(sides); }
};

int twice(int v)
{
    return 2 * v;
}

TEST(FastDelegate, CallsTheBoundFunctionAndNothingWhenEmpty)
{
    Square square;
    Shape *asShape = &square;
    EXPECT_EQ(fastdelegate::MakeDelegate(asShape, &Shape::name)(4), "square4") << "virtual dispatch";
    const Shape &constShape = square;
    EXPECT_EQ(fastdelegate::MakeDelegate(&constShape, &Shape::area)(3, 5), 15);
    EXPECT_EQ(fastdelegate::MakeDelegate(&twice)(8), 16);

    fastdelegate::FastDelegate1<int, int> none;
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none(21), 0);
    // A null object, method or function leaves the delegate empty rather than binding a crash.
    Shape *noShape = nullptr;
    void (Shape::*noMethod)(int) = nullptr;
    int (*noFunction)(int) = nullptr;
    EXPECT_TRUE(fastdelegate::MakeDelegate(noShape, &Shape::record).empty());
    EXPECT_TRUE(fastdelegate::FastDelegate1<int>(&square, noMethod).empty());
    EXPECT_TRUE((fastdelegate::FastDelegate1<int, int>(noFunction).empty()));
}

} // namespace
