// The photographs and silhouettes of a camera: textures under the size limit, the sample
// reconstruction laid over its model, and the epipoles.
#include "camera/GLCamera.h"

#include "app/GLMachine.h"
#include "camera/CameraTestFiles.h"
#include "formats/Sil.h"
#include "camera/ViewGeometry.h"
#include "core/Options.h"
#include "core/KeyCodes.h"
#include "image/Bitmap.h"
#include "objects/GL3DObject.h"
#include "support/GLTestFixture.h"
#include "support/ImageCompare.h"
#include "support/Process.h"
#include "support/CapturedMessages.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
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
    std::unique_ptr<GLCamera> camera()
    {
        testsupport::CapturedMessages captured;
        auto c = std::make_unique<GLCamera>(path.c_str());
        captured.take();
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
    auto cam = camera();
    cam->getOverlay().setMaxTextureSize(1024);
    ASSERT_EQ(cam->getOverlay().getImagePath(), dir + "/seq/img");

    testsupport::CapturedMessages captured;
    std::unique_ptr<textureData> big(cam->getOverlay().loadImage(0));
    EXPECT_EQ(captured.take(), "GLCamera: subSampling:2,GL_MAX_TEXTURE_SIZE:1024\n");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->subSampling, 2);
    EXPECT_EQ(textureSide(*big, GL_TEXTURE_WIDTH), 1024);
    EXPECT_EQ(textureSide(*big, GL_TEXTURE_HEIGHT), 1024);

    testsupport::CapturedMessages captured2;
    std::unique_ptr<textureData> small(cam->getOverlay().loadImage(2));
    EXPECT_EQ(captured2.take(), "");
    ASSERT_TRUE(small);
    EXPECT_EQ(small->subSampling, 1);
    EXPECT_EQ(textureSide(*small, GL_TEXTURE_WIDTH), 1024);
    EXPECT_EQ(textureSide(*small, GL_TEXTURE_HEIGHT), 512);

    // A tighter limit, and an image far wider than tall: the texture stays within the limit.
    struct Case {
        int w, h, limit, s;
    } cases[] = {{1600, 1200, 256, 8}, {5000, 100, 1024, 8}, {1024, 1024, 1024, 1}, {1025, 3, 1024, 2}};
    for (const Case &c : cases) {
        cam->getOverlay().setMaxTextureSize(c.limit);
        testsupport::CapturedMessages captured3;
        const int s = cam->getOverlay().computeSubSampling(c.w, c.h);
        captured3.take();
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
    testsupport::CapturedMessages captured;
    EXPECT_EQ(cam->getOverlay().loadImage(1), nullptr);
    EXPECT_EQ(cam->getOverlay().loadImage(4), nullptr); // view 4 is view 1 again
    EXPECT_EQ(captured.take(), message);
    std::unique_ptr<textureData> other(cam->getOverlay().loadImage(2));
    EXPECT_TRUE(other);
}

