#include "camera/ViewTracks.h"

#include <gtest/gtest.h>

// Showing a point's track marks exactly the views that observe it, and an index outside the
// points shows none.
TEST(ViewTracks, ShowsTheViewsOfTheChosenPointOnly)
{
    Reconstruction model;
    model.views.resize(3);
    model.points.resize(2);
    model.trackStart = {0, 2, 3};
    model.tracks = {{0, 0}, {2, 0}, {1, 0}};
    ViewTracks tracks;
    tracks.set(model, {GLView::Intrinsics{100, 100, 50, 50, 100, 100}});
    ASSERT_EQ(2u, tracks.pointCount());
    EXPECT_TRUE(tracks.show(0, Point3(1, 2, 3)));
    EXPECT_FALSE(tracks.show(0, Point3(1, 2, 3))) << "nothing changed";
    EXPECT_TRUE(tracks.observes(0) && tracks.observes(2) && !tracks.observes(1));
    EXPECT_EQ(2, tracks.trackLength(0));
    EXPECT_TRUE(tracks.show(1, Point3(0, 0, 0)));
    EXPECT_TRUE(!tracks.observes(0) && tracks.observes(1) && !tracks.observes(2));
    EXPECT_TRUE(tracks.show(2, Point3(0, 0, 0)));
    EXPECT_EQ(-1, tracks.shown());
    EXPECT_FALSE(tracks.observes(1));
}

// Keypoints are kept per view with the point each observes; a model measuring them from the
// principal point (Bundler) has them moved to the photograph's top-left origin.
TEST(ViewTracks, KeepsEveryViewsKeypointsFromThePhotographsCorner)
{
    Reconstruction model;
    model.views.resize(2);
    model.points.resize(1);
    model.views[0].keypoints = {1, 2, 3, 4};
    model.views[0].observes = {-1, 0};
    model.views[1].keypoints = {-5, 6};
    model.views[1].observes = {0};
    for (const bool centred : {false, true}) {
        model.centredPrincipalPoint = centred;
        ViewTracks tracks;
        tracks.set(model, {GLView::Intrinsics{100, 100, 50, 40, 100, 80}});
        ASSERT_TRUE(tracks.hasKeypoints());
        EXPECT_EQ(2, tracks.keypointCount(0));
        EXPECT_EQ(1, tracks.keypointCount(1));
        EXPECT_EQ(0, tracks.keypointCount(2)) << "no such view";
        EXPECT_EQ(-1, tracks.observedPoint(0, 0));
        EXPECT_EQ(0, tracks.observedPoint(1, 0));
        const Point2 k = tracks.keypoint(1, 0);
        EXPECT_FLOAT_EQ(centred ? 45 : -5, k.x);
        EXPECT_FLOAT_EQ(centred ? 46 : 6, k.y);
    }
}
