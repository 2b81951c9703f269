#include "camera/CameraAnimationWindow.h"
#include "camera/GLCamera.h"
#include "camera/GLCameraAnimationImpl.h"
#include "core/ElementHost.h"
#include "formats/KeyCameraFile.h"
#include "math/Messages.h"
#include "support/ImageCompare.h"
#include "support/MathCompare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace testsupport;

namespace
{

/// A camera `distance` from the origin, turned by `degrees` about +y and tilted by `tilt`
/// degrees about +x, looking at the origin.
Position orbit(float degrees, float distance, float tilt = 0, float zoom = 1)
{
    const Matrix3 r =
        (Matrix4(Point3(1, 0, 0), tilt * kPi / 180) * Matrix4(Point3(0, 1, 0), degrees * kPi / 180))
            .getSubMatrix();
    return Position(Matrix4(r, Point3(0, 0, distance)), zoom, 0, 0);
}

Point3 centreOf(const Position &p)
{
    const Matrix4 &m = p.getModelViewMatrix();
    return m.getSubMatrix().transpose() * -m.getSubVector();
}

// What the editor asked of its window.
struct FakeWindow : CameraAnimationWindow {
    void showKeyCameras(const std::vector<int> &l, int s) override { rows = static_cast<int>(l.size()), labels = l, selected = s; }
    void showPlaying(bool p) override { playIcon = p; }
    void setTimer(int ms) override { timer = ms; }
    int rows = 0, selected = -1, timer = 0;
    std::vector<int> labels;
    bool playIcon = false;
};

// The user interface as far as the editor asks it for its window.
struct WindowHost : QuietHost {
    CameraAnimationWindow *openCameraAnimationWindow(GLCameraAnimationImpl *) override
    {
        window = new FakeWindow;
        return window;
    }
    FakeWindow *window = nullptr;
};

class Flight : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        camera.setRotationPoint(Point3(0, 0, 0));
        animation.reset(new GLCameraAnimationImpl(&camera, &host));
        window = host.window;
    }
    void setKeys(const std::vector<Position> &keys) { animation->setKeyCameras(keys); }

    GLCamera camera;
    WindowHost host;
    FakeWindow *window = nullptr;
    std::unique_ptr<GLCameraAnimationImpl> animation;
};

} // namespace

// Both interpolations, open and closed, reach every key camera at u = i / (n - 1) (i / n
// closed), with its rotation, translation and lens.
TEST_F(Flight, PathsPassThroughEveryKeyCamera)
{
    const std::vector<Position> keys = {orbit(0, 10), orbit(40, 12, 20, 2), orbit(100, 9, -10, 1.5f),
                                        orbit(170, 11, 5, 1)};
    setKeys(keys);
    const int n = static_cast<int>(keys.size());
    for (bool cubic : {true, false})
        for (bool closed : {false, true}) {
            animation->setCubicInterpolation(cubic);
            if (animation->isClosed() != closed)
                animation->toggleClosePath();
            for (int i = 0; i < n; ++i) {
                const float u = closed ? i / float(n) : i / float(n - 1);
                const Position p = animation->interpolation(u);
                SCOPED_TRACE(std::string(cubic ? "cubic" : "linear") + (closed ? " closed" : " open") +
                             " key " + std::to_string(i));
                EXPECT_TRUE(near(p.getModelViewMatrix(), keys[i].getModelViewMatrix(), 2e-4f));
                EXPECT_NEAR(p.focal, keys[i].focal, 1e-5f);
            }
            // The closed path comes back to the first key camera; the open one ends at the last.
            EXPECT_TRUE(near(animation->interpolation(1).getModelViewMatrix(),
                             keys[closed ? 0 : n - 1].getModelViewMatrix(), 2e-4f));
        }
}

