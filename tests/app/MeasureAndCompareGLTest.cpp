// The measure tool, "Set scale..." and the A/B split view as a user meets them, by clicks and
// keys on the scene: clicks on a georeferenced LAS cloud give the distance and angle known from
// the file to the millimetre; a click on a mesh lands on its surface; the scale set from a
// measured distance brings a COLMAP model to the scale of reference cameras; the split view
// shows A left of the divider and B right of it, swapped by a key, moved by a drag.
#include "app/GLMachine.h"
#include "camera/AlignedViews.h"
#include "camera/GLCamera.h"
#include "camera/ReconstructionTestFiles.h"
#include "formats/CameraPoses.h"
#include "formats/LasReader.h"
#include "objects/GLPointListObject.h"
#include "objects/GLPointStreamObject.h"
#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"
#include "support/LasFiles.h"
#include "support/PlySquare.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

// The window pixel (y downwards) where the current camera shows the point p of `object`.
void pixelOf(GLMachine &machine, const GL3DObject &object, const double p[3], int &x, int &y)
{
    GLCamera *c = machine.getCurrentCamera();
    const Matrix4 all = c->getProjectionMatrix() * c->getGLModelViewMatrix() * object.getPose();
    const float in[3] = {float(p[0]), float(p[1]), float(p[2])};
    float q[4];
    all.product(q, in);
    x = static_cast<int>(std::floor((q[0] / q[3] + 1) / 2 * c->getWindowWidth()));
    y = c->getWindowHeight() - 1 - static_cast<int>(std::floor((q[1] / q[3] + 1) / 2 * c->getWindowHeight()));
}

void click(GLMachine &machine, int x, int y)
{
    machine.notifyClick(InputEvent::press(1), x, y);
    machine.notifyClick(InputEvent::release(1), x, y);
}

std::vector<unsigned char> frame(GLMachine &machine)
{
    int w = 0, h = 0;
    machine.getWindowSize(w, h);
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    machine.getFrameBuffer(rgb.data());
    return rgb;
}

TEST(MeasureTool, GivesTheDistanceAndAngleOfAGeoreferencedCloudToTheMillimetre)
{
    // Millimetres about an offset of a million metres: A, B and C, and two points that widen the box.
    const double scale[3] = {0.001, 0.001, 0.001}, offset[3] = {1000000, 2000000, 100};
    const std::vector<testsupport::LasPoint> points = {{123456, 456789, 1234, 0, 1, 2, {0, 0, 0}},
                                                       {160000, 420000, -4500, 0, 1, 2, {0, 0, 0}},
                                                       {140000, 480000, 10000, 0, 1, 2, {0, 0, 0}},
                                                       {90000, 390000, 0, 0, 1, 2, {0, 0, 0}},
                                                       {210000, 510000, 20000, 0, 1, 2, {0, 0, 0}}};
    const std::string path = testsupport::makeTempDir("MeasureTool") + "/survey.las";
    recontest::writeText(path, testsupport::lasFile(0, 2, points, scale, offset));
    GLMachine machine(240, 240);
    testsupport::CapturedMessages messages;
    auto *cloud = dynamic_cast<GLPointListObject *>(machine.registerObject(path.c_str()));
    ASSERT_NE(cloud, nullptr) << messages.take();
    double known[3][3];
    for (int i = 0; i < 3; ++i) {
        const int32_t *mm = &points[static_cast<size_t>(i)].x;
        for (int k = 0; k < 3; ++k)
            known[i][k] = offset[k] + mm[k] * 0.001;
    }

    machine.notifyCommand('M');
    ASSERT_TRUE(machine.getMeasure().isOn());
    int ax = 0, ay = 0;
    for (int i = 0; i < 3; ++i) {
        double stored[3];
        for (int k = 0; k < 3; ++k)
            stored[k] = known[i][k] - cloud->getFileOrigin()[k];
        int x = 0, y = 0;
        pixelOf(machine, *cloud, stored, x, y);
        click(machine, x, y);
        if (i == 0) {
            ax = x;
            ay = y;
        }
        ASSERT_EQ(machine.getMeasure().getPoints().size(), static_cast<size_t>(i + 1)) << messages.take();
        const MeasuredPoint &p = machine.getMeasure().getPoints().back();
        EXPECT_EQ(p.point, i);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(p.file[k], known[i][k], 1e-3) << "point " << i << " axis " << k;
    }
    const auto d = [&](int i, int j) {
        return std::sqrt(std::pow(known[i][0] - known[j][0], 2) + std::pow(known[i][1] - known[j][1], 2) +
                         std::pow(known[i][2] - known[j][2], 2));
    };
    EXPECT_NEAR(machine.getMeasure().distance(), d(0, 1), 1e-3);
    const double angle = std::acos((d(0, 1) * d(0, 1) + d(1, 2) * d(1, 2) - d(0, 2) * d(0, 2)) / (2 * d(0, 1) * d(1, 2)));
    EXPECT_NEAR(machine.getMeasure().angle(), angle * 180 / std::acos(-1.0), 1e-4);
    char line[64];
    std::snprintf(line, sizeof line, "A-B %.4f\n", d(0, 1));
    EXPECT_NE(machine.getMeasure().text().find(line), std::string::npos) << machine.getMeasure().text();
    EXPECT_NE(machine.getMeasure().text().find("angle A-B-C "), std::string::npos);
    EXPECT_NE(messages.take().find("Measure: A-B "), std::string::npos);
    // The view marks A (yellow over dark) where it was clicked.
    const std::vector<unsigned char> rgb = frame(machine);
    int marked = 0;
    for (int y = ay - 3; y <= ay + 3; ++y)
        for (int x = ax - 3; x <= ax + 3; ++x) {
            const unsigned char *p = &rgb[(static_cast<size_t>(239 - y) * 240 + x) * 3];
            marked += p[0] > 200 && p[1] > 170 && p[2] < 80;
        }
    EXPECT_GT(marked, 4);

    // A fourth click starts again; beside everything, nothing is taken.
    click(machine, ax, ay);
    EXPECT_EQ(machine.getMeasure().getPoints().size(), 1u);
    click(machine, 2, 2);
    EXPECT_EQ(machine.getMeasure().getPoints().size(), 1u);
    machine.notifyCommand('M');
    EXPECT_FALSE(machine.getMeasure().isOn());
}

