#include "gui/GLGraphObjectInterface.h"

#include "gui/ColorInterface.h"
#include "objects/GLGraphObject.h"

namespace {

void onPointColor(GtkButton *, gpointer data) { static_cast<GLGraphObjectInterface *>(data)->openPointColor(); }
void onEdgeColor(GtkButton *, gpointer data) { static_cast<GLGraphObjectInterface *>(data)->openEdgeColor(); }

} // namespace

GLGraphObjectInterface::GLGraphObjectInterface(GLGraphObject *g) : ElementPanel(g, "Graph", false), graph(g)
{
    GtkWidget *modes = addFrame("visualization mode", nullptr, false);
    using A = GLGraphObject::Action;
    addActionButton(modes, A::DATA);
    addActionButton(modes, A::DEPTH_BUFFER);
    addSizeAndColour("Points", A::BIGGER_NODES, A::SMALLER_NODES, G_CALLBACK(onPointColor), "pointColor");
    addSizeAndColour("Edges", A::WIDER_EDGES, A::THINNER_EDGES, G_CALLBACK(onEdgeColor), "edgeColor");
}

void GLGraphObjectInterface::addSizeAndColour(const char *title, GLGraphObject::Action plus,
                                              GLGraphObject::Action minus, GCallback colour, const char *name)
{
    GtkWidget *row = addFrame(title, nullptr, false);
    addActionButton(row, plus);
    addActionButton(row, minus);
    GtkWidget *c = gtk_button_new_with_label("color");
    gtk_widget_set_name(c, name);
    g_signal_connect(c, "clicked", colour, this);
    gtk_box_pack_start(GTK_BOX(row), c, TRUE, TRUE, 1);
}

void GLGraphObjectInterface::openColor(const char *title, const double *c, void (GLGraphObjectInterface::*set)(Point4))
{
    if (GtkWidget *open = getOpenDialog(title)) {
        gtk_window_present(GTK_WINDOW(open));
        return;
    }
    const Point4 initial(static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2]),
                         static_cast<float>(c[3]));
    // The chooser deletes itself when its window goes; the panel closes the window when it
    // goes first.
    ColorInterface *chooser = ColorInterface::factory(fastdelegate::MakeDelegate(this, set), initial);
    gtk_window_set_title(GTK_WINDOW(chooser->getDialog()), title);
    adoptDialog(chooser->getDialog());
}

void GLGraphObjectInterface::openPointColor()
{
    double c[4];
    graph->getPointColor(c);
    openColor("Point Color", c, &GLGraphObjectInterface::setPointColor);
}

void GLGraphObjectInterface::openEdgeColor()
{
    double c[4];
    graph->getEdgeColor(c);
    openColor("Edge Color", c, &GLGraphObjectInterface::setEdgeColor);
}

void GLGraphObjectInterface::setPointColor(Point4 c)
{
    const double rgba[4] = {c.x, c.y, c.z, c.w};
    graph->setPointColor(rgba);
    redraw();
}

void GLGraphObjectInterface::setEdgeColor(Point4 c)
{
    const double rgba[4] = {c.x, c.y, c.z, c.w};
    graph->setEdgeColor(rgba);
    redraw();
}
