#ifndef VELMORA_GLGRAPHOBJECT_H
#define VELMORA_GLGRAPHOBJECT_H

#include "objects/GL3DObject.h"
#include "formats/GraphReader.h"
#include "formats/LargeArray.h"

#include <string>

/// A graph embedded in 3D: nodes drawn as round points and edges as straight segments, each
/// set in one colour, with picking of a node or of the edge nearest to the mouse.
///
/// It is read from a "gph" file by GraphReader (construction fails as a whole when the file
/// is refused). Nodes and edges are drawn from vertex arrays, one call each. Drawing and
/// picking need a current OpenGL context; reading does not.
class GLGraphObject : public GL3DObject {
public:
    /// Reads `path` whatever its extension.
    explicit GLGraphObject(const char *path);
    ~GLGraphObject() override;

    /// Four components each (R, G, B, A, from 0 to 1).
    void setEdgeColor(const double *rgba);
    void setPointColor(const double *rgba);
    void getEdgeColor(double *rgba) const;
    void getPointColor(double *rgba) const;

    /// "%d points\n" (the node count) and the bounding box.
    std::string getInformation() const;
    /// The selected node or edge, on standard output.
    void printInfo() const;
    void setDrawData();
    void setDefaultDrawing() { setDrawData(); }

    /// Index of the edge nearest to the window position (x, y) (y counted from the top)
    /// among the edges onto which the position projects within their ends; -1 when none.
    /// Reads the current OpenGL matrices and viewport.
    int getEdge(int x, int y);

    float getMaxRadius() override;
    /// Selects the node under (x, y), or else the nearest edge, and prints the selection.
    void notifyClick(int x, int y) override;
    /// The same as notifyCommand(key).
    int notifyKey(int key) override;

    enum class Action { BIGGER_NODES, SMALLER_NODES, DATA, DEPTH_BUFFER, WIDER_EDGES, THINNER_EDGES };
    static const BindingTable &bindings();
    const BindingTable *getBindings() const override { return &bindings(); }
    void defaultDrawing() override;
    void drawData();

    int getNEdges() const { return nEdges; }
    const int *getEdges() const { return edges.get(); }
    int getSelectedEdge() const { return selectedEdge; }
    float getPointSize() const { return pointSize; }
    float getLineWidth() const { return lineWidth; }

protected:
    bool runAction(const KeyBinding &row) override;

private:
    LargeArray<float> nodeStore;
    LargeArray<int> edges;
    int nEdges;
    int selectedEdge;
    float pointSize;
    float lineWidth;
    float edgeColor[4];
    float pointColor[4];
};

#endif
