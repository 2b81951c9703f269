#include "gui/FastDelegate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Shape {
public:
    virtual ~Shape() = default;
    virtual std::string name(int sides) { return "shape" + std::to_string(sides); }
    int area(int w, int h) const { return w * h; }
    void record(int v) { seen.push_back(v); }
    std::vector<int> seen;
};

class Square : public Shape {
public:
    std::string name(int sides) override { return "square" + std::to_string(sides); }
};

int freeCalls = 0;
void countFree(int v)
{
    freeCalls += v;
}
int twice(int v)
{
    return 2 * v;
}

TEST(FastDelegate, EmptyDelegatesAreNotCalledAndYieldDefaults)
{
    fastdelegate::FastDelegate1<int> none;
    EXPECT_TRUE(none.empty());
    EXPECT_FALSE(static_cast<bool>(none));
    none(3); // must not crash

    fastdelegate::FastDelegate1<int, int> noResult;
    EXPECT_EQ(noResult(21), 0);

    // A null object, method or function leaves the delegate empty instead of binding a crash.
    Shape *noShape = nullptr;
    EXPECT_TRUE(fastdelegate::MakeDelegate(noShape, &Shape::record).empty());
    void (Shape::*noMethod)(int) = nullptr;
    Shape shape;
    EXPECT_TRUE(fastdelegate::FastDelegate1<int>(&shape, noMethod).empty());
    void (*noFunction)(int) = nullptr;
    EXPECT_TRUE(fastdelegate::FastDelegate1<int>(noFunction).empty());
}

TEST(FastDelegate, CallsMemberAndFreeFunctionsWithTheirArguments)
{
    Shape shape;
    auto record = fastdelegate::MakeDelegate(&shape, &Shape::record);
    record(4);
    record(7);
    EXPECT_EQ(shape.seen, (std::vector<int>{4, 7}));

    const Shape &constShape = shape;
    fastdelegate::FastDelegate2<int, int, int> area = fastdelegate::MakeDelegate(&constShape, &Shape::area);
    EXPECT_EQ(area(3, 5), 15);

    freeCalls = 0;
    fastdelegate::FastDelegate1<int> counter(&countFree);
    counter(2);
    counter(3);
    EXPECT_EQ(freeCalls, 5);
    EXPECT_EQ(fastdelegate::MakeDelegate(&twice)(8), 16);
}

TEST(FastDelegate, VirtualMembersDispatchOnTheBoundObject)
{
    Square square;
    Shape *asShape = &square;
    auto name = fastdelegate::MakeDelegate(asShape, &Shape::name);
    EXPECT_EQ(name(4), "square4");

    Shape plain;
    name.bind(&plain, &Shape::name);
    EXPECT_EQ(name(3), "shape3");
}

TEST(FastDelegate, CopiesAreIndependentBindings)
{
    Shape first, second;
    auto a = fastdelegate::MakeDelegate(&first, &Shape::record);
    auto b = a;
    b(1);
    EXPECT_EQ(first.seen, (std::vector<int>{1}));

    b.bind(&second, &Shape::record);
    a(2);
    b(3);
    EXPECT_EQ(first.seen, (std::vector<int>{1, 2}));
    EXPECT_EQ(second.seen, (std::vector<int>{3}));

    a.clear();
    EXPECT_TRUE(a.empty());
    a(9);
    EXPECT_FALSE(b.empty());
    EXPECT_EQ(first.seen.size(), 2u);
}

} // namespace
