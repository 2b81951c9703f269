#include "formats/BundlerFile.h"
#include "formats/ColmapModel.h"
#include "formats/ReconstructionStatistics.h"
#include "camera/ReconstructionImport.h"
#include "image/Bitmap.h"
#include "objects/GLPointListObject.h"

#include "camera/DrawnPixel.h"
#include "camera/ReconstructionTestFiles.h"
#include "support/ImageCompare.h"
#include "support/CapturedMessages.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using namespace recontest;

namespace {

std::string captured(const std::function<void()> &f)
{
    testsupport::CapturedMessages captured;
    f();
    return captured.take();
}

} // namespace

// Both COLMAP encodings of the same known model: every view shows every point on the pixel
// COLMAP's own convention gives, photographs are found in "images/" beside "sparse/0", and
// the points keep their colours and reprojection errors.
TEST(ColmapModel, ViewsProjectKnownPointsToKnownPixels)
{
    const Model m = knownModel();
    for (const bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "binary" : "text");
        const std::string root = testsupport::makeTempDir(binary ? "colmap-bin" : "colmap-txt");
        ASSERT_EQ(0, mkdir((root + "/sparse").c_str(), 0755));
        ASSERT_EQ(0, mkdir((root + "/sparse/0").c_str(), 0755));
        ASSERT_EQ(0, mkdir((root + "/images").c_str(), 0755));
        const std::string model = root + "/sparse/0";
        binary ? writeColmapBinary(m, model) : writeColmapText(m, model);
        for (const Cam &c : m.cams)
            writePhotograph(root + "/images/" + c.name, m.of(c).width / 10, m.of(c).height / 10);

        // The folder, and any of the model's files, name the model.
        for (const std::string &given : {root, model + (binary ? "/images.bin" : "/images.txt")}) {
            const ReconstructionImport::Source s = ReconstructionImport::identify(given);
            EXPECT_EQ(ReconstructionImport::COLMAP, s.kind) << given;
            EXPECT_EQ(model, s.folder);
            EXPECT_EQ(binary, s.binary);
        }
        const Reconstruction rec = ColmapModel::read(model, binary);
        ASSERT_EQ(3u, rec.views.size());
        // Views follow the photographs' names.
        EXPECT_EQ("a.png", rec.views[0].imageName);
        EXPECT_EQ("c.png", rec.views[2].imageName);
        // The lens of the second camera is modelled, not ignored.
        EXPECT_TRUE(rec.notes.empty());
        EXPECT_EQ(LensDistortion::SIMPLE_RADIAL, rec.views[0].distortion.model());

        std::vector<std::string> photographs;
        const std::string out = captured([&] { photographs = ReconstructionImport::findPhotographs(rec, model, nullptr); });
        EXPECT_NE(std::string::npos, out.find("3 of 3 views")) << out;
        EXPECT_EQ(root + "/images/a.png", photographs[0]);

        std::unique_ptr<GLCamera> camera;
        captured([&] { camera = ReconstructionImport::makeCamera(rec, photographs); });
        ASSERT_EQ(3, camera->getNViews());
        EXPECT_TRUE(camera->hasViewIntrinsics());
        for (int i = 0; i < 3; ++i) {
            const Cam *c = nullptr;
            for (const Cam &k : m.cams)
                if (k.name == rec.views[i].imageName)
                    c = &k;
            ASSERT_TRUE(c);
            EXPECT_EQ(m.of(*c).width, camera->getIntrinsics(i).W);
            for (const Vec &X : m.points) {
                double eu, ev, u, v;
                colmapPixel(*c, m.of(*c), X, eu, ev);
                drawnPixel(*camera, i, X, u, v);
                EXPECT_NEAR(eu, u, 0.01) << c->name;
                EXPECT_NEAR(ev, v, 0.01) << c->name;
            }
        }

        std::unique_ptr<GLPointListObject> points;
        captured([&] { points = ReconstructionImport::makePoints(rec); });
        ASSERT_EQ(4, points->getNVertices());
        EXPECT_TRUE(points->getShowOwnColors());
        EXPECT_EQ(30, points->getColors()[9]);
        EXPECT_EQ("Reprojection error", points->getValueName());
        // The file says 1.5; the keypoints, through the lens, say the point sits on them.
        EXPECT_NEAR(0, points->getValues()[3], 1e-3);
        // "3" steps from the own colours through the error, track length and triangulation
        // angle, and back.
        for (const char *item : {"Reprojection error", "Track length", "Triangulation angle"}) {
            captured([&] { points->notifyCommand('3'); });
            EXPECT_FALSE(points->getShowOwnColors());
            EXPECT_EQ(item, points->getValueName());
            if (points->getValueName() == "Track length") {
                EXPECT_EQ(3, points->getValues()[0]);
            }
        }
        captured([&] { points->notifyCommand('3'); });
        EXPECT_EQ(200, points->getColors()[2]);
    }
}

