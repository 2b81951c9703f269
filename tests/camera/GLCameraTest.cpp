#include "camera/GLCamera.h"

#include "camera/CameraTestFiles.h"
#include "camera/GLCameraAnimation.h"
#include "camera/GLCameraAnimationImpl.h"
#include "core/ElementHost.h"
#include "core/Options.h"
#include "math/Messages.h"
#include "math/Position.h"
#include "support/ImageCompare.h"
#include "support/MathCompare.h"
#include "support/CapturedMessages.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace cameratest;
using testsupport::kPi;
using testsupport::near;

namespace {

// The main window as far as the camera talks to it.
struct FakeMain : QuietHost {
    int redisplays = 0;
    int reshapedW = 0, reshapedH = 0;
    void postRedisplay(bool) override { ++redisplays; }
    void reshapeWindow(int w, int h) override
    {
        reshapedW = w;
        reshapedH = h;
    }
};

struct FakeAnimation : GLCameraAnimation {
    explicit FakeAnimation(bool *destroyedFlag) : destroyed(destroyedFlag) {}
    ~FakeAnimation() override { *destroyed = true; }
    void notifyClick(int x, int y) override { clicks.push_back({x, y}); }
    void notifyDrag(float dx, float dy) override { drags.push_back(Point2(dx, dy)); }
    void notifyKey(int) override {}
    void draw() override { ++draws; }
    void add() override { ++adds; }
    bool *destroyed;
    std::vector<std::pair<int, int>> clicks;
    std::vector<Point2> drags;
    int draws = 0, adds = 0;
};

// Counts the calls of the photograph extension points.
class HookedCamera : public GLCamera {
public:
    using GLCamera::GLCamera;
    using GLCamera::attachAnimation;
    int textureChecks = 0, listRebuilds = 0;

protected:
    void checkTextures() override { ++textureChecks; }
    void rebuildDisplayLists() override { ++listRebuilds; }
};

template <class... Args> std::unique_ptr<HookedCamera> quietCamera(Args... args)
{
    testsupport::CapturedMessages captured;
    auto c = std::make_unique<HookedCamera>(args...);
    captured.take();
    return c;
}

// The messages `f` gives through the message sink.
std::string messagesOf(const std::function<void()> &f)
{
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    f();
    return sink.text();
}

std::string printedBy(const std::function<void()> &f)
{
    testsupport::CapturedMessages captured;
    f();
    return captured.take();
}

// Window position (x right, y up) of a world point as the camera shows it.
Point2 onScreen(const GLCamera &c, Point3 X, const Matrix4 *modelView = nullptr)
{
    float clip[4];
    (c.getFinalKMatrix() * (modelView ? *modelView : c.getGLModelViewMatrix())).product(clip, X);
    return Point2((clip[0] / clip[3] + 1) / 2 * c.getWindowWidth(),
                  (clip[1] / clip[3] + 1) / 2 * c.getWindowHeight());
}

::testing::AssertionResult nearPoint(Point2 a, Point2 b, float tol)
{
    if (std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << a.x << ", " << a.y << ") is not (" << b.x << ", " << b.y << ")";
}

// A camera file of 640 x 480 photographs taken from five poses around the origin at distance
// 5, 15 degrees apart, with a panel and main window to see its requests.
class Cameras : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = testsupport::makeTempDir("GLCamera");
        std::vector<Pose> poses;
        for (int i = 0; i < 5; i++) {
            const float a = i * kPi / 12;
            poses.push_back(lookAt(Point3(5 * std::sin(a), 0.5f, -5 * std::cos(a)), Point3(0, 0.5f, 0)));
        }
        path = writeFile(dir, "photos.dat", version4(640, 480, 320, 240, 600, 600, poses));
    }

    std::unique_ptr<HookedCamera> photoCamera()
    {
        auto c = quietCamera(path.c_str());
        c->attach(&main);
        c->resizeWindow(400, 300);
        c->setZPlanes(1, 20);
        return c;
    }

    std::string dir, path;
    FakeMain main;
};

} // namespace

TEST(GLCameraDefault, StartsAtViewZeroWithTheDefaultWindow)
{
    auto c = quietCamera();
    EXPECT_TRUE(c->isDefaultCamera());
    // No OpenGL context here: the viewport cannot be read.
    EXPECT_EQ(c->getWindowWidth(), GLCamera::defaultWindowSize);
    EXPECT_EQ(c->getWindowHeight(), GLCamera::defaultWindowSize);
    EXPECT_TRUE(near(c->getModelViewMatrix(), Matrix4(Matrix3(), Point3(0, 0, 1)), 0));
    // 36 views 10 degrees apart, all looking at the origin from one unit away.
    EXPECT_NEAR(c->getMinAngle(), 10 * kPi / 180, 1e-5f);
    EXPECT_NEAR(c->getWorldScale(), 1, 1e-5f);
    EXPECT_TRUE(near(c->getRotationPoint(), Point3(0, 0, 0), 1e-5f));
}

