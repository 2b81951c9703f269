#include "app/GLMachine.h"

#include "camera/GLCamera.h"
#include "app/OffscreenWindow.h"
#include "app/SceneWindow.h"
#include "support/ImageCompare.h"
#include "support/Process.h"
#include "objects/GL3DObject.h"
#include "objects/GL3DObjectLoader.h"
#include "objects/GLPointListObject.h"
#include "support/TestObject.h"
#include "../camera/CameraTestFiles.h"
#include "../camera/ReconstructionTestFiles.h"
#include "support/CapturedMessages.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::TestObject;

// A box that records what the scene manager asks of it.
class RecordingBox : public TestObject {
public:
    RecordingBox(Point3 lo, Point3 hi) : TestObject(boxPoints(lo, hi)) {}
    void notifyClick(int x, int y) override { events.push_back("click " + std::to_string(x) + "," + std::to_string(y)); }
    void notifyAdditionalClick(int x, int y, int mode) override
    {
        events.push_back("extra " + std::to_string(x) + "," + std::to_string(y) + " mode " + std::to_string(mode));
    }
    int notifyCommand(int key) override
    {
        events.push_back("key " + std::to_string(key));
        return key == 'k';
    }
    std::vector<std::string> events;

private:
    static std::vector<float> boxPoints(Point3 lo, Point3 hi)
    {
        std::vector<float> p;
        for (int i = 0; i < 8; ++i)
            p.insert(p.end(), {i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z});
        return p;
    }
};

class Machine : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = testsupport::makeTempDir("GLMachine");
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        previousDir = buf;
        // Captures go to the working folder.
        ASSERT_EQ(chdir(dir.c_str()), 0);
        machine.reset(new GLMachine(64, 48));
    }
    void TearDown() override
    {
        machine.reset();
        ASSERT_EQ(chdir(previousDir.c_str()), 0);
    }

    RecordingBox *addBox(Point3 lo, Point3 hi, const char *name = "box")
    {
        RecordingBox *box = new RecordingBox(lo, hi);
        EXPECT_EQ(machine->registerObject(box, name), box);
        return box;
    }

    std::string dir, previousDir;
    std::unique_ptr<GLMachine> machine;
};

TEST_F(Machine, EmptySceneDrawsTheGreyBackground)
{
    std::vector<unsigned char> rgb(64 * 48 * 3);
    machine->getFrameBuffer(rgb.data());
    EXPECT_EQ(rgb[0], 191);
    EXPECT_EQ(rgb[rgb.size() / 2 + 1], 191);
    EXPECT_TRUE(machine->getWindow()->isOffscreen());
    EXPECT_EQ(machine->getCurrentCamera(), nullptr);
    // Without a camera, input changes nothing and does not fail.
    machine->notifyClick(InputEvent::press(4), 1, 1);
    machine->notifyDrag(InputEvent::motion(1), 5, 5);
}