// Photographs read on the worker come in at a later frame; past the budget the photograph
// used longest ago goes; a capture's frame reads its photograph at once. The undistortion maps
// kept stay few.
TEST_F(PhotographTextures, BackgroundReadingWithinABudget)
{
    auto cam = camera();
    GLCameraOverlay &overlay = cam->getOverlay();
    overlay.setMaxTextureSize(512);
    testsupport::CapturedMessages captured;
    const auto show = [&](int view) {
        cam->goToView(view);
        overlay.updateTextures();
    };
    cam->perform(GLCamera::Action::IMAGES);
    overlay.setPhotographBudget(1); // any photograph is over it: only the last one stays
    show(0);
    EXPECT_NE(overlay.getTexture(0), nullptr);
    show(2);
    EXPECT_EQ(overlay.getTexture(0), nullptr);
    EXPECT_NE(overlay.getTexture(2), nullptr);
    EXPECT_EQ(overlay.getLoadedPhotographCount(), 1u);
    EXPECT_EQ(overlay.getLoadedPhotographBytes(), 512u * 256 * 3); // 640 x 480 halved, in 512 x 256

    overlay.setPhotographBudget(size_t(64) << 20);
    overlay.setBackgroundLoading(true);
    show(0);
    EXPECT_EQ(overlay.getTexture(0), nullptr) << "the frame goes on without it";
    // However long the reading takes on a busy machine (the test's time limit ends a hang).
    while (overlay.getLoader().isPending(0) || overlay.getLoader().isPending(1))
        std::this_thread::yield();
    overlay.updateTextures();
    EXPECT_EQ(captured.take().find("error reading"), std::string::npos) << "view 1, only read ahead, is not said";
    EXPECT_NE(overlay.getTexture(0), nullptr);
    EXPECT_NE(overlay.getTexture(2), nullptr);
    overlay.releaseTextures();
    overlay.setWaitForPhotographs(true);
    show(2);
    EXPECT_NE(overlay.getTexture(2), nullptr) << "a capture waits for its photograph";
    captured.take();

    // Photographs of six sizes through one lens: no more maps than the loader keeps.
    PhotographLoader loader;
    const double k[1] = {0.05};
    for (int side = 8; side <= 13; ++side) {
        const std::string file = dir + "/lens" + std::to_string(side) + ".ppm";
        Bitmap(side, side).savePPM(file.c_str());
        PhotographLoader::Request r;
        r.file = file;
        r.lens = LensDistortion(LensDistortion::SIMPLE_RADIAL, k);
        r.intrinsics = GLView::Intrinsics{10, 10, 5, 5, 10, 10};
        EXPECT_FALSE(loader.decode(r).failed);
    }
    EXPECT_EQ(loader.mapCount(), PhotographLoader::maxMaps);
    expectNoGLError();
}

TEST_F(PhotographTextures, SilhouettesOfEveryKindBecomeGreyTextures)
{
    mkdir((dir + "/sil").c_str(), 0777);
    writeFile(dir, "sil/m00.pgm", std::string("P5\n# mask\n3 2\n255\n") + std::string("\0\xff\0\xff\xff\0", 6));
    auto cam = camera();
    ASSERT_EQ(cam->getOverlay().getSilhouetteExtension(), "pgm");
    std::unique_ptr<textureData> t(cam->getOverlay().loadSilhouette(0));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->width, 3);
    EXPECT_EQ(textureSide(*t, GL_TEXTURE_WIDTH), 4);
    EXPECT_EQ(textureSide(*t, GL_TEXTURE_HEIGHT), 2);
    GLint format = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    EXPECT_EQ(format, GL_LUMINANCE);
    unsigned char texels[8] = {};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, texels);
    EXPECT_EQ(std::vector<unsigned char>(texels, texels + 8), (std::vector<unsigned char>{0, 255, 0, 0, 255, 255, 0, 0}));
    const unsigned name = t->textureId;
    glDeleteTextures(1, &name);

    // A missing silhouette is reported once, like a photograph.
    testsupport::CapturedMessages captured;
    EXPECT_EQ(cam->getOverlay().loadSilhouette(1), nullptr);
    EXPECT_EQ(cam->getOverlay().loadSilhouette(1), nullptr);
    EXPECT_EQ(captured.take(), "GLCamera: error reading " + dir + "/sil/m01.pgm\n");
}

// --- The sample reconstruction --------------------------------------------------------------

class SampleScene : public ::testing::Test {
protected:
    // Every test process makes a scene of its own: ctest runs the tests of this suite as
    // processes side by side.
    static void SetUpTestSuite()
    {
        std::filesystem::create_directories(VELMORA_TEMP_DIR);
        std::string pattern = std::string(VELMORA_TEMP_DIR) + "/sample-scene-XXXXXX";
        generated = mkdtemp(&pattern[0]) != nullptr;
        folder = pattern;
        if (!generated)
            return;
        const auto r = testsupport::runProcess(
            {std::string(VELMORA_BINARY_DIR) + "/make_sample_scene", folder, "12", "200", "80"});
        generated = r.exitStatus == 0;
        if (!generated)
            std::fprintf(stderr, "make_sample_scene: %s%s\n", r.out.c_str(), r.err.c_str());
    }

