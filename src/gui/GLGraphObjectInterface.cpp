#include "gui/GLGraphObjectInterface.h"

#include "gui/ColorInterface.h"
#include "objects/GLGraphObject.h"

#include <gtk/gtk.h>

namespace {

void onButton(GtkButton *button, gpointer data)
{
    const int key = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "key"));
    static_cast<GLGraphObjectInterface *>(data)->sendCommand(key);
}

void onPointColor(GtkButton *, gpointer data) { static_cast<GLGraphObjectInterface *>(data)->openPointColor(); }
void onEdgeColor(GtkButton *, gpointer data) { static_cast<GLGraphObjectInterface *>(data)->openEdgeColor(); }

GtkWidget *keyButton(const char *label, int key, gpointer panel)
{
    GtkWidget *b = gtk_button_new_with_label(label);
    g_object_set_data(G_OBJECT(b), "key", GINT_TO_POINTER(key));
    g_signal_connect(b, "clicked", G_CALLBACK(onButton), panel);
    return b;
}

// A frame titled `title` holding "+", "-" (the keys plus and minus) and "color".
GtkWidget *sizeAndColour(const char *title, int plus, int minus, GCallback colour, gpointer panel, const char *name)
{
    GtkWidget *frame = gtk_frame_new(title);
    GtkWidget *row = gtk_hbox_new(TRUE, 2);
    gtk_box_pack_start(GTK_BOX(row), keyButton("+", plus, panel), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(row), keyButton("-", minus, panel), TRUE, TRUE, 0);
    GtkWidget *c = gtk_button_new_with_label("color");
    gtk_widget_set_name(c, name);
    g_signal_connect(c, "clicked", colour, panel);
    gtk_box_pack_start(GTK_BOX(row), c, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(frame), row);
    return frame;
}

Point4 toPoint4(const double *c)
{
    return Point4(static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2]), static_cast<float>(c[3]));
}

} // namespace

GLGraphObjectInterface::GLGraphObjectInterface(GLGraphObject *g)
    : graph(g), information(nullptr), pointDialog(nullptr), edgeDialog(nullptr)
{
    accelGroup = gtk_accel_group_new();
    createMenuBar();
    createInterface();
}

GLGraphObjectInterface::~GLGraphObjectInterface()
{
    // A colour dialog deletes its chooser when its window goes; it must not outlive the panel
    // whose graph it changes.
    for (void **dialog : {&pointDialog, &edgeDialog})
        if (*dialog) {
            g_object_remove_weak_pointer(G_OBJECT(*dialog), dialog);
            gtk_widget_destroy(static_cast<GtkWidget *>(*dialog));
        }
    if (mainWidget) {
        gtk_widget_destroy(static_cast<GtkWidget *>(mainWidget));
        g_object_unref(mainWidget);
    }
    if (mainMenuBar) {
        gtk_widget_destroy(static_cast<GtkWidget *>(mainMenuBar));
        g_object_unref(mainMenuBar);
    }
    if (accelGroup)
        g_object_unref(accelGroup);
}

void GLGraphObjectInterface::createMenuBar()
{
    GtkWidget *menu = gtk_menu_new();
    gtk_menu_set_accel_group(GTK_MENU(menu), GTK_ACCEL_GROUP(accelGroup));
    GtkWidget *title = gtk_menu_item_new_with_label("Graph");
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(title), menu);
    mainMenuBar = g_object_ref_sink(title);
}

void GLGraphObjectInterface::createInterface()
{
    GtkWidget *box = gtk_vbox_new(FALSE, 0);
    GtkWidget *frame = gtk_frame_new("information");
    GtkWidget *label = gtk_label_new(graph->getInformation().c_str());
    gtk_misc_set_alignment(GTK_MISC(label), 0, 0);
    gtk_container_add(GTK_CONTAINER(frame), label);
    information = label;
    gtk_box_pack_start(GTK_BOX(box), frame, FALSE, FALSE, 2);

    GtkWidget *modes = gtk_frame_new("visualization mode");
    GtkWidget *row = gtk_hbox_new(TRUE, 2);
    gtk_box_pack_start(GTK_BOX(row), keyButton("Data", '1', this), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(row), keyButton("Zbuffer", '3', this), TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(modes), row);
    gtk_box_pack_start(GTK_BOX(box), modes, FALSE, FALSE, 2);

    gtk_box_pack_start(GTK_BOX(box), sizeAndColour("Points", '+', '-', G_CALLBACK(onPointColor), this, "pointColor"),
                       FALSE, FALSE, 2);
    gtk_box_pack_start(GTK_BOX(box), sizeAndColour("Edges", 666, 667, G_CALLBACK(onEdgeColor), this, "edgeColor"),
                       FALSE, FALSE, 2);
    mainWidget = g_object_ref_sink(box);
}

void GLGraphObjectInterface::update()
{
    if (information)
        gtk_label_set_text(GTK_LABEL(information), graph->getInformation().c_str());
}

void GLGraphObjectInterface::sendCommand(int command)
{
    graph->notifyCommand(command);
    graph->postRedisplay();
}

void GLGraphObjectInterface::menuBarResponse(const char *) { graph->postRedisplay(); }

void GLGraphObjectInterface::openPointColor()
{
    if (pointDialog) {
        gtk_window_present(GTK_WINDOW(pointDialog));
        return;
    }
    double c[4];
    graph->getPointColor(c);
    ColorInterface *chooser =
        ColorInterface::factory(fastdelegate::MakeDelegate(this, &GLGraphObjectInterface::setPointColor), toPoint4(c));
    pointDialog = chooser->getDialog();
    gtk_window_set_title(GTK_WINDOW(pointDialog), "Point Color");
    g_object_add_weak_pointer(G_OBJECT(pointDialog), &pointDialog);
}

void GLGraphObjectInterface::openEdgeColor()
{
    if (edgeDialog) {
        gtk_window_present(GTK_WINDOW(edgeDialog));
        return;
    }
    double c[4];
    graph->getEdgeColor(c);
    ColorInterface *chooser =
        ColorInterface::factory(fastdelegate::MakeDelegate(this, &GLGraphObjectInterface::setEdgeColor), toPoint4(c));
    edgeDialog = chooser->getDialog();
    gtk_window_set_title(GTK_WINDOW(edgeDialog), "Edge Color");
    g_object_add_weak_pointer(G_OBJECT(edgeDialog), &edgeDialog);
}

void GLGraphObjectInterface::setPointColor(Point4 c)
{
    const double rgba[4] = {c.x, c.y, c.z, c.w};
    graph->setPointColor(rgba);
    graph->postRedisplay();
}

void GLGraphObjectInterface::setEdgeColor(Point4 c)
{
    const double rgba[4] = {c.x, c.y, c.z, c.w};
    graph->setEdgeColor(rgba);
    graph->postRedisplay();
}
