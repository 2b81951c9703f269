#include "objects/GLMeshObject.h"

#include "formats/ColorMap.h"
#include "math/Messages.h"
#include "support/ImageCompare.h"
#include "support/MeshBytes.h"
#include "support/CapturedMessages.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <thread>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testsupport::kTetra;
using testsupport::kTetraTriangles;
using testsupport::MeshBytes;
using testsupport::tetraWithBlocks;

// A tetrahedron with outward-facing triangles.

const char *kLittle = "GLMeshObject: Detected LITTLE ENDIAN model v1 in a LITTLE ENDIAN machine\n";

class MeshFiles : public ::testing::Test {
protected:
    void SetUp() override { dir = testsupport::makeTempDir("GLMeshObject"); }

    std::string put(const std::string &name, const std::string &content)
    {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    // Loads a file as the loader does; `out` receives what was printed, `error` the raised text.
    std::unique_ptr<GLMeshObject> open(const std::string &path, const char *kind, std::string *out = nullptr,
                                       std::string *error = nullptr)
    {
        testsupport::CapturedMessages captured;
        std::unique_ptr<GLMeshObject> mesh;
        try {
            mesh.reset(new GLMeshObject(path.c_str(), kind));
        } catch (const std::exception &e) {
            if (error)
                *error = e.what();
        }
        const std::string printed = captured.take();
        if (out)
            *out = printed;
        return mesh;
    }

    std::string dir;
};

std::vector<float> verticesOf(const GLMeshObject &m)
{
    return std::vector<float>(m.getVertices(), m.getVertices() + 3 * m.getNVertices());
}

std::vector<int> trianglesOf(const GLMeshObject &m)
{
    return std::vector<int>(m.getArrays().triangles, m.getArrays().triangles + 3 * m.getArrays().nTriangles);
}

TEST_F(MeshFiles, DataItemsGiveColoursAndLegend)
{
    std::unique_ptr<GLMeshObject> m = open(put("data.tri", tetraWithBlocks(false, 0x454C).data), nullptr);
    ASSERT_TRUE(m);
    ASSERT_NE(m->getArrays().colors, nullptr);
    // Item 0 through colour map 0, against the item's own range.
    for (int i = 0; i < 4; ++i) {
        unsigned char expected[3];
        ColorMap::colorMap(expected, m->getDataItem(0).getData()[i], 0, 6);
        EXPECT_EQ(0, std::memcmp(m->getArrays().colors + 3 * i, expected, 3)) << i;
    }
    EXPECT_STREQ(const_cast<GLMeshObject &>(*m).getLegend().getTitle(), "height");
    // Its values are the whole numbers 0 and 6: categories, one label each rather than a ramp.
    EXPECT_EQ(m->getLegend().getNumberOfLabels(), 2);
    EXPECT_STREQ(m->getLegend().getLabel(1), "6");

    // A negative version byte keeps the data but maps no colours.
    MeshBytes b;
    b.mesh(kTetra, kTetraTriangles, -3).raw("DAT0").i32(1).dataItem("h", {1, 2, 3, 4}, 1, 4);
    m = open(put("negative.tri", b.data), nullptr);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->getNDataItems(), 1);
    EXPECT_EQ(m->getLegend().getTitle(), nullptr);
    EXPECT_EQ(m->getArrays().colors[0], 0);
}

// A refused file fails the construction as a whole, with the reader's message and error.
TEST_F(MeshFiles, RefusedFilesFailTheConstruction)
{
    const std::vector<float> v3 = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    struct Case {
        const char *name;
        const char *kind;
        std::string content;
        std::string printed;
        std::string error;
    } cases[] = {
        {"gzip", nullptr, "\x1f\x8b\x08\x00rest", "GLMeshObject: gziped version found\n", "unknown signature"},
        {"index beyond the vertices", "tri", MeshBytes().mesh(v3, {0, 1, 2, 2, 1, 3}).data,
         std::string(kLittle) + "GLMeshObject: triangle 1 uses vertex 3, outside 0..2\n",
         "triangle 1 uses vertex 3, outside 0..2"},
        {"simplicial OFF", "off", "OFFS\n3 1 0\n", "", "not an OFF file\n"},
        {"OFF of four dimensions", "off", "4OFF\n3 1 0\n", "GLMeshObject: 4OFF file: vertex dimension 4 is not supported\n",
         "4OFF file: vertex dimension 4 is not supported"},
    };
    for (const Case &c : cases) {
        std::string out, error;
        std::unique_ptr<GLMeshObject> m = open(put("refused", c.content), c.kind, &out, &error);
        EXPECT_FALSE(m) << c.name;
        EXPECT_EQ(out, c.printed) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
    }
}

