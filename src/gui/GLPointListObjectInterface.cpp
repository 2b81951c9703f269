#include "gui/GLPointListObjectInterface.h"

#include "gui/DistancePanel.h"
#include "objects/GLPointListObject.h"

namespace {

ElementPanel::Look cloudLook()
{
    ElementPanel::Look l;
    l.presentOpenPalette = true;
    return l;
}

} // namespace

GLPointListObjectInterface::GLPointListObjectInterface(GLPointListObject *c)
    : ElementPanel(c, "PointList", cloudLook()), cloud(c)
{
    addPaletteItem([this] { return cloud->getColorMap(); },
                   fastdelegate::MakeDelegate(this, &GLPointListObjectInterface::setColorMap));
    // In the menu as well as on the button, where a mesh's panel has it.
    addSaveAsItem();
    addMenuItem("_Distance to...", "distance", [this] { openDistancePanel(); });

    GtkWidget *modes = addFrame("visualization mode", nullptr, false);
    using A = GLPointListObject::Action;
    addActionButton(modes, A::DATA);
    addActionButton(modes, A::DEPTH_BUFFER);
    GtkWidget *size = addFrame("point size", nullptr, false);
    addActionButton(size, A::BIGGER_POINTS);
    addActionButton(size, A::SMALLER_POINTS);


    GtkWidget *legible = addFrame("dense clouds", nullptr, true);
    addActionToggle(legible, rowOf(A::EYE_DOME),
                    [](GLObject *e) { return static_cast<GLPointListObject *>(e)->getEyeDome(); });
    GtkWidget *strengthRow = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(strengthRow), gtk_label_new("strength"), FALSE, FALSE, 2);
    GtkWidget *strength = gtk_spin_button_new_with_range(0, 10, 0.1);
    gtk_widget_set_name(strength, "eye-dome strength");
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(strength), cloud->getEyeDomeStrength());
    g_signal_connect(strength, "value_changed", G_CALLBACK(onStrength), this);
    gtk_box_pack_end(GTK_BOX(strengthRow), strength, FALSE, FALSE, 2);
    gtk_box_pack_start(GTK_BOX(legible), strengthRow, FALSE, FALSE, 2);
    addActionToggle(legible, rowOf(A::ADAPTIVE_SIZE),
                    [](GLObject *e) { return static_cast<GLPointListObject *>(e)->getAdaptiveSize(); });

    GtkWidget *distance = gtk_button_new_with_label("Distance to...");
    g_signal_connect_swapped(distance, "clicked", G_CALLBACK(+[](GLPointListObjectInterface *self) {
                                 self->openDistancePanel();
                             }), this);
    gtk_box_pack_start(GTK_BOX(addFrame("measure", nullptr, false)), distance, FALSE, FALSE, 0);
    addCleaningFrame();
}

void GLPointListObjectInterface::onStrength(GtkSpinButton *spin, gpointer data)
{
    GLPointListObjectInterface *self = static_cast<GLPointListObjectInterface *>(data);
    self->cloud->setEyeDomeStrength(static_cast<float>(gtk_spin_button_get_value(spin)));
    self->redraw();
}

DistancePanel *GLPointListObjectInterface::openDistancePanel()
{
    if (GtkWidget *open = getOpenDialog("Distance to...")) {
        gtk_window_present(GTK_WINDOW(open));
        return static_cast<DistancePanel *>(g_object_get_data(G_OBJECT(open), "panel"));
    }
    DistancePanel *panel = new DistancePanel(cloud, [this](const DataItem &item) {
        cloud->setValues(item.getName(), item.getData(), item.getNElements());
        update();
        redraw();
    });
    g_object_set_data(G_OBJECT(panel->getDialog()), "panel", panel);
    adoptDialog(panel->getDialog());
    return panel;
}

void GLPointListObjectInterface::setColorMap(int index) { cloud->setColorMap(index); }
