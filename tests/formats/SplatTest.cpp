// ctest-label: thread
// Splat scenes: the reader's activations, layouts and refusals.
#include "formats/SplatFile.h"
#include "formats/SplatReader.h"
#include "formats/SplatWriter.h"
#include "support/CapturedMessages.h"
#include "support/SplatFiles.h"

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

using namespace testsupport::splatfiles;

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
    // Coefficient k of channel ch is file property ch * 15 + k - 1, stored as (k - 1) * 3 + ch,
    // in steps of the largest, 0.44, over 127.
    const std::vector<float> r = restValues(scene, 1);
    for (int k = 1; k < 16; ++k)
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_NEAR(r[static_cast<size_t>((k - 1) * 3 + ch)], 0.01 * (ch * 15 + k - 1), 0.44 / 254) << k << " " << ch;
    EXPECT_NEAR(r[44], 0.44f, 1e-5);
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
        for (float v : restValues(scene, 0))
            got.push_back(v);
        if (std::string(l.type) == "short") { // integers: only the whole values survive
            EXPECT_FLOAT_EQ(got[0], 1.f);
            EXPECT_FLOAT_EQ(got[10], 1.f); // rot w
            continue;
        }
        if (expected.empty())
            expected = got;
        else
            EXPECT_EQ(got, expected);
    }
}

// The training mode by the header comments its trainers document, the last one winning; the
// converter's file, and ours, say it as Brush does.
TEST(SplatReader, ReadsTheTrainingModeFromTheHeaderComments)
{
    const struct {
        const char *comments;
        bool antialiased;
    } cases[] = {{"comment SplatRenderMode: mip\n", true},          {"comment SplatRenderMode: default\n", false},
                 {"comment postshot.anti_aliasing=1\n", true},      {"comment antialiased 1\n", true},
                 {"comment antialiased 1\ncomment SplatRenderMode: 2dgs\n", false}, {"comment antialiasedness 1\n", false}};
    std::string ply = plyBytes(randomScene(3, 2), 0);
    for (const auto &c : cases) {
        std::string text = ply;
        text.insert(text.find("element"), c.comments);
        EXPECT_EQ(readBytes(text).antialiased, c.antialiased) << c.comments;
    }
    SplatScene scene = SplatReader::read(testsupport::splatData("converter_mip.ply").c_str());
    EXPECT_TRUE(scene.antialiased);
    const std::string path = std::string(VELMORA_TEMP_DIR) + "/splat_mip.ply";
    std::filesystem::create_directories(VELMORA_TEMP_DIR);
    ASSERT_TRUE(SplatWriter::write(path, scene));
    EXPECT_TRUE(SplatReader::read(path.c_str()).antialiased);
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
    // Terms from 1e-8 to 70000 in one splat: in steps of its largest.
    const double awkward[] = {1e-8, 1.00048828125, 65519, 70000, -3e-8};
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
    EXPECT_EQ(a.restStep, b.restStep);
    EXPECT_EQ(a.rotation, b.rotation);
    EXPECT_EQ(a.bytes(), 39998u * (4 * 15 + 24));
    for (size_t k = 0; k < 10; ++k) {
        const std::vector<float> r = restValues(a, k);
        for (size_t c = 0; c < 8; ++c)
            for (size_t ch = 0; ch < 3; ++ch)
                ASSERT_NEAR(r[3 * c + ch], splats[k].rest[ch * 8 + c], a.restStep[k] / 2) << k << " " << c << " " << ch;
    }
    EXPECT_NEAR(restValues(a, 1)[9], 70000.f, 70000 / 65536.f); // file term 3: coefficient 3 of red
}

// What a reader made of a file goes back to a file that reads as the same floats, through a
// temporary name that does not stay behind.
TEST(SplatWriter, WritesAScenePlyThatReadsBackExactly)
{
    std::filesystem::create_directories(VELMORA_TEMP_DIR);
    const std::string path = std::string(VELMORA_TEMP_DIR) + "/splat_write_test.ply";
    for (int degree = 0; degree <= 3; ++degree) {
        SCOPED_TRACE(degree);
        std::vector<Raw> raw = randomScene(3000, 11 + degree);
        raw[0].opacity = 14; // near where the logit of a float runs out
        raw[1].opacity = -14;
        const SplatScene scene = readBytes(plyBytes(raw, degree));
        ASSERT_TRUE(SplatWriter::write(path, scene));
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
        const SplatScene back = SplatReader::read(path.c_str());
        ASSERT_EQ(back.count, scene.count);
        EXPECT_EQ(back.position, scene.position);
        EXPECT_EQ(back.opacity, scene.opacity);
        EXPECT_EQ(back.scale, scene.scale);
        EXPECT_EQ(back.rotation, scene.rotation);
        EXPECT_EQ(back.dc, scene.dc);
        EXPECT_EQ(back.rest, scene.rest);
        EXPECT_EQ(back.restStep, scene.restStep);
    }
    EXPECT_FALSE(SplatWriter::write(std::string(VELMORA_TEMP_DIR) + "/no/such/folder/s.ply", readBytes(plyBytes(randomScene(2, 1), 0))));
}

// What "Save splats as..." writes: the splats above the opacity floor, moved by the pose.
TEST(SplatFile, ShowsTheSceneAsTheViewDoes)
{
    const SplatScene scene = readBytes(plyBytes(randomScene(200, 21), 1));
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const SplatScene same = SplatFile::shown(scene, identity, 0);
    EXPECT_EQ(same.position, scene.position);
    EXPECT_EQ(same.rotation, scene.rotation);
    EXPECT_EQ(same.rest, scene.rest);
    EXPECT_EQ(same.restStep, scene.restStep);
    // A quarter turn about z, twice as large, moved by (1, 2, 3); the floor at one half.
    const float pose[16] = {0, 2, 0, 0, -2, 0, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1};
    const SplatScene moved = SplatFile::shown(scene, pose, 0.5);
    size_t k = 0;
    for (size_t i = 0; i < scene.count; ++i) {
        if (scene.opacity[i] < 0.5)
            continue;
        ASSERT_LT(k, moved.count);
        const float *p = &scene.position[3 * i], *q = &moved.position[3 * k];
        EXPECT_NEAR(q[0], 1 - 2 * p[1], 1e-5);
        EXPECT_NEAR(q[1], 2 + 2 * p[0], 1e-5);
        EXPECT_NEAR(q[2], 3 + 2 * p[2], 1e-5);
        EXPECT_FLOAT_EQ(moved.scale[3 * k + 1], 2 * scene.scale[3 * i + 1]);
        // The splat's axes turn with it: its rotation is the pose's times its own.
        const float *a = &scene.rotation[4 * i], *b = &moved.rotation[4 * k];
        const double h = M_SQRT1_2;
        EXPECT_NEAR(b[0], h * (a[0] - a[3]), 1e-5);
        EXPECT_NEAR(b[3], h * (a[3] + a[0]), 1e-5);
        ++k;
    }
    EXPECT_EQ(k, moved.count);
    const float mirror[16] = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const float stretch[16] = {1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    EXPECT_THROW(SplatFile::shown(scene, mirror, 0), std::runtime_error);
    EXPECT_THROW(SplatFile::shown(scene, stretch, 0), std::runtime_error);
}

} // namespace
