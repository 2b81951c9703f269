#include "formats/LasReader.h"
#include "formats/TextCloudReader.h"
#include "math/Messages.h"

#include "support/LasFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testsupport::LasPoint;
using testsupport::lasFile;
using testsupport::kLength;
using testsupport::kRgbAt;
using testsupport::put;

std::vector<LasPoint> samplePoints()
{
    std::vector<LasPoint> points;
    for (int i = 0; i < 50; ++i) {
        const int32_t d = (i * 7919) % 200000 - 100000; // within +-100 m at millimetres
        points.push_back({d, -d / 3 + i, 40000 - i * 13, static_cast<uint16_t>(i * 1000), 1u + i % 5,
                          static_cast<unsigned>(i % 19),
                          {static_cast<uint16_t>(i * 1300), static_cast<uint16_t>(65535 - i * 1300), 32768}});
    }
    return points;
}

PointListData readBytes(const std::string &bytes, bool sizeKnown = true)
{
    std::string copy = bytes;
    FILE *f = fmemopen(&copy[0], copy.size(), "rb");
    struct Closer {
        FILE *f;
        ~Closer() { std::fclose(f); }
    } closer{f};
    return LasReader::read(f, sizeKnown ? static_cast<long long>(copy.size()) : -1, "test.las");
}

// The refusal's text and the error lines it printed.
std::pair<std::string, std::string> refusal(const std::string &bytes)
{
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    try {
        readBytes(bytes);
    } catch (const std::runtime_error &e) {
        return {e.what(), sink.text(MessageLevel::Error)};
    }
    return {"", sink.text(MessageLevel::Error)};
}

int lines(const std::string &text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

} // namespace

TEST(LasReader, EveryFormatReadsBackTheFileCoordinatesAndItems)
{
    const double scale[3] = {0.001, 0.001, 0.01};
    const double offset[3] = {512345.25, 5412345.5, 250.0};
    const std::vector<LasPoint> points = samplePoints();
    struct Case {
        unsigned format, minor, extra;
    };
    for (const Case c : {Case{0, 0, 0}, Case{1, 1, 0}, Case{2, 2, 0}, Case{3, 2, 4}, Case{6, 4, 0}, Case{7, 4, 0},
                         Case{8, 4, 2}, Case{1, 3, 0}}) {
        SCOPED_TRACE("format " + std::to_string(c.format) + ", version 1." + std::to_string(c.minor));
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        const PointListData d = readBytes(lasFile(c.format, c.minor, points, scale, offset, c.extra), c.minor != 3);
        ASSERT_EQ(d.nPoints, static_cast<int>(points.size()));
        // Formats 0 and 2 have no GPS time; extra bytes without descriptors give no item.
        ASSERT_EQ(d.items.size(), c.format == 0 || c.format == 2 ? 3u : 4u);
        EXPECT_EQ(d.items[0].name, "intensity");
        EXPECT_EQ(d.items[1].name, "classification");
        EXPECT_EQ(d.items[2].name, "return number");
        EXPECT_EQ(d.colors != nullptr, kRgbAt[c.format] != 0);
        for (size_t i = 0; i < points.size(); ++i) {
            const LasPoint &p = points[i];
            const int32_t xyz[3] = {p.x, p.y, p.z};
            for (int k = 0; k < 3; ++k) {
                // Float relative to the centre, plus the origin in double: the file's integers.
                const double file = d.points[3 * i + k] + d.origin[k];
                EXPECT_EQ(std::llround((file - offset[k]) / scale[k]), xyz[k]) << i << " " << k;
            }
            EXPECT_EQ(d.items[0].values[i], p.intensity);
            EXPECT_EQ(d.items[1].values[i], p.classification);
            EXPECT_EQ(d.items[2].values[i], p.returnNumber);
            for (int k = 0; d.colors && k < 3; ++k)
                EXPECT_EQ(d.colors[3 * i + k], (p.rgb[k] * 255u + 32767u) / 65535u);
        }
        EXPECT_EQ(d.items[1].hi, 18);
        EXPECT_EQ(d.items[2].lo, 1);
        EXPECT_NEAR(d.origin[0], offset[0], 1000.001);
    }
}

TEST(LasReader, EightBitColoursAreTakenAsTheyAre)
{
    const double scale[3] = {1, 1, 1}, offset[3] = {0, 0, 0};
    std::vector<LasPoint> points = samplePoints();
    for (LasPoint &p : points)
        for (uint16_t &v : p.rgb)
            v = v % 256;
    const PointListData d = readBytes(lasFile(2, 2, points, scale, offset));
    for (size_t i = 0; i < points.size(); ++i)
        EXPECT_EQ(d.colors[3 * i], points[i].rgb[0]);
}

