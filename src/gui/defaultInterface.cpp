#include "gui/defaultInterface.h"

#include "camera/GLCamera.h"
#include "camera/GLCameraAnimationImpl.h"
#include "core/GLObject.h"
#include "gui/cameraAnimationInterface.h"
#include "objects/GL3DObject.h"

#include <gtk/gtk.h>

#include <cstring>

namespace {

void onMenuItem(GtkMenuItem *item, gpointer data)
{
    const char *key = static_cast<const char *>(g_object_get_data(G_OBJECT(item), "menu-key"));
    if (key)
        static_cast<defaultInterface *>(data)->menuBarResponse(key);
}

} // namespace

const char *defaultInterface::menuTitle(short type)
{
    switch (type) {
    case GLObject::MESH:
        return "Mesh";
    case GLObject::OCTREE:
        return "Octree";
    case GLObject::VOLUME:
        return "Volume";
    case GLObject::POINTLIST:
        return "Points";
    case GLObject::GRAPH:
        return "Graph";
    case GLObject::TEXTURE:
        return "Texture";
    case GLObject::CAMERA:
        return "Camera";
    default:
        return "Object";
    }
}

defaultInterface::defaultInterface(GLObject *e) : element(e)
{
    GtkAccelGroup *group = gtk_accel_group_new();
    accelGroup = group;

    GtkWidget *menu = gtk_menu_new();
    gtk_menu_set_accel_group(GTK_MENU(menu), group);
    if (element->is3DObject()) {
        const char *labels[2] = {"Show bounding box", "Show Object Axes"};
        const char *keys[2] = {"bbox", "axes"};
        for (int i = 0; i < 2; ++i) {
            GtkWidget *item = gtk_check_menu_item_new_with_label(labels[i]);
            g_object_set_data(G_OBJECT(item), "menu-key", const_cast<char *>(keys[i]));
            g_signal_connect(item, "activate", G_CALLBACK(onMenuItem), this);
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
        }
    }
    if (element->getType() == GLObject::CAMERA) {
        GtkWidget *item = gtk_menu_item_new_with_label("Camera Animation");
        g_object_set_data(G_OBJECT(item), "menu-key", const_cast<char *>("animation"));
        g_signal_connect(item, "activate", G_CALLBACK(onMenuItem), this);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    }
    GtkWidget *title = gtk_menu_item_new_with_label(menuTitle(element->getType()));
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(title), menu);
    // The menu and the panel move in and out of containers: keep them alive meanwhile.
    mainMenuBar = g_object_ref_sink(title);

    GtkWidget *box = gtk_vbox_new(FALSE, 0);
    GtkWidget *frame = gtk_frame_new("information");
    gtk_box_pack_start(GTK_BOX(box), frame, FALSE, FALSE, 2);
    mainWidget = g_object_ref_sink(box);
}

defaultInterface::~defaultInterface()
{
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

void defaultInterface::menuBarResponse(const char *key)
{
    if (element->getType() == GLObject::CAMERA && std::strcmp(key, "animation") == 0) {
        GLCamera *camera = static_cast<GLCamera *>(element);
        camera->setAnimationInterface(true);
        // Asked again while it is open: the window comes to the front.
        auto *animation = dynamic_cast<GLCameraAnimationImpl *>(camera->getAnimation());
        if (auto *window = animation ? dynamic_cast<cameraAnimationInterface *>(animation->getWindow()) : nullptr)
            window->present();
        return;
    }
    if (!element->is3DObject())
        return;
    GL3DObject *object = static_cast<GL3DObject *>(element);
    if (std::strcmp(key, "bbox") == 0)
        object->toggleBoundingBox();
    else if (std::strcmp(key, "axes") == 0)
        object->toggleAxes();
    element->postRedisplay();
}
