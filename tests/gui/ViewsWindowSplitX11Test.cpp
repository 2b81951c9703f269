// The window "Views" takes the split and the ground-truth folder that velmora-render --evaluate
// takes and says which it used; while the view is split into two objects (A/B) it measures each
// drawn alone, side by side.
#include "gui/MainInterface.h"
#include "gui/ViewsWindow.h"

#include "app/GLMachine.h"
#include "camera/ReconstructionTestFiles.h"
#include "objects/GL3DObject.h"
#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"
#include "support/Process.h"
#include "support/WindowedMachine.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<ViewScore> measure(ViewsWindow *views, const std::string &split, const std::string &images)
{
    views->setSplit(split);
    views->setImages(images);
    EXPECT_TRUE(views->evaluate()) << views->getStatus();
    while (views->isEvaluating())
        gtk_main_iteration_do(TRUE);
    return views->getScores();
}

TEST(ViewsWindow, TakesTheSplitAndTheGroundTruthAndMeasuresBothSidesOfASplitView)
{
    const std::string dir = testsupport::makeTempDir("ViewsWindowSplit");
    const auto made = testsupport::runProcess(
        {std::string(VELMORA_BINARY_DIR) + "/make_sample_scene", dir, "12", "120", "48", "256"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    // Black ground truth of half the size, by the photographs' names: the views are drawn at that size.
    ASSERT_EQ(0, mkdir((dir + "/half").c_str(), 0755));
    for (int v = 0; v < 12; ++v)
        recontest::writePhotograph(dir + "/half/view" + (v < 10 ? "0" : "") + std::to_string(v) + ".ppm", 128, 96, 0);
    MainInterface *window = nullptr;
    std::unique_ptr<GLMachine> machine = testsupport::machineInWindow(256, 256, window);
    ASSERT_TRUE(window->makeCurrent(false));
    testsupport::CapturedMessages captured;
    for (const char *name : {"/scene.dat", "/scene.tri", "/scene.tri"})
        machine->registerObject((dir + name).c_str());
    ASSERT_EQ(machine->getNObjects(), 2) << captured.take();
    Matrix4 shifted = Matrix4::Identity;
    shifted(0, 3) = 0.15f * machine->getObject(1)->getMaxRadius();
    machine->getObject(1)->setPose(shifted);
    auto *views = new ViewsWindow(machine.get(), window);

    const std::vector<ViewScore> test = measure(views, "test", dir + "/half");
    ASSERT_EQ(test.size(), 2u);
    EXPECT_EQ(test[0].view, 0);
    EXPECT_EQ(test[1].view, 8);
    EXPECT_NE(views->getStatus().find("split: test (every 8th view of the views sorted by photograph name), 2 of 12"),
              std::string::npos)
        << views->getStatus();
    EXPECT_NE(views->getStatus().find("ground truth: " + dir + "/half"), std::string::npos) << views->getStatus();
    const std::vector<ViewScore> own = measure(views, "test", "");
    ASSERT_EQ(own.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(test[i].problem.empty()) << test[i].problem;
        EXPECT_LT(test[i].psnr + 5, own[i].psnr) << "against black, not the photograph";
        EXPECT_TRUE(std::isnan(own[i].psnrB));
    }
    EXPECT_NE(views->getStatus().find("ground truth: the camera's photographs"), std::string::npos);

    // Split into the mesh and its shifted copy: each drawn alone, B the worse, beside A.
    machine->getSplitView().compare(machine->getObject(0), machine->getObject(1), false);
    const std::vector<ViewScore> train = measure(views, "train", "");
    ASSERT_EQ(train.size(), 10u);
    for (const ViewScore &s : train) {
        EXPECT_NE(s.view % 8, 0);
        EXPECT_GT(s.psnr, s.psnrB + 1) << s.view;
        EXPECT_GT(s.ssim, s.ssimB) << s.view;
    }
    // After the thumbnails, the view and the photograph.
    GtkTreeViewColumn *psnrB = gtk_tree_view_get_column(views->getList(), 4);
    EXPECT_TRUE(gtk_tree_view_column_get_visible(psnrB));
    EXPECT_STREQ(gtk_tree_view_column_get_title(psnrB), "PSNR B");
    EXPECT_STREQ(gtk_tree_view_column_get_title(gtk_tree_view_get_column(views->getList(), 3)), "PSNR A");
    EXPECT_NE(views->getStatus().find("A/B: A: object 1 (left), B: object 2 (right)"), std::string::npos);

    views->setSplit(dir + "/missing.txt");
    EXPECT_FALSE(views->evaluate());
    EXPECT_EQ(views->getStatus(), "unable to read the list of test photographs " + dir + "/missing.txt");
    gtk_widget_destroy(views->getWindow());
    machine.reset();
}

} // namespace
