#ifndef VELMORA_GLGRAPHOBJECTINTERFACE_H
#define VELMORA_GLGRAPHOBJECTINTERFACE_H

#include "core/GLInterface.h"
#include "math/Point4.h"

class GLGraphObject;
class ColorInterface;

/// The panel of a graph: the menu "Graph", the graph's information, the buttons "Data" and
/// "Zbuffer", and for "Points" and "Edges" each a "+" and a "-" (sizes) and a "color"
/// button that opens the colour dialog "Point Color" or "Edge Color". A colour dialog
/// changes the graph while the user drags its controls; one of each is open at a time.
class GLGraphObjectInterface : public GLInterface {
public:
    explicit GLGraphObjectInterface(GLGraphObject *graph);
    /// Closes the colour dialogs still open.
    ~GLGraphObjectInterface() override;

    /// Sends the key `command` to the graph, as its button does, and asks for a redraw.
    void sendCommand(int command);
    void menuBarResponse(const char *key);
    void update() override;

    /// Opens (or brings forward) the colour dialog of the nodes or of the edges.
    void openPointColor();
    void openEdgeColor();
    /// The open dialogs' windows, null when closed.
    void *getPointColorDialog() const { return pointDialog; }
    void *getEdgeColorDialog() const { return edgeDialog; }

private:
    void createMenuBar();
    void createInterface();
    void setPointColor(Point4 c);
    void setEdgeColor(Point4 c);

    GLGraphObject *graph;
    void *information;
    void *pointDialog;   ///< cleared by the toolkit when the window goes
    void *edgeDialog;
};

#endif
