#ifndef VELMORA_SIL_H
#define VELMORA_SIL_H

#include "math/NonCopyable.h"

#include <cstdint>
#include <memory>

/// A silhouette image file: a 68-byte header and the pixels of a two-valued image, coded
/// either bit by bit ("T") or as run lengths ("U").
///
/// Header (integers in the byte order of the machine that wrote the file):
///   0   'L'
///   1   coding: 'T' one bit a pixel, row-major, least significant bit first (set = 255);
///       'U' 32-bit integers: first pixel value, 0, then the lengths of the runs of equal
///       pixels, alternating between the first value and its complement
///   2   2 reserved bytes
///   4   width, 8 height, 12 data size in bytes (signed 32-bit)
///   16  name, 52 bytes, NUL-terminated
///   68  the data
/// A file from a machine of the other byte order is recognised by a width or height that
/// reads as negative or above maxSide; its integers are then reversed.
///
/// Reading checks everything against the file before it allocates: the sizes, the data size
/// the coding implies ("T": ceil(width x height / 8) bytes; "U": a multiple of 4), the data
/// size against the bytes the file holds, and (for "U") that the runs cover the image exactly.
/// Failures print the reason and throw std::runtime_error.
class Sil : NonCopyable {
public:
    static constexpr int headerSize = 68;
    static constexpr int nameSize = 52;
    /// Largest width or height a file may give.
    static constexpr int maxSide = 100000;
    /// Largest number of pixels a silhouette may have (that of the largest photograph).
    static constexpr long long maxPixels = 1LL << 28;

    /// Reads the file `name`. Throws "Can't read file" (it cannot be opened), "unknown
    /// header" (shorter than the header), "wrong silhouette size", "wrong silhouette data
    /// size", "not enough data" or "silhouette runs do not cover the image". A coding other
    /// than 'T' or 'U' prints "magic header = %c" and gives a silhouette without data.
    explicit Sil(const char *name);
    /// Codes the width x height pixels with run lengths ("U"): a pixel is the object (255)
    /// when it is not 0. `name` is kept in the header, cut to 51 characters; null keeps an
    /// empty name. Sizes outside 1..maxSide or beyond maxPixels throw "wrong silhouette size".
    Sil(const unsigned char *pixels, int width, int height, const char *name);

    /// A new width x height image, or null when the silhouette has no data.
    std::unique_ptr<unsigned char[]> decodeSilhouette() const;
    /// Writes header and data to the file named in the header; 1 on success, 0 on failure.
    int write() const;
    /// The same to `path` (the header keeps its name). The file replaces an existing one
    /// only once it is complete.
    int write(const char *path) const;
    /// Writes the decoded pixels as a binary PGM named like `name` with the part after its
    /// last '.' replaced by "pgm"; 1 on success, 0 on failure.
    int saveAsPGM(const char *name) const;

    int getWidth() const { return width; }
    int getHeight() const { return height; }
    char getCoding() const { return coding; }
    int getDataSize() const { return dataSize; }
    const char *getName() const { return name; }
    const unsigned char *getData() const { return data.get(); }

private:
    /// Checks the data against the header; throws with a message when they disagree.
    void checkData(bool swapped);

    char magic;
    char coding;
    char reserved[2];
    int32_t width;
    int32_t height;
    int32_t dataSize;
    char name[nameSize];
    std::unique_ptr<unsigned char[]> data;
};

#endif
