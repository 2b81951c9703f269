#ifndef VELMORA_GLGRAPHOBJECTINTERFACE_H
#define VELMORA_GLGRAPHOBJECTINTERFACE_H

#include "gui/ElementPanel.h"
#include "objects/GLGraphObject.h"
#include "math/Point4.h"

class GLGraphObject;

/// The panel of a graph: the menu "Graph", the graph's information, the buttons "Data" and
/// "Zbuffer", and for "Points" and "Edges" each a "+" and a "-" (sizes) and a "color"
/// button that opens the colour dialog "Point Color" or "Edge Color". A colour dialog
/// changes the graph while the user drags its controls; one of each is open at a time.
class GLGraphObjectInterface : public ElementPanel {
public:
    explicit GLGraphObjectInterface(GLGraphObject *graph);

    /// Opens (or brings forward) the colour dialog of the nodes or of the edges.
    void openPointColor();
    void openEdgeColor();
    /// The open dialogs' windows, null when closed.
    GtkWidget *getPointColorDialog() const { return getOpenDialog("Point Color"); }
    GtkWidget *getEdgeColorDialog() const { return getOpenDialog("Edge Color"); }

private:
    /// The frame `title` with "+" and "-" (keys `plus`, `minus`) and a "color" button named
    /// `name` that calls `colour`.
    void addSizeAndColour(const char *title, GLGraphObject::Action plus, GLGraphObject::Action minus, GCallback colour,
                          const char *name);
    /// Opens the colour dialog `title` on `initial` that calls `set`, or brings it forward.
    void openColor(const char *title, const double *initial, void (GLGraphObjectInterface::*set)(Point4));
    void setPointColor(Point4 c);
    void setEdgeColor(Point4 c);

    GLGraphObject *graph;
};

#endif
