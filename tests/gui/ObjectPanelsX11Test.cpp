// The panels of point clouds and graphs: their menus, and buttons that do what the keys do.
#include "gui/GLGraphObjectInterface.h"
#include "gui/GLPointListObjectInterface.h"
#include "gui/GtkPanel.h"
#include "gui/InterfaceLoader.h"
#include "gui/ColorInterface.h"
#include "math/Messages.h"
#include "objects/GLGraphObject.h"
#include "objects/GLPointListObject.h"
#include "objects/GLPointStreamObject.h"

#include "support/ImageCompare.h"
#include "support/MeshBytes.h"
#include "support/CapturedMessages.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

class GtkEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "these tests need an X display"; }
};
::testing::Environment *const gtkEnvironment = ::testing::AddGlobalTestEnvironment(new GtkEnvironment);

// Every widget under `w` (w included), depth first.
void collect(GtkWidget *w, std::vector<GtkWidget *> &out)
{
    out.push_back(w);
    if (GTK_IS_CONTAINER(w)) {
        GList *children = gtk_container_get_children(GTK_CONTAINER(w));
        for (GList *c = children; c; c = c->next)
            collect(GTK_WIDGET(c->data), out);
        g_list_free(children);
    }
}

// The button labelled `label` inside the frame titled `frame` of a panel.
GtkWidget *button(GtkPanel *panel, const char *frame, const char *label)
{
    std::vector<GtkWidget *> all;
    collect(static_cast<GtkWidget *>(panel->getMainWidget()), all);
    for (GtkWidget *f : all)
        if (GTK_IS_FRAME(f) && std::string(gtk_frame_get_label(GTK_FRAME(f))) == frame) {
            std::vector<GtkWidget *> inside;
            collect(f, inside);
            for (GtkWidget *b : inside)
                if (GTK_IS_BUTTON(b) && gtk_button_get_label(GTK_BUTTON(b)) &&
                    std::string(gtk_button_get_label(GTK_BUTTON(b))) == label)
                    return b;
        }
    return nullptr;
}

std::string menuTitle(GtkPanel *panel)
{
    return gtk_menu_item_get_label(GTK_MENU_ITEM(panel->getMainMenuBar()));
}

std::vector<std::string> menuItems(GtkPanel *panel)
{
    std::vector<std::string> labels;
    GtkWidget *menu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(panel->getMainMenuBar()));
    GList *items = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList *i = items; i; i = i->next)
        labels.push_back(gtk_label_get_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(i->data))))); // as shown
    g_list_free(items);
    return labels;
}

void click(GtkWidget *b)
{
    ASSERT_NE(b, nullptr);
    CapturingMessageSink quiet;
    ScopedMessageSink scope(quiet);
    gtk_button_clicked(GTK_BUTTON(b));
}

TEST(ObjectPanels, ThePointListPanelSendsTheCloudItsKeys)
{
    const float xyz[6] = {0, 0, 0, 1, 1, 1};
    const float scores[2] = {0, 1};
    const PointListRecord record{2, xyz, nullptr, scores};
    GLPointListObject cloud(&record);
    GtkPanel *panel = InterfaceLoader::load(&cloud);
    ASSERT_NE(dynamic_cast<GLPointListObjectInterface *>(panel), nullptr);
    EXPECT_EQ(menuTitle(panel), "PointList");
    EXPECT_EQ(menuItems(panel), (std::vector<std::string>{"Show bounding box", "Show Object Axes", "Palette properties...",
                                                         "Save as...", "Distance to..."}));

    click(button(panel, "point size", "+"));
    EXPECT_EQ(cloud.getPointSize(), 2);
    click(button(panel, "point size", "-"));
    click(button(panel, "point size", "-"));
    EXPECT_EQ(cloud.getPointSize(), 0);
    click(button(panel, "visualization mode", "Zbuffer"));
    EXPECT_EQ(cloud.getDrawMethod(), &GL3DObject::drawDepthBuffer);
    click(button(panel, "visualization mode", "Data"));
    EXPECT_NE(cloud.getDrawMethod(), &GL3DObject::drawDepthBuffer);
    // The frame "selection": the tool, the edits and the rules with their settings.
    click(button(panel, "selection", "Select"));
    EXPECT_EQ(cloud.getCleaning()->getTool(), ElementCleaning::RECTANGLE);
    cloud.getSelection().add(1);
    click(button(panel, "selection", "Delete"));
    EXPECT_EQ(cloud.getEdits().keptCount(), 1u);
    click(button(panel, "selection", "Undo"));
    EXPECT_EQ(cloud.getEdits().keptCount(), 2u);
    click(button(panel, "selection", "By values")); // the scores shown, within their thresholds
    EXPECT_EQ(cloud.getSelection().count(), 2u);

    // The palette dialog opens on the current map; choosing another recolours the cloud.
    auto *pl = static_cast<GLPointListObjectInterface *>(panel);
    pl->menuBarResponse("palette");
    GtkWidget *dialog = static_cast<GtkWidget *>(pl->getPaletteDialog());
    ASSERT_NE(dialog, nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)), "Palette properties");
    pl->menuBarResponse("bbox");
    EXPECT_TRUE(cloud.getShowBoundingBox());
    // Unloading the panel closes its dialog.
    InterfaceLoader::unload(&cloud);
    EXPECT_EQ(cloud.getInterface(), nullptr);
}

