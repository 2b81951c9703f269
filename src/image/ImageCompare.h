#ifndef VELMORA_IMAGECOMPARE_H
#define VELMORA_IMAGECOMPARE_H

#include <cstddef>

/// How far a rendering is from a photograph. Images are width x height pixels of 8-bit R, G,
/// B, row-major, rows packed (Bitmap's layout); masks are one byte a pixel, non-zero inside.
/// Every figure that has nothing to measure (an empty mask, an image too small for the SSIM
/// window) is NaN.
namespace imagecompare {

/// Peak signal-to-noise ratio in decibels over the three channels, peak 255:
/// 10 log10(255^2 / MSE), with the mean taken over the pixels inside `mask` (every pixel
/// without one). Identical images give +infinity.
double psnr(const unsigned char *a, const unsigned char *b, int width, int height,
            const unsigned char *mask = nullptr);

/// The structural similarity of the luminances Y = 0.299 R + 0.587 G + 0.114 B: local means,
/// variances and covariance under an 11 x 11 Gaussian window of sigma 1.5 (weights summing
/// to 1), C1 = (0.01 x 255)^2, C2 = (0.03 x 255)^2, averaged over every window that lies
/// wholly in the image (and, with a mask, whose centre is inside it). Identical images give 1.
double ssim(const unsigned char *a, const unsigned char *b, int width, int height,
            const unsigned char *mask = nullptr);

/// The same SSIM on each of R, G and B and averaged over the three, as the common evaluation
/// code of novel-view synthesis computes it (windows wholly in the image, no padding).
double ssimRgb(const unsigned char *a, const unsigned char *b, int width, int height,
               const unsigned char *mask = nullptr);

/// Intersection over union of two masks of `count` bytes; NaN when both are empty.
double iou(const unsigned char *a, const unsigned char *b, size_t count);

/// The figure as a table shows it: "inf" for an infinite PSNR, "-" for NaN, else with
/// `decimals` decimals.
const char *format(double value, int decimals, char *buffer, size_t size);

} // namespace imagecompare

#endif