    static void TearDownTestSuite()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    void SetUp() override
    {
        ASSERT_TRUE(generated);
        // Half the photographs' size, so that every window pixel stands for 2 x 2 pixels.
        machine = std::make_unique<GLMachine>(kW, kH);
        machine->setDrawInfo(false);
        machine->setBackgroundColor(Point4(1, 0, 1, 1));
        testsupport::CapturedMessages captured;
        machine->registerObject((folder + "/scene.dat").c_str());
        machine->registerObject((folder + "/scene.tri").c_str());
        captured.take();
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

    // Mean over the window (the frame and the label left out) of the smallest difference
    // between a window pixel and the 2 x 2 photograph pixels it covers.
    // With `band` > 0, over the band of that many columns and rows along the left, top and
    // right edges (starting `margin` in) instead.
    static double differenceToPhotograph(const std::vector<unsigned char> &f, int view, int margin = 4, int band = 0)
    {
        char name[32];
        std::snprintf(name, sizeof name, "/seq/view%02d.ppm", view);
        Bitmap photo;
        photo.loadImage((folder + name).c_str());
        EXPECT_EQ(photo.width, 2 * kW);
        double total = 0;
        long n = 0;
        for (int y = margin; y < kH - 30; ++y)
            for (int x = margin; x < kW - margin; ++x) {
                if (band > 0 && x >= margin + band && x < kW - margin - band && y >= margin + band)
                    continue;
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
        return total / n;
    }

    // The window position of a world point under the camera's shown matrices.
    Point2 toWindow(const Point3 &c) const
    {
        const Matrix4 toClip = camera->getProjectionMatrix() * camera->getGLModelViewMatrix();
        float clip[4];
        const float in[4] = {c.x, c.y, c.z, 1};
        toClip.product(clip, in);
        return Point2((clip[0] / clip[3] + 1) / 2 * kW, (1 - clip[1] / clip[3]) / 2 * kH);
    }

    static int darkNear(const std::vector<unsigned char> &f, Point2 w, int radius)
    {
        int n = 0;
        for (int y = static_cast<int>(w.y) - radius; y <= static_cast<int>(w.y) + radius; ++y)
            for (int x = static_cast<int>(w.x) - radius; x <= static_cast<int>(w.x) + radius; ++x) {
                if (x < 0 || y < 0 || x >= kW || y >= kH)
                    continue;
                const unsigned char *p = &f[(static_cast<size_t>(y) * kW + x) * 3];
                n += p[0] < 100 && p[1] < 100 && p[2] < 100;
            }
        return n;
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
    EXPECT_NE(camera->getOverlay().getTexture(3), nullptr);
    EXPECT_EQ(camera->getOverlay().getTexture(4), nullptr); // photographs load when their view is shown

    EXPECT_LT(differenceToPhotograph(f, 3), 3.0);
    // Its border rows and columns too: the frame lies round the picture, not on it.
    EXPECT_LT(differenceToPhotograph(f, 3, 0, 2), 3.0);

    // Moving the view along its axis moves its photograph with it.
    camera->perspective(0.8f);
    EXPECT_LT(differenceToPhotograph(frame(), 3), 3.0);

    // Transparent, the photograph and the magenta background mix.
    machine->notifyCommand('t');
    const std::vector<unsigned char> mixed = frame();
    const unsigned char *corner = &mixed[(static_cast<size_t>(20) * kW + 20) * 3];
    Bitmap photo;
    photo.loadImage((folder + "/seq/view03.ppm").c_str());
    const RGB<unsigned char> &studio = photo.get(40, 40);
    EXPECT_NEAR(corner[0], (255 + studio.r) / 2, 4);
    EXPECT_NEAR(corner[1], studio.g / 2, 4);
    // Covering a quarter, as velmora-render --photo-opacity 0.25 asks.
    camera->setPhotoOpacity(0.25f);
    const std::vector<unsigned char> quarterFrame = frame();
    const unsigned char *quarter = &quarterFrame[(static_cast<size_t>(20) * kW + 20) * 3];
    EXPECT_NEAR(quarter[0], (3 * 255 + studio.r) / 4, 4);
    EXPECT_NEAR(quarter[1], studio.g / 4, 4);
    camera->setPhotoOpacity(0.5f);

    // Flat in the window (2D texture mode) the photograph lands on the same pixels.
    machine->notifyCommand('t');
    camera->toggleOption(GLCamera::TEXTURE_2D);
    EXPECT_LT(differenceToPhotograph(frame(), 3), 3.0);
}

// The photographs read ahead (the views either side) stay out of the picture until their view is
// shown: seen from afar, view 3 looks as it did before they came in, until view 4 has been shown.
TEST_F(SampleScene, PhotographsReadAheadAreDrawnOnceTheirViewIsShown)
{
    GLCameraOverlay &overlay = camera->getOverlay();
    machine->notifyCommand('b');
    goToView(3);
    for (int i = 0; i < 12; ++i)
        camera->zoomout();
    const std::vector<unsigned char> alone = frame();
    overlay.setBackgroundLoading(true);
    for (const int view : {3, 4}) {
        overlay.setWaitForPhotographs(false); // as a frame of the window leaves it
        camera->goToView(view);
        overlay.updateTextures();
        while (overlay.getLoader().isPending(2) || overlay.getLoader().isPending(4))
            std::this_thread::yield();
        camera->goToView(3);
        EXPECT_EQ(frame() == alone, view == 3) << view;
        EXPECT_NE(overlay.getTexture(4), nullptr) << view;
    }
}

// Points over a photograph stand out whatever lies under them: drawn over it, a few pixels
// large, in a dark and a light ring.
TEST_F(SampleScene, PointsOverAPhotographAreLargeAndOutlined)
{
    GL3DObject *model = machine->getCurrentObject();
    const Point3 lo = model->getBBMin(), hi = model->getBBMax(), mid = (lo + hi) * 0.5f;
    std::vector<Point3> points;
    std::ostringstream ply("ply\nformat ascii 1.0\nelement vertex 9\nproperty float x\nproperty float y\n"
                           "property float z\nend_header\n", std::ios::ate);
    for (int k = 0; k < 9; ++k) {
        points.push_back(mid + Point3((hi.x - lo.x) * 0.25f * (k % 3 - 1), (hi.y - lo.y) * 0.25f * (k / 3 - 1), 0));
        ply << points.back().x << " " << points.back().y << " " << points.back().z << "\n";
    }
    const std::string cloud = testsupport::makeTempDir("photo-points") + "/points.ply";
    std::ofstream(cloud) << ply.str();
    machine->unregisterObject(model);
    testsupport::CapturedMessages captured;
    ASSERT_NE(machine->registerObject(cloud.c_str()), nullptr);
    goToView(3);
    machine->notifyCommand('b');
    const std::vector<unsigned char> shown = frame();
    machine->unregisterObject(machine->getCurrentObject());
    const std::vector<unsigned char> photo = frame();
    for (const Point3 &p : points) {
        const Point2 w = toWindow(p);
        int changed = 0, dark = 0, light = 0;
        for (int y = static_cast<int>(w.y) - 5; y <= static_cast<int>(w.y) + 5; ++y)
            for (int x = static_cast<int>(w.x) - 5; x <= static_cast<int>(w.x) + 5; ++x) {
                const unsigned char *a = &shown[(static_cast<size_t>(y) * kW + x) * 3];
                const bool drawn = !std::equal(a, a + 3, &photo[(static_cast<size_t>(y) * kW + x) * 3]);
                changed += drawn;
                dark += drawn && std::max({a[0], a[1], a[2]}) < 40;
                light += drawn && std::min({a[0], a[1], a[2]}) > 215;
            }
        EXPECT_TRUE(changed >= 25 && dark >= 8 && light >= 8) << w.x << " " << w.y << ": " << dark << " " << light;
    }
}

TEST_F(SampleScene, SilhouetteShownAtItsViewMatchesTheFile)
{
    goToView(5);
    machine->notifyCommand('v');
    const std::vector<unsigned char> f = frame();
    const std::vector<unsigned char> sil = silhouette(5);
    long agree = 0, n = 0;
    for (int y = 4; y < kH - 30; ++y)
        for (int x = 4; x < kW - 4; ++x) {
            const unsigned char *p = &f[(static_cast<size_t>(y) * kW + x) * 3];
            const bool white = p[0] > 200 && p[1] > 200 && p[2] > 200;
            const bool black = p[0] < 50 && p[1] < 50 && p[2] < 50;
            const bool object = sil[static_cast<size_t>(2 * y) * 2 * kW + 2 * x] != 0;
            agree += object ? white : black;
            ++n;
        }
    EXPECT_GE(static_cast<double>(agree) / n, 0.99);
}

TEST_F(SampleScene, ContourSilhouettesAreDrawnAlongTheContour)
{
    // A silhouette folder of contours only, named with -b.
    const std::string contours = testsupport::makeTempDir("contours");
    for (int i = 0; i < 12; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/view%02d.txt", i);
        std::filesystem::copy_file(folder + "/sil" + name, contours + name);
    }
    Options options;
    options.path_sil = contours + "/";
    GLMachine scene(kW, kH, options);
    scene.setDrawInfo(false);
    testsupport::CapturedMessages captured;
    scene.registerObject((folder + "/scene.dat").c_str());
    captured.take();
    machine.reset();
    camera = scene.getCurrentCamera();
    ASSERT_EQ(camera->getOverlay().getSilhouetteExtension(), "txt");
    while (camera->getCurrentView() != 4)
        scene.notifyCommand(KeyCode::NEXT_VIEW);
    scene.notifyCommand('v');
    std::vector<unsigned char> bottomUp(static_cast<size_t>(kW) * kH * 3), f(bottomUp.size());
    scene.getFrameBuffer(bottomUp.data());
    for (int y = 0; y < kH; ++y)
        std::copy_n(&bottomUp[static_cast<size_t>(kH - 1 - y) * kW * 3], kW * 3, &f[static_cast<size_t>(y) * kW * 3]);
    std::vector<Point2> contour;
    ASSERT_TRUE(camera->getOverlay().loadSilhouetteVector(4, 0, contour));
    int onLine = 0, samples = 0;
    for (size_t k = 0; k < contour.size(); k += contour.size() / 25 + 1) {
        onLine += darkNear(f, contour[k] / 2, 1) > 0;
        ++samples;
    }
    EXPECT_GE(onLine, samples - 1);
    // Inside the outline the background is left as it was.
    const Point2 inside = (contour[0] + contour[contour.size() / 2]) / 4;
    EXPECT_EQ(darkNear(f, inside + Point2(0, 20), 2), 0);
}

TEST_F(SampleScene, TurntableLinesPassThroughTheAxisAndTheOtherCameras)
{
    // The cameras alone: nothing else dark in the picture.
    GLMachine bare(kW, kH);
    bare.setDrawInfo(false);
    testsupport::CapturedMessages captured;
    bare.registerObject((folder + "/scene.dat").c_str());
    captured.take();
    machine.reset();
    camera = bare.getCurrentCamera();
    camera->setFocal(0.35f);
    camera->toggleOption(GLCamera::CIRCULAR_MOTION);
    std::vector<unsigned char> bottomUp(static_cast<size_t>(kW) * kH * 3), f(bottomUp.size());
    bare.getFrameBuffer(bottomUp.data());
    for (int y = 0; y < kH; ++y)
        std::copy_n(&bottomUp[static_cast<size_t>(kH - 1 - y) * kW * 3], kW * 3, &f[static_cast<size_t>(y) * kW * 3]);
    // The image of the axis: the turntable's centre and a point above it.
    EXPECT_GT(darkNear(f, toWindow(Point3(0, 0, 0)), 2), 0);
    EXPECT_GT(darkNear(f, toWindow(Point3(0, 0, 4)), 2), 0);
    // The plane of the cameras' circle: the other cameras' centres.
    int seen = 0;
    for (int j = 1; j < camera->getNViews(); ++j) {
        const Point2 w = toWindow(camera->getOrigin(j));
        if (w.x < 4 || w.y < 4 || w.x > kW - 4 || w.y > kH - 4)
            continue;
        EXPECT_GT(darkNear(f, w, 2), 0) << "camera " << j << " at " << w.x << "," << w.y;
        ++seen;
    }
    EXPECT_GE(seen, 2);
    // Away from both lines the background is left alone.
    EXPECT_EQ(darkNear(f, Point2(30, kH - 30), 3), 0);
}

TEST_F(SampleScene, EpipolesLieWhereTheOtherCameraCentresProject)
{
    goToView(2);
    camera->setFocal(0.35f); // zoomed out so that the epipoles are in the window
    camera->toggleOption(GLCamera::EPIPOLAR_TANGENCIES);
    const std::vector<unsigned char> f = frame();
    int seen = 0;
    for (int j = 0; j < camera->getNViews(); ++j) {
        if (j == 2)
            continue;
        SCOPED_TRACE(j);
        const Point3 c = camera->getOrigin(j);
        const Point2 w = toWindow(c);
        const float wx = w.x, wy = w.y;
        const Point3 inView = camera->getRotation(2) * c + camera->getTranslation(2);
        const Point3 e = camera->getOverlay().projectToWindow(inView);
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
        // Its number beside it is red too: nothing black around the dot.
        int black = 0;
        for (int y = std::max(0, static_cast<int>(wy) - 12); y <= std::min(kH - 1, static_cast<int>(wy) + 12); ++y)
            for (int x = std::max(0, static_cast<int>(wx) - 12); x <= std::min(kW - 1, static_cast<int>(wx) + 12); ++x) {
                const unsigned char *p = &f[(static_cast<size_t>(y) * kW + x) * 3];
                black += p[0] < 60 && p[1] < 60 && p[2] < 60;
            }
        EXPECT_EQ(black, 0) << "at " << wx << "," << wy;
        ++seen;
    }
    EXPECT_GE(seen, 3);

    // The outer tangents from every epipole leave the whole contour on one side.
    std::vector<Point2> contour;
    ASSERT_TRUE(camera->getOverlay().loadSilhouetteVector(2, 0, contour));
    ASSERT_GT(contour.size(), 100u);
    const Matrix3 k = camera->getKMatrix();
    for (int j = 0; j < camera->getNViews(); ++j) {
        if (j == 2)
            continue;
        const Point3 x = k * (camera->getRotation(2) * camera->getOrigin(j) + camera->getTranslation(2));
        const Point2 e(x.x / x.z, x.y / x.z);
        const TangentPair t = computeOuterET(contour.data(), static_cast<int>(contour.size()), e);
        for (const int index : {t.first, t.second}) {
            ASSERT_GE(index, 0);
            const Point2 d = contour[index] - e;
            int left = 0, right = 0;
            for (const Point2 &q : contour) {
                const float side = d.x * (q.y - e.y) - d.y * (q.x - e.x);
                left += side > 1e-3f * d.norm();
                right += side < -1e-3f * d.norm();
            }
            EXPECT_TRUE(left == 0 || right == 0) << "view " << j << ": " << left << " and " << right;
        }
        EXPECT_NE(t.first, t.second);
    }
}

} // namespace