TEST(MeasureTool, AClickOnAMeshLandsOnItsSurface)
{
    const std::string path = testsupport::makeTempDir("MeasureSurface") + "/square.ply";
    recontest::writeText(path, testsupport::plysquare::squarePly(testsupport::plysquare::Little));
    GLMachine machine(200, 200);
    testsupport::CapturedMessages messages;
    GL3DObject *square = dynamic_cast<GL3DObject *>(machine.registerObject(path.c_str()));
    ASSERT_NE(square, nullptr) << messages.take();
    machine.getMeasure().setOn(true);
    const double inside[2][3] = {{0.3, 0.6, 0}, {0.8, 0.1, 0}};
    for (const auto &p : inside) {
        int x = 0, y = 0;
        pixelOf(machine, *square, p, x, y);
        click(machine, x, y);
        const MeasuredPoint &got = machine.getMeasure().getPoints().back();
        // The depth buffer holds 24 bits: far below a thousandth of the square.
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(got.file[k], p[k], 0.01) << k;
        EXPECT_NEAR(got.file[2], 0, 1e-3);
        EXPECT_EQ(got.point, -1);
    }
    ASSERT_EQ(machine.getMeasure().getPoints().size(), 2u);
    EXPECT_NEAR(machine.getMeasure().distance(), std::hypot(0.5, 0.5), 0.02);
}

// A click on a streamed cloud (a COPC file of another program) takes one of the points its
// frame drew, with the file's coordinates of its uncompressed LAS twin's point.
TEST(MeasureTool, AClickOnAStreamedCloudTakesADrawnPointInTheFilesCoordinates)
{
    const std::string data = std::string(VELMORA_SOURCE_DIR) + "/tests/data/laz/1.2-with-color";
    GLMachine machine(240, 240);
    testsupport::CapturedMessages messages;
    auto *cloud = dynamic_cast<GLPointStreamObject *>(machine.registerObject((data + ".copc.laz").c_str()));
    ASSERT_NE(cloud, nullptr) << messages.take();
    const PointListData twin = LasReader::read((data + ".las").c_str());
    frame(machine);
    machine.getMeasure().setOn(true);
    for (const int i : {0, 500, 1000}) {
        double stored[3];
        for (int k = 0; k < 3; ++k)
            stored[k] = twin.points[3 * i + k] + twin.origin[k] - cloud->getFileOrigin()[k];
        int x = 0, y = 0;
        pixelOf(machine, *cloud, stored, x, y);
        click(machine, x, y);
        const MeasuredPoint &p = machine.getMeasure().getPoints().back();
        EXPECT_GE(p.point, 0) << i;
        double nearest = 1e30;
        for (int j = 0; j < twin.nPoints; ++j)
            nearest = std::min(nearest, std::hypot(p.file[0] - twin.points[3 * j] - twin.origin[0],
                                                   p.file[1] - twin.points[3 * j + 1] - twin.origin[1],
                                                   p.file[2] - twin.points[3 * j + 2] - twin.origin[2]));
        EXPECT_LT(nearest, 1e-3) << i;
    }
    EXPECT_EQ(machine.getMeasure().getPoints().size(), 3u);
}

