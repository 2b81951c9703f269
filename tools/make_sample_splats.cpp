// Writes a Gaussian splat trainer's output folder of the sample model, for the viewer to open
// with its photographs:
//
//   make_sample_splats OUTDIR [SPLATS]
//
//   OUTDIR/point_cloud/iteration_30000/point_cloud.ply   SPLATS splats (300,000 by default) on
//                             the sample model's surface: colours from its texture, flat along
//                             the surface, small view-dependent terms up to degree 3
//   OUTDIR/cameras.json       the 24 views of a turntable, as the trainer writes them
//   OUTDIR/sparse/0/*.txt     the same views as a COLMAP text model, with a few of the points
//   OUTDIR/images/viewNN.png  the photographs: the sample model drawn from each view
//   OUTDIR/model/scene.tri    the model itself (from make_sample_mesh beside this program)
//
// The principal point is the image centre, as the trainer's cameras.json assumes.
#include "app/GLMachine.h"
#include "app/SceneWindow.h"
#include "formats/MeshFile.h"
#include "formats/SplatWriter.h"
#include "image/Bitmap.h"
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
#include <random>
#include <string>
#include <vector>

namespace {

using sampletools::makeFolders;
using sampletools::programFolder;
using sampletools::run;

const double kPi = 3.14159265358979323846;
const int kViews = 24;
const int kWidth = 512, kHeight = 384;
const double kFocal = 560;
const double kDistance = 15, kElevation = 30; // degrees above the turntable
const float kBackground[3] = {0.80f, 0.84f, 0.88f};
const float kNear = 1, kFar = 100;


int fail(const char *what, const std::string &name)
{
    std::fprintf(stderr, "make_sample_splats: %s %s\n", what, name.c_str());
    return 1;
}

// A view of the turntable: world to camera (x right, y down, z forward) and the centre.
struct View {
    double R[9], t[3], centre[3];
};

View turntableView(int i)
{
    const double a = 2 * kPi * i / kViews, e = kElevation * kPi / 180;
    View v;
    const double c[3] = {kDistance * std::cos(e) * std::cos(a), kDistance * std::cos(e) * std::sin(a),
                         kDistance * std::sin(e)};
    const double z[3] = {-c[0] / kDistance, -c[1] / kDistance, -c[2] / kDistance};
    // x = z cross up (up = +z of the world), y = z cross x: y points down on the image.
    double x[3] = {z[1], -z[0], 0};
    const double xl = std::sqrt(x[0] * x[0] + x[1] * x[1]);
    x[0] /= xl;
    x[1] /= xl;
    const double y[3] = {z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2], z[0] * x[1] - z[1] * x[0]};
    for (int k = 0; k < 3; ++k) {
        v.R[k] = x[k];
        v.R[3 + k] = y[k];
        v.R[6 + k] = z[k];
        v.centre[k] = c[k];
    }
    for (int r = 0; r < 3; ++r)
        v.t[r] = -(v.R[3 * r] * c[0] + v.R[3 * r + 1] * c[1] + v.R[3 * r + 2] * c[2]);
    return v;
}

// The quaternion w x y z of a rotation matrix (row by row).
void quaternion(const double *R, double q[4])
{
    const double tr = R[0] + R[4] + R[8];
    if (tr > 0) {
        const double s = 2 * std::sqrt(tr + 1);
        q[0] = s / 4;
        q[1] = (R[7] - R[5]) / s;
        q[2] = (R[2] - R[6]) / s;
        q[3] = (R[3] - R[1]) / s;
    } else if (R[0] > R[4] && R[0] > R[8]) {
        const double s = 2 * std::sqrt(1 + R[0] - R[4] - R[8]);
        q[0] = (R[7] - R[5]) / s;
        q[1] = s / 4;
        q[2] = (R[1] + R[3]) / s;
        q[3] = (R[2] + R[6]) / s;
    } else if (R[4] > R[8]) {
        const double s = 2 * std::sqrt(1 + R[4] - R[0] - R[8]);
        q[0] = (R[2] - R[6]) / s;
        q[1] = (R[1] + R[3]) / s;
        q[2] = s / 4;
        q[3] = (R[5] + R[7]) / s;
    } else {
        const double s = 2 * std::sqrt(1 + R[8] - R[0] - R[4]);
        q[0] = (R[3] - R[1]) / s;
        q[1] = (R[2] + R[6]) / s;
        q[2] = (R[5] + R[7]) / s;
        q[3] = s / 4;
    }
}

bool writeText(const std::string &path, const std::string &text)
{
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f)
        return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

