#include "support/ImageCompare.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>

namespace testsupport {

namespace {

struct FileCloser {
    void operator()(FILE *f) const { if (f) std::fclose(f); }
};

} // namespace

bool readPng(const std::string &path, RgbaImage &image, std::string &error)
{
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        error = "cannot open " + path;
        return false;
    }
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_stdio(&img, f.get())) {
        error = std::string("cannot read ") + path + ": " + img.message;
        return false;
    }
    img.format = PNG_FORMAT_RGBA;
    image.width = static_cast<int>(img.width);
    image.height = static_cast<int>(img.height);
    image.pixels.assign(PNG_IMAGE_SIZE(img), 0);
    if (!png_image_finish_read(&img, nullptr, image.pixels.data(), 0, nullptr)) {
        error = std::string("cannot decode ") + path + ": " + img.message;
        png_image_free(&img);
        return false;
    }
    return true;
}

bool writePng(const std::string &path, const RgbaImage &image, std::string &error)
{
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    img.width = static_cast<png_uint_32>(image.width);
    img.height = static_cast<png_uint_32>(image.height);
    img.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&img, path.c_str(), 0, image.pixels.data(), 0, nullptr)) {
        error = std::string("cannot write ") + path + ": " + img.message;
        return false;
    }
    return true;
}

std::string makeTempDir(const std::string &tag)
{
    namespace fs = std::filesystem;
    // ctest runs tests in parallel processes: the test's own name keeps their folders apart.
    std::string name = tag;
    // A suite's set-up runs before any test: the filter ctest gave this process names it.
    if (const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info())
        name += std::string("_") + info->test_suite_name() + "_" + info->name();
    else
        name += "_" + ::testing::GTEST_FLAG(filter);
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.')
            c = '_';
    fs::path dir = fs::path(VELMORA_TEMP_DIR) / name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    return dir.string();
}

bool matchesBaseline(const std::string &name, const RgbaImage &actual, std::string &message,
                     const Tolerance &tolerance)
{
    namespace fs = std::filesystem;
    const std::string baselinePath = std::string(VELMORA_BASELINE_DIR) + "/" + name + ".png";
    const char *update = std::getenv("VELMORA_UPDATE_BASELINES");
    std::string err;
    if (update && std::strcmp(update, "1") == 0) {
        if (!writePng(baselinePath, actual, err)) {
            message = err;
            return false;
        }
        return true;
    }

    fs::create_directories(VELMORA_TEMP_DIR);
    const std::string actualPath = std::string(VELMORA_TEMP_DIR) + "/" + name + ".actual.png";
    const std::string diffPath = std::string(VELMORA_TEMP_DIR) + "/" + name + ".diff.png";

    RgbaImage expected;
    if (!readPng(baselinePath, expected, err)) {
        writePng(actualPath, actual, err);
        message = "no usable baseline " + baselinePath + " (actual image written to " + actualPath +
                  "; run with VELMORA_UPDATE_BASELINES=1 to create it)";
        return false;
    }
    if (expected.width != actual.width || expected.height != actual.height) {
        writePng(actualPath, actual, err);
        std::ostringstream os;
        os << "size " << actual.width << "x" << actual.height << " differs from baseline "
           << expected.width << "x" << expected.height << " (actual image: " << actualPath << ")";
        message = os.str();
        return false;
    }

    RgbaImage diff;
    std::string how;
    if (imagesMatch(actual, expected, how, tolerance, &diff))
        return true;
    writePng(actualPath, actual, err);
    writePng(diffPath, diff, err);
    message = name + ": " + how + "; actual " + actualPath + ", difference " + diffPath;
    return false;
}

bool imagesMatch(const RgbaImage &actual, const RgbaImage &expected, std::string &message,
                 const Tolerance &tolerance, RgbaImage *diffImage)
{
    if (expected.width != actual.width || expected.height != actual.height) {
        std::ostringstream os;
        os << "size " << actual.width << "x" << actual.height << " differs from " << expected.width << "x"
           << expected.height;
        message = os.str();
        return false;
    }
    RgbaImage scratch;
    RgbaImage &diff = diffImage ? *diffImage : scratch;
    diff = actual;
    int worst = 0;
    double sum = 0;
    size_t bad = 0;
    const size_t nPixels = static_cast<size_t>(actual.width) * actual.height;
    for (size_t p = 0; p < nPixels; ++p) {
        int pixelWorst = 0;
        for (int c = 0; c < 4; ++c) {
            const int d = std::abs(int(actual.pixels[p * 4 + c]) - int(expected.pixels[p * 4 + c]));
            sum += d;
            if (d > pixelWorst)
                pixelWorst = d;
        }
        if (pixelWorst > tolerance.maxChannelDiff)
            ++bad;
        if (pixelWorst > worst)
            worst = pixelWorst;
        // The difference image shows every differing pixel in red, scaled up to be visible.
        const unsigned char v = static_cast<unsigned char>(std::min(255, pixelWorst * 8));
        diff.pixels[p * 4 + 0] = v;
        diff.pixels[p * 4 + 1] = 0;
        diff.pixels[p * 4 + 2] = 0;
        diff.pixels[p * 4 + 3] = 255;
    }
    const double mean = nPixels ? sum / (nPixels * 4.0) : 0.0;
    const double badShare = nPixels ? double(bad) / nPixels : 0.0;
    if (mean <= tolerance.maxMeanDiff && badShare <= tolerance.maxBadShare)
        return true;

    std::ostringstream os;
    os << "mean channel difference " << mean << " (allowed " << tolerance.maxMeanDiff
       << "), " << bad << " pixels beyond " << tolerance.maxChannelDiff << " (share " << badShare
       << ", allowed " << tolerance.maxBadShare << "), worst " << worst;
    message = os.str();
    return false;
}

} // namespace testsupport
