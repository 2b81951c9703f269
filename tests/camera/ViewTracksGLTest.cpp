// A reconstruction's view shown over its photograph: its keypoints, their residuals and a
// point's track, found by their colours on the pixels the known geometry gives.
#include "camera/GLCamera.h"
#include "camera/ReconstructionImport.h"
#include "formats/ColmapModel.h"

#include "camera/ReconstructionTestFiles.h"
#include "support/CapturedMessages.h"
#include "support/GLTestFixture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

using namespace recontest;

namespace {

class KeypointView : public testsupport::GLTestFixture {
protected:
    // Half the photographs' 640 x 480 pixels: a window pixel is two photograph pixels.
    KeypointView() : GLTestFixture(320, 240) {}
};

// The window pixel of photograph pixel (u, v) of the pinhole view shown from its pose.
struct Spot {
    double u, v;
};

int closeTo(const unsigned char *p, const unsigned char *rgb)
{
    return std::abs(p[0] - rgb[0]) < 40 && std::abs(p[1] - rgb[1]) < 40 && std::abs(p[2] - rgb[2]) < 40;
}

} // namespace

TEST_F(KeypointView, KeypointsResidualsAndTrackLinesLieWhereTheGeometrySays)
{
    const Model m = knownModel();
    const std::string dir = testsupport::makeTempDir("keypoint-view");
    writeColmapText(m, dir);
    Reconstruction rec = ColmapModel::read(dir, false);
    // View 1 is b.png, m.cams[0], of the pinhole camera 3; its keypoint j observes point j.
    ASSERT_EQ("b.png", rec.views[1].imageName);
    const Cam &b = m.cams[0];
    const Intr &k = m.of(b);
    double u[4], v[4];
    for (int j = 0; j < 4; ++j)
        colmapPixel(b, k, m.points[static_cast<size_t>(j)], u[j], v[j]);
    // Point 1's keypoint two pixels right of where it projects; one keypoint observes nothing.
    rec.views[1].keypoints[2] += 2;
    rec.views[1].keypoints.insert(rec.views[1].keypoints.end(), {100.5f, 400.5f});
    rec.views[1].observes.push_back(-1);
    std::unique_ptr<GLCamera> camera;
    {
        testsupport::CapturedMessages quiet;
        camera = ReconstructionImport::makeCamera(rec, std::vector<std::string>(3));
    }
    camera->resizeWindow(320, 240);
    camera->setZPlanes(0.1f, 100);
    camera->goToView(1);
    camera->perform(GLCamera::Action::IMAGES);
    camera->getTracks().setResidualFactor(10);
    // Point 3's track: lines from views 0 and 2 to it; view 0's centre projects far left.
    const Vec X = m.points[3];
    camera->getTracks().show(3, Point3(static_cast<float>(X.x), static_cast<float>(X.y), static_cast<float>(X.z)));
    camera->toggleOption(GLCamera::CAMERA_ORIGINS);
    const Cam &a = m.cams[1];
    double R[9];
    rotationOf(a.q, R);
    const Vec centreA{-(R[0] * a.t[0] + R[3] * a.t[1] + R[6] * a.t[2]), -(R[1] * a.t[0] + R[4] * a.t[1] + R[7] * a.t[2]),
                      -(R[2] * a.t[0] + R[5] * a.t[1] + R[8] * a.t[2])};
    double eu, ev;
    colmapPixel(b, k, centreA, eu, ev);
    const double du = eu - u[3], dv = ev - v[3], length = std::hypot(du, dv);

    struct Case {
        const char *what;
        Spot at;
        const unsigned char *rgb;
    };
    const Case cases[] = {
        {"an observed keypoint", {u[2], v[2]}, ViewTracks::observedColour},
        {"the moved keypoint", {u[1] + 2, v[1]}, ViewTracks::observedColour},
        {"its residual, ten times as long, to the left", {u[1] + 2 - 12, v[1]}, ViewTracks::residualColour},
        {"the unobserved keypoint", {100.5, 400.5}, ViewTracks::unobservedColour},
        {"the track line towards view 0", {u[3] + 24 * du / length, v[3] + 24 * dv / length}, ViewTracks::highlight},
    };
    for (const bool shown : {true, false}) {
        camera->getTracks().setKeypointsShown(shown);
        if (!shown)
            camera->getTracks().show(-1, Point3());
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        camera->loadMatrices();
        camera->draw();
        expectNoGLError();
        const testsupport::RgbaImage img = capture();
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.what) + (shown ? ", shown" : ", hidden"));
            // Photograph pixels (0.5, 0.5) .. (639.5, 479.5) fill the window's 320 x 240.
            const int x = static_cast<int>(std::floor(c.at.u / 2)), y = static_cast<int>(std::floor(c.at.v / 2));
            ASSERT_TRUE(x >= 1 && y >= 1 && x < 319 && y < 239);
            int found = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    found += closeTo(img.at(x + dx, y + dy), c.rgb);
            if (shown)
                EXPECT_GE(found, 2);
            else
                EXPECT_EQ(found, 0);
        }
    }
}
