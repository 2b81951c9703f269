// The splat scene object: the view's matrices taken as the rasteriser's camera, its image laid
// over the frame as the rasteriser drew it, and the loader telling splat PLYs from others.
#include "objects/GLSplatObject.h"

#include "formats/SplatWriter.h"
#include "objects/GL3DObjectLoader.h"
#include "objects/GLPointListObject.h"
#include "ps/CPsRenderer.h"
#include "support/CapturedMessages.h"
#include "support/GLTestFixture.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <random>

namespace {

using testsupport::GLTestFixture;

// A few hundred splats of degree 1 in the unit cube, in the file's raw values.
std::vector<float> sampleValues(int count)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-1, 1);
    std::vector<float> v;
    for (int k = 0; k < count; ++k) {
        v.insert(v.end(), {u(rng), u(rng), u(rng), 0, 0, 1, 2 * u(rng), 2 * u(rng), 2 * u(rng)});
        for (int r = 0; r < 9; ++r)
            v.push_back(0.2f * u(rng));
        v.insert(v.end(), {1 + u(rng), std::log(0.1f), std::log(0.05f), std::log(0.02f), u(rng), u(rng), u(rng), 1});
    }
    return v;
}

std::string writeSample(const char *name, int count)
{
    std::filesystem::create_directories(VELMORA_TEMP_DIR);
    const std::string path = std::string(VELMORA_TEMP_DIR) + "/" + name;
    EXPECT_TRUE(SplatWriter::write(path, 1, sampleValues(count)));
    return path;
}

// One nearly opaque splat of unit scale at the origin, unrotated, in the default colour.
SplatScene oneOpaqueUnitSplat()
{
    SplatScene scene;
    scene.resize(1, 0);
    scene.opacity[0] = 0.999f;
    std::fill(scene.scale.begin(), scene.scale.end(), 1.f);
    scene.rotation[0] = 1;
    return scene;
}

class SplatObject : public GLTestFixture {
protected:
    // An off-centre frustum and a turned, shifted view.
    void setView()
    {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glFrustum(-0.09, 0.11, -0.12, 0.08, 0.2, 50);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glTranslatef(0.1f, -0.2f, -4.f);
        glRotatef(30, 0.3f, 1, 0.2f);
    }
};

TEST_F(SplatObject, TakesTheViewMatricesAsItsCamera)
{
    GLSplatObject object(SplatScene{}, "empty");
    setView();
    SplatCamera cam;
    ASSERT_TRUE(object.currentCamera(cam));
    GLdouble mv[16], pr[16];
    GLint vp[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, pr);
    glGetIntegerv(GL_VIEWPORT, vp);
    for (const auto &p : {std::array<double, 3>{0, 0, 0}, {0.7, -0.4, 0.3}, {-0.5, 0.8, -0.9}}) {
        double t[3];
        for (int r = 0; r < 3; ++r)
            t[r] = cam.R[3 * r] * p[0] + cam.R[3 * r + 1] * p[1] + cam.R[3 * r + 2] * p[2] + cam.t[r];
        double wx, wy, wz;
        ASSERT_TRUE(gluProject(p[0], p[1], p[2], mv, pr, vp, &wx, &wy, &wz));
        EXPECT_NEAR(cam.fx * t[0] / t[2] + cam.cx, wx, 1e-6);
        EXPECT_NEAR(cam.fy * t[1] / t[2] + cam.cy, kSize - wy, 1e-6); // rows from the top
    }
    // No pinhole camera for an orthographic view.
    orthographic(2);
    EXPECT_FALSE(object.currentCamera(cam));
}