TEST_F(Machine, CapturesShareOneCounterAndAreTopRowFirst)
{
    ASSERT_NE(machine->registerObject("default.dat"), nullptr);
    // Each capture names the file it wrote.
    testsupport::CapturedMessages captured;
    machine->notifyCommand('c');
    machine->notifyCommand('C');
    machine->setCaptureScale(2);
    machine->notifyCommand('c');
    const std::string said = captured.take();
    EXPECT_EQ(said.find("GLMachine: capture saved as capture0000.png\n"), 0u) << said;
    EXPECT_NE(said.find("GLMachine: capture saved as capture0001.eps\n"), std::string::npos) << said;
    EXPECT_NE(said.find("GLMachine: capture saved as capture0002.png\n"), std::string::npos) << said;
    machine->setCaptureScale(1);
    EXPECT_TRUE(std::filesystem::exists(dir + "/capture0000.png"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/capture0001.png"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/capture0001.eps"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/capture0002.png"));
    EXPECT_EQ(machine->getCaptureCounter(), 3);

    testsupport::RgbaImage image;
    std::string error;
    ASSERT_TRUE(testsupport::readPng(dir + "/capture0000.png", image, error)) << error;
    EXPECT_EQ(image.width, 64);
    EXPECT_EQ(image.height, 48);
    EXPECT_EQ(image.at(0, 0)[0], 191);
    EXPECT_EQ(image.at(0, 0)[3], 255) << "captures are opaque";
}

// A window whose buffer holds nothing defined once a frame is shown, as GLX allows: painted
// over at every swap.
class SpoilingWindow : public OffscreenWindow {
public:
    using OffscreenWindow::OffscreenWindow;
    void swapBuffers(bool) override
    {
        GLfloat clear[4];
        glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
        glClearColor(1, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(clear[0], clear[1], clear[2], clear[3]);
    }
};

TEST(GLMachineCapture, FramesAreReadBeforeTheyAreShown)
{
    const std::string dir = testsupport::makeTempDir("GLMachineSpoiled");
    GLMachine machine(64, 48, [](GLMachine *m, int w, int h) {
        return std::unique_ptr<SceneWindow>(new SpoilingWindow(m, w, h));
    });
    testsupport::CapturedMessages captured;
    ASSERT_NE(machine.registerObject("default.dat"), nullptr);
    captured.take();
    const std::string png = dir + "/frame.png";
    ASSERT_TRUE(machine.saveFrameBuffer(png.c_str()));
    testsupport::RgbaImage image;
    std::string error;
    ASSERT_TRUE(testsupport::readPng(png, image, error)) << error;
    EXPECT_EQ(image.at(0, 0)[0], 191) << "the background, not what the window holds after the swap";
    std::vector<unsigned char> rgb(64 * 48 * 3);
    machine.getFrameBuffer(rgb.data());
    EXPECT_EQ(rgb[0], 191);
}

TEST_F(Machine, CameraFilesAndTheDefaultCamera)
{
    // A name ending in "dat" is a camera file; one that cannot be read registers nothing.
    testsupport::CapturedMessages captured;
    EXPECT_EQ(machine->registerObject((dir + "/missing.dat").c_str()), nullptr);
    captured.take();
    EXPECT_EQ(machine->getNCameras(), 0);

    // An object file the loader does not know registers nothing and brings no camera.
    testsupport::CapturedMessages captured2;
    EXPECT_EQ(machine->registerObject((dir + "/mesh.xyz").c_str()), nullptr);
    EXPECT_NE(captured2.take().find("unable to load"), std::string::npos);
    EXPECT_EQ(machine->getNCameras(), 0);

    // "param.dat" beside the object wins over the built-in camera.
    cameratest::writeFile(dir, "param.dat",
                          cameratest::version4(640, 480, 320, 240, 800, 800,
                                               {cameratest::lookAt(Point3(0, 0, -5), Point3(0, 0, 0))}));
    testsupport::CapturedMessages captured3;
    GLCamera *camera = machine->registerDefaultCamera(dir.c_str());
    captured3.take();
    ASSERT_NE(camera, nullptr);
    EXPECT_FALSE(camera->isDefaultCamera());
    EXPECT_EQ(machine->getCurrentCamera(), camera);
    EXPECT_EQ(machine->getFocus(), camera);

    // Without it the built-in camera stands in.
    const std::string empty = dir + "/empty";
    std::filesystem::create_directories(empty);
    testsupport::CapturedMessages captured4;
    GLCamera *builtIn = machine->registerDefaultCamera(empty.c_str());
    captured4.take();
    ASSERT_NE(builtIn, nullptr);
    EXPECT_TRUE(builtIn->isDefaultCamera());
    EXPECT_EQ(machine->getNCameras(), 2);

    // A directory name far longer than any fixed buffer is handled.
    testsupport::CapturedMessages captured5;
    EXPECT_NE(machine->registerDefaultCamera(std::string(4000, 'd').c_str()), nullptr);
    captured5.take();
}

// The built-in camera looks at the viewer's own files as it always did (from -z, y down),
// at other programs' meshes and clouds as they do (from +z, y up), at surveys from above;
// an up axis chosen by the user holds for every file.
TEST_F(Machine, TheBuiltInCameraStandsAsTheFileOrTheUpAxisSays)
{
    const std::string ply =
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
        "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    const std::string off = "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    const std::string cloud = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                              "property float z\nend_header\n0 0 0\n1 0 0\n0 1 0\n";
    const std::string survey = "tests/fuzz/seeds/las_binary/format0.las";
    const std::string facet = "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\n"
                              "endfacet\nendsolid\n";
    const struct {
        const char *name;
        std::string content; ///< empty: copied from `from`, a file or the file's folder
        std::string from;    ///< in the source tree
        UpAxis axis;
        Point3 up, towardsEye; ///< world directions on the screen's up and out of it
    } cases[] = {
        {"tri.ply", ply, "", UpAxis::ByFile, {0, 1, 0}, {0, 0, 1}},
        {"tri.off", off, "", UpAxis::ByFile, {0, 1, 0}, {0, 0, 1}},
        {"cloud.ply", cloud, "", UpAxis::ByFile, {0, 1, 0}, {0, 0, 1}},
        {"cloud.xyz", "0 0 0\n1 0 0\n0 1 0\n", "", UpAxis::ByFile, {0, 1, 0}, {0, 0, 1}},
        {"own.las", "0 0 0\n1 0 0\n0 1 0\n", "", UpAxis::ByFile, {0, -1, 0}, {0, 0, -1}},
        {"survey.las", "", survey, UpAxis::ByFile, {0, 0.94f, 0.34f}, {0, -0.34f, 0.94f}},
        {"survey.laz", "", "tests/data/laz/simple.laz", UpAxis::ByFile, {0, 0.94f, 0.34f}, {0, -0.34f, 0.94f}},
        {"tiles/ept.json", "", "tests/data/ept/1.2-with-color", UpAxis::ByFile, {0, 0.94f, 0.34f}, {0, -0.34f, 0.94f}},
        {"own.las", "0 0 0\n1 0 0\n0 1 0\n", "", UpAxis::PlusY, {0, 1, 0}, {0, 0, 1}},
        {"survey.las", "", survey, UpAxis::PlusY, {0, 1, 0}, {0, 0, 1}},
        {"tri.ply", ply, "", UpAxis::PlusZ, {0, 0.34f, 0.94f}, {0, -0.94f, 0.34f}},
        // OpenSCAD says it wrote the file, and models z up; another STL is y up.
        {"part.stl", "solid OpenSCAD_Model\n" + facet, "", UpAxis::ByFile, {0, 0.34f, 0.94f}, {0, -0.94f, 0.34f}},
        {"part.stl", "solid part\n" + facet, "", UpAxis::ByFile, {0, 1, 0}, {0, 0, 1}},
    };
    for (const auto &c : cases) {
        const std::string name = std::string(upaxis::name(c.axis)) + " " + c.name;
        machine.reset(new GLMachine(64, 48));
        machine->setUpAxis(c.axis);
        const std::filesystem::path from = std::string(VELMORA_SOURCE_DIR) + "/" + c.from, to = dir + "/" + c.name;
        if (c.content.empty())
            std::filesystem::copy(from, std::filesystem::is_directory(from) ? to.parent_path() : to,
                                  std::filesystem::copy_options::overwrite_existing |
                                      std::filesystem::copy_options::recursive);
        else
            std::ofstream(to) << c.content;
        testsupport::CapturedMessages captured;
        ASSERT_NE(machine->registerObject((dir + "/" + c.name).c_str()), nullptr) << captured.take();
        captured.take();
        GLCamera *camera = machine->getCurrentCamera();
        ASSERT_NE(camera, nullptr);
        EXPECT_TRUE(camera->isDefaultCamera());
        // Rows 1 and 2 of the OpenGL model-view: the world directions of the eye's y and z.
        const Matrix4 &m = camera->getGLModelViewMatrix();
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(m(1, k), c.up[k], 0.02f) << name << " up " << k;
            EXPECT_NEAR(m(2, k), c.towardsEye[k], 0.02f) << name << " out " << k;
        }
    }
    // A Potree cloud is a survey as well.
    const float point[3] = {0, 0, 0};
    const PointListRecord one{1, point, nullptr, nullptr};
    EXPECT_EQ(GL3DObjectLoader::frameOf("potree/metadata.json", GLPointListObject(&one)),
              GL3DObjectLoader::ModelFrame::ZUp);
}

// An arrow pointing up +y, its face turned to -z, as other programs' OFF files come: it
// shows upright, and lit although it is seen from behind.
TEST_F(Machine, AnOffFileOfAnotherProgramShowsUprightFromBothSides)
{
    std::ofstream(dir + "/arrow.off") << "OFF\n3 1 0\n-0.3 0 0\n0 1 0\n0.3 0 0\n3 0 1 2\n";
    testsupport::CapturedMessages captured;
    ASSERT_NE(machine->registerObject((dir + "/arrow.off").c_str()), nullptr) << captured.take();
    machine->fitAll();
    captured.take();
    std::vector<unsigned char> rgb(64 * 48 * 3);
    machine->getFrameBuffer(rgb.data());
    // Rows bottom first: the width drawn on each.
    std::vector<int> widths;
    for (int y = 0; y < 48; ++y) {
        int width = 0;
        for (int x = 0; x < 64; ++x)
            width += rgb[3 * (64 * y + x)] != 191;
        if (width > 0)
            widths.push_back(width);
    }
    ASSERT_GE(widths.size(), 8u) << "the arrow is drawn";
    EXPECT_GT(widths[1], 2 * widths[widths.size() - 2]) << "wide at the bottom, pointed at the top";
}

// A sphere as other programs' OFF files come, every other face turned inside out (as in
// CGAL's blobby-shuffled): it shows as the same sphere with its faces all one way, without
// the speckle of normals that cancel out.
TEST_F(Machine, AnOffMeshWithFacesTurnedEitherWayShowsAsTheConsistentOne)
{
    const int rings = 12, slices = 24;
    std::string vertices, faces[2];
    int nFaces = 0;
    for (int i = 0; i <= rings; ++i)
        for (int j = 0; j < slices; ++j) {
            const double a = M_PI * i / rings, b = 2 * M_PI * j / slices;
            vertices += std::to_string(std::sin(a) * std::cos(b)) + " " + std::to_string(std::cos(a)) + " " +
                        std::to_string(std::sin(a) * std::sin(b)) + "\n";
        }
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < slices; ++j) {
            const int p = i * slices + j, q = i * slices + (j + 1) % slices;
            for (const auto &t : {std::array<int, 3>{p, q, q + slices}, std::array<int, 3>{p, q + slices, p + slices}}) {
                const std::string on = " " + std::to_string(t[0]), turned = " " + std::to_string(t[2]);
                const std::string rest = " " + std::to_string(t[1]) + " ";
                faces[0] += "3" + on + " " + std::to_string(t[1]) + turned + "\n";
                faces[1] += nFaces % 2 ? "3" + on + " " + std::to_string(t[1]) + turned + "\n"
                                       : "3" + turned + rest + std::to_string(t[0]) + "\n";
                ++nFaces;
            }
        }
    const std::string head = "OFF\n" + std::to_string((rings + 1) * slices) + " " + std::to_string(nFaces) + " 0\n";
    std::vector<unsigned char> frames[2];
    for (int k = 0; k < 2; ++k) {
        // The old scene goes first: its context is released with it.
        machine.reset();
        machine.reset(new GLMachine(64, 48));
        const std::string path = dir + "/sphere" + std::to_string(k) + ".off";
        std::ofstream(path) << head << vertices << faces[k];
        testsupport::CapturedMessages captured;
        ASSERT_NE(machine->registerObject(path.c_str()), nullptr) << captured.take();
        captured.take();
        frames[k].resize(64 * 48 * 3);
        machine->getFrameBuffer(frames[k].data());
    }
    int speckled = 0, drawn = 0;
    for (size_t i = 0; i < frames[0].size(); i += 3) {
        drawn += frames[0][i] != 191;
        speckled += std::abs(frames[0][i] - frames[1][i]) > 24;
    }
    EXPECT_GT(drawn, 400);
    EXPECT_LT(speckled, drawn / 50) << "of " << drawn << " pixels drawn";
}

// A flat face seen face-on, as the faces of a cube in a PLY file are, keeps its shade: the
// default material's light adds up to less than white.
TEST_F(Machine, AFlatFaceSeenFaceOnIsLitNotBurntOut)
{
    std::ofstream(dir + "/face.ply") << "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
                                        "property float z\nelement face 1\nproperty list uchar int vertex_indices\n"
                                        "end_header\n-1 -1 0\n1 -1 0\n1 1 0\n-1 1 0\n4 0 1 2 3\n";
    testsupport::CapturedMessages captured;
    ASSERT_NE(machine->registerObject((dir + "/face.ply").c_str()), nullptr) << captured.take();
    captured.take();
    std::vector<unsigned char> rgb(64 * 48 * 3);
    machine->getFrameBuffer(rgb.data());
    const unsigned char centre = rgb[3 * (64 * 24 + 32)];
    EXPECT_GT(centre, 150);
    EXPECT_LT(centre, 245) << "not burnt out to white";
}

// Shadows fall from a light above the scene on the ground under it: a box standing on the
// ground, seen from a little above, casts one there; seen level with the ground, or with
// nothing that casts one, the key says why nothing shows.
TEST_F(Machine, ShadowsFallOnTheGroundOrTheKeySaysWhyNot)
{
    std::string box = "ply\nformat ascii 1.0\nelement vertex 8\nproperty float x\nproperty float y\nproperty float z\n"
                      "element face 6\nproperty list uchar int vertex_indices\nend_header\n";
    for (int i = 0; i < 8; ++i)
        box += std::to_string(i & 1) + " " + std::to_string((i >> 1) & 1) + " " + std::to_string(i >> 2) + "\n";
    box += "4 0 2 3 1\n4 4 5 7 6\n4 0 1 5 4\n4 2 6 7 3\n4 0 4 6 2\n4 1 3 7 5\n";
    // A ring of photographs taken from 30 degrees above the box's middle, y up: the ground is
    // their common down, whatever the axis the file's views turn about.
    std::vector<cameratest::Pose> ring;
    for (int i = 0; i < 12; ++i)
        ring.push_back(cameratest::lookAt(Point3(0.5f + 4 * std::cos(i * 0.5236f), 2.5f, 0.5f + 4 * std::sin(i * 0.5236f)),
                                          Point3(0.5f, 0.5f, 0.5f)));
    const struct {
        const char *name;
        std::string content;
        UpAxis axis;
        std::string camera; ///< a camera file's text, or none
        const char *said;   ///< null: a shadow shows
    } cases[] = {
        {"box.ply", box, UpAxis::PlusZ, "", nullptr},
        {"box.ply", box, UpAxis::PlusY, cameratest::version4(64, 48, 32, 24, 100, 100, ring), nullptr},
        {"box.ply", box, UpAxis::PlusY, "", "seen edge on"},
        {"points.xyz", "0 0 0\n1 0 0\n0 1 0\n", UpAxis::PlusZ, "", "only meshes cast shadows"},
    };
    for (const auto &c : cases) {
        machine.reset();
        machine.reset(new GLMachine(64, 48));
        machine->setUpAxis(c.axis);
        std::ofstream(dir + "/" + c.name) << c.content;
        testsupport::CapturedMessages captured;
        if (!c.camera.empty()) {
            std::ofstream(dir + "/ring.dat") << c.camera;
            ASSERT_NE(machine->registerObject((dir + "/ring.dat").c_str()), nullptr) << captured.take();
        }
        ASSERT_NE(machine->registerObject((dir + "/" + c.name).c_str()), nullptr) << captured.take();
        captured.take();
        std::vector<unsigned char> without(64 * 48 * 3), with(64 * 48 * 3);
        machine->getFrameBuffer(without.data());
        testsupport::CapturedMessages toggled;
        machine->notifyCommand('s');
        const std::string said = toggled.take();
        machine->getFrameBuffer(with.data());
        // The shadow's pixels: the background before, the shadow's grey now. The light stands
        // to the left: the shadow falls to the right of the box in the middle of the view.
        int shadow = 0, right = 0;
        for (size_t i = 0; i < with.size(); i += 3)
            if (without[i] == 191 && std::abs(with[i] - 77) <= 2 && with[i + 2] == with[i]) {
                ++shadow;
                right += (i / 3) % 64 >= 32;
            }
        if (!c.said) {
            EXPECT_GT(shadow, 40) << c.name << ": the shadow's pixels";
            EXPECT_EQ(right, shadow) << c.name << ": the shadow falls to the right";
            EXPECT_EQ(said, "") << c.name;
        } else {
            EXPECT_NE(said.find(c.said), std::string::npos) << c.name << ": " << said;
        }
    }
}

// After the planes were pushed into the scene or the camera far away, the fit and the reset
// bring every object back into the picture, filling it, in perspective and orthographic.
TEST_F(Machine, FitAllAndTheResetFrameTheScene)
{
    // Two boxes apart, one of them small: the fit takes both.
    ASSERT_NE(machine->registerObject("default.dat"), nullptr);
    for (TestObject *box : {TestObject::box(Point3(-1, -1, -1), Point3(1, 1, 1)),
                            TestObject::box(Point3(4, 0, 0), Point3(4.5f, 0.5f, 0.5f))}) {
        box->useSurface();
        ASSERT_EQ(machine->registerObject(box, "box"), box);
    }
    testsupport::CapturedMessages captured;
    const auto coverage = [this](int &left, int &right, int &bottom, int &top) {
        std::vector<unsigned char> rgb(64 * 48 * 3);
        machine->getFrameBuffer(rgb.data());
        left = 64, right = -1, bottom = 48, top = -1;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                if (rgb[3 * (64 * y + x)] != 191) {
                    left = std::min(left, x), right = std::max(right, x);
                    bottom = std::min(bottom, y), top = std::max(top, y);
                }
        return right >= 0;
    };
    const struct {
        const char *lost, *back;
    } cases[] = {
        {"ddddd", "f"}, {"XXXXXXXXXXXXXXXXXX", "f"}, {"0zzzzzzzzzz", "f"}, {"ddddd", "i"}, {"XXXXXXXXXXXXXXXXXXdd", "i"},
    };
    for (const auto &c : cases) {
        machine->notifyCommand('i');
        if (machine->getCurrentCamera()->getProjectionMode() != 0)
            machine->notifyCommand('0');
        for (const char *k = c.lost; *k; ++k)
            machine->notifyCommand(*k);
        int left, right, bottom, top;
        const bool before = coverage(left, right, bottom, top);
        const bool outside = left == 0 || bottom == 0 || right == 63 || top == 47;
        EXPECT_TRUE(!before || outside || right - left < 16) << c.lost << ": the scene is still in view";
        machine->notifyCommand(*c.back);
        ASSERT_TRUE(coverage(left, right, bottom, top)) << c.lost << " then " << c.back;
        EXPECT_GT(left, 0) << c.lost << " then " << c.back;
        EXPECT_LT(right, 63) << c.lost << " then " << c.back;
        if (*c.back == 'f') {
            // The bounding sphere fills the window's height: the two boxes, side by side, span
            // more than a third of its width.
            EXPECT_GT(right - left, 24) << c.lost << ": the fit fills the view";
        }
    }
    captured.take();
}

// The triad is drawn over the scene in its corner, in the axes' colours, and goes again.
TEST_F(Machine, TheOrientationTriadShowsOnItsKey)
{
    ASSERT_NE(machine->registerObject("default.dat"), nullptr);
    std::vector<unsigned char> without(64 * 48 * 3), with(64 * 48 * 3);
    machine->getFrameBuffer(without.data());
    machine->notifyCommand('o');
    EXPECT_TRUE(machine->getTriad());
    machine->getFrameBuffer(with.data());
    // The built-in camera looks along z: x and y show as lines, z (a point) may not.
    int red = 0, green = 0;
    for (size_t i = 0; i < with.size(); i += 3) {
        red += with[i] > 200 && with[i + 1] < 60 && with[i + 2] < 60;
        green += with[i + 1] > 200 && with[i] < 60 && with[i + 2] < 60;
    }
    EXPECT_GT(red, 2);
    EXPECT_GT(green, 2);
    machine->notifyCommand('o');
    machine->getFrameBuffer(with.data());
    EXPECT_EQ(with, without);
}

TEST_F(Machine, ObjectsAreFittedNumberedReorderedAndRemoved)
{
    testsupport::CapturedMessages captured;
    GLCamera *camera = static_cast<GLCamera *>(machine->registerObject("default.dat"));
    captured.take();
    ASSERT_NE(camera, nullptr);
    RecordingBox *a = addBox(Point3(-1, -1, -1), Point3(1, 1, 1), "a");
    // The default camera frames the scene: zoom factor 5, planes around the object.
    EXPECT_FLOAT_EQ(camera->getFocal(), 5.0f);
    EXPECT_GT(camera->getZFar(), camera->getZNear());
    EXPECT_GE(camera->getZNear(), 0.0f);
    EXPECT_EQ(machine->getFocus(), a);
    EXPECT_EQ(machine->getCurrentObject(), a);

    RecordingBox *b = addBox(Point3(4, 0, 0), Point3(5, 1, 1), "b");
    RecordingBox *c = addBox(Point3(0, 4, 0), Point3(1, 5, 1), "c");
    EXPECT_EQ(a->getID(), 0);
    EXPECT_EQ(b->getID(), 1);
    EXPECT_EQ(c->getID(), 2);

    EXPECT_TRUE(machine->swapObjects(a, c));
    EXPECT_EQ(machine->getObject(0), c);
    EXPECT_EQ(c->getID(), 0);
    EXPECT_EQ(a->getID(), 2);
    EXPECT_EQ(machine->getObject(3), nullptr);

    machine->setFocus(b);
    EXPECT_EQ(machine->getCurrentObject(), b);
    const Point3 rp = camera->getRotationPoint();
    EXPECT_NEAR(rp.x, 4.5f, 1e-5);

    // Removing the current object moves the focus to the object now at its index.
    EXPECT_TRUE(machine->unregisterObject(b));
    EXPECT_EQ(machine->getNObjects(), 2);
    EXPECT_EQ(machine->getObject(1), a);
    EXPECT_EQ(a->getID(), 1);
    EXPECT_EQ(machine->getCurrentObject(), a);
    EXPECT_EQ(machine->getFocus(), a);
    EXPECT_FALSE(machine->unregisterObject(b)) << "no longer registered";

    EXPECT_TRUE(machine->unregisterObject(a));
    EXPECT_TRUE(machine->unregisterObject(c));
    EXPECT_EQ(machine->getNObjects(), 0);
    EXPECT_EQ(machine->getCurrentObject(), nullptr);
    EXPECT_FLOAT_EQ(machine->getShadowPlaneOffset(), -1.0f);

    EXPECT_TRUE(machine->unregisterObject(camera));
    EXPECT_EQ(machine->getCurrentCamera(), nullptr);
    EXPECT_EQ(machine->getFocus(), nullptr);
}

TEST_F(Machine, ClicksDragsAndKeysReachCameraAndObject)
{
    testsupport::CapturedMessages captured;
    GLCamera *camera = static_cast<GLCamera *>(machine->registerObject("default.dat"));
    captured.take();
    RecordingBox *box = addBox(Point3(-1, -1, -1), Point3(1, 1, 1));
    const float zoom = camera->getFocal();

    // Wheel steps zoom without a press.
    machine->notifyClick(InputEvent::press(4), 10, 10);
    EXPECT_NEAR(camera->getFocal(), zoom * 1.1f, 1e-4);
    machine->notifyClick(InputEvent::press(5), 10, 10);
    EXPECT_NEAR(camera->getFocal(), zoom, 1e-4);

    // A release one pixel away from the press is a drag, not a click.
    machine->notifyClick(InputEvent::press(1), 20, 20);
    machine->notifyClick(InputEvent::release(1), 21, 20);
    EXPECT_TRUE(box->events.empty());
    machine->notifyClick(InputEvent::press(1), 20, 20);
    machine->notifyClick(InputEvent::release(1), 20, 20);
    machine->notifyClick(InputEvent::press(1, InputEvent::SHIFT), 20, 20);
    machine->notifyClick(InputEvent::release(1, InputEvent::SHIFT), 20, 20);
    // Shift+Control asks for the path along the edges, Shift alone for the plane section.
    const int both = InputEvent::SHIFT | InputEvent::CONTROL;
    machine->notifyClick(InputEvent::press(1, both), 22, 20);
    machine->notifyClick(InputEvent::release(1, both), 22, 20);
    // A Shift+Control drag is no click at all; Control alone is the plain click.
    machine->notifyClick(InputEvent::press(1, both), 26, 20);
    machine->notifyClick(InputEvent::release(1, both), 27, 20);
    machine->notifyClick(InputEvent::press(1, InputEvent::CONTROL), 24, 20);
    machine->notifyClick(InputEvent::release(1, InputEvent::CONTROL), 24, 20);
    EXPECT_EQ(box->events,
              (std::vector<std::string>{"click 20,20", "extra 20,20 mode 0", "extra 22,20 mode 1", "click 24,20"}));

    // After a click the anchor is cleared: a drag without a new press does nothing.
    const Matrix4 before = camera->getGLModelViewMatrix();
    machine->notifyDrag(InputEvent::motion(1), 40, 30);
    EXPECT_EQ(camera->getGLModelViewMatrix()(0, 0), before(0, 0));
    // With a press, a left drag turns the camera.
    machine->notifyClick(InputEvent::press(1), 20, 20);
    machine->notifyDrag(InputEvent::motion(1), 40, 20);
    EXPECT_GT(std::fabs(camera->getGLModelViewMatrix()(0, 0) - before(0, 0)), 1e-3);
    // A right drag pans the camera, with Shift it moves the object instead.
    const Point2 pan = camera->getPanning();
    machine->notifyClick(InputEvent::press(2), 20, 20);
    machine->notifyDrag(InputEvent::motion(2), 25, 20);
    EXPECT_NE(camera->getPanning().x, pan.x);
    machine->notifyClick(InputEvent::press(2, InputEvent::SHIFT), 20, 20);
    machine->notifyDrag(InputEvent::motion(2, InputEvent::SHIFT), 30, 20);
    EXPECT_NE(box->getOrigin().x, 0.0f);

    // Keys: the object first while it has the focus, then the camera.
    box->events.clear();
    machine->notifyCommand('k');
    const float z0 = camera->getFocal();
    machine->notifyCommand('z');
    EXPECT_EQ(box->events, (std::vector<std::string>{"key 107", "key 122"}));
    EXPECT_NEAR(camera->getFocal(), z0 * 1.1f, 1e-4) << "the camera zooms on a key the object left";
    EXPECT_FALSE(machine->getShadows());
    machine->notifyCommand('s');
    EXPECT_TRUE(machine->getShadows());
    // 'a' stops at the scene manager.
    box->events.clear();
    machine->notifyCommand('a');
    EXPECT_TRUE(box->events.empty());
}

// Two scenes side by side, each with its own point budgets: a frame of either kind draws to its
// own scene's budgets, whichever scene set its budgets last or drew last.
TEST(MachineFrames, EachSceneDrawsCapturesAndDragsToItsOwnBudgets)
{
    std::vector<float> p;
    for (int j = 0; j < 200; ++j)
        for (int i = 0; i < 200; ++i)
            p.insert(p.end(), {-0.9f + 0.009f * i, -0.9f + 0.009f * j, 0});
    const PointListRecord record{static_cast<int>(p.size() / 3), p.data(), nullptr, nullptr};
    struct Scene {
        std::unique_ptr<GLMachine> machine;
        GLPointListObject *cloud;
        size_t drawn(FrameContext::Kind kind)
        {
            machine->getWindow()->makeCurrent(false);
            machine->drawFrame(machine->frameOf(kind));
            return cloud->getDrawnCount();
        }
    };
    testsupport::CapturedMessages quiet;
    Scene scenes[2];
    const long long still[2] = {2000, 12000}, drag[2] = {1000, 4000};
    for (int k = 0; k < 2; ++k) {
        scenes[k].machine = std::make_unique<GLMachine>(64, 64);
        ASSERT_NE(scenes[k].machine->registerObject("default.dat"), nullptr);
        scenes[k].cloud = new GLPointListObject(&record);
        ASSERT_EQ(scenes[k].machine->registerObject(scenes[k].cloud, "cloud"), scenes[k].cloud);
        scenes[k].machine->setPointBudgets(still[k], drag[k]);
    }
    // Before a cloud has its hierarchy, a capture draws a sample of exactly the still budget
    // and a drag frame one of the drag budget.
    using Kind = FrameContext::Kind;
    EXPECT_EQ(scenes[0].drawn(Kind::Capture), 2000u);
    EXPECT_EQ(scenes[1].drawn(Kind::Capture), 12000u);
    EXPECT_EQ(scenes[0].drawn(Kind::Reduced), 1000u);
    EXPECT_EQ(scenes[1].drawn(Kind::Reduced), 4000u);
}

// A box that costs as much to draw as a large mesh and records how it was asked to draw.
class HeavyBox : public RecordingBox {
public:
    HeavyBox() : RecordingBox(Point3(-1, -1, -1), Point3(1, 1, 1)) {}
    size_t getDrawingCost() const override { return 2000000; }
    void drawObject() override
    {
        drawnReduced.push_back(getReducedDrawing());
        RecordingBox::drawObject();
    }
    std::vector<bool> drawnReduced;
};

TEST_F(Machine, DragsOfALargeSceneDrawReducedButCapturesNever)
{
    testsupport::CapturedMessages captured;
    machine->registerObject("default.dat");
    captured.take();
    HeavyBox *box = new HeavyBox;
    ASSERT_EQ(machine->registerObject(box, "heavy"), box);
    EXPECT_EQ(machine->getDragReductionThreshold(), 1000000);

    // A press alone (a click) reduces nothing; the first drag motion does.
    machine->notifyClick(InputEvent::press(1), 20, 20);
    EXPECT_FALSE(box->getReducedDrawing());
    machine->notifyDrag(InputEvent::motion(1), 30, 20);
    machine->draw();
    EXPECT_TRUE(machine->isDrawingReduced());
    EXPECT_TRUE(box->getReducedDrawing());
    // A capture in the middle of the drag draws the whole scene, then the drag goes on reduced.
    box->drawnReduced.clear();
    machine->notifyCommand('c');
    ASSERT_FALSE(box->drawnReduced.empty());
    EXPECT_FALSE(box->drawnReduced.front());
    machine->draw();
    EXPECT_TRUE(box->getReducedDrawing());
    machine->notifyClick(InputEvent::release(1), 30, 20);
    machine->draw();
    EXPECT_FALSE(box->getReducedDrawing());
    EXPECT_FALSE(machine->isDrawingReduced());

    // Above the scene's size, or at 0, drags draw everything; the markers of the default
    // camera's 36 views count with the objects.
    for (const auto &[threshold, markers] : {std::pair{2000000LL, false}, {0LL, false}, {2000000LL, true}}) {
        machine->setDragReductionThreshold(threshold);
        if (markers)
            machine->getCurrentCamera()->toggleOption(GLCamera::CAMERA_ORIGINS);
        machine->notifyClick(InputEvent::press(2), 20, 20);
        machine->notifyDrag(InputEvent::motion(2), 25, 22);
        machine->draw();
        EXPECT_EQ(box->getReducedDrawing(), markers) << threshold;
        machine->notifyClick(InputEvent::release(2), 25, 22);
    }

    // Fast and smallest PNG captures hold the same pixels.
    machine->notifyCommand('c');
    machine->setSmallestCaptures(true);
    machine->notifyCommand('c');
    testsupport::RgbaImage fast, smallest;
    std::string error;
    ASSERT_TRUE(testsupport::readPng(dir + "/capture0001.png", fast, error)) << error;
    ASSERT_TRUE(testsupport::readPng(dir + "/capture0002.png", smallest, error)) << error;
    EXPECT_EQ(fast.pixels, smallest.pixels);
    EXPECT_LE(std::filesystem::file_size(dir + "/capture0002.png"), std::filesystem::file_size(dir + "/capture0001.png"));
}

TEST(GLMachineDirName, PathsWithAndWithoutSeparators)
{
    struct Case {
        const char *path, *dir;
    } cases[] = {{"a/b/c.tri", "a/b"}, {"/c.tri", ""}, {"c.tri", "."}, {"a\\b\\c.tri", "a\\b"}, {"a\\b/c", "a\\b"}};
    for (const Case &c : cases)
        EXPECT_EQ(GLMachine::getDirName(c.path), c.dir) << c.path;
    EXPECT_EQ(GLMachine::getDirName(nullptr), "");
}

} // namespace

