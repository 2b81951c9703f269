// "Align to..." on the sample camera moved by a known similarity brings its views back onto
// the sample's own, prints the figures and colours the markers by the position errors.
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

#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

TEST(AlignTo, BringsAMovedCameraBackAndColoursItsMarkersByTheErrors)
{
    const std::string dir = testsupport::makeTempDir("AlignTo");
    const auto made = testsupport::runProcess({std::string(VELMORA_BINARY_DIR) + "/make_sample_scene", dir, "12", "40", "16"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    CameraFile sample;
    sample.read((dir + "/scene.dat").c_str());
    Similarity S;
    S.s = 3.7;
    S.R = rotationAbout({1 / std::sqrt(14.0), -2 / std::sqrt(14.0), 3 / std::sqrt(14.0)}, std::acos(-1.0) * 40 / 180);
    S.t = {12.5, -4.25, 7};
    std::ofstream moved(dir + "/moved.dat");
    moved.precision(17);
    moved << "V4.0\n" << sample.W << " " << sample.H << " " << sample.cx << " " << sample.cy << " " << sample.fx << " "
          << sample.fy << "\n12\n";
    for (size_t i = 0; i < 12; ++i) {
        Mat3d R;
        for (size_t k = 0; k < 9; ++k)
            R[k] = sample.R[i](static_cast<int>(k / 3), static_cast<int>(k % 3));
        Vec3d t = {sample.t[i].x, sample.t[i].y, sample.t[i].z};
        movePose(S, R, t);
        for (size_t r = 0; r < 3; ++r)
            moved << R[3 * r] << " " << R[3 * r + 1] << " " << R[3 * r + 2] << " " << t[r] << "\n";
    }
    moved.close();

    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    std::unique_ptr<GLMachine> machine(new GLMachine(256, 256, [](GLMachine *m, int w, int h) {
        return std::unique_ptr<SceneWindow>(new MainInterface(m, "Velmora", w, h));
    }));
    testsupport::CapturedMessages figures;
    machine->registerObject("moved.dat");
    GLCamera *camera = machine->getCurrentCamera();
    ASSERT_NE(camera, nullptr);
    auto *panel = dynamic_cast<GLCameraInterface *>(camera->getInterface());
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(panel->alignTo("scene.dat"));
    const std::string text = figures.take();
    EXPECT_NE(text.find("position error: mean "), std::string::npos) << text;
    for (int i = 0; i < 12; ++i)
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(camera->getRotation(i)(r, c), sample.R[static_cast<size_t>(i)](r, c), 1e-6) << i;
            // Within 1e-6 of the translation's length (float storage).
            const Point3 &t = camera->getTranslation(i), &e = sample.t[static_cast<size_t>(i)];
            EXPECT_NEAR((&t.x)[r], (&e.x)[r], 1e-6 * e.norm()) << i;
        }
    EXPECT_EQ(camera->getMarkerColours().size(), 36u);
    machine.reset();
    EXPECT_EQ(chdir(cwd), 0);
}