TEST_F(Cameras, FileCameraTakesImagePathsFromTheCommandLine)
{
    // -p names a folder and a prefix, -e the extension wanted among the files there, -b the
    // silhouettes' folder; the camera looks the sequences up when it is built.
    mkdir((dir + "/photos").c_str(), 0777);
    mkdir((dir + "/masks").c_str(), 0777);
    for (const char *name : {"photos/cube00.ppm", "photos/cube00.jpg", "photos/other00.jpg", "masks/s00.sil"})
        writeFile(dir, name, "x");
    Options options;
    options.path_img = dir + "/photos/cube";
    options.extension = "jpg";
    options.path_sil = dir + "/masks/";
    auto c = quietCamera(path.c_str(), options);
    EXPECT_FALSE(c->isDefaultCamera());
    EXPECT_EQ(c->getOverlay().getImagePath(), dir + "/photos/cube");
    EXPECT_EQ(c->getOverlay().getImageExtension(), "jpg");
    EXPECT_EQ(c->getOverlay().getSilhouettePath(), dir + "/masks/s");
    EXPECT_EQ(c->getOverlay().getSilhouetteExtension(), "sil");
    EXPECT_EQ(messagesOf([&] { c->updateGeometry(Point3(0, 0, 0), 8); }),
              "GLCamera: warning, updating geometry of a non-default camera\n");

    // Without the options the sequences are looked for in "seq/" and "sil/" beside the camera
    // file; none there means no photographs, with the default extensions.
    auto plain = quietCamera(path.c_str());
    EXPECT_EQ(plain->getOverlay().getImagePath(), "");
    EXPECT_EQ(plain->getOverlay().getImageExtension(), "ppm");
    EXPECT_EQ(plain->getOverlay().getSilhouettePath(), "");
    EXPECT_EQ(plain->getOverlay().getSilhouetteExtension(), "sil");
}

TEST_F(Cameras, MinimumAngleAndWorldScaleFromTheViews)
{
    auto c = photoCamera();
    // Views 15 degrees apart, the first two meeting at the point they look at.
    EXPECT_NEAR(c->getMinAngle(), 15 * kPi / 180, 1e-4f);
    EXPECT_NEAR(c->getWorldScale(), 5, 1e-4f);
    EXPECT_TRUE(near(c->getRotationPoint(), Point3(0, 0.5f, 0), 1e-4f));

    // One view: 10 degrees, and the distance from the (unchanged) rotation point.
    auto one = quietCamera(
        writeFile(dir, "one.dat",
                  version4(640, 480, 320, 240, 600, 600, {lookAt(Point3(3, 0, -4), Point3(0, 0, 0))}))
            .c_str());
    EXPECT_FLOAT_EQ(one->getMinAngle(), 0.17453292f);
    EXPECT_NEAR(one->getWorldScale(), 5, 1e-5f);
    EXPECT_TRUE(near(one->getRotationPoint(), Point3(0, 0, 0), 0));

    // Views 0 and 1 looking the same way never meet: they count as one view, not as a
    // rotation point at infinity. Views 1 and 2 are 40 degrees apart, 0 and 2 as well.
    const Pose side = lookAt(Point3(0, 0, -4), Point3(0, 0, 0));
    Pose moved = side;
    moved.t = moved.t + Point3(1, 0, 0);
    const Pose third = lookAt(Point3(4 * std::sin(0.698132f), 0, -4 * std::cos(0.698132f)), Point3(0, 0, 0));
    auto parallel = quietCamera(
        writeFile(dir, "rig.dat", version4(640, 480, 320, 240, 600, 600, {side, moved, third})).c_str());
    EXPECT_TRUE(std::isfinite(parallel->getWorldScale()));
    EXPECT_NEAR(parallel->getWorldScale(), 4, 1e-5f);
    EXPECT_TRUE(near(parallel->getRotationPoint(), Point3(0, 0, 0), 0));
    EXPECT_NEAR(parallel->getMinAngle(), 0, 1e-3f) << "views 0 and 1 share their rotation";

    // Views a twentieth of a degree apart still give their angle, not 0.
    auto dense = quietCamera(
        writeFile(dir, "dense.dat", "V3.0 640 480 320 240 600 600 0 0 5 3 0 1 0 deg 0 10 10.05\n").c_str());
    EXPECT_NEAR(dense->getMinAngle(), 0.05f * kPi / 180, 1e-6f);
}

