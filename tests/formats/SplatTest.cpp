// ctest-label: thread
// Splat scenes: the reader's activations, layouts and refusals, and the CPU rasteriser held to
// a plain reference of the forward rules (one splat at a time, per pixel, in double).
#include "formats/SplatReader.h"
#include "formats/SplatWriter.h"
#include "support/CapturedMessages.h"
#include "synthesis/SplatRaster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <random>
#include <stdexcept>

namespace {

// One splat as the file holds it (before activation), f_rest channel by channel.
struct Raw {
    double pos[3], dc[3], rest[45], opacity, scale[3], rot[4];
};

std::vector<float> fileValues(const std::vector<Raw> &splats, int degree)
{
    const int nr = 3 * ((degree + 1) * (degree + 1) - 1);
    std::vector<float> v;
    for (const Raw &s : splats) {
        v.insert(v.end(), {float(s.pos[0]), float(s.pos[1]), float(s.pos[2]), 0, 0, 1});
        v.insert(v.end(), {float(s.dc[0]), float(s.dc[1]), float(s.dc[2])});
        for (int k = 0; k < nr; ++k)
            v.push_back(float(s.rest[k]));
        v.insert(v.end(), {float(s.opacity), float(s.scale[0]), float(s.scale[1]), float(s.scale[2])});
        v.insert(v.end(), {float(s.rot[0]), float(s.rot[1]), float(s.rot[2]), float(s.rot[3])});
    }
    return v;
}

std::string plyBytes(const std::vector<Raw> &splats, int degree)
{
    const std::vector<float> v = fileValues(splats, degree);
    std::string bytes = SplatWriter::header(splats.size(), degree);
    bytes.append(reinterpret_cast<const char *>(v.data()), 4 * v.size()); // tests run little-endian
    return bytes;
}

SplatScene readBytes(const std::string &bytes)
{
    return SplatReader::read(bytes.data(), bytes.size(), "test.ply");
}

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

// A few thousand splats in front of the camera, some beyond the image's border and some
// across the near plane (camera centre at z = -4, near plane about z = -3.8).
std::vector<Raw> randomScene(int count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<Raw> splats(static_cast<size_t>(count));
    for (size_t k = 0; k < splats.size(); ++k) {
        Raw &s = splats[k];
        const int kind = static_cast<int>(k % 10);
        if (kind == 0) { // around the near plane, big on screen
            s.pos[0] = 0.3 * u(rng);
            s.pos[1] = 0.3 * u(rng);
            s.pos[2] = -3.75 + 0.1 * u(rng);
        } else if (kind == 1) { // across the image border
            s.pos[0] = (u(rng) > 0 ? 1 : -1) * (2.6 + 0.5 * u(rng));
            s.pos[1] = 1.5 * u(rng);
            s.pos[2] = 0.8 * u(rng);
        } else {
            for (double &p : s.pos)
                p = 1.2 * u(rng);
        }
        for (double &d : s.dc)
            d = 1.2 * u(rng);
        for (double &r : s.rest)
            r = 0.25 * u(rng);
        s.opacity = 3 * u(rng);
        for (double &sc : s.scale)
            sc = std::log(0.02 + 0.05 * (u(rng) + 1)) + (kind == 0 ? -1.5 : 0);
        for (double &q : s.rot)
            q = u(rng);
    }
    return splats;
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
        for (int threads : {1, 2}) {
            SplatRasterOptions options;
            options.threads = threads;
            const SplatImage image = SplatRaster::render(scene, cam, options);
            const double p = psnr(reference(splats, degree, degree, cam, 0.25), image.composite(bg));
            EXPECT_GE(p, 45) << threads << " threads";
        }
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

TEST(SplatReader, ActivatesAndReordersTheCoefficients)
{
    Raw s = {{1, 2, 3}, {0, 0.5, 0}, {}, 0, {0, std::log(2.0), -1}, {0, 3, 0, 4}};
    for (int k = 0; k < 45; ++k)
        s.rest[k] = 0.01 * k;
    const SplatScene scene = readBytes(plyBytes({s, s}, 3));
    ASSERT_EQ(scene.count, 2u);
    EXPECT_FLOAT_EQ(scene.opacity[1], 0.5f);
    EXPECT_FLOAT_EQ(scene.scale[4], 2.f);
    EXPECT_FLOAT_EQ(scene.scale[5], std::exp(-1.f));
    EXPECT_FLOAT_EQ(scene.rotation[5], 0.6f);
    EXPECT_FLOAT_EQ(scene.rotation[7], 0.8f);
    EXPECT_FLOAT_EQ(scene.position[5], 3.f);
    // Coefficient k of channel ch is file property ch * 15 + k - 1, stored as (k - 1) * 3 + ch.
    const uint16_t *r = scene.rest.data() + 45;
    for (int k = 1; k < 16; ++k)
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_NEAR(halfToFloat(r[(k - 1) * 3 + ch]), 0.01 * (ch * 15 + k - 1), 5e-4) << k << " " << ch;
}

// The same splat in other layouts: property order, extra properties, types, byte order.
TEST(SplatReader, ReadsEveryLayoutAlike)
{
    const char *names[] = {"x", "y", "z", "f_dc_0", "f_dc_1", "f_dc_2", "f_rest_0", "f_rest_1", "f_rest_2",
                           "f_rest_3", "f_rest_4", "f_rest_5", "f_rest_6", "f_rest_7", "f_rest_8",
                           "opacity", "scale_0", "scale_1", "scale_2", "rot_0", "rot_1", "rot_2", "rot_3"};
    const double values[] = {1, -2, 3, 0.5, -1, 2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 0, -1, 1, 1, 0, 0, 0};
    const struct {
        const char *format;
        const char *type;
        bool bigEndian, reversed, extra;
    } layouts[] = {{"binary_little_endian", "float", false, false, false},
                   {"binary_little_endian", "double", false, true, true},
                   {"binary_big_endian", "float", true, true, false},
                   {"binary_big_endian", "short", true, false, true},
                   {"ascii", "float", false, true, true},
                   {"ascii", "double", false, false, false}};
    std::vector<float> expected;
    for (const auto &l : layouts) {
        SCOPED_TRACE(std::string(l.format) + " " + l.type);
        std::vector<int> order(23);
        std::iota(order.begin(), order.end(), 0);
        if (l.reversed)
            std::reverse(order.begin(), order.end());
        const bool ascii = std::string(l.format) == "ascii";
        std::string text = std::string("ply\nformat ") + l.format + " 1.0\n";
        if (ascii) // an element with a list before the vertices, stepped over
            text += "element extra 2\nproperty list uchar float k\nproperty int id\n";
        text += "element vertex 1\n";
        if (l.extra)
            text += "property uchar nx\n";
        for (int k : order)
            text += std::string("property ") + l.type + " " + names[k] + "\n";
        text += "end_header\n";
        if (ascii) {
            text += "2 0.5 -1e3 7\n0 8\n";
            if (l.extra)
                text += "127 ";
            for (int k : order) {
                char number[32];
                std::snprintf(number, sizeof number, " %.17g", values[k]);
                text += number;
            }
            text += "\n";
        }
        if (l.extra && !ascii)
            text.push_back('\x7f');
        for (int k : ascii ? std::vector<int>() : order) {
            unsigned char b[8];
            size_t n;
            if (std::string(l.type) == "double") {
                n = 8;
                std::memcpy(b, &values[k], 8);
            } else if (std::string(l.type) == "float") {
                n = 4;
                const float f = static_cast<float>(values[k]);
                std::memcpy(b, &f, 4);
            } else {
                n = 2;
                const int16_t v = static_cast<int16_t>(values[k]);
                std::memcpy(b, &v, 2);
            }
            if (l.bigEndian)
                std::reverse(b, b + n);
            text.append(reinterpret_cast<const char *>(b), n);
        }
        const SplatScene scene = readBytes(text);
        ASSERT_EQ(scene.count, 1u);
        EXPECT_EQ(scene.shDegree, 1);
        std::vector<float> got = scene.position;
        for (const auto *v : {&scene.dc, &scene.opacity, &scene.scale, &scene.rotation})
            got.insert(got.end(), v->begin(), v->end());
        for (uint16_t h : scene.rest)
            got.push_back(halfToFloat(h));
        if (std::string(l.type) == "short") { // integers: only the whole values survive
            EXPECT_FLOAT_EQ(got[0], 1.f);
            EXPECT_FLOAT_EQ(got[14], 1.f); // rot w
            continue;
        }
        if (expected.empty())
            expected = got;
        else
            EXPECT_EQ(got, expected);
    }
}

TEST(SplatReader, RefusesWhatIsNoSplatScene)
{
    const std::string good = plyBytes(randomScene(2, 1), 1);
    auto withHeader = [&](const std::string &from, const std::string &to) {
        std::string b = good;
        b.replace(b.find(from), from.size(), to);
        return b;
    };
    const struct {
        std::string bytes;
        const char *reason;
    } cases[] = {
        {withHeader("property float f_rest_8\n", ""), "8 f_rest properties"},
        {withHeader("property float opacity\n", ""), "\"opacity\""},
        {withHeader("binary_little_endian", "ascii"), "not a number"}, // binary values read as text
        {withHeader("element vertex 2", "element vertex 3"), "3 splats do not fit"},
        {withHeader("f_rest_8", "f_rest_9"), "not numbered"},
        {withHeader("f_rest_8", "f_rest_7"), "twice"},
        {withHeader("property float x\n", "property list uchar int x\n"), "list"},
        {good.substr(0, 40), "PLY: "},
    };
    for (const auto &c : cases) {
        try {
            readBytes(c.bytes);
            ADD_FAILURE() << c.reason;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("PLY: ", 0), 0u) << e.what();
        }
    }
}

TEST(SplatReader, SkipsBrokenSplatsWithOneWarning)
{
    std::vector<Raw> splats = randomScene(6, 3);
    std::fill(splats[1].rot, splats[1].rot + 4, 0.0);
    splats[3].pos[1] = NAN;
    splats[4].scale[2] = 12; // e^12 is beyond any sane scene
    testsupport::CapturedMessages captured;
    const SplatScene scene = readBytes(plyBytes(splats, 2));
    const std::string text = captured.take();
    EXPECT_EQ(scene.count, 3u);
    EXPECT_EQ(scene.skipped, 3u);
    EXPECT_EQ(scene.rest.size(), 3u * 24);
    EXPECT_FLOAT_EQ(scene.position[3], static_cast<float>(splats[2].pos[0]));
    EXPECT_NE(text.find("test.ply: 3 splats skipped"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

TEST(SplatReader, ReadsFromAFileAsFromMemory)
{
    std::vector<Raw> splats = randomScene(40000, 5); // more than one block, read in halves
    // Skipped splats in the first half of a block and of the whole file: the second halves move down.
    std::fill(splats[10].rot, splats[10].rot + 4, 0.0);
    splats[30000].opacity = NAN;
    // Halves of a subnormal, a tie, the largest value and one beyond it, rounded as floatToHalf does.
    const double awkward[] = {1e-6, 1.00048828125, 1.00146484375, 65519, 70000, -3e-8};
    std::copy(std::begin(awkward), std::end(awkward), splats[1].rest);
    std::filesystem::create_directories(VELMORA_TEMP_DIR);
    const std::string path = std::string(VELMORA_TEMP_DIR) + "/splat_read_test.ply";
    ASSERT_TRUE(SplatWriter::write(path, 2, fileValues(splats, 2)));
    EXPECT_TRUE(SplatReader::isSplatFile(path.c_str()));
    testsupport::CapturedMessages quiet;
    const SplatScene a = SplatReader::read(path.c_str());
    std::FILE *f = std::fopen(path.c_str(), "rb");
    std::string bytes(static_cast<size_t>(std::fseek(f, 0, SEEK_END) == 0 ? std::ftell(f) : 0), '\0');
    std::rewind(f);
    ASSERT_EQ(std::fread(&bytes[0], 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    const SplatScene b = readBytes(bytes);
    EXPECT_EQ(a.count, 39998u);
    EXPECT_EQ(b.count, 39998u);
    for (size_t k : {9, 10, 29998, 29999, 39997})
        EXPECT_FLOAT_EQ(a.position[3 * k], static_cast<float>(splats[k + (k >= 10) + (k >= 29999)].pos[0])) << k;
    EXPECT_EQ(a.position, b.position);
    EXPECT_EQ(a.rest, b.rest);
    EXPECT_EQ(a.rotation, b.rotation);
    EXPECT_EQ(a.bytes(), 39998u * (4 * 14 + 2 * 24));
    for (size_t k = 0; k < 10; ++k)
        for (size_t c = 0; c < 8; ++c)
            for (size_t ch = 0; ch < 3; ++ch)
                ASSERT_EQ(a.rest[24 * k + 3 * c + ch], floatToHalf(static_cast<float>(splats[k].rest[ch * 8 + c])))
                    << k << " " << c << " " << ch;
}

} // namespace
