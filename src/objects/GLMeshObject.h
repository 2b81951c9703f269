#ifndef VELMORA_GLMESHOBJECT_H
#define VELMORA_GLMESHOBJECT_H

#include "math/Matrix4.h"
#include "formats/AssimpReader.h"
#include "math/Point3.h"
#include "measure/Chemin.h"
#include "measure/MeshAdjacency.h"
#include "measure/PathDisplay.h"
#include "formats/DataItem.h"
#include "objects/ElementCleaning.h"
#include "objects/GL3DObject.h"
#include "formats/LargeArray.h"
#include "formats/MeshReader.h"
#include "formats/MeshOutput.h"
#include "formats/MeshTexture.h"
#include "objects/GLMeshDrawing.h"
#include "objects/GLMeshPicking.h"
#include "objects/GLMeshTexture.h"
#include "objects/GLMeshTexturing.h"
#include "objects/Material.h"
#include "objects/MeshModel.h"
#include "objects/RadixSort.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

/// The triangle mesh: vertices, counter-clockwise triangles (front faces), unit vertex
/// normals, optional per-vertex data items mapped to colours, per-triangle texture
/// coordinates and a material.
///
/// It is read from a binary mesh file ("tri"), an OFF text file ("off"), imported from
/// another program's model file (PLY, OBJ, STL, glTF, ...: see AssimpReader) or handed over in
/// memory by a program that embeds the viewer. The readers are MeshReader's: they produce a
/// MeshData that the mesh then takes over. A refused file raises the reader's
/// `std::runtime_error`; the object is then left as it was before the read, so a
/// constructor fails as a whole and nothing half-built is ever drawn.
///
/// Drawing needs a current OpenGL context; reading does not. The element keeps the model
/// (geometry, data items, material, display settings) and its derived data; the drawing
/// (GLMeshDrawing), the picking and measured paths (GLMeshPicking) and the texture
/// (GLMeshTexturing) are parts it hands its work to. They see the mesh through MeshModel
/// only; callers reach them through getDrawing(), getPicking() and getTexturing().
///
/// Its vertices can be selected, hidden and deleted (ElementCleaning, see GLMeshObjectEdits.cpp);
/// a face is drawn while its three vertices are, and a selection of vertices marks the faces
/// they span.
class GLMeshObject : public GL3DObject, private MeshModel, private CleanableElements {
public:
    /// The in-memory hand-over of a mesh (see MeshReader.h).
    using MeshRecord = ::MeshRecord;

    /// Reads `path`: the binary format when `kind` is null or begins with "tri", the OFF
    /// format when it begins with "off". Raises the reader's error when the file is refused.
    /// A file with its own vertex colours (OFF "C") opens drawing them.
    GLMeshObject(const char *path, const char *kind);
    /// Takes over a mesh that a reader gave for `path` (see MeshFile), read as OFF text when
    /// `off`, else as the binary format: the same mesh as reading it here.
    GLMeshObject(const char *path, MeshData &&mesh, bool off);
    /// Copies an in-memory mesh; raises an error when the record is inconsistent.
    explicit GLMeshObject(const MeshRecord *mesh);
    /// Takes over a mesh imported from another program's file at `path` (see AssimpReader),
    /// with its texture images; reload() imports the file again. A mesh with its own vertex
    /// colours opens drawing them. `model` must not be a point cloud.
    GLMeshObject(const char *path, ForeignModel &model);
    /// An empty mesh (no vertices, no drawing method chosen), for classes that read
    /// their own formats.
    GLMeshObject();
    ~GLMeshObject() override;

    /// Replaces the geometry and data with an in-memory mesh, keeping the display settings
    /// (wire frame, data item, colour map, double face, normal length, legend, texture
    /// mode). On a refused record nothing changes.
    void update(const MeshRecord *mesh);
    /// Reads the mesh's file again with the reader that first opened it. A refused file
    /// prints "GLMeshObject: unable to reload <path>" and leaves the mesh empty.
    void reload() override;

    // --- Readers: each replaces the mesh's geometry and blocks only when it succeeds ------
    void readCompressedMesh(const char *path);
    void readMesh(const char *path);
    void readOFF(const char *path);
    void readMeshFromMemory(const MeshRecord *mesh);
    /// Imports another program's mesh file (AssimpReader); a point cloud is refused.
    void readForeign(const char *path);

    /// Block readers of the binary format for a mesh already read: `f` is positioned after
    /// the 4 tag bytes, `mode` is the reader mode of ByteOrder.h. Each returns non-zero when
    /// the tag was its own (and then consumed the block, whether complete or not).
    int readDataItems(FILE *f, int mode, const char *tag);
    int readTextureCoordinates(FILE *f, int mode, const char *tag);
    int readMaterial(FILE *f, int mode, const char *tag);