// Bundler: cameras look down -z with y up, pixels are measured from the image centre with y
// up, and the image size comes from the photographs named in list.txt.
TEST(BundlerFile, ViewsProjectKnownPointsToKnownPixels)
{
    const std::string dir = testsupport::makeTempDir("bundler");
    const Model m = knownModel();
    const int sizes[3][2] = {{64, 48}, {80, 60}, {0, 0}};
    const double focal[3] = {70, 90, 0}; // the third camera was not reconstructed
    std::string bundle = "# Bundle file v0.3\n3 " + std::to_string(m.points.size()) + "\n";
    std::string list;
    char line[512];
    // Bundler's R and t: rows 2 and 3 of the camera frame negated.
    std::vector<std::vector<double>> Rb(3, std::vector<double>(9)), tb(3, std::vector<double>(3));
    for (int i = 0; i < 3; ++i) {
        double R[9];
        rotationOf(m.cams[i].q, R);
        for (int k = 0; k < 9; ++k)
            Rb[i][k] = k < 3 ? R[k] : -R[k];
        for (int k = 0; k < 3; ++k)
            tb[i][k] = k == 0 ? m.cams[i].t[k] : -m.cams[i].t[k];
        snprintf(line, sizeof line, "%.17g %.17g %.17g\n", focal[i], i == 1 ? 0.02 : 0.0, 0.0);
        bundle += line;
        for (int r = 0; r < 3; ++r) {
            snprintf(line, sizeof line, "%.17g %.17g %.17g\n", Rb[i][3 * r], Rb[i][3 * r + 1], Rb[i][3 * r + 2]);
            bundle += line;
        }
        snprintf(line, sizeof line, "%.17g %.17g %.17g\n", tb[i][0], tb[i][1], tb[i][2]);
        bundle += line;
        // One photograph tells its size from its header (PNG), the other is decoded (PPM).
        const std::string name = "photo" + std::to_string(i) + (i == 1 ? ".png" : ".ppm");
        list += name + " 0 " + std::to_string(focal[i]) + "\n";
        if (i == 1)
            ASSERT_EQ(1, Bitmap(sizes[i][0], sizes[i][1]).save((dir + "/" + name).c_str()));
        else if (sizes[i][0])
            writePhotograph(dir + "/" + name, sizes[i][0], sizes[i][1]);
    }
    // Bundler's own projection, from the image centre with y up (distortion left out).
    const auto bundlerPixel = [&](int i, Vec X, double &x, double &y) {
        double P[3];
        for (int r = 0; r < 3; ++r)
            P[r] = Rb[i][3 * r] * X.x + Rb[i][3 * r + 1] * X.y + Rb[i][3 * r + 2] * X.z + tb[i][r];
        x = -focal[i] * P[0] / P[2];
        y = -focal[i] * P[1] / P[2];
    };
    for (size_t j = 0; j < m.points.size(); ++j) {
        const Vec &X = m.points[j];
        snprintf(line, sizeof line, "%.17g %.17g %.17g\n%d 20 30\n1", X.x, X.y, X.z, static_cast<int>(j));
        bundle += line;
        double x, y;
        bundlerPixel(0, X, x, y);
        // The last point's observation is 3, 4 pixels off: an error of 5.
        snprintf(line, sizeof line, " 0 %d %.17g %.17g\n", static_cast<int>(j), x + (j == 3 ? 3 : 0),
                 y + (j == 3 ? 4 : 0));
        bundle += line;
    }
    writeText(dir + "/bundle.out", bundle);
    writeText(dir + "/list.txt", list);

    const ReconstructionImport::Source s = ReconstructionImport::identify(dir + "/bundle.out");
    ASSERT_EQ(ReconstructionImport::BUNDLER, s.kind);
    EXPECT_EQ(ReconstructionImport::BUNDLER, ReconstructionImport::identify(dir).kind);
    const Reconstruction rec = ReconstructionImport::read(s);
    ASSERT_EQ(2u, rec.views.size());
    ASSERT_EQ(1u, rec.notes.size());
    EXPECT_NE(std::string::npos, rec.notes[0].find("1 of 3 Bundler cameras"));
    EXPECT_NEAR(0, rec.points[0].error, 1e-6);
    EXPECT_NEAR(5, rec.points[3].error, 1e-6);
    EXPECT_EQ(0.02, rec.views[1].distortion.coefficient(0));
    // The view lists are the tracks, and the residuals of the full model the file's errors.
    const ReconstructionStatistics stats = ReconstructionStatistics::of(rec);
    ASSERT_EQ(4u, stats.trackLength.size());
    EXPECT_EQ(1, stats.trackLength[3]);
    EXPECT_EQ(4u, stats.viewObservations[0]);
    EXPECT_NEAR(5, stats.pointError[3], 1e-4);
    EXPECT_NEAR(0, stats.pointError[0], 1e-4);

    std::vector<std::string> photographs;
    std::unique_ptr<GLCamera> camera;
    captured([&] {
        photographs = ReconstructionImport::findPhotographs(rec, s.folder, nullptr);
        camera = ReconstructionImport::makeCamera(rec, photographs);
    });
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(sizes[i][0], camera->getIntrinsics(i).W);
        EXPECT_EQ(sizes[i][1], camera->getIntrinsics(i).H);
        for (const Vec &X : m.points) {
            double x, y, u, v;
            bundlerPixel(i, X, x, y);
            drawnPixel(*camera, i, X, u, v);
            EXPECT_NEAR(sizes[i][0] / 2.0 + x, u, 0.01);
            EXPECT_NEAR(sizes[i][1] / 2.0 - y, v, 0.01);
        }
    }

    // Without photographs the size is a stated guess, and the principal point its centre.
    std::string out = captured([&] { camera = ReconstructionImport::makeCamera(rec, {}); });
    EXPECT_NE(std::string::npos, out.find("image size unknown")) << out;
    EXPECT_EQ(140, camera->getIntrinsics(0).W);
    EXPECT_EQ(70, camera->getIntrinsics(0).cx);
}

