#include "gui/GLOctreeObjectInterface.h"

#include "gui/Delegate1.h"
#include "objects/GLOctreeObject.h"

using fastdelegate::MakeDelegate;

namespace {

GLOctreeObject *octreeOf(GLObject *e) { return static_cast<GLOctreeObject *>(e); }
bool drawsStructure(GLObject *e) { return octreeOf(e)->getDrawStructure(); }

} // namespace

GLOctreeObjectInterface::GLOctreeObjectInterface(GLOctreeObject *o)
    : SlicePanel(o, "Octree"), octree(o)
{
    addCheckMenuItem("Draw Structure", "structure", drawsStructure,
                     [this] { octree->setDrawStructure(!octree->getDrawStructure()); });
    addSlicePaletteItem();
    addMenuItem("Interpolation properties...", "interpolation", [this] { openInterpolationDialog(); });
    createInterface();
}

void GLOctreeObjectInterface::createInterface()
{
    const auto moved = MakeDelegate(this, &GLOctreeObjectInterface::sliderMoved);
    using A = GLOctreeObject::Action;

    GtkWidget *modes = addFrame("visualization mode", nullptr, false);
    for (A mode : {A::DATA_POINTS, A::DATA_SLICES, A::STRUCTURE_SLICES, A::DEPTH_BUFFER})
        addActionButton(modes, mode);

    GtkWidget *size = addFrame("point size", nullptr, false);
    addActionButton(size, A::BIGGER_POINTS);
    addActionButton(size, A::SMALLER_POINTS);

    float range[2];
    octree->getMinMax(range);
    GtkWidget *data = addFrame("data threshold");
    dataThreshold = addSlider(data, "", "dataThreshold", range[0], range[1], octree->getDataThreshold(), 2, moved);
    addThresholdSliders(addFrame("data threshold"), moved);

    int grid[3];
    octree->getSize(grid);
    GtkWidget *planes = addFrame("viewing planes");
    addPositionSliders(planes, grid, moved);
    addPlaneToggles(planes, rowOf(A::X_PLANE), rowOf(A::Y_PLANE), rowOf(A::Z_PLANE));

    gtk_widget_show_all(box);
}

void GLOctreeObjectInterface::sliderMoved(GtkWidget *slider, double value)
{
    if (slider == dataThreshold)
        octree->setDataThreshold(static_cast<float>(value));
    else
        applySliceSlider(slider, value);
    octree->postRedisplay();
}

void GLOctreeObjectInterface::openInterpolationDialog()
{
    // Asked again, the dialog starts afresh.
    closeDialog(kInterpolationTitle);
    GtkWidget *dialog = gtk_dialog_new_with_buttons(kInterpolationTitle, nullptr, GTK_DIALOG_NO_SEPARATOR,
                                                    GTK_STOCK_OK, GTK_RESPONSE_OK, nullptr);
    GtkWidget *area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    GtkWidget *nearest = gtk_radio_button_new_with_label(nullptr, "Nearest");
    GtkWidget *linearButton = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(nearest), "Linear");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(octree->getInterpolationMode() ? linearButton : nearest), TRUE);
    gtk_box_pack_start(GTK_BOX(area), nearest, FALSE, FALSE, 2);
    gtk_box_pack_start(GTK_BOX(area), linearButton, FALSE, FALSE, 2);
    // Only the button that becomes active acts; the pair always changes together.
    Delegate1<GtkWidget *>::connect(linearButton, "toggled", MakeDelegate(this, &GLOctreeObjectInterface::interpolationChosen));
    // "OK" and the close box end the dialog.
    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    adoptDialog(dialog);
    gtk_widget_show_all(dialog);
}

void GLOctreeObjectInterface::interpolationChosen(GtkWidget *button)
{
    octree->setInterpolationMode(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button)) ? 1 : 0);
    octree->postRedisplay();
}
