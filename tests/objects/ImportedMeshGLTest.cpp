// A textured OBJ with two materials, each with its own image, drawn through the loader: every
// triangle shows its own image, the right way up.
#include "image/Bitmap.h"
#include "objects/GL3DObjectLoader.h"
#include "objects/GLMeshObject.h"

#include "support/GLTestFixture.h"
#include "support/CapturedMessages.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;

class ImportedMesh : public GLTestFixture {
protected:
    void SetUp() override
    {
        GLTestFixture::SetUp();
        orthographic(1);
        enableState(DepthTest);
        dir = testsupport::makeTempDir("ImportedMesh");
    }
    std::string dir;
};

TEST_F(ImportedMesh, EachMaterialImageOnItsTriangles)
{
    // "a.png": two green rows over two yellow ones; "b.png": blue.
    Bitmap a(4, 4), b(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            a.get(x, y) = y < 2 ? RGB<unsigned char>(0, 200, 0) : RGB<unsigned char>(230, 220, 0);
            b.get(x, y) = RGB<unsigned char>(0, 0, 210);
        }
    ASSERT_EQ(a.savePNG((dir + "/a.png").c_str()), 1);
    ASSERT_EQ(b.savePNG((dir + "/b.png").c_str()), 1);
    std::ofstream(dir + "/quad.mtl") << "newmtl A\nmap_Kd a.png\nnewmtl B\nmap_Kd b.png\n";
    const std::string obj = dir + "/quad.obj";
    std::ofstream(obj) << "mtllib quad.mtl\nv -0.8 -0.8 0\nv 0.8 -0.8 0\nv 0.8 0.8 0\nv -0.8 0.8 0\n"
                          "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl B\nf 1/1 2/2 3/3\nusemtl A\nf 1/1 3/3 4/4\n";

    testsupport::CapturedMessages captured;
    std::unique_ptr<GL3DObject> object(GL3DObjectLoader::load(obj.c_str()));
    captured.take();
    auto *mesh = dynamic_cast<GLMeshObject *>(object.get());
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->notifyCommand('3'), 1);
    ASSERT_EQ(mesh->getNTextureChunks(), 2);
    mesh->draw();
    expectNoGLError();
    const RgbaImage image = capture();

    // The probes sample the images between two texel centres of one colour: the filter
    // blends neighbours, and at the image's edges wraps round to the other side.
    const struct {
        int x, y;   // pixel, row 0 at the top
        unsigned char r, g, b;
        const char *where;
    } probes[] = {
        {32, 38, 0, 200, 0, "top of the upper-left triangle: the image's top rows"},
        {19, 90, 230, 220, 0, "bottom of the upper-left triangle: the image's bottom rows"},
        {96, 96, 0, 0, 210, "lower-right triangle: the other image"},
    };
    for (const auto &p : probes) {
        const unsigned char *px = image.at(p.x, p.y);
        EXPECT_NEAR(px[0], p.r, 3) << p.where;
        EXPECT_NEAR(px[1], p.g, 3) << p.where;
        EXPECT_NEAR(px[2], p.b, 3) << p.where;
    }
}

TEST_F(ImportedMesh, TilesOfAnAtlasEachOnItsTriangles)
{
    // Tiles "t.1001.png" (red) and "t.1002.png" (blue): the left triangle's u lies in 0..1,
    // the right one's in 1..2.
    Bitmap red(4, 4), blue(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            red.get(x, y) = RGB<unsigned char>(220, 0, 0);
            blue.get(x, y) = RGB<unsigned char>(0, 0, 210);
        }
    ASSERT_EQ(red.savePNG((dir + "/t.1001.png").c_str()), 1);
    ASSERT_EQ(blue.savePNG((dir + "/t.1002.png").c_str()), 1);
    std::ofstream(dir + "/tiles.mtl") << "newmtl A\nmap_Kd t.1001.png\n";
    const std::string obj = dir + "/tiles.obj";
    std::ofstream(obj) << "mtllib tiles.mtl\nv -0.8 -0.8 0\nv 0.8 -0.8 0\nv 0.8 0.8 0\nv -0.8 0.8 0\n"
                          "vt 0.2 0.2\nvt 0.8 0.8\nvt 0.2 0.8\nvt 1.2 0.2\nvt 1.8 0.2\nvt 1.8 0.8\n"
                          "usemtl A\nf 1/1 3/2 4/3\nf 1/4 2/5 3/6\n";

    testsupport::CapturedMessages captured;
    std::unique_ptr<GL3DObject> object(GL3DObjectLoader::load(obj.c_str()));
    auto *mesh = dynamic_cast<GLMeshObject *>(object.get());
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->notifyCommand('3'), 1);
    EXPECT_EQ(captured.take().find("outside"), std::string::npos);
    mesh->draw();
    expectNoGLError();
    const RgbaImage image = capture();
    const unsigned char *left = image.at(25, 40), *right = image.at(100, 90);
    EXPECT_NEAR(left[0], 220, 3);
    EXPECT_NEAR(left[2], 0, 3);
    EXPECT_NEAR(right[0], 0, 3);
    EXPECT_NEAR(right[2], 210, 3);
}

} // namespace
