// The control window's own menus and what they open: the menu bar, its accelerators, the Help
// and About windows, the Preferences' window size and the "open file" dialog.
#include "app/GLMachine.h"
#include "app/KeyHelp.h"
#include "gui/MainInterface.h"
#include "objects/GL3DObject.h"
#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

void pumpEvents()
{
    for (int i = 0; i < 200 && gtk_events_pending(); ++i)
        gtk_main_iteration_do(FALSE);
}

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

// Every widget under `root` (menus under their items included), depth first.
void collect(GtkWidget *root, std::vector<GtkWidget *> &out)
{
    if (!root)
        return;
    out.push_back(root);
    if (GTK_IS_CONTAINER(root)) {
        GList *children = gtk_container_get_children(GTK_CONTAINER(root));
        for (GList *c = children; c; c = c->next)
            collect(static_cast<GtkWidget *>(c->data), out);
        g_list_free(children);
    }
    if (GTK_IS_MENU_ITEM(root))
        collect(gtk_menu_item_get_submenu(GTK_MENU_ITEM(root)), out);
}

std::string labelOf(GtkWidget *item)
{
    GtkWidget *child = GTK_IS_BIN(item) ? gtk_bin_get_child(GTK_BIN(item)) : nullptr;
    return child && GTK_IS_LABEL(child) ? gtk_label_get_text(GTK_LABEL(child)) : "";
}

// The labels of a menu's items in order ("-" for a separator).
std::vector<std::string> itemsOf(GtkWidget *title)
{
    std::vector<std::string> labels;
    GList *items = gtk_container_get_children(GTK_CONTAINER(gtk_menu_item_get_submenu(GTK_MENU_ITEM(title))));
    for (GList *i = items; i; i = i->next)
        labels.push_back(GTK_IS_SEPARATOR_MENU_ITEM(i->data) ? "-" : labelOf(GTK_WIDGET(i->data)));
    g_list_free(items);
    return labels;
}

GtkWidget *menuItem(GtkWidget *root, const std::string &label)
{
    std::vector<GtkWidget *> all;
    collect(root, all);
    for (GtkWidget *w : all)
        if (GTK_IS_MENU_ITEM(w) && labelOf(w) == label)
            return w;
    return nullptr;
}

std::vector<std::string> labelTexts(GtkWidget *root)
{
    std::vector<GtkWidget *> all;
    collect(root, all);
    std::vector<std::string> texts;
    for (GtkWidget *w : all)
        if (GTK_IS_LABEL(w))
            texts.emplace_back(gtk_label_get_text(GTK_LABEL(w)));
    return texts;
}

bool contains(const std::vector<std::string> &texts, const std::string &text)
{
    for (const std::string &t : texts)
        if (t == text)
            return true;
    return false;
}

class MainMenus : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = testsupport::makeTempDir("MainMenus");
        machine.reset(new GLMachine(256, 256, [this](GLMachine *m, int w, int h) {
            window = new MainInterface(m, "Velmora", w, h);
            return std::unique_ptr<SceneWindow>(window);
        }));
        pumpEvents();
        control = toplevel("Interface");
        ASSERT_NE(control, nullptr);
    }
    void TearDown() override
    {
        machine.reset();
        pumpEvents();
    }
    GtkWidget *menuBar() const
    {
        std::vector<GtkWidget *> all;
        collect(control, all);
        for (GtkWidget *w : all)
            if (GTK_IS_MENU_BAR(w))
                return w;
        return nullptr;
    }

    std::string dir;
    MainInterface *window = nullptr;
    std::unique_ptr<GLMachine> machine;
    GtkWidget *control = nullptr;
};

