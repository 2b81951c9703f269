// The cameras of a splat trainer's cameras.json, checked against COLMAP's model of the same
// cameras, and the trainer's output folder.
#include "formats/ColmapModel.h"
#include "formats/TrainerCameras.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace {

// Two cameras as COLMAP stores them (world to camera, quaternion w x y z) and as the trainer
// wrote them out: camera-to-world rotation rows and the camera centre. The second camera is
// turned 90 degrees about y, so that a transposed rotation changes signs.
const char kCameras[] = "1 PINHOLE 640 480 500 510 320 240\n2 PINHOLE 800 600 700 700 400 300\n";
const char kImages[] = "1 1 0 0 0 0 0 4 1 a.png\n\n"
                       "2 0.7071067811865476 0 0.7071067811865476 0 1 2 3 2 b.png\n\n";
const char kJson[] = R"([
  {"id": 0, "img_name": "a", "width": 640, "height": 480, "fx": 500, "fy": 510,
   "position": [0, 0, -4], "rotation": [[1, 0, 0], [0, 1, 0], [0, 0, 1]]},
  {"id": 1, "img_name": "b", "width": 800, "height": 600, "fx": 700, "fy": 700,
   "position": [3, -2, -1], "rotation": [[0, 0, -1], [0, 1, 0], [1, 0, 0]]}
])";

TEST(TrainerCameras, PosesAgreeWithColmapsModelOfTheSameCameras)
{
    const Reconstruction colmap = ColmapModel::parseText(kCameras, kImages, "");
    const Reconstruction trainer = TrainerCameras::parse(kJson);
    ASSERT_EQ(trainer.views.size(), 2u);
    ASSERT_EQ(colmap.views.size(), 2u);
    for (size_t v = 0; v < 2; ++v) {
        SCOPED_TRACE(v);
        const ReconstructionView &a = trainer.views[v], &b = colmap.views[v];
        for (int k = 0; k < 9; ++k)
            EXPECT_NEAR(a.R[k], b.R[k], 1e-9) << k;
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(a.t[k], b.t[k], 1e-9) << k;
        EXPECT_EQ(std::vector<double>({a.fx, a.fy, a.cx, a.cy, double(a.width), double(a.height)}),
                  std::vector<double>({b.fx, b.fy, b.cx, b.cy, double(b.width), double(b.height)}));
    }
    EXPECT_EQ(trainer.views[1].imageName, "b");
}

TEST(TrainerCameras, RefusesWhatIsNoCameraList)
{
    const struct {
        const char *text, *reason;
    } cases[] = {
        {"[{\"img_name\": \"a\"", "not JSON"},
        {"{\"a\": 1}", "not a list"},
        {"[]", "no views"},
        {R"([{"img_name": "a", "width": 640, "height": 480, "fx": 500, "fy": 500, "position": [0, 0, 0]}])", "rotation"},
        {R"([{"img_name": "a", "width": 0, "height": 480, "fx": 500, "fy": 500, "position": [0, 0, 0],
              "rotation": [[1, 0, 0], [0, 1, 0], [0, 0, 1]]}])", "size"},
        {R"([{"img_name": "a", "width": 64, "height": 48, "fx": 500, "fy": 500, "position": [0, 0, 0],
              "rotation": [[1, 0, 0], [0, 1, 0], [0, 0, -1]]}])", "reflection"},
        {R"([{"img_name": "a", "width": 64, "height": 48, "fx": 500, "fy": 500, "position": [0, 0, 0],
              "rotation": [[2, 0, 0], [0, 1, 0], [0, 0, 1]]}])", "not a rotation"},
        {R"([{"img_name": 3, "width": 64, "height": 48, "fx": 500, "fy": 500}])", "img_name"},
    };
    for (const auto &c : cases) {
        try {
            TrainerCameras::parse(c.text);
            ADD_FAILURE() << c.reason;
        } catch (const std::runtime_error &e) {
            const std::string what = e.what();
            EXPECT_EQ(what.rfind("cameras.json: ", 0), 0u) << what;
            EXPECT_NE(what.find(c.reason), std::string::npos) << what;
        }
    }
}

TEST(TrainerCameras, FindsTheLastIterationAndThePhotographs)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(VELMORA_TEMP_DIR) / "trainer_folder";
    fs::remove_all(dir);
    for (const char *it : {"iteration_7000", "iteration_30000", "iteration_9x"})
        fs::create_directories(dir / "point_cloud" / it);
    for (const char *it : {"iteration_7000", "iteration_30000"})
        std::ofstream(dir / "point_cloud" / it / "point_cloud.ply") << "ply\n";
    std::string splats;
    EXPECT_FALSE(TrainerCameras::locate(dir.string(), splats));
    std::ofstream(dir / "cameras.json") << kJson;
    ASSERT_TRUE(TrainerCameras::locate(dir.string(), splats));
    EXPECT_EQ(splats, (dir / "point_cloud" / "iteration_30000" / "point_cloud.ply").string());

    fs::create_directories(dir / "images");
    std::ofstream(dir / "images" / "b.jpg") << "x";
    Reconstruction model = TrainerCameras::read((dir / "cameras.json").string());
    TrainerCameras::completeImageNames(model, {(dir / "images").string(), dir.string()});
    EXPECT_EQ(model.views[0].imageName, "a");
    EXPECT_EQ(model.views[1].imageName, "b.jpg");
}

} // namespace