TEST_F(Cameras, PanMovesThePictureByPixelsAndZoomScalesAboutTheCentre)
{
    auto c = photoCamera();
    const Point2 centre(200, 150);
    const Point3 X(0.7f, 1.1f, -0.4f);
    const Point2 p0 = onScreen(*c, X);
    c->setPanning(Point2(10, 5));
    EXPECT_TRUE(nearPoint(onScreen(*c, X), p0 + Point2(-10, 5), 1e-3f));
    c->setFocal(2);
    EXPECT_TRUE(nearPoint(onScreen(*c, X), centre + (p0 + Point2(-10, 5) - centre) * 2, 1e-3f));
    // A mouse pan is in window pixels whatever the zoom.
    c->panning(4, -6);
    EXPECT_TRUE(nearPoint(c->getPanning(), Point2(12, 2), 1e-6f));
    EXPECT_TRUE(
        nearPoint(onScreen(*c, X), centre + (p0 + Point2(-10, 5) - centre) * 2 + Point2(-4, -6), 1e-3f));

    c->setFocal(1.3f);
    c->zoomin();
    EXPECT_NEAR(c->getFocal(), 1.43f, 1e-6f);
    c->zoomout();
    EXPECT_NEAR(c->getFocal(), 1.3f, 1e-6f);
    c->zoom(0.5f);
    EXPECT_NEAR(c->getFocal(), 0.65f, 1e-6f);
    // Only the final projection carries pan and zoom.
    EXPECT_TRUE(near(c->getProjectionMatrix(), c->getFinalKMatrix(), 0));
    c->setFocal(1);
    c->setPanning(Point2(0, 0));
    EXPECT_TRUE(near(c->getFinalKMatrix(), c->getGLKMatrix(), 0));

    // A projection set from outside is shown as it is and zoomed from there.
    Matrix4 p = c->getGLKMatrix(800, 600);
    c->setFocal(2);
    c->setPanning(Point2(1, 1));
    c->setProjectionMatrix(p);
    EXPECT_EQ(c->getFocal(), 1);
    EXPECT_EQ(c->getPanning(), Point2(0, 0));
    EXPECT_TRUE(near(c->getProjectionMatrix(), p, 0));
    c->zoom(2);
    p(0, 0) *= 2;
    EXPECT_NEAR(c->getProjectionMatrix()(0, 0), p(0, 0), 1e-6f);
}

TEST_F(Cameras, ResizeKeepsThePanOnTheSameSpotOfThePhotograph)
{
    auto c = photoCamera();
    c->setPanning(Point2(30, -12));
    c->setFocal(1.5f);
    const Point3 points[] = {{0, 0.5f, 0}, {1, 0, 0.3f}, {-0.8f, 1.2f, 0}};
    // The photograph's width on the screen: the window's, or less with bands at the sides.
    const auto shownWidth = [&] {
        const float w = static_cast<float>(c->getWindowWidth()), h = static_cast<float>(c->getWindowHeight());
        return std::min(w, h * 640 / 480);
    };
    const auto relative = [&](Point3 X) {
        const Point2 centre(c->getWindowWidth() / 2.f, c->getWindowHeight() / 2.f);
        return (onScreen(*c, X) - centre) / shownWidth();
    };
    std::vector<Point2> before;
    for (const Point3 &X : points)
        before.push_back(relative(X));
    const int sizes[][2] = {{800, 600}, {800, 300}, {300, 600}, {300, 600}, {401, 299}};
    for (const auto &s : sizes) {
        c->resizeWindow(s[0], s[1]);
        EXPECT_EQ(c->getWindowWidth(), s[0]);
        for (size_t i = 0; i < before.size(); i++)
            EXPECT_TRUE(nearPoint(relative(points[i]), before[i], 1e-5f))
                << s[0] << "x" << s[1] << " point " << i;
    }
    const Point2 pan = c->getPanning();
    c->resizeWindow(0, 100);
    c->resizeWindow(100, -1);
    EXPECT_EQ(c->getWindowWidth(), 401);
    EXPECT_EQ(c->getPanning(), pan);
}

TEST_F(Cameras, NearAndFarPlanes)
{
    auto c = photoCamera();
    EXPECT_EQ(c->getZNear(), 1);
    EXPECT_EQ(c->getZFar(), 20);
    float clip[4];
    c->getFinalKMatrix().product(clip, Point3(0, 0, -1));
    EXPECT_NEAR(clip[2] / clip[3], -1, 1e-5f);

    // "d" brings both planes closer, "D" undoes it.
    c->notifyCommand('d');
    EXPECT_NEAR(c->getZNear(), 0.8f, 1e-6f);
    EXPECT_NEAR(c->getZFar(), 16, 1e-5f);
    c->notifyCommand('D');
    EXPECT_NEAR(c->getZNear(), 1, 1e-6f);
    EXPECT_NEAR(c->getZFar(), 20, 1e-5f);
    c->getFinalKMatrix().product(clip, Point3(0, 0, -20));
    EXPECT_NEAR(clip[2] / clip[3], 1, 1e-4f);

    // Photographs shown: the far plane takes in every camera, the near one sits just before
    // the photographs.
    const float zNearBefore = c->getZNear();
    c->notifyCommand('b');
    EXPECT_EQ(c->textureChecks, 1);
    const float h = std::tan(c->getMinAngle() / 2);
    const float zNear1 = h * c->getWorldScale() / (h + 640 / (2 * 600.f)) * 0.95f;
    EXPECT_NEAR(c->getZNear(), zNear1, 1e-6f);
    EXPECT_NEAR(c->getZFar(), 2 * 20 + zNearBefore, 1e-4f);
    // Silhouettes as well: recomputed, the far plane grows again.
    c->notifyCommand('v');
    EXPECT_NEAR(c->getZFar(), 2 * 41 + zNear1, 1e-4f);
    EXPECT_NEAR(c->getZNear(), zNear1, 1e-6f);
    // Both off: the planes the scene asked for.
    c->notifyCommand('b');
    c->notifyCommand('v');
    EXPECT_EQ(c->getZNear(), 1);
    EXPECT_EQ(c->getZFar(), 20);
    // The flat photograph needs fixed planes.
    c->toggleOption(GLCamera::TEXTURE_2D);
    c->setZPlanes(3, 30);
    EXPECT_EQ(c->getZNear(), 1);
    EXPECT_EQ(c->getZFar(), 1000);
    c->toggleOption(GLCamera::TEXTURE_2D);
    c->checkZPlanes();
    EXPECT_EQ(c->getZNear(), 3);
}

