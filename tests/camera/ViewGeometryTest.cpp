#include "camera/ViewGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void expectNear(Point2 a, Point2 b, float tolerance = 1e-5f)
{
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
}

TEST(ViewGeometry, RefLinePointsIntoTheBoxFromEveryRegion)
{
    const Point2 min(0, 0), max(2, 2);
    const float r = 1 / std::sqrt(2.f);
    struct Case {
        Point2 p, expected;
    } cases[] = {
        {Point2(-1, -1), Point2(r, r)},         // (0,0): bisects (0,2) and (2,0)
        {Point2(1, -1), Point2(0, 1)},          // (0,1): (0,0) and (2,0)
        {Point2(3, -1), bisectrix(Point2(3, -1), min, max)},
        {Point2(-1, 1), Point2(1, 0)},          // (1,0): (0,2) and (0,0)
        {Point2(1, 1), Point2(0, 0)},           // inside
        {Point2(3, 1), Point2(-1, 0)},          // (1,2): (2,0) and (2,2)
        {Point2(1, 3), Point2(0, -1)},          // (2,1): (0,2) and (2,2)
        {Point2(3, 3), Point2(-r, -r)},         // (2,2): (0,2) and (2,0)
        {Point2(0, 0), Point2(r, r)},           // on the corner counts as outside (<= min)
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.p.x << "," << c.p.y);
        expectNear(computeRefLine(c.p, min, max), c.expected);
    }
    // From (3, -1) the box lies between the directions to (0, 0) and (2, 2).
    const Point2 d = computeRefLine(Point2(3, -1), min, max);
    EXPECT_LT(d.x, 0);
    EXPECT_GT(d.y, 0);
}

TEST(ViewGeometry, BisectrixAndBoundingBox)
{
    expectNear(bisectrix(Point2(0, 0), Point2(5, 0), Point2(0, 2)), Point2(std::sqrt(0.5f), std::sqrt(0.5f)));
    expectNear(bisectrix(Point2(0, 0), Point2(1, 0), Point2(-3, 0)), Point2(0, 0));
    const Point2 pts[3] = {Point2(1, 5), Point2(-2, 3), Point2(4, -1)};
    Point2 lo, hi;
    computeBoundingBox(pts, 3, lo, hi);
    expectNear(lo, Point2(-2, -1));
    expectNear(hi, Point2(4, 5));
    computeBoundingBox(pts, 0, lo, hi);
    EXPECT_TRUE(std::isinf(lo.x) && lo.x > 0 && std::isinf(hi.y) && hi.y < 0);
}

TEST(ViewGeometry, OuterTangentsOfASquareFromTheLeft)
{
    // A square contour seen from far left: the tangents touch the top-left and bottom-left
    // corners; the first listed point wins among equal angles.
    const Point2 square[8] = {Point2(0, 0), Point2(1, 0), Point2(2, 0), Point2(2, 1),
                              Point2(2, 2), Point2(1, 2), Point2(0, 2), Point2(0, 1)};
    const TangentPair t = computeOuterET(square, 8, Point2(-10, 1));
    EXPECT_EQ(t.first, 0);
    EXPECT_EQ(t.second, 6);
    // From below right, the tangents touch (0, 0) and (2, 2).
    const TangentPair u = computeOuterET(square, 8, Point2(12, 12 + 0.5f));
    EXPECT_EQ(std::min(u.first, u.second), 2);
    EXPECT_EQ(std::max(u.first, u.second), 6);
    EXPECT_EQ(computeOuterET(square, 0, Point2(0, 0)).first, -1);

    const std::vector<int> all = computeET(square, 8, Point2(-10, 1));
    EXPECT_EQ(all, (std::vector<int>{0, 6}));
}

TEST(ViewGeometry, LineClipsToTheRectangle)
{
    Point2 out[2];
    // x = 3 crosses the top and bottom sides.
    ASSERT_EQ(line(Point3(1, 0, -3), Point2(0, 10), Point2(0, 5), out), 2);
    expectNear(out[0], Point2(3, 0));
    expectNear(out[1], Point2(3, 5));
    // y = 2 crosses the left and right sides.
    ASSERT_EQ(line(Point3(0, 1, -2), Point2(0, 10), Point2(0, 5), out), 2);
    expectNear(out[0], Point2(0, 2));
    expectNear(out[1], Point2(10, 2));
    // The diagonal through a corner stops at two points.
    ASSERT_EQ(line(Point3(1, -1, 0), Point2(0, 5), Point2(0, 5), out), 2);
    expectNear(out[0], Point2(0, 0));
    expectNear(out[1], Point2(5, 5));
    EXPECT_EQ(line(Point3(1, 0, -30), Point2(0, 10), Point2(0, 5), out), 0);
}

TEST(ViewGeometry, CrossIsTheClosestApproachAlongTheFirstLine)
{
    // The x axis and a vertical line through (4, 0, 3): closest at x = 4.
    EXPECT_NEAR(cross(Point3(0, 0, 0), Point3(2, 0, 0), Point3(4, 1, 3), Point3(0, 1, 0)), 2, 1e-6f);
}

} // namespace
