// Aligning a reconstruction moves its points and splats with its camera: after the fit to
// reference cameras that see the same scene in another frame (scaled, turned and shifted), a
// known point drawn from an aligned view lands on the pixel where the reference camera of that
// view shows the same point.
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

// The rotation of b, then that of a.
void compose(const double a[4], const double b[4], double out[4])
{
    out[0] = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
    out[1] = a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2];
    out[2] = a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1];
    out[3] = a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0];
}

// The world moved by X' = s Q X + u, Q the rotation of the unit quaternion qs.
struct Move {
    double qs[4];
    double s;
    Vec u;
    Vec apply(Vec X) const
    {
        double Q[9];
        rotationOf(qs, Q);
        return {s * (Q[0] * X.x + Q[1] * X.y + Q[2] * X.z) + u.x, s * (Q[3] * X.x + Q[4] * X.y + Q[5] * X.z) + u.y,
                s * (Q[6] * X.x + Q[7] * X.y + Q[8] * X.z) + u.z};
    }
};

Vec centreOf(const Cam &c)
{
    double R[9];
    rotationOf(c.q, R);
    return {-(R[0] * c.t[0] + R[3] * c.t[1] + R[6] * c.t[2]), -(R[1] * c.t[0] + R[4] * c.t[1] + R[7] * c.t[2]),
            -(R[2] * c.t[0] + R[5] * c.t[1] + R[8] * c.t[2])};
}

// The same cameras in the moved world: R' = R Q^T, centres moved.
Model moved(const Model &m, const Move &S)
{
    Model r = m;
    r.cams.clear();
    const double inverse[4] = {S.qs[0], -S.qs[1], -S.qs[2], -S.qs[3]};
    for (const Cam &c : m.cams) {
        double q[4];
        compose(c.q, inverse, q);
        r.cams.push_back(camera(c.name, c.id, c.cameraId, q, S.apply(centreOf(c))));
    }
    for (Vec &X : r.points)
        X = S.apply(X);
    return r;
}

// cameras.json of a splat trainer: camera-to-world rotation and centre per view.
void writeTrainerCameras(const Model &m, const std::string &path)
{
    std::string json = "[";
    char text[1024];
    for (size_t i = 0; i < m.cams.size(); ++i) {
        const Cam &c = m.cams[i];
        const Intr &k = m.of(c);
        double R[9];
        rotationOf(c.q, R);
        const Vec C = centreOf(c);
        std::snprintf(text, sizeof text,
                      "%s{\"id\": %zu, \"img_name\": \"%s\", \"width\": %d, \"height\": %d, \"position\": [%.17g, "
                      "%.17g, %.17g], \"rotation\": [[%.17g, %.17g, %.17g], [%.17g, %.17g, %.17g], [%.17g, %.17g, "
                      "%.17g]], \"fx\": %.17g, \"fy\": %.17g}",
                      i ? ", " : "", i, c.name.substr(0, c.name.find('.')).c_str(), k.width, k.height, C.x, C.y, C.z,
                      R[0], R[3], R[6], R[1], R[4], R[7], R[2], R[5], R[8], k.fx, k.fy);
        json += text;
    }
    writeText(path, json + "]\n");
}

// The centroid of the pixels `weight` gives weight to (frame bottom row first), measured from
// the image's top-left corner as the cameras measure pixels; false when none has weight.
bool centroid(const std::vector<unsigned char> &frame, int w, int h,
              const std::function<double(const unsigned char *)> &weight, double &u, double &v)
{
    double sum = 0, su = 0, sv = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double g = weight(&frame[3 * (static_cast<size_t>(y) * w + x)]);
            sum += g;
            su += g * (x + 0.5);
            sv += g * (h - 1 - y + 0.5);
        }
    if (!(sum > 0))
        return false;
    u = su / sum;
    v = sv / sum;
    return true;
}

void goToView(GLCamera &camera, int i)
{
    const int n = camera.getNViews();
    while (camera.getCurrentView() != (i + n - 1) % n)
        camera.notifyCommand(GLCamera::NEXT_VIEW);
    camera.notifyCommand(GLCamera::NEXT_VIEW);
}

