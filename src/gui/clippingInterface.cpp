#include "gui/clippingInterface.h"

#include "gui/ElementPanel.h"
#include "objects/GLMeshObject.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

const char kAxes[4] = {'X', 'Y', 'Z', 'W'};

} // namespace

clippingInterface::clippingInterface(GLMeshObject *m) : mesh(m), dialog(nullptr), spins(), filling(true)
{
    dialog = gtk_dialog_new_with_buttons("clipping planes", nullptr, static_cast<GtkDialogFlags>(0), "OK",
                                         GTK_RESPONSE_OK, nullptr);
    // A heading row, then one row a plane.
    GtkWidget *table = gtk_table_new(nPlanes + 1, 5, FALSE);
    gtk_table_set_col_spacings(GTK_TABLE(table), 4);
    const char *const headings[5] = {"plane", "a", "b", "c", "d"};
    for (guint k = 0; k < 5; ++k)
        gtk_table_attach_defaults(GTK_TABLE(table), gtk_label_new(headings[k]), k, k + 1, 0, 1);
    for (int row = 0; row < nPlanes; ++row) {
        const guint line = static_cast<guint>(row) + 1;
        double plane[4] = {0, 0, 0, 0};
        const bool on = mesh->getClippingPlane(plane, row) != 0;
        GtkWidget *button = gtk_toggle_button_new_with_label(on ? "Disable" : "Enable");
        char name[32];
        std::snprintf(name, sizeof name, "enable%d", row);
        gtk_widget_set_name(button, name);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(button), on);
        g_object_set_data(G_OBJECT(button), "row", GINT_TO_POINTER(row));
        g_signal_connect(button, "toggled", G_CALLBACK(onEnable), this);
        gtk_table_attach_defaults(GTK_TABLE(table), button, 0, 1, line, line + 1);
        for (int k = 0; k < 4; ++k) {
            GtkWidget *s = gtk_spin_button_new_with_range(-1, 1, 0.01);
            gtk_spin_button_set_digits(GTK_SPIN_BUTTON(s), 3);
            std::snprintf(name, sizeof name, "value%c%d", kAxes[k], row);
            gtk_widget_set_name(s, name);
            g_object_set_data(G_OBJECT(s), "row", GINT_TO_POINTER(row));
            g_object_set_data(G_OBJECT(s), "coefficient", GINT_TO_POINTER(k));
            gtk_table_attach_defaults(GTK_TABLE(table), s, static_cast<guint>(k) + 1, static_cast<guint>(k) + 2, line,
                                      line + 1);
            spins[row][k] = s;
        }
        for (int k = 0; k < 3; ++k)
            gtk_spin_button_set_value(spin(row, k), plane[k]);
        updateRange(row);
        gtk_spin_button_set_value(spin(row, 3), plane[3]);
    }
    gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), table, TRUE, TRUE, 4);
    // The values are connected once they show the planes.
    for (int row = 0; row < nPlanes; ++row)
        for (int k = 0; k < 4; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "value%c%d", kAxes[k], row);
            if (GtkWidget *w = lookupWidget(dialog, name))
                g_signal_connect(w, "value-changed", G_CALLBACK(onValue), this);
        }
    filling = false;
    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    g_signal_connect(dialog, "destroy", G_CALLBACK(onDestroy), this);
    gtk_widget_show_all(dialog);
}

GtkSpinButton *clippingInterface::spin(int row, int k) const { return GTK_SPIN_BUTTON(spins[row][k]); }

bool clippingInterface::findObjectLimits(const double normal[3], double &lo, double &hi) const
{
    const double n = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    if (!(n > 0) || !std::isfinite(n))
        return false;
    const Point3 unit(static_cast<float>(normal[0] / n), static_cast<float>(normal[1] / n),
                      static_cast<float>(normal[2] / n));
    // The mesh takes the normal's direction and d as the offset along the unit normal:
    // n.p + d >= 0 keeps p, so the plane crosses the object while -d lies within its extent
    // along n.
    const double maxInto = mesh->getMaxIntoDirection(unit);
    const double minInto = mesh->getMinIntoDirection(unit);
    if (!std::isfinite(maxInto) || !std::isfinite(minInto))
        return false;
    lo = -maxInto;
    hi = -minInto;
    return true;
}

void clippingInterface::updateRange(int row)
{
    double normal[3];
    for (int k = 0; k < 3; ++k)
        normal[k] = gtk_spin_button_get_value(spin(row, k));
    double lo, hi;
    if (!findObjectLimits(normal, lo, hi))
        return;
    // A little beyond the object on both sides, so that the plane can clear it entirely.
    const double margin = 0.05 * (hi - lo) + 1e-3;
    const bool was = filling;
    filling = true;
    gtk_spin_button_set_range(spin(row, 3), lo - margin, hi + margin);
    gtk_spin_button_set_increments(spin(row, 3), (hi - lo) / 100 + 1e-4, (hi - lo) / 10 + 1e-3);
    filling = was;
}

void clippingInterface::update(int row)
{
    float plane[4];
    for (int k = 0; k < 4; ++k)
        plane[k] = static_cast<float>(gtk_spin_button_get_value(spin(row, k)));
    mesh->applyClippingPlane(row, plane);
}

void clippingInterface::onDestroy(GtkWidget *, gpointer data)
{
    delete static_cast<clippingInterface *>(data);
}

void clippingInterface::onEnable(GtkToggleButton *button, gpointer data)
{
    clippingInterface *self = static_cast<clippingInterface *>(data);
    const int row = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "row"));
    const bool on = gtk_toggle_button_get_active(button);
    gtk_button_set_label(GTK_BUTTON(button), on ? "Disable" : "Enable");
    if (self->filling)
        return;
    self->mesh->applyClippingSwitch(row, on);
}

void clippingInterface::onValue(GtkSpinButton *s, gpointer data)
{
    clippingInterface *self = static_cast<clippingInterface *>(data);
    if (self->filling)
        return;
    const int row = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(s), "row"));
    if (GPOINTER_TO_INT(g_object_get_data(G_OBJECT(s), "coefficient")) < 3)
        self->updateRange(row);
    self->update(row);
}
