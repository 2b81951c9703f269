#include "camera/GLView.h"

#include "camera/CameraTestFiles.h"
#include "math/Messages.h"
#include "support/ImageCompare.h"
#include "support/MathCompare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <thread>

using namespace cameratest;
using testsupport::kPi;
using testsupport::near;

namespace {

// A camera file read into a view, with what the reading printed and the text of its failure.
struct Loaded {
    std::unique_ptr<GLView> view;
    std::string out, err, error;
};

class ViewFiles : public ::testing::Test {
protected:
    void SetUp() override { dir = testsupport::makeTempDir("GLView"); }

    std::string write(const std::string &name, const std::string &content)
    {
        return writeFile(dir, name, content);
    }

    Loaded load(const std::string &path)
    {
        Loaded r;
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        try {
            r.view = std::make_unique<GLView>(path.c_str());
        } catch (const std::exception &e) {
            r.error = e.what();
        }
        // What standard error and standard output would have shown.
        for (const CapturingMessageSink::Entry &e : said.entries())
            (e.level == MessageLevel::Diagnostic ? r.err : r.out) += e.text;
        return r;
    }
    std::unique_ptr<GLView> loadText(const std::string &name, const std::string &text)
    {
        return load(write(name, text)).view;
    }

    std::string dir;
};

std::unique_ptr<GLView> defaultView()
{
    CapturingMessageSink quiet;
    ScopedMessageSink scope(quiet);
    return std::make_unique<GLView>();
}

// Window pixel (x right, y down) of a world point under an OpenGL projection and model-view.
Point2 windowPixel(const Matrix4 &k, const Matrix4 &e, Point3 X, int winW, int winH)
{
    float clip[4];
    (k * e).product(clip, X);
    return Point2((clip[0] / clip[3] + 1) / 2 * winW, (1 - clip[1] / clip[3]) / 2 * winH);
}

float ndcDepth(const Matrix4 &k, const Matrix4 &e, Point3 X)
{
    float clip[4];
    (k * e).product(clip, X);
    return clip[2] / clip[3];
}

Matrix3 aboutY(float angle)
{
    return rotation(Point3(0, 1, 0), angle);
}

} // namespace

TEST(GLViewDefault, ThirtySixViewsOnTheUnitCircle)
{
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    GLView v;
    v.print();
    EXPECT_EQ(said.text(MessageLevel::Note),
              "GLCamera: Load default camera\nfocal:1.000000 cx:0.500000 cy:0.500000\n");
    EXPECT_EQ(v.getNViews(), 36);
    EXPECT_EQ(v.getType(), GLObject::CAMERA);
    // Every view looks at the origin from one unit away. Turning the world by +10 degrees
    // about +y is turning the camera the other way: from (0, 0, -1) towards +x.
    for (int i = 0; i < 36; i++) {
        const Point3 c = v.getOrigin(i);
        EXPECT_TRUE(near(c, Point3(std::sin(i * kPi / 18), 0, -std::cos(i * kPi / 18)), 1e-5f)) << i;
        EXPECT_TRUE(near(c + v.getOpticalAxis(i), Point3(0, 0, 0), 1e-5f)) << i;
    }
}

