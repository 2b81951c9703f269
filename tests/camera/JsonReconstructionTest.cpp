// The JSON camera files of other programs (transforms.json in both forms, Meshroom scenes),
// written from the known cameras of the COLMAP tests: every view must show every point on
// the pixel the known camera gives.
#include "camera/ReconstructionImport.h"
#include "formats/MeshroomScene.h"
#include "formats/ReconstructionStatistics.h"
#include "formats/TransformsJson.h"
#include "image/Bitmap.h"

#include "camera/DrawnPixel.h"
#include "camera/ReconstructionTestFiles.h"
#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

using namespace recontest;

namespace {

std::string num(double v)
{
    char s[64];
    snprintf(s, sizeof s, "%.17g", v);
    return s;
}

// The camera-to-world matrix with OpenGL's camera axes (y up, z back) of a known camera.
std::string openGLTransform(const Cam &c, int rows)
{
    double R[9];
    rotationOf(c.q, R);
    const double sign[3] = {1, -1, -1};
    std::string s = "[";
    for (int r = 0; r < rows; ++r) {
        s += r ? ",[" : "[";
        for (int col = 0; col < 3; ++col)
            s += (r == 3 ? std::string("0") : num(sign[col] * R[3 * col + r])) + ",";
        // The centre -R^T t.
        s += r == 3 ? "1" : num(-(R[r] * c.t[0] + R[3 + r] * c.t[1] + R[6 + r] * c.t[2]));
        s += "]";
    }
    return s + "]";
}

// Reads `file` through the import as the viewer does and checks that each of its 3 views
// projects the known points where the known camera of the same photograph name does, with the
// intrinsics `fixed` (or the camera's own) within 0.01 px. Returns the notes and messages.
std::string checkProjection(const std::string &file, ReconstructionImport::Kind kind, const Model &m,
                            const Intr *fixed = nullptr)
{
    testsupport::CapturedMessages captured;
    const ReconstructionImport::Source s = ReconstructionImport::identify(file);
    EXPECT_EQ(kind, s.kind) << file;
    const Reconstruction rec = ReconstructionImport::read(s);
    EXPECT_EQ(3u, rec.views.size());
    const std::vector<std::string> photographs = ReconstructionImport::findPhotographs(rec, s.folder, nullptr);
    const std::unique_ptr<GLCamera> camera = ReconstructionImport::makeCamera(rec, photographs);
    EXPECT_EQ(rec.format, camera->getSourceFormat());
    for (int i = 0; i < camera->getNViews(); ++i) {
        const std::string &name = rec.views[static_cast<size_t>(i)].imageName;
        int matched = 0;
        for (const Cam &c : m.cams) {
            if (name.size() < c.name.size() || name.compare(name.size() - c.name.size(), c.name.size(), c.name) != 0)
                continue;
            ++matched;
            for (const Vec &X : m.points) {
                double eu, ev, u, v;
                colmapPixel(c, fixed ? *fixed : m.of(c), X, eu, ev);
                drawnPixel(*camera, i, X, u, v);
                EXPECT_NEAR(eu, u, 0.01) << name;
                EXPECT_NEAR(ev, v, 0.01) << name;
            }
        }
        EXPECT_EQ(1, matched) << name;
    }
    std::string messages;
    for (const std::string &n : rec.notes)
        messages += n + "\n";
    return messages + captured.take();
}

} // namespace

// nerfstudio's form: shared intrinsics at the top, one frame with its own (and distortion),
// one photograph missing from the disk.
TEST(TransformsJson, NerfstudioFramesProjectKnownPointsToKnownPixels)
{
    const Model m = knownModel();
    const std::string dir = testsupport::makeTempDir("transforms-nerfstudio");
    ASSERT_EQ(0, mkdir((dir + "/images").c_str(), 0755));
    const Intr &shared = m.intrinsics[0];
    std::string json = "{\"camera_model\":\"OPENCV\",\"fl_x\":" + num(shared.fx) + ",\"fl_y\":" + num(shared.fy) +
                       ",\"cx\":" + num(shared.cx) + ",\"cy\":" + num(shared.cy) + ",\"w\":640,\"h\":480,\"k1\":0,"
                       "\"frames\":[";
    for (size_t i = 0; i < m.cams.size(); ++i) {
        const Cam &c = m.cams[i];
        const Intr &k = m.of(c);
        json += std::string(i ? "," : "") + "{\"file_path\":\"./images/" + c.name + "\",\"transform_matrix\":" +
                openGLTransform(c, 4);
        if (&k != &shared)
            json += ",\"fl_x\":" + num(k.fx) + ",\"fl_y\":" + num(k.fy) + ",\"cx\":" + num(k.cx) + ",\"cy\":" +
                    num(k.cy) + ",\"w\":" + std::to_string(k.width) + ",\"h\":" + std::to_string(k.height) +
                    ",\"k1\":0.01";
        json += "}";
        if (c.name != "c.png")
            writePhotograph(dir + "/images/" + c.name, 8, 6);
    }
    writeText(dir + "/transforms.json", json + "]}");

    const std::string messages = checkProjection(dir, ReconstructionImport::TRANSFORMS, m);
    EXPECT_EQ(std::string::npos, messages.find("distortion")) << "the lenses are modelled: " << messages;
    EXPECT_NE(std::string::npos, messages.find("1 of 3 frames have no photograph on disk")) << messages;
    EXPECT_NE(std::string::npos, messages.find("(2 of 3 views)")) << messages;
}