TEST_F(Cameras, CameraTranslationAndPerspectiveKeys)
{
    auto c = photoCamera();
    const Matrix4 start = c->getGLModelViewMatrix();
    c->notifyCommand('x');
    EXPECT_NEAR(c->getGLModelViewMatrix()(2, 3), start(2, 3) * 0.8f, 1e-5f);
    EXPECT_TRUE(near(c->getBackupModelViewMatrix(), c->getGLModelViewMatrix(), 0));
    EXPECT_NEAR(c->getZNear(), 0.8f, 1e-6f);
    EXPECT_NEAR(c->getZFar(), 16, 1e-5f);
    c->notifyCommand('X');
    EXPECT_TRUE(near(c->getGLModelViewMatrix(), start, 1e-5f));
    EXPECT_NEAR(c->getZFar(), 20, 1e-5f);

    // Moving the view along its axis (control and middle drag) changes the view itself.
    const Point3 t1 = c->getTranslation(0);
    c->perspective(1.5f);
    EXPECT_NEAR(c->getTranslation(0).z, t1.z * 1.5f, 1e-5f);
    EXPECT_TRUE(near(c->getGLModelViewMatrix(), c->getGLEMatrix(0), 0));
    EXPECT_EQ(c->getZNear(), 1);
    EXPECT_EQ(c->getZFar(), 1023);
    EXPECT_EQ(c->listRebuilds, 1);
}

TEST_F(Cameras, JumpsBetweenOriginalViewsWrapAndKeepZoomAndPan)
{
    auto c = photoCamera();
    c->setFocal(1.2f);
    c->setPanning(Point2(3, 4));
    c->notifyCommand('/');
    EXPECT_FALSE(c->isAtOriginalView());
    const Matrix4 before = c->getGLModelViewMatrix();
    EXPECT_TRUE(c->notifyCommand(GLCamera::PREVIOUS_VIEW));
    EXPECT_EQ(c->getCurrentView(), 4);
    EXPECT_TRUE(near(c->getBackupModelViewMatrix(), before, 0));
    EXPECT_TRUE(near(c->getGLModelViewMatrix(), c->getGLEMatrix(4), 0));
    EXPECT_TRUE(c->isAtOriginalView());
    EXPECT_EQ(c->textureChecks, 1);
    c->notifyCommand(GLCamera::NEXT_VIEW);
    EXPECT_EQ(c->getCurrentView(), 0);
    c->notifyCommand(GLCamera::NEXT_VIEW);
    EXPECT_EQ(c->getCurrentView(), 1);
    EXPECT_EQ(c->getFocal(), 1.2f);
    EXPECT_EQ(c->getPanning(), Point2(3, 4));
}

TEST_F(Cameras, PanAroundKeepsTheRotationPointWhereItWas)
{
    auto c = photoCamera();
    // A rotation point off the point the views look at moves on the screen from view to view.
    c->setRotationPoint(Point3(0.8f, -0.3f, 0.4f));
    c->setFocal(1.4f);
    c->setPanning(Point2(-7, 11));
    c->notifyCommand('p');
    EXPECT_TRUE(c->getPanAround());
    for (int code : {GLCamera::NEXT_VIEW, GLCamera::NEXT_VIEW, GLCamera::PREVIOUS_VIEW}) {
        const Point2 before = onScreen(*c, c->getRotationPoint());
        c->notifyCommand(code);
        EXPECT_TRUE(nearPoint(onScreen(*c, c->getRotationPoint()), before, 2e-3f)) << c->getCurrentView();
    }
    // Without pan-around the pan stays and the point moves.
    c->notifyCommand('p');
    const Point2 before = onScreen(*c, c->getRotationPoint());
    const Point2 pan = c->getPanning();
    c->notifyCommand(GLCamera::NEXT_VIEW);
    EXPECT_EQ(c->getPanning(), pan);
    EXPECT_FALSE(nearPoint(onScreen(*c, c->getRotationPoint()), before, 1));
}

