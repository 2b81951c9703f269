// The element panels on a real (virtual) display, driven as a user would: buttons clicked,
// menu items activated, dialog controls changed; each checked on the frame the scene draws.
#include "gui/ElementPanel.h"
#include "gui/GLCameraInterface.h"
#include "gui/GLMeshObjectInterface.h"
#include "gui/MainInterface.h"
#include "formats/RecentFiles.h"
#include "gui/DistancePanel.h"
#include "gui/defaultInterface.h"

#include "app/GLMachine.h"
#include "app/KeyHelp.h"
#include "camera/CameraTestFiles.h"
#include "camera/GLCamera.h"
#include "formats/DataItem.h"
#include "math/Messages.h"
#include "math/TriangleBVH.h"
#include "objects/GLMeshObject.h"
#include "support/TestObject.h"
#include "support/CapturedMessages.h"

#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSize = 256;

void pumpEvents()
{
    for (int i = 0; i < 200 && gtk_events_pending(); ++i)
        gtk_main_iteration_do(FALSE);
}

// Depth-first: the first widget under `root` for which `match` holds.
template <class Match> GtkWidget *findWidget(GtkWidget *root, Match match)
{
    if (!root)
        return nullptr;
    if (match(root))
        return root;
    GtkWidget *found = nullptr;
    if (GTK_IS_CONTAINER(root)) {
        GList *children = gtk_container_get_children(GTK_CONTAINER(root));
        for (GList *c = children; c && !found; c = c->next)
            found = findWidget(static_cast<GtkWidget *>(c->data), match);
        g_list_free(children);
    }
    if (!found && GTK_IS_MENU_ITEM(root) && gtk_menu_item_get_submenu(GTK_MENU_ITEM(root)))
        found = findWidget(gtk_menu_item_get_submenu(GTK_MENU_ITEM(root)), match);
    return found;
}

// A button (or toggle) by its label.
GtkWidget *button(GtkWidget *root, const char *label)
{
    return findWidget(root, [label](GtkWidget *w) {
        const char *l = GTK_IS_BUTTON(w) ? gtk_button_get_label(GTK_BUTTON(w)) : nullptr;
        return l && std::strcmp(l, label) == 0;
    });
}

// A menu item by its label, in a menu and its submenus.
GtkWidget *menuItem(GtkWidget *menu, const char *label)
{
    return findWidget(menu, [label](GtkWidget *w) {
        if (!GTK_IS_MENU_ITEM(w) || !GTK_IS_LABEL(gtk_bin_get_child(GTK_BIN(w))))
            return false;
        return std::strcmp(gtk_label_get_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(w)))), label) == 0;
    });
}

GtkWidget *named(GtkWidget *root, const char *name)
{
    return findWidget(root, [name](GtkWidget *w) { return std::strcmp(gtk_widget_get_name(w), name) == 0; });
}

bool isIdentity(const Matrix4 &m)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (m(i, j) != (i == j ? 1.0f : 0.0f))
                return false;
    return true;
}

struct Frame {
    std::vector<unsigned char> rgb;
    const unsigned char *at(int x, int y) const { return &rgb[3 * (static_cast<size_t>(y) * kSize + x)]; }
    bool operator==(const Frame &o) const { return rgb == o.rgb; }
    // Pixels of the colour of pixel (0, 0), the background in a corner no model reaches.
    int background() const
    {
        int n = 0;
        for (size_t i = 0; i < rgb.size(); i += 3)
            n += rgb[i] == rgb[0] && rgb[i + 1] == rgb[1] && rgb[i + 2] == rgb[2];
        return n;
    }
};

// A sphere by latitude and longitude with one data item (its height), counter-clockwise
// seen from outside.
struct SphereData {
    std::vector<float> v;
    std::vector<int> t;
    std::vector<float> height;
    DataItem item;
    const DataItem *items[1] = {&item};

    SphereData(float r, int rings, int slices)
    {
        for (int i = 0; i <= rings; ++i)
            for (int j = 0; j < slices; ++j) {
                const double theta = M_PI * i / rings, phi = 2 * M_PI * j / slices;
                v.insert(v.end(), {static_cast<float>(r * std::sin(theta) * std::cos(phi)),
                                   static_cast<float>(r * std::sin(theta) * std::sin(phi)),
                                   static_cast<float>(r * std::cos(theta))});
                height.push_back(static_cast<float>(std::cos(theta)));
            }
        for (int i = 0; i < rings; ++i)
            for (int j = 0; j < slices; ++j) {
                const int a = i * slices + j, b = i * slices + (j + 1) % slices;
                const int c = (i + 1) * slices + (j + 1) % slices, d = (i + 1) * slices + j;
                t.insert(t.end(), {a, d, c, a, c, b});
            }
        item = DataItem("height", height.data(), static_cast<int>(height.size()));
        item.computeDataLimits();
    }
    GLMeshObject::MeshRecord record(bool withData) const
    {
        return {static_cast<int>(v.size() / 3), static_cast<int>(t.size() / 3), v.data(), t.data(),
                withData ? 1 : 0, withData ? items : nullptr};
    }
};

