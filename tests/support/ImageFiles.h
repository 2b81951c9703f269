#ifndef VELMORA_TEST_IMAGEFILES_H
#define VELMORA_TEST_IMAGEFILES_H

// Image files made the way other programs make them: headers written by hand, and files written
// by libpng, libjpeg and libtiff themselves. Shared by the reader tests and the fuzz seed maker,
// so it needs nothing but those libraries.

#include <png.h>

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Bytes = std::vector<unsigned char>;

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &bytes);

/// A binary Netpbm file ("P5", "P6", ...): magic, `comment` lines (each ending in "\n"), size,
/// maximum 255, then the samples.
std::string netpbm(const char *magic, int w, int h, const Bytes &samples, const std::string &comment = "");

/// A TGA file with an `id` field: `type` 2 is uncompressed true colour of `bits` a pixel,
/// `descriptor` holds the origin bits (0x20: top row first).
std::string tga(int w, int h, const Bytes &bgr, const std::string &id = "", int type = 2, int bits = 24,
                int descriptor = 0);
/// Gives a TGA made by tga() a colour map of 24-bit blue, green, red entries, the first one
/// numbered `first`.
std::string withColourMap(std::string file, int first, const Bytes &bgrEntries);

/// What libpng is asked to write.
struct PngFile {
    int width, height, colorType, bitDepth;
    Bytes rows; ///< packed rows as libpng takes them (16-bit samples big-endian)
    bool interlaced = false;
    std::vector<png_color> palette = {};
    std::vector<std::pair<std::string, std::string>> texts = {}; ///< every second one compressed
    std::vector<png_byte> transparency = {};
    int compressionLevel = -1; ///< libpng's default when negative
};
void writePngFile(const std::string &path, const PngFile &p);

/// A JPEG of w x h pixels of 1 (grey) or 3 (RGB) `components`, at `quality`.
void writeJpegFile(const std::string &path, int w, int h, int components, bool progressive, const Bytes &samples,
                   int quality);

/// An RGB TIFF: strips of 4 rows, or 16 x 16 tiles. `onlyFirstStrip` leaves the other strips
/// unwritten, as a damaged file would have them.
void writeTiffFile(const std::string &path, int w, int h, const Bytes &rgb, int compression, bool tiled,
                   int bits = 8, bool onlyFirstStrip = false);

} // namespace testsupport

#endif