// Going to a view lands where pressing "next view" until the camera got there landed (what
// the views window and the evaluation of views did): from another view, onto the view shown
// (a whole round of presses), past the last view, from a pose away from the views, and with
// views of lenses of their own.
TEST_F(Cameras, GoingToAViewLandsWhereTheNextViewKeyLanded)
{
    const auto ownLenses = [] {
        std::vector<GLView::Intrinsics> lenses;
        std::vector<Matrix3> rotations;
        std::vector<Point3> translations;
        for (int i = 0; i < 5; i++) {
            lenses.push_back({500.0f + 40 * i, 500.0f + 40 * i, 320, 240, 640, 480});
            const float a = i * kPi / 12;
            const Pose p = lookAt(Point3(5 * std::sin(a), 0.5f, -5 * std::cos(a)), Point3(0, 0.5f, 0));
            rotations.push_back(p.R);
            translations.push_back(p.t);
        }
        auto c = quietCamera(lenses, rotations, translations, std::vector<std::string>());
        c->resizeWindow(400, 300);
        c->setZPlanes(1, 20);
        return c;
    };
    // "Next view" until view v is shown, a whole round at the most.
    const auto pressOnto = [](GLCamera &cam, int v) {
        for (int k = 0; k <= cam.getNViews() && cam.getCurrentView() != v; ++k)
            cam.notifyCommand(GLCamera::NEXT_VIEW);
    };
    struct Case {
        const char *what;
        int from, to;
        bool away, lenses;
    } cases[] = {{"another view", 1, 3, false, false}, {"the view shown", 2, 2, false, false},
                 {"past the last view", 4, 6, false, false}, {"away from the views", 0, 0, true, false},
                 {"views of their own lenses", 0, 3, false, true}};
    for (const Case &c : cases) {
        const auto at = [&] {
            auto cam = c.lenses ? ownLenses() : photoCamera();
            pressOnto(*cam, c.from);
            if (c.away) {
                cam->backupPosition();
                cam->setPosition(0.3f, -0.2f);
                cam->notifyCommand('/');
            }
            cam->attach(&main);
            cam->textureChecks = 0;
            return cam;
        };
        auto pressed = at();
        const int n = pressed->getNViews(), view = c.to % n;
        pressOnto(*pressed, (view + n - 1) % n);
        pressed->notifyCommand(GLCamera::NEXT_VIEW);

        auto gone = at();
        const Matrix4 before = gone->getGLModelViewMatrix();
        main.redisplays = 0;
        gone->goToView(c.to);
        EXPECT_EQ(gone->getCurrentView(), view) << c.what;
        EXPECT_TRUE(near(gone->getGLModelViewMatrix(), pressed->getGLModelViewMatrix(), 0)) << c.what;
        EXPECT_TRUE(near(gone->getFinalKMatrix(), pressed->getFinalKMatrix(), 0)) << c.what;
        EXPECT_TRUE(near(gone->getBackupModelViewMatrix(), before, 0)) << c.what;
        EXPECT_TRUE(gone->isAtOriginalView()) << c.what;
        EXPECT_EQ(gone->textureChecks, 1) << c.what;
        EXPECT_EQ(main.redisplays, 1) << c.what;
    }
}

TEST(GLCameraMotion, MouseRotationTurnsAboutTheRotationPointFromTheSavedPose)
{
    auto c = quietCamera();
    const Point3 rp(1, 2, 3);
    c->updateGeometry(rp, 10);
    c->setZPlanes(1, 30);
    EXPECT_TRUE(near(c->getRotationPoint(), rp, 1e-4f));
    EXPECT_NEAR(c->getWorldScale(), 10, 1e-4f);
    c->backupPosition();
    const Matrix4 saved = c->getGLModelViewMatrix();
    const Matrix3 r = saved.getSubMatrix();
    // World directions of the screen's right and up.
    const Point3 right(r(0, 0), r(0, 1), r(0, 2)), up(r(1, 0), r(1, 1), r(1, 2));

    c->setPosition(kPi / 2, 0);
    const Matrix4 m = c->getGLModelViewMatrix();
    EXPECT_TRUE(near(m * rp, saved * rp, 1e-4f));
    // A quarter turn about the vertical sends what was on the right away from the viewer.
    EXPECT_TRUE(near(m * (rp + right), saved * rp + Point3(0, 0, -1), 1e-4f));
    // Rotations are measured from the saved pose: the same call gives the same pose.
    c->setPosition(kPi / 2, 0);
    EXPECT_TRUE(near(c->getGLModelViewMatrix(), m, 1e-6f));

    c->setPosition(0, kPi / 2);
    EXPECT_TRUE(near(c->getGLModelViewMatrix() * (rp + up), saved * rp + Point3(0, 0, 1), 1e-4f));
    // Without camera markers the label stays.
    EXPECT_TRUE(c->isAtOriginalView());
}

TEST(GLCameraMotion, FirstRotationWithMarkersBacksAwayFromTheCameras)
{
    auto c = quietCamera();
    c->updateGeometry(Point3(0, 0, 0), 10);
    c->setZPlanes(2, 20);
    c->toggleOption(GLCamera::CAMERA_ORIGINS);
    c->notifyCommand(GLCamera::NEXT_VIEW);
    c->backupPosition();
    c->setPosition(0, 0);
    EXPECT_FALSE(c->isAtOriginalView());
    // The camera moved back along its line to the rotation point, to 10 + 1.01 * 2.
    const Matrix4 rt = Matrix4::GLCS * c->getGLModelViewMatrix();
    const Point3 eye = -(rt.getSubMatrix().transpose() * rt.getSubVector());
    EXPECT_NEAR(eye.norm(), 12.02f, 1e-4f);
    EXPECT_TRUE(near(eye.normalized(), c->getOrigin(1).normalized(), 1e-5f));
    // Every original camera lies beyond the near plane; the far plane grew to take them in.
    for (int i = 0; i < 36; i++)
        EXPECT_LT((c->getGLModelViewMatrix() * c->getOrigin(i)).z, -c->getZNear()) << i;
    EXPECT_NEAR(c->getZFar(), 2 + 2 * 12.02f, 1e-4f);
    // Only once.
    const Matrix4 m = c->getGLModelViewMatrix();
    c->backupPosition();
    c->setPosition(0, 0);
    EXPECT_TRUE(near(c->getGLModelViewMatrix(), m, 1e-6f));
}