// The older NeRF form: one field of view, file names without their extension, the image size
// from the first photograph, the principal point at the centre, and a matrix of 3 rows.
TEST(TransformsJson, NerfFramesProjectKnownPointsToKnownPixels)
{
    const Model m = knownModel();
    const std::string dir = testsupport::makeTempDir("transforms-nerf");
    ASSERT_EQ(0, mkdir((dir + "/train").c_str(), 0755));
    const double angle = 0.6911112070083618;
    std::string json = "{\"camera_angle_x\":" + num(angle) + ",\"frames\":[";
    for (size_t i = 0; i < m.cams.size(); ++i) {
        json += std::string(i ? "," : "") + "{\"file_path\":\"./train/" + m.cams[i].name.substr(0, 1) +
                "\",\"rotation\":0.0126,\"transform_matrix\":" + openGLTransform(m.cams[i], i == 1 ? 3 : 4) + "}";
        ASSERT_EQ(1, Bitmap(64, 48).save((dir + "/train/" + m.cams[i].name).c_str()));
    }
    writeText(dir + "/transforms_train.json", json + "]}");

    const double f = 32 / std::tan(angle / 2);
    const Intr nerf{0, "PINHOLE", 1, 64, 48, {}, f, f, 32, 24};
    const std::string messages = checkProjection(dir + "/transforms_train.json", ReconstructionImport::TRANSFORMS, m, &nerf);
    EXPECT_NE(std::string::npos, messages.find("(3 of 3 views)")) << messages;
    EXPECT_EQ(std::string::npos, messages.find("no photograph on disk")) << messages;
}