TEST_F(ViewFiles, Version1CountsItsViewsAndTakesTheAxisFromViewFour)
{
    // 36 rotations about a tilted axis, then an incomplete group that is not a view.
    const Point3 tilted = Point3(0.3f, 1, 0.2f).normalized();
    std::string text = "640 480\n321.5\n239.25\n800\n0.01 -0.02 0.5\n";
    std::vector<Matrix3> rs;
    for (int i = 0; i < 36; i++) {
        rs.push_back(rotation(tilted, 0.05f + i * kPi / 18));
        char line[256];
        for (int r = 0; r < 3; r++) {
            snprintf(line, sizeof line, "%.9g %.9g %.9g\n", rs[i](r, 0), rs[i](r, 1), rs[i](r, 2));
            text += line;
        }
    }
    text += "1 0 0 0 1 0 0 0\n";
    const Loaded r = load(write("turntable.dat", text));
    ASSERT_TRUE(r.view);
    const GLView &v = *r.view;
    EXPECT_EQ(r.out, "GLCamera: Read camera file:" + dir + "/turntable.dat v1.0\n");
    EXPECT_EQ(v.getNViews(), 36);
    EXPECT_EQ(v.getHeight(), 480);
    EXPECT_EQ(v.getCenterX(), 321.5f);
    EXPECT_EQ(v.getCenterY(), 239.25f);
    EXPECT_EQ(v.getFocalX(), 800);
    EXPECT_EQ(v.getFocalY(), 800);
    for (int i : {0, 7, 35}) {
        EXPECT_TRUE(near(v.getRotation(i), rs[i], 1e-6f)) << i;
        EXPECT_TRUE(near(v.getTranslation(i), Point3(10, -20, 500), 1e-3f)) << i;
    }
    // View 36 / 8 = 4 turns by 0.05 + 4 * 10 degrees about the tilted axis.
    EXPECT_TRUE(near(v.getRotationAxis(), tilted, 1e-4f));

    // Three views, the axis from view 0, which has no rotation: the default +y stands in.
    auto three = loadText("three.dat", "100 100 50 50 100 0 0 1\n" + std::string(3, ' ') +
                                           "1 0 0 0 1 0 0 0 1 1 0 0 0 1 0 0 0 1 1 0 0 0 1 0 0 0 1 1 2\n");
    ASSERT_TRUE(three);
    EXPECT_EQ(three->getNViews(), 3);
    EXPECT_TRUE(near(three->getRotationAxis(), Point3(0, 1, 0), 0));
}

TEST_F(ViewFiles, Version2BuildsTheTurntable)
{
    // The axis is written with length 2; the base rotation is a quarter turn about x, given
    // as the quaternion (x, y, z, w).
    const float h = std::sqrt(0.5f);
    char text[256];
    snprintf(text, sizeof text, "V2.0\n640 480\n320\n240\n700\n0.5 -0.25 30\n12 0 2 0\n1 2 3 %.9g 0 0 %.9g\n",
             h, h);
    const Loaded r = load(write("v2.dat", text));
    ASSERT_TRUE(r.view);
    GLView &v = *r.view;
    EXPECT_EQ(r.out, "GLCamera: Read camera file:" + dir + "/v2.dat v2.0\n");
    EXPECT_EQ(v.getNViews(), 12);
    EXPECT_EQ(v.getFocalY(), 700);
    EXPECT_TRUE(near(v.getRotationAxis(), Point3(0, 1, 0), 1e-6f));
    const Matrix3 base = rotation(Point3(1, 0, 0), kPi / 2);
    const Point3 T0(0.5f, -0.25f, 30), P(1, 2, 3);
    for (int i = 0; i < 12; i++) {
        const Matrix3 q = aboutY(2 * kPi * i / 12);
        EXPECT_TRUE(near(v.getRotation(i), q * base, 1e-5f)) << i;
        EXPECT_TRUE(near(v.getTranslation(i), T0 + q * P, 1e-4f)) << i;
        // The turntable at an angle in degrees is the same model.
        EXPECT_TRUE(near(v.getGLEMatrix(30.f * i), v.getGLEMatrix(i), 1e-5f)) << i;
    }
    EXPECT_TRUE(near(v.getGLEMatrix(45.f), Matrix4::GLCS * Matrix4(aboutY(kPi / 4) * base, T0 + aboutY(kPi / 4) * P),
                     1e-5f));

    // Without the trailer: no base rotation, no offset.
    auto plain = loadText("short.dat", "V2.0 640 480 320 240 700 0 0 30 4 0 0 1\n1 2 3\n");
    ASSERT_TRUE(plain);
    EXPECT_TRUE(near(plain->getRotation(1), rotation(Point3(0, 0, 1), kPi / 2), 1e-6f));
    EXPECT_TRUE(near(plain->getTranslation(3), Point3(0, 0, 30), 1e-6f));
}

