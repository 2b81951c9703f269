#ifndef VELMORA_MESHMODEL_H
#define VELMORA_MESHMODEL_H

#include "formats/DataItem.h"
#include "formats/LargeArray.h"
#include "math/Point3.h"
#include "objects/Material.h"

#include <string>
#include <vector>

/// The arrays of a mesh and their counts: pointers into the mesh's own storage, good until
/// the mesh changes its geometry, colours or texture coordinates.
struct MeshArrays {
    const float *vertices = nullptr;       ///< 3 floats a vertex
    int nVertices = 0;
    /// 3 vertex indices a triangle, counter-clockwise = front. A triangle with a hidden or
    /// deleted vertex has its three corners on its first vertex here: it covers nothing, and
    /// every triangle keeps its place (its texture coordinates, its chunk).
    const int *triangles = nullptr;
    int nTriangles = 0;
    const Point3 *normals = nullptr;       ///< one a vertex; null until computed or read
    const unsigned char *colors = nullptr; ///< RGB a vertex, or null
    const float *texCoords = nullptr;      ///< u, v of the 3 corners of every triangle, or null
    int texCoordVersion = -1;              ///< -1: no texture-coordinate block
};

/// How a mesh is shown: the settings of its keys and panels that its drawing follows.
struct MeshDisplay {
    Material material{};
    bool wireFrame = false;
    bool triangleSorting = false; ///< translucent faces are drawn back to front
    bool doubleFace = false;      ///< back faces are drawn (and lit) too
    bool legendDrawing = true;
    float wireSize = 1;
    float normalLength = 2; ///< of the normals drawn at the selected vertex
    int textureMode = 0;    ///< GL_DECAL or GL_MODULATE
    int textureFilter = 0;  ///< GL_NEAREST or GL_LINEAR
    int shadingModel = 0;   ///< GL_SMOOTH or GL_FLAT
};

/// What the parts of a GLMeshObject (its drawing, picking and texture) see of the mesh
/// besides the element's public operations: its arrays as they are now, its display settings,
/// its data items and file, and the one change a part makes to it. The mesh implements it
/// for its parts only.
class MeshModel {
public:
    virtual MeshArrays arrays() const = 0;
    virtual const MeshDisplay &display() const = 0;
    virtual const std::vector<DataItem> &items() const = 0;
    /// The data item the colours show; any integer, taken modulo the number of items.
    virtual int currentItem() const = 0;
    /// The file the mesh was read from; empty for a mesh handed over in memory.
    virtual const std::string &file() const = 0;
    /// Takes a texture's layout: the triangles in its order (new triangle i is old triangle
    /// order[i]; empty: the order stays) and its coordinates, 6 a triangle.
    virtual void takeTextureLayout(const std::vector<int> &order, LargeArray<float> texCoords) = 0;

protected:
    ~MeshModel() = default;
};

#endif
