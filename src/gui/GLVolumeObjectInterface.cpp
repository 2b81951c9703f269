#include "gui/GLVolumeObjectInterface.h"

#include "objects/GLVolumeObject.h"

using fastdelegate::MakeDelegate;

GLVolumeObjectInterface::GLVolumeObjectInterface(GLVolumeObject *v)
    : SlicePanel(v, "Volume"), volume(v)
{
    addSlicePaletteItem();
    createInterface();
}

void GLVolumeObjectInterface::createInterface()
{
    const auto moved = MakeDelegate(this, &GLVolumeObjectInterface::sliderMoved);
    using A = GLVolumeObject::Action;

    int size[3];
    volume->getSize(size);
    GtkWidget *planes = addFrame("viewing planes");
    addPlaneToggles(planes, rowOf(A::X_PLANE), rowOf(A::Y_PLANE), rowOf(A::Z_PLANE));
    addPositionSliders(planes, size, moved);

    // A colour image's samples are packed colours, not values: it is shown in its colours,
    // with nothing to threshold.
    if (volume->isPackedColor()) {
        GtkWidget *note = gtk_label_new("a colour image, shown in its colours");
        gtk_box_pack_start(GTK_BOX(addFrame("colours")), note, FALSE, FALSE, 0);
    } else {
        addThresholdSliders(addFrame("data threshold"), moved);
    }

    GtkWidget *filter = addFrame("interpolation", nullptr, false);
    const auto choose = MakeDelegate(this, &GLVolumeObjectInterface::setInterpolation);
    addValueButton(filter, "Nearest", 0, choose);
    addValueButton(filter, "Linear", 1, choose);

    gtk_widget_show_all(box);
}

void GLVolumeObjectInterface::sliderMoved(GtkWidget *slider, double value)
{
    applySliceSlider(slider, value);
    volume->postRedisplay();
}

void GLVolumeObjectInterface::setInterpolation(int mode)
{
    volume->setInterpolationMode(mode);
    volume->postRedisplay();
}

