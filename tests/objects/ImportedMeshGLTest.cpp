// A textured OBJ with two materials, each with its own image, drawn through the loader: every
// triangle shows its own image, the right way up.
#include "image/Bitmap.h"
#include "objects/GL3DObjectLoader.h"
#include "objects/GLMeshObject.h"

#include "support/GLTestFixture.h"
#include "support/CapturedMessages.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;

std::string base64(const std::string &bytes)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            out += k <= n ? digits[v >> (18 - 6 * k) & 63] : '=';
    }
    return out;
}

std::string fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

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
    ASSERT_EQ(mesh->getTexturing().getNTextureChunks(), 2);
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

// glTF images held in the file itself, as a data URI (text glTF, PNG) and as a buffer view of
// the binary chunk (glb, JPEG): both are decoded and drawn on the quad.
TEST_F(ImportedMesh, ImagesEmbeddedInGltfAreDrawn)
{
    // The quad's corners, texture coordinates and two triangles: 48 + 32 + 12 bytes.
    std::string geometry;
    const float corners[] = {-0.8f, -0.8f, 0, 0.8f, -0.8f, 0, 0.8f, 0.8f, 0, -0.8f, 0.8f, 0};
    const float uv[] = {0, 1, 1, 1, 1, 0, 0, 0};
    const uint16_t indices[] = {0, 1, 2, 0, 2, 3};
    geometry.append(reinterpret_cast<const char *>(corners), sizeof corners);
    geometry.append(reinterpret_cast<const char *>(uv), sizeof uv);
    geometry.append(reinterpret_cast<const char *>(indices), sizeof indices);
    const std::string head =
        "{\"asset\":{\"version\":\"2.0\"},\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{\"mesh\":0}],"
        "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0,\"TEXCOORD_0\":1},\"indices\":2,"
        "\"material\":0}]}],\"materials\":[{\"pbrMetallicRoughness\":{\"baseColorTexture\":{\"index\":0}}}],"
        "\"textures\":[{\"source\":0}],"
        "\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":4,\"type\":\"VEC3\","
        "\"min\":[-0.8,-0.8,0],\"max\":[0.8,0.8,0]},{\"bufferView\":1,\"componentType\":5126,\"count\":4,"
        "\"type\":\"VEC2\"},{\"bufferView\":2,\"componentType\":5123,\"count\":6,\"type\":\"SCALAR\"}],";
    const std::string views = "{\"buffer\":0,\"byteLength\":48},{\"buffer\":0,\"byteOffset\":48,\"byteLength\":32},"
                              "{\"buffer\":0,\"byteOffset\":80,\"byteLength\":12}";

    const struct {
        const char *file, *image;
        unsigned char r, g, b;
    } cases[] = {{"quad.gltf", "red.png", 220, 30, 0}, {"quad.glb", "blue.jpg", 0, 40, 210}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        Bitmap picture(8, 8);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                picture.get(x, y) = RGB<unsigned char>(c.r, c.g, c.b);
        ASSERT_EQ(picture.save((dir + "/" + c.image).c_str()), 1);
        const std::string image = fileBytes(dir + "/" + c.image);
        const std::string path = dir + "/" + c.file;
        if (std::string(c.file).find(".glb") == std::string::npos) {
            std::ofstream(path) << head << "\"images\":[{\"uri\":\"data:image/png;base64," << base64(image)
                                << "\"}],\"buffers\":[{\"byteLength\":92,\"uri\":\"data:application/octet-stream;base64,"
                                << base64(geometry) << "\"}],\"bufferViews\":[" << views << "]}";
        } else {
            std::string bin = geometry + image;
            bin.resize((bin.size() + 3) / 4 * 4, '\0');
            std::string json = head + "\"images\":[{\"bufferView\":3,\"mimeType\":\"image/jpeg\"}],"
                               "\"buffers\":[{\"byteLength\":" + std::to_string(bin.size()) + "}],\"bufferViews\":[" +
                               views + ",{\"buffer\":0,\"byteOffset\":92,\"byteLength\":" +
                               std::to_string(image.size()) + "}]}";
            json.resize((json.size() + 3) / 4 * 4, ' ');
            const auto word = [](uint32_t v) { return std::string(reinterpret_cast<const char *>(&v), 4); };
            const std::string glb = "glTF" + word(2) + word(static_cast<uint32_t>(12 + 8 + json.size() + 8 + bin.size())) +
                                    word(static_cast<uint32_t>(json.size())) + "JSON" + json +
                                    word(static_cast<uint32_t>(bin.size())) + std::string("BIN\0", 4) + bin;
            std::ofstream(path, std::ios::binary) << glb;
        }
        // Only the file is read: the image beside it must not be what is drawn.
        std::remove((dir + "/" + c.image).c_str());

        testsupport::CapturedMessages captured;
        std::unique_ptr<GL3DObject> object(GL3DObjectLoader::load(path.c_str()));
        auto *mesh = dynamic_cast<GLMeshObject *>(object.get());
        ASSERT_NE(mesh, nullptr) << captured.take();
        ASSERT_EQ(mesh->notifyCommand('3'), 1);
        ASSERT_EQ(mesh->getTexturing().getNTextureChunks(), 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        mesh->draw();
        expectNoGLError();
        const std::string messages = captured.take();
        EXPECT_NE(std::string::npos, messages.find("textured")) << messages;
        EXPECT_EQ(std::string::npos, messages.find("can't read texture")) << messages;
        const RgbaImage drawn = capture();
        const unsigned char *px = drawn.at(64, 64);
        EXPECT_NEAR(px[0], c.r, 4);
        EXPECT_NEAR(px[1], c.g, 4);
        EXPECT_NEAR(px[2], c.b, 4);
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
