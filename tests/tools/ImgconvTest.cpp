// The imgconv tool as other programs run it: arguments in, files and exit status out.
#include "image/Bitmap.h"

#include "support/ImageCompare.h"
#include "support/Process.h"
#include "support/ImageFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>

namespace
{

const std::string kTool = std::string(VELMORA_BINARY_DIR) + "/imgconv";

testsupport::ProcessResult imgconv(const std::string &in, const std::string &out)
{
    return testsupport::runProcess({kTool, in, out});
}

TEST(Imgconv, ConvertsThroughEveryWrittenFormat)
{
    const std::string dir = testsupport::makeTempDir("Imgconv");
    Bitmap source(6, 4);
    for (int i = 0; i < 24; ++i)
        source.pixels[i] = RGB<unsigned char>(i * 10, 255 - i * 10, 128);
    ASSERT_EQ(source.savePPM((dir + "/a.ppm").c_str()), 1);

    for (auto step : {std::make_pair("a.ppm", "b.png"), {"b.png", "c.ppm"}, {"c.ppm", "d.jpg"}}) {
        const auto r = imgconv(dir + "/" + step.first, dir + "/" + step.second);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.err, "");
    }
    Bitmap back((dir + "/c.ppm").c_str());
    ASSERT_EQ(back.width, 6);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(back.pixels[i], source.pixels[i]);
    Bitmap jpeg((dir + "/d.jpg").c_str());
    EXPECT_EQ(jpeg.height, 4);

    // Other programs' spellings of the same formats, read and written.
    testsupport::writeTiffFile(dir + "/t.tiff", 6, 4, testsupport::Bytes(6 * 4 * 3, 77), 1, false);
    for (auto step : {std::make_pair("c.ppm", "e.pnm"), {"e.pnm", "f.png"}, {"t.tiff", "g.ppm"}, {"d.jpg", "h.jpeg"}}) {
        const auto r = imgconv(dir + "/" + step.first, dir + "/" + step.second);
        EXPECT_EQ(r.exitStatus, 0) << step.first << " " << r.err;
    }
    Bitmap tiff((dir + "/g.ppm").c_str());
    EXPECT_EQ(tiff.pixels[23], RGB<unsigned char>(77, 77, 77));

    // PAM, read only: 16-bit grey with alpha, the alpha dropped and 0x8080 scaled to 0x80.
    testsupport::writeFile(dir + "/p.pam", std::string("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 65535\n"
                                                       "TUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n") +
                                              std::string("\x80\x80\0\0", 4));
    const auto pam = imgconv(dir + "/p.pam", dir + "/p.ppm");
    EXPECT_EQ(pam.exitStatus, 0) << pam.err;
    EXPECT_EQ(Bitmap((dir + "/p.ppm").c_str()).pixels[0], RGB<unsigned char>(128, 128, 128));
}

TEST(Imgconv, FailuresPrintTheReasonAndExitNonZero)
{
    const std::string dir = testsupport::makeTempDir("Imgconv");
    std::ofstream(dir + "/bad.png") << "not an image";
    Bitmap(2, 2).savePPM((dir + "/ok.ppm").c_str());

    auto r = imgconv(dir + "/bad.png", dir + "/out.ppm");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("not an png format"), std::string::npos) << r.err;
    EXPECT_NE(access((dir + "/out.ppm").c_str(), F_OK), 0);

    r = imgconv(dir + "/absent.ppm", dir + "/out.ppm");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("Can't read file"), std::string::npos) << r.err;

    r = imgconv(dir + "/ok.ppm", dir + "/out.gif");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("out.gif file format unknown"), std::string::npos) << r.err;

    r = imgconv(dir + "/ok.ppm", dir + "/missing/out.png");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("can't save"), std::string::npos) << r.err;

    r = testsupport::runProcess({kTool, dir + "/ok.ppm"});
    EXPECT_NE(r.exitStatus, 0);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
}

} // namespace