// The viewer's two windows with a scene, in a folder of its own (the camera state file is
// written to the working folder).
class Panels : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/velmora-panels-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        previous = cwd;
        ASSERT_EQ(chdir(folder.c_str()), 0);
        machine.reset(new GLMachine(kSize, kSize, [this](GLMachine *m, int w, int h) {
            window = new MainInterface(m, "Velmora", w, h);
            return std::unique_ptr<SceneWindow>(window);
        }));
        pumpEvents();
        ASSERT_TRUE(window->makeCurrent(false));
        // Objects registered in memory need a camera to be seen through.
        testsupport::CapturedMessages captured;
        machine->registerObject("default.dat");
        captured.take();
    }
    void TearDown() override
    {
        machine.reset();
        pumpEvents();
        if (!previous.empty()) {
            EXPECT_EQ(chdir(previous.c_str()), 0);
        }
        std::remove((folder + "/cameraState.txt").c_str());
        std::remove((folder + "/cameras.dat").c_str());
        std::remove((folder + "/colors.rgb").c_str());
        rmdir(folder.c_str());
    }

    GLMeshObject *addSphere(bool withData)
    {
        testsupport::CapturedMessages captured;
        GLMeshObject::MeshRecord record = sphere.record(withData);
        GLMeshObject *mesh = new GLMeshObject(&record);
        machine->registerObject(mesh, "sphere.tri");
        captured.take();
        pumpEvents();
        return mesh;
    }
    Frame capture()
    {
        pumpEvents();
        Frame f;
        f.rgb.resize(3 * kSize * kSize);
        machine->getFrameBuffer(f.rgb.data());
        return f;
    }
    static GtkWidget *mainWidget(GLObject *e) { return GtkPanel::of(e)->getMainWidget(); }
    static void activate(GtkWidget *item)
    {
        ASSERT_NE(item, nullptr);
        gtk_menu_item_activate(GTK_MENU_ITEM(item));
        pumpEvents();
    }
    static void click(GtkWidget *b)
    {
        ASSERT_NE(b, nullptr);
        gtk_button_clicked(GTK_BUTTON(b));
        pumpEvents();
    }

    std::string cameraPanelText()
    {
        auto *panel = dynamic_cast<GLCameraInterface *>(machine->getCurrentCamera()->getInterface());
        return panel ? panel->getInformationText() : std::string("no camera panel");
    }

    std::string folder, previous;
    MainInterface *window = nullptr;
    std::unique_ptr<GLMachine> machine;
    SphereData sphere{0.8f, 24, 32};
};

TEST_F(Panels, PanelFollowsTheElementKind)
{
    GLMeshObject *mesh = addSphere(false);
    auto *meshPanel = dynamic_cast<GLMeshObjectInterface *>(mesh->getInterface());
    ASSERT_NE(meshPanel, nullptr);
    EXPECT_EQ(meshPanel->getInformationText(), mesh->getInformation());
    EXPECT_NE(menuItem(meshPanel->getMenu(), "Load RGB colors..."), nullptr);
    // No data items: no "Data" button to press.
    GtkWidget *data = button(mainWidget(mesh), "Data");
    ASSERT_NE(data, nullptr);
    EXPECT_FALSE(gtk_widget_get_visible(data));

    ASSERT_NE(machine->getCurrentCamera(), nullptr);
    EXPECT_NE(dynamic_cast<GLCameraInterface *>(machine->getCurrentCamera()->getInterface()), nullptr);
    // The projection modes, spelt right.
    EXPECT_NE(button(mainWidget(machine->getCurrentCamera()), "perspective"), nullptr);
    EXPECT_NE(button(mainWidget(machine->getCurrentCamera()), "orthogonal"), nullptr);

    // A camera imported from another program's output is named by its format, not as a camera file.
    EXPECT_NE(cameraPanelText().find("default camera"), std::string::npos);
    std::ofstream(folder + "/transforms.json")
        << "{\"fl_x\":50,\"w\":64,\"h\":48,\"frames\":[{\"file_path\":\"a.png\",\"transform_matrix\":"
           "[[1,0,0,0],[0,1,0,0],[0,0,1,5],[0,0,0,1]]}]}";
    {
        testsupport::CapturedMessages quiet;
        ASSERT_NE(machine->registerObject((folder + "/transforms.json").c_str()), nullptr);
    }
    EXPECT_NE(cameraPanelText().find("1 views\nnerfstudio transforms.json model"), std::string::npos)
        << cameraPanelText();

    // Another 3D object under the mesh's code, not a mesh: the default panel.
    testsupport::TestObject *box = testsupport::TestObject::box(Point3(0, 0, 0), Point3(1, 2, 3));
    machine->registerObject(box, "dir/box.xyz");
    auto *plain = dynamic_cast<defaultInterface *>(box->getInterface());
    ASSERT_NE(plain, nullptr);
    const char *title = gtk_label_get_text(
        GTK_LABEL(gtk_bin_get_child(GTK_BIN(static_cast<GtkWidget *>(plain->getMainMenuBar())))));
    EXPECT_STREQ(title, "Default");
    EXPECT_NE(menuItem(plain->getMenu(), "Show bounding box"), nullptr);
    EXPECT_NE(menuItem(plain->getMenu(), "Show Object Axes"), nullptr);
    EXPECT_NE(plain->getInformationText().find("8 vertices"), std::string::npos) << plain->getInformationText();
    activate(menuItem(plain->getMenu(), "Show bounding box"));
    EXPECT_TRUE(box->getShowBoundingBox());

    // Dialog controls are found by name; a missing one is reported.
    testsupport::CapturedMessages captured;
    EXPECT_EQ(lookupWidget(mainWidget(mesh), "noSuchWidget4"), nullptr);
    EXPECT_EQ(captured.take(), "Widget not found: noSuchWidget4\n");

    // The texture dialog sets the mesh's texture environment and filter.
    activate(menuItem(meshPanel->getMenu(), "Texture properties..."));
    GtkWidget *texture = meshPanel->getOpenDialogs().back();
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(texture)), "Texture properties");
    const int filter = mesh->getTextureInterpolation(), environment = mesh->getTextureModulation();
    click(named(texture, filter == 0 ? "linear" : "nearest"));
    click(named(texture, environment == 0 ? "modulate" : "decal"));
    EXPECT_EQ(mesh->getTextureInterpolation(), 1 - filter);
    EXPECT_EQ(mesh->getTextureModulation(), 1 - environment);
}

