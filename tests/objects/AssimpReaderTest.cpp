#include "formats/AssimpReader.h"

#include "image/Bitmap.h"
#include "objects/GL3DObjectLoader.h"
#include "objects/GLMeshObject.h"
#include "objects/GLPointListObject.h"
#include "formats/PlyHeader.h"
#include "formats/PlyReader.h"
#include "support/ImageCompare.h"
#include "support/CapturedMessages.h"

#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A unit square in z = 0 as one quad face (the importer triangulates it), with colours and
// three scalar properties of different types.
const float kXYZ[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
const unsigned char kRGB[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};
const float kQuality[4] = {1.5f, 2.5f, -3.0f, 4.0f};
const double kConfidence[4] = {0.25, 0.5, 0.75, 1.0};
const uint16_t kIntensity[4] = {100, 200, 300, 65535};

enum PlyFormat { Ascii, Little, Big };

void put(std::string &out, const void *p, size_t n, bool big)
{
    const uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    const bool swap = big == (first == 1);
    const auto *b = static_cast<const unsigned char *>(p);
    for (size_t i = 0; i < n; ++i)
        out += static_cast<char>(swap ? b[n - 1 - i] : b[i]);
}

// The square as PLY; `faces` false leaves the face element out (a point cloud), `scalars`
// false the scalar properties, `colours` false the colours.
std::string squarePly(PlyFormat format, bool faces = true, bool colours = true, bool scalars = true)
{
    std::string s = "ply\nformat ";
    s += format == Ascii ? "ascii" : format == Little ? "binary_little_endian" : "binary_big_endian";
    s += " 1.0\ncomment made by the tests\nelement vertex 4\nproperty float x\nproperty float y\nproperty float z\n";
    if (scalars)
        s += "property float quality\n";
    if (colours)
        s += "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    if (scalars)
        s += "property double confidence\nproperty ushort intensity\n";
    if (faces)
        s += "element face 1\nproperty list uchar int vertex_indices\n";
    s += "end_header\n";
    for (int i = 0; i < 4; ++i) {
        if (format == Ascii) {
            s += std::to_string(kXYZ[i][0]) + " " + std::to_string(kXYZ[i][1]) + " " + std::to_string(kXYZ[i][2]);
            if (scalars)
                s += " " + std::to_string(kQuality[i]);
            if (colours)
                for (int k = 0; k < 3; ++k)
                    s += " " + std::to_string(kRGB[i][k]);
            if (scalars)
                s += " " + std::to_string(kConfidence[i]) + " " + std::to_string(kIntensity[i]);
            s += "\n";
        } else {
            const bool big = format == Big;
            put(s, kXYZ[i], 4, big), put(s, &kXYZ[i][1], 4, big), put(s, &kXYZ[i][2], 4, big);
            if (scalars)
                put(s, &kQuality[i], 4, big);
            if (colours)
                s.append(reinterpret_cast<const char *>(kRGB[i]), 3);
            if (scalars)
                put(s, &kConfidence[i], 8, big), put(s, &kIntensity[i], 2, big);
        }
    }
    if (faces) {
        if (format == Ascii) {
            s += "4 0 1 2 3\n";
        } else {
            s += '\4';
            for (int32_t i = 0; i < 4; ++i)
                put(s, &i, 4, format == Big);
        }
    }
    return s;
}

class Foreign : public ::testing::Test {
protected:
    void SetUp() override { dir = testsupport::makeTempDir("AssimpReader"); }

    std::string write(const std::string &name, const std::string &content)
    {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    static ForeignModel read(const std::string &path, std::string *out = nullptr)
    {
        testsupport::CapturedMessages captured;
        ForeignModel m = AssimpReader::read(path.c_str());
        const std::string text = captured.take();
        if (out)
            *out = text;
        return m;
    }

    // A 2 x 2 image with four distinct colours.
    std::string writeImage(const std::string &name, unsigned char shade)
    {
        Bitmap image(2, 2);
        for (int i = 0; i < 4; ++i)
            image.pixels[i] = RGB<unsigned char>(static_cast<unsigned char>(60 * i), shade, 7);
        const std::string path = dir + "/" + name;
        EXPECT_NE(image.savePNG(path.c_str()), 0);
        return path;
    }

    std::string dir;
};

TEST_F(Foreign, PlyInEveryEncodingGivesGeometryColoursAndScalars)
{
    const struct {
        PlyFormat format;
        const char *name;
    } cases[] = {{Ascii, "ascii.ply"}, {Little, "little.ply"}, {Big, "big.ply"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const ForeignModel m = read(write(c.name, squarePly(c.format)));
        ASSERT_FALSE(m.isPointCloud);
        const MeshData &g = m.mesh;
        ASSERT_EQ(g.nVertices, 4);
        ASSERT_EQ(g.nTriangles, 2);
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 3; ++k) {
                EXPECT_FLOAT_EQ(g.vertices[3 * i + k], kXYZ[i][k]);
                EXPECT_EQ(g.colors[3 * i + k], kRGB[i][k]);
            }
        EXPECT_TRUE(g.colorsFromFile);
        // The quad becomes two triangles that cover it once, both facing +z.
        for (int t = 0; t < 2; ++t) {
            const int *v = &g.triangles[3 * t];
            const float ax = kXYZ[v[1]][0] - kXYZ[v[0]][0], ay = kXYZ[v[1]][1] - kXYZ[v[0]][1];
            const float bx = kXYZ[v[2]][0] - kXYZ[v[0]][0], by = kXYZ[v[2]][1] - kXYZ[v[0]][1];
            EXPECT_FLOAT_EQ(ax * by - ay * bx, 1.0f);
        }
        ASSERT_EQ(g.dataItems.size(), 3u);
        EXPECT_STREQ(g.dataItems[0].getName(), "quality");
        EXPECT_STREQ(g.dataItems[1].getName(), "confidence");
        EXPECT_STREQ(g.dataItems[2].getName(), "intensity");
        for (int i = 0; i < 4; ++i) {
            EXPECT_FLOAT_EQ(g.dataItems[0].getData()[i], kQuality[i]);
            EXPECT_FLOAT_EQ(g.dataItems[1].getData()[i], static_cast<float>(kConfidence[i]));
            EXPECT_FLOAT_EQ(g.dataItems[2].getData()[i], kIntensity[i]);
        }
        EXPECT_FLOAT_EQ(g.dataItems[0].getMinimum(), -3.0f);
        EXPECT_FLOAT_EQ(g.dataItems[2].getMaximum(), 65535.0f);
    }
}

TEST_F(Foreign, MeshWithColoursAndDataOpensShowingItsColours)
{
    const std::string path = write("both.ply", squarePly(Little));
    testsupport::CapturedMessages captured;
    std::unique_ptr<GL3DObject> o(GL3DObjectLoader::load(path.c_str()));
    captured.take();
    auto *mesh = dynamic_cast<GLMeshObject *>(o.get());
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->getNDataItems(), 3);
    EXPECT_EQ(std::memcmp(mesh->getArrays().colors, kRGB, sizeof kRGB), 0);
    const auto fileColours = static_cast<GL3DObject::DrawMethod>(&GLMeshObject::drawWith<&GLMeshDrawing::drawFileColours>);
    const auto data = static_cast<GL3DObject::DrawMethod>(&GLMeshObject::drawWith<&GLMeshDrawing::drawData>);
    EXPECT_EQ(mesh->getDrawMethod(), fileColours);
    // The data paints its colour map over them; key 3 brings them back, and stepping through
    // the data items meanwhile leaves them alone.
    const struct {
        int key;
        GL3DObject::DrawMethod shows;
        bool fileColoursInArray;
    } steps[] = {{'5', data, false}, {'3', fileColours, true}, {'>', fileColours, true},
                 {'5', data, false}, {'3', fileColours, true}};
    for (const auto &step : steps) {
        mesh->notifyCommand(step.key);
        EXPECT_EQ(mesh->getDrawMethod(), step.shows) << char(step.key);
        const bool inArray = std::memcmp(mesh->getArrays().colors, kRGB, sizeof kRGB) == 0;
        EXPECT_EQ(inArray, step.fileColoursInArray) << char(step.key);
    }
}

TEST_F(Foreign, VerticesWithoutFacesBecomePointClouds)
{
    {
        // Colours win over the scalars.
        const ForeignModel m = read(write("coloured.ply", squarePly(Big, false)));
        ASSERT_TRUE(m.isPointCloud);
        ASSERT_EQ(m.points.nPoints, 4);
        ASSERT_TRUE(m.points.colors);
        EXPECT_FALSE(m.points.values);
        EXPECT_EQ(std::memcmp(m.points.colors.get(), kRGB, sizeof kRGB), 0);
        EXPECT_FLOAT_EQ(m.points.points[3 * 2 + 1], 1.0f);
    }
    {
        // Without colours the first scalar property gives the values.
        const ForeignModel m = read(write("scalars.ply", squarePly(Ascii, false, false)));
        ASSERT_TRUE(m.isPointCloud);
        EXPECT_FALSE(m.points.colors);
        ASSERT_TRUE(m.points.values);
        EXPECT_EQ(m.valueName, "quality");
        EXPECT_FLOAT_EQ(m.points.values[2], -3.0f);
    }
    // An OBJ of vertices only, through the loader.
    const std::string obj = write("cloud.obj", "v 0 0 0\nv 1 0 0\nv 0 2 0\nv 0 0 3\n");
    testsupport::CapturedMessages captured;
    std::unique_ptr<GL3DObject> o(GL3DObjectLoader::load(obj.c_str()));
    const std::string out = captured.take();
    auto *cloud = dynamic_cast<GLPointListObject *>(o.get());
    ASSERT_NE(cloud, nullptr) << out;
    EXPECT_EQ(cloud->getNVertices(), 4);
    EXPECT_FALSE(cloud->hasValues());
}

TEST_F(Foreign, ObjWithMaterialsAndImagesGivesOneChunkPerImage)
{
    writeImage("a.png", 0);
    writeImage("b.png", 200);
    write("m.mtl", "newmtl a\nmap_Kd a.png\nnewmtl b\nmap_Kd b.png\n");
    // One material: the quad's corners are shared, so the two triangles share two vertices.
    const std::string one = write("one.obj", "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                                             "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl a\nf 1/1 2/2 3/3 4/4\n");
    {
        ForeignModel m = read(one);
        ASSERT_EQ(m.mesh.nTriangles, 2);
        EXPECT_EQ(m.mesh.nVertices, 4);
        ASSERT_EQ(m.textureImages.size(), 1u);
        EXPECT_EQ(m.textureImages[0], dir + "/a.png");
        ASSERT_EQ(m.mesh.texCoordVersion, 3);
        // v runs down the image: the corner at vt (0, 0) lies on the bottom row.
        for (int c = 0; c < 6; ++c) {
            const int v = m.mesh.triangles[c];
            EXPECT_FLOAT_EQ(m.mesh.texCoords[2 * c], kXYZ[v][0]);
            EXPECT_FLOAT_EQ(m.mesh.texCoords[2 * c + 1], 1.0f - kXYZ[v][1]);
        }
        GLMeshObject mesh(one.c_str(), m);
        mesh.getTexturing().setMaxTextureSize(64);
        testsupport::CapturedMessages captured;
        EXPECT_TRUE(mesh.getTexturing().readTexture());
        captured.take();
        EXPECT_EQ(mesh.getTexturing().getNTextureChunks(), 1);
    }

    // Two materials: the triangles are grouped by image, one chunk each.
    const std::string two = write("two.obj", "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                                             "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl b\nf 1/1 2/2 3/3\n"
                                             "usemtl a\nf 1/1 3/3 4/4\nusemtl b\nf 1/1 2/2 4/4\n");
    ForeignModel m = read(two);
    ASSERT_EQ(m.mesh.nTriangles, 3);
    ASSERT_EQ(m.textureImages.size(), 2u);
    ASSERT_EQ(m.triangleImage.size(), 3u);
    testsupport::CapturedMessages captured2;
    std::unique_ptr<GL3DObject> o(GL3DObjectLoader::load(two.c_str()));
    captured2.take();
    auto *mesh = dynamic_cast<GLMeshObject *>(o.get());
    ASSERT_NE(mesh, nullptr);
    mesh->getTexturing().setMaxTextureSize(64);
    testsupport::CapturedMessages captured3;
    ASSERT_TRUE(mesh->getTexturing().readTexture());
    captured3.take();
    ASSERT_EQ(mesh->getTexturing().getNTextureChunks(), 2);
    const std::vector<int> &start = mesh->getTexturing().getChunkStart();
    ASSERT_EQ(start.size(), 3u);
    // Chunk sizes follow the images' triangle counts, whichever image comes first.
    const int first = start[1] - start[0], second = start[2] - start[1];
    EXPECT_EQ(first + second, 3);
    EXPECT_TRUE((first == 1 && second == 2) || (first == 2 && second == 1));
}

TEST_F(Foreign, PlyTextureFilesWithFaceAndVertexCoordinates)
{
    writeImage("one.png", 0);
    writeImage("two.png", 90);
    const std::string head = "ply\nformat ascii 1.0\ncomment TextureFile one.png\ncomment TextureFile two.png\n"
                             "element vertex 4\nproperty float x\nproperty float y\nproperty float z\n";
    // Per-face coordinates and the image of each face; the quad is cut into a fan.
    const std::string faces = write("faces.ply", head + "element face 2\nproperty list uchar int vertex_indices\n"
                                                        "property list uchar float texcoord\nproperty int texnumber\n"
                                                        "end_header\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n"
                                                        "4 0 1 2 3 8 0 0 0.5 0 0.5 0.5 0 0.5 1\n"
                                                        "3 0 2 3 6 0 0 1 1 0 1 0\n");
    ForeignModel m = read(faces);
    ASSERT_EQ(m.mesh.nTriangles, 3);
    ASSERT_EQ(m.textureImages.size(), 2u);
    EXPECT_EQ(m.textureImages[1], dir + "/two.png");
    EXPECT_EQ(m.triangleImage, (std::vector<int>{1, 1, 0}));
    // The fan's second triangle has corners 0, 2, 3: v turned downwards.
    const float expected[6] = {0, 1, 0.5f, 0.5f, 0, 0.5f};
    for (int k = 0; k < 6; ++k)
        EXPECT_FLOAT_EQ(m.mesh.texCoords[6 + k], expected[k]);
    const std::vector<int> inFile(m.mesh.triangles.get(), m.mesh.triangles.get() + 9);
    GLMeshObject mesh(faces.c_str(), m);
    mesh.getTexturing().setMaxTextureSize(64);
    testsupport::CapturedMessages captured;
    EXPECT_TRUE(mesh.getTexturing().readTexture());
    captured.take();
    EXPECT_EQ(mesh.getTexturing().getNTextureChunks(), 2);
    EXPECT_EQ(mesh.getTexturing().getChunkStart(), (std::vector<int>{0, 1, 3}));
    // Grouped by image, the faces still know their place in the file.
    EXPECT_EQ(mesh.getFileTriangle(0), 2);
    for (int i = 0; i < 3; ++i) {
        const int *corners = mesh.getArrays().triangles + 3 * i;
        const int *read = &inFile[3 * static_cast<size_t>(mesh.getFileTriangle(i))];
        EXPECT_EQ(std::vector<int>(corners, corners + 3), std::vector<int>(read, read + 3)) << i;
    }

    // Per-vertex coordinates, one image.
    const std::string vertices =
        write("vertices.ply", "ply\nformat ascii 1.0\ncomment TextureFile one.png\nelement vertex 3\n"
                              "property float x\nproperty float y\nproperty float z\nproperty float s\nproperty float t\n"
                              "element face 1\nproperty list uchar int vertex_indices\nend_header\n"
                              "0 0 0 0 0\n1 0 0 1 0\n0 1 0 0 0.25\n3 0 1 2\n");
    m = read(vertices);
    ASSERT_EQ(m.textureImages.size(), 1u);
    EXPECT_TRUE(m.triangleImage.empty());
    const float corners[6] = {0, 1, 1, 1, 0, 0.75f};
    for (int k = 0; k < 6; ++k)
        EXPECT_FLOAT_EQ(m.mesh.texCoords[k], corners[k]);
}

TEST_F(Foreign, MissingTextureImageLeavesTheMeshDrawable)
{
    write("gone.mtl", "newmtl g\nmap_Kd nowhere.png\n");
    const std::string obj = write("gone.obj", "mtllib gone.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n"
                                              "usemtl g\nf 1/1 2/2 3/3\n");
    ForeignModel m = read(obj);
    GLMeshObject mesh(obj.c_str(), m);
    mesh.getTexturing().setMaxTextureSize(64);
    testsupport::CapturedMessages captured;
    mesh.getTexturing().readTexture();
    const std::string out = captured.take();
    EXPECT_EQ(out, "GLMeshObject: texture image " + dir + "/nowhere.png is missing\n");
    EXPECT_EQ(mesh.getArrays().nTriangles, 1);
}

TEST_F(Foreign, StlAndGltfFromTheTestsAndFromAssimpsExporter)
{
    // A tetrahedron as ASCII STL: each facet has corners of its own, which are joined.
    const std::string stl = write("tet.stl", "solid t\n"
                                             "facet normal 0 0 -1\nouter loop\nvertex 0 0 0\nvertex 0 1 0\nvertex 1 0 0\nendloop\nendfacet\n"
                                             "facet normal 0 -1 0\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 0 1\nendloop\nendfacet\n"
                                             "facet normal -1 0 0\nouter loop\nvertex 0 0 0\nvertex 0 0 1\nvertex 0 1 0\nendloop\nendfacet\n"
                                             "facet normal 1 1 1\nouter loop\nvertex 1 0 0\nvertex 0 1 0\nvertex 0 0 1\nendloop\nendfacet\n"
                                             "endsolid t\n");
    const ForeignModel tet = read(stl);
    EXPECT_EQ(tet.mesh.nTriangles, 4);
    EXPECT_EQ(tet.mesh.nVertices, 4);

    // The same through Assimp's exporter as binary STL, glTF and binary glTF.
    Assimp::Importer importer;
    const aiScene *scene = importer.ReadFile(stl, 0);
    ASSERT_NE(scene, nullptr);
    Assimp::Exporter exporter;
    const struct {
        const char *format;
        const char *name;
    } cases[] = {{"stlb", "tet_b.stl"}, {"gltf2", "tet.gltf"}, {"glb2", "tet.glb"}, {"plyb", "tet_b.ply"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/" + c.name;
        ASSERT_EQ(exporter.Export(scene, c.format, path), AI_SUCCESS) << exporter.GetErrorString();
        const ForeignModel m = read(path);
        ASSERT_FALSE(m.isPointCloud);
        EXPECT_EQ(m.mesh.nTriangles, 4);
        EXPECT_EQ(m.mesh.nVertices, 4);
        // Every corner of the tetrahedron is there.
        float sum[3] = {0, 0, 0};
        for (int i = 0; i < m.mesh.nVertices; ++i)
            for (int k = 0; k < 3; ++k)
                sum[k] += m.mesh.vertices[3 * i + k];
        EXPECT_FLOAT_EQ(sum[0], 1.0f);
        EXPECT_FLOAT_EQ(sum[1], 1.0f);
        EXPECT_FLOAT_EQ(sum[2], 1.0f);
    }
}

TEST_F(Foreign, NodesRepeatingAMeshWithoutBoundAreRefused)
{
    // One triangle strip of 20,000 vertices, placed by 40 nodes (kept) or by 200 (refused:
    // a small file must not ask for any amount of memory).
    for (const unsigned nodes : {40u, 200u}) {
        SCOPED_TRACE(nodes);
        aiScene scene;
        scene.mMaterials = new aiMaterial *[1]{new aiMaterial()};
        scene.mNumMaterials = 1;
        aiMesh *mesh = new aiMesh();
        mesh->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
        mesh->mNumVertices = 20000;
        mesh->mVertices = new aiVector3D[20000];
        for (unsigned i = 0; i < 20000; ++i)
            mesh->mVertices[i] = aiVector3D(static_cast<float>(i / 2), static_cast<float>(i % 2), 0);
        mesh->mNumFaces = 19998;
        mesh->mFaces = new aiFace[19998];
        for (unsigned f = 0; f < 19998; ++f) {
            mesh->mFaces[f].mNumIndices = 3;
            mesh->mFaces[f].mIndices = new unsigned[3]{f, f + 1, f + 2};
        }
        scene.mMeshes = new aiMesh *[1]{mesh};
        scene.mNumMeshes = 1;
        scene.mRootNode = new aiNode();
        scene.mRootNode->mChildren = new aiNode *[nodes];
        scene.mRootNode->mNumChildren = nodes;
        for (unsigned n = 0; n < nodes; ++n) {
            aiNode *child = new aiNode();
            child->mParent = scene.mRootNode;
            child->mMeshes = new unsigned[1]{0};
            child->mNumMeshes = 1;
            child->mTransformation = aiMatrix4x4::Translation(aiVector3D(0, 0, static_cast<float>(n)), child->mTransformation);
            scene.mRootNode->mChildren[n] = child;
        }
        const std::string path = dir + "/repeat" + std::to_string(nodes) + ".glb";
        Assimp::Exporter exporter;
        ASSERT_EQ(exporter.Export(&scene, "glb2", path), AI_SUCCESS) << exporter.GetErrorString();
        if (nodes == 40) {
            const ForeignModel m = read(path);
            EXPECT_EQ(m.mesh.nVertices, 40 * 20000);
            // The last node's copy lies where its transformation put it.
            EXPECT_FLOAT_EQ(m.mesh.vertices[3 * (40 * 20000 - 1) + 2], 39.0f);
        } else {
            try {
                read(path);
                ADD_FAILURE() << "accepted";
            } catch (const std::runtime_error &e) {
                EXPECT_STREQ(e.what(), "the scene's nodes repeat its 20000 vertices into 4000000");
            }
        }
    }
}

TEST_F(Foreign, RefusedFilesSayWhy)
{
    const struct {
        const char *name;
        std::string content;
    } cases[] = {
        {"empty.ply", ""},
        {"notply.ply", "hello\n"},
        {"short.ply", "ply\nformat binary_little_endian 1.0\nelement vertex 1000\nproperty float x\n"
                      "property float y\nproperty float z\nelement face 1\nproperty list uchar int vertex_indices\n"
                      "end_header\n\1\2\3"},
        {"badindex.ply", "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                         "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
                         "0 0 0\n1 0 0\n0 1 0\n3 0 1 7\n"},
        {"shortlist.ply", std::string("ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty uchar x\n"
                                      "property uchar y\nproperty uchar z\nelement face 1\n"
                                      "property list uchar uchar vertex_indices\nend_header\n") +
                              std::string("\0\0\0\1\0\0\0\1\0\3\0\1", 12)},
        {"longlist.ply", "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                         "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
                         "0 0 0\n1 0 0\n0 1 0\n200 0 1\n"},
        {"garbage.stl", "solid\nfacet what\n"},
        {"nothing.obj", "# no vertices\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write(c.name, c.content);
        EXPECT_THROW(read(path), std::runtime_error);
        // The loader reports the refusal and registers nothing.
        testsupport::CapturedMessages captured;
        EXPECT_EQ(GL3DObjectLoader::load(path.c_str()), nullptr);
        const std::string out = captured.take();
        EXPECT_NE(out.find("GL3DObjectLoader:unable to load " + path), std::string::npos) << out;
    }
}

TEST(PlyHeader, ParsesAndRefusesHeaders)
{
    const std::string good = "ply\r\nformat binary_big_endian 1.0\ncomment TextureFile  tex ture.png\n"
                             "element vertex 2\nproperty float32 x\nproperty list uint8 int32 idx\n"
                             "element face 0\nend_header\nBODY";
    const PlyHeader h = PlyHeader::parse(good.data(), good.size());
    EXPECT_EQ(h.format, PlyHeader::BINARY_BIG_ENDIAN);
    ASSERT_EQ(h.elements.size(), 2u);
    EXPECT_EQ(h.elements[0].count, 2);
    ASSERT_EQ(h.elements[0].properties.size(), 2u);
    EXPECT_TRUE(h.elements[0].properties[1].isList);
    EXPECT_EQ(h.elements[0].properties[1].type, PlyHeader::INT32);
    ASSERT_EQ(h.textureFiles().size(), 1u);
    EXPECT_EQ(h.textureFiles()[0], "tex ture.png");
    EXPECT_EQ(good.substr(h.bodyOffset), "BODY");

    // Free text of other programs between the lines: skipped, with one note for all.
    const std::string chatty = "ply\nformat ascii 1.0\nCreated by Modeller 2.1\nelement vertex 1\n"
                               "Exported 2026-12-08\nproperty float x\nend_header\n";
    testsupport::CapturedMessages captured;
    const PlyHeader skipping = PlyHeader::parse(chatty.data(), chatty.size());
    EXPECT_EQ(captured.take(),
              "PLY: skipped 2 header lines the format does not know, the first \"Created by Modeller 2.1\"\n");
    ASSERT_EQ(skipping.elements.size(), 1u);
    EXPECT_EQ(skipping.elements[0].properties.size(), 1u);

    const struct {
        const char *text;
        const char *message;
    } bad[] = {
        {"", "PLY: the header has no end_header line"},
        {"plyx\n", "PLY: no \"ply\" signature"},
        {"ply\nelement vertex 1\nend_header\n", "PLY: the header has no format line"},
        {"ply\nformat binary_middle_endian 1.0\nend_header\n", "PLY: unknown format \"binary_middle_endian\""},
        {"ply\nformat ascii 1.0\nelement vertex -4\nend_header\n", "PLY: element \"vertex\" has a bad count \"-4\""},
        {"ply\nformat ascii 1.0\nelement vertex 99999999999999999999\n",
         "PLY: element \"vertex\" has a bad count \"99999999999999999999\""},
        {"ply\nformat ascii 1.0\nproperty float x\n", "PLY: property before any element on line 3"},
        {"ply\nformat ascii 1.0\nelement v 1\nproperty quad x\n", "PLY: unknown type \"quad\" on line 4"},
        {"ply\nformat ascii 1.0\nelement v 1\nproperty list float int i\n",
         "PLY: a list length must be an integer type (line 4)"},
        {"ply\nformat ascii 1.0\nelement v 1\nproperty float\n", "PLY: property without a name on line 4"},
        // An unknown line is skipped; a header that never ends is still refused.
        {"ply\nformat ascii 1.0\nbogus\n", "PLY: the header has no end_header line"},
    };
    for (const auto &c : bad) {
        try {
            PlyHeader::parse(c.text, std::strlen(c.text));
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(PlyReader, BodiesAreCheckedAgainstTheHeader)
{
    const std::string xyzq = "property float x\nproperty float y\nproperty float z\nproperty float q\n";
    const struct {
        std::string text;
        const char *message;   // null: read, with these values of "q"
        std::vector<float> values;
    } cases[] = {
        // Elements before the vertices are stepped over, lists included; a "+" sign is read.
        {"ply\nformat ascii 1.0\nelement extra 2\nproperty list uchar int l\nproperty float w\n"
         "element vertex 2\n" + xyzq + "end_header\n2 7 8 0.5\n0 9\n0 0 0 -2\n1 1 1 +4e0\n",
         nullptr,
         {-2, 4}},
        {"ply\nformat binary_little_endian 1.0\nelement vertex 1000000\n" + xyzq + "end_header\nabcdefgh",
         "PLY: the file is too short for 1000000 vertices",
         {}},
        {"ply\nformat ascii 1.0\nelement vertex 3\n" + xyzq + "end_header\n1.5 2.5 3.5 4.5\n5.5 6.5 7.5 8.5\n1 2\n",
         "PLY: the file ends before the values its header announces",
         {}},
        {"ply\nformat ascii 1.0\nelement vertex 1\n" + xyzq + "end_header\n1 2 3 zwei\n",
         "PLY: \"zwei\" is no number",
         {}},
        // Colours of every kind: bytes as they are, floats scaled and clamped, NaN black.
        {"ply\nformat ascii 1.0\nelement vertex 3\n" + xyzq +
             "property float red\nproperty double green\nproperty int blue\nend_header\n"
             "0 0 0 1 0.5 nan 300\n0 0 0 2 -1 2 -5\n0 0 0 3 inf 0.0039 7\n",
         nullptr,
         {1, 2, 3}},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\nend_header\n1 2\n",
         "PLY: the vertices have no x, y and z",
         {}},
        {"ply\nformat binary_little_endian 1.0\nelement f 1\nproperty list uint int i\nelement vertex 1\n" + xyzq +
             "end_header\n\xff\xff\xff\x7f",
         "PLY: the file ends inside a list",
         {}},
        {"ply\nformat ascii 1.0\nelement f 1\nproperty list char int i\nelement vertex 1\n" + xyzq +
             "end_header\n-1\n5\n",
         "PLY: bad list length in element \"f\"",
         {}},
        {"ply\nformat ascii 1.0\nelement vertex 3\n" + xyzq +
             "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0 0 1\n1 0 0 2\n0 1 0 3\n3 0 1 3\n",
         "PLY: face 0 names vertex 3.000000 of 3",
         {}},
        {"ply\nformat ascii 1.0\nelement vertex 3\n" + xyzq +
             "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0 0 1\n1 0 0 2\n0 1 0 3\n200 0 1\n",
         "PLY: the file ends before the values its header announces",
         {}},
        {"ply\nformat ascii 1.0\nelement face 1\nproperty list uchar int vertex_indices\nelement vertex 3\n" + xyzq +
             "end_header\n3 0 1 2\n0 0 0 1\n1 0 0 2\n0 1 0 3\n",
         "PLY: the faces come before the vertices",
         {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        try {
            const ForeignModel m = PlyReader::read(c.text.data(), c.text.size(), "");
            ASSERT_EQ(c.message, nullptr);
            ASSERT_TRUE(m.isPointCloud);
            ASSERT_EQ(m.points.nPoints, static_cast<int>(c.values.size()));
            if (m.points.colors) {
                const unsigned char rgb[9] = {128, 0, 255, 0, 255, 0, 255, 1, 7};
                EXPECT_EQ(std::memcmp(m.points.colors.get(), rgb, 9), 0);
                continue;
            }
            EXPECT_EQ(m.valueName, "q");
            for (size_t i = 0; i < c.values.size(); ++i)
                EXPECT_FLOAT_EQ(m.points.values[i], c.values[i]);
        } catch (const std::runtime_error &e) {
            ASSERT_NE(c.message, nullptr) << e.what();
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

} // namespace