TEST_F(SplatObject, LaysTheRasterisersImageOverTheFrame)
{
    const std::string path = writeSample("splat_object.ply", 600);
    GLSplatObject object(path.c_str());
    ASSERT_EQ(object.getScene().count, 600u);
    setView();
    SplatCamera cam;
    ASSERT_TRUE(object.currentCamera(cam));
    object.draw();
    expectNoGLError();
    const testsupport::RgbaImage frame = capture();
    const float black[3] = {0, 0, 0};
    const std::vector<unsigned char> expected = SplatRaster::render(object.getScene(), cam, {}).composite8(black);
    int worst = 0, covered = 0;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            for (int ch = 0; ch < 3; ++ch) {
                const int e = expected[3 * static_cast<size_t>(y * kSize + x) + static_cast<size_t>(ch)];
                worst = std::max(worst, std::abs(frame.at(x, y)[ch] - e));
                covered += e > 20;
            }
    EXPECT_LE(worst, 2);
    EXPECT_GT(covered, kSize * kSize / 4); // the comparison is not of two empty frames
    // The panel's settings reach the drawing: a larger scale covers more.
    object.notifyCommand('+');
    EXPECT_DOUBLE_EQ(object.getScaleFactor(), 1.1);
}

// A drag draws at most its budget: an even sample of the splats until the stand-in is built
// in the background, then the merged splats, each at half the resolution and much like the
// still frame.
TEST_F(SplatObject, DragsDrawTheStandInWithinTheBudget)
{
    const std::string path = writeSample("splat_drag.ply", 3000);
    GLSplatObject object(path.c_str());
    setView();
    SplatCamera cam;
    ASSERT_TRUE(object.currentCamera(cam));
    const SplatImage first = object.render(cam, true, 500);
    EXPECT_LE(first.drawn, 500u);
    EXPECT_EQ(first.width, (cam.width + 1) / 2);
    object.waitForLevelOfDetail();
    const SplatImage merged = object.render(cam, true, 500), still = object.render(cam);
    EXPECT_LE(merged.drawn, 500u);
    EXPECT_GT(merged.drawn, 50u);
    EXPECT_GT(still.drawn, 2000u);
    // The covered pixels of the two pictures agree (each drag pixel stands for 2 x 2).
    int both = 0, either = 0;
    for (int y = 0; y < merged.height; ++y)
        for (int x = 0; x < merged.width; ++x) {
            const bool m = merged.transmittance[static_cast<size_t>(y * merged.width + x)] < 0.5f;
            const bool s = still.transmittance[static_cast<size_t>(2 * y * still.width + 2 * x)] < 0.5f;
            both += m && s;
            either += m || s;
        }
    EXPECT_GT(both, either * 7 / 10);
    // Deleted splats are merged into no stand-in: with all but 20 gone, drags draw those.
    ElementCleaning &cleaning = *object.getCleaning();
    cleaning.getSelection().addRange(20, 3000);
    EXPECT_EQ(cleaning.remove(), 2980u);
    object.waitForLevelOfDetail();
    EXPECT_LE(object.render(cam, true, 500).drawn, 20u);
    EXPECT_LE(object.render(cam).drawn, 20u);
}

// A mesh nearer than the splats hides them, one farther is hidden, whichever is drawn first.
TEST_F(SplatObject, ComposesWithOtherObjectsByDepth)
{
    // One large, nearly opaque green splat at the origin, four units in front of the camera.
    SplatScene scene = oneOpaqueUnitSplat();
    const float green[3] = {-1.7724539f, 1.7724539f, -1.7724539f}; // colour (0, 1, 0)
    std::copy(green, green + 3, scene.dc.begin());
    GLSplatObject object(std::move(scene), "one splat");
    const auto quad = [](float z) {
        glColor3ub(255, 0, 0);
        glBegin(GL_QUADS);
        glVertex3f(-9, -9, z);
        glVertex3f(9, -9, z);
        glVertex3f(9, 9, z);
        glVertex3f(-9, 9, z);
        glEnd();
    };
    struct Case {
        bool quadFirst;
        float quadZ; // +2 is between the camera and the splat, -2 behind the splat
        bool red;
    };
    for (const Case c : {Case{true, 2, true}, Case{true, -2, false}, Case{false, 2, true}, Case{false, -2, false}}) {
        SCOPED_TRACE(testing::Message() << "quad at " << c.quadZ << (c.quadFirst ? ", drawn first" : ", drawn last"));
        enableState(DepthTest);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glFrustum(-0.1, 0.1, -0.1, 0.1, 0.2, 50);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glTranslatef(0, 0, -4);
        if (c.quadFirst)
            quad(c.quadZ);
        object.draw();
        if (!c.quadFirst)
            quad(c.quadZ);
        expectNoGLError();
        const testsupport::RgbaImage frame = capture();
        const unsigned char *centre = frame.at(kSize / 2, kSize / 2);
        if (c.red) {
            EXPECT_EQ(centre[0], 255);
            EXPECT_EQ(centre[1], 0);
        } else {
            EXPECT_LE(centre[0], 5); // the splat lets a hundredth of the red through at most
            EXPECT_GE(centre[1], 245);
        }
    }
}

