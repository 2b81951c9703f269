// velmora-render --evaluate on the sample reconstruction: its photographs were drawn from its
// own cameras, so every view matches exactly; a camera file with one view turned away puts
// that view last.
#include "support/ImageCompare.h"
#include "support/Process.h"
#include "support/SampleScene.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kTool = std::string(VELMORA_BINARY_DIR) + "/velmora-render";
// The sample photographs' background, so that the frames can match them pixel for pixel.
const char *const kBackground = "0.80,0.84,0.88";

class VelmoraEvaluate : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = testsupport::makeTempDir("VelmoraEvaluate");
        const auto r = testsupport::runProcess(
            {std::string(VELMORA_BINARY_DIR) + "/make_sample_scene", dir, "12", "120", "48"});
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        testsupport::writeCamerasWithATurnedView(dir + "/scene.dat", dir + "/disturbed.dat", 4, 4);
    }

    static testsupport::ProcessResult evaluate(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"/usr/bin/env", "-u", "DISPLAY", kTool, "--evaluate"});
        return testsupport::runProcess(args, {}, dir);
    }

    // The table's rows after the header: the first number of each line ("mean" gives -1).
    static std::vector<int> rowViews(const std::string &out, std::vector<std::string> &rows)
    {
        std::istringstream lines(out.substr(out.find("view  photograph")));
        std::string line;
        std::getline(lines, line);
        std::vector<int> views;
        while (std::getline(lines, line)) {
            rows.push_back(line);
            views.push_back(line.rfind("mean", 0) == 0 ? -1 : std::stoi(line));
        }
        return views;
    }

    static std::string dir;
};

std::string VelmoraEvaluate::dir;

TEST_F(VelmoraEvaluate, TheSampleAgainstItsOwnPhotographsIsExact)
{
    const auto r = evaluate({"--background", kBackground, "-c", "scene.dat", "scene.tri"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::vector<std::string> rows;
    const std::vector<int> views = rowViews(r.out, rows);
    ASSERT_EQ(views.size(), 13u) << r.out;
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(views[i], i < 12 ? static_cast<int>(i) : -1);
        std::istringstream cells(rows[i].substr(rows[i].find(i < 12 ? ".ppm" : "mean") + 4));
        std::string psnr, ssim, psnrInside, ssimInside, iou;
        cells >> psnr >> ssim >> psnrInside >> ssimInside >> iou;
        EXPECT_EQ(psnr, "inf") << rows[i];
        EXPECT_EQ(ssim, "1.0000") << rows[i];
        EXPECT_EQ(psnrInside, "inf") << rows[i];
        EXPECT_EQ(iou, "1.0000") << rows[i];
    }
}

TEST_F(VelmoraEvaluate, ADisturbedViewSortsLast)
{
    for (const char *column : {"psnr", "ssim", "iou", "ssim-silhouette"}) {
        const auto r = evaluate({"--sort", column, "--csv", "scores.csv", "-c", "disturbed.dat", "scene.tri"});
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        std::vector<std::string> rows;
        const std::vector<int> views = rowViews(r.out, rows);
        ASSERT_EQ(views.size(), 13u) << r.out;
        EXPECT_EQ(views[11], 4) << column << "\n" << r.out;
        // The same rows, in the same order, in the CSV file.
        std::ifstream csv(dir + "/scores.csv");
        std::string line;
        std::getline(csv, line);
        EXPECT_EQ(line, "view,photograph,psnr,ssim,psnr_silhouette,ssim_silhouette,iou");
        for (int view : views) {
            ASSERT_TRUE(std::getline(csv, line));
            EXPECT_EQ(line.rfind(view < 0 ? "mean," : std::to_string(view) + ",", 0), 0u) << line;
        }
    }
}

TEST_F(VelmoraEvaluate, RefusalsAreOneLine)
{
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--sort", "colour", "scene.tri"},
         "velmora-render: unknown column colour (view, psnr, ssim, psnr-silhouette, ssim-silhouette or iou)\n"},
        {{"scene.tri"}, "velmora-render: the camera has no photograph to compare with\n"},
        {{"--csv", "missing/scores.csv", "-c", "scene.dat", "scene.tri"},
         "velmora-render: unable to write missing/scores.csv\n"},
    };
    for (const Case &c : cases) {
        const auto r = evaluate(c.args);
        EXPECT_EQ(r.exitStatus, 1) << r.out;
        EXPECT_EQ(r.err, c.message);
    }
}

// The standard split on 24 views: the test views are the 1st, 9th and 17th by photograph name;
// the JSON holds them with the protocol, and --images takes the ground truth elsewhere.
TEST_F(VelmoraEvaluate, TheTestSplitTakesEveryEighthViewByName)
{
    const std::string scene = testsupport::makeTempDir("VelmoraEvaluateSplit");
    auto r = testsupport::runProcess({std::string(VELMORA_BINARY_DIR) + "/make_sample_scene", scene, "24", "64", "32"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::filesystem::create_directories(scene + "/small");
    for (const char *name : {"view00.ppm", "view08.ppm", "view16.ppm"})
        std::ofstream(scene + "/small/" + name, std::ios::binary) << std::ifstream(scene + "/seq/" + name).rdbuf();
    std::ofstream(scene + "/list.txt") << "view05\nimages/view17.ppm\n";
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"/usr/bin/env", "-u", "DISPLAY", kTool, "--evaluate", "-c", "scene.dat", "scene.tri"});
        return testsupport::runProcess(args, {}, scene);
    };
    const auto jsonViews = [&](const std::string &file) {
        std::ifstream in(scene + "/" + file);
        const nlohmann::json j = nlohmann::json::parse(in);
        std::vector<int> views;
        for (const auto &v : j.at("views"))
            views.push_back(v.at("view").get<int>());
        return std::make_pair(views, j);
    };
    r = run({"--split", "test", "--ssim", "rgb", "--json", "test.json"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("split: test (every 8th view of the views sorted by photograph name), 3 of 24 views"),
              std::string::npos) << r.out;
    auto [views, j] = jsonViews("test.json");
    EXPECT_EQ(views, (std::vector<int>{0, 8, 16}));
    EXPECT_EQ(j["protocol"]["ssim"], "Gaussian 11x11, sigma 1.5, on R, G and B averaged");
    // Frames equal to their photographs give an infinite PSNR, written "inf".
    EXPECT_TRUE(j["mean"]["psnr"].is_number() || j["mean"]["psnr"] == "inf") << j["mean"];

    r = run({"--split", "list.txt", "--json", "list.json"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(jsonViews("list.json").first, (std::vector<int>{5, 17}));

    r = run({"--split", "test", "--images", "small", "--json", "small.json"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("ground truth: small"), std::string::npos) << r.out;
    j = jsonViews("small.json").second;
    EXPECT_EQ(j["views"][1]["photograph"], "small/view08.ppm");
    EXPECT_EQ(j["mean"]["psnr"], jsonViews("test.json").second["mean"]["psnr"]);

    r = run({"--split", "train", "--csv", "train.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("21 of 24 views"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\n   8  view08"), std::string::npos) << r.out;

    r = run({"--split", "missing.txt"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "velmora-render: unable to read the list of test photographs missing.txt\n");
}

} // namespace
