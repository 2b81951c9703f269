#include "formats/SequenceFiles.h"
#include "math/Messages.h"
#include "formats/Sil.h"

#include "camera/CameraTestFiles.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using cameratest::writeFile;
using testsupport::makeTempDir;

namespace {

// A Sil file as bytes: header fields in this machine's order unless `swap` reverses them.
std::string silBytes(char coding, int32_t w, int32_t h, int32_t size, const std::string &data, bool swap = false,
                     const char *name = "x.sil")
{
    const auto put = [&](int32_t v) {
        unsigned char b[4];
        std::memcpy(b, &v, 4);
        if (swap)
            std::swap(b[0], b[3]), std::swap(b[1], b[2]);
        return std::string(reinterpret_cast<char *>(b), 4);
    };
    std::string header = std::string("L") + coding + std::string(2, '\0') + put(w) + put(h) + put(size);
    std::string n(52, '\0');
    std::strncpy(&n[0], name, 51);
    return header + n + data;
}

std::string ints(std::initializer_list<int32_t> values, bool swap = false)
{
    std::string s;
    for (int32_t v : values) {
        unsigned char b[4];
        std::memcpy(b, &v, 4);
        if (swap)
            std::swap(b[0], b[3]), std::swap(b[1], b[2]);
        s.append(reinterpret_cast<char *>(b), 4);
    }
    return s;
}

std::vector<unsigned char> decode(const Sil &s)
{
    std::unique_ptr<unsigned char[]> p(s.decodeSilhouette());
    return p ? std::vector<unsigned char>(p.get(), p.get() + static_cast<size_t>(s.getWidth()) * s.getHeight())
             : std::vector<unsigned char>();
}

class SilFiles : public ::testing::Test {
protected:
    void SetUp() override { dir = makeTempDir("sil"); }
    std::string file(const std::string &bytes) { return writeFile(dir, "s.sil", bytes); }
    std::string dir;
};

TEST_F(SilFiles, BitCodingHoldsPixelKAtBitKMod8OfByteKDiv8)
{
    // 3 x 3: two bytes; pixel 8 is bit 0 of the second byte.
    const Sil s(file(silBytes('T', 3, 3, 2, std::string("\x05\x01", 2))).c_str());
    EXPECT_EQ(s.getDataSize(), 2);
    EXPECT_EQ(decode(s), (std::vector<unsigned char>{255, 0, 255, 0, 0, 0, 0, 0, 255}));
}

TEST_F(SilFiles, RunCodingOfOneColourImageIsValueZeroAndOneRun)
{
    std::vector<unsigned char> white(16, 255);
    const Sil coded(white.data(), 4, 4, "one.sil");
    ASSERT_EQ(coded.getDataSize(), 12);
    int32_t v[3];
    std::memcpy(v, coded.getData(), 12);
    EXPECT_EQ(v[0], 255);
    EXPECT_EQ(v[1], 0);
    EXPECT_EQ(v[2], 16);
}

TEST_F(SilFiles, RunCodingRoundTripsThroughAFile)
{
    std::vector<unsigned char> pixels(5 * 3, 0);
    for (int k : {2, 3, 4, 5, 11})
        pixels[k] = 255;
    const Sil coded(pixels.data(), 5, 3, "r.sil");
    ASSERT_EQ(coded.write((dir + "/r.sil").c_str()), 1);
    const Sil read((dir + "/r.sil").c_str());
    EXPECT_EQ(read.getCoding(), 'U');
    EXPECT_STREQ(read.getName(), "r.sil");
    EXPECT_EQ(decode(read), pixels);

    ASSERT_EQ(read.saveAsPGM((dir + "/r.sil").c_str()), 1);
    int w, h;
    auto grey = sequence::loadPGM((dir + "/r.pgm").c_str(), w, h);
    ASSERT_TRUE(grey);
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(std::vector<unsigned char>(grey.get(), grey.get() + 15), pixels);
}

TEST_F(SilFiles, HeaderOfTheOtherByteOrderIsReversedWithItsRuns)
{
    // Width 1 written big-endian reads as 16777216 here.
    const Sil s(file(silBytes('U', 1, 4, 16, ints({0, 0, 3, 1}, true), true)).c_str());
    EXPECT_EQ(s.getWidth(), 1);
    EXPECT_EQ(s.getHeight(), 4);
    EXPECT_EQ(decode(s), (std::vector<unsigned char>{0, 0, 0, 255}));
}

TEST_F(SilFiles, LongNamesAreCutTo51Characters)
{
    const std::string longName(80, 'n');
    const unsigned char p[1] = {0};
    const Sil s(p, 1, 1, longName.c_str());
    EXPECT_EQ(std::string(s.getName()), longName.substr(0, 51));
}

TEST_F(SilFiles, UnknownCodingGivesNoData)
{
    CapturingMessageSink sink;
    ScopedMessageSink sinkScope(sink);
    const Sil s(file(silBytes('Q', 2, 2, 1, "\x0f")).c_str());
    EXPECT_EQ(sink.text(), "magic header = Q\n");
    EXPECT_EQ(s.decodeSilhouette(), nullptr);
}

TEST_F(SilFiles, BadFilesAreRefusedWithTheirReason)
{
    struct Case {
        const char *what;
        std::string bytes;
        const char *error;
    } cases[] = {
        {"short header", std::string("LU\0\0", 4), "unknown header"},
        {"size beyond the limit either way", silBytes('T', 200000, 200000, 1, ""), "wrong silhouette size"},
        {"too many pixels", silBytes('T', 100000, 100000, 1250000000, ""), "wrong silhouette size"},
        {"bit data size not w x h / 8", silBytes('T', 4, 4, 3, "abc"), "wrong silhouette data size"},
        {"run data not whole integers", silBytes('U', 2, 2, 10, std::string(10, '\0')), "wrong silhouette data size"},
        {"more runs than pixels", silBytes('U', 1, 1, 16, ints({0, 0, 1, 1})), "wrong silhouette data size"},
        {"runs beyond the image", silBytes('U', 2, 2, 12, ints({0, 0, 5})), "silhouette runs do not cover the image"},
        {"runs short of the image", silBytes('U', 2, 2, 12, ints({255, 0, 3})), "silhouette runs do not cover the image"},
        {"negative run", silBytes('U', 2, 2, 16, ints({0, 0, 6, -2})), "silhouette runs do not cover the image"},
        {"bad first value", silBytes('U', 2, 2, 12, ints({300, 0, 4})), "silhouette runs do not cover the image"},
        {"data cut short", silBytes('U', 2, 2, 12, ints({0, 0})), "not enough data"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CapturingMessageSink sink;
        ScopedMessageSink sinkScope(sink);
        try {
            Sil s(file(c.bytes).c_str());
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), c.error);
        }
    }
    CapturingMessageSink sink;
    ScopedMessageSink sinkScope(sink);
    EXPECT_THROW(Sil((dir + "/missing.sil").c_str()), std::runtime_error);
    EXPECT_EQ(sink.text(), "Can't read " + dir + "/missing.sil file, exit\n");
    EXPECT_EQ(sink.text(MessageLevel::Diagnostic), sink.text());
}