TEST_F(Panels, WireButtonDoesWhatKeyOneDoes)
{
    GLMeshObject *mesh = addSphere(false);
    const Frame shaded = capture();
    ASSERT_GT(shaded.background(), 0);
    ASSERT_LT(shaded.background(), kSize * kSize) << "the sphere is in view";

    click(button(mainWidget(mesh), "Wire"));
    const Frame byButton = capture();
    EXPECT_FALSE(byButton == shaded);
    machine->notifyCommand('1');
    EXPECT_TRUE(capture() == shaded) << "the key turns off what the button turned on";
    machine->notifyCommand('1');
    EXPECT_TRUE(capture() == byButton);
}

// The direction towards the viewer in world coordinates (the third row of the model-view's
// rotation), and a unit direction across the view.
void viewDirections(GLCamera *camera, Point3 &toViewer, Point3 &across)
{
    const Matrix4 &mv = camera->getGLModelViewMatrix();
    toViewer = Point3(mv(2, 0), mv(2, 1), mv(2, 2));
    across = Point3(mv(0, 0), mv(0, 1), mv(0, 2));
}

TEST_F(Panels, ClippingDialogCutsTheModel)
{
    GLMeshObject *mesh = addSphere(false);
    auto *panel = dynamic_cast<GLMeshObjectInterface *>(mesh->getInterface());
    ASSERT_NE(panel, nullptr);
    const Frame whole = capture();

    // Plane 0 turned across the view through the sphere's centre: one side of it goes.
    activate(menuItem(panel->getMenu(), "Clipping properties..."));
    ASSERT_FALSE(panel->getOpenDialogs().empty());
    GtkWidget *clipping = panel->getOpenDialogs().back();
    Point3 toViewer, across;
    viewDirections(machine->getCurrentCamera(), toViewer, across);
    const char *names[4] = {"valueX0", "valueY0", "valueZ0", "valueW0"};
    for (int k = 0; k < 3; ++k) {
        GtkWidget *s = named(clipping, names[k]);
        ASSERT_NE(s, nullptr) << names[k];
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(s), across[k]);
    }
    GtkSpinButton *w = GTK_SPIN_BUTTON(named(clipping, names[3]));
    double lo = 0, hi = 0;
    gtk_spin_button_get_range(w, &lo, &hi);
    EXPECT_LT(lo, -0.79) << "the offset spans the sphere along the normal";
    EXPECT_GT(hi, 0.79);
    gtk_spin_button_set_value(w, 0);
    pumpEvents();
    EXPECT_TRUE(capture() == whole) << "a plane that is not enabled cuts nothing";
    click(named(clipping, "enable0"));
    double plane[4];
    EXPECT_EQ(mesh->getClippingPlane(plane, 0), 1);
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(named(clipping, "enable0"))), "Disable");
    const Frame cut = capture();
    const int half = (kSize * kSize - whole.background()) / 2;
    EXPECT_NEAR(cut.background() - whole.background(), half, half / 5) << "half the sphere is gone";

    // Removing the mesh closes its dialogs with its panel.
    window->unregisterInterface(mesh);
    pumpEvents();
    EXPECT_TRUE(machine->unregisterObject(mesh));
}

TEST_F(Panels, MaterialDialogDrawsBackFacesAndSetsTheMaterial)
{
    // A square turned away from the viewer: only its back faces the camera.
    Point3 toViewer, across;
    viewDirections(machine->getCurrentCamera(), toViewer, across);
    const Point3 up = across.cross(toViewer); // across x up = -toViewer: the square faces away
    std::vector<float> v;
    for (Point3 c : {across * -1 - up, across - up, across + up, up - across})
        v.insert(v.end(), {c.x, c.y, c.z});
    const std::vector<int> t = {0, 1, 2, 0, 2, 3};
    GLMeshObject::MeshRecord record = {4, 2, v.data(), t.data(), 0, nullptr};
    testsupport::CapturedMessages captured;
    GLMeshObject *mesh = new GLMeshObject(&record);
    machine->registerObject(mesh, "square.tri");
    captured.take();
    auto *panel = dynamic_cast<GLMeshObjectInterface *>(mesh->getInterface());
    ASSERT_NE(panel, nullptr);
    const Frame culled = capture();
    EXPECT_EQ(culled.background(), kSize * kSize) << "the back of the square is not drawn";

    activate(menuItem(panel->getMenu(), "Surface properties..."));
    GtkWidget *materials = panel->getOpenDialogs().back();
    GtkWidget *doubleFace = named(materials, "doubleFace4");
    ASSERT_NE(doubleFace, nullptr);
    EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(doubleFace)));
    click(doubleFace);
    EXPECT_TRUE(mesh->getDisplay().doubleFace);
    EXPECT_LT(capture().background(), kSize * kSize / 2) << "the back faces are drawn";

    // The wire width and the predefined materials reach the mesh from the same dialog, and
    // the dialog shows the material it set.
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(named(materials, "wireSize4")), 3);
    pumpEvents();
    EXPECT_FLOAT_EQ(mesh->getDisplay().wireSize, 3);
    click(button(materials, "Reset Object Colors to Default2"));
    EXPECT_EQ(std::memcmp(&mesh->getDisplay().material, &Material::predefined[1], sizeof(Material)), 0);
    EXPECT_FLOAT_EQ(static_cast<float>(gtk_range_get_value(GTK_RANGE(named(materials, "shininess_hscale4")))),
                    Material::predefined[1].frontShininess);
    // A colour picked in a page is written back with the rest.
    GdkColor red = {0, 65535, 0, 0};
    gtk_color_selection_set_current_color(GTK_COLOR_SELECTION(named(materials, "colorselection_diffuse4")), &red);
    pumpEvents();
    EXPECT_FLOAT_EQ(mesh->getDisplay().material.frontDiffuse[0], 1);
    EXPECT_FLOAT_EQ(mesh->getDisplay().material.frontDiffuse[1], 0);
    const float *ambient = mesh->getDisplay().material.frontAmbient;
    EXPECT_EQ(std::memcmp(ambient, Material::predefined[1].frontAmbient, 4 * sizeof(float)), 0);
}

