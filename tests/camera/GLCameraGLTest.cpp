#include "camera/GLCamera.h"

#include "camera/CameraTestFiles.h"
#include "camera/GLCameraAnimation.h"
#include "support/GLTestFixture.h"
#include "support/MathCompare.h"
#include "support/CapturedMessages.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

using namespace cameratest;
using testsupport::GLTestFixture;
using testsupport::near;
using testsupport::RgbaImage;

namespace {

template <class T, class... Args> std::unique_ptr<T> quiet(Args... args)
{
    testsupport::CapturedMessages captured;
    auto c = std::make_unique<T>(args...);
    captured.take();
    return c;
}

Matrix4 glMatrix(GLenum which)
{
    float m[16];
    glGetFloatv(which, m);
    return Matrix4(m);
}

// Records the calls of the drawing extension points and the depth test they ran under.
class DrawingCamera : public GLCamera {
public:
    using GLCamera::GLCamera;
    int textures = 0, flat = 0, motion = 0, tangencies = 0;
    GLint depthFunc = 0;

protected:
    void drawTextures() override
    {
        ++textures;
        glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    }
    void draw2DTexture() override { ++flat; }
    void drawCircularMotion() override { ++motion; }
    void drawEpipolarTangencies() override { ++tangencies; }
};

struct CountingAnimation : GLCameraAnimation {
    void notifyClick(int, int) override {}
    void notifyDrag(float, float) override {}
    void notifyKey(int) override {}
    void draw() override { ++draws; }
    void add() override {}
    int draws = 0;
};

class AnimatedCamera : public DrawingCamera {
public:
    using DrawingCamera::DrawingCamera;
    void attach(GLCameraAnimation *a) { attachAnimation(a); }
};

bool dark(const unsigned char *p)
{
    return p[0] < 60 && p[1] < 60 && p[2] < 60;
}

int countDark(const RgbaImage &img, int x0, int y0, int x1, int y1)
{
    int n = 0;
    for (int y = std::max(0, y0); y < std::min(img.height, y1); y++)
        for (int x = std::max(0, x0); x < std::min(img.width, x1); x++)
            n += dark(img.at(x, y));
    return n;
}

class CameraContext : public GLTestFixture {
protected:
    CameraContext() : GLTestFixture(160, 120) {}
};

} // namespace

TEST_F(CameraContext, CameraTakesTheViewportAndKeepsOpenGLInStep)
{
    auto c = quiet<GLCamera>();
    EXPECT_EQ(c->getWindowWidth(), 160);
    EXPECT_EQ(c->getWindowHeight(), 120);
    EXPECT_TRUE(near(glMatrix(GL_MODELVIEW_MATRIX), c->getGLEMatrix(0), 0));

    c->setZPlanes(0.5f, 3);
    c->setFocal(1.5f);
    c->setPanning(Point2(4, -3));
    EXPECT_TRUE(near(glMatrix(GL_PROJECTION_MATRIX), c->getFinalKMatrix(), 0));
    c->notifyCommand(GLCamera::NEXT_VIEW);
    EXPECT_TRUE(near(glMatrix(GL_MODELVIEW_MATRIX), c->getGLEMatrix(1), 0));
    c->backupPosition();
    c->setPosition(0.3f, 0.2f);
    EXPECT_TRUE(near(glMatrix(GL_MODELVIEW_MATRIX), c->getGLModelViewMatrix(), 0));
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);

    c->resizeWindow(100, 80);
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    EXPECT_EQ(vp[2], 100);
    EXPECT_EQ(vp[3], 80);
    EXPECT_TRUE(near(glMatrix(GL_PROJECTION_MATRIX), c->getFinalKMatrix(), 0));

    // Another drawing left its matrices and viewport behind: the camera's come back whole.
    glViewport(0, 0, 10, 10);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    c->loadMatrices();
    glGetIntegerv(GL_VIEWPORT, vp);
    EXPECT_EQ(vp[2], 100);
    EXPECT_TRUE(near(glMatrix(GL_PROJECTION_MATRIX), c->getFinalKMatrix(), 0));
    EXPECT_TRUE(near(glMatrix(GL_MODELVIEW_MATRIX), c->getGLModelViewMatrix(), 0));
    expectNoGLError();
}