// A capture at twice the window size is the same frame, legend included, at twice the
// resolution: scaled back down it matches the capture at the window size.
TEST(GLMachineCaptureScale, TwiceTheWindowScaledDownMatchesTheWindowCapture)
{
    const std::string dir = testsupport::makeTempDir("CaptureScale");
    const std::string sample = dir + "/sample.tri";
    ASSERT_EQ(testsupport::runProcess({std::string(VELMORA_BINARY_DIR) + "/make_sample_mesh", sample}).exitStatus, 0);
    GLMachine machine(512, 512);
    testsupport::CapturedMessages captured;
    ASSERT_NE(machine.registerObject(sample.c_str()), nullptr);
    captured.take();
    machine.getObject(0)->notifyCommand('5'); // data colours, with their legend

    ASSERT_TRUE(machine.saveFrameBuffer((dir + "/one.png").c_str()));
    machine.setCaptureScale(9);
    EXPECT_EQ(machine.getCaptureScale(), 4);
    machine.setCaptureScale(2);
    ASSERT_TRUE(machine.saveFrameBuffer((dir + "/two.png").c_str()));

    testsupport::RgbaImage one, two;
    std::string error;
    ASSERT_TRUE(testsupport::readPng(dir + "/one.png", one, error)) << error;
    ASSERT_TRUE(testsupport::readPng(dir + "/two.png", two, error)) << error;
    ASSERT_EQ(two.width, 1024);
    ASSERT_EQ(two.height, 1024);
    testsupport::RgbaImage down = one;
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x)
            for (int c = 0; c < 4; ++c)
                down.pixels[(static_cast<size_t>(y) * 512 + x) * 4 + c] = static_cast<unsigned char>(
                    (two.at(2 * x, 2 * y)[c] + two.at(2 * x + 1, 2 * y)[c] + two.at(2 * x, 2 * y + 1)[c] +
                     two.at(2 * x + 1, 2 * y + 1)[c] + 2) / 4);
    // Edges (the data colours have many) are sampled twice as finely, so pixels along them
    // differ more than a rerun would.
    testsupport::Tolerance tolerance;
    tolerance.maxChannelDiff = 40;
    tolerance.maxMeanDiff = 2.0;
    tolerance.maxBadShare = 0.03;
    EXPECT_TRUE(testsupport::imagesMatch(down, one, error, tolerance)) << error;
    // The legend, at the left (beside the model), is as readable as in the window capture: laid
    // over the capture enlarged, so it scales back down to the same pixels.
    const auto corner = [](const testsupport::RgbaImage &full) {
        testsupport::RgbaImage part;
        part.width = 75;
        part.height = 400;
        for (int y = 0; y < part.height; ++y)
            part.pixels.insert(part.pixels.end(), full.at(0, y), full.at(part.width, y));
        return part;
    };
    EXPECT_TRUE(testsupport::imagesMatch(corner(down), corner(one), error)) << error;
    // The window's own frames are untouched by the capture.
    std::vector<unsigned char> rgb(512 * 512 * 3);
    machine.getFrameBuffer(rgb.data());
    EXPECT_EQ(rgb[0], 191);
}