// Meshroom scenes of two versions: focal length in pixels with an absolute principal point
// (1.2.0), in millimetres with the principal point as an offset from the centre (1.2.5). All
// numbers are strings, the rotation is stored column by column, one view has no pose, and
// the points' errors are measured against their observations.
TEST(MeshroomScene, ViewsProjectKnownPointsToKnownPixels)
{
    const Model m = knownModel();
    for (const bool millimetres : {false, true}) {
        SCOPED_TRACE(millimetres ? "1.2.5" : "1.2.0");
        const std::string dir = testsupport::makeTempDir(millimetres ? "meshroom-125" : "meshroom-120");
        const auto q = [](double v) { return "\"" + num(v) + "\""; };
        std::string json = std::string("{\"version\":[\"1\",\"2\",\"") + (millimetres ? "5" : "0") + "\"],\"views\":[";
        for (const Cam &c : m.cams) {
            json += "{\"viewId\":\"" + std::to_string(100 + c.id) + "\",\"poseId\":\"" + std::to_string(200 + c.id) +
                    "\",\"intrinsicId\":\"" + std::to_string(c.cameraId) + "\",\"path\":\"" + dir + "/" + c.name +
                    "\",\"width\":\"8\",\"height\":\"6\"},";
            writePhotograph(dir + "/" + c.name, 8, 6);
        }
        json += "{\"viewId\":\"1\",\"poseId\":\"1\",\"intrinsicId\":\"3\",\"path\":\"" + dir + "/d.png\"}],\"intrinsics\":[";
        for (size_t i = 0; i < m.intrinsics.size(); ++i) {
            const Intr &k = m.intrinsics[i];
            json += std::string(i ? "," : "") + "{\"intrinsicId\":\"" + std::to_string(k.id) + "\",\"width\":\"" +
                    std::to_string(k.width) + "\",\"height\":\"" + std::to_string(k.height) +
                    "\",\"sensorWidth\":\"24\",\"type\":\"" + (i ? "radial3" : "pinhole") + "\",";
            if (millimetres)
                json += "\"focalLength\":" + q(k.fx / k.width * 24) + ",\"pixelRatio\":" + q(k.fy / k.fx) +
                        ",\"principalPoint\":[" + q(k.cx - k.width / 2.0) + "," + q(k.cy - k.height / 2.0) + "]";
            else
                json += "\"pxFocalLength\":[" + q(k.fx) + "," + q(k.fy) + "],\"principalPoint\":[" + q(k.cx) + "," +
                        q(k.cy) + "]";
            json += std::string(",\"distortionParams\":[\"") + (i ? "0.01" : "0") + "\",\"0\",\"0\"]}";
        }
        json += "],\"poses\":[";
        for (size_t i = 0; i < m.cams.size(); ++i) {
            const Cam &c = m.cams[i];
            double R[9];
            rotationOf(c.q, R);
            json += std::string(i ? "," : "") + "{\"poseId\":\"" + std::to_string(200 + c.id) +
                    "\",\"pose\":{\"transform\":{\"rotation\":[";
            for (int k = 0; k < 9; ++k)
                json += (k ? "," : "") + q(R[3 * (k % 3) + k / 3]);
            json += "],\"center\":[";
            for (int r = 0; r < 3; ++r)
                json += (r ? "," : "") + q(-(R[r] * c.t[0] + R[3 + r] * c.t[1] + R[6 + r] * c.t[2]));
            json += "]},\"locked\":\"0\"}}";
        }
        json += "],\"structure\":[";
        for (size_t j = 0; j < m.points.size(); ++j) {
            const Vec &X = m.points[j];
            json += std::string(j ? "," : "") + "{\"landmarkId\":\"" + std::to_string(j) +
                    "\",\"descType\":\"sift\",\"color\":[\"" + std::to_string(10 * j) + "\",\"100\",\"200\"],\"X\":[" +
                    q(X.x) + "," + q(X.y) + "," + q(X.z) + "],\"observations\":[";
            for (size_t i = 0; i < m.cams.size(); ++i) {
                double u, v;
                colmapPixel(m.cams[i], m.of(m.cams[i]), X, u, v);
                // The last point is seen 3, 4 pixels off in one of its three views.
                const bool off = j == 3 && i == 0;
                json += std::string(i ? "," : "") + "{\"observationId\":\"" + std::to_string(100 + m.cams[i].id) +
                        "\",\"featureId\":\"7\",\"x\":[" + q(u + (off ? 3 : 0)) + "," + q(v + (off ? 4 : 0)) + "]}";
            }
            json += "]}";
        }
        writeText(dir + "/sfm.sfm", json + "]}");

        const std::string messages = checkProjection(dir + "/sfm.sfm", ReconstructionImport::MESHROOM, m);
        EXPECT_NE(std::string::npos, messages.find("views without a pose are skipped (1): d.png")) << messages;
        EXPECT_NE(std::string::npos, messages.find("distortion of the Meshroom cameras is ignored")) << messages;
        EXPECT_NE(std::string::npos, messages.find("photographs at the paths the model gives (3 of 3 views)"))
            << messages;

        const Reconstruction rec = MeshroomScene::read(dir + "/sfm.sfm");
        ASSERT_EQ(4u, rec.points.size());
        EXPECT_EQ(30, rec.points[3].r);
        EXPECT_NEAR(0, rec.points[0].error, 1e-4);
        EXPECT_NEAR(5.0 / 3, rec.points[3].error, 1e-4);
        // The observations are the tracks, following their views to their places by name:
        // the one seen off is in "b.png", the second view.
        const ReconstructionStatistics stats = ReconstructionStatistics::of(rec);
        ASSERT_EQ(4u, stats.trackLength.size());
        EXPECT_EQ(3, stats.trackLength[3]);
        EXPECT_EQ(3, rec.points[3].id);
        EXPECT_NEAR(5.0 / 3, stats.pointError[3], 1e-4);
        EXPECT_NEAR(5.0 / 4, stats.viewError[1], 1e-4);
        EXPECT_NEAR(0, stats.viewError[0], 1e-4);
    }
}

