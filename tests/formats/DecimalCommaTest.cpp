// The readers of text take "0.5" as a half whatever locale the process runs in: a program
// that never sets its numbers to "C" (the off-screen renderer, a tool) runs in the user's.
#include "formats/CameraFile.h"
#include "formats/CameraState.h"
#include "formats/PlyReader.h"
#include "formats/SequenceFiles.h"
#include "formats/SplatReader.h"
#include "formats/SplatWriter.h"
#include "formats/TextScanner.h"
#include "formats/VolumeReader.h"
#include "math/Position.h"
#include "support/CapturedMessages.h"
#include "support/DecimalComma.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

namespace {

TEST(DecimalComma, TextIsReadAsInTheCLocale)
{
    const std::string dir = testsupport::makeTempDir("DecimalComma");
    const auto file = [&](const char *name, const std::string &text) {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
        return dir + "/" + name;
    };
    std::string splat = SplatWriter::header(1, 0) + "0.5 0 0 0 0 1 0 0 0 0 0 0 0 1 0 0 0\n";
    splat.replace(splat.find("binary_little_endian"), 20, "ascii");
    const std::string cloud = "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
                              "property float z\nend_header\n0.5 1 2\n";
    const std::string one = "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\n";
    const std::string state = file("state", one + one + "0 0 64 48\n0.5 0\n2\n0.1 100\n");
    const std::string cameras = file("cameras", "V4.0\n64 48\n32 24\n50 50\n1\n1 0 0 0.5\n0 1 0 0\n0 0 1 2\n");
    const std::string contour = file("contour.txt", "0.5 1.5\n");
    const std::string dim = "1 1 1\n-type U8\n-dx 0.5 -dy 1 -dz 1\n";
    char sample[1] = {7}, position[] = "0.5 0 0 0 0 0 0 1 0 0\n";
    const struct {
        const char *reader;
        std::function<double()> half; // the first number of a text that begins with 0.5
    } cases[] = {
        {"splat scene", [&] { return SplatReader::read(splat.data(), splat.size(), "s.ply").position.at(0); }},
        {"PLY cloud", [&] { return PlyReader::read(cloud.data(), cloud.size(), "").points.points[0]; }},
        {"text scanner", [&] { double v = 0; return TextScanner(position, position + 3).cReal(v) ? v : 0; }},
        {"camera state", [&] { CameraState s; return CameraState::read(state.c_str(), s) ? s.pan.x : 0; }},
        {"camera file", [&] { CameraFile f; f.read(cameras.c_str()); return f.t.at(0).x; }},
        {"contour",
         [&] {
             std::vector<Point2> p;
             return sequence::readContourPoints(contour.c_str(), 0, 1, p) ? p.at(0).x : 0;
         }},
        {"volume header",
         [&] {
             FILE *ima = fmemopen(sample, 1, "rb");
             const float v = VolumeReader::readIMA(dim.data(), dim.size(), ima, 1, "v.ima").voxelSize[0];
             std::fclose(ima);
             return v;
         }},
        {"position",
         [&] {
             FILE *f = fmemopen(position, sizeof position - 1, "r");
             Position p;
             const bool read = Position::read(f, p);
             std::fclose(f);
             return read ? p.rotation.w : 0;
         }},
    };
    testsupport::DecimalComma comma;
    if (!comma.active())
        GTEST_SKIP() << comma.why;
    for (const auto &c : cases) {
        testsupport::CapturedMessages quiet;
        EXPECT_EQ(c.half(), 0.5) << c.reader;
    }
}

} // namespace