// Once a panel has widened it, the control window stands beside the view window, not over it.
TEST_F(MainMenus, ControlWindowBesideTheView)
{
    testsupport::CapturedMessages captured;
    ASSERT_NE(machine->registerObject("default.dat"), nullptr);
    captured.take();
    GtkWidget *view = toplevel("Velmora");
    ASSERT_NE(view, nullptr);
    GdkRectangle v{0, 0, 0, 0}, c{0, 0, 0, 0};
    const gint64 end = g_get_monotonic_time() + 5 * G_TIME_SPAN_SECOND;
    do {
        pumpEvents();
        gdk_window_get_frame_extents(view->window, &v);
        gdk_window_get_frame_extents(control->window, &c);
    } while ((c.x + c.width > v.x && c.x < v.x + v.width) && g_get_monotonic_time() < end);
    EXPECT_TRUE(c.x + c.width <= v.x || c.x >= v.x + v.width)
        << "control " << c.x << "+" << c.width << ", view " << v.x << "+" << v.width;
    EXPECT_GE(c.x, 0);
    EXPECT_GE(c.y, 0);
}

TEST_F(MainMenus, MenuBarItemsAndAccelerators)
{
    GtkWidget *bar = menuBar();
    ASSERT_NE(bar, nullptr);
    std::vector<std::string> titles;
    GList *items = gtk_container_get_children(GTK_CONTAINER(bar));
    for (GList *i = items; i; i = i->next)
        titles.push_back(labelOf(GTK_WIDGET(i->data)));
    g_list_free(items);
    ASSERT_EQ(titles, (std::vector<std::string>{"File", "Help"}));
    EXPECT_EQ(itemsOf(menuItem(bar, "File")),
              (std::vector<std::string>{"Add", "Remove", "-", "Up", "Down", "-", "Preferences", "-", "Quit"}));
    EXPECT_EQ(itemsOf(menuItem(bar, "Help")), (std::vector<std::string>{"Help", "-", "About Velmora"}));

    // The accelerators the README gives, in the control window's groups.
    const struct {
        guint key;
        GdkModifierType mods;
    } accelerators[] = {{GDK_a, GDK_CONTROL_MASK}, {GDK_r, GDK_CONTROL_MASK}, {GDK_u, GDK_CONTROL_MASK},
                        {GDK_d, GDK_CONTROL_MASK}, {GDK_p, GDK_CONTROL_MASK}, {GDK_q, GdkModifierType(0)},
                        {GDK_h, GdkModifierType(0)}};
    for (const auto &a : accelerators) {
        guint found = 0;
        for (GSList *g = gtk_accel_groups_from_object(G_OBJECT(control)); g; g = g->next) {
            guint n = 0;
            gtk_accel_group_query(GTK_ACCEL_GROUP(g->data), a.key, a.mods, &n);
            found += n;
        }
        EXPECT_EQ(found, 1u) << gdk_keyval_name(a.key) << " with modifiers " << a.mods;
    }
}

TEST_F(MainMenus, HelpListsEveryKeyAndAboutNamesTheProgram)
{
    // "Help" names the menu and its first item: the item is the one without a submenu.
    GtkWidget *helpItem = nullptr;
    {
        std::vector<GtkWidget *> all;
        collect(menuBar(), all);
        for (GtkWidget *w : all)
            if (GTK_IS_MENU_ITEM(w) && labelOf(w) == "Help" && !gtk_menu_item_get_submenu(GTK_MENU_ITEM(w)))
                helpItem = w;
    }
    ASSERT_NE(helpItem, nullptr);
    gtk_menu_item_activate(GTK_MENU_ITEM(helpItem));
    pumpEvents();
    GtkWidget *help = toplevel("Help");
    ASSERT_NE(help, nullptr);
    const std::vector<std::string> shown = labelTexts(help);
    int rows = 0;
    for (const auto &column : KeyHelp::columns())
        for (const KeyHelp::Row &row : KeyHelp::rows(column)) {
            if (row.description.empty())
                continue;
            EXPECT_TRUE(contains(shown, row.keys)) << row.keys;
            EXPECT_TRUE(contains(shown, row.description)) << row.description;
            ++rows;
        }
    EXPECT_GT(rows, 40);
    gtk_widget_destroy(help);

    gtk_menu_item_activate(GTK_MENU_ITEM(menuItem(menuBar(), "About Velmora")));
    pumpEvents();
    GtkWidget *about = toplevel("About");
    ASSERT_NE(about, nullptr);
    const std::vector<std::string> said = labelTexts(about);
    EXPECT_TRUE(contains(said, "\nVelmora 1.1.0"));
    EXPECT_TRUE(contains(said, "A viewer for image-based 3D reconstruction by the Velmora developers"));
    gtk_widget_destroy(about);
    pumpEvents();
}

