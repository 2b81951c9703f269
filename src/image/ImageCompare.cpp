#include "image/ImageCompare.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace imagecompare {

namespace {

const int kRadius = 5; // the 11 x 11 window
const double kSigma = 1.5;

std::vector<double> luminance(const unsigned char *rgb, size_t count)
{
    std::vector<double> y(count);
    for (size_t i = 0; i < count; ++i)
        y[i] = 0.299 * rgb[3 * i] + 0.587 * rgb[3 * i + 1] + 0.114 * rgb[3 * i + 2];
    return y;
}

// The window is separable: rows first into `tmp`, then columns, both over the valid
// positions only (output (x, y) is the window centred at (x + r, y + r)).
void blur(const std::vector<double> &in, int w, int h, const double *g, std::vector<double> &tmp,
          std::vector<double> &out)
{
    const int ow = w - 2 * kRadius, oh = h - 2 * kRadius;
    tmp.assign(static_cast<size_t>(ow) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < ow; ++x) {
            const double *p = &in[static_cast<size_t>(y) * w + x];
            double s = 0;
            for (int k = 0; k <= 2 * kRadius; ++k)
                s += g[k] * p[k];
            tmp[static_cast<size_t>(y) * ow + x] = s;
        }
    out.assign(static_cast<size_t>(ow) * oh, 0);
    for (int y = 0; y < oh; ++y)
        for (int x = 0; x < ow; ++x) {
            double s = 0;
            for (int k = 0; k <= 2 * kRadius; ++k)
                s += g[k] * tmp[static_cast<size_t>(y + k) * ow + x];
            out[static_cast<size_t>(y) * ow + x] = s;
        }
}

} // namespace

double psnr(const unsigned char *a, const unsigned char *b, int width, int height, const unsigned char *mask)
{
    const size_t n = static_cast<size_t>(width > 0 ? width : 0) * static_cast<size_t>(height > 0 ? height : 0);
    double sum = 0;
    size_t count = 0;
    for (size_t i = 0; i < n; ++i) {
        if (mask && !mask[i])
            continue;
        for (int c = 0; c < 3; ++c) {
            const double d = static_cast<double>(a[3 * i + c]) - b[3 * i + c];
            sum += d * d;
        }
        ++count;
    }
    if (count == 0)
        return std::numeric_limits<double>::quiet_NaN();
    if (sum == 0)
        return std::numeric_limits<double>::infinity();
    const double mse = sum / (3.0 * static_cast<double>(count));
    return 10 * std::log10(255.0 * 255.0 / mse);
}

namespace {

// One channel of the SSIM (see ssim), given as planes of doubles.
double ssimOfPlanes(const std::vector<double> &ya, const std::vector<double> &yb, int width, int height,
                    const unsigned char *mask)
{
    double g[2 * kRadius + 1], total = 0;
    for (int k = -kRadius; k <= kRadius; ++k)
        total += g[k + kRadius] = std::exp(-(k * k) / (2 * kSigma * kSigma));
    for (double &v : g)
        v /= total;
    const size_t n = static_cast<size_t>(width) * height;
    std::vector<double> aa(n), bb(n), ab(n);
    for (size_t i = 0; i < n; ++i) {
        aa[i] = ya[i] * ya[i];
        bb[i] = yb[i] * yb[i];
        ab[i] = ya[i] * yb[i];
    }
    std::vector<double> tmp, ma, mb, saa, sbb, sab;
    blur(ya, width, height, g, tmp, ma);
    blur(yb, width, height, g, tmp, mb);
    blur(aa, width, height, g, tmp, saa);
    blur(bb, width, height, g, tmp, sbb);
    blur(ab, width, height, g, tmp, sab);
    const double C1 = (0.01 * 255) * (0.01 * 255), C2 = (0.03 * 255) * (0.03 * 255);
    const int ow = width - 2 * kRadius, oh = height - 2 * kRadius;
    double sum = 0;
    size_t count = 0;
    for (int y = 0; y < oh; ++y)
        for (int x = 0; x < ow; ++x) {
            if (mask && !mask[static_cast<size_t>(y + kRadius) * width + x + kRadius])
                continue;
            const size_t i = static_cast<size_t>(y) * ow + x;
            const double va = saa[i] - ma[i] * ma[i], vb = sbb[i] - mb[i] * mb[i], cov = sab[i] - ma[i] * mb[i];
            sum += (2 * ma[i] * mb[i] + C1) * (2 * cov + C2) /
                   ((ma[i] * ma[i] + mb[i] * mb[i] + C1) * (va + vb + C2));
            ++count;
        }
    return count ? sum / static_cast<double>(count) : std::numeric_limits<double>::quiet_NaN();
}

std::vector<double> channel(const unsigned char *rgb, size_t count, int c)
{
    std::vector<double> v(count);
    for (size_t i = 0; i < count; ++i)
        v[i] = rgb[3 * i + static_cast<size_t>(c)];
    return v;
}

} // namespace

double ssim(const unsigned char *a, const unsigned char *b, int width, int height, const unsigned char *mask)
{
    if (width < 2 * kRadius + 1 || height < 2 * kRadius + 1)
        return std::numeric_limits<double>::quiet_NaN();
    const size_t n = static_cast<size_t>(width) * height;
    return ssimOfPlanes(luminance(a, n), luminance(b, n), width, height, mask);
}

double ssimRgb(const unsigned char *a, const unsigned char *b, int width, int height, const unsigned char *mask)
{
    if (width < 2 * kRadius + 1 || height < 2 * kRadius + 1)
        return std::numeric_limits<double>::quiet_NaN();
    const size_t n = static_cast<size_t>(width) * height;
    double sum = 0;
    for (int c = 0; c < 3; ++c)
        sum += ssimOfPlanes(channel(a, n, c), channel(b, n, c), width, height, mask);
    return sum / 3;
}

double iou(const unsigned char *a, const unsigned char *b, size_t count)
{
    size_t both = 0, either = 0;
    for (size_t i = 0; i < count; ++i) {
        both += a[i] && b[i];
        either += a[i] || b[i];
    }
    return either ? static_cast<double>(both) / static_cast<double>(either)
                  : std::numeric_limits<double>::quiet_NaN();
}

const char *format(double value, int decimals, char *buffer, size_t size)
{
    if (std::isnan(value))
        std::snprintf(buffer, size, "-");
    else if (std::isinf(value))
        std::snprintf(buffer, size, value > 0 ? "inf" : "-inf");
    else
        std::snprintf(buffer, size, "%.*f", decimals, value);
    return buffer;
}

} // namespace imagecompare