TEST_F(ViewFiles, Version3ReadsAnglesInRadiansOrDegrees)
{
    const Loaded r = load(write("deg.dat", "V3.0\n640 480\n300 200\n800 820\n0 0 25\n3 0 1 0\ndeg\n0 90 -45\n"));
    ASSERT_TRUE(r.view);
    EXPECT_EQ(r.out, "GLCamera: Read camera file:" + dir + "/deg.dat v3.0\n");
    EXPECT_EQ(r.view->getCenterY(), 200);
    EXPECT_EQ(r.view->getFocalX(), 800);
    EXPECT_EQ(r.view->getFocalY(), 820);
    EXPECT_TRUE(near(r.view->getRotation(0), Matrix3(), 1e-6f));
    EXPECT_TRUE(near(r.view->getRotation(1), aboutY(kPi / 2), 1e-6f));
    EXPECT_TRUE(near(r.view->getRotation(2), aboutY(-kPi / 4), 1e-6f));

    // Without "deg" the first angle is not lost.
    auto rad = loadText("rad.dat", "V3.0 640 480 300 200 800 820 0 0 25 2 0 1 0 1.5707963 3.1415927\n");
    ASSERT_TRUE(rad);
    EXPECT_TRUE(near(rad->getRotation(0), aboutY(kPi / 2), 1e-6f));
    EXPECT_TRUE(near(rad->getRotation(1), aboutY(kPi), 1e-6f));

    // A stream that cannot be rewound (a download, here a pipe) keeps its first angle too.
    const std::string fifo = dir + "/pipe.dat";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        std::ofstream(fifo) << "V3.0 640 480 300 200 800 820 0 0 25 2 0 1 0 1.5707963 3.1415927\n";
    });
    const Loaded piped = load(fifo);
    writer.join();
    ASSERT_TRUE(piped.view);
    EXPECT_TRUE(near(piped.view->getRotation(0), aboutY(kPi / 2), 1e-6f));
    EXPECT_TRUE(near(piped.view->getRotation(1), aboutY(kPi), 1e-6f));

    // "degrees" starts with "deg" too; the trailer is that of version 2.0.
    auto trailer = loadText("trailer.dat", "V3.0 640 480 300 200 800 820 0 0 25 1 0 1 0 degrees 90\n0 0 1 0 0 0 1\n");
    ASSERT_TRUE(trailer);
    EXPECT_TRUE(near(trailer->getTranslation(0), Point3(0, 0, 25) + aboutY(kPi / 2) * Point3(0, 0, 1), 1e-5f));
}

TEST_F(ViewFiles, Version4ReadsBothPoseLayoutsBetweenBlankAndCommentLines)
{
    const std::string text = "V4.0\n1024 768\n500.5 380.25\n900 910\n3\n"
                             "\ncamera 0\n0 -1 0 1.5\n1 0 0 -2\n\n0 0 1 7\n"
                             "\n\n# three rows and a translation line\n1 0 0\n0 0 -1\n0 1 0\n0.25 0.5 12\n"
                             "\n1 0 0 0\n0 1 0 0\n0 0 1 3\n";
    const Loaded r = load(write("poses.dat", text));
    ASSERT_TRUE(r.view);
    const GLView &v = *r.view;
    EXPECT_EQ(r.out, "GLCamera: Read camera file:" + dir + "/poses.dat v4.0\n");
    EXPECT_EQ(v.getNViews(), 3);
    EXPECT_EQ(v.getWidth(), 1024);
    EXPECT_EQ(v.getCenterY(), 380.25f);
    EXPECT_EQ(v.getFocalY(), 910);
    EXPECT_TRUE(near(v.getRotation(0), Matrix3(Point3(0, 1, 0), Point3(-1, 0, 0), Point3(0, 0, 1)), 0));
    EXPECT_TRUE(near(v.getTranslation(0), Point3(1.5f, -2, 7), 0));
    EXPECT_TRUE(near(v.getRotation(1), Matrix3(Point3(1, 0, 0), Point3(0, 0, 1), Point3(0, -1, 0)), 0));
    EXPECT_TRUE(near(v.getTranslation(1), Point3(0.25f, 0.5f, 12), 0));
    EXPECT_TRUE(near(v.getTranslation(2), Point3(0, 0, 3), 0));
    // The centre of a view is -R^-1 t.
    EXPECT_TRUE(near(v.getOrigin(0), Point3(2, 1.5f, -7), 1e-6f));
    EXPECT_TRUE(near(v.getOrigin(1), Point3(-0.25f, -12, 0.5f), 1e-6f));
}