    /// Box of the vertices, its centre, and the normal length (a hundredth of the radius).
    /// An empty mesh keeps its box uncomputed.
    void computeBoundingBox();
    /// Area-weighted unit vertex normals into out[0 .. nVertices-1]; a vertex of no
    /// triangle, or of degenerate ones only, gets (0, 0, 0). (The mesh uses them unless its
    /// file gave normals of its own.)
    void computeNormals(Point3 *out) const;
    /// Maps the current data item through the current colour map into `colors` and
    /// rebuilds the legend. Does nothing without colours, data items, or with a negative
    /// version byte.
    void computeColors();
    /// Replaces the vertex colours (3 bytes each); false, changing nothing, unless n is
    /// the number of vertices.
    bool setColors(const unsigned char *rgb, int n);
    /// Adds `item` (one value a vertex; NaN marks a vertex without a value, drawn grey), or
    /// replaces the data item of the same name, and draws its colours. False, changing
    /// nothing, unless it has a value for every vertex.
    bool addDataItem(const DataItem &item);
    bool hasDataItems() const { return nDataItems != 0; }
    /// Releases geometry, blocks, textures and buffers; the mesh is then empty.
    void freeData();

    // --- Drawing (see GLMeshDrawing) --------------------------------------------------------

    /// The plain opaque drawing: lit, smooth or flat shaded by the shading model, in one
    /// call. Restores every state it changes.
    void defaultDrawing() override;
    void setDefaultDrawing();
    /// Lit triangles, with the wire frame over them when it is on (the default method).
    void setDrawTriangles();
    /// Colours from the current data item (unlit, with the legend); on a mesh whose only
    /// colours are the file's, those (see setDrawFileColours); does nothing on a mesh
    /// without colours.
    void setDrawData();
    /// The vertex colours the file brought (PLY, OBJ, COFF), lit: each colour times the
    /// shading of the lit triangles. They are kept apart from the data colours, so that they
    /// come back after the data was shown. Does nothing on a mesh without them.
    void setDrawFileColours();
    bool hasFileColours() const { return !fileColours.empty(); }
    /// Texture mapping: the first time, the texture is set up (GLMeshTexturing::readTexture);
    /// without an image texture a mesh with file colours shows them; without texture chunks
    /// the mesh is drawn as plain triangles.
    void setDrawTexture();
    /// Texture mapping of the data texture (made first when there is no texture yet),
    /// filtered linearly.
    void setDrawTextureFromData();

    size_t getDrawingCost() const override { return nTriangles > 0 ? static_cast<size_t>(nTriangles) : 0; }

    /// The drawing method that runs `pass` of the drawing part: drawMethod points at members
    /// of GL3DObject, so the mesh reaches each of its drawings through this one forwarder.
    template <void (GLMeshDrawing::*pass)()>
    void drawWith()
    {
        (drawing.*pass)();
    }
    /// The buffers, the drawing methods and the back-to-front order (see GLMeshDrawing).
    GLMeshDrawing &getDrawing() { return drawing; }
    /// The selected vertex, the picked triangle and the measured path (see GLMeshPicking).
    GLMeshPicking &getPicking() { return picking; }
    const GLMeshPicking &getPicking() const { return picking; }
    /// The texture and its chunks (see GLMeshTexturing).
    GLMeshTexturing &getTexturing() { return texturing; }
    const GLMeshTexturing &getTexturing() const { return texturing; }
    /// The mesh flattened onto `plane` (a, b, c, d) from `light` (x, y, z, w) in the RGB
    /// colour `color`, unlit and without depth test.
    void drawShadow(float *plane, float *light, float *color) override;
    /// The legend of the current data item, while data colours are drawn.
    void drawInfo() override;

    // --- Settings ------------------------------------------------------------------------
    bool toggleWireFrame();
    bool toggleTriangleSorting();
    bool toggleDoubleFace();
    bool toggleLegendDrawing();
    /// GL_SMOOTH and GL_FLAT alternate.
    void toggleShadingModel();
    /// The display settings as they are now.
    const MeshDisplay &getDisplay() const { return settings; }
    void setWireSize(float w) { settings.wireSize = w; }
    /// 0 for GL_NEAREST, 1 for GL_LINEAR.
    int getTextureInterpolation() const;
    /// m is 0 (GL_NEAREST) or 1 (GL_LINEAR); anything else changes nothing.
    void setTextureInterpolation(int m);
    /// 0 for GL_DECAL, 1 for GL_MODULATE.
    int getTextureModulation() const;
    void setTextureModulation(int m);
    /// Predefined material i; an index outside the predefined ones changes nothing.
    void setMaterial(int i);
    void setMaterial(const Material &m);
    /// Triangle and vertex counts and the bounding box, for the panel.
    std::string getInformation() const override;