TEST_F(Panels, PaletteDialogChangesTheLegend)
{
    GLMeshObject *mesh = addSphere(true);
    auto *panel = dynamic_cast<GLMeshObjectInterface *>(mesh->getInterface());
    ASSERT_NE(panel, nullptr);
    GtkWidget *data = button(mainWidget(mesh), "Data");
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(gtk_widget_get_visible(data));
    click(data);
    const Frame before = capture();

    activate(menuItem(panel->getMenu(), "Palette properties..."));
    GtkWidget *dialog = panel->getOpenDialogs().back();
    GtkTreeView *list = GTK_TREE_VIEW(findWidget(dialog, [](GtkWidget *w) { return GTK_IS_TREE_VIEW(w); }));
    ASSERT_NE(list, nullptr);
    GtkTreeModel *model = nullptr;
    GtkTreeIter iter;
    ASSERT_TRUE(gtk_tree_selection_get_selected(gtk_tree_view_get_selection(list), &model, &iter))
        << "the current map is preselected";
    EXPECT_EQ(gtk_tree_model_iter_n_children(model, nullptr), ColorMap::getNumberOfColorMaps());

    const int other = (mesh->getColorMap() + 3) % ColorMap::getNumberOfColorMaps();
    GtkTreePath *row = gtk_tree_path_new_from_indices(other, -1);
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(list), row);
    gtk_tree_path_free(row);
    pumpEvents();
    EXPECT_EQ(mesh->getColorMap(), other);
    const Frame after = capture();
    // The legend lies left of the sphere: it changed too.
    int changedInLegend = 0;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < 60; ++x)
            changedInLegend += std::memcmp(before.at(x, y), after.at(x, y), 3) != 0;
    EXPECT_FALSE(before == after);
    EXPECT_GT(changedInLegend, 0);
}

TEST_F(Panels, RGBColorFileIsTakenOnlyWhenItFits)
{
    GLMeshObject *mesh = addSphere(false);
    auto *panel = dynamic_cast<GLMeshObjectInterface *>(mesh->getInterface());
    ASSERT_NE(panel, nullptr);
    const int n = mesh->getNVertices();
    auto write = [this](const std::string &text) {
        std::ofstream(folder + "/colors.rgb") << text;
        return folder + "/colors.rgb";
    };
    std::string good = std::to_string(n) + "\n";
    for (int i = 0; i < n; ++i)
        good += i % 2 ? "1 0 0\n" : "0 0 1\n";
    ASSERT_TRUE(panel->loadRGBFile(write(good).c_str()));
    ASSERT_NE(mesh->getArrays().colors, nullptr);
    const std::vector<unsigned char> taken(mesh->getArrays().colors, mesh->getArrays().colors + 3 * n);
    EXPECT_EQ(taken[0], 0);
    EXPECT_EQ(taken[2], 255);
    EXPECT_EQ(taken[3], 255);

    // Refused files leave the colours as they were and say why.
    const std::string wrongCount = std::to_string(n - 1) + "\n" + good.substr(good.find('\n') + 1);
    const std::string shortFile = good.substr(0, good.size() / 2);
    std::string notANumber = good;
    notANumber.replace(notANumber.rfind("1 0 0"), 5, "nan 0 0");
    for (const std::string &bad : {wrongCount, shortFile, notANumber}) {
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        const std::string path = write(bad);
        EXPECT_FALSE(panel->loadRGBFile(path.c_str()));
        const std::string said = sink.text();
        EXPECT_EQ(said.rfind("GLMeshObjectInterface: " + path + ": ", 0), 0u) << said;
        EXPECT_EQ(sink.text(MessageLevel::Error), said);
        EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
        const unsigned char *colours = mesh->getArrays().colors;
        EXPECT_EQ(std::vector<unsigned char>(colours, colours + 3 * n), taken);
    }
}

TEST_F(Panels, CameraStateSavedThenLoadedRestoresTheFrame)
{
    addSphere(false);
    GLCamera *camera = machine->getCurrentCamera();
    auto *panel = dynamic_cast<GLCameraInterface *>(camera->getInterface());
    ASSERT_NE(panel, nullptr);
    machine->notifyCommand('z');
    const Frame saved = capture();
    activate(menuItem(panel->getMenu(), "Save camera..."));
    std::ifstream state(folder + "/cameraState.txt");
    ASSERT_TRUE(state.good()) << "Save camera... writes cameraState.txt in the working folder";

    // Turned with the mouse, zoomed, and turned to another axis.
    machine->notifyClick(InputEvent::press(1), 100, 100);
    machine->notifyDrag(InputEvent::motion(1), 160, 130);
    machine->notifyClick(InputEvent::release(1), 160, 130);
    click(button(mainWidget(camera), "Y"));
    machine->notifyCommand('z');
    EXPECT_FALSE(capture() == saved);

    activate(menuItem(panel->getMenu(), "Load camera..."));
    EXPECT_TRUE(capture() == saved);
}

