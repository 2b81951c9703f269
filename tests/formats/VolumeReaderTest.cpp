#include "formats/VolumeReader.h"
#include "math/Messages.h"

#include "image/Bitmap.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

template <class T> std::string raw(std::initializer_list<T> values)
{
    std::string s;
    for (T v : values)
        s.append(reinterpret_cast<const char *>(&v), sizeof v);
    return s;
}

VolumeData readIMA(const std::string &dim, const std::string &ima)
{
    FILE *f = fmemopen(const_cast<char *>(ima.data()), ima.size() ? ima.size() : 1, "rb");
    std::unique_ptr<FILE, int (*)(FILE *)> closer(f, std::fclose);
    CapturingMessageSink sink;
    ScopedMessageSink sinkScope(sink);
    try {
        VolumeData v = VolumeReader::readIMA(dim.data(), dim.size(), f, static_cast<long long>(ima.size()), "v.ima");
        return v;
    } catch (...) {
        throw;
    }
}

TEST(VolumeReader, HeaderWithSizesOnlyReadsUnsignedBytes)
{
    const VolumeData v = readIMA("64 64 32\n", std::string(64 * 64 * 32, '\x07'));
    EXPECT_EQ(v.size[0], 64);
    EXPECT_EQ(v.size[2], 32);
    EXPECT_EQ(v.voxelSize[1], 1.0f);
    EXPECT_EQ(v.origin[2], 0.0f);
    EXPECT_EQ(v.samples[64 * 64 * 32 - 1], 7.0f);
    EXPECT_FALSE(v.packedColor);
}

TEST(VolumeReader, HeaderGivesVoxelSizeAndOrigin)
{
    const VolumeData v =
        readIMA("2 1 1\n-type U8\n-dx 0.5 -dy 0.5 -dz 2\n-tx 10 -ty 0 -tz -5\n", std::string("\x01\x02", 2));
    EXPECT_EQ(v.voxelSize[0], 0.5f);
    EXPECT_EQ(v.voxelSize[2], 2.0f);
    EXPECT_EQ(v.origin[0], 10.0f);
    EXPECT_EQ(v.origin[2], -5.0f);
}

TEST(VolumeReader, EverySampleTypeConvertsToFloat)
{
    const struct {
        const char *type;
        std::string bytes;
        float first, second;
    } cases[] = {
        {"U8", raw<uint8_t>({0, 255}), 0, 255},
        {"S8", raw<int8_t>({-128, 127}), -128, 127},
        {"U16", raw<uint16_t>({1, 65535}), 1, 65535},
        {"S16", raw<int16_t>({-32768, 5}), -32768, 5},
        {"U32", raw<uint32_t>({7, 4000000000u}), 7, 4000000000.0f},
        {"S32", raw<int32_t>({-2000000000, 3}), -2000000000.0f, 3},
        {"FLOAT", raw<float>({-0.25f, 1e30f}), -0.25f, 1e30f},
    };
    for (const auto &c : cases) {
        const VolumeData v = readIMA(std::string("2 1 1\n-type ") + c.type + "\n", c.bytes);
        EXPECT_EQ(v.samples[0], c.first) << c.type;
        EXPECT_EQ(v.samples[1], c.second) << c.type;
    }
}

TEST(VolumeReader, BadHeadersAreRefusedBeforeAllocating)
{
    const struct {
        const char *name;
        std::string dim, ima;
        const char *reason;
    } cases[] = {
        {"empty header", "", "", "does not begin with three sizes"},
        {"truncated header", "4 4", "", "does not begin with three sizes"},
        {"zero size", "0 4 4\n", "", "every size must be at least 1"},
        {"negative size", "4 -4 4\n", "", "every size must be at least 1"},
        {"product overflows", "2000000000 2000000000 2000000000\n-type FLOAT\n", "", "is too large"},
        {"more than the file holds", "10 10 10\n-type U16\n", std::string(1999, 'x'),
         "10x10x10 U16 samples need 2000 bytes, the file holds 1999"},
        {"unknown type", "1 1 1\n-type DOUBLE\n", "12345678", "format unknown"},
    };
    for (const auto &c : cases) {
        try {
            readIMA(c.dim, c.ima);
            ADD_FAILURE() << c.name << " was accepted";
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << c.name << ": " << e.what();
        }
    }
}

TEST(VolumeReader, MissingFilesCannotBeRead)
{
    const std::string dir = testsupport::makeTempDir("VolumeReader");
    writeFile(dir + "/only.dim", "1 1 1\n");
    for (const std::string &path : {dir + "/none.ima", dir + "/only.ima", dir + "/none.pgm"}) {
        try {
            if (path.back() == 'm')
                VolumeReader::readPGM(path.c_str());
            else
                VolumeReader::readIMA(path.c_str());
            ADD_FAILURE() << path << " was accepted";
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), "can't read file") << path;
        }
    }
}

