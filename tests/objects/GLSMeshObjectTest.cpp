// The simplex mesh without drawing: its readers, the dual surface found by walking the
// three-neighbour structure, and the refusals of structures that are no simplex mesh.
#include "objects/GLSMeshObject.h"

#include "objects/GL3DObjectLoader.h"
#include "formats/SimplexMeshReader.h"
#include "support/ImageCompare.h"
#include "support/MeshBytes.h"
#include "support/CapturedMessages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testsupport::MeshBytes;

// A simplex mesh dual to a closed triangle mesh: a vertex at the centre of every triangle,
// joined to the triangles across its edges (a, b), (b, c), (c, a).
struct Simplex {
    std::vector<float> v;
    std::vector<int> n;
};

Simplex dualOf(const std::vector<float> &p, const std::vector<int> &t)
{
    std::map<std::pair<int, int>, std::vector<int>> byEdge;
    const int nt = static_cast<int>(t.size() / 3);
    for (int i = 0; i < nt; ++i)
        for (int k = 0; k < 3; ++k) {
            const int a = t[3 * i + k], b = t[3 * i + (k + 1) % 3];
            byEdge[{std::min(a, b), std::max(a, b)}].push_back(i);
        }
    Simplex s;
    for (int i = 0; i < nt; ++i) {
        for (int d = 0; d < 3; ++d)
            s.v.push_back((p[3 * t[3 * i] + d] + p[3 * t[3 * i + 1] + d] + p[3 * t[3 * i + 2] + d]) / 3);
        for (int k = 0; k < 3; ++k) {
            const int a = t[3 * i + k], b = t[3 * i + (k + 1) % 3];
            const std::vector<int> &pair = byEdge[{std::min(a, b), std::max(a, b)}];
            s.n.push_back(pair[0] == i ? pair[1] : pair[0]);
        }
    }
    return s;
}

// The icosahedron, its faces counter-clockwise seen from outside: its dual is the
// dodecahedron, 20 vertices of three neighbours and 12 pentagonal faces.
Simplex dodecahedron()
{
    const float g = (1 + std::sqrt(5.0f)) / 2;
    std::vector<float> p;
    for (int s1 : {-1, 1})
        for (int s2 : {-1, 1}) {
            p.insert(p.end(), {0, float(s1), s2 * g});
            p.insert(p.end(), {float(s1), s2 * g, 0});
            p.insert(p.end(), {s1 * g, 0, float(s2)});
        }
    std::vector<int> t;
    auto d2 = [&](int a, int b) {
        float s = 0;
        for (int k = 0; k < 3; ++k)
            s += (p[3 * a + k] - p[3 * b + k]) * (p[3 * a + k] - p[3 * b + k]);
        return s;
    };
    for (int a = 0; a < 12; ++a)
        for (int b = a + 1; b < 12; ++b)
            for (int c = b + 1; c < 12; ++c)
                if (std::fabs(d2(a, b) - 4) < 1e-3f && std::fabs(d2(b, c) - 4) < 1e-3f && std::fabs(d2(a, c) - 4) < 1e-3f) {
                    const Point3 A(&p[3 * a]), B(&p[3 * b]), C(&p[3 * c]);
                    if ((B - A).cross(C - A) * A > 0)
                        t.insert(t.end(), {a, b, c});
                    else
                        t.insert(t.end(), {a, c, b});
                }
    return dualOf(p, t);
}

class SimplexMesh : public ::testing::Test {
protected:
    void SetUp() override { dir = testsupport::makeTempDir("GLSMeshObject"); }

