// The photographs and silhouettes of a camera: textures under the size limit, the sample
// reconstruction laid over its model, and the epipoles.
#include "camera/GLCamera.h"

#include "app/GLMachine.h"
#include "camera/CameraTestFiles.h"
#include "camera/Sil.h"
#include "core/KeyCodes.h"
#include "image/Bitmap.h"
#include "support/GLTestFixture.h"
#include "support/ImageCompare.h"
#include "support/Process.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using cameratest::writeFile;
using testsupport::GLTestFixture;

namespace {

// --- Textures under the limit --------------------------------------------------------------

class PhotographTextures : public GLTestFixture {
protected:
    void SetUp() override
    {
        GLTestFixture::SetUp();
        dir = testsupport::makeTempDir("photographs");
        mkdir((dir + "/seq").c_str(), 0777);
        path = writeFile(dir, "cam.dat", "V2.0\n1600 1200\n800\n600\n1500\n0 0 10\n3 0 1 0\n");
        Bitmap(1600, 1200).savePPM((dir + "/seq/img00.ppm").c_str());
        writeFile(dir, "seq/img01.ppm", "P6\n20 20\n255\nshort");
        Bitmap(640, 480).savePPM((dir + "/seq/img02.ppm").c_str());
    }
    void TearDown() override
    {
        GLCamera::setMaxTextureSize(0);
        GLTestFixture::TearDown();
    }
    std::unique_ptr<GLCamera> camera()
    {
        testing::internal::CaptureStdout();
        auto c = std::make_unique<GLCamera>(path.c_str());
        testing::internal::GetCapturedStdout();
        return c;
    }
    static GLint textureSide(const textureData &t, GLenum which)
    {
        GLint v = 0;
        glBindTexture(GL_TEXTURE_2D, t.textureId);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, which, &v);
        return v;
    }
    std::string dir, path;
};

TEST_F(PhotographTextures, LargePhotographsAreSubSampledUnderTheLimit)
{
    GLCamera::setMaxTextureSize(1024);
    auto cam = camera();
    ASSERT_EQ(cam->getImagePath(), dir + "/seq/img");

    testing::internal::CaptureStdout();
    std::unique_ptr<textureData> big(cam->loadImage(0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "GLCamera: subSampling:2,GL_MAX_TEXTURE_SIZE:1024\n");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->subSampling, 2);
    EXPECT_EQ(textureSide(*big, GL_TEXTURE_WIDTH), 1024);
    EXPECT_EQ(textureSide(*big, GL_TEXTURE_HEIGHT), 1024);

    testing::internal::CaptureStdout();
    std::unique_ptr<textureData> small(cam->loadImage(2));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_TRUE(small);
    EXPECT_EQ(small->subSampling, 1);
    EXPECT_EQ(textureSide(*small, GL_TEXTURE_WIDTH), 1024);
    EXPECT_EQ(textureSide(*small, GL_TEXTURE_HEIGHT), 512);

    // A tighter limit, and an image far wider than tall: the texture stays within the limit.
    struct Case {
        int w, h, limit, s;
    } cases[] = {{1600, 1200, 256, 8}, {5000, 100, 1024, 8}, {1024, 1024, 1024, 1}, {1025, 3, 1024, 2}};
    for (const Case &c : cases) {
        GLCamera::setMaxTextureSize(c.limit);
        testing::internal::CaptureStdout();
        const int s = GLCamera::computeSubSampling(c.w, c.h);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(s, c.s) << c.w << "x" << c.h << " under " << c.limit;
    }
    const unsigned textureName = big->textureId;
    glDeleteTextures(1, &textureName);
    const unsigned smallName = small->textureId;
    glDeleteTextures(1, &smallName);
    expectNoGLError();
}

TEST_F(PhotographTextures, AnUnreadablePhotographIsReportedOnceAndOthersStillLoad)
{
    auto cam = camera();
    const std::string message = "GLCamera: error reading " + dir + "/seq/img01.ppm\n";
    testing::internal::CaptureStdout();
    EXPECT_EQ(cam->loadImage(1), nullptr);
    EXPECT_EQ(cam->loadImage(4), nullptr); // view 4 is view 1 again
    EXPECT_EQ(testing::internal::GetCapturedStdout(), message);
    std::unique_ptr<textureData> other(cam->loadImage(2));
    EXPECT_TRUE(other);
}

// --- The sample reconstruction --------------------------------------------------------------

class SampleScene : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = std::string(VELMORA_TEMP_DIR) + "/sample-scene";
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(VELMORA_TEMP_DIR);
        const auto r = testsupport::runProcess(
            {std::string(VELMORA_BINARY_DIR) + "/make_sample_scene", folder, "12", "200", "80"});
        generated = r.exitStatus == 0;
        if (!generated)
            std::fprintf(stderr, "make_sample_scene: %s%s\n", r.out.c_str(), r.err.c_str());
    }

    void SetUp() override
    {
        ASSERT_TRUE(generated);
        // Half the photographs' size, so that every window pixel stands for 2 x 2 pixels.
        machine = std::make_unique<GLMachine>(kW, kH);
        machine->setDrawInfo(false);
        machine->setBackgroundColor(Point4(1, 0, 1, 1));
        testing::internal::CaptureStdout();
        machine->registerObject((folder + "/scene.dat").c_str());
        machine->registerObject((folder + "/scene.tri").c_str());
        testing::internal::GetCapturedStdout();
        camera = machine->getCurrentCamera();
        ASSERT_NE(camera, nullptr);
    }

    void goToView(int view)
    {
        while (camera->getCurrentView() != view)
            machine->notifyCommand(KeyCode::NEXT_VIEW);
    }

    // The frame, top row first, RGB.
    std::vector<unsigned char> frame()
    {
        std::vector<unsigned char> bottomUp(static_cast<size_t>(kW) * kH * 3);
        machine->getFrameBuffer(bottomUp.data());
        std::vector<unsigned char> topDown(bottomUp.size());
        for (int y = 0; y < kH; ++y)
            std::copy_n(&bottomUp[static_cast<size_t>(kH - 1 - y) * kW * 3], kW * 3, &topDown[static_cast<size_t>(y) * kW * 3]);
        return topDown;
    }

    static std::vector<unsigned char> silhouette(int view)
    {
        char name[32];
        std::snprintf(name, sizeof name, "/sil/view%02d.sil", view);
        const Sil s((folder + name).c_str());
        std::unique_ptr<unsigned char[]> p(s.decodeSilhouette());
        EXPECT_EQ(s.getWidth(), 2 * kW);
        EXPECT_EQ(s.getHeight(), 2 * kH);
        return std::vector<unsigned char>(p.get(), p.get() + static_cast<size_t>(4 * kW) * kH);
    }

    static constexpr int kW = 512, kH = 384;
    static std::string folder;
    static bool generated;
    std::unique_ptr<GLMachine> machine;
    GLCamera *camera = nullptr;
};

