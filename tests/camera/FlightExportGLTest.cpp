#define GL_GLEXT_PROTOTYPES 1
#include "app/GLMachine.h"
#include "app/SceneWindow.h"
#include "formats/AviContainer.h"
#include "camera/CameraAnimationWindow.h"
#include "camera/GLCamera.h"
#include "camera/GLCameraAnimationImpl.h"
#include "core/ElementHost.h"
#include "image/Bitmap.h"
#include "math/Messages.h"
#include "support/ImageCompare.h"
#include "support/MathCompare.h"
#include "support/TestObject.h"
#include "support/CapturedMessages.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;

// A progress window that stops the export after `cancelAfter` frames and keeps the errors.
struct Progress : ExportProgress {
    Progress(int &callCount, int cancelAt, std::vector<std::string> &errorList)
        : calls(callCount), cancelAfter(cancelAt), errors(errorList)
    {
    }
    bool setValue(float) override { return ++calls <= cancelAfter || cancelAfter < 0; }
    void showError(const char *text) override { errors.push_back(text); }
    int &calls;
    int cancelAfter;
    std::vector<std::string> &errors;
};

struct Window : CameraAnimationWindow {
    void showKeyCameras(const std::vector<int> &, int) override {}
    void showPlaying(bool) override {}
    void setTimer(int) override {}
    int calls = 0;
    int cancelAfter = -1;
    std::vector<std::string> errors;
};

// The user interface of the test: frames are drawn into the scene's off-screen window, the
// editor's window and its progress windows are recorded.
struct Host : QuietHost {
    explicit Host(ElementWindow &w) : view(w) {}
    void postRedisplay(bool sub) override { view.postRedisplay(sub); }
    void updateDisplay() override
    {
        view.updateDisplay();
        // A window system may leave the drawing buffer undefined once a frame is shown:
        // emulated by painting the window's buffer over after each frame.
        if (spoilShownFrames) {
            GLint bound = 0;
            GLfloat clear[4];
            glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
            glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            glClearColor(1, 0, 1, 1);
            glClear(GL_COLOR_BUFFER_BIT);
            glClearColor(clear[0], clear[1], clear[2], clear[3]);
            glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(bound));
        }
    }
    bool spoilShownFrames = false;
    CameraAnimationWindow *openCameraAnimationWindow(GLCameraAnimationImpl *) override
    {
        window = new Window;
        return window;
    }
    ExportProgress *openProgress(const char *) override
    {
        return new Progress(window->calls, window->cancelAfter, window->errors);
    }
    ElementWindow &view;
    Window *window = nullptr;
};

// A scene drawn off-screen with a box, and a flight of three key cameras turning about it,
// one second at 20 frames per second.
class FlightExport : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir = testsupport::makeTempDir("FlightExport");
        machine.reset(new GLMachine(64, 48));
        testsupport::CapturedMessages captured;
        camera = static_cast<GLCamera *>(machine->registerObject("default.dat"));
        auto *box = testsupport::TestObject::box(Point3(-1, -1, -1), Point3(1, 1.5f, 0.5f));
        box->useSurface();
        machine->registerObject(box, "box");
        captured.take();
        ASSERT_NE(camera, nullptr);
        // The frames are drawn through the window that shows the camera.
        host = std::make_unique<Host>(*machine->getWindow());
        camera->attach(host.get());
        camera->setAnimationInterface(true);
        window = host->window;
        animation = static_cast<GLCameraAnimationImpl *>(camera->getAnimation());
        camera->backupPosition();
        for (float a : {0.f, 0.5f, 1.2f}) {
            camera->setPosition(a, 0.2f * a);
            animation->add();
        }
        animation->speedChange(20);
        animation->timeChange(1);
    }
    void TearDown() override
    {
        camera->setAnimationInterface(false);
        machine.reset();
    }
    std::string file(const std::string &name) const { return dir + "/" + name; }

    std::string dir;
    std::unique_ptr<GLMachine> machine;
    GLCamera *camera = nullptr;
    std::unique_ptr<Host> host;
    Window *window = nullptr;
    GLCameraAnimationImpl *animation = nullptr;
};

} // namespace

// The frames are read where they were drawn, not from the window after it showed them.
TEST_F(FlightExport, FramesAreReadBeforeTheWindowShowsThem)
{
    host->spoilShownFrames = true;
    ASSERT_EQ(animation->exportToImage(file("kept.ppm").c_str()), GLCameraAnimationImpl::EXPORT_DONE);
    host->spoilShownFrames = false;
    for (int k : {0, 10, 19}) {
        char name[32];
        std::snprintf(name, sizeof name, "kept%04d.ppm", k);
        Bitmap frame(file(name).c_str());
        ASSERT_GT(frame.width, 0) << name;
        int magenta = 0;
        for (int i = 0; i < frame.width * frame.height; ++i)
            magenta += frame.pixels[i].r == 255 && frame.pixels[i].g == 0 && frame.pixels[i].b == 255;
        EXPECT_EQ(magenta, 0) << name;
    }
}