class SequenceFolder : public ::testing::Test {
protected:
    void SetUp() override { dir = makeTempDir("sequence"); }
    std::string dir;
};

TEST_F(SequenceFolder, RawPGMHeaderAndItsFaults)
{
    int w = -1, h = -1;
    auto p = sequence::loadPGM(writeFile(dir, "a.pgm", std::string("P5\n# made here\n# twice\n3 2\n255\nabcdef")).c_str(), w, h);
    ASSERT_TRUE(p);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(p.get()), 6), "abcdef");

    for (const std::string &bad : {std::string("P6\n3 2\n255\nabcdef"), std::string("P5\n3 2\n255\nabc"),
                                  std::string("P5\n3\n2\n255\nabcdef"), std::string("P5\n-3 2\n255\nabcdef"),
                                  std::string("P5\n70000 70000\n255\n"), std::string("P5\n") + std::string(200, '#')}) {
        SCOPED_TRACE(bad.substr(0, 20));
        EXPECT_FALSE(sequence::loadPGM(writeFile(dir, "b.pgm", bad).c_str(), w, h));
        EXPECT_EQ(w, 0);
    }
    EXPECT_FALSE(sequence::loadPGM((dir + "/none.pgm").c_str(), w, h));
}

TEST_F(SequenceFolder, ContoursGrowPastTwentyThousandPointsAndPartsPickTheirRange)
{
    std::string text;
    for (int i = 0; i < 25000; ++i)
        text += std::to_string(i) + " " + std::to_string(i % 7) + ".5\n";
    writeFile(dir, "c03.txt", text + "not a number 1 2\n");
    std::vector<Point2> points;
    ASSERT_TRUE(sequence::readContour(dir + "/c", 3, 0, points));
    ASSERT_EQ(points.size(), 25000u);
    EXPECT_EQ(points[24999].x, 24999);
    EXPECT_EQ(points[24999].y, 24999 % 7 + 0.5f);

    writeFile(dir, "c03_c.txt", "2 0 4 5 7\n");
    writeFile(dir, "c03_b.txt", "0 0\n1 1\n2 2\n3 3\n4 4\n5 5\n6 6\n7 7\n8 8\n");
    ASSERT_TRUE(sequence::readContour(dir + "/c", 3, 1, points)); // skips 2, reads "0 4"
    ASSERT_EQ(points.size(), 5u);
    EXPECT_EQ(points[4].x, 4);
    ASSERT_TRUE(sequence::readContour(dir + "/c", 3, 3, points)); // skips 2 0 4, reads "5 7"
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[0].x, 5);
    EXPECT_FALSE(sequence::readContour(dir + "/c", 3, 4, points)); // only "7" is left
    EXPECT_FALSE(sequence::readContour(dir + "/c", 4, 0, points));
}

TEST_F(SequenceFolder, SearchTakesTheFirstViewFileInNameOrder)
{
    for (const char *name : {"view01.jpg", "README.txt", "view00.ppm", "view00.jpg", ".hidden00.ppm", "notes"})
        writeFile(dir, name, "x");
    const std::string folder = dir + "/";
    sequence::SequencePath p = sequence::findSequence(folder, "", "");
    EXPECT_EQ(p.base, folder + "view");
    EXPECT_EQ(p.extension, "jpg");
    EXPECT_EQ(sequence::findSequence(folder, "", "ppm").extension, "ppm");
    EXPECT_EQ(sequence::findSequence(folder, "vie", "").base, folder + "view");
    EXPECT_FALSE(sequence::findSequence(folder, "img", "").found());
    EXPECT_FALSE(sequence::findSequence(dir + "/none/", "", "").found());
    EXPECT_EQ(sequence::viewFileName("/d/cube", 7, "jpg"), "/d/cube07.jpg");

    EXPECT_EQ(sequence::directoryPart("/data/cube/seq/cube"), "/data/cube/seq");
    EXPECT_EQ(sequence::lastPart("/data/cube/seq/cube"), "cube");
    EXPECT_EQ(sequence::lastPart("c:\\seq\\img"), "img");
    EXPECT_EQ(sequence::lastPart("/data/seq/"), "");
    EXPECT_EQ(sequence::directoryPart("img"), ".");
    EXPECT_EQ(sequence::lastPart("img"), "img");
}

} // namespace
