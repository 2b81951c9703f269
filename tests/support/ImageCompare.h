#ifndef VELMORA_TEST_IMAGECOMPARE_H
#define VELMORA_TEST_IMAGECOMPARE_H

#include <string>
#include <vector>

namespace testsupport {

/// An RGBA image, top row first, 4 bytes a pixel.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;

    const unsigned char *at(int x, int y) const { return &pixels[(static_cast<size_t>(y) * width + x) * 4]; }
};

/// Tolerances of a rendering comparison, on the 0..255 scale. Mesa's llvmpipe is
/// deterministic on one machine but not across versions, so a comparison allows small
/// per-channel differences instead of demanding equal images.
struct Tolerance {
    int maxChannelDiff = 8;     ///< largest difference allowed on a channel of any pixel ...
    double maxMeanDiff = 0.5;   ///< ... and largest mean channel difference over the image
    double maxBadShare = 0.002; ///< share of pixels allowed to exceed maxChannelDiff
};

bool readPng(const std::string &path, RgbaImage &image, std::string &error);
bool writePng(const std::string &path, const RgbaImage &image, std::string &error);

/// Compares two images of the same size within `tolerance`; `message` says by how much they
/// differ. `diff`, when given, receives a picture of the differences (red, scaled up).
bool imagesMatch(const RgbaImage &actual, const RgbaImage &expected, std::string &message,
                 const Tolerance &tolerance = Tolerance(), RgbaImage *diff = nullptr);

/// Compares `actual` with tests/baselines/<name>.png. With VELMORA_UPDATE_BASELINES=1 the
/// baseline is (re)written and the comparison passes. On a mismatch or a missing baseline
/// the actual image and a difference image are written under the build's Testing/Temporary
/// folder, and `message` says where and by how much.
bool matchesBaseline(const std::string &name, const RgbaImage &actual, std::string &message,
                     const Tolerance &tolerance = Tolerance());

/// A fresh empty folder under the build's Testing/Temporary folder, named after `tag` and
/// the running test.
std::string makeTempDir(const std::string &tag);

} // namespace testsupport

#endif