TEST(VolumeReader, PgmHeaderSkipsCommentsAndItsMagicIsNotExamined)
{
    const std::string pgm = "P5\n# one\n# two\n3 2\n255\n\x01\x02\x03\x04\x05\x06";
    CapturingMessageSink sink;
    ScopedMessageSink sinkScope(sink);
    const VolumeData v =
        VolumeReader::readPGM(reinterpret_cast<const unsigned char *>(pgm.data()), pgm.size(), "a.pgm");
    EXPECT_EQ(v.size[0], 3);
    EXPECT_EQ(v.size[1], 2);
    EXPECT_EQ(v.size[2], 1);
    EXPECT_EQ(v.samples[5], 6.0f);

    const struct {
        std::string bytes;
        const char *reason;
    } bad[] = {
        {"P5\n3 2\n255\n\x01\x02", "need 6 bytes, the file holds 2"},
        {"P5\n3 2", "no PGM header"},
        {"P5\n0 2\n255\n", "0 x 2 pixels"},
        {"P5\n" + std::string(200, '#'), "no PGM header"},
        {std::string("P5\n2 1\n65535\n\x12\x34\xff", 16), "need 4 bytes, the file holds 3"},
        {"P2\n2 1\n255\n1 x\n", "sample 1 of 2 is missing or no number"},
        {"P2\n2 1\n100\n1 101\n", "sample 1 is 101, above the maximum value 100"},
        {"P5\n2 1\n70000\n", "maximum value of 70000"},
    };
    // Every netpbm grey form other programs write, depth maps (16 bits) above all.
    const struct {
        std::string bytes;
        std::vector<float> samples;
    } good[] = {
        {"P5 3 1 255\n\x01\x02\x03", {1, 2, 3}},
        {"P2\n# plain\n3 1\n255\n10 200\n  7\n", {10, 200, 7}},
        {std::string("P5\n2 1\n65535\n\x12\x34\xff\xfe", 17), {0x1234, 0xfffe}},
        {"P2 2 1 1000 999 # the end\n0", {999, 0}},
    };
    for (const auto &c : good) {
        const VolumeData g =
            VolumeReader::readPGM(reinterpret_cast<const unsigned char *>(c.bytes.data()), c.bytes.size(), "g.pgm");
        ASSERT_EQ(static_cast<size_t>(g.size[0]), c.samples.size()) << c.bytes;
        for (size_t i = 0; i < c.samples.size(); ++i)
            EXPECT_EQ(g.samples[i], c.samples[i]) << c.bytes;
    }

    for (const auto &c : bad) {
        try {
            VolumeReader::readPGM(reinterpret_cast<const unsigned char *>(c.bytes.data()), c.bytes.size(), "a.pgm");
            ADD_FAILURE() << c.bytes << " was accepted";
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
    }
}

TEST(VolumeReader, ColourImageBecomesOnePackedSlice)
{
    const std::string dir = testsupport::makeTempDir("VolumeReaderPng");
    Bitmap image(3, 2);
    image.get(2, 1) = RGB<unsigned char>(1, 2, 3);
    ASSERT_EQ(image.savePNG((dir + "/c.png").c_str()), 1);
    const VolumeData v = VolumeReader::readBitmap((dir + "/c.png").c_str());
    EXPECT_EQ(v.size[0], 3);
    EXPECT_EQ(v.size[1], 2);
    EXPECT_EQ(v.size[2], 1);
    EXPECT_TRUE(v.packedColor);
    EXPECT_EQ(v.samples[5], 1 + 256 * 2 + 65536 * 3);
}

TEST(VolumeReader, LargeVolumesAreSubSampledToTheTextureLimit)
{
    const int big[3] = {1000, 600, 10};
    EXPECT_EQ(VolumeReader::subSamplingFactor(big, 512), 2);
    EXPECT_EQ(VolumeReader::subSamplingFactor(big, 1024), 1);
    EXPECT_EQ(VolumeReader::subSamplingFactor(big, 128), 8);
    EXPECT_EQ(VolumeReader::textureSide(5), 8);
    EXPECT_EQ(VolumeReader::textureSide(1), 1);

    VolumeData v;
    v.size[0] = 5;
    v.size[1] = 4;
    v.size[2] = 1;
    v.samples = allocateLargeArray<float>(20);
    for (int i = 0; i < 20; ++i)
        v.samples[i] = static_cast<float>(i);
    VolumeReader::subSample(v, 2);
    EXPECT_EQ(v.size[0], 2);
    EXPECT_EQ(v.size[1], 2);
    EXPECT_EQ(v.size[2], 1) << "a size never drops below 1";
    EXPECT_EQ(v.samples[3], 12.0f) << "new (1, 1) is old (2, 2)";
}

} // namespace