// OFF colours are the mesh's vertex colours and open drawn lit; OFF normals replace the computed ones.
TEST_F(MeshFiles, OffColoursAndNormalsAreTheMeshs)
{
    std::unique_ptr<GLMeshObject> m =
        open(put("c.off", "CNOFF\n3 1 0\n0 0 0 0 1 0 255 0 0 255\n1 0 0 0 1 0 0 255 0 255\n0 1 0 0 3 0 0 0 255 255\n"
                          "3 0 1 2\n"),
             "off");
    ASSERT_TRUE(m);
    ASSERT_NE(m->getArrays().colors, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(m->getArrays().colors, m->getArrays().colors + 9),
              (std::vector<unsigned char>{255, 0, 0, 0, 255, 0, 0, 0, 255}));
    EXPECT_EQ(m->getDrawMethod(), static_cast<GL3DObject::DrawMethod>(&GLMeshObject::drawWith<&GLMeshDrawing::drawFileColours>));
    // The file's normals point along y; computed ones would point along z.
    EXPECT_EQ(m->getArrays().normals[2], Point3(0, 1, 0));
    // Without data, the data drawing shows them too: they are not data waiting for an item.
    m->setDrawTriangles();
    m->setDrawData();
    EXPECT_EQ(m->getDrawMethod(), static_cast<GL3DObject::DrawMethod>(&GLMeshObject::drawWith<&GLMeshDrawing::drawFileColours>));

    // Reload reads both again.
    put("c.off", "COFF\n3 1 0\n0 0 0 9 9 9\n1 0 0 9 9 9\n0 1 0 9 9 9\n3 0 1 2\n");
    testsupport::CapturedMessages captured;
    m->reload();
    captured.take();
    EXPECT_EQ(m->getArrays().colors[0], 9);
    EXPECT_EQ(m->getArrays().normals[2], Point3(0, 0, 1));
}

TEST_F(MeshFiles, BoxNormalsAndClippingPlanes)
{
    MeshBytes b;
    // A unit square in z = 0 split in two counter-clockwise triangles, a steep triangle
    // sharing vertex 1, and a vertex 5 that no triangle uses.
    const std::vector<float> v = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 0, 10, -4, 7, 2};
    std::unique_ptr<GLMeshObject> m = open(put("box.tri", b.mesh(v, {0, 1, 2, 0, 2, 3, 1, 2, 4}).data), nullptr);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->getBBMin(), Point3(-4, 0, 0));
    EXPECT_EQ(m->getBBMax(), Point3(1, 7, 10));
    EXPECT_EQ(m->getCenter(), Point3(-1.5f, 3.5f, 5));
    EXPECT_FLOAT_EQ(m->getDisplay().normalLength, std::sqrt(25.0f + 49 + 100) / 2 / 100);
    double plane[4];
    m->getClippingPlane(plane, 1);
    EXPECT_EQ(plane[1], 1);
    EXPECT_EQ(plane[3], -3.5);
    m->getClippingPlane(plane, 5);
    EXPECT_EQ(plane[2], -1);
    EXPECT_EQ(plane[3], 5);

    const Point3 *n = m->getArrays().normals;
    EXPECT_EQ(n[0], Point3(0, 0, 1));
    EXPECT_EQ(n[3], Point3(0, 0, 1));
    EXPECT_NEAR(n[4].x, 1, 1e-6);
    // Vertex 1: the large steep triangle (area 5, normal +x) outweighs the flat one
    // (area 0.5, normal +z) ten to one.
    const Point3 expected = Point3(10, 0, 1).normalized();
    EXPECT_NEAR(n[1].x, expected.x, 1e-6);
    EXPECT_NEAR(n[1].z, expected.z, 1e-6);
    EXPECT_NEAR(n[2].norm(), 1, 1e-6);
    EXPECT_EQ(n[5], Point3(0, 0, 0));
}

