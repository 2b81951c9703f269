// Texture mapping of a mesh: the companion image found beside the mesh file, cut into chunks
// under a forced limit, drawn with every chunk in place; the settings and state around it.
#include "core/KeyCodes.h"
#include "image/Bitmap.h"
#include "objects/GLMeshObject.h"

#include "support/GLTestFixture.h"
#include "support/MeshBytes.h"
#include "support/CapturedMessages.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;

// An atlas of 64 x 1024 pixels: 16 horizontal stripes of 64 rows, each its own colour, so
// that a chunk drawn in the wrong place shows the wrong stripe.
RGB<unsigned char> stripe(int i)
{
    return RGB<unsigned char>(static_cast<unsigned char>(40 + 13 * i), static_cast<unsigned char>((i % 4) * 70),
                              static_cast<unsigned char>(255 - 15 * i));
}

// A flat grid of 4 x 32 cells facing the viewer over [-0.8, 0.8]^2, with texture coordinates
// that lay the atlas over it, top row of the image at the top; with `withData`, a data item
// that grows from left to right.
std::string writeTexturedMesh(const std::string &dir, int atlasHeight, bool withData = false)
{
    const int nx = 4, ny = 32;
    std::vector<float> v;
    std::vector<int> t;
    std::vector<float> uv;
    for (int j = 0; j <= ny; ++j)
        for (int i = 0; i <= nx; ++i)
            v.insert(v.end(), {-0.8f + 1.6f * i / nx, -0.8f + 1.6f * j / ny, 0});
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const int a = j * (nx + 1) + i, b = a + 1, c = a + nx + 2, d = a + nx + 1;
            t.insert(t.end(), {a, b, c, a, c, d});
            const float u0 = float(i) / nx, u1 = float(i + 1) / nx;
            const float v0 = 1 - float(j) / ny, v1 = 1 - float(j + 1) / ny;
            uv.insert(uv.end(), {u0, v0, u1, v0, u1, v1, u0, v0, u1, v1, u0, v1});
        }
    testsupport::MeshBytes bytes;
    bytes.mesh(v, t).raw("TC02");
    for (float x : uv)
        bytes.f32(x);
    if (withData) {
        std::vector<float> values;
        for (size_t i = 0; i < v.size(); i += 3)
            values.push_back(v[i]);
        bytes.raw("DAT0").i32(1).dataItem("x", values, -0.8f, 0.8f);
    }
    const std::string path = dir + "/atlas.tri";
    bytes.write(path);

    Bitmap atlas(64, atlasHeight);
    for (int y = 0; y < atlasHeight; ++y)
        for (int x = 0; x < 64; ++x)
            atlas.get(x, y) = stripe(y * 16 / atlasHeight);
    EXPECT_EQ(atlas.savePNG((dir + "/atlas.png").c_str()), 1);
    return path;
}

class MeshTexture : public GLTestFixture {
protected:
    void SetUp() override
    {
        GLTestFixture::SetUp();
        orthographic(1);
        enableState(DepthTest | CullBackFaces | FirstLight);
        dir = testsupport::makeTempDir("MeshTexture");
    }
    std::unique_ptr<GLMeshObject> load(const std::string &path)
    {
        testsupport::CapturedMessages captured;
        std::unique_ptr<GLMeshObject> mesh(new GLMeshObject(path.c_str(), nullptr));
        captured.take();
        return mesh;
    }
    std::string dir;
};

TEST_F(MeshTexture, AtlasTallerThanTheLimitIsDrawnChunkByChunk)
{
    std::unique_ptr<GLMeshObject> mesh = load(writeTexturedMesh(dir, 1024));
    mesh->getTexturing().setMaxTextureSize(256);
    ASSERT_EQ(mesh->notifyCommand('3'), 1);
    EXPECT_GE(mesh->getTexturing().getNTextureChunks(), 4) << "1024 rows in chunks of at most 256";
    mesh->draw();
    expectNoGLError();
    const RgbaImage image = capture();
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("MeshTextureChunks", image, message)) << message;

    // Decal texturing shows the atlas as it is: the middle of every stripe in its colour.
    for (int i = 0; i < 16; ++i) {
        const int y = static_cast<int>(64 - 0.8 * 64 + (i + 0.5) * 1.6 * 64 / 16);
        const unsigned char *p = image.at(64, y);
        const RGB<unsigned char> want = stripe(i);
        EXPECT_NEAR(p[0], want.r, 3) << "stripe " << i;
        EXPECT_NEAR(p[1], want.g, 3) << "stripe " << i;
        EXPECT_NEAR(p[2], want.b, 3) << "stripe " << i;
    }
}