TEST_F(MainMenus, PreferencesWindowSizeFieldsResizeTheView)
{
    gtk_menu_item_activate(GTK_MENU_ITEM(menuItem(menuBar(), "Preferences")));
    pumpEvents();
    GtkWidget *preferences = toplevel("Preferences");
    ASSERT_NE(preferences, nullptr);
    // The spin button in the row labelled "window width".
    std::vector<GtkWidget *> all;
    collect(preferences, all);
    std::vector<GtkSpinButton *> sizes;
    for (GtkWidget *row : all) {
        if (!GTK_IS_HBOX(row))
            continue;
        std::vector<GtkWidget *> inRow;
        collect(row, inRow);
        if (!contains(labelTexts(row), "window width"))
            continue;
        for (GtkWidget *w : inRow)
            if (GTK_IS_SPIN_BUTTON(w))
                sizes.push_back(GTK_SPIN_BUTTON(w));
    }
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(gtk_spin_button_get_value_as_int(sizes[0]), 256) << "it shows the view's width";
    gtk_spin_button_set_value(sizes[0], 300);
    int w = 0, h = 0;
    const gint64 end = g_get_monotonic_time() + 5 * G_TIME_SPAN_SECOND;
    do {
        pumpEvents();
        machine->getWindowSize(w, h);
    } while (w != 300 && g_get_monotonic_time() < end);
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 256);
    gtk_widget_destroy(preferences);
    pumpEvents();
}

// What the user does in "open file" while it runs: two files picked, the second of the list
// first, then "OK".
struct Picking {
    std::string dir;
    int stage = 0;
    int ticks = 0;
    static gboolean step(gpointer data)
    {
        Picking *p = static_cast<Picking *>(data);
        GtkWidget *dialog = toplevel("open file");
        if (!dialog)
            return TRUE;
        // Never left waiting: a chooser that does not get there is cancelled (the test fails).
        if (++p->ticks > 1000) {
            gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
            return FALSE;
        }
        GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
        GSList *chosen = gtk_file_chooser_get_filenames(chooser);
        const guint n = g_slist_length(chosen);
        g_slist_free_full(chosen, g_free);
        if (p->stage == 0) {
            gtk_file_chooser_set_current_folder(chooser, p->dir.c_str());
            gtk_file_chooser_select_filename(chooser, (p->dir + "/b.off").c_str());
            p->stage = 1;
        } else if (p->stage == 1 && n == 1) {
            // Then a click on the list's first row, "a.off", adds it to the choice.
            std::vector<GtkWidget *> all;
            collect(dialog, all);
            for (GtkWidget *w : all) {
                if (!GTK_IS_TREE_VIEW(w))
                    continue;
                GList *columns = gtk_tree_view_get_columns(GTK_TREE_VIEW(w));
                const bool files = g_list_length(columns) > 1;
                g_list_free(columns);
                if (!files)
                    continue;
                GtkTreePath *first = gtk_tree_path_new_from_indices(0, -1);
                gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(w)), first);
                gtk_tree_path_free(first);
            }
            p->stage = 2;
        } else if (p->stage == 2 && n == 2) {
            gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
            return FALSE;
        }
        return TRUE;
    }
};

TEST_F(MainMenus, OpenFileRegistersTheFilesInTheOrderPicked)
{
    std::ofstream(dir + "/a.off") << "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    std::ofstream(dir + "/b.off") << "OFF\n3 1 0\n10 0 0\n11 0 0\n10 1 0\n3 0 1 2\n";
    Picking picking{dir};
    const guint source = g_timeout_add(20, &Picking::step, &picking);
    testsupport::CapturedMessages captured;
    gtk_menu_item_activate(GTK_MENU_ITEM(menuItem(menuBar(), "Add")));
    captured.take();
    if (picking.stage < 2 && picking.ticks <= 1000)
        g_source_remove(source);
    ASSERT_EQ(machine->getNObjects(), 2);
    EXPECT_EQ(machine->getObject(0)->getBBMin().x, 10) << "b.off, picked first";
    EXPECT_EQ(machine->getObject(1)->getBBMin().x, 0);
}

} // namespace
