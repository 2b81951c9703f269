#include "gui/materialInterface.h"

#include "gui/ElementPanel.h"
#include "objects/GLMeshObject.h"

#include <GL/gl.h>

#include <cstring>

namespace {

// The colour pages: tab label and widget name; colorOf says where the colour lives.
const char *const kPageLabels[5] = {"Ambient", "Diffuse", "Specular", "Wire", "Back diffuse"};
const char *const kPageNames[5] = {"colorselection_ambient4", "colorselection_diffuse4", "colorselection_specular4",
                                   "colorselection_wire4", "colorselection_backside4"};

float *colorOf(Material &m, int page)
{
    switch (page) {
    case 0:
        return m.frontAmbient;
    case 1:
        return m.frontDiffuse;
    case 2:
        return m.frontSpecular;
    case 3:
        return m.wireColor;
    default:
        return m.backDiffuse;
    }
}

guint16 toToolkit(float v) { return static_cast<guint16>((v < 0 ? 0 : v > 1 ? 1 : v) * 65535.0f + 0.5f); }

// The check buttons: label and widget name, in the order of the toggles in onCheck.
const char *const kCheckLabels[3] = {"Sort triangles for blending", "Double Face", "Flat Shading"};
const char *const kCheckNames[3] = {"sortCheck4", "doubleFace4", "flatShading4"};

} // namespace

materialInterface::materialInterface(GLMeshObject *m) : mesh(m), dialog(nullptr), filling(false)
{
    dialog = gtk_dialog_new_with_buttons("materials", nullptr, static_cast<GtkDialogFlags>(0), "OK",
                                         GTK_RESPONSE_OK, nullptr);
    GtkWidget *vbox = GTK_DIALOG(dialog)->vbox;

    GtkWidget *notebook = gtk_notebook_new();
    for (int i = 0; i < 5; ++i) {
        GtkWidget *selection = gtk_color_selection_new();
        gtk_widget_set_name(selection, kPageNames[i]);
        gtk_color_selection_set_has_opacity_control(GTK_COLOR_SELECTION(selection), TRUE);
        gtk_notebook_append_page(GTK_NOTEBOOK(notebook), selection, gtk_label_new(kPageLabels[i]));
    }
    gtk_box_pack_start(GTK_BOX(vbox), notebook, TRUE, TRUE, 2);

    GtkWidget *row = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(row), gtk_label_new("Shininess"), FALSE, FALSE, 2);
    GtkWidget *scale = gtk_hscale_new_with_range(0, 128, 1);
    gtk_widget_set_name(scale, "shininess_hscale4");
    gtk_box_pack_start(GTK_BOX(row), scale, TRUE, TRUE, 2);
    gtk_box_pack_start(GTK_BOX(vbox), row, FALSE, FALSE, 2);

    row = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(row), gtk_label_new("wireframe size"), FALSE, FALSE, 2);
    GtkWidget *spin = gtk_spin_button_new_with_range(0.5, 20, 0.5);
    gtk_widget_set_name(spin, "wireSize4");
    gtk_box_pack_start(GTK_BOX(row), spin, FALSE, FALSE, 2);
    gtk_box_pack_start(GTK_BOX(vbox), row, FALSE, FALSE, 2);

    for (int i = 0; i < 3; ++i) {
        GtkWidget *check = gtk_check_button_new_with_label(kCheckLabels[i]);
        gtk_widget_set_name(check, kCheckNames[i]);
        g_object_set_data(G_OBJECT(check), "toggle", GINT_TO_POINTER(i));
        gtk_box_pack_start(GTK_BOX(vbox), check, FALSE, FALSE, 1);
    }
    const char *const resets[3] = {"Reset Object Colors to Default1", "Reset Object Colors to Default2",
                                   "Reset Object Colors to Texture Defaults"};
    for (int i = 0; i < 3; ++i) {
        GtkWidget *button = gtk_button_new_with_label(resets[i]);
        g_object_set_data(G_OBJECT(button), "material", GINT_TO_POINTER(i));
        g_signal_connect(button, "clicked", G_CALLBACK(onReset), this);
        gtk_box_pack_start(GTK_BOX(vbox), button, FALSE, FALSE, 1);
    }

    initMaterial();

    // Connected after the first filling, and found by name like every other control.
    for (int i = 0; i < 5; ++i)
        if (GtkWidget *w = lookupWidget(dialog, kPageNames[i]))
            g_signal_connect(w, "color-changed", G_CALLBACK(onColor), this);
    if (GtkWidget *w = lookupWidget(dialog, "shininess_hscale4"))
        g_signal_connect(w, "value-changed", G_CALLBACK(onShininess), this);
    if (GtkWidget *w = lookupWidget(dialog, "wireSize4"))
        g_signal_connect(w, "value-changed", G_CALLBACK(onWireSize), this);
    for (int i = 0; i < 3; ++i)
        if (GtkWidget *w = lookupWidget(dialog, kCheckNames[i]))
            g_signal_connect(w, "toggled", G_CALLBACK(onCheck), this);

    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    g_signal_connect(dialog, "destroy", G_CALLBACK(onDestroy), this);
    gtk_widget_show_all(dialog);
}