TEST_F(Panels, DiscreteCamerasShowTheCamerasOfAMultiViewFile)
{
    // Eight cameras on a ring around the origin, all looking at it.
    std::vector<cameratest::Pose> poses;
    for (int i = 0; i < 8; ++i) {
        const float a = static_cast<float>(2 * M_PI * i / 8);
        poses.push_back(cameratest::lookAt(Point3(4 * std::cos(a), 0.5f, 4 * std::sin(a)), Point3(0, 0, 0)));
    }
    cameratest::writeFile(folder, "cameras.dat", cameratest::version4(640, 480, 320, 240, 500, 500, poses));
    testsupport::CapturedMessages captured;
    GLObject *element = machine->registerObject((folder + "/cameras.dat").c_str());
    captured.take();
    ASSERT_NE(element, nullptr);
    GLCamera *camera = machine->getCurrentCamera();
    ASSERT_EQ(camera->getNViews(), 8);
    auto *panel = dynamic_cast<GLCameraInterface *>(camera->getInterface());
    ASSERT_NE(panel, nullptr);

    const Frame plain = capture();
    GtkWidget *item = menuItem(panel->getMenu(), "Discrete Cameras");
    activate(item);
    EXPECT_TRUE(camera->getOptions() & GLCamera::CAMERA_ORIGINS);
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)));
    const Frame markers = capture();
    EXPECT_LT(markers.background(), plain.background()) << "the markers of the other cameras are drawn";

    // The arrow buttons step through the original views as the cursor keys do.
    GtkWidget *arrows = findWidget(mainWidget(camera), [](GtkWidget *w) {
        return GTK_IS_BUTTON(w) && GTK_IS_ARROW(gtk_bin_get_child(GTK_BIN(w)));
    });
    click(arrows);
    EXPECT_EQ(camera->getCurrentView(), 1);

    // "Camera Animation" opens the flight editor, or a window that says there is none.
    const size_t open = panel->getOpenDialogs().size();
    activate(menuItem(panel->getMenu(), "Camera Animation"));
    if (!camera->getAnimation()) {
        ASSERT_EQ(panel->getOpenDialogs().size(), open + 1);
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(panel->getOpenDialogs().back())), "Camera Animation");
    }
}

TEST_F(Panels, KeysShowInThePanels)
{
    addSphere(false);
    GLCamera *camera = machine->getCurrentCamera();
    GtkWidget *transparency = button(mainWidget(camera), "transparency");
    ASSERT_NE(transparency, nullptr);

    // A key typed in the view window flips the camera's flag; its toggle follows.
    GtkWidget *view = nullptr;
    GList *tops = gtk_window_list_toplevels();
    for (GList *t = tops; t; t = t->next)
        if (std::strcmp(gtk_window_get_title(GTK_WINDOW(t->data)) ? gtk_window_get_title(GTK_WINDOW(t->data)) : "",
                        "Velmora") == 0)
            view = gtk_bin_get_child(GTK_BIN(t->data));
    g_list_free(tops);
    ASSERT_NE(view, nullptr);
    gtk_widget_grab_focus(view);
    ASSERT_TRUE(gtk_test_widget_send_key(view, GDK_t, static_cast<GdkModifierType>(0)));
    pumpEvents();
    EXPECT_TRUE(camera->getTransparency());
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(transparency)));

    // And the toggle sends the key back.
    click(transparency);
    EXPECT_FALSE(camera->getTransparency());

    // "i" puts a moved object back where it was loaded and the camera at its view.
    GL3DObject *object = machine->getCurrentObject();
    machine->notifyClick(InputEvent::press(1, InputEvent::SHIFT), 100, 100);
    machine->notifyDrag(InputEvent::motion(1, InputEvent::SHIFT), 150, 120);
    machine->notifyClick(InputEvent::release(1, InputEvent::SHIFT), 150, 120);
    machine->notifyCommand('z');
    EXPECT_FALSE(isIdentity(object->getPose()));
    machine->notifyCommand('i');
    EXPECT_TRUE(isIdentity(object->getPose()));
    ASSERT_TRUE(camera->isDefaultCamera());
    EXPECT_FLOAT_EQ(camera->getFocal(), 5) << "the built-in camera's framing";
    EXPECT_FLOAT_EQ(camera->getPanning().x, 0);
    const Matrix4 original = camera->getGLEMatrix();
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(camera->getGLModelViewMatrix()(i, j), original(i, j), 1e-5) << i << j;
}

} // namespace

namespace {

// The view opens at its requested size and can then be made smaller as well as larger.
TEST_F(Panels, ViewWindowResizesBothWays)
{
    int w = 0, h = 0;
    machine->getWindowSize(w, h);
    EXPECT_EQ(w, kSize);
    EXPECT_EQ(h, kSize);
    for (const auto &size : {std::make_pair(120, 90), std::make_pair(400, 300)}) {
        window->reshapeWindow(size.first, size.second);
        const gint64 end = g_get_monotonic_time() + 5 * G_TIME_SPAN_SECOND;
        do {
            pumpEvents();
            machine->getWindowSize(w, h);
        } while ((w != size.first || h != size.second) && g_get_monotonic_time() < end);
        EXPECT_EQ(w, size.first);
        EXPECT_EQ(h, size.second);
    }
}

} // namespace

