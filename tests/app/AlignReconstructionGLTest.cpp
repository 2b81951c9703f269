// Aligning a reconstruction moves its points and splats with its camera: after the fit to
// reference cameras of the same scene in another frame (scaled, turned, shifted), a known point
// drawn from an aligned view lands where the reference camera shows it, and every view looks
// as before the move (the splat's view-dependent colour included).
#include "app/GLMachine.h"
#include "camera/AlignedViews.h"
#include "camera/GLCamera.h"
#include "camera/ReconstructionTestFiles.h"
#include "formats/CameraPoses.h"
#include "formats/SplatWriter.h"
#include "support/CapturedMessages.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace recontest;

namespace {

// cameras.json of a splat trainer for the cameras of `m` in a world moved by X' = s Q X + u:
// per view the centre and the camera-to-world rotation (R Q^T)^T = Q R^T.
void writeTrainerCameras(const Model &m, double s, const double Q[9], const Vec &u, const std::string &path)
{
    std::string json = "[";
    for (const Cam &c : m.cams) {
        double R[9], C[3], QRt[9], X[3];
        rotationOf(c.q, R);
        for (int i = 0; i < 3; ++i) {
            C[i] = -(R[i] * c.t[0] + R[3 + i] * c.t[1] + R[6 + i] * c.t[2]);
            for (int j = 0; j < 3; ++j)
                QRt[3 * i + j] = Q[3 * i] * R[3 * j] + Q[3 * i + 1] * R[3 * j + 1] + Q[3 * i + 2] * R[3 * j + 2];
        }
        for (int i = 0; i < 3; ++i)
            X[i] = s * (Q[3 * i] * C[0] + Q[3 * i + 1] * C[1] + Q[3 * i + 2] * C[2]) + (&u.x)[i];
        char text[1024];
        std::snprintf(text, sizeof text,
                      "%s{\"img_name\": \"%s\", \"width\": %d, \"height\": %d, \"fx\": %.17g, \"fy\": %.17g, "
                      "\"position\": [%.17g, %.17g, %.17g], \"rotation\": [[%.17g, %.17g, %.17g], [%.17g, %.17g, "
                      "%.17g], [%.17g, %.17g, %.17g]]}",
                      json.size() > 1 ? ", " : "", c.name.substr(0, 1).c_str(), m.of(c).width, m.of(c).height,
                      m.of(c).fx, m.of(c).fy, X[0], X[1], X[2], QRt[0], QRt[1], QRt[2], QRt[3], QRt[4], QRt[5], QRt[6],
                      QRt[7], QRt[8]);
        json += text;
    }
    writeText(path, json + "]\n");
}

TEST(AlignReconstruction, PointsAndSplatsMoveWithTheirCameraIntoTheReferenceFrame)
{
    Model m = knownModel();
    for (Intr &k : m.intrinsics) { // the trainer's principal point is the image centre
        const size_t at = k.modelId == 1 ? 2 : 1; // PINHOLE: fx fy cx cy; SIMPLE_RADIAL: f cx cy k
        k.params[at] = k.cx = k.width / 2.0;
        k.params[at + 1] = k.cy = k.height / 2.0;
    }
    // The reference: the world turned 40 degrees about a skew axis, scaled by 3.7 and shifted.
    const double h = std::acos(-1.0) / 9, n = std::sqrt(14.0), qs[4] = {std::cos(h), std::sin(h) / n,
                                                                         -2 * std::sin(h) / n, 3 * std::sin(h) / n};
    const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double Q[9];
    rotationOf(qs, Q);
    const std::string dir = testsupport::makeTempDir("AlignReconstruction");
    for (const char *folder : {"/reference", "/colmap", "/colmap/sparse",
                               "/colmap/sparse/0", "/colmap/images", "/trainer", "/trainer/images",
                               "/trainer/point_cloud", "/trainer/point_cloud/iteration_10"})
        ASSERT_EQ(0, mkdir((dir + folder).c_str(), 0755)) << folder;
    writeTrainerCameras(m, 3.7, Q, {12.5, -4.25, 7}, dir + "/reference/cameras.json");
    writeColmapText(m, dir + "/colmap/sparse/0");
    writeTrainerCameras(m, 1, I, {0, 0, 0}, dir + "/trainer/cameras.json");
    for (const Cam &c : m.cams)
        for (const char *folder : {"/colmap/images/", "/trainer/images/"})
            writePhotograph(dir + folder + c.name, 64, 48);
    // One opaque red splat at the cloud's second point, its colour turning with the direction
    // it is seen from (degree 1).
    const Vec P = m.points[1];
    const float C0 = 0.28209479177387814f;
    std::vector<float> splat = {float(P.x), float(P.y), float(P.z), 0, 0, 1, 0.5f / C0, -0.5f / C0, -0.5f / C0};
    for (int k = 0; k < 9; ++k)
        splat.push_back(k % 4 == 0 ? 0.8f : -0.5f);
    splat.insert(splat.end(), {8, std::log(0.01f), std::log(0.02f), std::log(0.01f), 0.9f, 0.3f, 0.1f, 0.2f});
    ASSERT_TRUE(SplatWriter::write(dir + "/trainer/point_cloud/iteration_10/point_cloud.ply", 1, splat));

    // How much a pixel shows P: the cloud keeps its colours, (10, 100, 200) for P; the splat is red.
    const std::pair<const char *, std::function<double(const unsigned char *)>> cases[] = {
        {"/colmap", [](const unsigned char *p) { return p[0] == 10 && p[1] == 100 && p[2] == 200 ? 1.0 : 0.0; }},
        {"/trainer", [](const unsigned char *p) { return std::max(0, p[0] - std::max(p[1], p[2])); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        GLMachine machine(640, 480);
        machine.setBackgroundColor(Point4(0.5f, 0.5f, 0.5f, 0));
        testsupport::CapturedMessages messages;
        GLCamera *camera = static_cast<GLCamera *>(machine.registerObject((dir + c.first).c_str()));
        ASSERT_NE(camera, nullptr) << messages.take();
        ASSERT_EQ(machine.objectsLoadedWith(camera).size(), 1u);
        const CameraAlignment a =
            alignCameraPoses(readCameraPoses(dir + "/reference/cameras.json"), posesOfViews(*camera));
        ASSERT_TRUE(a.ok()) << a.refusal();
        EXPECT_NEAR(a.fit.transform.s, 3.7, 1e-6);
        std::vector<std::vector<unsigned char>> frames; // before the move, then after it
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 1)
                machine.moveReconstruction(camera, a.fit.transform);
            for (int view = 0, nv = camera->getNViews(); view < nv; ++view) {
                if (camera->getIntrinsics(view).W != 640) // b and c are the window's size, a is not
                    continue;
                while (camera->getCurrentView() != (view + nv - 1) % nv) // stepping onto a view shows its pose
                    camera->notifyCommand(GLCamera::NEXT_VIEW);
                camera->notifyCommand(GLCamera::NEXT_VIEW);
                frames.emplace_back(640 * 480 * 3);
                const std::vector<unsigned char> &f = frames.back();
                machine.getFrameBuffer(frames.back().data());
                if (pass == 0)
                    continue;
                int worst = 0;
                for (size_t p = 0; p < f.size(); ++p)
                    worst = std::max(worst, std::abs(f[p] - frames[frames.size() - 3][p]));
                EXPECT_LE(worst, 2) << "view " << view;
                // P's pixels against where the reference shows the moved P, which is where the
                // unmoved camera shows P; rows from the bottom.
                const std::string photo = camera->getOverlay().getPhotographFile(view);
                const Cam &ref = m.cams[std::string("bac").find(photo[photo.size() - 5])];
                double eu, ev, sum = 0, u = 0, v = 0;
                colmapPixel(ref, m.of(ref), P, eu, ev);
                for (size_t p = 0; p < 640 * 480; ++p) {
                    const double g = c.second(&f[3 * p]);
                    sum += g;
                    u += g * static_cast<double>(p % 640 + 0.5);
                    v += g * static_cast<double>(479 - p / 640 + 0.5);
                }
                ASSERT_GT(sum, 0) << "P is not drawn in view " << view;
                EXPECT_NEAR(u / sum, eu, 1.0) << "view " << view;
                EXPECT_NEAR(v / sum, ev, 1.0) << "view " << view;
            }
        }
        EXPECT_EQ(frames.size(), 4u);
    }
}

} // namespace