// Set scale about a measured distance of a COLMAP model's points: the views then have the scale
// of the reference cameras the model was measured against, as velmora-align fits them (s = 1).
TEST(MeasureTool, SetScaleBringsAModelToTheScaleOfItsReference)
{
    using namespace recontest;
    const double k = 2.5;
    Model m = knownModel(), reference = knownModel();
    for (Cam &c : reference.cams) {
        double R[9];
        rotationOf(c.q, R);
        const Vec centre{-(R[0] * c.t[0] + R[3] * c.t[1] + R[6] * c.t[2]) * k,
                         -(R[1] * c.t[0] + R[4] * c.t[1] + R[7] * c.t[2]) * k,
                         -(R[2] * c.t[0] + R[5] * c.t[1] + R[8] * c.t[2]) * k};
        c = camera(c.name, c.id, c.cameraId, c.q, centre);
    }
    const std::string dir = testsupport::makeTempDir("SetScale");
    for (const char *folder : {"/model", "/reference"})
        ASSERT_EQ(0, mkdir((dir + folder).c_str(), 0755));
    writeColmapText(m, dir + "/model");
    writeColmapText(reference, dir + "/reference");

    GLMachine machine(640, 480);
    testsupport::CapturedMessages messages;
    auto *camera = static_cast<GLCamera *>(machine.registerObject((dir + "/model").c_str()));
    ASSERT_NE(camera, nullptr) << messages.take();
    GL3DObject *cloud = machine.objectsLoadedWith(camera).at(0);
    const CameraPoses scaled = readCameraPoses(dir + "/reference");
    EXPECT_NEAR(alignCameraPoses(scaled, posesOfViews(*camera)).fit.transform.s, k, 1e-6);

    std::string why;
    EXPECT_FALSE(machine.setScale(1, why));
    EXPECT_EQ(why, "measure a distance first: two clicks with the measure tool");
    machine.notifyCommand('M');
    for (const size_t i : {1, 3}) {
        const double p[3] = {m.points[i].x, m.points[i].y, m.points[i].z};
        int x = 0, y = 0;
        pixelOf(machine, *cloud, p, x, y);
        click(machine, x, y);
    }
    const double measured = std::hypot(m.points[1].x - m.points[3].x, m.points[1].y - m.points[3].y,
                                       m.points[1].z - m.points[3].z);
    ASSERT_NEAR(machine.getMeasure().distance(), measured, 1e-5) << messages.take();
    EXPECT_FALSE(machine.setScale(-2, why));
    EXPECT_EQ(why, "the length must be a positive number");
    const Vec3d pointA = machine.getMeasure().getPoints()[0].scene;
    ASSERT_TRUE(machine.setScale(k * measured, why)) << why;
    EXPECT_NEAR(machine.getMeasure().distance(), k * measured, 1e-9);
    const CameraAlignment a = alignCameraPoses(scaled, posesOfViews(*camera));
    ASSERT_TRUE(a.ok()) << a.refusal();
    EXPECT_NEAR(a.fit.transform.s, 1, 1e-6);
    // The points went with the views: A, the centre of the scaling, is found where it was.
    const double first[3] = {m.points[1].x, m.points[1].y, m.points[1].z};
    int x = 0, y = 0;
    pixelOf(machine, *cloud, first, x, y);
    click(machine, x, y);
    for (size_t c = 0; c < 3; ++c)
        EXPECT_NEAR(machine.getMeasure().getPoints().back().scene[c], pointA[c], 1e-5);
}

// Pixels of the split frame against A and B drawn alone; `columns` left and right of the divider
// are compared, the divider's own three left out. Returns the pixels where A and B differ.
int expectSides(const std::vector<unsigned char> &split, const std::vector<unsigned char> &left,
                const std::vector<unsigned char> &right, int w, int divider)
{
    int differing = 0, wrong = 0;
    for (size_t p = 0; p < split.size() / 3; ++p) {
        const int x = static_cast<int>(p % static_cast<size_t>(w));
        if (std::abs(x - divider) <= 2)
            continue;
        const std::vector<unsigned char> &want = x < divider ? left : right;
        bool same = true;
        for (size_t c = 0; c < 3; ++c) {
            same = same && std::abs(split[3 * p + c] - want[3 * p + c]) <= 2;
            differing += c == 0 && left[3 * p] != right[3 * p];
        }
        wrong += !same;
    }
    EXPECT_EQ(wrong, 0) << "divider at " << divider;
    return differing;
}