TEST_F(ViewFiles, Version4ReportsOddPosesAndStopsWhereTheFileEnds)
{
    // View 1 has rows of 4, 3 and 3 numbers: it is stored as read.
    const Loaded odd = load(write("odd.dat", "V4.0 640 480 320 240 500 500 2\n1 0 0 0\n0 1 0 0\n0 0 1 5\n"
                                             "1 0 0 9\n0 1 0\n0 0 1\n7 7 7\n"));
    ASSERT_TRUE(odd.view);
    EXPECT_EQ(odd.out, "GLCamera: Read camera file:" + dir + "/odd.dat v4.0\n"
                       "GLCamera: wrong format reading pose matrix 1\n");
    EXPECT_TRUE(near(odd.view->getTranslation(1), Point3(9, 0, 0), 0));

    // Three views announced, one and a half given: the rest keep the identity pose.
    const Loaded cut =
        load(write("short4.dat", "V4.0 640 480 320 240 500 500 3\n0 -1 0 1\n1 0 0 2\n0 0 1 3\n\n0 1 0 4\n"));
    ASSERT_TRUE(cut.view);
    EXPECT_EQ(cut.view->getNViews(), 3);
    EXPECT_EQ(cut.out, "GLCamera: Read camera file:" + dir + "/short4.dat v4.0\n"
                       "GLCamera: wrong format reading pose matrix 1\n"
                       "GLCamera: camera file ends after 1 of 3 poses\n");
    EXPECT_TRUE(near(cut.view->getTranslation(0), Point3(1, 2, 3), 0));
    EXPECT_TRUE(near(cut.view->getTranslation(1), Point3(4, 0, 0), 0));
    EXPECT_TRUE(near(cut.view->getRotation(2), Matrix3(), 0));
    EXPECT_TRUE(near(cut.view->getTranslation(2), Point3(0, 0, 0), 0));
}

