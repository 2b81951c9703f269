// ctest-label: thread
#include "core/ElementEdits.h"
#include "core/SelectionRules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// 21 x 21 points at z = 0 on the grid -1, -0.9, ..., 1 (index = row * 21 + column).
std::vector<float> grid()
{
    std::vector<float> xyz;
    for (int r = 0; r <= 20; ++r)
        for (int c = 0; c <= 20; ++c)
            xyz.insert(xyz.end(), {-1 + 0.1f * static_cast<float>(c), -1 + 0.1f * static_cast<float>(r), 0});
    return xyz;
}

// The identity as mvp: a 200 x 200 window shows x, y in [-1, 1], window pixel (100 + 100 x,
// 100 - 100 y).
const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// A view at distance d from the origin along direction `from`, looking at the origin.
ViewSight lookingAtOrigin(Point3 from, float d, int side)
{
    const Point3 forward = -from / std::sqrt(from * from);
    Point3 up(0, 0, 1);
    if (std::fabs(forward * up) > 0.9f)
        up = Point3(0, 1, 0);
    Point3 right = forward.cross(up);
    right /= std::sqrt(right * right);
    const Point3 down = forward.cross(right);
    ViewSight v;
    v.R = Matrix3(right, down, forward).transpose();
    v.t = -(v.R * (-forward * d));
    v.fx = v.fy = static_cast<float>(side);
    v.cx = v.cy = static_cast<float>(side) / 2;
    v.width = v.height = side;
    return v;
}

} // namespace

TEST(SelectionRules, WindowShapesAndBoxesSelectTheKnownPoints)
{
    const std::vector<float> xyz = grid();
    const size_t n = xyz.size() / 3;
    ElementSelection s;
    // Window x in [0, 100.5] and y in [0, 200]: the 11 columns x <= 0.
    SelectionRules::rectangle(xyz.data(), n, kIdentity, 200, 200, Point2(100.5f, 200), Point2(0, 0), s,
                              SelectMode::Replace);
    EXPECT_EQ(s.count(), 11u * 21);
    EXPECT_TRUE(s.contains(0) && !s.contains(20));
    // Subtracting the upper half (window y <= 100.5, so y >= 0) leaves 11 x 10.
    SelectionRules::rectangle(xyz.data(), n, kIdentity, 200, 200, Point2(0, 0), Point2(200, 100.5f), s,
                              SelectMode::Subtract);
    EXPECT_EQ(s.count(), 11u * 10);
    // A lasso of the triangle (0,0), (1,0), (0,1) in the plane, bounds a little outside.
    const std::vector<Point2> lasso = {Point2(99, 101), Point2(202, 101), Point2(99, -2)};
    SelectionRules::lasso(xyz.data(), n, kIdentity, 200, 200, lasso, s, SelectMode::Replace);
    EXPECT_EQ(s.count(), 66u); // 11 + 10 + ... + 1 grid points with x, y >= 0, x + y <= 1
    SelectionRules::lasso(xyz.data(), n, kIdentity, 200, 200, lasso, s, SelectMode::Add);
    EXPECT_EQ(s.count(), 66u);
    // Points behind the eye (w < 0) are never in a window shape.
    const float flipped[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1};
    SelectionRules::rectangle(xyz.data(), n, flipped, 200, 200, Point2(-1e6f, -1e6f), Point2(1e6f, 1e6f), s,
                              SelectMode::Replace);
    EXPECT_EQ(s.count(), 0u);

    SelectionRules::box(xyz.data(), n, Point3(-0.05f, -0.05f, -1), Point3(0.25f, 0.25f, 1), s, SelectMode::Replace);
    EXPECT_EQ(s.count(), 9u);
    // The square of half diagonal 0.3 turned by 45 degrees: |x| + |y| <= 0.3.
    const float c = std::sqrt(0.5f);
    const Matrix3 turned = Matrix3(Point3(c, c, 0), Point3(-c, c, 0), Point3(0, 0, 1)).transpose();
    SelectionRules::box(xyz.data(), n, Point3(0, 0, 0), turned, Point3(0.3f * c + 1e-4f, 0.3f * c + 1e-4f, 1), s,
                        SelectMode::Replace);
    EXPECT_EQ(s.count(), 25u);
}