// The lenses nerfstudio documents, at the top or overridden by a frame: OPENCV (also when no
// model is named) takes k1 k2 p1 p2, OPENCV_FISHEYE k1 .. k4.
TEST(TransformsJson, LensesOfTheDocumentedModels)
{
    const std::string frame = "{\"file_path\":\"a.png\",\"transform_matrix\":[[1,0,0,0],[0,1,0,0],[0,0,1,5],[0,0,0,1]]";
    const struct {
        std::string top, inFrame;
        LensDistortion::Model model;
        std::vector<double> coefficients;
    } cases[] = {
        {"\"camera_model\":\"OPENCV\",\"k1\":0.1,\"k2\":0.02,\"p1\":0.003,\"p2\":0.004", "", LensDistortion::OPENCV,
         {0.1, 0.02, 0.003, 0.004}},
        {"\"k1\":0.1", "", LensDistortion::OPENCV, {0.1, 0, 0, 0}},
        {"\"camera_model\":\"OPENCV_FISHEYE\",\"k1\":0.1,\"k2\":0.02,\"k3\":0.003,\"k4\":0.004", "",
         LensDistortion::OPENCV_FISHEYE, {0.1, 0.02, 0.003, 0.004}},
        {"\"k1\":0.1", ",\"camera_model\":\"PINHOLE\"", LensDistortion::NONE, {}},
        {"\"camera_model\":\"OPENCV\"", ",\"p2\":0.5", LensDistortion::OPENCV, {0, 0, 0, 0.5}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.top + c.inFrame);
        const Reconstruction rec =
            TransformsJson::parse("{\"fl_x\":50,\"w\":64,\"h\":48," + c.top + ",\"frames\":[" + frame + c.inFrame + "}]}", {});
        const LensDistortion &lens = rec.views[0].distortion;
        EXPECT_EQ(c.model, lens.model());
        for (size_t i = 0; i < c.coefficients.size(); ++i)
            EXPECT_EQ(c.coefficients[i], lens.coefficient(static_cast<int>(i)));
        EXPECT_TRUE(rec.notes.empty());
    }
}

// Every refused file says why in one line.
TEST(TransformsJson, RefusedFilesSayWhy)
{
    const std::string frame = "{\"file_path\":\"a.png\",\"transform_matrix\":[[1,0,0,0],[0,1,0,0],[0,0,1,5],[0,0,0,1]]}";
    const std::string head = "{\"fl_x\":50,\"w\":64,\"h\":48,";
    const struct {
        std::string text, message;
    } cases[] = {
        {"{\"frames\":[", "not a JSON file"},
        {"{\"fl_x\":50}", "no \"frames\" list"},
        {head + "\"frames\":[]}", "the \"frames\" list is empty"},
        {head + "\"frames\":[{\"transform_matrix\":[]}]}", "frame 0 has no file_path"},
        {head + "\"frames\":[{\"file_path\":\"a.png\",\"transform_matrix\":[[1,0,0],[0,1,0],[0,0,1]]}]}",
         "frame 0 has no transform_matrix of 4 rows of 4 numbers"},
        {head + "\"frames\":[{\"file_path\":\"a.png\",\"transform_matrix\":[[2,0,0,0],[0,1,0,0],[0,0,1,5]]}]}",
         "does not only turn and move"},
        {head + "\"camera_model\":\"EQUIRECTANGULAR\",\"frames\":[" + frame + "]}", "camera model EQUIRECTANGULAR"},
        {head + "\"k1\":\"strong\",\"frames\":[" + frame + "]}", "the file: k1 is not a number"},
        {"{\"w\":64,\"h\":48,\"frames\":[" + frame + "]}", "frame 0 has no focal length"},
        {"{\"camera_angle_x\":0.7,\"frames\":[" + frame + "]}", "the image size (w, h) is not given"},
        {"{\"camera_angle_x\":4,\"w\":64,\"h\":48,\"frames\":[" + frame + "]}", "camera_angle_x"},
        {"{\"fl_x\":\"fifty\",\"w\":64,\"h\":48,\"frames\":[" + frame + "]}", "fl_x is not a number"},
        {"{\"fl_x\":50,\"w\":0,\"h\":48,\"frames\":[" + frame + "]}", "image size"},
    };
    for (const auto &c : cases) {
        try {
            TransformsJson::parse(c.text, {});
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.message)) << e.what();
            EXPECT_EQ(0u, std::string(e.what()).rfind("transforms.json: ", 0)) << e.what();
        }
    }
}

