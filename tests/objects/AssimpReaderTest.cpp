#include "formats/AssimpReader.h"

#include "image/Bitmap.h"
#include "objects/GL3DObjectLoader.h"
#include "objects/GLMeshObject.h"
#include "objects/GLPointListObject.h"
#include "support/ImageCompare.h"
#include "support/CapturedMessages.h"
#include "support/PlySquare.h"

#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace testsupport::plysquare;

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

TEST_F(Foreign, MissingMaterialFileIsNamedInAWarning)
{
    write("here.mtl", "newmtl h\nKd 1 0 0\n");
    const std::string faces = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    const struct {
        const char *library, *missing; ///< the mtllib line's names; the one to be named, or none
    } cases[] = {
        {"here.mtl", nullptr},
        {"absent.mtl", "absent.mtl"},
        {"here.mtl absent.mtl", "absent.mtl"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.library);
        const std::string obj = write("m.obj", std::string("mtllib ") + c.library + "\r\n" + faces);
        std::string out;
        EXPECT_EQ(read(obj, &out).mesh.nTriangles, 1);
        const std::string warning = c.missing ? "GLMeshObject: " + obj + ": the material file " + c.missing +
                                                    " is missing: the model is drawn without its materials\n"
                                              : "";
        std::string aboutMaterials;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            if (line.find("material file") != std::string::npos)
                aboutMaterials += line + "\n";
        EXPECT_EQ(aboutMaterials, warning);
    }
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

} // namespace
