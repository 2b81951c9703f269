#include "gui/GLMeshObjectInterface.h"

#include "gui/DistancePanel.h"
#include "gui/FileDialog.h"
#include "gui/ListDialog.h"
#include "gui/clippingInterface.h"
#include "gui/materialInterface.h"
#include "formats/ColorMap.h"
#include "math/Messages.h"
#include "objects/GLMeshObject.h"
#include "formats/RGBColorReader.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

GLMeshObjectInterface::GLMeshObjectInterface(GLMeshObject *m) : ElementPanel(m, "Options"), mesh(m), dataButton(nullptr)
{
    addMenuItem("Surface properties...", "materials",
                [this] { adoptDialog((new materialInterface(mesh))->getDialog()); });
    addMenuItem("Texture properties...", "texture", [this] { createTextureDialog(); });
    addMenuItem("Clipping properties...", "clipping",
                [this] { adoptDialog((new clippingInterface(mesh))->getDialog()); });
    addPaletteItem([this] { return mesh->getColorMap(); },
                   fastdelegate::MakeDelegate(this, &GLMeshObjectInterface::onColorMapChosen));
    addMenuItem("Load RGB colors...", "loadRGB", [this] {
        FileDialog *chooser = new FileDialog(
            "RGB color file", fastdelegate::MakeDelegate(this, &GLMeshObjectInterface::onFileChosen), false, "*.rgb");
        adoptDialog(GTK_WIDGET(chooser->getDialog()));
    });
    addSaveAsItem();
    addMenuItem("_Distance to...", "distance", [this] { openDistancePanel(); });
    addMenuItem("Orient faces consistently", "orient",
                [this] { sendAction(GLMeshObject::Action::ORIENT_FACES); });

    GtkWidget *modes = addFrame("visualization mode", nullptr, false);
    using A = GLMeshObject::Action;
    for (A mode : {A::WIRE_FRAME, A::SHADE, A::TEXTURE, A::DEPTH_BUFFER})
        addActionButton(modes, mode);
    dataButton = addActionButton(modes, A::DATA);
    // Shown only while the mesh has data items: showing the whole panel leaves it alone.
    gtk_widget_set_no_show_all(dataButton, TRUE);
    gtk_widget_set_visible(dataButton, mesh->hasDataItems());
    addCleaningFrame();
}

void GLMeshObjectInterface::update()
{
    ElementPanel::update();
    if (dataButton)
        gtk_widget_set_visible(dataButton, mesh->hasDataItems());
}

bool GLMeshObjectInterface::loadRGBFile(const char *path)
{
    std::vector<unsigned char> rgb;
    try {
        rgb = readRGBColors(path, mesh->getNVertices());
    } catch (const std::exception &e) {
        msg::error("GLMeshObjectInterface: %s: %s\n", path ? path : "(no file)", e.what());
        return false;
    }
    if (!mesh->setColors(rgb.data(), mesh->getNVertices()))
        return false;
    // The colours are what the user asked to see.
    mesh->setDrawData();
    redraw();
    update();
    return true;
}

void GLMeshObjectInterface::onFileChosen(const char *path) { loadRGBFile(path); }

void GLMeshObjectInterface::onColorMapChosen(int index)
{
    mesh->setColorMap(index);
    redraw();
}

void GLMeshObjectInterface::createTextureDialog()
{
    GtkWidget *dialog = gtk_dialog_new_with_buttons("Texture properties", nullptr, static_cast<GtkDialogFlags>(0),
                                                    "OK", GTK_RESPONSE_OK, nullptr);
    GtkWidget *vbox = GTK_DIALOG(dialog)->vbox;
    // Two radio pairs: the mesh's actions each one runs, their names, and which one is on.
    using A = GLMeshObject::Action;
    struct Pair {
        const char *title;
        A actions[2];
        const char *names[2];
        int current;
    };
    const Pair pairs[2] = {
        {"lighting mode", {A::TEXTURE_DECAL, A::TEXTURE_MODULATE}, {"decal", "modulate"}, mesh->getTextureModulation()},
        {"interpolation mode", {A::TEXTURE_NEAREST, A::TEXTURE_LINEAR}, {"nearest", "linear"},
         mesh->getTextureInterpolation()},
    };
    for (int p = 0; p < 2; ++p) {
        GtkWidget *inner = addFrame(pairs[p].title, vbox, false);
        GSList *group = nullptr;
        for (int i = 0; i < 2; ++i) {
            const KeyBinding &row = rowOf(pairs[p].actions[i]);
            GtkWidget *radio = gtk_radio_button_new_with_label(group, row.label);
            group = gtk_radio_button_get_group(GTK_RADIO_BUTTON(radio));
            gtk_widget_set_name(radio, pairs[p].names[i]);
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(radio), pairs[p].current == i);
            g_object_set_data(G_OBJECT(radio), "action", const_cast<KeyBinding *>(&row));
            gtk_box_pack_start(GTK_BOX(inner), radio, TRUE, TRUE, 1);
        }
    }
    for (const char *name : {"decal", "modulate", "nearest", "linear"})
        if (GtkWidget *w = lookupWidget(dialog, name))
            g_signal_connect(w, "toggled", G_CALLBACK(onTextureMode), this);
    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show_all(dialog);
    adoptDialog(dialog);
}

void GLMeshObjectInterface::onTextureMode(GtkToggleButton *button, gpointer data)
{
    // Each pair reports twice (one off, one on): only the button turned on acts. The filter
    // is set on the mesh's textures, whose context sendAction makes current.
    if (!gtk_toggle_button_get_active(button))
        return;
    GLMeshObjectInterface *self = static_cast<GLMeshObjectInterface *>(data);
    self->sendAction(*static_cast<const KeyBinding *>(g_object_get_data(G_OBJECT(button), "action")));
}

DistancePanel *GLMeshObjectInterface::openDistancePanel()
{
    if (GtkWidget *open = getOpenDialog("Distance to...")) {
        gtk_window_present(GTK_WINDOW(open));
        return static_cast<DistancePanel *>(g_object_get_data(G_OBJECT(open), "panel"));
    }
    GLMeshObject *m = mesh;
    DistancePanel *panel = new DistancePanel(mesh, [this, m](const DataItem &item) {
        m->addDataItem(item);
        update();
        redraw();
    });
    g_object_set_data(G_OBJECT(panel->getDialog()), "panel", panel);
    adoptDialog(panel->getDialog());
    return panel;
}