TEST_F(FlightExport, ImageSequenceIsNumberedFromZeroAndMovesTheCamera)
{
    ASSERT_EQ(animation->exportToImage(file("seq.ppm").c_str()), GLCameraAnimationImpl::EXPORT_DONE);
    for (int k = 0; k < 20; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "seq%04d.ppm", k);
        ASSERT_TRUE(fs::exists(file(name))) << name;
    }
    EXPECT_FALSE(fs::exists(file("seq0020.ppm")));
    EXPECT_EQ(window->calls, 21) << "one progress step a frame, then the full bar";
    // The flight turns the box: first and last frames differ, and frame 0 is the first key camera's view.
    Bitmap first(file("seq0000.ppm").c_str()), last(file("seq0019.ppm").c_str());
    ASSERT_EQ(first.width, 64);
    ASSERT_EQ(first.height, 48);
    int differing = 0;
    for (int i = 0; i < 64 * 48; ++i)
        differing += first.pixels[i].r != last.pixels[i].r;
    EXPECT_GT(differing, 50);

    // No dot in the last part of the name: PNG files, the folder's dot notwithstanding.
    fs::create_directory(file("a.b"));
    ASSERT_EQ(animation->exportToImage(file("a.b/frame").c_str()), GLCameraAnimationImpl::EXPORT_DONE);
    EXPECT_TRUE(fs::exists(file("a.b/frame0019.png")));
}

TEST_F(FlightExport, CancelLeavesWholeFramesAndNoPoseFileOrFilm)
{
    window->cancelAfter = 10;
    EXPECT_EQ(animation->exportToImage(file("seq.png").c_str()), GLCameraAnimationImpl::EXPORT_CANCELLED);
    EXPECT_TRUE(fs::exists(file("seq0009.png")));
    EXPECT_FALSE(fs::exists(file("seq0010.png")));
    Bitmap last(file("seq0009.png").c_str());
    EXPECT_EQ(last.height, 48) << "the last frame written is whole";

    window->calls = 0;
    EXPECT_EQ(animation->exportToParam(file("poses.dat").c_str()), GLCameraAnimationImpl::EXPORT_CANCELLED);
    window->calls = 0;
    EXPECT_EQ(animation->exportToAvi(file("film.avi").c_str()), GLCameraAnimationImpl::EXPORT_CANCELLED);
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(dir))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left.size(), 10u) << "only the ten frames: no pose file, no film, no temporary file";
    EXPECT_TRUE(window->errors.empty());
}

TEST_F(FlightExport, PoseFileReadsBackAsACameraOfOneViewPerFrame)
{
    ASSERT_EQ(animation->exportToParam(file("flight.dat").c_str()), GLCameraAnimationImpl::EXPORT_DONE);
    CapturingMessageSink quiet;
    ScopedMessageSink scope(quiet);
    GLView poses(file("flight.dat").c_str());
    ASSERT_EQ(poses.getNViews(), 20);
    EXPECT_FLOAT_EQ(poses.getWidth(), camera->getWidth());
    EXPECT_FLOAT_EQ(poses.getFocalX(), camera->getFocalX());
    const Matrix4 first = animation->getKeyCamera(0).getModelViewMatrix();
    EXPECT_TRUE(testsupport::near(poses.getRotation(0), first.getSubMatrix(), 1e-5f));
    EXPECT_TRUE(testsupport::near(poses.getTranslation(0), first.getSubVector(), 1e-4f));
}

TEST_F(FlightExport, FilmWriteErrorsAreShownAndLeaveNoFile)
{
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    EXPECT_EQ(animation->exportToAvi(file("missing/film.avi").c_str()), GLCameraAnimationImpl::EXPORT_FAILED);
    ASSERT_EQ(window->errors.size(), 1u);
    EXPECT_NE(window->errors[0].find("cannot create"), std::string::npos) << window->errors[0];
    EXPECT_EQ(said.text(), "GLCameraAnimation: " + window->errors[0] + "\n");
    EXPECT_FALSE(fs::exists(file("missing")));

    // An unknown image type is refused before anything is written.
    said.clear();
    EXPECT_EQ(animation->exportToImage(file("seq.tif").c_str()), GLCameraAnimationImpl::EXPORT_FAILED);
    EXPECT_EQ(said.text(MessageLevel::Error),
              "GLCameraAnimation: can't write images of type \"tif\" (png, ppm or jpg)\n");
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST(AviContainerNames, TheCodecsExtensionIsAddedWhereTheNameHasNone)
{
    const std::vector<std::string> codecs = AviContainer::getCodecList();
    ASSERT_FALSE(codecs.empty());
    EXPECT_EQ(codecs[0], "RAW format");
    EXPECT_EQ(AviContainer::fileNameFor("dir.x/film", -1), "dir.x/film.avi");
    EXPECT_EQ(AviContainer::fileNameFor("film.mov", 0), "film.mov");
    EXPECT_EQ(AviContainer::fileNameFor("film.", 0), "film.avi");
    for (size_t i = 0; i < codecs.size(); ++i)
        EXPECT_EQ(AviContainer::fileNameFor("film", static_cast<int>(i)),
                  codecs[i] == "H.264 (MP4)" ? "film.mp4" : "film.avi")
            << codecs[i];
}

TEST_F(FlightExport, PathIsDrawnInBlueWithoutLeavingStateBehind)
{
    std::vector<unsigned char> rgb(64 * 48 * 3);
    auto bluePixels = [&] {
        machine->getFrameBuffer(rgb.data());
        int n = 0;
        for (size_t i = 0; i < rgb.size(); i += 3)
            // The line is smoothed and blended into the grey background: blue leads clearly.
            n += rgb[i + 2] > rgb[i] + 40 && rgb[i + 2] > rgb[i + 1] + 40;
        return n;
    };
    animation->selection_made(0);
    const int before = bluePixels();
    animation->toggleDrawPath();
    animation->toggleDrawCameras();
    EXPECT_GT(bluePixels(), before + 10);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    GLfloat width = 0;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_EQ(width, 1.f);
}
