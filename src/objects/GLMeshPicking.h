#ifndef VELMORA_GLMESHPICKING_H
#define VELMORA_GLMESHPICKING_H

#include "math/Matrix4.h"
#include "measure/Chemin.h"
#include "measure/MeshAdjacency.h"
#include "math/NonCopyable.h"
#include "measure/PathDisplay.h"

#include <memory>

class GLMeshObject;

/// What the user points at on a GLMeshObject: the selected vertex with its one-ring, the
/// triangle picked by its three corners, and the path measured from the selected vertex,
/// with the distance window that shows it.
class GLMeshPicking : NonCopyable {
public:
    explicit GLMeshPicking(GLMeshObject &mesh) : m(mesh) {}

    // See the methods of the same names in GLMeshObject.
    void notifyClick(int x, int y);
    void notifyAdditionalClick(int x, int y);
    void notifyAdditionalClick(int x, int y, int mode);
    bool measurePath(int to, int mode, const Matrix4 &objectToEye);
    void deletePath();
    const MeshAdjacency &getAdjacency();
    void getNbhood();
    void printInfo(int i) const;
    void drawSelectedPoint();
    void drawPath();

    /// The selection state of an empty mesh.
    void initVariables();
    /// Drops the one-ring, the picks, the path, its window and the adjacency.
    void release();
    /// The adjacency follows the old order of the triangles: it goes.
    void dropAdjacency() { adjacency.reset(); }

    int getNNeighbours() const { return nNeighbours; }
    const int *getNeighbours() const { return neighbours.get(); }
    const Chemin *getPathOnMesh() const { return pathOnMesh.get(); }
    PathDisplay *getDistancePanel() const { return distancePanel.get(); }

private:
    GLMeshObject &m;
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