TEST_F(Flight, KeyIndicesOfOpenAndClosedPaths)
{
    animation->setCubicInterpolation(false);
    setKeys({orbit(0, 10), orbit(60, 10)});
    // Halfway between two key cameras: half the turn and the same distance to the centre.
    const Position half = animation->interpolation(0.5f);
    EXPECT_TRUE(near(centreOf(half), centreOf(orbit(30, 10)), 1e-3f));

    setKeys({orbit(0, 10), orbit(60, 10), orbit(120, 10)});
    animation->toggleClosePath();
    // u = 0.9 on a closed path of three: 70% of the way from key camera 3 back to key camera 1.
    const Position p = animation->interpolation(0.9f);
    const Position expected = Position::interpol(orbit(120, 10), orbit(0, 10), Point3(0, 0, 0), 0.7f);
    EXPECT_TRUE(near(p.getModelViewMatrix(), expected.getModelViewMatrix(), 1e-4f));
}

// Wide turns between key cameras: the cubic path stays in one piece (q and -q, the same
// rotation, must not swap places half way through a segment).
TEST_F(Flight, CubicPathHasNoJumps)
{
    setKeys({orbit(0, 10), orbit(8, 10, 3), orbit(16, 10), orbit(150, 14, -20), orbit(330, 10, 40)});
    for (bool closed : {false, true}) {
        if (animation->isClosed() != closed)
            animation->toggleClosePath();
        const int steps = 1000;
        float total = 0, largest = 0;
        Point3 previous = animation->pathPoint(animation->interpolation(0));
        for (int k = 1; k <= steps; ++k) {
            const Point3 p = animation->pathPoint(animation->interpolation(k / float(steps)));
            const float step = (p - previous).norm();
            total += step;
            largest = std::max(largest, step);
            previous = p;
        }
        EXPECT_LT(largest, 20 * total / steps) << (closed ? "closed" : "open");
    }
}

// Key cameras crowded at one end make u run unevenly along the path; speed() evens it out.
TEST_F(Flight, ConstantSpeedGivesEqualArcLengthsPerFrame)
{
    setKeys({orbit(0, 10), orbit(8, 10, 3), orbit(16, 10), orbit(150, 14, -20)});
    for (bool cubic : {true, false}) {
        animation->setCubicInterpolation(cubic);
        animation->computePath();
        // The length of the path a frame covers, measured finely along the path itself.
        auto arc = [&](float u0, float u1) {
            float length = 0;
            for (int j = 0; j < 50; ++j)
                length += (animation->pathPoint(animation->interpolation(u0 + (u1 - u0) * (j + 1) / 50)) -
                           animation->pathPoint(animation->interpolation(u0 + (u1 - u0) * j / 50)))
                              .norm();
            return length;
        };
        const int frames = 40;
        std::vector<float> even, raw;
        for (int k = 1; k <= frames; ++k) {
            const float a = (k - 1) / float(frames), b = k / float(frames);
            even.push_back(arc(animation->speed(a), animation->speed(b)));
            raw.push_back(arc(a, b));
        }
        auto spread = [](const std::vector<float> &d) {
            float mean = 0;
            for (float x : d)
                mean += x / d.size();
            float worst = 0;
            for (float x : d)
                worst = std::max(worst, std::fabs(x / mean - 1));
            return worst;
        };
        SCOPED_TRACE(cubic ? "cubic" : "linear");
        EXPECT_GT(spread(raw), 0.5f) << "the key cameras are uneven enough to matter";
        EXPECT_LT(spread(even), 0.02f);
    }
}

TEST_F(Flight, PathOfZeroLengthKeepsTimeAsIs)
{
    // Turning on the spot: every key camera has its centre at the same place.
    Position a = orbit(0, 10), b = orbit(0, 10);
    b.modelViewMatrix = Matrix4(Matrix4(Point3(0, 1, 0), 0.5f).getSubMatrix(), Point3(0, 0, 0));
    a.modelViewMatrix = Matrix4(Matrix3(), Point3(0, 0, 0));
    a.rotation = Quat(a.modelViewMatrix.getSubMatrix());
    b.rotation = Quat(b.modelViewMatrix.getSubMatrix());
    setKeys({a, b});
    animation->computePath();
    for (int k = 0; k < GLCameraAnimationImpl::pathSamples; ++k)
        ASSERT_FLOAT_EQ(animation->getLengths()[k], k / 127.f);
    for (float s : {0.f, 0.2f, 0.5f, 0.97f})
        EXPECT_NEAR(animation->speed(s), s, 1e-5f);
    EXPECT_EQ(animation->speed(1), 1);
}