// A damaged file of the trainers' name goes to their reader, which says where it breaks.
TEST(TransformsJson, DamagedFileOfItsNameIsRefusedWithThePosition)
{
    const struct {
        const char *text, *message;
    } cases[] = {
        {"garbage\n", "not a JSON file: parse error at line 1, column 1"},
        {"{\"fl_x\": 50,\n \"fra", "not a JSON file: parse error at line 2, column 6"},
    };
    for (const auto &c : cases) {
        const std::string dir = testsupport::makeTempDir("TransformsDamaged");
        const std::string path = dir + "/transforms.json";
        writeText(path, c.text);
        const ReconstructionImport::Source s = ReconstructionImport::identify(path);
        ASSERT_EQ(ReconstructionImport::TRANSFORMS, s.kind) << c.text;
        try {
            ReconstructionImport::read(s);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(0u, std::string(e.what()).rfind(std::string("transforms.json: ") + c.message, 0)) << e.what();
        }
    }
}

TEST(MeshroomScene, RefusedFilesSayWhy)
{
    const std::string intr = "\"intrinsics\":[{\"intrinsicId\":\"1\",\"width\":\"64\",\"height\":\"48\",\"type\":\"pinhole\","
                             "\"pxFocalLength\":\"50\",\"principalPoint\":[\"32\",\"24\"]}]";
    const std::string pose = "\"poses\":[{\"poseId\":\"2\",\"pose\":{\"transform\":{\"rotation\":[\"1\",\"0\",\"0\",\"0\","
                             "\"1\",\"0\",\"0\",\"0\",\"1\"],\"center\":[\"0\",\"0\",\"-5\"]}}}]";
    const std::string one = "{\"viewId\":\"3\",\"poseId\":\"2\",\"intrinsicId\":\"1\",\"path\":\"a.jpg\"}";
    const std::string view = "\"views\":[" + one + "]";
    const auto scene = [&](const std::string &views, const std::string &intrinsics, const std::string &poses,
                           const std::string &rest = "") {
        return "{\"version\":[\"1\",\"0\",\"0\"]," + views + "," + intrinsics + "," + poses + rest + "}";
    };
    const struct {
        std::string text, message;
    } cases[] = {
        {"[1,2]", "not a JSON object"},
        {"{\"views\":", "not a JSON file"},
        {scene(view, "\"intrinsics\":[]", pose), "view 3 uses intrinsic 1, which is not in the file"},
        {scene(view, intr, "\"poses\":[]"), "no view of the scene has a pose"},
        {scene("\"views\":[]", intr, pose), "the scene has no view"},
        {scene(view, intr, pose, ",\"structure\":[{\"landmarkId\":\"0\",\"X\":[\"0\",\"0\",\"0\"],\"observations\":"
                                 "[{\"observationId\":\"9\"}]}]"),
         "landmark 0 is seen by view 9, which is not in the file"},
        {scene(view, intr, pose, ",\"structure\":[{\"landmarkId\":\"0\",\"X\":[\"0\",\"0\"]}]"), "no position X"},
        {scene(view, intr, pose, ",\"structure\":[{\"landmarkId\":\"0\",\"X\":[\"0\",\"0\",\"0\"],\"color\":[\"0\",\"0\",\"300\"]}]"),
         "colour"},
        {scene(view, intr, "\"poses\":[{\"poseId\":\"2\",\"pose\":{\"transform\":{\"rotation\":[\"1\"],\"center\":[\"0\",\"0\",\"0\"]}}}]"),
         "pose 2 has no transform"},
        {scene(view, intr, "\"poses\":[{\"poseId\":\"2\",\"pose\":{\"transform\":{\"rotation\":[\"2\",\"0\",\"0\",\"0\",\"1\",\"0\",\"0\",\"0\",\"1\"],\"center\":[\"0\",\"0\",\"0\"]}}}]"),
         "not one"},
        {scene(view, "\"intrinsics\":[{\"intrinsicId\":\"1\",\"width\":\"64\",\"height\":\"48\",\"type\":\"equidistant_r3\"}]", pose),
         "camera type equidistant_r3"},
        {scene(view, "\"intrinsics\":[{\"intrinsicId\":\"1\",\"width\":\"64\",\"height\":\"48\",\"pxFocalLength\":\"abc\"}]", pose),
         "unreadable pxFocalLength"},
        {scene("\"views\":[" + one + "," + one + "]", intr, pose), "view id 3 appears twice"},
    };
    for (const auto &c : cases) {
        try {
            MeshroomScene::parse(c.text);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.message)) << e.what();
            EXPECT_EQ(0u, std::string(e.what()).rfind("Meshroom: ", 0)) << e.what();
        }
    }
}