namespace {

GtkWidget *toplevel(const char *title)
{
    GtkWidget *found = nullptr;
    GList *tops = gtk_window_list_toplevels();
    for (GList *t = tops; t; t = t->next) {
        const char *name = gtk_window_get_title(GTK_WINDOW(t->data));
        if (name && std::strcmp(name, title) == 0 && gtk_widget_get_visible(GTK_WIDGET(t->data)))
            found = GTK_WIDGET(t->data);
    }
    g_list_free(tops);
    return found;
}

// The Preferences' "Background color" button shows the colour, also after it was changed.
TEST_F(Panels, BackgroundButtonShowsTheColour)
{
    GtkWidget *view = gtk_bin_get_child(GTK_BIN(toplevel("Velmora")));
    ASSERT_NE(view, nullptr);
    gtk_widget_grab_focus(view);
    ASSERT_TRUE(gtk_test_widget_send_key(view, GDK_p, GDK_CONTROL_MASK));
    pumpEvents();
    GtkWidget *preferences = toplevel("Preferences");
    ASSERT_NE(preferences, nullptr);
    GtkWidget *swatch = named(preferences, "backgroundSwatch");
    ASSERT_NE(swatch, nullptr);
    auto shown = [swatch] { return gtk_widget_get_style(swatch)->bg[GTK_STATE_NORMAL]; };
    const Point4 start = machine->getBackgroundColor();
    EXPECT_NEAR(shown().red / 65535.0, start.x, 1e-3);
    EXPECT_NEAR(shown().blue / 65535.0, start.z, 1e-3);

    click(findWidget(preferences, [](GtkWidget *w) {
        return GTK_IS_BUTTON(w) && findWidget(w, [](GtkWidget *l) {
                   return GTK_IS_LABEL(l) && std::strcmp(gtk_label_get_text(GTK_LABEL(l)), "Background color") == 0;
               });
    }));
    GtkWidget *chooser = toplevel("select color");
    ASSERT_NE(chooser, nullptr);
    GtkWidget *selection = findWidget(chooser, [](GtkWidget *w) { return GTK_IS_COLOR_SELECTION(w); });
    GdkColor blue = {0, 0, 0, 65535};
    gtk_color_selection_set_current_color(GTK_COLOR_SELECTION(selection), &blue);
    pumpEvents();
    EXPECT_FLOAT_EQ(machine->getBackgroundColor().z, 1);
    EXPECT_EQ(shown().red, 0);
    EXPECT_EQ(shown().blue, 65535);
    gtk_widget_destroy(chooser);
    gtk_widget_destroy(preferences);
    pumpEvents();
}

TEST_F(Panels, DistanceToAnotherMeshBecomesADataItem)
{
    GLMeshObject *sphereMesh = addSphere(false);
    // Probe vertices inside, outside and far beyond the sphere (radius 0.8).
    const std::vector<float> v = {0.1f, 0.05f, 0.45f, 0.3f, 0.2f, -0.1f, 1.1f, 0, 0, 0, -1.3f, 0.2f, 9, 0, 0};
    const std::vector<int> t = {0, 1, 2, 2, 3, 4};
    GLMeshObject::MeshRecord record = {5, 2, v.data(), t.data(), 0, nullptr};
    testsupport::CapturedMessages captured;
    GLMeshObject *probe = new GLMeshObject(&record);
    machine->registerObject(probe, "probe.tri");
    pumpEvents();
    auto *panel = dynamic_cast<GLMeshObjectInterface *>(probe->getInterface());
    ASSERT_NE(panel, nullptr);
    activate(menuItem(panel->getMenu(), "Distance to..."));
    DistancePanel *distance = panel->openDistancePanel();
    ASSERT_NE(distance, nullptr);
    // Only the other mesh is offered: not the probe itself, not the camera.
    EXPECT_EQ(distance->getTargetNames(), std::vector<std::string>{"sphere.tri"});
    distance->setMaximum("2");
    click(named(distance->getDialog(), "compute"));
    while (probe->getNDataItems() == 0 && distance->isRunning())
        gtk_main_iteration_do(TRUE);
    ASSERT_EQ(probe->getNDataItems(), 1);

    const DataItem &item = probe->getDataItem(0);
    EXPECT_STREQ(item.getName(), "distance to sphere.tri");
    const float *d = item.getData();
    for (int i = 0; i < 4; ++i) {
        const double p[3] = {v[3 * i], v[3 * i + 1], v[3 * i + 2]};
        double best = INFINITY, q[3];
        int feature = 0;
        for (size_t k = 0; k < sphere.t.size(); k += 3)
            best = std::min(best, TriangleBVH::closestOnTriangle(p, &sphere.v[3 * sphere.t[k]],
                                                                &sphere.v[3 * sphere.t[k + 1]],
                                                                &sphere.v[3 * sphere.t[k + 2]], q, feature));
        const bool inside = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]) < 0.75;
        EXPECT_FLOAT_EQ(d[i], static_cast<float>(inside ? -best : best)) << "vertex " << i;
    }
    EXPECT_TRUE(std::isnan(d[4])) << "beyond the maximum distance";
    EXPECT_EQ(probe->getArrays().colors[12], 128) << "a vertex beyond the maximum is grey";
    EXPECT_EQ(distance->getFigures().measured, 4u);
    EXPECT_EQ(distance->getFigures().beyond, 1u);
    size_t counted = 0;
    for (size_t n : distance->getHistogram())
        counted += n;
    EXPECT_EQ(counted, 4u);
    const std::string said = captured.take();
    EXPECT_NE(said.find("distance to sphere.tri: mean "), std::string::npos) << said;
    EXPECT_NE(said.find("; signed"), std::string::npos) << said;

    // Measured again, the item is replaced rather than added; the sphere itself is untouched.
    click(named(distance->getDialog(), "compute"));
    while (distance->isRunning())
        gtk_main_iteration_do(TRUE);
    EXPECT_EQ(probe->getNDataItems(), 1);
    EXPECT_EQ(sphereMesh->getNDataItems(), 0);
}