// "bin" is also the point-list extension: only the three COLMAP names with their companions
// make a model.
TEST(ColmapModel, BinFilesAreModelsOnlyWithTheirCompanions)
{
    const std::string dir = testsupport::makeTempDir("colmap-locate");
    writeColmapBinary(knownModel(), dir);
    writeText(dir + "/cloud.bin", "x");
    const std::string lone = testsupport::makeTempDir("colmap-lone");
    writeText(lone + "/images.bin", "x");
    const struct {
        std::string path;
        bool model;
    } cases[] = {
        {dir + "/images.bin", true}, {dir + "/cameras.bin", true}, {dir + "/points3D.bin", true},
        {dir + "/cloud.bin", false}, {lone + "/images.bin", false}, {lone, false}, {dir, true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.model, ReconstructionImport::identify(c.path).kind == ReconstructionImport::COLMAP) << c.path;
}

// Every refused model says why; nothing is trusted from the file.
TEST(ColmapModel, RefusedModelsSayWhy)
{
    const std::string cam = "1 PINHOLE 100 80 50 50 50 40\n";
    const std::string img = "1 1 0 0 0 0 0 5 1 a.png\n10 20 1\n";
    const std::string pts = "1 0 0 0 1 2 3 0.5 1 0\n";
    const struct {
        std::string cameras, images, points, message;
    } cases[] = {
        {"1 RADIAL_FISHEYE 100 80 50 50 40 0 0\n", img, pts, "camera model RADIAL_FISHEYE"},
        {"1 WEIRD 100 80 1 2 3\n", img, pts, "unknown camera model WEIRD"},
        {"1 PINHOLE 100 80 50 50\n", img, pts, "too few camera parameters"},
        {"1 PINHOLE 0 80 50 50 50 40\n", img, pts, "image size"},
        {cam + cam, img, pts, "camera id 1 appears twice"},
        {cam, "1 1 0 0 0 0 0 5 2 a.png\n10 20 1\n", pts, "uses camera 2"},
        {cam, "1 0 0 0 0 0 0 5 1 a.png\n10 20 1\n", pts, "unusable pose"},
        {cam, img + img, pts, "image id 1 appears twice"},
        {cam, "1 1 0 0 0 0 0 5 1 a.png\n10 20\n", pts, "X Y POINT3D_ID"},
        {cam, "1 1 0 0 0 0 0 5 1 a.png\n10 20 1 junk\n", pts, "X Y POINT3D_ID"},
        {cam, img, "1 0 0 0 1 2 3 0.5 1 0 junk\n", "IMAGE_ID POINT2D_IDX pairs"},
        {cam, "1 1 0 0 0 0 0 5 1 a.png\n10 20 4\n", pts, "observes 3D point 4"},
        {cam, img, "1 0 0 0 1 2 3 0.5 2 0\n", "seen by image 2"},
        {cam, img, "1 0 0 0 1 2 3 0.5 1 1\n", "seen by point 1 of image 1"},
        {cam, img, "1 0 0 0 1 2 3 0.5 -1 0\n", "seen by image -1, which is not in the images file"},
        {cam, img, "1 0 0 0 1 2 3 0.5 1 -1\n", "seen by point -1 of image 1, which it does not have"},
        {cam, img, "1 0 0 0 1 2 3 0.5 1\n", "IMAGE_ID POINT2D_IDX pairs"},
        {cam, img, "1 0 0 0 1 2 300 0.5 1 0\n", "colour outside"},
        {cam, "", "", "no registered image"},
    };
    for (const auto &c : cases) {
        try {
            ColmapModel::parseText(c.cameras, c.images, c.points);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.message)) << e.what();
        }
    }

    // Binary: counts larger than the file, truncation and trailing bytes.
    const Model m = knownModel();
    const std::string dir = testsupport::makeTempDir("colmap-bad");
    writeColmapBinary(m, dir);
    const auto file = [&](const char *name) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string cams = file("cameras.bin"), imgs = file("images.bin"), ptsb = file("points3D.bin");
    std::string huge = imgs;
    huge[7] = 0x40;
    std::string unknown = cams;
    unknown[12] = 42; // the first camera's model id
    const struct {
        std::string cameras, images, points, message;
    } binary[] = {
        {cams, huge, ptsb, "announces"},
        {cams, imgs.substr(0, imgs.size() - 3), ptsb, "images.bin announces 4 observations"},
        {cams, imgs, ptsb + "x", "more bytes than its points"},
        {unknown, imgs, ptsb, "unknown camera model number 42"},
        {cams.substr(0, 5), imgs, ptsb, "cameras.bin ends inside"},
    };
    for (const auto &c : binary) {
        try {
            ColmapModel::parseBinary(c.cameras, c.images, c.points);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.message)) << e.what();
        }
    }
}

