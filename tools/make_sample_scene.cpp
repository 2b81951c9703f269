// Writes a small reconstruction as an acquisition on a turntable would leave it, for the
// viewer to open:
//
//   make_sample_scene OUTDIR [VIEWS [AROUND ACROSS [WIDTH]]]
//
//   OUTDIR/scene.tri          the sample model (and its texture, when make_sample_mesh
//                             writes one), from make_sample_mesh beside this program
//   OUTDIR/scene.dat          the calibrated cameras: a "V3.0" turntable of VIEWS views
//                             (24 by default, 12 to 36) about one axis, 1024 x 768 pixels
//                             (or WIDTH x 3/4 WIDTH, the intrinsics scaled alike),
//                             principal point off the image centre
//   OUTDIR/seq/viewNN.ppm     the photographs, rendered off-screen from each view with the
//                             model drawn as the viewer draws it, over a plain background
//   OUTDIR/sil/viewNN.sil     the silhouettes of the model in the photographs (run lengths)
//   OUTDIR/sil/viewNN.txt     their outer contours, pixel by pixel, for the epipolar drawings
//
// AROUND ACROSS is the mesh grid handed to make_sample_mesh (its default when absent). The
// photographs are drawn with a projection built here from the intrinsics, independently of
// the viewer's camera code, so that the viewer showing them over the model is a real check.
#include "app/GLMachine.h"
#include "app/SceneWindow.h"
#include "camera/GLView.h"
#include "formats/Sil.h"
#include "image/Bitmap.h"
#include "math/Matrix4.h"
#include "objects/GLMeshObject.h"
#include "SampleTools.h"

#include <GL/gl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

using sampletools::makeFolders;
using sampletools::programFolder;
using sampletools::run;

const double kPi = 3.14159265358979323846;

// The acquisition: image size, intrinsics and the turntable seen from above. The photographs
// are 1024 x 768 unless asked smaller (tests under slow instrumentation).
struct Acquisition {
    int width, height;
    double fx, fy, cx, cy;
};

// The intrinsics are kept to the three decimals the camera file holds, so that the viewer
// reads back the very projection the photographs were drawn with.
Acquisition acquisitionOfWidth(int width)
{
    const double s = width / 1024.0;
    const auto filed = [s](double v) { return std::round(v * s * 1000) / 1000; };
    return {width, width * 3 / 4, filed(1100), filed(1096), filed(530.5), filed(371.25)};
}

const double kDistance = 15;      // from the camera to the turntable's centre
const double kElevation = 30;     // degrees the cameras look down onto the turntable
const float kBackground[3] = {0.80f, 0.84f, 0.88f};
const float kNear = 1, kFar = 100;