TEST_F(ViewFiles, BadFilesAreRefusedWithTheirReason)
{
    const std::string pre = "Unable to load camera file";
    std::string manyViews = "640 480 320 240 500 0 0 1\n";
    for (int i = 0; i <= GLView::maxViews; i++)
        manyViews += "1 0 0 0 1 0 0 0 1\n";
    const struct {
        const char *name;
        std::string content;
        std::string error;
    } cases[] = {
        {"empty", "", pre + ": the file is empty"},
        {"blank", " \n\t\n", pre + ": the file holds nothing but blanks"},
        {"v2 zero views", "V2.0 640 480 320 240 500 0 0 10 0 0 1 0\n", pre + ": view count 0 is not positive"},
        {"v3 negative views", "V3.0 640 480 320 240 500 500 0 0 10 -5 0 1 0 deg 0\n",
         pre + ": view count -5 is not positive"},
        // 2^31 - 1 views announced in a file of about fifty bytes.
        {"v4 huge count", "V4.0\n640 480\n320 240\n500 500\n2147483647\n1 0 0 0\n",
         pre + ": view count 2147483647 is larger than 10000"},
        {"v4 count beyond int", "V4.0 640 480 320 240 500 500 99999999999999999999999\n",
         pre + ": view count 1000000000000 is larger than 10000"},
        {"v2 count not a number", "V2.0 640 480 320 240 500 0 0 10 many 0 1 0\n", pre + ": no view count"},
        {"v3 header only", "V3.0\n", pre + ": no view count"},
        {"v4 cut in the intrinsics", "V4.0 640 48", pre + ": no view count"},
        {"v1 too short", "640 480 320 240", pre + ": no complete view in a version 1.0 file"},
        {"v1 header only", "640 480 320 240 500 0 0 1\n", pre + ": no complete view in a version 1.0 file"},
        {"v1 too many views", manyViews, pre + ": more than 10000 views"},
        // The tag is compared whole: this is a version 1.0 file without a view.
        {"tag with more", "V2.0x 640 480 320 240 500 0 0 1 36 0 1 0\n",
         pre + ": no complete view in a version 1.0 file"},
        {"v4 zero image size", "V4.0 0 480 320 240 500 500 1\n1 0 0 0\n0 1 0 0\n0 0 1 1\n",
         pre + ": image size 0.000000 x 480.000000 is not positive"},
        {"binary", std::string("\x00\x01\x02\xff\xfe", 5), pre + ": no complete view in a version 1.0 file"},
    };
    for (const auto &c : cases) {
        const std::string path = write(std::string(c.name) + ".dat", c.content);
        const Loaded r = load(path);
        EXPECT_FALSE(r.view) << c.name;
        EXPECT_EQ(r.error, c.error) << c.name;
        EXPECT_EQ(r.err.rfind("GLCamera: Unable to load camera file:" + path + "\n", 0), 0u) << c.name << ": " << r.err;
    }
    const Loaded missing = load(dir + "/missing.dat");
    EXPECT_EQ(missing.error, pre);
    EXPECT_EQ(missing.err, "GLCamera: Unable to load camera file:" + dir + "/missing.dat\n");
    EXPECT_EQ(load(dir).error, pre) << "a directory";

    // A failed load leaves a view as it was.
    auto v = defaultView();
    {
        CapturingMessageSink quiet;
        ScopedMessageSink scope(quiet);
        EXPECT_THROW(v->load(write("zero.dat", "V4.0 640 480 320 240 500 500 0\n").c_str()), std::runtime_error);
    }
    EXPECT_EQ(v->getNViews(), 36);
    EXPECT_EQ(v->getWidth(), 1);
    EXPECT_TRUE(near(v->getOrigin(0), Point3(0, 0, -1), 1e-6f));
}

TEST_F(ViewFiles, NoTruncationOfAValidFileBreaksTheReader)
{
    // Every prefix of a file of each version either loads with at least one view and a
    // usable image size or is refused with the load error.
    const std::string files[] = {
        "640 480 320 240 500 0 0 1\n1 0 0 0 1 0 0 0 1\n0 0 1 0 1 0 -1 0 0\n",
        "V2.0 640 480 320 240 500 0 0 10 8 0 1 0 0.5 0 0 0 0 0 1\n",
        "V3.0 640 480 320 240 500 500 0 0 10 3 0 1 0 deg 0 90 180 0 0 0 0 0 0 1\n",
        version4(640, 480, 320, 240, 500, 500,
                 {lookAt(Point3(0, 0, -5), Point3(0, 0, 0)), lookAt(Point3(5, 0, 0), Point3(0, 0, 0))}),
    };
    for (const std::string &file : files)
        for (size_t n = 0; n <= file.size(); n++) {
            const Loaded r = load(write("cut.dat", file.substr(0, n)));
            if (r.view) {
                EXPECT_GE(r.view->getNViews(), 1);
                EXPECT_GT(r.view->getWidth(), 0);
                r.view->getGLEMatrix(r.view->getNViews() - 1);
            } else {
                EXPECT_EQ(r.error.rfind("Unable to load camera file", 0), 0u) << n << ": " << r.error;
            }
        }
}

