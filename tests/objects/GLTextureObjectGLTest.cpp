#include "objects/GLTextureObject.h"

#include "image/Bitmap.h"
#include "math/Messages.h"
#include "objects/GL3DObjectLoader.h"
#include "support/GLTestFixture.h"
#include "support/ImageFiles.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;

// An RGB PNG of w x h pixels, colour (x, y, blue) at (x, y), with an optional "uv" text.
void writePicture(const std::string &path, int w, int h, int blue, const char *uv = nullptr)
{
    testsupport::PngFile png{w, h, PNG_COLOR_TYPE_RGB, 8, {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            png.rows.insert(png.rows.end(), {static_cast<unsigned char>(x * 255 / w),
                                             static_cast<unsigned char>(y * 255 / h), static_cast<unsigned char>(blue)});
    if (uv)
        png.texts.emplace_back("uv", uv);
    testsupport::writePngFile(path, png);
}

class Picture : public GLTestFixture {
protected:
    void SetUp() override
    {
        GLTestFixture::SetUp();
        dir = testsupport::makeTempDir("Picture");
        orthographic(-10, 310, -60, 260);
        enableState(0);
    }
    RgbaImage draw(GL3DObject &o)
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        o.draw();
        expectNoGLError();
        return capture();
    }
    std::string dir;
};

TEST_F(Picture, APictureBecomesATexturedRectangleWithItsTriangleOverlay)
{
    const std::string path = dir + "/atlas.png";
    writePicture(path, 300, 200, 40, "10 10 290 10 150 190");
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    std::unique_ptr<GL3DObject> o(GL3DObjectLoader::load(path.c_str()));
    EXPECT_EQ(said.text(MessageLevel::Note), "1 triangles\n");
    GLTextureObject *picture = dynamic_cast<GLTextureObject *>(o.get());
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->getType(), GLObject::TEXTURE);
    EXPECT_EQ(picture->getTextureWidth(), 512);
    EXPECT_EQ(picture->getTextureHeight(), 256);
    EXPECT_EQ(picture->getBBMax(), Point3(300, 200, 1));
    EXPECT_EQ(picture->getCenter(), Point3(150, 100, 0.5f));
    EXPECT_EQ(picture->getTrianglePixels()[2], 290.5f);

    const RgbaImage image = draw(*picture);
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("TexturePicture", image, message)) << message;
    // Image row 0 lies along y = 0 (the bottom of this view): left dark, right red.
    EXPECT_LT(image.at(8, 100)[0], 30);
    EXPECT_GT(image.at(115, 100)[0], 200);
    EXPECT_EQ(image.at(64, 2)[2], 0);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(Picture, TheNextImageKeyStaysWithinTheSequence)
{
    const std::string path = dir + "/first.png";
    writePicture(path, 64, 32, 0);
    writePicture(dir + "/mosaic0000.png", 128, 64, 255);
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    GLTextureObject picture(path.c_str());
    EXPECT_EQ(picture.notifyCommand('n'), 1);
    EXPECT_EQ(picture.getFrameCounter(), 1);
    EXPECT_EQ(picture.getImageWidth(), 128);
    EXPECT_EQ(picture.getBBMax(), Point3(128, 64, 1));
    // mosaic0001.png does not exist: the picture stays, and so does the sequence position.
    EXPECT_EQ(picture.notifyKey('x'), 1);
    EXPECT_EQ(said.text(MessageLevel::Warning),
              "GLTextureObject: no picture " + dir + "/mosaic0001.png, the current one stays\n");
    EXPECT_EQ(said.text(), said.text(MessageLevel::Warning));
    EXPECT_EQ(picture.getFrameCounter(), 1);
    EXPECT_EQ(picture.getImageWidth(), 128);
    EXPECT_EQ(draw(picture).at(20, 100)[2], 255);
    EXPECT_EQ(picture.notifyCommand('a'), 0);
}

TEST_F(Picture, APictureBeyondTheTextureLimitGivesNoTexture)
{
    GLTextureObject picture(nullptr);
    picture.setMaxTextureSize(1024);
    Bitmap tall(800, 1500);
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    EXPECT_FALSE(picture.readTextureV3(&tall));
    EXPECT_EQ(said.text(MessageLevel::Warning),
              "GLTextureObject: a 800 x 1500 picture exceeds the texture limit 1024\n");
    EXPECT_FALSE(picture.hasTexture());
    Bitmap fits(800, 600);
    EXPECT_TRUE(picture.readTextureV3(&fits));
    EXPECT_TRUE(picture.hasTexture());
    EXPECT_FALSE(picture.readTextureV3(nullptr));
}

} // namespace