TEST_F(CameraContext, DrawCallsTheExtensionPointsAndLabelsTheView)
{
    auto c = quiet<AnimatedCamera>();
    c->setZPlanes(0.5f, 3);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    c->draw();
    EXPECT_EQ(c->textures + c->flat + c->motion + c->tangencies, 0);
    EXPECT_EQ(countDark(capture(), 0, 0, 160, 120), 0) << "nothing to draw";

    c->notifyCommand('b');
    c->draw();
    EXPECT_EQ(c->textures, 1);
    EXPECT_EQ(c->depthFunc, GL_LESS);
    // "camera 00" in the lower left corner, 10 pixels in from both edges.
    const RgbaImage labelled = capture();
    EXPECT_GT(countDark(labelled, 10, 120 - 22, 80, 120 - 8), 20);
    EXPECT_EQ(countDark(labelled, 0, 0, 160, 120 - 26), 0);
    GLint func = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &func);
    EXPECT_EQ(func, GL_LESS);

    // Transparent photographs ignore depth while they are drawn.
    c->notifyCommand('t');
    c->draw();
    EXPECT_EQ(c->depthFunc, GL_ALWAYS);
    glGetIntegerv(GL_DEPTH_FUNC, &func);
    EXPECT_EQ(func, GL_LESS);

    // Away from the original view there is no label.
    c->notifyCommand('/');
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    c->draw();
    EXPECT_EQ(countDark(capture(), 0, 0, 160, 120), 0);

    c->toggleOption(GLCamera::TEXTURE_2D | GLCamera::CIRCULAR_MOTION | GLCamera::EPIPOLAR_TANGENCIES);
    auto *editor = new CountingAnimation;
    c->attach(editor);
    c->draw();
    EXPECT_EQ(c->flat, 1);
    EXPECT_EQ(c->textures, 3);
    EXPECT_EQ(c->motion, 1);
    EXPECT_EQ(c->tangencies, 1);
    EXPECT_EQ(editor->draws, 1);
    expectNoGLError();
}

TEST_F(CameraContext, MarkerDrawingRestoresTheState)
{
    auto c = quiet<GLCamera>();
    c->setZPlanes(0.5f, 3);
    c->toggleOption(GLCamera::CAMERA_ORIGINS | GLCamera::CAMERA_TRAJECTORY);
    glColor3f(0.2f, 0.4f, 0.6f);
    const Matrix4 before = glMatrix(GL_MODELVIEW_MATRIX);
    c->draw();
    c->drawCamera(Point3(0, 0, 0), Point3(1, 2, 3));
    expectNoGLError();
    EXPECT_TRUE(near(glMatrix(GL_MODELVIEW_MATRIX), before, 0));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    float colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(colour[1], 0.4f);
    float width = 0;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_EQ(width, 1);
}

namespace {

// The scene manager's view state: grey background, depth test, culled back faces, light 0.
void sceneState()
{
    glClearColor(0.75f, 0.75f, 0.75f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glShadeModel(GL_SMOOTH);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_LIGHT0);
}

class MarkerView : public GLTestFixture {
protected:
    MarkerView() : GLTestFixture(256, 256) {}
};

} // namespace