TEST_F(MeshFiles, ReloadReadsTheFileAgainWithItsOwnReader)
{
    const std::string tri = put("r.tri", MeshBytes().mesh(kTetra, kTetraTriangles).data);
    std::unique_ptr<GLMeshObject> m = open(tri, nullptr);
    ASSERT_TRUE(m);
    put("r.tri", MeshBytes().mesh(kTetra, {0, 1, 3}).raw("DAT0").i32(1).dataItem("h", {1, 2, 3, 4}, 1, 4).data);
    testsupport::CapturedMessages captured;
    m->reload();
    EXPECT_EQ(captured.take(),
              std::string(kLittle) + "GLMeshObject: 1 triangles, 4 vertices\n1 triangles, 4 vertex\n");
    EXPECT_EQ(trianglesOf(*m), (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(m->getNDataItems(), 1);
    EXPECT_NE(m->getArrays().normals, nullptr);

    const std::string off = put("r.off", "OFF 3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    m = open(off, "off");
    ASSERT_TRUE(m);
    put("r.off", "OFF 4 2 0\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n3 0 1 2\n3 1 3 2\n");
    testsupport::CapturedMessages captured2;
    m->reload();
    EXPECT_EQ(captured2.take(), "2 triangles, 4 vertices\n2 triangles, 4 vertex\n");
    EXPECT_EQ(m->getArrays().nTriangles, 2);
    EXPECT_EQ(m->getBBMax(), Point3(1, 1, 0));

    // A file that can no longer be read leaves the mesh empty.
    std::remove(off.c_str());
    {
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        m->reload();
        EXPECT_EQ(sink.text(), "GLMeshObject: unable to reload " + off + "\n");
        EXPECT_EQ(sink.text(MessageLevel::Error), sink.text());
    }
    EXPECT_EQ(m->getNVertices(), 0);
    EXPECT_EQ(m->getArrays().nTriangles, 0);
    EXPECT_EQ(m->getArrays().triangles, nullptr);
}

TEST(MeshHandOver, CopiesTheRecordAndRefusesInconsistentOnes)
{
    std::vector<float> v = kTetra;
    std::vector<int> t = kTetraTriangles;
    DataItem height("height", std::vector<float>{0, 0, 0, 6}.data(), 4);
    DataItem ramp("ramp", std::vector<float>{4, 3, 2, 1, 0}.data(), 5);
    const DataItem *items[] = {&height, &ramp};
    GLMeshObject::MeshRecord record = {4, 4, v.data(), t.data(), 2, items};
    GLMeshObject m(&record);
    v[0] = 99;
    t[0] = 3;
    height.getData()[3] = -1;
    EXPECT_EQ(verticesOf(m), kTetra);
    EXPECT_EQ(trianglesOf(m), kTetraTriangles);
    ASSERT_EQ(m.getNDataItems(), 2);
    EXPECT_EQ(m.getDataItem(0).getData()[3], 6);
    ASSERT_NE(m.getArrays().colors, nullptr);
    unsigned char top[3];
    ColorMap::colorMap(top, 6, 0, 6);
    EXPECT_EQ(0, std::memcmp(m.getArrays().colors + 9, top, 3));
    EXPECT_EQ(m.getPath(), "");

    struct Bad {
        const char *name;
        GLMeshObject::MeshRecord record;
        const char *error;
    };
    const int outside[] = {0, 1, 4};
    const DataItem *shortItems[] = {&height, nullptr};
    const Bad bad[] = {
        {"negative vertices", {-1, 0, nullptr, nullptr, 0, nullptr}, "negative count in the handed-over mesh"},
        {"missing array", {4, 1, kTetra.data(), nullptr, 0, nullptr}, "handed-over mesh without its arrays"},
        {"index outside", {4, 1, kTetra.data(), outside, 0, nullptr}, "triangle 0 uses vertex 4, outside 0..3"},
        {"null data item", {4, 0, kTetra.data(), nullptr, 2, shortItems},
         "handed-over data item 1 has fewer values than the 4 vertices"},
    };
    for (const Bad &c : bad) {
        testsupport::CapturedMessages captured;
        try {
            GLMeshObject refused(&c.record);
            ADD_FAILURE() << c.name;
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), c.error) << c.name;
        }
        EXPECT_EQ(captured.take(), std::string("GLMeshObject: ") + c.error + "\n");
    }

    // update() replaces the geometry and keeps the mesh when the new record is refused.
    const std::vector<float> square = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    const std::vector<int> two = {0, 1, 2, 0, 2, 3};
    GLMeshObject::MeshRecord next = {4, 2, square.data(), two.data(), 0, nullptr};
    m.update(&next);
    EXPECT_EQ(trianglesOf(m), two);
    EXPECT_EQ(m.getNDataItems(), 0);
    EXPECT_EQ(m.getBBMax(), Point3(1, 1, 0));
    EXPECT_EQ(m.getArrays().normals[2], Point3(0, 0, 1));
    testsupport::CapturedMessages captured2;
    EXPECT_THROW(m.update(&bad[2].record), std::runtime_error);
    captured2.take();
    EXPECT_EQ(trianglesOf(m), two);
}

TEST(MeshColours, SetColorsNeedsOneColourAVertex)
{
    const std::vector<int> one = {0, 1, 2};
    GLMeshObject::MeshRecord record = {4, 1, kTetra.data(), one.data(), 0, nullptr};
    GLMeshObject m(&record);
    const unsigned char rgb[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_FALSE(m.setColors(rgb, 3));
    EXPECT_EQ(m.getArrays().colors[0], 0);
    EXPECT_TRUE(m.setColors(rgb, 4));
    EXPECT_EQ(m.getArrays().colors[11], 12);
}

} // namespace

namespace {

// A mesh whose selection the tests set directly, as a click would.
struct SelectableMesh : GLMeshObject {
    using GLMeshObject::GLMeshObject;
    void select(int v)
    {
        selectedVertex = v;
        getPicking().getNbhood();
    }
};

struct TetraWithData {
    std::vector<float> v = kTetra;
    std::vector<int> t = kTetraTriangles;
    DataItem height{"height", std::vector<float>{0, 0, 0, 6}.data(), 4};
    DataItem ramp{"ramp", std::vector<float>{4, 3, 2, 1}.data(), 4};
    const DataItem *items[2] = {&height, &ramp};
    GLMeshObject::MeshRecord record(int nItems) const
    {
        return {4, 4, v.data(), t.data(), nItems, nItems ? items : nullptr};
    }
};

std::vector<unsigned char> coloursOf(const GLMeshObject &m)
{
    return std::vector<unsigned char>(m.getArrays().colors, m.getArrays().colors + 3 * m.getNVertices());
}

} // namespace

TEST(MeshCommands, DrawingMethodsAndToggles)
{
    const TetraWithData tetra;
    GLMeshObject::MeshRecord bare = tetra.record(0);
    GLMeshObject plain(&bare);
    const GL3DObject::DrawMethod triangles = plain.getDrawMethod();

    // Without data items '5' is consumed but leaves the triangles drawn.
    EXPECT_NE(plain.notifyCommand('5'), 0);
    EXPECT_EQ(plain.getDrawMethod(), triangles);

    GLMeshObject::MeshRecord record = tetra.record(2);
    GLMeshObject m(&record);
    EXPECT_EQ(m.getDrawMethod(), triangles);
    EXPECT_NE(m.notifyCommand('5'), 0);
    const GL3DObject::DrawMethod data = m.getDrawMethod();
    EXPECT_NE(data, triangles);
    EXPECT_NE(m.notifyCommand('4'), 0);
    EXPECT_NE(m.getDrawMethod(), data);
    EXPECT_NE(m.getDrawMethod(), triangles);
    EXPECT_NE(m.notifyCommand('3'), 0);
    const GL3DObject::DrawMethod texture = m.getDrawMethod();
    EXPECT_NE(m.notifyCommand('9'), 0);
    EXPECT_NE(m.getDrawMethod(), texture);
    EXPECT_NE(m.notifyCommand('"'), 0);
    EXPECT_EQ(m.getDrawMethod(), texture);
    EXPECT_NE(m.notifyCommand('2'), 0);
    EXPECT_EQ(m.getDrawMethod(), triangles);

    EXPECT_FALSE(m.getDisplay().wireFrame);
    EXPECT_NE(m.notifyCommand('1'), 0);
    EXPECT_TRUE(m.getDisplay().wireFrame);
    EXPECT_NE(m.notifyCommand('1'), 0);
    EXPECT_FALSE(m.getDisplay().wireFrame);
    EXPECT_TRUE(m.toggleDoubleFace());
    EXPECT_FALSE(m.toggleDoubleFace());
    EXPECT_TRUE(m.toggleTriangleSorting());
    EXPECT_FALSE(m.toggleLegendDrawing());
    EXPECT_EQ(m.getDisplay().shadingModel, 0x1D01); // GL_SMOOTH
    m.toggleShadingModel();
    EXPECT_EQ(m.getDisplay().shadingModel, 0x1D00); // GL_FLAT
    m.toggleShadingModel();
    EXPECT_EQ(m.getDisplay().shadingModel, 0x1D01);

    // Texture settings take 0 or 1 only.
    m.setTextureModulation(1);
    EXPECT_EQ(m.getTextureModulation(), 1);
    m.setTextureModulation(2);
    EXPECT_EQ(m.getTextureModulation(), 1);
    m.setTextureInterpolation(0);
    EXPECT_EQ(m.getTextureInterpolation(), 0);
    m.setTextureInterpolation(-1);
    EXPECT_EQ(m.getTextureInterpolation(), 0);

    // Keys that are no command of the mesh are left to others.
    EXPECT_EQ(m.notifyCommand('x'), 0);
    EXPECT_EQ(m.notifyCommand(6005), 0);
}

// The viewer's own meshes keep their faces as they come; "Orient faces consistently" turns
// those that disagree with their neighbours, and says how many.
TEST(MeshCommands, OrientFacesTurnsTheTrianglesThatDisagree)
{
    TetraWithData tetra;
    std::swap(tetra.t[1], tetra.t[2]);
    const GLMeshObject::MeshRecord record = tetra.record(0);
    GLMeshObject m(&record);
    const int *t = m.getArrays().triangles;
    EXPECT_EQ(std::vector<int>(t, t + 3), (std::vector<int>{tetra.t[0], tetra.t[1], tetra.t[2]}));
    testsupport::CapturedMessages captured;
    EXPECT_EQ(m.perform(GLMeshObject::Action::ORIENT_FACES), 1);
    EXPECT_EQ(captured.take(), "GLMeshObject: 1 of 4 triangles turned to agree with their neighbours\n");
    EXPECT_EQ(std::vector<int>(t, t + 12), kTetraTriangles);
}

TEST(MeshCommands, DataItemsAndColourMapsWrapBothWays)
{
    const TetraWithData tetra;
    GLMeshObject::MeshRecord record = tetra.record(2);
    GLMeshObject m(&record);
    const std::vector<unsigned char> height = coloursOf(m);
    EXPECT_EQ(m.getLegend().getNumberOfLabels() > 0, true);

    EXPECT_NE(m.notifyCommand('<'), 0);
    EXPECT_EQ(m.getCurrentDataItem(), 1);
    const std::vector<unsigned char> ramp = coloursOf(m);
    EXPECT_NE(ramp, height);
    EXPECT_NE(m.notifyCommand('>'), 0);
    EXPECT_EQ(m.getCurrentDataItem(), 0);
    EXPECT_EQ(coloursOf(m), height);
    EXPECT_NE(m.notifyCommand('.'), 0);
    EXPECT_NE(m.notifyCommand(','), 0);
    EXPECT_EQ(m.getCurrentDataItem(), 0);

    // From the first colour map, "previous" is the last one, and "next" comes back.
    EXPECT_NE(m.notifyCommand(6007), 0);
    EXPECT_EQ(m.getColorMap(), ColorMap::nColorMaps - 1);
    EXPECT_NE(coloursOf(m), height);
    EXPECT_NE(m.notifyCommand(6006), 0);
    EXPECT_EQ(m.getColorMap(), 0);
    EXPECT_EQ(coloursOf(m), height);
    m.setColorMap(-1);
    EXPECT_EQ(m.getColorMap(), ColorMap::nColorMaps - 1);

    // A mesh without data items keeps its index.
    GLMeshObject::MeshRecord bare = tetra.record(0);
    GLMeshObject plain(&bare);
    plain.notifyCommand('<');
    EXPECT_EQ(plain.getCurrentDataItem(), 0);
}

TEST(MeshKeys, ClippingPlaneKeysAndOrdinaryKeys)
{
    const TetraWithData tetra;
    GLMeshObject::MeshRecord record = tetra.record(0);
    GLMeshObject m(&record);
    double plane[4];

    EXPECT_NE(m.applyClippingSwitch(0, true), 0);
    EXPECT_EQ(m.getClippingPlane(plane, 0), 1);
    for (int i = 1; i < 6; ++i)
        EXPECT_EQ(m.getClippingPlane(plane, i), 0) << i;

    float given[4] = {0, 3, 4, 2};
    EXPECT_NE(m.applyClippingPlane(0, given), 0);
    m.getClippingPlane(plane, 0);
    EXPECT_DOUBLE_EQ(plane[0], 0);
    EXPECT_NEAR(plane[1], 0.6, 1e-6);
    EXPECT_NEAR(plane[2], 0.8, 1e-6);
    EXPECT_DOUBLE_EQ(plane[3], 2);
    m.getClippingPlane(plane, 1);
    EXPECT_DOUBLE_EQ(plane[1], 1); // plane 1 still the one through the centre

    EXPECT_NE(m.applyClippingPlane(5, given), 0);
    m.getClippingPlane(plane, 5);
    EXPECT_NEAR(plane[2], 0.8, 1e-6);
    EXPECT_NE(m.applyClippingSwitch(5, true), 0);
    EXPECT_EQ(m.getClippingPlane(plane, 5), 1);
    EXPECT_NE(m.applyClippingSwitch(0, false), 0);
    EXPECT_EQ(m.getClippingPlane(plane, 0), 0);

    // A plane without a normal, or without values, is refused and changes nothing.
    float degenerate[4] = {0, 0, 0, 1};
    EXPECT_EQ(m.applyClippingPlane(1, degenerate), 0);
    EXPECT_EQ(m.applyClippingPlane(1, nullptr), 0);
    m.getClippingPlane(plane, 1);
    EXPECT_DOUBLE_EQ(plane[1], 1);

    // Beyond the six planes nothing is taken; other keys are commands: '1' toggles the wire frame.
    EXPECT_EQ(m.applyClippingSwitch(6, false), 0);
    EXPECT_NE(m.notifyKey('1'), 0);
    EXPECT_TRUE(m.getDisplay().wireFrame);
}

TEST(MeshReports, PoseInformationAndSelectedVertex)
{
    const TetraWithData tetra;
    GLMeshObject::MeshRecord record = tetra.record(2);
    SelectableMesh m(&record);

    EXPECT_EQ(m.getInformation(), "4 triangles\n4 vertices\nbounding box:\n[0.0,0.0,0.0]\n[2.0,4.0,6.0]\n\n");

    // A quarter turn about z after a shift along x: the viewer sits at -(R^T t).
    Matrix4 pose = Matrix4::Identity;
    pose(0, 0) = 0;
    pose(0, 1) = -1;
    pose(1, 0) = 1;
    pose(1, 1) = 0;
    pose(0, 3) = 1;
    m.setPose(pose);
    testsupport::CapturedMessages captured;
    m.notifyCommand('+');
    const std::string printed = captured.take();
    EXPECT_EQ(printed.rfind("Object pose:\n", 0), 0u) << printed;
    EXPECT_NE(printed.find("Direct transformation:[1.000000,0.000000,0.000000]\n"), std::string::npos) << printed;
    // (the sign of the zeros is whatever the arithmetic gives)
    const size_t inverse = printed.find("Inverse transformation:[");
    ASSERT_NE(inverse, std::string::npos) << printed;
    EXPECT_NE(printed.find("0.000000,1.000000,-0.000000]\n", inverse), std::string::npos) << printed;

    // The camera turns about the selected vertex, under the pose.
    EXPECT_NEAR((m.getOrigin() - pose * m.getCenter()).norm(), 0, 1e-6);
    m.select(3);
    EXPECT_NEAR((m.getOrigin() - pose * Point3(0, 0, 6)).norm(), 0, 1e-6);

    testsupport::CapturedMessages captured2;
    m.getPicking().printInfo(3);
    EXPECT_EQ(captured2.take(),
              "Selected vertex n:\t3,\t[0.000000 0.000000 6.000000]\n\tvalence=3\n\theight=6\n\tramp=1\n");
}

TEST(MeshElementSelection, SizedWithTheVerticesAndFacesAndEmptiedByNewGeometry)
{
    const TetraWithData tetra;
    const GLMeshObject::MeshRecord record = tetra.record(0);
    GLMeshObject m(&record);
    EXPECT_EQ(m.getSelection().size(), 4u);
    EXPECT_EQ(m.getSelectedFaces().size(), 4u);
    // Every vertex selected spans every face; three span one.
    m.getSelection().invert();
    m.getCleaning()->selectionChanged();
    EXPECT_EQ(m.getSelectedFaces().count(), 4u);
    m.getSelection().remove(3);
    m.getCleaning()->selectionChanged();
    EXPECT_EQ(m.getSelectedFaces().count(), 1u);
    m.update(&record);
    EXPECT_EQ(m.getSelection().size(), 4u);
    EXPECT_TRUE(m.getSelection().empty());
    EXPECT_TRUE(m.getSelectedFaces().empty());
    m.freeData();
    EXPECT_EQ(m.getSelectedFaces().size(), 0u);
}

TEST(MeshOneRing, ClosedRingsInOrderAndWholeFansOnTheBorder)
{
    const TetraWithData tetra;
    GLMeshObject::MeshRecord record = tetra.record(0);
    SelectableMesh m(&record);
    m.select(0);
    ASSERT_EQ(m.getPicking().getNNeighbours(), 3);
    const int *ring = m.getPicking().getNeighbours();
    EXPECT_EQ(std::vector<int>(ring, ring + 3), (std::vector<int>{2, 1, 3}));

    // A border vertex whose first triangle is the middle one of its fan still gets every
    // neighbour, from one border edge to the other.
    const std::vector<float> v = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, -1, 1, 0};
    const std::vector<int> t = {0, 2, 3, 0, 1, 2, 0, 3, 4};
    GLMeshObject::MeshRecord fan = {5, 3, v.data(), t.data(), 0, nullptr};
    SelectableMesh open(&fan);
    open.select(0);
    ASSERT_EQ(open.getPicking().getNNeighbours(), 4);
    const int *border = open.getPicking().getNeighbours();
    EXPECT_EQ(std::vector<int>(border, border + 4), (std::vector<int>{1, 2, 3, 4}));

    // A vertex of no triangle has no ring; no selection, none either.
    open.select(-1);
    EXPECT_EQ(open.getPicking().getNNeighbours(), 0);
}