// A cloud read node by node has the default panel with "Save as..." and the frame "selection".
TEST(ObjectPanels, AStreamedCloudsPanelHasTheSelectionFrame)
{
    CapturingMessageSink quiet;
    ScopedMessageSink scope(quiet);
    GLPointStreamObject cloud((std::string(VELMORA_SOURCE_DIR) + "/tests/data/laz/1.2-with-color.copc.laz").c_str(),
                              size_t(16) << 20);
    GtkPanel *panel = InterfaceLoader::load(&cloud);
    const std::vector<std::string> items = menuItems(panel);
    EXPECT_NE(std::find(items.begin(), items.end(), "Save as..."), items.end());
    click(button(panel, "selection", "Select"));
    EXPECT_EQ(cloud.getCleaning()->getTool(), ElementCleaning::RECTANGLE);
    EXPECT_NE(button(panel, "selection", "Undo"), nullptr);
    InterfaceLoader::unload(&cloud);
}

TEST(ObjectPanels, TheGraphPanelChangesSizesAndOpensItsTwoColourDialogs)
{
    const std::string path = testsupport::makeTempDir("ObjectPanels") + "/g.gph";
    testsupport::MeshBytes b;
    b.u16(0x454C).i32(2).i32(1);
    for (float v : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f})
        b.f32(v);
    b.i32(0).i32(1);
    b.write(path);
    testsupport::CapturedMessages captured;
    GLGraphObject graph(path.c_str());
    captured.take();
    GtkPanel *panel = InterfaceLoader::load(&graph);
    auto *gp = dynamic_cast<GLGraphObjectInterface *>(panel);
    ASSERT_NE(gp, nullptr);
    EXPECT_EQ(menuTitle(panel), "Graph");
    EXPECT_TRUE(menuItems(panel).empty());

    click(button(panel, "Points", "+"));
    EXPECT_EQ(graph.getPointSize(), 6);
    click(button(panel, "Edges", "+"));
    click(button(panel, "Edges", "+"));
    click(button(panel, "Edges", "-"));
    EXPECT_EQ(graph.getLineWidth(), 2);
    click(button(panel, "visualization mode", "Zbuffer"));
    EXPECT_EQ(graph.getDrawMethod(), &GL3DObject::drawDepthBuffer);

    click(button(panel, "Points", "color"));
    GtkWidget *pointDialog = static_cast<GtkWidget *>(gp->getPointColorDialog());
    ASSERT_NE(pointDialog, nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(pointDialog)), "Point Color");
    click(button(panel, "Edges", "color"));
    GtkWidget *edgeDialog = static_cast<GtkWidget *>(gp->getEdgeColorDialog());
    ASSERT_NE(edgeDialog, nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(edgeDialog)), "Edge Color");
    // A second click brings the same dialog forward.
    click(button(panel, "Points", "color"));
    EXPECT_EQ(gp->getPointColorDialog(), pointDialog);

    // Dragging the controls of the edge dialog recolours the edges at once.
    std::vector<GtkWidget *> all;
    collect(edgeDialog, all);
    GtkColorSelection *selection = nullptr;
    for (GtkWidget *w : all)
        if (GTK_IS_COLOR_SELECTION(w))
            selection = GTK_COLOR_SELECTION(w);
    ASSERT_NE(selection, nullptr);
    GdkColor blue = {0, 0, 0, 65535};
    gtk_color_selection_set_current_color(selection, &blue);
    double c[4];
    graph.getEdgeColor(c);
    EXPECT_EQ(c[1], 0);
    EXPECT_EQ(c[2], 1);
    graph.getPointColor(c);
    EXPECT_EQ(c[0], 1);

    // Closing a dialog forgets it; unloading the panel closes the other.
    gtk_widget_destroy(pointDialog);
    EXPECT_EQ(gp->getPointColorDialog(), nullptr);
    InterfaceLoader::unload(&graph);
}

} // namespace