TEST(SelectionRules, RangesAndGrowingSelectByValueAndDistance)
{
    const std::vector<float> values = {0.1f, 0.5f, NAN, 0.9f, 0.5f, -2};
    ElementSelection s;
    SelectionRules::range(values.data(), values.size(), 0.5f, 1, s, SelectMode::Replace);
    EXPECT_EQ(s.count(), 3u);
    EXPECT_FALSE(s.contains(2));

    // Points along x at 0, 1, 2, ..., 9 and one far at x = 100.
    std::vector<float> line;
    for (int i = 0; i < 10; ++i)
        line.insert(line.end(), {static_cast<float>(i), 0, 0});
    line.insert(line.end(), {100, 0, 0});
    ElementSelection g(11);
    g.add(4);
    SelectionRules::grow(line.data(), 11, 1.5f, g);
    EXPECT_EQ(g.count(), 3u);
    EXPECT_TRUE(g.contains(3) && g.contains(5));
    SelectionRules::grow(line.data(), 11, 2.0f, g);
    EXPECT_EQ(g.count(), 7u);
    EXPECT_FALSE(g.contains(10));
}

// A unit sphere's surface and floaters around it, seen by 24 views with the sphere's exact
// silhouettes: carving by 2 views removes the floaters and keeps the surface.
TEST(SelectionRules, CarvingRemovesFloatersAndKeepsTheSurface)
{
    std::mt19937 rng(7);
    std::normal_distribution<float> normal;
    std::uniform_real_distribution<float> uniform(-2.0f, 2.0f);
    const size_t surface = 200000, floaters = 5000;
    std::vector<float> xyz;
    while (xyz.size() < 3 * surface) {
        Point3 p(normal(rng), normal(rng), normal(rng));
        p /= std::sqrt(p * p);
        xyz.insert(xyz.end(), {p.x, p.y, p.z});
    }
    while (xyz.size() < 3 * (surface + floaters)) {
        const Point3 p(uniform(rng), uniform(rng), uniform(rng));
        if (std::sqrt(p * p) > 1.3f)
            xyz.insert(xyz.end(), {p.x, p.y, p.z});
    }
    const int side = 256;
    std::vector<ViewSight> views;
    std::vector<std::vector<unsigned char>> masks(24);
    for (int i = 0; i < 24; ++i) {
        const float a = static_cast<float>(i) * 0.2618f, e = (i % 3 - 1) * 0.6f;
        ViewSight v = lookingAtOrigin(Point3(std::cos(a) * std::cos(e), std::sin(a) * std::cos(e), std::sin(e)), 5,
                                      side);
        // The sphere's disc: a pixel centre whose ray passes within 1 of the origin.
        masks[i].resize(static_cast<size_t>(side) * side);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const Point3 ray = v.R.transpose() * Point3((x + 0.5f - v.cx) / v.fx, (y + 0.5f - v.cy) / v.fy, 1);
                const Point3 eye = -(v.R.transpose() * v.t);
                const float along = -(eye * ray) / (ray * ray);
                const Point3 closest = eye + ray * along;
                masks[i][static_cast<size_t>(y) * side + x] = closest * closest <= 1 ? 255 : 0;
            }
        v.mask = masks[i].data();
        v.maskWidth = v.maskHeight = side;
        views.push_back(v);
    }
    ElementSelection carved;
    SelectionRules::carve(xyz.data(), surface + floaters, views, 2, carved, SelectMode::Replace);
    size_t surfaceRemoved = 0;
    for (size_t i : carved)
        surfaceRemoved += i < surface;
    EXPECT_GE(static_cast<double>(carved.count() - surfaceRemoved), 0.99 * floaters);
    EXPECT_LE(static_cast<double>(surfaceRemoved), 0.005 * surface);

    // Half-size masks of a downscaled folder carve the same elements but a few at the rims.
    std::vector<std::vector<unsigned char>> halves(24);
    for (int i = 0; i < 24; ++i) {
        halves[i].resize(static_cast<size_t>(side / 2) * (side / 2));
        for (int y = 0; y < side / 2; ++y)
            for (int x = 0; x < side / 2; ++x)
                halves[i][static_cast<size_t>(y) * (side / 2) + x] = masks[i][(2 * y) * side + 2 * x];
        views[i].mask = halves[i].data();
        views[i].maskWidth = views[i].maskHeight = side / 2;
    }
    ElementSelection coarse;
    SelectionRules::carve(xyz.data(), surface + floaters, views, 2, coarse, SelectMode::Replace);
    EXPECT_NEAR(static_cast<double>(coarse.count()), static_cast<double>(carved.count()), 0.01 * floaters);

    // A point seen by every view, and one above them all, outside every frustum.
    const float probes[] = {0, 0, 0, 0, 0, 100};
    ElementSelection unseen;
    SelectionRules::unseen(probes, 2, views, unseen, SelectMode::Replace);
    EXPECT_EQ(unseen.count(), 1u);
    EXPECT_TRUE(unseen.contains(1));
}