TEST(GLCameraMotion, FlatPhotographModeEditsTheCurrentView)
{
    auto c = quietCamera();
    c->setZPlanes(0.5f, 3);
    c->toggleOption(GLCamera::TEXTURE_2D);
    const Point3 t0 = c->getTranslation(0);
    c->panning(10, -20);
    EXPECT_TRUE(near(c->getTranslation(0), t0 + Point3(-0.1f, 0.2f, 0), 1e-6f));
    EXPECT_TRUE(near(c->getGLModelViewMatrix(), c->getGLEMatrix(0), 0));
    EXPECT_EQ(c->getPanning(), Point2(0, 0));

    c->backupPosition();
    c->setPosition(0.3f, -0.1f);
    EXPECT_TRUE(near(c->getGLEMatrix(0), c->getGLModelViewMatrix(), 1e-6f));
    EXPECT_FALSE(near(c->getRotation(0), Matrix3(), 1e-3f));
    EXPECT_TRUE(near(c->getRotation(1), quietCamera()->getRotation(1), 0)) << "other views untouched";
}

TEST(GLCameraMotion, UpdateGeometryAndReset)
{
    auto c = quietCamera();
    EXPECT_EQ(messagesOf([&] { c->updateGeometry(Point3(5, 0, 0), 3); }), "");
    EXPECT_NEAR((c->getOrigin(7) - Point3(5, 0, 0)).norm(), 3, 1e-5f);
    EXPECT_TRUE(near(c->getGLModelViewMatrix(), c->getGLEMatrix(0), 0));
    c->setZPlanes(1, 10);
    c->setFocal(3);
    c->setPanning(Point2(1, 2));
    c->notifyCommand(GLCamera::NEXT_VIEW);
    c->notifyCommand('/');
    c->backupPosition();
    c->setPosition(0.5f, 0.5f);
    c->reset();
    EXPECT_EQ(c->getFocal(), 1);
    EXPECT_EQ(c->getPanning(), Point2(0, 0));
    EXPECT_TRUE(c->isAtOriginalView());
    EXPECT_EQ(c->getCurrentView(), 1);
    EXPECT_TRUE(near(c->getGLModelViewMatrix(), c->getGLEMatrix(1), 0));
    EXPECT_TRUE(near(c->getProjectionMatrix(), c->getGLKMatrix(), 0));
}

// Key "i" goes back to the framing: the built-in camera's own zoom, 1 for a calibrated one.
TEST_F(Cameras, ResetKeepsTheFramingZoom)
{
    auto builtIn = quietCamera();
    builtIn->setFocal(5);
    builtIn->updateGeometry(Point3(0, 0, 0), 10);
    auto calibrated = photoCamera();
    for (HookedCamera *c : {builtIn.get(), calibrated.get()}) {
        const float framed = c->isDefaultCamera() ? 5.0f : 1.0f;
        c->zoomin();
        c->reset();
        EXPECT_FLOAT_EQ(c->getFocal(), framed);
    }
}

// Models of other programs: y up on the screen, seen from +z.
TEST(GLCameraMotion, ViewOfModellingProgramsLooksFromPlusZWithYUp)
{
    auto c = quietCamera();
    c->viewFromPositiveZWithYUp();
    c->setZPlanes(1, 100);
    c->updateGeometry(Point3(1, 2, 3), 10);
    EXPECT_NEAR((c->getOrigin(0) - Point3(1, 2, 13)).norm(), 0, 1e-4f);
    EXPECT_GT(onScreen(*c, Point3(1, 3, 3)).y, onScreen(*c, Point3(1, 2, 3)).y);
    EXPECT_GT(onScreen(*c, Point3(2, 2, 3)).x, onScreen(*c, Point3(1, 2, 3)).x);
    EXPECT_TRUE(near(c->getGLModelViewMatrix(), c->getGLEMatrix(0), 0));
}

TEST_F(Cameras, CommandsAskForARedrawAndUnknownOnesAreRefused)
{
    auto c = photoCamera();
    int redisplays = main.redisplays;
    for (int code : std::initializer_list<int>{'/', '0', '7', '8', '9', 'D', 'd', 'X', 'x', 'Z', 'z', 'b',
                                               'v', 't', 'p', 6000, 6001}) {
        EXPECT_TRUE(c->notifyCommand(code)) << code;
        EXPECT_EQ(main.redisplays, ++redisplays) << code;
    }
    for (int code : std::initializer_list<int>{'a', 'q', 'c', 6002, -1}) {
        EXPECT_FALSE(c->notifyCommand(code)) << code;
        EXPECT_EQ(c->notifyKey(code), 0) << code;
    }
    EXPECT_EQ(main.redisplays, redisplays);
    EXPECT_EQ(c->notifyKey('t'), 1);
}