    // --- Picking and commands ----------------------------------------------------------------
    /// Selects the vertex under (x, y) with its one-ring and prints it; a click beside the
    /// mesh clears the selection.
    void notifyClick(int x, int y) override;
    /// Path measurement: from the selected vertex to the vertex under (x, y), along edges
    /// when `mode` is non-zero, else across the plane through both and the viewer (the eye
    /// of the current model-view matrix, taken into the mesh's coordinates). Without a
    /// selection or a vertex under the pointer the current path is dropped.
    void notifyAdditionalClick(int x, int y, int mode) override;
    /// The same as notifyCommand(key).
    int notifyKey(int key) override;
    /// Switches clipping plane `plane` (0-5) on or off and asks for a redraw; false for
    /// another index.
    bool applyClippingSwitch(int plane, bool on);
    /// Sets clipping plane `plane` (0-5) from a, b, c, d, the normal made of unit length, and
    /// asks for a redraw. A plane without a normal, or not finite, would clip everything or
    /// nothing at random: it is refused (false) and changes nothing.
    bool applyClippingPlane(int plane, const float abcd[4]);

    /// What a mesh does on a key or a panel control.
    enum class Action {
        WIRE_FRAME, SHADE, TEXTURE, DEPTH_BUFFER, DATA, DATA_TEXTURE,
        TEXTURE_NEAREST, TEXTURE_LINEAR, TEXTURE_DECAL, TEXTURE_MODULATE,
        PREVIOUS_DATA, NEXT_DATA, PRINT_POSE, ORIENT_FACES,
    };
    static const BindingTable &bindings();
    const BindingTable *getBindings() const override { return &bindings(); }
    void printPose() const;
    /// The selected vertex under the pose when there is one, else the box centre.
    Point3 getOrigin() const override;
    using GL3DObject::getOrigin;

    // --- Read access -----------------------------------------------------------------------
    /// The arrays as they are now (see MeshArrays for how long they stay valid).
    MeshArrays getArrays() const { return arrays(); }
    /// The index triangle i had in the mesh's file: the texture may have regrouped them.
    int getFileTriangle(int i) const { return fileTriangle.empty() ? i : fileTriangle[size_t(i)]; }
    /// The vertices the user selected, by their index in the file, sized with them and emptied
    /// with every new geometry.
    ElementSelection &getSelection() { return cleaning.getSelection(); }
    const ElementSelection &getSelection() const { return cleaning.getSelection(); }
    /// The faces the selected vertices span (all three corners selected), by their index in
    /// the file (getFileTriangle).
    const ElementSelection &getSelectedFaces() const { return selectedFaces; }
    ElementCleaning *getCleaning() override { return &cleaning; }
    /// Writes the vertices not deleted and the faces among them, as PLY (".ply": colours, data
    /// items, texture coordinates and images) or OBJ (".obj" with its ".mtl": texture
    /// coordinates and images); the images an imported mesh names are copied beside the file.
    /// Says what it wrote, or why it could not, and returns false then.
    bool saveAs(const std::string &path);
    int getNDataItems() const { return nDataItems; }
    const DataItem &getDataItem(int i) const { return dataItems[static_cast<size_t>(i)]; }
    int getCurrentDataItem() const { return currentDataItem; }
    unsigned char getHeaderFlags() const { return headerFlags; }
    signed char getVersion() const { return version; }
    unsigned char getMeshType() const { return meshType; }
    const std::string &getPath() const { return path; }
    /// Turns triangles so that neighbours agree (see FaceOrientation::orient): the speckle of
    /// a mesh whose faces point either way goes. Returns how many were turned.
    size_t orientFacesConsistently();
    /// Read from another program's file (imported, or a PLY).
    bool isImported() const { return source == Source::Foreign; }
    /// Imported or read from an OFF file: other programs write OFF too, with their own
    /// orientation conventions and faces that may point either way.
    bool isOtherProgramsModel() const { return source != Source::Binary; }

protected:
    bool runAction(const KeyBinding &row) override;
    void colorMapChanged() override;
    /// Reduced frames draw the stand-in, built once in the background on the first of them
    /// (until it is there, a fixed subset of the triangles); other frames the whole mesh.
    bool canDrawReduced(const FrameContext &) const override;
    void reducedDrawingChanged() override;

