#include "gui/GLSplatObjectInterface.h"

#include "objects/GLSplatObject.h"

GLSplatObjectInterface::GLSplatObjectInterface(GLSplatObject *s) : ElementPanel(s, "Splats"), splats(s)
{
    addPaletteItem([this] { return splats->getColorMap(); },
                   fastdelegate::MakeDelegate(this, &GLSplatObjectInterface::setColorMap));
    addSaveAsItem("Save splats as...");
    using A = GLSplatObject::Action;
    GtkWidget *modes = addFrame("visualization mode", nullptr, false);
    for (A a : {A::SPLATS, A::CENTRES, A::CENTRE_COLOURS})
        addActionButton(modes, a);
    GtkWidget *degree = addFrame("spherical-harmonic degree", nullptr, false);
    addActionButton(degree, A::DEGREE_DOWN);
    addActionButton(degree, A::DEGREE_UP);
    addActionButton(degree, A::ANTIALIASED);
    const auto moved = fastdelegate::MakeDelegate(this, &GLSplatObjectInterface::sliderMoved);
    GtkWidget *frame = addFrame("splats");
    scaleSlider = addSlider(frame, "scale factor", "scaleFactor", 0.1, 2, splats->getScaleFactor(), 2, moved);
    floorSlider = addSlider(frame, "opacity floor", "opacityFloor", 0, 1, splats->getOpacityFloor(), 2, moved);
    addCleaningFrame();
    gtk_widget_show_all(box);
}

void GLSplatObjectInterface::sliderMoved(GtkWidget *slider, double value)
{
    if (slider == scaleSlider)
        splats->setScaleFactor(value);
    else if (slider == floorSlider)
        splats->setOpacityFloor(value);
    redraw();
}

void GLSplatObjectInterface::update()
{
    ElementPanel::update();
    const bool was = updating;
    updating = true;
    if (scaleSlider)
        gtk_range_set_value(GTK_RANGE(scaleSlider), splats->getScaleFactor());
    if (floorSlider)
        gtk_range_set_value(GTK_RANGE(floorSlider), splats->getOpacityFloor());
    updating = was;
}

void GLSplatObjectInterface::setColorMap(int index)
{
    splats->setColorMap(index);
    redraw();
}