TEST_F(Cameras, ProjectionAndAxisKeys)
{
    auto c = photoCamera();
    // "0" switches to the orthographic projection and back.
    c->notifyCommand('0');
    EXPECT_EQ(c->getProjectionMode(), 1);
    EXPECT_EQ(c->getProjectionMatrix()(3, 2), 0);
    c->notifyCommand('0');
    EXPECT_EQ(c->getProjectionMatrix()(3, 2), -1);

    // "7", "8" and "9" look at the rotation point along x, y and z.
    const struct {
        int key;
        Point3 axis;
    } keys[] = {{'7', {1, 0, 0}}, {'8', {0, 1, 0}}, {'9', {0, 0, 1}}};
    for (const auto &k : keys) {
        const Matrix4 before = c->getGLModelViewMatrix();
        c->notifyCommand(k.key);
        EXPECT_TRUE(near(c->getBackupModelViewMatrix(), before, 0));
        const Matrix4 &m = c->getGLModelViewMatrix();
        const Point3 step = m * (c->getRotationPoint() + k.axis) - m * c->getRotationPoint();
        EXPECT_TRUE(near(step, Point3(0, 0, -1), 1e-5f)) << char(k.key);
    }
}

TEST_F(Cameras, StateFileRestoresThePicture)
{
    auto a = photoCamera();
    a->notifyCommand(GLCamera::NEXT_VIEW);
    a->backupPosition();
    a->setPosition(0.4f, -0.25f);
    a->setFocal(1.7f);
    a->setPanning(Point2(12, -7));
    const std::string state = dir + "/state.txt";
    a->saveCameraState(state.c_str());
    EXPECT_FALSE(std::filesystem::exists(state + ".tmp"));

    auto b = quietCamera(path.c_str());
    b->attach(&main);
    b->setZPlanes(3, 4);
    const int redisplays = main.redisplays;
    b->loadCameraState(state.c_str());
    EXPECT_EQ(main.redisplays, redisplays + 1);
    EXPECT_EQ(main.reshapedW, 400);
    EXPECT_EQ(main.reshapedH, 300);
    EXPECT_EQ(b->getWindowWidth(), 400);
    EXPECT_EQ(b->getWindowHeight(), 300);
    EXPECT_TRUE(near(b->getGLModelViewMatrix(), a->getGLModelViewMatrix(), 2e-6f));
    EXPECT_TRUE(near(b->getProjectionMatrix(), a->getProjectionMatrix(), 2e-6f));
    EXPECT_NEAR(b->getFocal(), 1.7f, 1e-6f);
    EXPECT_TRUE(nearPoint(b->getPanning(), Point2(12, -7), 1e-6f));
    EXPECT_EQ(b->getZNear(), 1);
    EXPECT_EQ(b->getZFar(), 20);
    // The calibrated projection was recovered: further zooming and panning agree too.
    a->zoomin();
    b->zoomin();
    a->panning(5, 5);
    b->panning(5, 5);
    EXPECT_TRUE(near(b->getFinalKMatrix(), a->getFinalKMatrix(), 2e-5f));
    for (const Point3 &X : {Point3(0, 0.5f, 0), Point3(1, -1, 1)})
        EXPECT_TRUE(nearPoint(onScreen(*b, X), onScreen(*a, X), 1e-3f));

    // The space and "*" keys use cameraState.txt in the working directory.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    a->notifyCommand('*');
    b->notifyCommand(' ');
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(std::filesystem::exists(dir + "/cameraState.txt"));
    EXPECT_TRUE(near(b->getFinalKMatrix(), a->getFinalKMatrix(), 2e-5f));
}

TEST_F(Cameras, StateFileFormat)
{
    auto c = quietCamera();
    c->setZPlanes(0.5f, 4);
    c->setPanning(Point2(1.5f, -2));
    const std::string state = dir + "/format.txt";
    c->saveCameraState(state.c_str());
    std::ifstream in(state);
    std::stringstream text;
    text << in.rdbuf();
    // The OpenGL model-view of view 0 row by row, then the projection.
    const std::string modelView =
        "1.000000 0.000000 0.000000 0.000000\n0.000000 -1.000000 0.000000 0.000000\n"
        "0.000000 0.000000 -1.000000 -1.000000\n0.000000 0.000000 0.000000 1.000000\n";
    EXPECT_EQ(text.str().substr(0, modelView.size()), modelView);
    EXPECT_NE(text.str().find("\n0 0 512 512\n1.500000 -2.000000 1.000000\n0.500000 4.000000\n"),
              std::string::npos)
        << text.str();
}