    std::string write(const std::string &name, const std::string &bytes)
    {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // The construction's refusal text, "" when it was accepted.
    std::string refusal(const std::string &path, const char *kind = nullptr)
    {
        testsupport::CapturedMessages captured;
        std::string text;
        try {
            GLSMeshObject m(path.c_str(), kind);
        } catch (const std::runtime_error &e) {
            text = e.what();
        }
        printed = captured.take();
        return text;
    }

    std::string dir, printed;
};

TEST_F(SimplexMesh, TheDodecahedronsDualIsAnOutwardIcosahedron)
{
    const Simplex s = dodecahedron();
    ASSERT_EQ(s.v.size(), 60u);
    const std::string path = write("d.tri", MeshBytes().mesh(s.v, s.n, 2, 1).data);
    testsupport::CapturedMessages captured;
    GLSMeshObject m(path.c_str(), nullptr);
    EXPECT_EQ(captured.take(),
              "Detected LITTLE ENDIAN model v2 in a LITTLE ENDIAN machine\n20 triangles, 20 vertex\n");
    EXPECT_EQ(m.getType(), GLObject::MESH);
    ASSERT_EQ(m.getNDualVertices(), 12);
    ASSERT_EQ(m.getNDualTriangles(), 20);
    // The face centres are the icosahedron's corners (scaled): all at one distance from the
    // centre, and every dual triangle and normal faces outwards.
    const Point3 *dv = m.getDualVertices();
    const float r = dv[0].norm();
    for (int i = 0; i < 12; ++i) {
        EXPECT_NEAR(dv[i].norm(), r, 1e-4f);
        EXPECT_GT(m.getDualNormals()[i] * dv[i], 0.99f * r);
    }
    const int *f = m.getCornerFace();
    for (int t = 0; t < 20; ++t) {
        const Point3 a = dv[f[3 * t]], b = dv[f[3 * t + 1]], c = dv[f[3 * t + 2]];
        EXPECT_GT((b - a).cross(c - a) * a, 0) << t;
    }

    // The same mesh as OFFS text gives the same surface.
    std::string text = "OFFS\n20 20 0\n";
    for (int i = 0; i < 20; ++i)
        text += std::to_string(s.v[3 * i]) + " " + std::to_string(s.v[3 * i + 1]) + " " + std::to_string(s.v[3 * i + 2]) + "\n";
    for (int i = 0; i < 20; ++i)
        text += "3 " + std::to_string(s.n[3 * i]) + " " + std::to_string(s.n[3 * i + 1]) + " " +
                std::to_string(s.n[3 * i + 2]) + "\n";
    const std::string off = write("d.off", text);
    testsupport::CapturedMessages captured2;
    GLSMeshObject t(off.c_str(), "off");
    captured2.take();
    EXPECT_EQ(t.getNDualVertices(), 12);
    EXPECT_EQ(t.getMeshType(), 1);
}

TEST_F(SimplexMesh, StructuresThatAreNoSimplexMeshAreRefusedInsteadOfWalked)
{
    const Simplex s = dodecahedron();
    // A neighbour that does not name the vertex back: vertex 0's first neighbour replaced by
    // a vertex that is not adjacent to it.
    Simplex oneWay = s;
    int stranger = 1;
    while (stranger == s.n[0] || stranger == s.n[1] || stranger == s.n[2] || s.n[3 * stranger] == 0 ||
           s.n[3 * stranger + 1] == 0 || s.n[3 * stranger + 2] == 0)
        ++stranger;
    oneWay.n[0] = stranger;
    const std::string p1 = write("oneway.tri", MeshBytes().mesh(oneWay.v, oneWay.n, 1, 1).data);
    const std::string why = refusal(p1);
    EXPECT_NE(why.find(p1 + ": vertex "), std::string::npos) << why;
    EXPECT_NE(why.find("which does not name it back"), std::string::npos) << why;

    Simplex twice = s;
    twice.n[1] = twice.n[0];
    const std::string p2 = write("twice.tri", MeshBytes().mesh(twice.v, twice.n, 1, 1).data);
    EXPECT_EQ(refusal(p2), p2 + ": vertex 0 names vertex " + std::to_string(s.n[0]) + " twice");

    const std::vector<float> v = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const struct {
        std::string bytes;
        const char *kind;
        std::string text;
    } cases[] = {
        {"XY", nullptr, "wrong format"},
        {MeshBytes().mesh(v, {1, 2, 0}, 1, 0).data, nullptr, "wrong mesh type"},
        {MeshBytes().mesh(v, {1, 2, 0}, 1, 1).data, nullptr, "@: 1 neighbour triples for 3 vertices, one a vertex expected"},
        {MeshBytes().mesh(v, {1, 2, 5, 0, 2, 3, 0, 1, 2}, 1, 1).data, nullptr, "@: vertex 0 has neighbour 5, outside 0..2"},
        {MeshBytes().mesh(v, {0, 1, 2, 0, 2, 1, 0, 1, 2}, 1, 1).data, nullptr, "@: vertex 0 is its own neighbour"},
        {MeshBytes().u16(0x454C).i32(100000).i32(100000).u8(0).u8(1).u8(1).u8(0).data, nullptr,
         "@: 100000 vertices and 100000 neighbour triples need 2400014 bytes, the file has 14"},
        {"OFF\n3 1 0\n", "off", "not an OFFS file"},
        {"OFFS\n3 3 0\n0 0 0\n1 0 0\n0 1 0\n3 1 2\n", "off", "@: 3 vertices and 3 neighbour triples cannot fit in the file"},
        {"OFFS\n2 2 0\n0 0 0\n1 0 0\n3 1 1 1\n3 0 0 x\n", "off", "@: neighbour line 1 is not four numbers"},
        {"OFFS\n-2 2 0\n", "off", "@: -2 vertices and 2 neighbour triples"},
    };
    for (const auto &c : cases) {
        const std::string path = write(c.kind ? "case.off" : "case.tri", c.bytes);
        std::string expected = c.text;
        if (expected[0] == '@')
            expected = path + expected.substr(1);
        EXPECT_EQ(refusal(path, c.kind), expected);
    }
    EXPECT_EQ(refusal(dir + "/missing.tri"), "can't read file");
    EXPECT_EQ(refusal(dir + "/missing.off", "off"), "can't load file");
}

TEST_F(SimplexMesh, TheLoaderFallsBackForRefusedTriangleMeshesAndSaysWhy)
{
    const Simplex s = dodecahedron();
    const std::string tri = write("d.tri", MeshBytes().mesh(s.v, s.n, 1, 1).raw("DAT0").i32(1).dataItem("rank", std::vector<float>(20, 2), 0, 4).data);
    testsupport::CapturedMessages captured;
    GL3DObject *o = GL3DObjectLoader::load(tri.c_str());
    EXPECT_EQ(captured.take(),
              "GLMeshObject: Detected LITTLE ENDIAN model v1 in a LITTLE ENDIAN machine\n"
              "GL3DObjectLoader: " + tri + " is no triangle mesh (wrong mesh type), trying a simplicial mesh\n"
              "Detected LITTLE ENDIAN model v1 in a LITTLE ENDIAN machine\n"
              "20 triangles, 20 vertex\n");
    GLSMeshObject *m = dynamic_cast<GLSMeshObject *>(o);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->getNDataItems(), 1);
    EXPECT_NE(m->getArrays().colors, nullptr);

