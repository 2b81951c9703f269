// ctest-label: thread
// The evaluation draws each view on this thread and compares it with its photograph on a
// worker. The sample reconstruction's photographs were drawn from its own cameras, so a view
// compared with any photograph but its own shows at once.
#include "app/GLMachine.h"
#include "app/ViewEvaluation.h"
#include "objects/GLMeshObject.h"
#include "support/ImageCompare.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

class ViewEvaluationRun : public ::testing::Test {
protected:
    // Photographs of half the usual width: the comparisons are what takes long under
    // ThreadSanitizer.
    static void SetUpTestSuite()
    {
        dir = testsupport::makeTempDir("ViewEvaluationRun");
        const auto r = testsupport::runProcess(
            {std::string(VELMORA_BINARY_DIR) + "/make_sample_scene", dir, "12", "120", "48", "512"});
        ASSERT_EQ(r.exitStatus, 0) << r.err;
    }

    // The scene as the photographs show it: their background, the model textured.
    void SetUp() override
    {
        machine = std::make_unique<GLMachine>(512, 384);
        machine->setBackgroundColor(Point4(0.80f, 0.84f, 0.88f, 0));
        const std::string model = dir + "/scene.tri";
        const char *files[] = {model.c_str()};
        machine->registerStartFiles((dir + "/scene.dat").c_str(), 1, files);
        ASSERT_EQ(machine->getNObjects(), 1);
        auto *mesh = dynamic_cast<GLMeshObject *>(machine->getObject(0));
        ASSERT_TRUE(mesh && (mesh->getTexturing().hasTexture() || mesh->getTexturing().readTexture()));
        mesh->notifyCommand('3');
        machine->setDrawInfo(true);
    }

    static std::string dir;
    std::unique_ptr<GLMachine> machine;
};

std::string ViewEvaluationRun::dir;

TEST_F(ViewEvaluationRun, EveryViewComesBackOnceInOrderAgainstItsOwnPhotograph)
{
    std::vector<std::pair<int, int>> progress;
    const std::vector<ViewScore> scores = ViewEvaluation::evaluate(*machine, [&](int done, int total) {
        progress.emplace_back(done, total);
        return true;
    });
    ASSERT_EQ(scores.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        const ViewScore &s = scores[static_cast<size_t>(i)];
        EXPECT_EQ(s.view, i);
        EXPECT_EQ(progress[static_cast<size_t>(i)], std::make_pair(i + 1, 12));
        EXPECT_TRUE(std::isinf(s.psnr) && std::isinf(s.psnrInside)) << "view " << i << ": " << s.psnr;
        EXPECT_EQ(s.iou, 1.0) << "view " << i;
    }
    EXPECT_TRUE(machine->getDrawInfo());
}

// A run ended early, by its caller or with views still waiting for the worker, hands back
// what was compared and puts the information text back.
TEST_F(ViewEvaluationRun, AStoppedRunKeepsWhatWasComparedAndRestoresTheText)
{
    const std::vector<ViewScore> first =
        ViewEvaluation::evaluate(*machine, [](int done, int) { return done < 3; });
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first.back().view, 2);
    {
        ViewEvaluation::Run run(*machine);
        EXPECT_FALSE(machine->getDrawInfo());
        ASSERT_TRUE(run.drawNext() && run.drawNext());
    }
    EXPECT_TRUE(machine->getDrawInfo());
}

} // namespace
