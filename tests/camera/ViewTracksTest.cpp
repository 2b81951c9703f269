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