namespace {

// Key "i" after the cursor keys gives the first frame again, light and highlights included.
TEST_F(Machine, ResetAfterTheCursorKeysGivesTheFirstFrameAgain)
{
    const std::string torus = dir + "/torus.tri";
    ASSERT_EQ(testsupport::runProcess({std::string(VELMORA_BINARY_DIR) + "/make_sample_mesh", torus, "48", "24"}).exitStatus, 0);
    testsupport::CapturedMessages captured;
    ASSERT_NE(machine->registerObject(torus.c_str()), nullptr);
    std::vector<unsigned char> first(64 * 48 * 3), again(first.size());
    machine->getFrameBuffer(first.data());
    for (int key : {6000, 6000, 6001, 6002, 6003, 6002, int('i')})
        machine->notifyCommand(key);
    machine->getFrameBuffer(again.data());
    size_t differing = 0;
    for (size_t i = 0; i < first.size(); ++i)
        differing += std::abs(first[i] - again[i]) > 2;
    EXPECT_EQ(differing, 0u);
    captured.take();
}

} // namespace

// A click on a reconstruction's points shows the track on the camera they were loaded with,
// not on the current camera, though that one's model has as many points.
TEST_F(Machine, AClickedPointShowsItsTrackOnTheCameraItCameWith)
{
    const recontest::Model m = recontest::knownModel();
    std::string models[2];
    for (int k = 0; k < 2; ++k) {
        models[k] = testsupport::makeTempDir(k ? "modelB" : "modelA");
        recontest::writeColmapText(m, models[k]);
    }
    testsupport::CapturedMessages captured;
    auto *a = static_cast<GLCamera *>(machine->registerObject(models[0].c_str()));
    GL3DObject *aPoints = machine->getCurrentObject();
    auto *b = static_cast<GLCamera *>(machine->registerObject(models[1].c_str()));
    captured.take();
    ASSERT_TRUE(a && b && aPoints);
    ASSERT_EQ(machine->getCurrentCamera(), b);
    ASSERT_EQ(a->getTracks().pointCount(), b->getTracks().pointCount());
    machine->setFocus(aPoints);
    std::vector<unsigned char> frame(64 * 48 * 3);
    machine->getFrameBuffer(frame.data()); // a frame: the camera's matrices are in the context
    // The window pixel (y down) of the model's point 2 under the shown matrices.
    const recontest::Vec X = m.points[2];
    float clip[4];
    const float in[4] = {static_cast<float>(X.x), static_cast<float>(X.y), static_cast<float>(X.z), 1};
    (b->getProjectionMatrix() * b->getGLModelViewMatrix()).product(clip, in);
    const int x = static_cast<int>(std::lround((clip[0] / clip[3] + 1) / 2 * 64 - 0.5));
    const int y = static_cast<int>(std::lround((1 - clip[1] / clip[3]) / 2 * 48 - 0.5));
    machine->notifyClick(InputEvent::press(1), x, y);
    machine->notifyClick(InputEvent::release(1), x, y);
    captured.take();
    ASSERT_GE(aPoints->getSelectedVertex(), 0) << "the click missed the points";
    EXPECT_GE(a->getTracks().shown(), 0);
    EXPECT_EQ(b->getTracks().shown(), -1);
}