TEST(BundlerFile, RefusedFilesSayWhy)
{
    const std::string cam = "70 0 0\n1 0 0\n0 1 0\n0 0 1\n0 0 -5\n";
    const struct {
        std::string bundle, list, message;
    } cases[] = {
        {"# Bundle file v0.3\n1 1\n" + cam + "0 0 0\n1 2 3\n1 4 0 1 1\n", "", "seen by camera 4 of 1"},
        {"# Bundle file v0.3\n1 1\n" + cam + "0 0 0\n1 2 300\n1 0 0 1 1\n", "", "colour"},
        {"# Bundle file v0.3\n99999 0\n" + cam, "", "announces 99999 cameras"},
        {"# Bundle file v0.3\n1 1\n" + cam + "0 0 0\n1 2 3\n99999 0 0 1 1\n", "", "announces 99999 observations"},
        {"# Bundle file v0.3\n1 0\n70.0000 0.0000 0.0000\n1.0000 0.0000 0.0000\n", "", "ends inside a camera"},
        {"# Bundle file v0.3\n1 0\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n0 0 -5\n", "", "no camera of the file"},
        {"# Bundle file v0.3\n1 0\n" + cam, "a.jpg\nb.jpg\n", "list.txt names 2 photographs for 1 cameras"},
        {"# Bundle file v0.3\n-1 0\n", "", "announces -1 cameras"},
    };
    for (const auto &c : cases) {
        try {
            BundlerFile::parse(c.bundle, c.list);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.message)) << e.what();
        }
    }
}