TEST(SplitView, ShowsALeftAndBRightSwappedByAKeyAndMovedByADrag)
{
    const std::string path = testsupport::makeTempDir("SplitView") + "/square.ply";
    recontest::writeText(path, testsupport::plysquare::squarePly(testsupport::plysquare::Little));
    const int w = 160, h = 120;
    GLMachine machine(w, h);
    testsupport::CapturedMessages messages;
    ASSERT_NE(machine.registerObject(path.c_str()), nullptr) << messages.take();
    ASSERT_NE(machine.registerObject(path.c_str()), nullptr) << messages.take();
    // B is the same square turned and shifted: the two differ on either side of the divider.
    Matrix4 turned = Matrix4::Identity;
    turned(0, 0) = turned(1, 1) = 0.8f;
    turned(0, 1) = -0.6f;
    turned(1, 0) = 0.6f;
    turned(0, 3) = 0.3f;
    machine.getObject(1)->setPose(turned);
    machine.setFocus(machine.getObject(0));
    SplitView &split = machine.getSplitView();
    machine.notifyCommand('A');
    ASSERT_EQ(split.getMode(), SplitView::Mode::OBJECTS);
    ASSERT_EQ(split.getA(), machine.getObject(0));
    ASSERT_EQ(split.getB(), machine.getObject(1));

    split.setWhole(0);
    const std::vector<unsigned char> a = frame(machine);
    split.setWhole(1);
    const std::vector<unsigned char> b = frame(machine);
    split.setWhole(-1);
    EXPECT_GT(expectSides(frame(machine), a, b, w, w / 2), 200);
    machine.notifyCommand('w');
    EXPECT_GT(expectSides(frame(machine), b, a, w, w / 2), 200);

    // A drag that starts on the divider moves it; the view does not turn meanwhile.
    const Matrix4 before = machine.getCurrentCamera()->getGLModelViewMatrix();
    machine.notifyClick(InputEvent::press(1), w / 2 + 1, 60);
    machine.notifyDrag(InputEvent::motion(1), 70, 62);
    machine.notifyDrag(InputEvent::motion(1), 48, 64);
    machine.notifyClick(InputEvent::release(1), 48, 64);
    EXPECT_FLOAT_EQ(split.getDivider(), 48.f / w);
    EXPECT_EQ(machine.getCurrentCamera()->getGLModelViewMatrix()(0, 3), before(0, 3));
    EXPECT_EQ(machine.getCurrentCamera()->getGLModelViewMatrix()(0, 0), before(0, 0));
    expectSides(frame(machine), b, a, w, 48);

    // Without a photograph the key ends the split; a removed side ends it too.
    machine.notifyCommand('A');
    EXPECT_FALSE(split.isOn());
    machine.notifyCommand('A');
    ASSERT_TRUE(split.isOn());
    machine.unregisterObject(machine.getObject(1));
    EXPECT_FALSE(split.isOn());
}

TEST(SplitView, PutsTheViewsPhotographBesideTheModel)
{
    using namespace recontest;
    const std::string dir = testsupport::makeTempDir("SplitPhotograph");
    ASSERT_EQ(0, mkdir((dir + "/images").c_str(), 0755));
    Model m = knownModel();
    for (Cam &c : m.cams) // written as PPM
        c.name = c.name.substr(0, 1) + ".ppm";
    writeColmapText(m, dir);
    for (const Cam &c : m.cams)
        writePhotograph(dir + "/images/" + c.name, m.of(c).width, m.of(c).height, 40);
    GLMachine machine(640, 480);
    testsupport::CapturedMessages messages;
    GLCamera *camera = static_cast<GLCamera *>(machine.registerObject(dir.c_str()));
    ASSERT_NE(camera, nullptr) << messages.take();
    while (camera->getIntrinsics(camera->getCurrentView()).W != 640) // a window-sized view
        camera->notifyCommand(GLCamera::NEXT_VIEW);
    machine.notifyCommand('A');
    ASSERT_EQ(machine.getSplitView().getMode(), SplitView::Mode::PHOTOGRAPH) << messages.take();
    const std::vector<unsigned char> rgb = frame(machine);
    int photograph[2] = {0, 0};
    for (size_t p = 0; p < rgb.size() / 3; ++p) {
        const int x = static_cast<int>(p % 640);
        if (std::abs(x - 320) > 2)
            photograph[x > 320] += rgb[3 * p] == 40 && rgb[3 * p + 1] == 40 && rgb[3 * p + 2] == 40;
    }
    EXPECT_EQ(photograph[0], 0) << "the model over the background on the left";
    EXPECT_EQ(photograph[1], 317 * 480) << "the photograph over the whole right" << messages.take();
}

} // namespace