// Closing the window or "Cancel" stop a measurement at once, even while the hierarchy over a
// large mesh is built: neither waits for the worker, which ends on its own.
TEST_F(Panels, DistanceStopsAtOnceWhileTheHierarchyIsBuilt)
{
    const SphereData large(0.8f, 500, 500);
    GLMeshObject::MeshRecord record = large.record(false);
    testsupport::CapturedMessages captured;
    GLMeshObject target(&record);
    auto *panel = dynamic_cast<GLMeshObjectInterface *>(addSphere(false)->getInterface());
    ASSERT_NE(panel, nullptr);
    for (const bool cancel : {true, false}) {
        DistancePanel *distance = panel->openDistancePanel();
        ASSERT_TRUE(distance->start(&target, "large.tri"));
        if (cancel) {
            click(button(toplevel("Distance to large.tri"), "Cancel"));
            while (distance->isRunning())
                gtk_main_iteration_do(TRUE);
        }
        gtk_widget_destroy(distance->getDialog());
        EXPECT_GT(DistancePanel::workersAtWork(), 0) << (cancel ? "Cancel" : "closing") << " waited for the worker";
        EXPECT_NE(captured.take().find("Distance to large.tri: stopped\n"), std::string::npos);
        while (DistancePanel::workersAtWork() > 0)
            g_usleep(1000);
    }
}

} // namespace

namespace {

// The control window's menus and what they open.
std::vector<std::string> childLabels(GtkWidget *shell)
{
    std::vector<std::string> labels;
    GList *items = gtk_container_get_children(GTK_CONTAINER(shell));
    for (GList *i = items; i; i = i->next) {
        GtkWidget *child = GTK_IS_BIN(i->data) ? gtk_bin_get_child(GTK_BIN(i->data)) : nullptr;
        labels.push_back(child && GTK_IS_LABEL(child) ? gtk_label_get_text(GTK_LABEL(child)) : "-");
    }
    g_list_free(items);
    return labels;
}

bool showsText(GtkWidget *root, const std::string &text)
{
    return findWidget(root, [&](GtkWidget *w) { return GTK_IS_LABEL(w) && text == gtk_label_get_text(GTK_LABEL(w)); });
}

TEST_F(Panels, MenuBarHelpAboutAndPreferencesWindowSize)
{
    GtkWidget *control = toplevel("Interface");
    GtkWidget *bar = findWidget(control, [](GtkWidget *w) { return GTK_IS_MENU_BAR(w); });
    ASSERT_NE(bar, nullptr);
    const std::vector<std::string> titles = childLabels(bar);
    ASSERT_EQ(titles.size(), 4u);
    EXPECT_EQ(titles.front(), "File");
    EXPECT_EQ(titles[2], "View") << "the selected element's menu after File";
    EXPECT_EQ(titles.back(), "Help");
    EXPECT_EQ(childLabels(gtk_menu_item_get_submenu(GTK_MENU_ITEM(menuItem(bar, "View")))),
              (std::vector<std::string>{"Fit all", "Reset camera", "Orientation triad", "-", "Measure", "Set scale...",
                                        "-", "A/B split view", "Swap A and B", "-", "Up axis"}));
    // The items run the keys: the measure tool goes on and off.
    activate(menuItem(bar, "Measure"));
    EXPECT_TRUE(machine->getMeasure().isOn());
    activate(menuItem(bar, "Measure"));
    EXPECT_FALSE(machine->getMeasure().isOn());
    EXPECT_EQ(childLabels(gtk_menu_item_get_submenu(GTK_MENU_ITEM(menuItem(bar, "File")))),
              (std::vector<std::string>{"Add", "Recent files", "Remove", "-", "Up", "Down", "-", "Preferences", "-",
                                        "Quit"}));
    EXPECT_EQ(childLabels(gtk_menu_item_get_submenu(GTK_MENU_ITEM(menuItem(bar, "Help")))),
              (std::vector<std::string>{"Help", "-", "About Velmora"}));
    const std::pair<guint, int> accelerators[] = {{GDK_a, GDK_CONTROL_MASK}, {GDK_r, GDK_CONTROL_MASK},
                                                  {GDK_u, GDK_CONTROL_MASK}, {GDK_d, GDK_CONTROL_MASK},
                                                  {GDK_p, GDK_CONTROL_MASK}, {GDK_q, 0}, {GDK_h, 0}};
    for (const auto &[key, mods] : accelerators) {
        guint found = 0;
        for (GSList *g = gtk_accel_groups_from_object(G_OBJECT(control)); g; g = g->next) {
            guint n = 0;
            gtk_accel_group_query(GTK_ACCEL_GROUP(g->data), key, GdkModifierType(mods), &n);
            found += n;
        }
        EXPECT_EQ(found, 1u) << gdk_keyval_name(key);
    }

    // Help lists every key a binding table gives; About names the program.
    activate(findWidget(bar, [](GtkWidget *w) {
        return GTK_IS_MENU_ITEM(w) && !gtk_menu_item_get_submenu(GTK_MENU_ITEM(w)) &&
               GTK_IS_LABEL(gtk_bin_get_child(GTK_BIN(w))) &&
               std::strcmp(gtk_label_get_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(w)))), "Help") == 0;
    }));
    GtkWidget *help = toplevel("Help");
    ASSERT_NE(help, nullptr);
    for (const auto &column : KeyHelp::columns())
        for (const KeyHelp::Row &row : KeyHelp::rows(column)) {
            if (row.description.empty())
                continue;
            EXPECT_TRUE(showsText(help, row.keys) && showsText(help, row.description)) << row.description;
        }
    gtk_widget_destroy(help);
    activate(menuItem(bar, "About Velmora"));
    GtkWidget *about = toplevel("About");
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(showsText(about, "\nVelmora 1.1.0"));
    EXPECT_TRUE(showsText(about, "A viewer for image-based 3D reconstruction by the Velmora developers"));
    gtk_widget_destroy(about);

    // The Preferences' "window width" resizes the view.
    activate(menuItem(bar, "Preferences"));
    GtkWidget *preferences = toplevel("Preferences");
    GtkWidget *row = findWidget(preferences, [](GtkWidget *w) { return GTK_IS_HBOX(w) && showsText(w, "window width"); });
    GtkWidget *width = findWidget(row, [](GtkWidget *w) { return GTK_IS_SPIN_BUTTON(w); });
    ASSERT_NE(width, nullptr);
    EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(width)), kSize);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(width), 300);
    int w = 0, h = 0;
    const gint64 end = g_get_monotonic_time() + 5 * G_TIME_SPAN_SECOND;
    do {
        pumpEvents();
        machine->getWindowSize(w, h);
    } while (w != 300 && g_get_monotonic_time() < end);
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, kSize);
    gtk_widget_destroy(preferences);
    pumpEvents();
}

