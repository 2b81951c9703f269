// TIFF through libtiff: what its RGBA reader takes, and the grey or RGB samples of other bit
// depths that it refuses.
#include "image/ImageCodecs.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include <tiffio.h>

namespace imagecodecs
{

namespace {

const char *const kNoMemory = "out of memory";

int quietTiff(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

// A stripped TIFF of grey or RGB samples of a bit depth the RGBA reader refuses (3 to 15 bits
// other than 4 and 8), read a scanline at a time and scaled to the nearest of 0..255; extra
// samples (alpha) are dropped. No pixels when the file is not of that kind; "Can't handle
// format" when a scanline can't be read.
Decoded decodeDeepTiff(TIFF *tif, uint32_t width, uint32_t height)
{
    Decoded none;
    uint16_t bits = 0, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        return none;
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    if (bits < 3 || bits > 15 || bits == 4 || bits == 8 || TIFFIsTiled(tif) || planar != PLANARCONFIG_CONTIG ||
        format != SAMPLEFORMAT_UINT || !(grey || photometric == PHOTOMETRIC_RGB) || samples < (grey ? 1 : 3) ||
        samples > 8)
        return none;
    const tmsize_t lineBytes = TIFFScanlineSize(tif);
    const unsigned long long needed = (static_cast<unsigned long long>(width) * samples * bits + 7) / 8;
    if (lineBytes <= 0 || static_cast<unsigned long long>(lineBytes) < needed)
        return none;
    std::vector<unsigned char> line(static_cast<size_t>(lineBytes));
    const size_t count = static_cast<size_t>(width) * height;
    Decoded result;
    result.pixels.reset(static_cast<unsigned char *>(std::malloc(count * 3)));
    if (!result.pixels)
        throw std::runtime_error(kNoMemory);
    const unsigned maxValue = (1u << bits) - 1;
    unsigned char *out = result.pixels.get();
    for (uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tif, line.data(), y, 0) < 0)
            throw std::runtime_error("Can't handle format");
        // Samples are packed most significant bit first, each row starting on a byte.
        const auto sample = [&](size_t index) {
            size_t bit = index * bits;
            unsigned v = 0;
            for (int k = 0; k < bits; ++k, ++bit)
                v = v << 1 | ((line[bit >> 3] >> (7 - (bit & 7))) & 1u);
            return v;
        };
        for (uint32_t x = 0; x < width; ++x, out += 3)
            for (int c = 0; c < 3; ++c) {
                unsigned v = sample(static_cast<size_t>(x) * samples + (grey ? 0 : c));
                if (photometric == PHOTOMETRIC_MINISWHITE)
                    v = maxValue - v;
                out[c] = static_cast<unsigned char>((v * 255 + maxValue / 2) / maxValue);
            }
    }
    result.width = static_cast<int>(width);
    result.height = static_cast<int>(height);
    return result;
}

} // namespace

Decoded decodeTiff(const char *path)
{
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    if (!options)
        throw std::runtime_error("Can't read file");
    // libtiff would print every complaint on standard error; the exception says what failed.
    TIFFOpenOptionsSetErrorHandlerExtR(options, quietTiff, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quietTiff, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(maxPixels) * 4);
    TIFF *tif = path ? TIFFOpenExt(path, "r", options) : nullptr;
    TIFFOpenOptionsFree(options);
    if (!tif)
        throw std::runtime_error("Can't read file");

    struct Closer {
        TIFF *tif;
        uint32_t *raster = nullptr;
        ~Closer()
        {
            _TIFFfree(raster);
            TIFFClose(tif);
        }
    } guard{tif};

    uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    if (!sizeAccepted(width, height))
        throw std::runtime_error(kBadSize);
    char reason[1024];
    if (!TIFFRGBAImageOK(tif, reason)) {
        // libtiff's RGBA reader takes 1, 2, 4, 8 and 16 bits a sample only; scanners and
        // cameras also write 10, 12 and 14.
        Decoded deep = decodeDeepTiff(tif, width, height);
        if (!deep.pixels)
            throw std::runtime_error("Can't handle format");
        return deep;
    }
    const size_t count = static_cast<size_t>(width) * height;
    guard.raster = static_cast<uint32_t *>(_TIFFmalloc(static_cast<tmsize_t>(count * 4)));
    if (!guard.raster)
        throw std::runtime_error("Can't handle format");
    // Stop at the first damaged strip or tile: going on would hand back an image with holes.
    if (!TIFFReadRGBAImageOriented(tif, width, height, guard.raster, ORIENTATION_TOPLEFT, 1))
        throw std::runtime_error("Can't handle format");

    Decoded result;
    result.pixels.reset(static_cast<unsigned char *>(std::malloc(count * 3)));
    if (!result.pixels)
        throw std::runtime_error(kNoMemory);
    unsigned char *out = result.pixels.get();
    for (size_t i = 0; i < count; ++i) {
        const uint32_t p = guard.raster[i];
        out[3 * i] = static_cast<unsigned char>(TIFFGetR(p));
        out[3 * i + 1] = static_cast<unsigned char>(TIFFGetG(p));
        out[3 * i + 2] = static_cast<unsigned char>(TIFFGetB(p));
    }
    result.width = static_cast<int>(width);
    result.height = static_cast<int>(height);
    return result;
}

} // namespace imagecodecs