// A view at the origin looking along +z whose mask holds the disc of 20 pixels about the
// centre: (0.25, 0, 1) is 25 pixels out through a pinhole, 18.75 in through a lens that pulls
// it in by a quarter, and the view carves it only in the first case. (0.6, 0, 1) is outside
// the photograph whatever the lens says of it. Moved by a pose, the
// point is judged where the pose puts it.
TEST(SelectionRules, CarvingSeesThroughTheLensAndThePose)
{
    std::vector<unsigned char> disc(100 * 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            disc[static_cast<size_t>(y) * 100 + x] = (x + 0.5f - 50) * (x + 0.5f - 50) + (y + 0.5f - 50) * (y + 0.5f - 50) < 400;
    ViewSight view;
    view.fx = view.fy = 100;
    view.cx = view.cy = 50;
    view.width = view.height = 100;
    view.mask = disc.data();
    view.maskWidth = view.maskHeight = 100;
    const float point[] = {0.25f, 0, 1, 0.6f, 0, 1};
    const struct {
        double k;
        bool carved[2];
    } lenses[] = {{0, {true, true}}, {-4, {false, true}}};
    for (const auto &lens : lenses) {
        view.lens = LensDistortion(LensDistortion::SIMPLE_RADIAL, &lens.k);
        ElementSelection carved;
        // The second point is outside the picture: the lens folds it back in (to 23.6 pixels),
        // where its model no longer holds.
        SelectionRules::carve(point, 2, {view}, 1, carved, SelectMode::Replace, 0);
        EXPECT_EQ(carved.contains(0), lens.carved[0]) << lens.k;
        EXPECT_FALSE(carved.contains(1)) << lens.k;
        float u, v;
        EXPECT_FALSE(view.sees(point + 3, u, v)) << lens.k;
    }
    Matrix4 pose = Matrix4::Identity;
    pose(0, 3) = -0.25f; // the point moved onto the axis
    view.lens = LensDistortion();
    ElementSelection carved;
    SelectionRules::carve(point, 1, {view.underPose(pose)}, 1, carved, SelectMode::Replace, 0);
    EXPECT_TRUE(carved.empty());
}

TEST(ElementEdits, DeletionStepsUndoAndRedoExactly)
{
    ElementEdits edits(100);
    ElementSelection a(100), b(100);
    a.addRange(10, 20);
    b.addRange(15, 30);
    EXPECT_EQ(edits.remove(a), 10u);
    EXPECT_EQ(edits.remove(b), 10u); // 15..19 were already gone
    EXPECT_EQ(edits.remove(a), 0u);  // nothing new: no step
    EXPECT_EQ(edits.undoSteps(), 2u);
    ElementSelection c(100);
    c.addRange(0, 40);
    EXPECT_EQ(edits.keepOnly(c), 60u);
    EXPECT_EQ(edits.keptCount(), 20u); // 0..9 and 30..39
    ElementSelection hidden(100);
    hidden.addRange(5, 15);
    EXPECT_EQ(edits.hide(hidden), 5u); // 10..14 were deleted already
    EXPECT_FALSE(edits.isShown(7));
    EXPECT_TRUE(edits.isShown(4));
    ASSERT_TRUE(edits.undo());
    ASSERT_TRUE(edits.undo());
    EXPECT_EQ(edits.keptCount(), 90u);
    EXPECT_TRUE(edits.isDeleted(19) && !edits.isDeleted(20));
    ASSERT_TRUE(edits.redo());
    EXPECT_EQ(edits.keptCount(), 80u);
    ASSERT_TRUE(edits.undo());
    ASSERT_TRUE(edits.undo());
    EXPECT_FALSE(edits.undo());
    EXPECT_EQ(edits.keptCount(), 100u);
    // Whole sets join 64 at a time; a larger set's elements beyond the size stay out.
    ElementSelection small(70), large(200);
    large.addRange(60, 200);
    small.addAll(large);
    EXPECT_EQ(small.count(), 10u);
    small.removeAll(large);
    EXPECT_TRUE(small.empty());
    // A new deletion forgets what was undone.
    edits.remove(a);
    EXPECT_FALSE(edits.redo());
}