TEST(GLViewMatrices, KAndTheWrappedViewIndex)
{
    auto v = defaultView();
    v->setFocal(2);
    Matrix3 k = Matrix3::Zero;
    k(0, 0) = k(1, 1) = 2;
    k(0, 2) = k(1, 2) = 0.5f;
    k(2, 2) = 1;
    EXPECT_TRUE(near(v->getKMatrix(), k, 0));
    EXPECT_TRUE(near(v->getGLEMatrix(-1), v->getGLEMatrix(35), 0));
    EXPECT_TRUE(near(v->getGLEMatrix(36), v->getGLEMatrix(0), 0));
    EXPECT_TRUE(near(v->getGLEMatrix(-37), v->getGLEMatrix(35), 0));
    EXPECT_TRUE(near(v->getOrigin(37), v->getOrigin(1), 0));
    // The OpenGL form turns the camera frame's y down / z forward into y up / z backward.
    EXPECT_TRUE(near(v->getGLEMatrix(0), Matrix4::GLCS * Matrix4(Matrix3(), Point3(0, 0, 1)), 0));
}

namespace {

// A photograph of 640 x 480 with an off-centre principal point and unequal focal lengths,
// seen from three poses around the origin.
struct ViewPhotographs : ViewFiles {
    static constexpr float W = 640, H = 480, cx = 301.5f, cy = 255.25f, fx = 700, fy = 690;
    std::vector<Pose> poses = {lookAt(Point3(0.5f, 1, -8), Point3(0, 0, 0)),
                               lookAt(Point3(7, -2, 3), Point3(0.2f, 0, 0)),
                               lookAt(Point3(-3, 4, 6), Point3(0, 0.3f, 0))};
    std::unique_ptr<GLView> view;

    void SetUp() override
    {
        ViewFiles::SetUp();
        view = loadText("photo.dat", version4(W, H, cx, cy, fx, fy, poses));
        ASSERT_TRUE(view);
    }
};

} // namespace

TEST_F(ViewPhotographs, WorldPointsLandOnTheirPixelsInAnyWindowShape)
{
    const Point3 points[] = {{0, 0, 0}, {1, 0.5f, -0.25f}, {-0.75f, -1, 0.5f}, {0.3f, 1.2f, 1}};
    // Same aspect ratio as the photograph, wider (bands left and right) and taller (bands
    // above and below).
    const int windows[][2] = {{320, 240}, {500, 240}, {320, 400}};
    for (const auto &win : windows) {
        const int w = win[0], h = win[1];
        // The photograph is scaled to fill the window in one direction and centred.
        const float scale = std::min(w / W, h / H);
        const Point2 offset((w - W * scale) / 2, (h - H * scale) / 2);
        const Matrix4 k = view->getGLKMatrix(w, h, 1, 100);
        for (int i = 0; i < 3; i++)
            for (const Point3 &X : points) {
                const Point2 expected = offset + pixel(fx, fy, cx, cy, poses[i], X) * scale;
                const Point2 actual = windowPixel(k, view->getGLEMatrix(i), X, w, h);
                EXPECT_NEAR(actual.x, expected.x, 2e-3f) << w << "x" << h << " view " << i;
                EXPECT_NEAR(actual.y, expected.y, 2e-3f) << w << "x" << h << " view " << i;
            }
    }
}

