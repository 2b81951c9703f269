#include "core/KeyCodes.h"
#include "objects/GL3DObjectLoader.h"
#include "objects/GLOctreeObject.h"
#include "objects/GLVolumeObject.h"

#include "support/GLTestFixture.h"
#include "support/Process.h"
#include "support/CapturedMessages.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;

// The sample files of every octree and volume format, written once for the whole program.
const std::string &sampleDir()
{
    static const std::string dir = [] {
        const std::string d = testsupport::makeTempDir("VolumeSamples");
        const auto r = testsupport::runProcess({std::string(VELMORA_BINARY_DIR) + "/make_sample_volume", d});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return d;
    }();
    return dir;
}

// `maxTextureSide`: the slices' largest texture side, when not the context's.
template <class T> std::unique_ptr<T> open(const std::string &name, std::string *out = nullptr, int maxTextureSide = 0)
{
    testsupport::CapturedMessages captured;
    LoadOptions options;
    options.maxTextureSide = maxTextureSide;
    GL3DObject *o = GL3DObjectLoader::load((sampleDir() + "/" + name).c_str(), nullptr, options);
    const std::string text = captured.take();
    if (out)
        *out = text;
    T *typed = dynamic_cast<T *>(o);
    EXPECT_NE(typed, nullptr) << name << ": " << text;
    if (!typed)
        delete o;
    return std::unique_ptr<T>(typed);
}

void expectBaseline(const char *name, const RgbaImage &image)
{
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline(name, image, message)) << message;
}

int countNonBlack(const RgbaImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            n += image.at(x, y)[0] || image.at(x, y)[1] || image.at(x, y)[2];
    return n;
}

// The samples span [-1, 1] on every axis; the view looks down -z, or, `oblique`, from a corner.
class VolumeDrawing : public GLTestFixture {
protected:
    void SetUp() override
    {
        GLTestFixture::SetUp();
        orthographic(1.8);
        enableState(DepthTest | CullBackFaces | FirstLight);
    }
    void oblique()
    {
        glRotatef(-60, 1, 0, 0);
        glRotatef(-35, 0, 0, 1);
    }
    RgbaImage drawn(GL3DObject &o)
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        o.draw();
        expectNoGLError();
        return capture();
    }
};

TEST_F(VolumeDrawing, EverySampleVolumeOpensAndShowsItsMiddleSlice)
{
    for (const char *name : {"volume_u8.ima", "volume_u16.ima", "volume_u32.ima", "volume_s8.ima", "volume_s16.ima",
                             "volume_s32.ima", "volume_float.ima", "slice.pgm", "slice.ppm"}) {
        std::string out;
        auto v = open<GLVolumeObject>(name, &out);
        ASSERT_TRUE(v) << name;
        EXPECT_NE(out.find("subSampling:1,GL_MAX_TEXTURE_SIZE:"), std::string::npos) << out;
        int size[3];
        v->getSize(size);
        EXPECT_EQ(size[0], 48) << name;
        EXPECT_EQ(size[1], 40) << name;
        EXPECT_EQ(v->isPackedColor(), std::string(name) == "slice.ppm");
        // A legend of values only where values are mapped to colours.
        EXPECT_EQ(v->getLegend().getNumberOfLabels() > 0, !v->isPackedColor()) << name;
        // Images are one slice of 48 x 40 unit voxels: bring them to [-1, 1] like the volumes.
        const bool image2d = v->getVolumeOrigin()[0] == 0;
        glPushMatrix();
        if (image2d) {
            glTranslatef(-1, -1, 0);
            glScalef(2.0f / 48, 2.0f / 40, 1);
        }
        // Every type maps the shape the same way: inside and outside differ on the slice.
        const RgbaImage image = drawn(*v);
        glPopMatrix();
        EXPECT_NE(std::vector<unsigned char>(image.at(64, 64), image.at(64, 64) + 3),
                  std::vector<unsigned char>(image.at(40, 100), image.at(40, 100) + 3))
            << name;
        if (std::string(name) == "volume_u8.ima")
            expectBaseline("VolumeSliceZ", image);
        if (std::string(name) == "slice.ppm")
            expectBaseline("VolumePackedColour", image);
    }
}