TEST_F(Flight, EditingPlayingAndTiming)
{
    EXPECT_FLOAT_EQ(animation->getPeriod(), 0.05f);
    EXPECT_FLOAT_EQ(animation->getDuration(), 4);
    EXPECT_EQ(animation->getFrameCount(), 80);

    // Play needs two key cameras.
    animation->pause();
    EXPECT_FALSE(animation->isPlaying());
    EXPECT_EQ(window->timer, 0);

    for (float deg : {0.f, 30.f, 60.f, 90.f, 120.f}) {
        camera.setPose(orbit(deg, 10));
        animation->add();
    }
    EXPECT_EQ(window->rows, 5);
    animation->selection_made(2);
    EXPECT_FLOAT_EQ(animation->getTime(), 0.5f);
    EXPECT_TRUE(near(camera.getModelViewMatrix(), orbit(60, 10).getModelViewMatrix(), 1e-5f));

    // Moving the selected key camera up and removing it.
    animation->up();
    EXPECT_EQ(animation->getSelected(), 1);
    EXPECT_EQ(window->labels, (std::vector<int>{1, 3, 2, 4, 5})) << "the number goes with its camera";
    EXPECT_TRUE(
        near(animation->getKeyCamera(1).getModelViewMatrix(), orbit(60, 10).getModelViewMatrix(), 1e-5f));
    animation->remove();
    EXPECT_EQ(animation->getNKeyCameras(), 4);
    EXPECT_EQ(animation->getSelected(), 0);
    EXPECT_EQ(window->rows, 4);
    EXPECT_EQ(window->labels, (std::vector<int>{1, 2, 4, 5}));
    animation->remove();
    EXPECT_EQ(animation->getSelected(), 2) << "removing the first row selects the last";
    EXPECT_TRUE(near(camera.getModelViewMatrix(), orbit(120, 10).getModelViewMatrix(), 1e-5f));
    camera.setPose(orbit(60, 10));
    animation->add();

    // Playing runs the timer at the frame period and pauses where it was.
    animation->stop();
    animation->pause();
    EXPECT_TRUE(animation->isPlaying());
    EXPECT_EQ(window->timer, 50);
    EXPECT_TRUE(window->playIcon);
    animation->play();
    EXPECT_FLOAT_EQ(animation->getTime(), 0.0125f);
    animation->pause();
    EXPECT_FALSE(animation->isPlaying());
    EXPECT_EQ(window->timer, 0);
    EXPECT_FLOAT_EQ(animation->getTime(), 0.0125f);
    // ... and a play ends by itself at the end of the flight, rewound.
    animation->pause();
    for (int i = 0; i < 100 && animation->isPlaying(); ++i)
        animation->play();
    EXPECT_FALSE(animation->isPlaying());
    EXPECT_EQ(animation->getTime(), 0);
    EXPECT_TRUE(near(camera.getModelViewMatrix(), animation->getKeyCamera(3).getModelViewMatrix(), 1e-3f))
        << "the flight ends at the last key camera";

    animation->speedChange(0);
    EXPECT_FLOAT_EQ(animation->getPeriod(), 1) << "0 fps counts as 1";
    animation->speedChange(20);
    animation->timeChange(1);
    EXPECT_EQ(animation->getFrameCount(), 20);
}

TEST_F(Flight, RecordingAddsAKeyCameraAfterEveryRotation)
{
    camera.setAnimationInterface(true);
    auto *recorder = dynamic_cast<GLCameraAnimationImpl *>(camera.getAnimation());
    ASSERT_NE(recorder, nullptr);
    camera.backupPosition();
    camera.setPosition(0.1f, 0);
    EXPECT_EQ(recorder->getNKeyCameras(), 0) << "not recording yet";
    camera.toggleRecording();
    camera.setPosition(0.2f, 0);
    camera.setPosition(0.3f, 0.1f);
    ASSERT_EQ(recorder->getNKeyCameras(), 2);
    EXPECT_TRUE(near(recorder->getKeyCamera(1).getModelViewMatrix(), camera.getModelViewMatrix(), 1e-6f));
    camera.setAnimationInterface(false);
    EXPECT_EQ(camera.getAnimation(), nullptr);
}