TEST_F(MeshTexture, ASelectedVertexIsMarkedOnTheTexture)
{
    std::unique_ptr<GLMeshObject> mesh = load(writeTexturedMesh(dir, 256));
    ASSERT_EQ(mesh->notifyCommand('3'), 1);
    mesh->draw();
    const RgbaImage plain = capture();
    testsupport::CapturedMessages captured;
    mesh->notifyClick(64, 64);
    captured.take();
    ASSERT_GE(mesh->getSelectedVertex(), 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh->draw();
    const RgbaImage marked = capture();
    int changed = 0;
    for (int y = 0; y < marked.height; ++y)
        for (int x = 0; x < marked.width; ++x)
            changed += marked.at(x, y)[0] != plain.at(x, y)[0] || marked.at(x, y)[2] != plain.at(x, y)[2];
    EXPECT_GT(changed, 20) << "the one-ring drawn over the texture";
}

TEST_F(MeshTexture, DrawingRestoresTheTextureStateAndSettingsHaveKeys)
{
    std::unique_ptr<GLMeshObject> mesh = load(writeTexturedMesh(dir, 256));
    mesh->setDrawTexture();
    ASSERT_EQ(mesh->getTexturing().getNTextureChunks(), 1);
    GLint before = 0;
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    for (const GLMeshObject::Action a : {GLMeshObject::Action::TEXTURE_MODULATE, GLMeshObject::Action::TEXTURE_DECAL}) {
        ASSERT_EQ(mesh->perform(a), 1);
        mesh->draw();
        mesh->getDrawing().drawTextureModulate();
        mesh->getDrawing().drawTextureDecal();
        glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &before);
        EXPECT_EQ(before, GL_REPLACE);
        EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
        GLint bound = -1;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(bound, 0);
    }
    expectNoGLError();
    EXPECT_EQ(mesh->getTextureModulation(), 0);
    ASSERT_EQ(mesh->perform(GLMeshObject::Action::TEXTURE_MODULATE), 1);
    EXPECT_EQ(mesh->getTextureModulation(), 1);
    ASSERT_EQ(mesh->perform(GLMeshObject::Action::TEXTURE_NEAREST), 1);
    EXPECT_EQ(mesh->getTextureInterpolation(), 0);
    mesh->draw(); // the chunks take the filter in the next frame
    GLint filter = 0;
    glBindTexture(GL_TEXTURE_2D, mesh->getTexturing().getTextureNames()[0]);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &filter);
    EXPECT_EQ(filter, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);
    ASSERT_EQ(mesh->perform(GLMeshObject::Action::TEXTURE_LINEAR), 1);
    EXPECT_EQ(mesh->getTextureInterpolation(), 1);

    // The textures go with the mesh's data: freed, they are gone; a reload of a textured
    // mesh makes them again.
    const unsigned name = mesh->getTexturing().getTextureNames()[0];
    testsupport::CapturedMessages captured;
    mesh->reload();
    captured.take();
    EXPECT_FALSE(glIsTexture(name));
    EXPECT_EQ(mesh->getTexturing().getNTextureChunks(), 1);
    mesh->draw();
    ASSERT_EQ(mesh->getTexturing().getTextureNames().size(), 1u);
    EXPECT_TRUE(glIsTexture(mesh->getTexturing().getTextureNames()[0]));
    mesh->freeData();
    EXPECT_EQ(mesh->getTexturing().getNTextureChunks(), 0);
    EXPECT_TRUE(mesh->getTexturing().getTextureNames().empty());
    expectNoGLError();
}

// Key 9 after key 3: the data texture replaces the photograph's, under the data legend; key 3
// brings the photograph back.
TEST_F(MeshTexture, TheDataTextureReplacesTheImageTexture)
{
    std::unique_ptr<GLMeshObject> mesh = load(writeTexturedMesh(dir, 256, true));
    for (const int key : {'3', '9', '3'}) {
        ASSERT_EQ(mesh->notifyCommand(key), 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        mesh->draw();
        const RgbaImage image = capture();
        const unsigned char *left = image.at(20, 64), *right = image.at(108, 64);
        if (key == '3') {
            EXPECT_EQ(left[2], right[2]) << "one stripe of the image across";
        } else {
            // Jet from blue on the left to red on the right.
            EXPECT_GT(left[2], left[0]);
            EXPECT_GT(right[0], right[2]);
        }
    }
    EXPECT_STREQ(mesh->getLegend().getTitle(), "x");
}

TEST_F(MeshTexture, WithoutImageTheDataTextureOrPlainTriangles)
{
    // A mesh of 1024 vertices with a data item: key "9" makes a 32 x 32 data texture.
    const int side = 32;
    std::vector<float> v, values;
    std::vector<int> t;
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) {
            v.insert(v.end(), {-0.8f + 1.6f * i / (side - 1), -0.8f + 1.6f * j / (side - 1), 0});
            values.push_back(float(i));
        }
    for (int j = 0; j + 1 < side; ++j)
        for (int i = 0; i + 1 < side; ++i) {
            const int a = j * side + i;
            t.insert(t.end(), {a, a + 1, a + side + 1, a, a + side + 1, a + side});
        }
    testsupport::MeshBytes bytes;
    bytes.mesh(v, t).raw("DAT0").i32(1).dataItem("x", values, 0, side - 1);
    bytes.write(dir + "/data.tri");
    std::unique_ptr<GLMeshObject> mesh = load(dir + "/data.tri");
    mesh->notifyCommand('9');
    ASSERT_EQ(mesh->getTexturing().getNTextureChunks(), 1);
    mesh->draw();
    expectNoGLError();
    // Jet from blue on the left to red on the right.
    const RgbaImage image = capture();
    EXPECT_GT(image.at(20, 64)[2], image.at(20, 64)[0]);
    EXPECT_GT(image.at(108, 64)[0], image.at(108, 64)[2]);

    // No image and no data: "3" leaves the plain triangles.
    bytes = testsupport::MeshBytes();
    bytes.mesh(v, t).write(dir + "/plain.tri");
    std::unique_ptr<GLMeshObject> plain = load(dir + "/plain.tri");
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    plain->draw();
    const RgbaImage shaded = capture();
    plain->notifyCommand('3');
    EXPECT_EQ(plain->getTexturing().getNTextureChunks(), 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    plain->draw();
    EXPECT_EQ(capture().pixels, shaded.pixels);
}

} // namespace