    // The commands of the simplex mesh, and those it leaves to the triangle mesh.
    EXPECT_EQ(m->notifyCommand('1'), 1);
    EXPECT_TRUE(m->getDisplay().wireFrame);
    EXPECT_EQ(m->notifyCommand('7'), 1);
    EXPECT_EQ(m->getDrawMethod(), static_cast<GL3DObject::DrawMethod>(&GLSMeshObject::drawData));
    EXPECT_EQ(m->notifyCommand(233), 1);
    EXPECT_EQ(m->getDrawMethod(), static_cast<GL3DObject::DrawMethod>(&GLSMeshObject::drawTriangles));
    EXPECT_EQ(m->notifyCommand('6'), 1);
    EXPECT_EQ(m->getDrawMethod(), &GL3DObject::drawDepthBuffer);
    const int map = m->getColorMap();
    EXPECT_EQ(m->notifyCommand(6006), 1);
    EXPECT_EQ(m->getColorMap(), map + 1);
    EXPECT_EQ(m->notifyCommand('z'), 0);
    delete o;

    const std::string offs = write("s.off", "OFFS\n3 1 0\n");
    testsupport::CapturedMessages captured2;
    EXPECT_EQ(GL3DObjectLoader::load(offs.c_str()), nullptr);
    EXPECT_EQ(captured2.take(),
              "GL3DObjectLoader: " + offs + " is no triangle mesh (not an OFF file), trying a simplicial mesh\n"
              "GLSMeshObject: " + offs + ": 3 vertices and 1 neighbour triples cannot fit in the file\n"
              "GL3DObjectLoader:unable to load " + offs + "\n");
}

} // namespace