TEST(LasReader, CompressedAndCorruptFilesAreRefusedWithOneLine)
{
    const double scale[3] = {0.01, 0.01, 0.01}, offset[3] = {0, 0, 0};
    const std::string good = lasFile(3, 2, samplePoints(), scale, offset);
    std::string laz = good;
    laz[104] = static_cast<char>(3 | 0x80);
    std::string shortRecords = good;
    put<uint16_t>(shortRecords, 105, 20);
    std::string version = good;
    version[25] = 9;
    std::string format = good;
    format[104] = 11;
    std::string scaleNaN = good;
    put(scaleNaN, 131, std::nan(""));
    std::string offsetPastEnd = good;
    put<uint32_t>(offsetPastEnd, 96, 0x7FFFFFFF);
    struct Case {
        std::string bytes;
        const char *says;
    };
    for (const Case &c : {Case{laz, "compressed, but without the \"laszip encoded\" record that says how"},
                          Case{shortRecords, "too short for point format 3"}, Case{version, "LAS version 1.9"}, Case{format, "point data record format 11"},
                          Case{scaleNaN, "not a number"}, Case{offsetPastEnd, "need more than the file"},
                          Case{good.substr(0, 200), "no complete header"}}) {
        const auto [reason, printed] = refusal(c.bytes);
        EXPECT_NE(reason.find(c.says), std::string::npos) << reason;
        EXPECT_EQ(lines(printed), 1) << printed;
        EXPECT_EQ(printed, "GLPointListObject: " + reason + "\n");
    }

    // The content decides, not the name: an uncompressed file called ".laz" reads.
    const std::string path = testing::TempDir() + "/plain.laz";
    std::ofstream(path, std::ios::binary) << good;
    EXPECT_EQ(LasReader::read(path.c_str()).nPoints, 50);
    EXPECT_TRUE(LasReader::hasSignature(path.c_str()));
    std::ofstream(path) << "1 2 3\n";
    EXPECT_FALSE(LasReader::hasSignature(path.c_str()));
}

TEST(LasReader, AFileCutShortGivesItsWholeRecordsWithAWarning)
{
    const double scale[3] = {0.01, 0.01, 0.01}, offset[3] = {0, 0, 0};
    const std::string good = lasFile(1, 2, samplePoints(), scale, offset);
    std::string tooMany = good;
    put<uint32_t>(tooMany, 107, 51);
    struct Case {
        std::string bytes;
        int points;
        const char *warning;
    };
    for (const Case &c : {Case{good.substr(0, good.size() - 1), 49, "49 of 50 points read"},
                          Case{tooMany, 50, "50 of 51 points read"}, Case{good, 50, nullptr}}) {
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        const PointListData d = readBytes(c.bytes, false);
        EXPECT_EQ(d.nPoints, c.points);
        const std::string warned = sink.text(MessageLevel::Warning);
        if (c.warning)
            EXPECT_EQ(warned, std::string("GLPointListObject: test.las: the file ends inside its points: ") + c.warning + "\n");
        else
            EXPECT_EQ(warned, "");
        // The last whole record is read as it stands.
        EXPECT_FLOAT_EQ(d.points[3 * (c.points - 1)] + static_cast<float>(d.origin[0]),
                        samplePoints()[c.points - 1].x * 0.01f);
    }
}

TEST(TextCloudReader, TheColumnsOfTheFirstPointLineFixTheLayout)
{
    struct Case {
        const char *text;
        int points;
        bool colours;
        bool intensity;
        float lastX;        // relative to the first point
        unsigned char lastRed;
    };
    const Case cases[] = {
        {"# x y z\n1 2 3\n4 5 6\n\n// end\n", 2, false, false, 3, 0},
        {"x,y,z,r,g,b\n1,2,3,255,0,10\r\n2.5,2,3,7,8,9\r\n", 2, true, false, 1.5f, 7},
        {"1 2 3 0 0 1\n2 2 3 0.5 0.5 0.7\n", 2, false, false, 1, 0},      // normals
        {"3\n1 2 3 -200 10 20 30\n1 2 4 100 40 50 60\n9 9 9 0 1 2 3\n", 3, true, true, 8, 1}, // pts
        {"1 2 3 0.25\n1 2 3 0.5 7\n", 2, false, true, 0, 0},
        {"1e6 2 3\n1000001.5\t2\t3\nnot a point\n", 2, false, false, 1.5f, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        const PointListData d = TextCloudReader::read(c.text, std::strlen(c.text), "t.xyz");
        ASSERT_EQ(d.nPoints, c.points);
        EXPECT_EQ(d.colors != nullptr, c.colours);
        EXPECT_EQ(!d.items.empty(), c.intensity);
        EXPECT_FLOAT_EQ(d.points[3 * (c.points - 1)], c.lastX);
        if (c.colours) {
            EXPECT_EQ(d.colors[3 * (c.points - 1)], c.lastRed);
        }
    }
    const char *pts = "2\n0 0 0 -5 1 2 3\n0 0 0 7 1 2 3\n";
    const PointListData d = TextCloudReader::read(pts, std::strlen(pts), "t.pts");
    EXPECT_EQ(d.items[0].lo, -5);
    EXPECT_EQ(d.items[0].hi, 7);
    for (const char *text : {"", "# only\n", "1 2\n3 4\n", "a b c\n"}) {
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        EXPECT_THROW(TextCloudReader::read(text, std::strlen(text), "t.xyz"), std::runtime_error);
        EXPECT_EQ(sink.text(MessageLevel::Error), "GLPointListObject: t.xyz: no line with three numbers (x y z)\n");
    }
}