// Cameras that only moved sideways share their orientation: their photographs still lie in
// front of them, not on their centres.
TEST(ReconstructionImport, PhotographsOfParallelViewsLieInFrontOfTheirCameras)
{
    const std::string images = "1 1 0 0 0 0.5 0 5 1 a.png\n\n2 1 0 0 0 -0.5 0 5 1 b.png\n\n";
    const Reconstruction rec = ColmapModel::parseText("1 PINHOLE 64 48 60 60 32 24\n", images, "");
    std::unique_ptr<GLCamera> camera;
    captured([&] { camera = ReconstructionImport::makeCamera(rec, {}); });
    EXPECT_FLOAT_EQ(0, camera->getMinAngle());
    EXPECT_GT(camera->getOverlay().getImageDepth(), 0.001f * camera->getWorldScale());
    EXPECT_LT(camera->getOverlay().getImageDepth(), camera->getWorldScale());
}

// An image's POINT3D_IDs and the points' tracks say the same twice; where they disagree the
// model still opens, keeps what the tracks say and counts the disagreements in a note.
TEST(ColmapModel, ImagesAndTracksThatDisagreeKeepTheTracks)
{
    const std::string cam = "1 PINHOLE 100 80 50 50 50 40\n";
    const struct {
        const char *images, *points;
        int disagree;
        std::vector<int32_t> observes; ///< of image 1 once read
    } cases[] = {
        {"10 20 1 30 40 -1", "1 0 0 1 1 2 3 0.5 1 0\n", 0, {0, -1}},
        {"10 20 -1 30 40 -1", "1 0 0 1 1 2 3 0.5 1 0\n", 1, {0, -1}},   // a track element its keypoint denies
        {"10 20 1 30 40 1", "1 0 0 1 1 2 3 0.5 1 0\n", 1, {0, -1}},     // a keypoint no track has
        {"10 20 1 30 40 -1", "1 0 0 1 1 2 3 0.5 1 0 1 0\n", 1, {0, -1}}, // the same element twice
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.images);
        const Reconstruction rec =
            ColmapModel::parseText(cam, std::string("1 1 0 0 0 0 0 5 1 a.png\n") + c.images + "\n", c.points);
        EXPECT_EQ(c.observes, rec.views[0].observes);
        if (c.disagree == 0) {
            EXPECT_TRUE(rec.notes.empty());
        } else {
            ASSERT_EQ(1u, rec.notes.size());
            EXPECT_EQ(std::to_string(c.disagree) +
                          " observations of the images and the points' tracks disagree; the tracks are kept",
                      rec.notes[0]);
        }
    }
}