TEST_F(ViewPhotographs, DepthRangeAndOrthographicScaleAtMidDepth)
{
    const float zNear = 2, zFar = 20;
    const Pose &pose = poses[0];
    const Matrix3 Rinv = pose.R.inverse();
    // World points at camera depth z on the ray through photograph pixel (u, v).
    const auto at = [&](float u, float v, float z) {
        return Rinv * (Point3((u - cx) / fx * z, (v - cy) / fy * z, z) - pose.t);
    };
    Matrix4 persp = view->getGLKMatrix(320, 240, zNear, zFar);
    EXPECT_NEAR(ndcDepth(persp, view->getGLEMatrix(0), at(100, 50, zNear)), -1, 1e-4f);
    EXPECT_NEAR(ndcDepth(persp, view->getGLEMatrix(0), at(100, 50, zFar)), 1, 1e-4f);

    view->setProjectionMode(1);
    const Matrix4 ortho = view->getGLKMatrix(320, 240, zNear, zFar);
    EXPECT_EQ(ortho(3, 2), 0);
    const Matrix4 e = view->getGLEMatrix(0);
    EXPECT_NEAR(ndcDepth(ortho, e, at(100, 50, zNear)), -1, 1e-4f);
    EXPECT_NEAR(ndcDepth(ortho, e, at(100, 50, zFar)), 1, 1e-4f);
    // At mid-depth the orthographic picture matches the photograph ...
    const float mid = (zNear + zFar) / 2;
    for (const Point2 &uv : {Point2(100, 50), Point2(600, 400), Point2(cx, cy)}) {
        const Point2 p = windowPixel(ortho, e, at(uv.x, uv.y, mid), 320, 240);
        EXPECT_NEAR(p.x, uv.x / 2, 2e-3f);
        EXPECT_NEAR(p.y, uv.y / 2, 2e-3f);
    }
    // ... and a pair of points keeps its size on the screen whatever its depth.
    const Point3 back = Rinv * Point3(0, 0, 5);
    const Point2 near0 = windowPixel(ortho, e, at(600, 400, zNear), 320, 240);
    const Point2 near1 = windowPixel(ortho, e, at(100, 50, zNear), 320, 240);
    const Point2 far0 = windowPixel(ortho, e, at(600, 400, zNear) + back, 320, 240);
    const Point2 far1 = windowPixel(ortho, e, at(100, 50, zNear) + back, 320, 240);
    EXPECT_NEAR((near0 - near1).x, (far0 - far1).x, 2e-3f);
    EXPECT_NEAR((near0 - near1).y, (far0 - far1).y, 2e-3f);
}

TEST_F(ViewPhotographs, PerfectMatrixIsThePerspectiveWithTheCentredPrincipalPoint)
{
    Matrix4 expected = view->getGLKMatrix(500, 240, 1, 50);
    expected(0, 2) = expected(1, 2) = 0;
    view->setProjectionMode(1);
    EXPECT_TRUE(near(view->getGLKPerfectMatrix(500, 240, 1, 50), expected, 0));
    EXPECT_EQ(view->getProjectionMode(), 1);
}

TEST(GLViewMatrices, MovedTurntableAndAxisViews)
{
    // The default turntable moved to turn about o at distance 6: every view looks at o.
    auto v = defaultView();
    const Point3 o(1, -2, 0.5f);
    v->setOrigin(o);
    v->setDistance2Origin(6);
    for (int i = 0; i < 36; i++)
        EXPECT_TRUE(near(v->getOrigin(i) + v->getOpticalAxis(i) * 6, o, 1e-5f)) << i;
    // The axis views of o see it straight ahead at that distance, and a step along their
    // world axis goes straight away.
    const struct {
        Matrix4 m;
        Point3 axis;
    } views[] = {{v->getGLEMatrixAxeX(o), Point3(1, 0, 0)},
                 {v->getGLEMatrixAxeY(o), Point3(0, 1, 0)},
                 {v->getGLEMatrixAxeZ(o), Point3(0, 0, 1)}};
    for (const auto &a : views) {
        EXPECT_TRUE(near(a.m * o, Point3(0, 0, -6), 1e-5f));
        EXPECT_TRUE(near(a.m * (o + a.axis), Point3(0, 0, -7), 1e-5f));
        EXPECT_NEAR(a.m.getSubMatrix().determinant(), 1, 1e-6f) << "no mirror image";
    }
    // A new distance keeps the point the views look at.
    v->setDistance2Origin(10);
    EXPECT_TRUE(near(v->getOrigin(5) + v->getOpticalAxis(5) * 10, o, 1e-4f));
}
