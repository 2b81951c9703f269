// "Align to..." on the sample camera moved by a known similarity: the views come back onto
// the sample's own, the figures are printed and the markers show the position errors; a
// reference of too few views is refused with one line and moves nothing.
#include "gui/GLCameraInterface.h"
#include "gui/MainInterface.h"

#include "app/GLMachine.h"
#include "camera/AlignedViews.h"
#include "camera/GLCamera.h"
#include "formats/CameraFile.h"
#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"
#include "support/Process.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

void pumpEvents()
{
    for (int i = 0; i < 200 && gtk_events_pending(); ++i)
        gtk_main_iteration_do(FALSE);
}

// The first `views` views of `file` moved by `S`, as a "V4.0" camera file.
void writeMoved(const CameraFile &file, const Similarity &S, size_t views, const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "V4.0\n%.9g %.9g %.9g %.9g %.9g %.9g\n%zu\n", file.W, file.H, file.cx, file.cy, file.fx, file.fy,
                 views);
    for (size_t i = 0; i < views; ++i) {
        Mat3d R;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                R[static_cast<size_t>(3 * r + c)] = file.R[i](r, c);
        Vec3d t = {file.t[i].x, file.t[i].y, file.t[i].z};
        movePose(S, R, t);
        for (size_t r = 0; r < 3; ++r)
            std::fprintf(f, "%.17g %.17g %.17g %.17g\n", R[3 * r], R[3 * r + 1], R[3 * r + 2], t[r]);
    }
    std::fclose(f);
}

TEST(AlignTo, BringsAMovedCameraBackAndColoursItsMarkersByTheErrors)
{
    const std::string dir = testsupport::makeTempDir("AlignTo");
    const auto made =
        testsupport::runProcess({std::string(VELMORA_BINARY_DIR) + "/make_sample_scene", dir, "12", "40", "16"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    CameraFile sample;
    sample.read((dir + "/scene.dat").c_str());
    ASSERT_EQ(sample.R.size(), 12u);
    Similarity S;
    S.s = 3.7;
    const double n = std::sqrt(14.0);
    S.R = rotationAbout({1 / n, -2 / n, 3 / n}, 40 * 3.14159265358979323846 / 180);
    S.t = {12.5, -4.25, 7};
    writeMoved(sample, S, 12, dir + "/moved.dat");
    writeMoved(sample, Similarity(), 2, dir + "/two.dat");

    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    MainInterface *window = nullptr;
    std::unique_ptr<GLMachine> machine(new GLMachine(256, 256, [&window](GLMachine *m, int w, int h) {
        window = new MainInterface(m, "Velmora", w, h);
        return std::unique_ptr<SceneWindow>(window);
    }));
    pumpEvents();
    ASSERT_TRUE(window->makeCurrent(false));
    {
        testsupport::CapturedMessages loading;
        machine->registerObject("moved.dat");
    }
    pumpEvents();
    GLCamera *camera = machine->getCurrentCamera();
    ASSERT_NE(camera, nullptr);
    ASSERT_EQ(camera->getNViews(), 12);
    auto *panel = dynamic_cast<GLCameraInterface *>(camera->getInterface());
    ASSERT_NE(panel, nullptr);

    {
        CapturingMessageSink refused;
        {
            ScopedMessageSink scope(refused);
            EXPECT_FALSE(panel->alignTo("two.dat"));
        }
        const std::string text = refused.text(MessageLevel::Error);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_NE(text.find("fewer than 3 matched views"), std::string::npos) << text;
        EXPECT_TRUE(camera->getMarkerColours().empty());
    }

    testsupport::CapturedMessages figures;
    ASSERT_TRUE(panel->alignTo("scene.dat"));
    const std::string text = figures.take();
    for (const char *figure : {"\ns ", "\nrotation axis ", "\nt ", "position error: mean ", "rotation error: mean "})
        EXPECT_NE(text.find(figure), std::string::npos) << figure << " in\n" << text;
    for (int i = 0; i < 12; ++i) {
        const Matrix3 &R = camera->getRotation(i);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(R(r, c), sample.R[static_cast<size_t>(i)](r, c), 1e-6) << "view " << i;
        const Point3 &t = camera->getTranslation(i), &expected = sample.t[static_cast<size_t>(i)];
        const double scale = std::max(1.0f, expected.norm());
        EXPECT_NEAR(t.x, expected.x, 1e-6 * scale) << "view " << i;
        EXPECT_NEAR(t.y, expected.y, 1e-6 * scale) << "view " << i;
        EXPECT_NEAR(t.z, expected.z, 1e-6 * scale) << "view " << i;
    }
    EXPECT_EQ(camera->getMarkerColours().size(), 36u);
    EXPECT_NE(camera->getOptions() & GLCamera::CAMERA_ORIGINS, 0u);

    machine.reset();
    pumpEvents();
    EXPECT_EQ(chdir(cwd), 0);
}

} // namespace