TEST_F(Cameras, BadStateFilesChangeNothing)
{
    const std::string good = "1 0 0 0\n0 1 0 0\n0 0 1 -5\n0 0 0 1\n"
                             "2 0 0 0\n0 2 0 0\n0 0 -1 -2\n0 0 -1 0\n";
    const struct {
        const char *name;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"matrices only", good},
        {"zero zoom", good + "0 0 400 300\n0 0 0\n1 10\n"},
        {"empty viewport", good + "0 0 0 300\n0 0 1\n1 10\n"},
        {"huge viewport", good + "0 0 4000000000 300\n0 0 1\n1 10\n"},
        {"not a number", "nan 0 0 0\n" + good.substr(8) + "0 0 400 300\n0 0 1\n1 10\n"},
        {"words", "camera state\n"},
    };
    auto c = photoCamera();
    const Matrix4 mv = c->getGLModelViewMatrix(), pr = c->getProjectionMatrix();
    for (const auto &bad : cases) {
        const std::string file = writeFile(dir, "bad.txt", bad.text);
        EXPECT_EQ(messagesOf([&] { c->loadCameraState(file.c_str()); }),
                  "GLCamera: unable to read camera state file:" + file + "\n")
            << bad.name;
        EXPECT_TRUE(near(c->getGLModelViewMatrix(), mv, 0)) << bad.name;
        EXPECT_TRUE(near(c->getProjectionMatrix(), pr, 0)) << bad.name;
        EXPECT_EQ(c->getFocal(), 1) << bad.name;
        EXPECT_EQ(c->getWindowWidth(), 400) << bad.name;
    }
    // A file that is not there, or a save that cannot be written, is ignored quietly.
    EXPECT_EQ(messagesOf([&] { c->loadCameraState((dir + "/none.txt").c_str()); }), "");
    c->saveCameraState((dir + "/no/such/dir.txt").c_str());
    EXPECT_FALSE(std::filesystem::exists(dir + "/no"));
    EXPECT_TRUE(near(c->getGLModelViewMatrix(), mv, 0));
}

TEST_F(Cameras, PrintedStateRecoversTheIntrinsics)
{
    auto c = photoCamera();
    for (const auto &size : {std::pair<int, int>(400, 300), {500, 300}, {300, 500}}) {
        c->resizeWindow(size.first, size.second);
        const std::string text = printedBy([&] { c->notifyCommand('+'); });
        EXPECT_EQ(text.rfind("GL modelview matrix:\n", 0), 0u);
        EXPECT_NE(text.find("GL projection matrix:\n"), std::string::npos);
        EXPECT_NE(text.find("------------------------\n[R|t] matrix:\n"), std::string::npos);
        const size_t at = text.find("K projection matrix:\n");
        ASSERT_NE(at, std::string::npos);
        std::istringstream k(text.substr(at + 21));
        Matrix3 printedK;
        for (int i = 0; i < 9; i++)
            k >> printedK(i / 3, i % 3);
        EXPECT_TRUE(near(printedK, c->getKMatrix(), 1e-3f)) << size.first << "x" << size.second;
    }
}

TEST_F(Cameras, PositionsSnapshotAndRestoreTheCamera)
{
    auto c = photoCamera();
    c->backupPosition();
    c->setPosition(0.2f, 0.1f);
    c->setFocal(1.25f);
    c->setPanning(Point2(-4, 9));
    const Position p = c->getPose();
    EXPECT_EQ(p.focal, 1.25f);
    EXPECT_EQ(p.panning[0], -4);
    EXPECT_TRUE(near(p.getModelViewMatrix(), c->getModelViewMatrix(), 0));
    const Matrix4 shown = c->getGLModelViewMatrix();

    c->reset();
    c->notifyCommand(GLCamera::NEXT_VIEW);
    c->setPose(p);
    EXPECT_TRUE(near(c->getGLModelViewMatrix(), shown, 1e-6f));
    EXPECT_TRUE(near(c->getBackupModelViewMatrix(), shown, 1e-6f));
    EXPECT_EQ(c->getFocal(), 1.25f);
    EXPECT_EQ(c->getPanning(), Point2(-4, 9));
}

TEST(GLCameraAnimationHooks, EditorReceivesInputAndRecordedRotations)
{
    auto c = quietCamera();
    // Turning the animation on makes the flight editor, turning it off destroys it.
    c->setAnimationInterface(true);
    EXPECT_NE(dynamic_cast<GLCameraAnimationImpl *>(c->getAnimation()), nullptr);
    c->setAnimationInterface(false);
    EXPECT_EQ(c->getAnimation(), nullptr);
    c->notifyClick(1, 2);
    c->backupPosition();
    c->setPosition(0.1f, 0);

    bool destroyed = false;
    auto *editor = new FakeAnimation(&destroyed);
    c->attachAnimation(editor);
    c->setAnimationInterface(true);
    EXPECT_EQ(c->getAnimation(), editor) << "an open editor is kept";
    c->notifyClick(3, 4);
    c->notifyDrag(0.5f, -0.25f);
    ASSERT_EQ(editor->clicks.size(), 1u);
    EXPECT_EQ(editor->clicks[0], std::make_pair(3, 4));
    ASSERT_EQ(editor->drags.size(), 1u);
    EXPECT_EQ(editor->drags[0], Point2(0.5f, -0.25f));

    c->setPosition(0.2f, 0);
    EXPECT_EQ(editor->adds, 0);
    c->toggleRecording();
    EXPECT_TRUE(c->isRecording());
    c->setPosition(0.3f, 0);
    c->setPosition(0.4f, 0);
    EXPECT_EQ(editor->adds, 2);

    c->setAnimationInterface(false);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(c->getAnimation(), nullptr);
    c->setPosition(0.5f, 0);
}