// What the user does in "open file" while it runs: b.off picked, then a click on the list's
// first row (a.off) adds it, then "OK". A chooser that never gets there is cancelled.
struct Picking {
    std::string folder;
    int ticks = 0;
    std::string started; ///< the folder the chooser showed first
};

gboolean pickTwoFiles(gpointer data)
{
    auto *picking = static_cast<Picking *>(data);
    GtkWidget *dialog = toplevel("open file");
    if (++picking->ticks > 1000 || !dialog) {
        if (dialog)
            gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
        return dialog || picking->ticks > 1000 ? FALSE : TRUE;
    }
    GSList *chosen = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(dialog));
    const guint n = g_slist_length(chosen);
    g_slist_free_full(chosen, g_free);
    if (picking->started.empty()) {
        // The chooser names its folder once it has read it, which may take a few ticks; then
        // b.off is picked (which takes the chooser to b.off's folder).
        gchar *shown = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog));
        picking->started = shown ? shown : "";
        g_free(shown);
        if (!picking->started.empty())
            gtk_file_chooser_select_filename(GTK_FILE_CHOOSER(dialog), (picking->folder + "/b.off").c_str());
    } else if (n == 1) {
        GtkWidget *list = findWidget(dialog, [](GtkWidget *w) {
            GList *columns = GTK_IS_TREE_VIEW(w) ? gtk_tree_view_get_columns(GTK_TREE_VIEW(w)) : nullptr;
            const bool files = g_list_length(columns) > 1;
            g_list_free(columns);
            return files;
        });
        GtkTreePath *first = gtk_tree_path_new_from_indices(0, -1);
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(list)), first);
        gtk_tree_path_free(first);
    } else if (n == 2) {
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
        return FALSE;
    }
    return TRUE;
}

// "open file" starts in the folder of the last file opened, here c.off from the command line,
// rather than in the toolkit's empty "Recently Used"; the files opened come first in the File
// menu's "Recent files" (kept for the next runs), which opens them again.
TEST_F(Panels, OpenFileRegistersTheFilesInTheOrderPickedAndKeepsThemRecent)
{
    // Beside the working folder, not in it: the chooser would list it among a.off and b.off.
    const std::string sub = folder + "-sub";
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    std::ofstream(sub + "/c.off") << "OFF\n3 1 0\n5 0 0\n6 0 0\n5 1 0\n3 0 1 2\n";
    std::ofstream(folder + "/a.off") << "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    std::ofstream(folder + "/b.off") << "OFF\n3 1 0\n10 0 0\n11 0 0\n10 1 0\n3 0 1 2\n";
    const std::string c = "../" + sub.substr(sub.rfind('/') + 1) + "/c.off";
    const char *commandLine[] = {c.c_str()};
    testsupport::CapturedMessages captured;
    ASSERT_EQ(machine->registerStartFiles(nullptr, 1, commandLine), 1);
    Picking picking{folder, 0, ""};
    g_timeout_add(20, pickTwoFiles, &picking);
    GtkWidget *bar = findWidget(toplevel("Interface"), [](GtkWidget *w) { return GTK_IS_MENU_BAR(w); });
    activate(menuItem(bar, "Add"));
    EXPECT_EQ(picking.started, sub);
    ASSERT_EQ(machine->getNObjects(), 3);
    EXPECT_EQ(machine->getObject(1)->getBBMin().x, 10) << "b.off, picked first";
    EXPECT_EQ(machine->getObject(2)->getBBMin().x, 0);

    const std::vector<std::string> kept = RecentFiles::list();
    ASSERT_GE(kept.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(kept.begin(), kept.begin() + 3),
              (std::vector<std::string>{folder + "/a.off", folder + "/b.off", sub + "/c.off"}));
    activate(menuItem(bar, "File"));
    GtkWidget *recent = gtk_menu_item_get_submenu(GTK_MENU_ITEM(menuItem(bar, "Recent files")));
    ASSERT_GE(childLabels(recent).size(), 3u);
    EXPECT_EQ(childLabels(recent)[2], "c.off");
    activate(menuItem(recent, "c.off"));
    EXPECT_EQ(machine->getNObjects(), 4);
    captured.take();
    for (const std::string &f : {folder + "/a.off", folder + "/b.off", sub + "/c.off"})
        std::remove(f.c_str());
    rmdir(sub.c_str());
}

} // namespace