void materialInterface::initMaterial()
{
    filling = true;
    const MeshDisplay &shown = mesh->getDisplay();
    Material m = shown.material;
    for (int i = 0; i < 5; ++i) {
        GtkWidget *w = lookupWidget(dialog, kPageNames[i]);
        if (!w)
            continue;
        const float *c = colorOf(m, i);
        GdkColor colour = {0, toToolkit(c[0]), toToolkit(c[1]), toToolkit(c[2])};
        gtk_color_selection_set_current_color(GTK_COLOR_SELECTION(w), &colour);
        gtk_color_selection_set_current_alpha(GTK_COLOR_SELECTION(w), toToolkit(c[3]));
    }
    if (GtkWidget *w = lookupWidget(dialog, "shininess_hscale4"))
        gtk_range_set_value(GTK_RANGE(w), m.frontShininess);
    if (GtkWidget *w = lookupWidget(dialog, "wireSize4"))
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(w), shown.wireSize);
    const bool states[3] = {shown.triangleSorting, shown.doubleFace, shown.shadingModel == GL_FLAT};
    for (int i = 0; i < 3; ++i)
        if (GtkWidget *w = lookupWidget(dialog, kCheckNames[i]))
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), states[i]);
    filling = false;
}

void materialInterface::setMaterial()
{
    Material m = mesh->getDisplay().material;
    for (int i = 0; i < 5; ++i) {
        GtkWidget *w = lookupWidget(dialog, kPageNames[i]);
        if (!w)
            continue;
        GdkColor colour;
        gtk_color_selection_get_current_color(GTK_COLOR_SELECTION(w), &colour);
        float *c = colorOf(m, i);
        c[0] = colour.red / 65535.0f;
        c[1] = colour.green / 65535.0f;
        c[2] = colour.blue / 65535.0f;
        c[3] = gtk_color_selection_get_current_alpha(GTK_COLOR_SELECTION(w)) / 65535.0f;
    }
    if (GtkWidget *w = lookupWidget(dialog, "shininess_hscale4"))
        m.frontShininess = static_cast<float>(gtk_range_get_value(GTK_RANGE(w)));
    mesh->setMaterial(m);
}

void materialInterface::onDestroy(GtkWidget *, gpointer data)
{
    delete static_cast<materialInterface *>(data);
}

void materialInterface::onColor(GtkColorSelection *, gpointer data)
{
    materialInterface *self = static_cast<materialInterface *>(data);
    if (!self->filling)
        self->setMaterial();
}

void materialInterface::onShininess(GtkRange *, gpointer data)
{
    materialInterface *self = static_cast<materialInterface *>(data);
    if (!self->filling)
        self->setMaterial();
}

void materialInterface::onWireSize(GtkSpinButton *spin, gpointer data)
{
    materialInterface *self = static_cast<materialInterface *>(data);
    if (self->filling)
        return;
    self->mesh->setWireSize(static_cast<float>(gtk_spin_button_get_value(spin)));
    self->mesh->postRedisplay();
}

void materialInterface::onCheck(GtkToggleButton *button, gpointer data)
{
    materialInterface *self = static_cast<materialInterface *>(data);
    if (self->filling)
        return;
    switch (GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "toggle"))) {
    case 0:
        self->mesh->toggleTriangleSorting();
        break;
    case 1:
        self->mesh->toggleDoubleFace();
        break;
    default:
        self->mesh->toggleShadingModel();
        break;
    }
    self->mesh->postRedisplay();
}

void materialInterface::onReset(GtkButton *button, gpointer data)
{
    materialInterface *self = static_cast<materialInterface *>(data);
    self->mesh->setMaterial(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "material")));
    self->initMaterial();
}