TEST_F(VolumeDrawing, PlanesToggleAndOnlyTheMovedPlaneIsRebuilt)
{
    auto v = open<GLVolumeObject>("volume_u8.ima");
    ASSERT_TRUE(v);
    oblique();
    v->notifyCommand('1');
    v->notifyCommand('2');
    const RgbaImage three = drawn(*v);
    expectBaseline("VolumeThreePlanes", three);
    const SlicePlanes &planes = v->getSlicePlanes();
    EXPECT_EQ(planes.getUploadCount(0), 1);
    EXPECT_EQ(planes.getUploadCount(2), 1);

    int p[3];
    v->getCurrentPosition(p);
    EXPECT_EQ(p[0], 24);
    EXPECT_EQ(p[2], 16);
    v->setCurrentPosition(p[0], p[1], p[2] + 5);
    const RgbaImage moved = drawn(*v);
    EXPECT_EQ(planes.getUploadCount(0), 1);
    EXPECT_EQ(planes.getUploadCount(1), 1);
    EXPECT_EQ(planes.getUploadCount(2), 2);
    EXPECT_NE(moved.pixels, three.pixels);
    // Out-of-range positions stop at the last slice.
    v->setCurrentPosition(p[0], p[1], 1000);
    v->getCurrentPosition(p);
    EXPECT_EQ(p[2], 31);

    // A new colour map rebuilds every visible plane.
    v->notifyCommand(KeyCode::PAGE_UP);
    drawn(*v);
    EXPECT_EQ(planes.getUploadCount(0), 2);
    EXPECT_EQ(v->getColorMap(), 6);

    // Hiding every plane leaves nothing drawn.
    for (int key : {'1', '2', '3'})
        v->notifyCommand(key);
    EXPECT_EQ(countNonBlack(drawn(*v)), 0);
}

TEST_F(VolumeDrawing, TexturesStayWithinTheLargestTextureSide)
{
    std::string out;
    auto v = open<GLVolumeObject>("volume_u8.ima", &out, 16);
    ASSERT_TRUE(v);
    EXPECT_NE(out.find("subSampling:4,GL_MAX_TEXTURE_SIZE:16\n"), std::string::npos) << out;
    int size[3];
    v->getSize(size);
    EXPECT_EQ(size[0], 12);
    EXPECT_EQ(size[1], 10);
    EXPECT_EQ(size[2], 8);
    drawn(*v);
    GLint w = 0;
    glBindTexture(GL_TEXTURE_2D, v->getSlicePlanes().getTexture(2));
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(v->getInformation(), "[12x10x8]\nbounding box:\n[-1.0,-1.0,-1.0]\n[1.0,1.0,1.0]\n\n");
}

TEST_F(VolumeDrawing, EverySampleOctreeOpensInEachDrawingMode)
{
    for (const char *name : {"octree_v1.oct", "octree_v2.oct", "octree.voc", "octree.dn"}) {
        std::string out;
        auto o = open<GLOctreeObject>(name, &out);
        ASSERT_TRUE(o) << name;
        EXPECT_EQ(out.find("in a LITTLE ENDIAN machine\n") != std::string::npos, std::string(name).find(".dn") == std::string::npos) << out;
        EXPECT_GT(o->getNVertices(), 100) << name;
        const RgbaImage slice = drawn(*o);
        EXPECT_GT(countNonBlack(slice), 1000) << name;
    }
    std::string out;
    auto o = open<GLOctreeObject>("octree_v2.oct", &out);
    ASSERT_TRUE(o);
    EXPECT_EQ(out.rfind("Detected LITTLE ENDIAN model v0 in a LITTLE ENDIAN machine\n[", 0), 0u) << out;
    expectBaseline("OctreeDataSlice", drawn(*o));

    o->notifyCommand('3');
    o->setDrawStructure(true);
    expectBaseline("OctreeStructureSlice", drawn(*o));
    EXPECT_STREQ(o->getLegend().getTitle(), "Octree levels");

    oblique();
    o->notifyCommand('1');
    o->notifyCommand('+');
    o->notifyCommand('+');
    expectBaseline("OctreeDataPoints", drawn(*o));
    EXPECT_EQ(o->getPointSize(), 3.0f);

    // Closer, so that single cubes show: their outlines and translucent faces.
    glScalef(2.5f, 2.5f, 2.5f);
    glTranslatef(0.2f, 0, 0);
    o->notifyCommand('5');
    expectBaseline("OctreeCubes", drawn(*o));
}

TEST_F(VolumeDrawing, OctreeSlicesAreSubSampledBeyondTheLargestTexture)
{
    auto o = open<GLOctreeObject>("octree_v2.oct", nullptr, 8);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->getTextureSubSampling(), 4);
    drawn(*o);
    GLint w = 0, h = 0;
    glBindTexture(GL_TEXTURE_2D, o->getSlicePlanes().getTexture(2));
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 8);
}

} // namespace
