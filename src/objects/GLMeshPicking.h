#ifndef VELMORA_GLMESHPICKING_H
#define VELMORA_GLMESHPICKING_H

#include "math/Matrix4.h"
#include "measure/Chemin.h"
#include "measure/MeshAdjacency.h"
#include "math/NonCopyable.h"
#include "measure/PathDisplay.h"
#include "objects/MeshModel.h"

#include <memory>

class GL3DObject;

/// What the user points at on a GLMeshObject: the selected vertex with its one-ring, the
/// triangle picked by its three corners, and the path measured from the selected vertex,
/// with the distance window that shows it.
///
/// It reads the mesh's arrays, data items and normal length (MeshModel) and asks the element
/// for the vertex under the pointer, the selected vertex, its pose and its host.
class GLMeshPicking : NonCopyable {
public:
    GLMeshPicking(GL3DObject &mesh, const MeshModel &meshModel) : element(mesh), model(meshModel) {}

    /// The element selected a vertex (or none): the one-ring of the vertex, printed with it.
    void vertexSelected();
    /// Triangle picking: three clicks on the corners of a triangle print its index, in any
    /// order; a click beside the mesh starts the count again.
    void notifyAdditionalClick(int x, int y);
    /// Path measurement: see GLMeshObject::notifyAdditionalClick().
    void notifyAdditionalClick(int x, int y, int mode);
    /// The measurement from the selected vertex to vertex `to`, along edges when `mode` is
    /// non-zero, else across the plane through both and the viewer: `objectToEye` maps the
    /// mesh's coordinates to the eye's (model-view times pose). Replaces the current path;
    /// shows it in the distance window (made on first use, where the element's host provides
    /// one). Returns whether a path resulted.
    bool measurePath(int to, int mode, const Matrix4 &objectToEye);
    /// Drops the measured path (the distance window forgets it too).
    void deletePath();
    /// The connectivity the path builders use, built on first use and kept until the
    /// geometry changes.
    const MeshAdjacency &getAdjacency();
    /// The one-ring of the selected vertex, in order around it.
    void getNbhood();
    /// Vertex i, its valence and its data values, on standard output.
    void printInfo(int i) const;
    /// The selected vertex, its one-ring and the normals there (nothing without a selection).
    void drawSelectedPoint();
    /// The measured path as a thick blue line on the surface (nothing without a path).
    void drawPath();

    /// The selection state of an empty mesh.
    void initVariables();
    /// Drops the one-ring, the picks, the path, its window and the adjacency.
    void release();
    /// The adjacency follows the old order of the triangles: it goes.
    void dropAdjacency() { adjacency.reset(); }

    int getNNeighbours() const { return nNeighbours; }
    const int *getNeighbours() const { return neighbours.get(); }
    /// The current path, null when there is none.
    const Chemin *getPathOnMesh() const { return pathOnMesh.get(); }
    /// The distance window, null until a path was shown (or without a window layer).
    PathDisplay *getDistancePanel() const { return distancePanel.get(); }

private:
    GL3DObject &element;
    const MeshModel &model;
    std::unique_ptr<int[]> neighbours;          ///< one-ring of the selected vertex
    int nNeighbours = 0;
    int pickedVertices[10] = {};
    int nPicked = 0;
    bool ringClosed = false;                    ///< the one-ring goes all round
    std::unique_ptr<Chemin> pathOnMesh;         ///< the measured path, shown by drawPath()
    std::unique_ptr<PathDisplay> distancePanel; ///< the window that shows its lengths
    std::unique_ptr<MeshAdjacency> adjacency;   ///< built for the first path, dropped with the geometry
};

#endif
