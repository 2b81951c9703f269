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

// Left as the viewer opens it (shaded, its grey), the scene is measured as the photographs show
// it all the same, and gets its drawing and grey back afterwards.
TEST_F(ViewEvaluationRun, AShadedSceneOverGreyIsMeasuredTexturedOverThePhotographsBackground)
{
    machine.reset(); // the fixture's context goes first, not after the new one is current
    machine = std::make_unique<GLMachine>(512, 384);
    const std::string model = dir + "/scene.tri";
    const char *files[] = {model.c_str()};
    machine->registerStartFiles((dir + "/scene.dat").c_str(), 1, files);
    GL3DObject *mesh = machine->getObject(0);
    const GL3DObject::DrawMethod shaded = mesh->getDrawMethod();
    std::vector<ViewScore> scores;
    {
        ViewEvaluation::Run run(*machine);
        EXPECT_EQ(run.setting().describe(), "1 mesh drawn textured, background of the photographs 0.80 0.84 0.88");
        while (run.drawNext() && run.total() > 0 && scores.size() < 2) {
            run.waitForComparison();
            for (const ViewScore &s : run.takeCompared())
                scores.push_back(s);
        }
    }
    ASSERT_FALSE(scores.empty());
    EXPECT_TRUE(std::isinf(scores[0].psnr)) << scores[0].psnr;
    EXPECT_EQ(mesh->getDrawMethod(), shaded);
    EXPECT_FLOAT_EQ(machine->getBackgroundColor().x, 0.75f);
    EXPECT_FALSE(machine->isBackgroundChosen());

    // A background the user chose is kept.
    machine->setBackgroundColor(Point4(0, 0, 1, 1));
    ViewEvaluation::Run run(*machine);
    EXPECT_EQ(run.setting().describe(), "1 mesh drawn textured, background as set 0.00 0.00 1.00");
}

// The median of the border rings: a model crossing part of a border does not move it, nor do
// the pixels inside the ring; images without pixels give nothing.
TEST(PhotographBackground, IsTheMedianOfTheBorders)
{
    const auto image = [](int w, int h, unsigned char border, unsigned char inside, int crossing) {
        std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3, inside);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (x < 2 || y < 2 || x >= w - 2 || y >= h - 2)
                    for (int c = 0; c < 3; ++c)
                        rgb[(static_cast<size_t>(y) * w + x) * 3 + c] =
                            x < crossing ? 0 : static_cast<unsigned char>(border + 10 * c);
        return rgb;
    };
    const std::vector<unsigned char> plain = image(20, 10, 100, 250, 0), crossed = image(20, 10, 100, 250, 6),
                                     tiny = image(3, 3, 100, 250, 0);
    struct Case {
        std::vector<ViewEvaluation::Image> images;
        bool found;
        float red, blue;
    };
    const std::vector<Case> cases = {
        {{{plain.data(), 20, 10}}, true, 100, 120},
        {{{crossed.data(), 20, 10}, {plain.data(), 20, 10}}, true, 100, 120},
        {{{tiny.data(), 3, 3}}, true, 100, 120},
        {{{nullptr, 20, 10}, {plain.data(), 0, 10}}, false, 0, 0},
    };
    for (size_t k = 0; k < cases.size(); ++k) {
        float rgb[3] = {-1, -1, -1};
        ASSERT_EQ(ViewEvaluation::borderMedian(cases[k].images, 2, rgb), cases[k].found) << "case " << k;
        if (cases[k].found) {
            EXPECT_FLOAT_EQ(rgb[0] * 255, cases[k].red) << "case " << k;
            EXPECT_FLOAT_EQ(rgb[2] * 255, cases[k].blue) << "case " << k;
        }
    }
}

} // namespace