TEST(AlignReconstruction, PointsAndSplatsMoveWithTheirCameraIntoTheReferenceFrame)
{
    Model m = knownModel();
    // The trainer's cameras have their principal point at the image centre.
    for (Intr &k : m.intrinsics) {
        const size_t at = k.modelId == 1 ? 2 : 1; // PINHOLE: fx fy cx cy; SIMPLE_RADIAL: f cx cy k
        k.params[at] = k.cx = k.width / 2.0;
        k.params[at + 1] = k.cy = k.height / 2.0;
    }
    // 40 degrees about a skew axis, scale 3.7, a shift.
    const double half = std::acos(-1.0) * 20 / 180, n = std::sqrt(14.0);
    const Move S{{std::cos(half), std::sin(half) / n, -2 * std::sin(half) / n, 3 * std::sin(half) / n}, 3.7,
                 {12.5, -4.25, 7}};
    const Model reference = moved(m, S);

    const std::string dir = testsupport::makeTempDir("AlignReconstruction");
    for (const char *folder : {"/reference", "/reference/sparse", "/reference/sparse/0", "/colmap", "/colmap/sparse",
                               "/colmap/sparse/0", "/colmap/images", "/trainer", "/trainer/images",
                               "/trainer/point_cloud", "/trainer/point_cloud/iteration_10"})
        ASSERT_EQ(0, mkdir((dir + folder).c_str(), 0755)) << folder;
    writeColmapText(reference, dir + "/reference/sparse/0");
    writeColmapText(m, dir + "/colmap/sparse/0");
    writeTrainerCameras(m, dir + "/trainer/cameras.json");
    for (const Cam &c : m.cams)
        for (const char *folder : {"/colmap/images/", "/trainer/images/"})
            writePhotograph(dir + folder + c.name, m.of(c).width / 10, m.of(c).height / 10);
    // One opaque red splat, a little larger than a pixel, at the second point; its colour
    // changes with the direction it is seen from (degree 1).
    const Vec P = m.points[1];
    const float C0 = 0.28209479177387814f;
    std::vector<float> splat = {static_cast<float>(P.x), static_cast<float>(P.y), static_cast<float>(P.z), 0, 0, 1,
                                0.5f / C0, -0.5f / C0, -0.5f / C0};
    for (int k = 0; k < 9; ++k)
        splat.push_back(k % 4 == 0 ? 0.8f : -0.5f);
    splat.insert(splat.end(), {8, std::log(0.01f), std::log(0.02f), std::log(0.01f), 0.9f, 0.3f, 0.1f, 0.2f});
    ASSERT_TRUE(SplatWriter::write(dir + "/trainer/point_cloud/iteration_10/point_cloud.ply", 1, splat));
    const CameraPoses referencePoses = readCameraPoses(dir + "/reference");

    struct Case {
        const char *folder;
        std::vector<size_t> points; ///< the points of `m` that are drawn
        /// How much of a pixel's colour says it shows point j.
        std::function<double(const unsigned char *, size_t j)> weight;
    };
    const Case cases[] = {
        {"/colmap", {0, 1, 2, 3},
         // The cloud keeps its colours: (10 j, 100, 200).
         [](const unsigned char *p, size_t j) {
             return p[0] == 10 * j && p[1] == 100 && p[2] == 200 ? 1.0 : 0.0;
         }},
        {"/trainer", {1}, [](const unsigned char *p, size_t) { return std::max(0, p[0] - std::max(p[1], p[2])); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.folder);
        GLMachine machine(640, 480);
        machine.setBackgroundColor(Point4(0.5f, 0.5f, 0.5f, 0));
        testsupport::CapturedMessages messages;
        GLCamera *camera = static_cast<GLCamera *>(machine.registerObject((dir + c.folder).c_str()));
        ASSERT_NE(camera, nullptr) << messages.take();
        ASSERT_EQ(machine.objectsLoadedWith(camera).size(), 1u);
        // The views of b and c, 640 x 480 as the window (a is 800 x 600).
        std::vector<int> views;
        std::vector<std::vector<unsigned char>> before;
        for (int view = 0; view < camera->getNViews(); ++view)
            if (camera->getIntrinsics(view).W == 640) {
                views.push_back(view);
                goToView(*camera, view);
                before.emplace_back(640 * 480 * 3);
                machine.getFrameBuffer(before.back().data());
            }
        ASSERT_EQ(views.size(), 2u);
        const CameraAlignment a = alignCameraPoses(referencePoses, posesOfViews(*camera));
        ASSERT_TRUE(a.ok()) << a.refusal();
        EXPECT_NEAR(a.fit.transform.s, 3.7, 1e-6);
        machine.moveReconstruction(camera, a.fit.transform);
        for (size_t k = 0; k < views.size(); ++k) {
            const int view = views[k];
            goToView(*camera, view);
            std::vector<unsigned char> frame(640 * 480 * 3);
            machine.getFrameBuffer(frame.data());
            // Seen from its aligned views the moved scene looks as it did from its own: the
            // splat's shape, depth and view-dependent colour included.
            int worst = 0;
            for (size_t p = 0; p < frame.size(); ++p)
                worst = std::max(worst, std::abs(frame[p] - before[k][p]));
            EXPECT_LE(worst, 2) << "view " << view;
            const Cam *ref = nullptr;
            for (const Cam &r : reference.cams)
                if (r.name == camera->getPhotographFile(view).substr(camera->getPhotographFile(view).rfind('/') + 1))
                    ref = &r;
            ASSERT_NE(ref, nullptr);
            for (size_t j : c.points) {
                double eu, ev, u, v;
                colmapPixel(*ref, reference.of(*ref), reference.points[j], eu, ev);
                ASSERT_TRUE(centroid(frame, 640, 480, [&](const unsigned char *p) { return c.weight(p, j); }, u, v))
                    << "point " << j << " not drawn in view " << view << ", expected at " << eu << ", " << ev;
                EXPECT_NEAR(u, eu, 1.0) << "point " << j << ", view " << view;
                EXPECT_NEAR(v, ev, 1.0) << "point " << j << ", view " << view;
            }
        }
    }
}

} // namespace