// The camera file, written whole under a temporary name. The turntable's axis is the
// model's z axis turned up towards the viewer: the base rotation turns z about the camera's
// x axis by 90 degrees plus the elevation.
bool writeCameraFile(const std::string &path, int views, const Acquisition &k)
{
    const double e = kElevation * kPi / 180;
    const double alpha = kPi / 2 + e;
    const std::string temporary = path + ".part";
    FILE *f = std::fopen(temporary.c_str(), "w");
    if (!f)
        return false;
    std::fprintf(f, "V3.0\n%d %d\n%.3f %.3f\n%.3f %.3f\n", k.width, k.height, k.cx, k.cy, k.fx, k.fy);
    std::fprintf(f, "0 0 %.3f\n", kDistance);
    std::fprintf(f, "%d 0 %.9f %.9f\n", views, -std::cos(e), -std::sin(e));
    std::fprintf(f, "deg\n");
    for (int i = 0; i < views; ++i)
        std::fprintf(f, "%.6f\n", 360.0 * i / views);
    std::fprintf(f, "0 0 0 %.9f 0 0 %.9f\n", std::sin(alpha / 2), std::cos(alpha / 2));
    bool ok = !std::ferror(f);
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

// The OpenGL projection of the intrinsics for a window of the photograph's size: pixel
// (u, v), v downwards, lands on normalised x = 2u/W - 1, y = 1 - 2v/H.
Matrix4 projectionOfIntrinsics(const Acquisition &k)
{
    Matrix4 p;
    for (int i = 0; i < 4; ++i)
        p(i, i) = 0;
    p(0, 0) = static_cast<float>(2 * k.fx / k.width);
    p(0, 2) = static_cast<float>(1 - 2 * k.cx / k.width);
    p(1, 1) = static_cast<float>(2 * k.fy / k.height);
    p(1, 2) = static_cast<float>(-(1 - 2 * k.cy / k.height));
    p(2, 2) = (kNear + kFar) / (kNear - kFar);
    p(2, 3) = 2 * kNear * kFar / (kNear - kFar);
    p(3, 2) = -1;
    return p;
}

// The outer boundary of the object pixels (mask 255), traced clockwise on screen from the
// first object pixel in row order, as the centres of the boundary pixels.
std::vector<std::pair<int, int>> traceContour(const std::vector<unsigned char> &mask, int w, int h)
{
    std::vector<std::pair<int, int>> contour;
    const auto inside = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h && mask[y * w + x]; };
    int sx = -1, sy = -1;
    for (int y = 0; y < h && sx < 0; ++y)
        for (int x = 0; x < w; ++x)
            if (mask[y * w + x]) {
                sx = x;
                sy = y;
                break;
            }
    if (sx < 0)
        return contour;
    // Moore neighbourhood, clockwise with y down, starting west.
    static const int dx[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
    static const int dy[8] = {0, -1, -1, -1, 0, 1, 1, 1};
    int x = sx, y = sy;
    int from = 0; // the start pixel was entered from the west (nothing is above or left of it)
    const size_t limit = static_cast<size_t>(w) * h * 4;
    do {
        contour.emplace_back(x, y);
        int k = 0;
        for (; k < 8; ++k) {
            const int d = (from + k) % 8;
            if (inside(x + dx[d], y + dy[d])) {
                x += dx[d];
                y += dy[d];
                // Look again from the neighbour before the one we came through.
                from = (d + 6) % 8;
                break;
            }
        }
        if (k == 8)
            break; // a single pixel
    } while ((x != sx || y != sy) && contour.size() < limit);
    return contour;
}

int fail(const char *what, const std::string &name)
{
    std::fprintf(stderr, "make_sample_scene: %s %s\n", what, name.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3 && argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: %s OUTDIR [VIEWS [AROUND ACROSS [WIDTH]]]\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const int views = argc >= 3 ? std::atoi(argv[2]) : 24;
    if (views < 12 || views > 36) {
        std::fprintf(stderr, "%s: between 12 and 36 views\n", argv[0]);
        return 2;
    }
    const int width = argc == 6 ? std::atoi(argv[5]) : 1024;
    if (width < 64 || width > 1024 || width % 4 != 0) {
        std::fprintf(stderr, "%s: a width of 64 to 1024 pixels, a multiple of 4\n", argv[0]);
        return 2;
    }
    const Acquisition k = acquisitionOfWidth(width);
    if (!makeFolders(out) || !makeFolders(out + "/seq") || !makeFolders(out + "/sil"))
        return fail("can't make the folders of", out);

    // The model, from the mesh tool beside this one (it writes the texture too when it has
    // one).
    std::vector<std::string> meshArgs = {programFolder(argv[0]) + "/make_sample_mesh", out + "/scene.tri"};
    if (argc >= 5) {
        meshArgs.push_back(argv[3]);
        meshArgs.push_back(argv[4]);
    }
    if (!run(meshArgs))
        return fail("can't make the model", out + "/scene.tri");
    const std::string cameraFile = out + "/scene.dat";
    if (!writeCameraFile(cameraFile, views, k))
        return fail("can't write", cameraFile);

    try {
        // The poses as the viewer reads them back from the file.
        GLView calibration(cameraFile.c_str());
        GLMachine machine(k.width, k.height);
        machine.setDrawInfo(false);
        // The scene's camera first, so that the model brings no default camera of its own.
        machine.registerObject(cameraFile.c_str());
        GL3DObject *object = machine.register3DObject((out + "/scene.tri").c_str());
        GLMeshObject *mesh = dynamic_cast<GLMeshObject *>(object);
        if (!mesh)
            return fail("can't load", out + "/scene.tri");
        // A textured model is photographed with its texture.
        if (mesh->getArrays().texCoords)
            mesh->notifyCommand('3');

        const Matrix4 projection = projectionOfIntrinsics(k);
        std::vector<unsigned char> colour(static_cast<size_t>(k.width) * k.height * 3);
        std::vector<float> depth(static_cast<size_t>(k.width) * k.height);
        std::vector<unsigned char> mask(static_cast<size_t>(k.width) * k.height);
        for (int i = 0; i < views; ++i) {
            if (!machine.getWindow()->makeCurrent(false))
                return fail("no OpenGL context for", out);
            glViewport(0, 0, k.width, k.height);
            glClearColor(kBackground[0], kBackground[1], kBackground[2], 1);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glMatrixMode(GL_PROJECTION);
            glLoadMatrixf(projection);
            glMatrixMode(GL_MODELVIEW);
            // The light stays at the camera, as in the viewer.
            glLoadIdentity();
            const float headlight[4] = {0, 0, 1, 0};
            glLightfv(GL_LIGHT0, GL_POSITION, headlight);
            glLoadMatrixf(calibration.getGLEMatrix(i));
            mesh->draw();
            glFinish();
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, k.width, k.height, GL_RGB, GL_UNSIGNED_BYTE, colour.data());
            glReadPixels(0, 0, k.width, k.height, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());

            // OpenGL gives the bottom row first; files start with the top row.
            Bitmap photo(k.width, k.height);
            for (int y = 0; y < k.height; ++y) {
                const int row = k.height - 1 - y;
                std::memcpy(&photo.get(0, y), &colour[static_cast<size_t>(row) * k.width * 3], k.width * 3);
                for (int x = 0; x < k.width; ++x)
                    mask[static_cast<size_t>(y) * k.width + x] =
                        depth[static_cast<size_t>(row) * k.width + x] < 1 ? 255 : 0;
            }
            char name[64];
            std::snprintf(name, sizeof name, "view%02d", i);
            const std::string base = std::string(name);
            if (!photo.savePPM((out + "/seq/" + base + ".ppm").c_str()))
                return fail("can't write", out + "/seq/" + base + ".ppm");
            const Sil silhouette(mask.data(), k.width, k.height, (base + ".sil").c_str());
            if (!silhouette.write((out + "/sil/" + base + ".sil").c_str()))
                return fail("can't write", out + "/sil/" + base + ".sil");

            const std::string contourName = out + "/sil/" + base + ".txt";
            FILE *f = std::fopen((contourName + ".part").c_str(), "w");
            if (!f)
                return fail("can't write", contourName);
            for (const auto &p : traceContour(mask, k.width, k.height))
                std::fprintf(f, "%.1f %.1f\n", p.first + 0.5, p.second + 0.5);
            const bool ok = !std::ferror(f);
            if (std::fclose(f) != 0 || !ok || std::rename((contourName + ".part").c_str(), contourName.c_str()) != 0)
                return fail("can't write", contourName);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_sample_scene: %s\n", e.what());
        return 1;
    }
    std::printf("%s: %d views of %d x %d pixels\n", out.c_str(), views, k.width, k.height);
    return 0;
}