// Splats on the mesh's triangles, as many per triangle as its area asks, coloured from the
// texture at their texture coordinates. Also returns a few centres and colours for COLMAP.
std::vector<float> surfaceSplats(const MeshData &mesh, const Bitmap &texture, size_t count, std::string &points)
{
    const size_t nt = static_cast<size_t>(mesh.nTriangles);
    std::vector<double> area(nt);
    double total = 0;
    const float *V = mesh.vertices.get();
    const int *T = mesh.triangles.get();
    auto vec = [&](int k) { return &V[3 * static_cast<size_t>(k)]; };
    for (size_t t = 0; t < nt; ++t) {
        const float *a = vec(T[3 * t]), *b = vec(T[3 * t + 1]), *c = vec(T[3 * t + 2]);
        const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
        total += area[t] = 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    }
    const double spacing = std::sqrt(total / static_cast<double>(count));
    std::mt19937 rng(26);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<float> out;
    out.reserve(count * SplatWriter::valuesPerSplat(3));
    const double C0 = 0.28209479177387814;
    double carry = 0;
    size_t made = 0;
    for (size_t t = 0; t < nt && made < count; ++t) {
        carry += area[t] / total * static_cast<double>(count);
        const float *a = vec(T[3 * t]), *b = vec(T[3 * t + 1]), *c = vec(T[3 * t + 2]);
        double e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const double e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
        const double nl = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]), l1 = std::sqrt(e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2]);
        if (nl == 0 || l1 == 0)
            continue;
        for (double &k : n)
            k /= nl;
        for (double &k : e1)
            k /= l1;
        const double e3[3] = {n[1] * e1[2] - n[2] * e1[1], n[2] * e1[0] - n[0] * e1[2], n[0] * e1[1] - n[1] * e1[0]};
        // Columns e1, e3, n: the splat lies flat in the triangle's plane.
        const double R[9] = {e1[0], e3[0], n[0], e1[1], e3[1], n[1], e1[2], e3[2], n[2]};
        double q[4];
        quaternion(R, q);
        for (; carry >= 1 && made < count; carry -= 1, ++made) {
            double s = unit(rng), r = unit(rng);
            if (s + r > 1) {
                s = 1 - s;
                r = 1 - r;
            }
            float p[3];
            for (int k = 0; k < 3; ++k)
                p[k] = static_cast<float>(a[k] + s * (b[k] - a[k]) + r * (c[k] - a[k]));
            float rgb[3] = {0.7f, 0.7f, 0.7f};
            if (mesh.texCoords && texture.getWidth() > 0) {
                const float *uv = &mesh.texCoords[6 * t];
                const double tu = uv[0] + s * (uv[2] - uv[0]) + r * (uv[4] - uv[0]);
                const double tv = uv[1] + s * (uv[3] - uv[1]) + r * (uv[5] - uv[1]);
                const int x = std::min(texture.getWidth() - 1, std::max(0, static_cast<int>(tu * texture.getWidth())));
                const int y = std::min(texture.getHeight() - 1, std::max(0, static_cast<int>(tv * texture.getHeight())));
                const RGB<unsigned char> &px = texture.get(x, y);
                rgb[0] = px.r / 255.f;
                rgb[1] = px.g / 255.f;
                rgb[2] = px.b / 255.f;
            }
            out.insert(out.end(), {p[0], p[1], p[2], static_cast<float>(n[0]), static_cast<float>(n[1]), static_cast<float>(n[2])});
            for (float v : rgb)
                out.push_back(static_cast<float>((v - 0.5) / C0));
            for (int k = 0; k < 45; ++k)
                out.push_back(static_cast<float>(0.03 * (unit(rng) - 0.5)));
            out.push_back(4.f); // opacity about 0.98
            out.insert(out.end(), {static_cast<float>(std::log(0.9 * spacing)), static_cast<float>(std::log(0.9 * spacing)),
                                   static_cast<float>(std::log(0.1 * spacing))});
            out.insert(out.end(), {static_cast<float>(q[0]), static_cast<float>(q[1]), static_cast<float>(q[2]),
                                   static_cast<float>(q[3])});
            if (made % 500 == 0) {
                char line[160];
                std::snprintf(line, sizeof line, "%zu %.6f %.6f %.6f %d %d %d 0.5\n", made / 500 + 1, p[0], p[1], p[2],
                              static_cast<int>(rgb[0] * 255), static_cast<int>(rgb[1] * 255),
                              static_cast<int>(rgb[2] * 255));
                points += line;
            }
        }
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s OUTDIR [SPLATS]\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const long count = argc == 3 ? std::atol(argv[2]) : 300000;
    if (count < 1000 || count > 20000000) {
        std::fprintf(stderr, "%s: between 1000 and 20000000 splats\n", argv[0]);
        return 2;
    }
    const std::string plyFolder = out + "/point_cloud/iteration_30000";
    if (!makeFolders(out + "/model") || !makeFolders(out + "/images") || !makeFolders(out + "/sparse/0") ||
        !makeFolders(plyFolder))
        return fail("can't make the folders of", out);
    const std::string model = out + "/model/scene.tri";
    if (!run({programFolder(argv[0]) + "/make_sample_mesh", model}))
        return fail("can't make the model", model);

    std::string points;
    try {
        const MeshData mesh = MeshFile::readTriangles(model.c_str(), false);
        Bitmap texture;
        texture.loadImage((out + "/model/scene.png").c_str());
        if (!SplatWriter::write(plyFolder + "/point_cloud.ply", 3,
                                surfaceSplats(mesh, texture, static_cast<size_t>(count), points)))
            return fail("can't write", plyFolder + "/point_cloud.ply");
    } catch (const std::exception &e) {
        return fail("can't read the model:", e.what());
    }

    std::string json = "[\n", images, cameras;
    char line[1024];
    std::snprintf(line, sizeof line, "1 PINHOLE %d %d %.6f %.6f %.6f %.6f\n", kWidth, kHeight, kFocal, kFocal,
                  kWidth / 2.0, kHeight / 2.0);
    cameras = line;
    for (int i = 0; i < kViews; ++i) {
        const View v = turntableView(i);
        double q[4];
        quaternion(v.R, q);
        std::snprintf(line, sizeof line, "%d %.12f %.12f %.12f %.12f %.12f %.12f %.12f 1 view%02d.png\n\n", i + 1, q[0],
                      q[1], q[2], q[3], v.t[0], v.t[1], v.t[2], i);
        images += line;
        // The trainer's rotation is camera to world (the transpose), row by row.
        std::snprintf(line, sizeof line,
                      "  {\"id\": %d, \"img_name\": \"view%02d\", \"width\": %d, \"height\": %d, "
                      "\"position\": [%.12f, %.12f, %.12f], \"rotation\": [[%.12f, %.12f, %.12f], [%.12f, %.12f, "
                      "%.12f], [%.12f, %.12f, %.12f]], \"fy\": %.6f, \"fx\": %.6f}%s\n",
                      i, i, kWidth, kHeight, v.centre[0], v.centre[1], v.centre[2], v.R[0], v.R[3], v.R[6], v.R[1],
                      v.R[4], v.R[7], v.R[2], v.R[5], v.R[8], kFocal, kFocal, i + 1 < kViews ? "," : "");
        json += line;
    }
    json += "]\n";
    if (!writeText(out + "/cameras.json", json) || !writeText(out + "/sparse/0/cameras.txt", cameras) ||
        !writeText(out + "/sparse/0/images.txt", images) || !writeText(out + "/sparse/0/points3D.txt", points))
        return fail("can't write the cameras of", out);

    try {
        GLMachine machine(kWidth, kHeight);
        machine.setDrawInfo(false);
        GL3DObject *object = machine.register3DObject(model.c_str());
        GLMeshObject *mesh = dynamic_cast<GLMeshObject *>(object);
        if (!mesh)
            return fail("can't load", model);
        if (mesh->getArrays().texCoords)
            mesh->notifyCommand('3');
        // The projection of the intrinsics: pixel (u, v), v downwards, lands on x = 2u/W - 1,
        // y = 1 - 2v/H.
        float projection[16] = {};
        projection[0] = static_cast<float>(2 * kFocal / kWidth);
        projection[5] = static_cast<float>(2 * kFocal / kHeight);
        projection[10] = (kNear + kFar) / (kNear - kFar);
        projection[11] = -1;
        projection[14] = 2 * kNear * kFar / (kNear - kFar);
        std::vector<unsigned char> colour(static_cast<size_t>(kWidth) * kHeight * 3);
        for (int i = 0; i < kViews; ++i) {
            if (!machine.getWindow()->makeCurrent(false))
                return fail("no OpenGL context for", out);
            const View v = turntableView(i);
            // Eye coordinates: the camera's with y and z turned round.
            float modelview[16] = {};
            const double flip[3] = {1, -1, -1};
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c)
                    modelview[4 * c + r] = static_cast<float>(flip[r] * v.R[3 * r + c]);
                modelview[12 + r] = static_cast<float>(flip[r] * v.t[r]);
            }
            modelview[15] = 1;
            glViewport(0, 0, kWidth, kHeight);
            glClearColor(kBackground[0], kBackground[1], kBackground[2], 1);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glMatrixMode(GL_PROJECTION);
            glLoadMatrixf(projection);
            glMatrixMode(GL_MODELVIEW);
            glLoadIdentity();
            const float headlight[4] = {0, 0, 1, 0};
            glLightfv(GL_LIGHT0, GL_POSITION, headlight);
            glLoadMatrixf(modelview);
            mesh->draw();
            glFinish();
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, colour.data());
            Bitmap photo(kWidth, kHeight);
            for (int y = 0; y < kHeight; ++y)
                std::memcpy(&photo.get(0, y), &colour[static_cast<size_t>(kHeight - 1 - y) * kWidth * 3], kWidth * 3);
            char name[64];
            std::snprintf(name, sizeof name, "/images/view%02d.png", i);
            if (!photo.savePNG((out + name).c_str()))
                return fail("can't write", out + name);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_sample_splats: %s\n", e.what());
        return 1;
    }
    std::printf("%s: %ld splats, %d views of %d x %d pixels\n", out.c_str(), count, kViews, kWidth, kHeight);
    return 0;
}
