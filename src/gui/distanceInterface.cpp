#include "gui/distanceInterface.h"

#include "measure/Chemin.h"

#include <cstdio>

namespace {

void onDestroy(GtkWidget *, gpointer self) { static_cast<distanceInterface *>(self)->destroy(); }

} // namespace

distanceInterface::distanceInterface()
    : geodesicLabel(nullptr), euclideanLabel(nullptr), window(nullptr), path(nullptr), destroyHandler(0),
      toggleFlag(0)
{
    createWindow();
}

distanceInterface::~distanceInterface()
{
    if (window) {
        g_signal_handler_disconnect(window, destroyHandler);
        gtk_widget_destroy(window);
    }
}

void distanceInterface::createWindow()
{
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Path Distance");
    gtk_container_set_border_width(GTK_CONTAINER(window), 8);
    GtkWidget *box = gtk_vbox_new(FALSE, 4);
    geodesicLabel = gtk_label_new("");
    euclideanLabel = gtk_label_new("");
    gtk_misc_set_alignment(GTK_MISC(geodesicLabel), 0, 0.5f);
    gtk_misc_set_alignment(GTK_MISC(euclideanLabel), 0, 0.5f);
    gtk_box_pack_start(GTK_BOX(box), geodesicLabel, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), euclideanLabel, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    destroyHandler = g_signal_connect(window, "destroy", G_CALLBACK(onDestroy), this);
    gtk_widget_show_all(window);
}

void distanceInterface::setPath(const Chemin *p)
{
    path = p;
    // A dropped path leaves no figures behind; a closed window stays closed.
    if (!path) {
        if (window) {
            gtk_label_set_text(GTK_LABEL(geodesicLabel), "");
            gtk_label_set_text(GTK_LABEL(euclideanLabel), "");
        }
        return;
    }
    if (!window)
        createWindow();
    refresh();
}

void distanceInterface::toggle()
{
    toggleFlag = !toggleFlag;
    refresh();
}

void distanceInterface::destroy()
{
    window = nullptr;
    geodesicLabel = euclideanLabel = nullptr;
    destroyHandler = 0;
}

void distanceInterface::refresh()
{
    if (!window || !path)
        return;
    char text[96];
    if (path->isConnected())
        std::snprintf(text, sizeof text, "Geodesic  distance: %f units", path->geodesicDistance());
    else
        std::snprintf(text, sizeof text, "Geodesic  distance: none, the ends are not connected");
    gtk_label_set_text(GTK_LABEL(geodesicLabel), text);
    std::snprintf(text, sizeof text, "Euclidean distance: %f units", path->euclideanDistance());
    gtk_label_set_text(GTK_LABEL(euclideanLabel), text);
}

const char *distanceInterface::getGeodesicText() const
{
    return geodesicLabel ? gtk_label_get_text(GTK_LABEL(geodesicLabel)) : "";
}

const char *distanceInterface::getEuclideanText() const
{
    return euclideanLabel ? gtk_label_get_text(GTK_LABEL(euclideanLabel)) : "";
}