TEST_F(MarkerView, DefaultCameraMarkersAndTrajectoryFromOutside)
{
    auto c = quiet<GLCamera>();
    c->toggleOption(GLCamera::CAMERA_ORIGINS | GLCamera::CAMERA_TRAJECTORY);
    sceneState();
    // Seen from above and outside the circle of the 36 cameras.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-0.3, 0.3, -0.3, 0.3, 0.5, 10);
    glMatrixMode(GL_MODELVIEW);
    const Pose outside = lookAt(Point3(0.3f, 1.1f, -1.7f), Point3(0, 0, 0.2f));
    const Matrix4 view = Matrix4::GLCS * Matrix4(outside.R, outside.t);
    glLoadMatrixf(view);
    c->draw();
    expectNoGLError();
    const RgbaImage img = capture();

    // Every camera centre is on the black trajectory: a dark pixel within two pixels.
    const Matrix4 frustum = glMatrix(GL_PROJECTION_MATRIX);
    const auto window = [&](Point3 X) {
        float clip[4];
        (frustum * view).product(clip, X);
        return std::make_pair(int((clip[0] / clip[3] + 1) / 2 * 256), int((1 - clip[1] / clip[3]) / 2 * 256));
    };
    for (int i = 0; i < 36; i++) {
        const auto [x, y] = window(c->getOrigin(i));
        EXPECT_GT(countDark(img, x - 2, y - 2, x + 3, y + 3), 0) << "camera " << i;
    }
    // The world axes at the rotation point: red, green and blue arrows.
    const auto [ox, oy] = window(c->getRotationPoint());
    int red = 0, green = 0, blue = 0;
    for (int y = oy - 16; y < oy + 16; y++)
        for (int x = ox - 16; x < ox + 16; x++) {
            const unsigned char *p = img.at(x, y);
            red += p[0] > 150 && p[1] < 80 && p[2] < 80;
            green += p[1] > 150 && p[0] < 80 && p[2] < 80;
            blue += p[2] > 150 && p[0] < 80 && p[1] < 80;
        }
    EXPECT_GT(red, 0);
    EXPECT_GT(green, 0);
    EXPECT_GT(blue, 0);

    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("CameraMarkersTrajectory", img, message)) << message;
    EXPECT_EQ(c->getMarkers().getPyramidCount(), 36u);

    // Seen through a field ten times as wide, each marker is under three pixels: all 36 are points.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-3, 3, -3, 3, 0.5, 100);
    glMatrixMode(GL_MODELVIEW);
    c->draw();
    EXPECT_EQ(c->getMarkers().getPointCount(), 36u);
    EXPECT_EQ(c->getMarkers().getPyramidCount(), 0u);
}

namespace {

class CubeView : public GLTestFixture {
protected:
    // The photograph's aspect ratio, 640 x 480.
    CubeView() : GLTestFixture(128, 96) {}
};

// The unit cube [0, 1]^3 with a colour per face, faces counter-clockwise from outside.
void drawUnitCube()
{
    static const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                    {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    static const float colours[6][3] = {{1, 0, 0}, {0, 1, 1}, {0, 1, 0}, {1, 0, 1}, {0, 0, 1}, {1, 1, 0}};
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT);
    glDisable(GL_LIGHTING);
    glBegin(GL_QUADS);
    for (int f = 0; f < 6; f++) {
        glColor3fv(colours[f]);
        for (int k : faces[f])
            glVertex3f(float(k & 1), float((k >> 1) & 1), float((k >> 2) & 1));
    }
    glEnd();
    glPopAttrib();
}

} // namespace

TEST_F(CubeView, VersionFourViewZeroSeesTheCubeAsPhotographed)
{
    const float W = 640, H = 480, cx = 300, cy = 250, fx = 700, fy = 700;
    const Pose pose = lookAt(Point3(2.5f, 2.2f, -3), Point3(0.5f, 0.5f, 0.5f));
    const std::string dir = testsupport::makeTempDir("CubeView");
    const std::string path =
        writeFile(dir, "cube.dat",
                  version4(W, H, cx, cy, fx, fy, {pose, lookAt(Point3(-3, 1, 0), Point3(0.5f, 0.5f, 0.5f))}));
    auto c = quiet<GLCamera>(path.c_str());
    c->setZPlanes(1, 10);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    drawUnitCube();
    expectNoGLError();
    const RgbaImage img = capture();

    // The cube covers the box of its corners' pixels in the photograph, scaled to the window.
    float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
    for (int k = 0; k < 8; k++) {
        const Point2 p =
            pixel(fx, fy, cx, cy, pose, Point3(float(k & 1), float((k >> 1) & 1), float((k >> 2) & 1))) *
            (128 / W);
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    int lo[2] = {1000, 1000}, hi[2] = {-1, -1};
    for (int y = 0; y < img.height; y++)
        for (int x = 0; x < img.width; x++)
            if (!dark(img.at(x, y))) {
                lo[0] = std::min(lo[0], x);
                lo[1] = std::min(lo[1], y);
                hi[0] = std::max(hi[0], x + 1);
                hi[1] = std::max(hi[1], y + 1);
            }
    EXPECT_NEAR(lo[0], minX, 1.5f);
    EXPECT_NEAR(hi[0], maxX, 1.5f);
    EXPECT_NEAR(lo[1], minY, 1.5f);
    EXPECT_NEAR(hi[1], maxY, 1.5f);

    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("CameraCubeView0", img, message)) << message;
}
