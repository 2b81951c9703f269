// ctest-label: thread
// The CPU rasteriser of splat scenes held to a plain reference of the forward rules (one
// splat at a time, per pixel, in double).
#include "support/SplatFiles.h"
#include "synthesis/SplatRaster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using namespace testsupport::splatfiles;

// The forward rules, written plainly from the raw file values.
// `fileDegree` says how the coefficients are laid out, `degree` how many are used.
std::vector<double> reference(const std::vector<Raw> &splats, int fileDegree, int degree, const SplatCamera &cam,
                              double bg)
{
    const int W = cam.width, H = cam.height;
    struct Ready {
        double depth, mx, my, r, inv[3], opacity, colour[3];
    };
    std::vector<Ready> ready;
    const double C2[5] = {1.0925484305920792, -1.0925484305920792, 0.31539156525252005, -1.0925484305920792,
                          0.5462742152960396};
    const double C3[7] = {-0.5900435899266435, 2.890611442640554, -0.4570457994644658, 0.3731763325901154,
                          -0.4570457994644658, 1.445305721320277, -0.5900435899266435};
    for (const Raw &s : splats) {
        const double *R = cam.R;
        double t[3];
        for (int i = 0; i < 3; ++i)
            t[i] = R[3 * i] * s.pos[0] + R[3 * i + 1] * s.pos[1] + R[3 * i + 2] * s.pos[2] + cam.t[i];
        if (t[2] <= 0.2)
            continue;
        const double qn = std::sqrt(s.rot[0] * s.rot[0] + s.rot[1] * s.rot[1] + s.rot[2] * s.rot[2] + s.rot[3] * s.rot[3]);
        const double w = s.rot[0] / qn, x = s.rot[1] / qn, y = s.rot[2] / qn, z = s.rot[3] / qn;
        const double Rq[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                                 {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                                 {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
        double S[3][3] = {};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    S[i][j] += Rq[i][k] * std::exp(2 * s.scale[k]) * Rq[j][k];
        const double lx = 1.3 * W / (2 * cam.fx), ly = 1.3 * H / (2 * cam.fy);
        const double cx = std::clamp(t[0] / t[2], -lx, lx) * t[2], cy = std::clamp(t[1] / t[2], -ly, ly) * t[2];
        const double J[2][3] = {{cam.fx / t[2], 0, -cam.fx * cx / (t[2] * t[2])},
                                {0, cam.fy / t[2], -cam.fy * cy / (t[2] * t[2])}};
        double JW[2][3] = {};
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    JW[i][j] += J[i][k] * R[3 * k + j];
        double C[2][2] = {};
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j)
                for (int k = 0; k < 3; ++k)
                    for (int l = 0; l < 3; ++l)
                        C[i][j] += JW[i][k] * S[k][l] * JW[j][l];
        C[0][0] += 0.3;
        C[1][1] += 0.3;
        const double det = C[0][0] * C[1][1] - C[0][1] * C[1][0];
        if (det == 0)
            continue;
        Ready r;
        r.depth = t[2];
        r.mx = cam.fx * t[0] / t[2] + cam.cx;
        r.my = cam.fy * t[1] / t[2] + cam.cy;
        const double mid = (C[0][0] + C[1][1]) / 2;
        r.r = std::ceil(3 * std::sqrt(mid + std::sqrt(std::max(0.0, mid * mid - det))));
        r.inv[0] = C[1][1] / det;
        r.inv[1] = -C[0][1] / det;
        r.inv[2] = C[0][0] / det;
        r.opacity = 1 / (1 + std::exp(-s.opacity));
        // camera centre -R^T t
        double d[3];
        for (int i = 0; i < 3; ++i)
            d[i] = s.pos[i] + (R[i] * cam.t[0] + R[3 + i] * cam.t[1] + R[6 + i] * cam.t[2]);
        const double dl = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        const double X = d[0] / dl, Y = d[1] / dl, Z = d[2] / dl;
        const double basis[16] = {0.28209479177387814,
                                  -0.4886025119029199 * Y,
                                  0.4886025119029199 * Z,
                                  -0.4886025119029199 * X,
                                  C2[0] * X * Y,
                                  C2[1] * Y * Z,
                                  C2[2] * (2 * Z * Z - X * X - Y * Y),
                                  C2[3] * X * Z,
                                  C2[4] * (X * X - Y * Y),
                                  C3[0] * Y * (3 * X * X - Y * Y),
                                  C3[1] * X * Y * Z,
                                  C3[2] * Y * (4 * Z * Z - X * X - Y * Y),
                                  C3[3] * Z * (2 * Z * Z - 3 * X * X - 3 * Y * Y),
                                  C3[4] * X * (4 * Z * Z - X * X - Y * Y),
                                  C3[5] * Z * (X * X - Y * Y),
                                  C3[6] * X * (X * X - 3 * Y * Y)};
        const int nc = (degree + 1) * (degree + 1), stride = (fileDegree + 1) * (fileDegree + 1) - 1;
        for (int ch = 0; ch < 3; ++ch) {
            double c = basis[0] * s.dc[ch];
            for (int k = 1; k < nc; ++k)
                c += basis[k] * s.rest[ch * stride + (k - 1)];
            r.colour[ch] = std::max(0.0, c + 0.5);
        }
        ready.push_back(r);
    }
    std::stable_sort(ready.begin(), ready.end(), [](const Ready &a, const Ready &b) { return a.depth < b.depth; });
    std::vector<double> img(3 * static_cast<size_t>(W * H));
    for (int j = 0; j < H; ++j)
        for (int i = 0; i < W; ++i) {
            const double px = i + 0.5, py = j + 0.5;
            double col[3] = {0, 0, 0}, T = 1;
            for (const Ready &r : ready) {
                if (std::fabs(px - r.mx) > r.r || std::fabs(py - r.my) > r.r)
                    continue;
                const double dx = px - r.mx, dy = py - r.my;
                const double q = r.inv[0] * dx * dx + 2 * r.inv[1] * dx * dy + r.inv[2] * dy * dy;
                const double alpha = std::min(0.99, r.opacity * std::exp(-0.5 * q));
                if (alpha < 1 / 255.0)
                    continue;
                if (T * (1 - alpha) < 0.0001)
                    break;
                for (int ch = 0; ch < 3; ++ch)
                    col[ch] += r.colour[ch] * alpha * T;
                T *= 1 - alpha;
            }
            for (int ch = 0; ch < 3; ++ch)
                img[3 * static_cast<size_t>(j * W + i) + static_cast<size_t>(ch)] = std::clamp(col[ch] + T * bg, 0.0, 1.0);
        }
    return img;
}

double psnr(const std::vector<double> &a, const std::vector<float> &b)
{
    double se = 0;
    for (size_t k = 0; k < a.size(); ++k)
        se += (a[k] - b[k]) * (a[k] - b[k]);
    return se == 0 ? 1e9 : 10 * std::log10(a.size() / se);
}

// A camera at (0, 0, -4) looking along +z, turned a little so that R is not trivial.
SplatCamera testCamera(int W, int H)
{
    SplatCamera cam;
    const double a = 0.2, c = std::cos(a), s = std::sin(a);
    const double R[9] = {c, 0, -s, 0, 1, 0, s, 0, c};
    std::copy(R, R + 9, cam.R);
    // Centre (0.3, -0.2, -4): t = -R centre.
    const double centre[3] = {0.3, -0.2, -4};
    for (int i = 0; i < 3; ++i)
        cam.t[i] = -(R[3 * i] * centre[0] + R[3 * i + 1] * centre[1] + R[3 * i + 2] * centre[2]);
    cam.width = W;
    cam.height = H;
    cam.fx = 70;
    cam.fy = 75;
    cam.cx = W / 2.0 + 1.3;
    cam.cy = H / 2.0 - 0.7;
    return cam;
}

TEST(SplatRaster, HoldsToTheReferenceAtEveryDegree)
{
    const int W = 96, H = 72;
    const SplatCamera cam = testCamera(W, H);
    for (int degree = 0; degree <= 3; ++degree) {
        SCOPED_TRACE(degree);
        const std::vector<Raw> splats = randomScene(3000, 7u + static_cast<unsigned>(degree));
        const SplatScene scene = readBytes(plyBytes(splats, degree));
        ASSERT_EQ(scene.count, splats.size());
        ASSERT_EQ(scene.shDegree, degree);
        const float bg[3] = {0.25f, 0.25f, 0.25f};
        SplatImage whole;
        for (int threads : {1, 2}) {
            SplatRasterOptions options;
            options.threads = threads;
            const SplatImage image = SplatRaster::render(scene, cam, options);
            const double p = psnr(reference(splats, degree, degree, cam, 0.25), image.composite(bg));
            EXPECT_GE(p, 45) << threads << " threads";
            whole = image;
        }
        // In batches of a few hundred splats, front to back: the very same picture.
        SplatRasterOptions batches;
        batches.batch = 300;
        const SplatImage batched = SplatRaster::render(scene, cam, batches);
        EXPECT_EQ(batched.colour, whole.colour);
        EXPECT_EQ(batched.transmittance, whole.transmittance);
        EXPECT_EQ(batched.depth, whole.depth);
        EXPECT_EQ(batched.drawn, whole.drawn);
        // A lower degree than the file's draws as the file cut to that degree.
        if (degree == 3) {
            SplatRasterOptions options;
            options.shDegree = 1;
            const double p = psnr(reference(splats, 3, 1, cam, 0.25), SplatRaster::render(scene, cam, options).composite(bg));
            EXPECT_GE(p, 45);
        }
    }
}

TEST(SplatRaster, SingleIsotropicSplatHasItsPeakAlphaAndRadius)
{
    // On the axis, fx s / z = 10 pixels: sigma^2 = 100.3, radius ceil(3 sqrt(100.3)) = 31.
    // At 32 pixels the splat would still be above 1/255: only the radius stops it there.
    const struct {
        double logit, peak;
    } cases[] = {{std::log(0.95 / 0.05), 0.95}, {8.0, 0.99}};
    for (const auto &c : cases) {
        Raw s = {};
        s.pos[2] = 5;
        s.dc[0] = 1;
        s.opacity = c.logit;
        for (double &sc : s.scale)
            sc = std::log(0.5);
        s.rot[0] = 2;
        const SplatScene scene = readBytes(plyBytes({s}, 0));
        SplatCamera cam;
        cam.width = cam.height = 128;
        cam.fx = cam.fy = 100;
        cam.cx = cam.cy = 64.5;
        SplatFootprint f;
        ASSERT_TRUE(SplatRaster::footprint(scene, 0, cam, SplatRasterOptions(), f));
        EXPECT_EQ(f.radius, 31);
        EXPECT_DOUBLE_EQ(f.mx, 64.5);
        const SplatImage image = SplatRaster::render(scene, cam, SplatRasterOptions());
        auto alpha = [&](int x, int y) { return 1 - image.transmittance[static_cast<size_t>(y * 128 + x)]; };
        EXPECT_NEAR(alpha(64, 64), c.peak, 1e-6);
        for (int sign : {-1, 1}) {
            EXPECT_GT(alpha(64 + sign * 31, 64), 1 / 255.0);
            EXPECT_EQ(alpha(64 + sign * 32, 64), 0);
            EXPECT_GT(alpha(64, 64 + sign * 31), 1 / 255.0);
            EXPECT_EQ(alpha(64, 64 + sign * 32), 0);
        }
    }
}

// Mip-filtered training: the dilation of 0.3 pixels squared adds no opacity. An isotropic
// splat of sigma pixels keeps sigma^2 / (sigma^2 + 0.3) of it: almost all when large, little
// when it is thinner than a pixel.
TEST(SplatRaster, AntialiasedScenesLoseTheOpacityOfTheDilation)
{
    for (double sigma : {10.0, 0.5, 0.05}) {
        Raw s = {};
        s.pos[2] = 5;
        s.opacity = 3;
        for (double &sc : s.scale)
            sc = std::log(sigma * 5 / 100);
        s.rot[0] = 1;
        const SplatScene scene = readBytes(plyBytes({s}, 0));
        SplatCamera cam;
        cam.width = cam.height = 64;
        cam.fx = cam.fy = 100;
        cam.cx = cam.cy = 32;
        SplatRasterOptions on;
        on.antialiased = true;
        SplatFootprint plain, compensated;
        ASSERT_TRUE(SplatRaster::footprint(scene, 0, cam, SplatRasterOptions(), plain));
        ASSERT_TRUE(SplatRaster::footprint(scene, 0, cam, on, compensated));
        EXPECT_NEAR(compensated.opacity / plain.opacity, sigma * sigma / (sigma * sigma + 0.3), 1e-5) << sigma;
        EXPECT_EQ(compensated.radius, plain.radius);
    }
}

} // namespace
