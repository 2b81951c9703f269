#include "image/Bitmap4.h"

#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace
{

void fill(Bitmap4 &b)
{
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            unsigned char *p = b.get(x, y);
            p[0] = static_cast<unsigned char>(x * 40);
            p[1] = static_cast<unsigned char>(y * 60);
            p[2] = static_cast<unsigned char>(x + y);
            p[3] = static_cast<unsigned char>(255 - x * y);
        }
}

TEST(Bitmap4, SavesRgbaPngWhateverTheExtension)
{
    const std::string dir = testsupport::makeTempDir("Bitmap4");
    Bitmap4 b(5, 3);
    fill(b);
    const std::string path = dir + "/capture.jpg";
    ASSERT_EQ(b.save(path.c_str()), 1);

    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 26u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    EXPECT_EQ(bytes[24], 8) << "bit depth";
    EXPECT_EQ(bytes[25], 6) << "colour type RGBA";

    testsupport::RgbaImage read;
    std::string error;
    ASSERT_TRUE(testsupport::readPng(path, read, error)) << error;
    ASSERT_EQ(read.width, 5);
    ASSERT_EQ(read.height, 3);
    EXPECT_EQ(read.pixels, std::vector<unsigned char>(b.pixels, b.pixels + 5 * 3 * 4));

    try {
        b.savePNG((dir + "/missing/capture.png").c_str());
        ADD_FAILURE() << "saved into a missing folder";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "imposible to open file");
    }
    EXPECT_EQ(Bitmap4().savePNG((dir + "/empty.png").c_str()), 0);
}

TEST(Bitmap4, FlipsMoveWholeFourBytePixels)
{
    Bitmap4 a(3, 3), x(3, 3), y(3, 3);
    fill(a);
    fill(x);
    fill(y);
    x.flipX();
    y.flipY();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 4; ++k) {
                ASSERT_EQ(x.get(c, r)[k], a.get(2 - c, r)[k]);
                ASSERT_EQ(y.get(c, r)[k], a.get(c, 2 - r)[k]);
            }
}

} // namespace
