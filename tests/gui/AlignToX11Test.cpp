// "Align to..." on the sample camera moved by a known similarity brings its views back onto
// the sample file's own, prints the figures and colours the markers by the position errors.
#include "gui/GLCameraInterface.h"
#include "gui/MainInterface.h"

#include "app/GLMachine.h"
#include "camera/AlignedViews.h"
#include "camera/GLCamera.h"
#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

TEST(AlignTo, BringsAMovedCameraBackAndColoursItsMarkersByTheErrors)
{
    const std::string dir = testsupport::makeTempDir("AlignTo");
    const auto made = testsupport::runProcess({std::string(VELMORA_BINARY_DIR) + "/make_sample_scene", dir, "12", "40", "16"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    std::unique_ptr<GLMachine> machine(new GLMachine(256, 256, [](GLMachine *m, int w, int h) {
        return std::unique_ptr<SceneWindow>(new MainInterface(m, "Velmora", w, h));
    }));
    testsupport::CapturedMessages figures;
    GLCamera *camera = static_cast<GLCamera *>(machine->registerObject("scene.dat"));
    ASSERT_NE(camera, nullptr);
    const GLCamera sample("scene.dat");
    // The camera moved away from its file's frame by a known similarity, then aligned to the file.
    Similarity S;
    S.s = 3.7;
    S.R = rotationAbout({1 / std::sqrt(14.0), -2 / std::sqrt(14.0), 3 / std::sqrt(14.0)}, std::acos(-1.0) * 40 / 180);
    S.t = {12.5, -4.25, 7};
    moveViews(*camera, S);
    ASSERT_GT((camera->getOrigin(0) - sample.getOrigin(0)).norm(), 1);
    auto *panel = dynamic_cast<GLCameraInterface *>(camera->getInterface());
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(panel->alignTo("scene.dat"));
    EXPECT_NE(figures.take().find("position error: mean "), std::string::npos);
    for (int i = 0; i < 12; ++i)
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(camera->getRotation(i)(r, c), sample.getRotation(i)(r, c), 1e-6) << i;
            // Within 1e-6 of the translation's length (float storage).
            const Point3 &t = camera->getTranslation(i), &e = sample.getTranslation(i);
            EXPECT_NEAR(t[r], e[r], 1e-6 * e.norm()) << i;
        }
    EXPECT_EQ(camera->getMarkerColours().size(), 36u);
    machine.reset();
    EXPECT_EQ(chdir(cwd), 0);
}