TEST(MeshSorting, TrianglesAreOrderedFarthestFirst)
{
    // Three triangles facing the viewer at eye depths -1, -5 and -3.
    const std::vector<float> v = {0, 0, -1, 1, 0, -1, 0, 1, -1, 0, 0, -5, 1, 0, -5, 0, 1, -5,
                                  0, 0, -3, 1, 0, -3, 0, 1, -3};
    const std::vector<int> t = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    GLMeshObject::MeshRecord record = {9, 3, v.data(), t.data(), 0, nullptr};
    GLMeshObject m(&record);
    EXPECT_EQ(m.getDrawing().getSortedTriangles(), nullptr);

    // A perspective projection with near 0.5 and far 10.
    const float n = 0.5f, f = 10;
    Matrix4 projection = Matrix4::Identity;
    projection(2, 2) = -(f + n) / (f - n);
    projection(2, 3) = -2 * f * n / (f - n);
    projection(3, 2) = -1;
    projection(3, 3) = 0;
    m.getDrawing().sortTrianglesByDepth(projection);
    ASSERT_NE(m.getDrawing().getSortedTriangles(), nullptr);
    EXPECT_EQ(std::vector<int>(m.getDrawing().getSortedTriangles(), m.getDrawing().getSortedTriangles() + 9),
              (std::vector<int>{3, 4, 5, 6, 7, 8, 0, 1, 2}));

    // Moved behind the viewer's back, the nearest triangle comes first and the order turns.
    Matrix4 turned = Matrix4::Identity;
    turned(2, 2) = -1;
    turned(2, 3) = -6;
    m.getDrawing().sortTrianglesByDepth(projection * turned);
    EXPECT_EQ(std::vector<int>(m.getDrawing().getSortedTriangles(), m.getDrawing().getSortedTriangles() + 9),
              (std::vector<int>{0, 1, 2, 6, 7, 8, 3, 4, 5}));
}
