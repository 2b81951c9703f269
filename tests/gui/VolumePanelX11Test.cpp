#include "gui/MainInterface.h"

#include "app/GLMachine.h"
#include "core/GLInterface.h"
#include "gui/GLOctreeObjectInterface.h"
#include "gui/GLVolumeObjectInterface.h"
#include "objects/GLOctreeObject.h"
#include "objects/GLVolumeObject.h"
#include "support/ImageCompare.h"
#include "support/Process.h"
#include "support/CapturedMessages.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

void pumpEvents()
{
    for (int i = 0; i < 50 && gtk_events_pending(); ++i)
        gtk_main_iteration_do(FALSE);
}

// The widget named `name` inside `root`, or null.
GtkWidget *findWidget(GtkWidget *root, const char *name)
{
    const char *own = gtk_widget_get_name(root);
    if (own && std::strcmp(own, name) == 0)
        return root;
    if (!GTK_IS_CONTAINER(root))
        return nullptr;
    GList *children = gtk_container_get_children(GTK_CONTAINER(root));
    GtkWidget *found = nullptr;
    for (GList *c = children; c && !found; c = c->next)
        found = findWidget(static_cast<GtkWidget *>(c->data), name);
    g_list_free(children);
    return found;
}

struct Scene {
    MainInterface *window = nullptr;
    std::unique_ptr<GLMachine> machine;
    std::string dir;

    Scene()
    {
        machine.reset(new GLMachine(256, 256, [this](GLMachine *m, int w, int h) {
            window = new MainInterface(m, "Velmora", w, h);
            return std::unique_ptr<SceneWindow>(window);
        }));
        pumpEvents();
        dir = testsupport::makeTempDir("VolumePanel");
        const auto r = testsupport::runProcess({std::string(VELMORA_BINARY_DIR) + "/make_sample_volume", dir});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
    }
    GLObject *open(const char *name)
    {
        testsupport::CapturedMessages captured;
        GLObject *o = machine->registerObject((dir + "/" + name).c_str());
        captured.take();
        pumpEvents();
        return o;
    }
    std::vector<unsigned char> frame()
    {
        pumpEvents();
        std::vector<unsigned char> rgb(256 * 256 * 3);
        machine->getFrameBuffer(rgb.data());
        return rgb;
    }
};

// Moving the Z slider of the volume panel moves the volume's Z plane, and the frame shows
// another slice of the shape.
TEST(VolumePanel, SliceSliderMovesThePlaneAndChangesTheFrame)
{
    Scene scene;
    GLObject *element = scene.open("volume_u8.ima");
    ASSERT_NE(element, nullptr);
    ASSERT_EQ(element->getType(), GLObject::VOLUME);
    auto *volume = static_cast<GLVolumeObject *>(element);
    auto *panel = dynamic_cast<GLVolumeObjectInterface *>(volume->getInterface());
    ASSERT_NE(panel, nullptr) << "a volume gets the volume panel";
    GtkWidget *slider = findWidget(static_cast<GtkWidget *>(panel->getMainWidget()), "sliderZ");
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(gtk_range_get_value(GTK_RANGE(slider)), 16);

    const std::vector<unsigned char> before = scene.frame();
    gtk_range_set_value(GTK_RANGE(slider), 27);
    int position[3];
    volume->getCurrentPosition(position);
    EXPECT_EQ(position[2], 27);
    EXPECT_EQ(position[0], 24) << "the other planes stay";
    const std::vector<unsigned char> after = scene.frame();
    EXPECT_NE(before, after);
    EXPECT_EQ(volume->getSlicePlanes().getUploadCount(2), 2);

    // The Z toggle sends "3": the plane goes.
    GtkWidget *zToggle = nullptr;
    {
        GtkWidget *planes = gtk_widget_get_parent(gtk_widget_get_parent(slider));
        GList *rows = gtk_container_get_children(GTK_CONTAINER(planes));
        GList *toggles = gtk_container_get_children(GTK_CONTAINER(rows->data));
        zToggle = static_cast<GtkWidget *>(g_list_nth_data(toggles, 2));
        g_list_free(toggles);
        g_list_free(rows);
    }
    ASSERT_TRUE(GTK_IS_TOGGLE_BUTTON(zToggle));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(zToggle), FALSE);
    bool visible[3];
    volume->getPlaneStates(visible);
    EXPECT_FALSE(visible[2]);
    pumpEvents();
}

// A colour image opened as a volume is shown in its colours: its panel offers no numeric
// threshold (its samples are packed colours, not values); a grey image's does.
TEST(VolumePanel, AColourImageHasNoThresholdSliders)
{
    Scene scene;
    const struct {
        const char *name;
        std::string bytes;
        bool thresholds;
    } cases[] = {
        {"colour.ppm", std::string("P6\n2 1\n255\n\xff\x00\x00\x00\x80\xff", 17), false},
        {"grey.pgm", std::string("P5\n2 1\n255\n\x10\xf0", 13), true},
    };
    for (const auto &c : cases) {
        std::ofstream(scene.dir + "/" + c.name, std::ios::binary) << c.bytes;
        GLObject *element = scene.open(c.name);
        ASSERT_NE(element, nullptr) << c.name;
        auto *panel = dynamic_cast<GLVolumeObjectInterface *>(element->getInterface());
        ASSERT_NE(panel, nullptr) << c.name;
        GtkWidget *root = static_cast<GtkWidget *>(panel->getMainWidget());
        EXPECT_EQ(findWidget(root, "lowerThreshold") != nullptr, c.thresholds) << c.name;
        EXPECT_EQ(findWidget(root, "upperThreshold") != nullptr, c.thresholds) << c.name;
    }
}

TEST(VolumePanel, OctreeGetsItsPanelWithMenuAndInterpolationDialog)
{
    Scene scene;
    GLObject *element = scene.open("octree_v2.oct");
    ASSERT_NE(element, nullptr);
    auto *octree = static_cast<GLOctreeObject *>(element);
    auto *panel = dynamic_cast<GLOctreeObjectInterface *>(octree->getInterface());
    ASSERT_NE(panel, nullptr) << "an octree gets the octree panel";
    GtkWidget *menu = static_cast<GtkWidget *>(panel->getMainMenuBar());
    EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(menu)), "Octree");

    panel->menuBarResponse("structure");
    EXPECT_TRUE(octree->getDrawStructure());
    panel->menuBarResponse("interpolation");
    GtkWidget *dialog = panel->getInterpolationDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)), "Interpolation properties");
    // The second radio button is "Linear".
    GtkWidget *area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    GList *children = gtk_container_get_children(GTK_CONTAINER(area));
    GtkWidget *linear = nullptr;
    for (GList *c = children; c; c = c->next)
        if (GTK_IS_RADIO_BUTTON(c->data) && std::strcmp(gtk_button_get_label(GTK_BUTTON(c->data)), "Linear") == 0)
            linear = static_cast<GtkWidget *>(c->data);
    g_list_free(children);
    ASSERT_NE(linear, nullptr);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(linear), TRUE);
    EXPECT_EQ(octree->getInterpolationMode(), 1);

    // Removing the octree takes its panel and the open dialog along.
    scene.window->unregisterInterface(octree);
    EXPECT_TRUE(scene.machine->unregisterObject(octree));
    pumpEvents();
}

} // namespace