// The same scene in a vector capture: the splats as an image, the quad under or over it.
TEST_F(SplatObject, GoesIntoVectorCapturesAsAnImageBetweenWhatIsBehindAndInFront)
{
    SplatScene scene = oneOpaqueUnitSplat();
    GLSplatObject object(std::move(scene), "one splat");
    struct Frame {
        GLSplatObject *object;
        float quadZ;
        CPsRenderer *renderer;
        void draw()
        {
            glMatrixMode(GL_PROJECTION);
            glLoadIdentity();
            glFrustum(-0.1, 0.1, -0.1, 0.1, 0.2, 50);
            glMatrixMode(GL_MODELVIEW);
            glLoadIdentity();
            glTranslatef(0, 0, -4);
            glColor3ub(255, 0, 0);
            glBegin(GL_QUADS);
            glVertex3f(-0.3f, -0.3f, quadZ);
            glVertex3f(0.3f, -0.3f, quadZ);
            glVertex3f(0.3f, 0.3f, quadZ);
            glVertex3f(-0.3f, 0.3f, quadZ);
            glEnd();
            FrameContext vector = FrameContext::of(FrameContext::Kind::VectorExport);
            vector.rasters = &renderer->frameRasters();
            object->draw(vector);
        }
    };
    std::filesystem::create_directories(VELMORA_TEMP_DIR);
    for (const float z : {2.f, -2.f}) {
        SCOPED_TRACE(testing::Message() << "quad at " << z);
        const std::string path =
            std::string(VELMORA_TEMP_DIR) + "/splat_capture_" + (z > 0 ? "front" : "behind") + ".eps";
        enableState(DepthTest);
        CPsRenderer renderer;
        Frame frame{&object, z, &renderer};
        const std::unique_ptr<PsRenderer::FunctorBase> draw = PsRenderer::Functor(&frame, &Frame::draw);
        testsupport::CapturedMessages quiet;
        ASSERT_TRUE(renderer.Run(path.c_str(), draw.get(), true));
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        const std::string eps = text.str();
        const size_t image = eps.find("/ImageType 4 /Width 128 /Height 128");
        const size_t quad = eps.find("1 0 0 setrgbcolor");
        ASSERT_NE(image, std::string::npos);
        ASSERT_NE(quad, std::string::npos);
        EXPECT_EQ(quad > image, z > 0); // the nearer quad over the image
        // The image's rows: hex of 128 pixels each, after "image".
        const size_t rows = eps.find("image\n", image) + 6;
        EXPECT_EQ(eps.find('\n', rows) - rows, 6u * 128u);
    }
}

TEST(SplatLoader, OpensSplatPlysAsSplatScenesAndOtherPlysAsBefore)
{
    const std::string splats = writeSample("splat_loader.ply", 20);
    const std::string points = std::string(VELMORA_TEMP_DIR) + "/splat_loader_points.ply";
    {
        std::FILE *f = std::fopen(points.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const char text[] = "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
                            "property float z\nproperty float opacity\nend_header\n0 0 0 1\n1 1 1 0\n";
        std::fwrite(text, 1, sizeof text - 1, f);
        std::fclose(f);
    }
    testsupport::CapturedMessages quiet;
    std::unique_ptr<GL3DObject> a(GL3DObjectLoader::load(splats.c_str(), nullptr));
    std::unique_ptr<GL3DObject> b(GL3DObjectLoader::load(points.c_str(), nullptr));
    EXPECT_NE(dynamic_cast<GLSplatObject *>(a.get()), nullptr);
    EXPECT_NE(dynamic_cast<GLPointListObject *>(b.get()), nullptr);
}

} // namespace