// --- Key-camera file ------------------------------------------------------------------------------

TEST(KeyCameraFile, WritesAndReadsBack)
{
    const std::string dir = makeTempDir("KeyCameraFile");
    const std::string file = dir + "/keys.txt";
    const std::vector<Position> keys = {orbit(0, 10), orbit(45, 8, 10, 2.5f)};
    ASSERT_TRUE(KeyCameraFile::write(file.c_str(), keys));
    const std::vector<Position> back = KeyCameraFile::read(file.c_str());
    ASSERT_EQ(back.size(), 2u);
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_TRUE(near(back[i].getModelViewMatrix(), keys[i].getModelViewMatrix(), 1e-5f));
        EXPECT_FLOAT_EQ(back[i].focal, keys[i].focal);
    }
    EXPECT_FALSE(KeyCameraFile::write((dir + "/missing/keys.txt").c_str(), keys));
}

TEST(KeyCameraFile, RefusesFilesThatDoNotHoldWhatTheySay)
{
    const std::string line = "1 0 0 0 0 0 10 1 0 0\n";
    const struct {
        const char *what;
        std::string text;
        std::string message;
    } cases[] = {
        {"empty", "", "KeyCameraFile: no key camera count"},
        {"not a number", "two\n" + line, "KeyCameraFile: no key camera count"},
        {"negative count", "-1\n", "KeyCameraFile: key camera count -1 out of range"},
        {"huge count", "2000000000\n" + line, "KeyCameraFile: key camera count 2000000000 out of range"},
        {"count beyond the file", "50\n" + line + line,
         "KeyCameraFile: 50 key cameras can't fit in 45 bytes"},
        {"short file", "3\n" + line + line + "\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n",
         "KeyCameraFile: the file ends after 2 of 3 key cameras"},
        {"short line", "2\n" + line + "1 0 0 0 0 0 10 1\n" + line,
         "KeyCameraFile: key camera 2: Position: expected 10 numbers, read 8"},
        {"no rotation", "1\n0 0 0 0 0 0 10 1 0 0\n", "KeyCameraFile: key camera 1 has no unit rotation"},
        {"zero zoom", "1\n1 0 0 0 0 0 10 0 0 0\n",
         "KeyCameraFile: key camera 1 has a zoom factor of 0.000000"},
    };
    const std::string dir = makeTempDir("KeyCameraFileErrors");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = dir + "/keys.txt";
        std::ofstream(file, std::ios::binary) << c.text;
        try {
            KeyCameraFile::read(file.c_str());
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    EXPECT_THROW(KeyCameraFile::read((dir + "/none.txt").c_str()), std::runtime_error);
}

// A file that cannot be read leaves the key cameras as they were.
TEST_F(Flight, LoadKeepsTheKeyCamerasOnABadFile)
{
    const std::string dir = makeTempDir("FlightLoad");
    setKeys({orbit(0, 10), orbit(20, 10)});
    ASSERT_TRUE(animation->save((dir + "/keys.txt").c_str()));
    std::ofstream(dir + "/bad.txt") << "3\n1 0 0 0 0 0 10 1 0 0\n";
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    EXPECT_FALSE(animation->load((dir + "/bad.txt").c_str()));
    EXPECT_EQ(said.text(MessageLevel::Error),
              "GLCameraAnimation: KeyCameraFile: 3 key cameras can't fit in 23 bytes\n");
    EXPECT_EQ(animation->getNKeyCameras(), 2);
    setKeys({});
    EXPECT_TRUE(animation->load((dir + "/keys.txt").c_str()));
    EXPECT_EQ(animation->getNKeyCameras(), 2);
    EXPECT_EQ(window->rows, 2);
}
