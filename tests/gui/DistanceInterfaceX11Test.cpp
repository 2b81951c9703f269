// The "Path Distance" window: its lines, and what happens when the user closes it.
#include "gui/distanceInterface.h"
#include "measure/Chemin.h"

#include <gtest/gtest.h>

#include <string>

namespace {

void pumpEvents()
{
    while (gtk_events_pending())
        gtk_main_iteration();
}

TEST(DistanceInterface, ShowsBothDistancesAndOpensAgainAfterClosing)
{
    // gtk_init_check is idempotent: the other X11 tests of this executable may have run it.
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "these tests need an X display";
    Chemin path;
    path.add(Point3(0, 0, 0));
    path.add(Point3(3, 4, 0));
    path.add(Point3(3, 4, 12));

    distanceInterface panel;
    ASSERT_NE(panel.getWindow(), nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(panel.getWindow())), "Path Distance");
    panel.setPath(&path);
    EXPECT_STREQ(panel.getGeodesicText(), "Geodesic  distance: 17.000000 units");
    EXPECT_STREQ(panel.getEuclideanText(), "Euclidean distance: 13.000000 units");

    // Closed by the user: the panel forgets the window, the next path opens a new one.
    gtk_widget_destroy(panel.getWindow());
    pumpEvents();
    EXPECT_EQ(panel.getWindow(), nullptr);
    Chemin edge;
    edge.add(Point3(1, 1, 1));
    edge.add(Point3(1, 1, 3));
    panel.setPath(&edge);
    ASSERT_NE(panel.getWindow(), nullptr);
    EXPECT_STREQ(panel.getGeodesicText(), "Geodesic  distance: 2.000000 units");
    EXPECT_STREQ(panel.getEuclideanText(), "Euclidean distance: 2.000000 units");
    // Ends that no edge joins: no length along the surface.
    edge.setConnected(false);
    panel.setPath(&edge);
    EXPECT_STREQ(panel.getGeodesicText(), "Geodesic  distance: none, the ends are not connected");
    EXPECT_STREQ(panel.getEuclideanText(), "Euclidean distance: 2.000000 units");
    // A dropped path leaves the window open with no figures of the path that is gone.
    panel.setPath(nullptr);
    EXPECT_NE(panel.getWindow(), nullptr);
    EXPECT_STREQ(panel.getGeodesicText(), "");
    EXPECT_STREQ(panel.getEuclideanText(), "");
    pumpEvents();
}

} // namespace
