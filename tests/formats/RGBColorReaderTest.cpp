#include "formats/RGBColorReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string writeTemp(const std::string &text)
{
    char path[] = "/tmp/velmora-rgb-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST(RGBColorReader, ReadsColoursClampedToBytes)
{
    const std::string path = writeTemp("3\n0 0.5 1\n1 +1 1e-60\n-2 7 0.2\n");
    const std::vector<unsigned char> rgb = readRGBColors(path.c_str(), 3);
    std::remove(path.c_str());
    EXPECT_EQ(rgb, (std::vector<unsigned char>{0, 128, 255, 255, 255, 0, 0, 255, 51}));
}

TEST(RGBColorReader, RefusesWhatDoesNotFit)
{
    struct Case {
        const char *text;
        int expected;
        const char *message;
    };
    const Case cases[] = {
        {"", -1, "no color count"},
        {"-4\n", -1, "no color count"},
        {"two\n0 0 0\n", -1, "no color count"},
        {"2\n0 0 0\n1 1 1\n", 3, "2 colors for 3 vertices"},
        {"3\n0 0 0\n1 1 1\n", -1, "3 colors announced, the file holds fewer"},
        {"2\n0 0 0\n1 1", -1, "2 colors announced, the file holds fewer"},
        {"2000000000\n0 0 0\n", -1, "2000000000 colors announced, the file holds fewer"},
        {"2\n0 0 0\n1 nan 1\n", -1, "color 1 is not a number"},
        {"2\n0 0 0\ninf 1 1\n", -1, "color 1 is not a number"},
        {"2\n0 0 0\n1e99 1 1\n", -1, "color 1 is not a number"},
        {"2\n0 x 0\n1 1 1\n", -1, "color 0 is not a number"},
    };
    for (const Case &c : cases) {
        const std::string path = writeTemp(c.text);
        try {
            readRGBColors(path.c_str(), c.expected);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), c.message) << c.text;
        }
        std::remove(path.c_str());
    }
    EXPECT_THROW(readRGBColors("/nonexistent/colors.rgb"), std::runtime_error);
}

} // namespace