    /// Display settings and empty-mesh values of the mesh's own fields.
    void initVariables();
    /// Takes over freshly read geometry and blocks in place of the current ones.
    void adopt(MeshData &g);
    void setPath(const char *file) { path = file ? file : ""; }

private:
    // What the parts see of the mesh (MeshModel).
    MeshArrays arrays() const override;
    const MeshDisplay &display() const override { return settings; }
    const std::vector<DataItem> &items() const override { return dataItems; }
    int currentItem() const override { return currentDataItem; }
    const std::string &file() const override { return path; }
    void takeTextureLayout(const std::vector<int> &order, LargeArray<float> coordinates) override;

    /// The triangles in a new order: whatever was built from the old order is dropped.
    void reorderTriangles(const std::vector<int> &order);

    // What the selections and edits see of the mesh (CleanableElements).
    const float *storedPositions(size_t &n) override;
    std::vector<ElementValues> valueItems() const override;
    size_t saveKept(const std::string &path, const ElementSelection &gone) override;
    void checkSaveName(const std::string &path) const override;
    void editsChanged() override;
    void selectionChanged() override;
    void drawMarkedExtras(const unsigned char colour[3]) override;
    /// The triangles drawn (see MeshArrays::triangles) made again from `triangles` and the edits.
    void makeDrawnTriangles();
    /// The mesh's triangles, texture coordinates and images as the file had them, for saving.
    MeshOutput fileLayout(std::vector<int> &fileOrder) const;
    void installColours(MeshData &g);
    void installDataItems(MeshData &g);
    void installMaterial(const MeshData &g);
    /// Computed normals, unless the file gave its own.
    void computeVertexNormals();
    /// Colours, box, normals and clipping planes after the geometry changed.
    void prepare(bool resetPlanes);
    /// Marks the buffers of the geometry, or of the colours only, for a new upload.
    void geometryChanged() { drawing.geometryChanged(); }
    void coloursChanged() { drawing.coloursChanged(); }
    /// The file colours are the drawing: the data colours stay out of `colors`.
    bool showingFileColours() const;
    enum class Source { Binary, OFF, Foreign };
    void adoptForeign(ForeignModel &model);
    /// Turns the faces of another program's mesh (OFF or imported) to agree with their
    /// neighbours, before its normals are made; says how many it turned.
    void agreeForeignFaces();
    /// Turns the triangles that disagree with their neighbours (with their corners' texture
    /// coordinates); how many.
    size_t turnFacesToAgree();
    /// What opening a file does once its mesh is read: derived data, drawing method, colours.
    void open();

    LargeArray<int> triangles;                ///< 3 per triangle, counter-clockwise = front
    LargeArray<Point3> normals;               ///< one per vertex
    int nTriangles;
    unsigned char headerFlags;
    signed char version;
    unsigned char meshType;
    LargeArray<float> texCoords;              ///< 6 per triangle
    int texCoordVersion;                      ///< -1 = no texture-coordinate block
    std::vector<int> fileTriangle;            ///< file index of each triangle; empty: the same
    std::string path;
    std::vector<DataItem> dataItems;
    int nDataItems;
    int currentDataItem;
    MeshDisplay settings;
    ElementCleaning cleaning{*this, *this, "GLMeshObject", "vertices"};
    ElementSelection selectedFaces;           ///< see getSelectedFaces()
    std::vector<int> markedFaces;             ///< the faces drawn marked, 3 vertices each
    LargeArray<int> drawnTriangles;           ///< see MeshArrays::triangles; null: `triangles`
    /// The file's texture coordinates (in its order of the triangles), kept when a texture's
    /// layout replaced them; `fileTexCoordsKept` says they were.
    LargeArray<float> fileTexCoords;
    bool fileTexCoordsKept = false;
    LargeArray<float> vertexStore;               ///< what `vertices` points to
    std::unique_ptr<unsigned char[]> colorStore; ///< what `colors` points to
    std::vector<unsigned char> fileColours;      ///< the file's vertex colours, RGB, or empty
    Source source;                            ///< which reader reload() uses
    bool coloursGiven;                        ///< colours came from setColors() or the file
    bool normalsGiven;                        ///< normals came from the file

    // The parts the mesh hands its work to; the drawing lays the picking's selection and the
    // texture over its passes, so it comes after them.
    GLMeshPicking picking{*this, *this};
    GLMeshTexturing texturing{*this, *this};
    GLMeshDrawing drawing{*this, *this, picking, texturing};
};

#endif
