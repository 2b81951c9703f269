#ifndef VELMORA_GLSMESHOBJECT_H
#define VELMORA_GLSMESHOBJECT_H

#include "objects/GLMeshObject.h"
#include "formats/LargeArray.h"

#include <vector>

/// A simplex mesh: a surface whose vertices each have exactly three neighbours. It draws the
/// mesh's edges, scalar data along them, and a shaded dual surface: every simplex vertex
/// becomes a triangle whose corners are the centres of the three faces (cycles of the mesh)
/// that meet at it.
///
/// It reuses the mesh's fields: `vertices` are the simplex vertices, `triangles` holds the
/// three neighbours of vertex i at 3i .. 3i + 2 and `nTriangles` is the number of such
/// triples (one per vertex). The loader builds one when the triangle-mesh readers refuse a
/// "tri" file (non-zero mesh type) or an "off" file ("OFFS").
///
/// The faces are found by walking the corner links of the three-neighbour structure; a
/// structure that is not a closed simplex mesh (a neighbour that does not name the vertex
/// back, an edge given twice, links that do not close into faces) is refused with an error
/// naming the file, so construction fails as a whole. Building needs no OpenGL; drawing
/// does.
class GLSMeshObject : public GLMeshObject {
public:
    /// `kind` null reads the binary form, "off" the "OFFS" text form; any other kind reads
    /// nothing (an empty mesh).
    GLSMeshObject(const char *path, const char *kind);
    /// Takes over a simplex mesh that a reader gave for `path` (see MeshFile), read as "OFFS"
    /// text when `off`: the same mesh as reading it here.
    GLSMeshObject(const char *path, MeshData &&mesh, bool off);
    ~GLSMeshObject() override;

    void readMesh(const char *path);
    void readSOFF(const char *path);
    void reload() override;

    /// The corner links: for corner 3i + k, the next corner of the same face. Raises an
    /// error when the structure is not a simplex mesh (see the class comment).
    std::vector<int> computeSimplexEdges() const;
    /// The faces from the corner links: fills `cornerFace` and `dualVertices` (the face
    /// centres). Raises an error when the links do not close into faces.
    void simplex2Tri(const int *next);
    /// Area-weighted unit normals of the dual surface, one per dual vertex.
    void computeNormals(Point3 *out) const;
    /// The dual surface (faces, centres and normals) of the current neighbours.
    void initDisplayLists();

    void setDrawTriangles();
    void setDrawEdges();
    void setDrawData();
    /// Whether the current data item holds a 3D vector a vertex (3 x nVertices values).
    bool isData3DVector() const;

    void notifyClick(int x, int y) override;
    /// A simplex mesh takes a few keys of its own (the French keyboard's digits too) and
    /// passes the others to the mesh's table.
    static const BindingTable &bindings();
    const BindingTable *getBindings() const override { return &bindings(); }
    /// A simplex mesh's "triangles" are its vertices' neighbours: it is not cleaned as a mesh.
    ElementCleaning *getCleaning() override { return nullptr; }
    void defaultDrawing() override;
    /// The selected vertex, or else the box centre, in object coordinates.
    Point3 getOrigin() const override;
    using GLMeshObject::getOrigin;
    void drawInfo() override;
    void drawShadow(float *plane, float *light, float *color) override;
    /// Vertex i and its data values, on standard output.
    void printInfo(int i) const;
    void drawSelectedPoint();

    void drawTriangles();
    void drawShade();
    void drawEdges();
    void drawSimplexEdges();
    void drawData();

    int getNDualVertices() const { return nDualVertices; }
    int getNDualTriangles() const { return nDualTriangles; }
    const Point3 *getDualVertices() const { return dualVertices.data(); }
    const Point3 *getDualNormals() const { return dualNormals.data(); }
    /// 3 per simplex vertex: the dual vertex of each of its corners.
    const int *getCornerFace() const { return cornerFace.data(); }

protected:
    bool runAction(const KeyBinding &row) override;

private:
    /// What opening a file does once its neighbours are read: the dual surface, box, colours.
    void open();
    void beginDraw();
    void endDraw();
    /// The dual triangles from arrays, with normals.
    void drawDualSurface();
    /// Lit, blended, smooth, untextured front faces in the surface material.
    void setSurfaceState();

    std::vector<int> cornerFace;
    std::vector<Point3> dualVertices;
    std::vector<Point3> dualNormals;
    /// Every simplex edge once, as pairs of vertex indices.
    std::vector<int> edgeList;
    int nDualVertices;
    int nDualTriangles;
    bool readAsSOFF;
};

#endif