std::string SampleScene::folder;
bool SampleScene::generated = false;

TEST_F(SampleScene, RenderedModelCoincidesWithTheSilhouetteAtEveryOriginalView)
{
    for (const int view : {0, 3, 7}) {
        SCOPED_TRACE(view);
        goToView(view);
        const std::vector<unsigned char> f = frame();
        const std::vector<unsigned char> sil = silhouette(view);
        long both = 0, either = 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const unsigned char *p = &f[(static_cast<size_t>(y) * kW + x) * 3];
                const bool model = !(p[0] == 255 && p[1] == 0 && p[2] == 255);
                const bool object = sil[static_cast<size_t>(2 * y) * 2 * kW + 2 * x] != 0;
                both += model && object;
                either += model || object;
            }
        ASSERT_GT(either, kW * kH / 20) << "the model is hardly in the picture";
        EXPECT_GE(static_cast<double>(both) / either, 0.98);
    }
}

TEST_F(SampleScene, PhotographShownAtItsViewMatchesTheFile)
{
    goToView(3);
    machine->notifyCommand('b');
    EXPECT_TRUE(camera->getShowImages());
    const std::vector<unsigned char> f = frame();
    EXPECT_NE(camera->getTexture(3), nullptr);
    EXPECT_EQ(camera->getTexture(4), nullptr); // photographs load when their view is shown

    Bitmap photo;
    photo.loadImage((folder + "/seq/view03.ppm").c_str());
    ASSERT_EQ(photo.width, 2 * kW);
    // Each window pixel shows one of the 2 x 2 photograph pixels it covers; the frame of the
    // photograph and the view's label are left out.
    double total = 0;
    long n = 0;
    for (int y = 4; y < kH - 30; ++y)
        for (int x = 4; x < kW - 4; ++x) {
            const unsigned char *p = &f[(static_cast<size_t>(y) * kW + x) * 3];
            int best = 1 << 30;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const RGB<unsigned char> &q = photo.get(2 * x + dx, 2 * y + dy);
                    best = std::min(best, std::abs(p[0] - q.r) + std::abs(p[1] - q.g) + std::abs(p[2] - q.b));
                }
            total += best;
            ++n;
        }
    EXPECT_LT(total / n, 3.0);

    // Transparent, the photograph and the magenta background mix.
    machine->notifyCommand('t');
    const std::vector<unsigned char> mixed = frame();
    const unsigned char *corner = &mixed[(static_cast<size_t>(20) * kW + 20) * 3];
    const RGB<unsigned char> &studio = photo.get(40, 40);
    EXPECT_NEAR(corner[0], (255 + studio.r) / 2, 4);
    EXPECT_NEAR(corner[1], studio.g / 2, 4);
}

TEST_F(SampleScene, EpipolesLieWhereTheOtherCameraCentresProject)
{
    goToView(2);
    camera->setFocal(0.35f); // zoomed out so that the epipoles are in the window
    camera->toggleOption(GLCamera::EPIPOLAR_TANGENCIES);
    const std::vector<unsigned char> f = frame();
    const Matrix4 toClip = camera->getProjectionMatrix() * camera->getGLModelViewMatrix();
    int seen = 0;
    for (int j = 0; j < camera->getNViews(); ++j) {
        if (j == 2)
            continue;
        SCOPED_TRACE(j);
        const Point3 c = camera->getOrigin(j);
        float clip[4];
        const float in[4] = {c.x, c.y, c.z, 1};
        toClip.product(clip, in);
        const float wx = (clip[0] / clip[3] + 1) / 2 * kW, wy = (1 - clip[1] / clip[3]) / 2 * kH;
        const Point3 e = camera->projectToWindow(camera->getRotation(2) * c + camera->getTranslation(2));
        EXPECT_NEAR(e.x, wx, 0.05f);
        EXPECT_NEAR(e.y, wy, 0.05f);
        if (wx < 8 || wy < 8 || wx > kW - 8 || wy > kH - 8)
            continue;
        // A red dot is drawn there.
        bool red = false;
        for (int y = static_cast<int>(wy) - 2; y <= static_cast<int>(wy) + 2; ++y)
            for (int x = static_cast<int>(wx) - 2; x <= static_cast<int>(wx) + 2; ++x) {
                const unsigned char *p = &f[(static_cast<size_t>(y) * kW + x) * 3];
                red = red || (p[0] > 180 && p[1] < 80 && p[2] < 80);
            }
        EXPECT_TRUE(red) << "at " << wx << "," << wy;
        ++seen;
    }
    EXPECT_GE(seen, 3);
}

} // namespace
