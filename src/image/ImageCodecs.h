#ifndef VELMORA_IMAGECODECS_H
#define VELMORA_IMAGECODECS_H

#include "math/NonCopyable.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

/// The image classes' glue to libpng, libjpeg and libtiff, and the pieces their own readers
/// and writers share. Every decoder raises std::runtime_error with a readable text; none of
/// them ends the process, whatever the file holds.
namespace imagecodecs
{

/// Texts of the errors that readers of several formats raise.
constexpr const char *kTooShort = "file too short";
constexpr const char *kBadSize = "image size out of range";

/// Raises std::runtime_error(text).
[[noreturn]] void fail(const char *text);

/// A stdio file closed with its owner.
struct FileCloser {
    void operator()(FILE *f) const
    {
        if (f)
            std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

/// Largest pixel count any reader accepts (see Bitmap::MAX_PIXELS).
extern const long long maxPixels;

/// Whether a width and a height read from a file make an image a reader accepts: both
/// positive and together at most maxPixels pixels. Each side is checked before they are
/// combined, so no size a header can hold overflows the test.
bool sizeAccepted(long long width, long long height);

/// A byte buffer that grows with the data that actually arrives, so that a size announced by
/// a damaged header never turns into one huge allocation up front. Plain data on purpose: the
/// libpng and libjpeg decoders fill it inside code that those libraries may leave by longjmp.
struct GrowBuffer {
    unsigned char *data; ///< malloc'ed, or null
    size_t capacity;     ///< bytes allocated
};

/// Makes room for at least `needed` bytes (needed <= limit), growing geometrically but never
/// beyond `limit`. False when the memory can't be had; the buffer is then unchanged.
bool growTo(GrowBuffer *buffer, size_t needed, size_t limit);

/// Room for exactly `bytes` bytes at once, for a picture whose bytes are known to be there
/// (a regular file that holds them): large buffers are laid out in huge pages where the system
/// offers them. An empty buffer gets new memory; otherwise as growTo(buffer, bytes, bytes).
/// False when the memory can't be had; the buffer is then unchanged.
bool reserveWhole(GrowBuffer *buffer, size_t bytes);

/// A decoded image: width x height RGB pixels, row 0 first, malloc'ed (take them with
/// release(), or they are freed with the object).
struct Decoded {
    struct Release {
        void operator()(unsigned char *p) const { std::free(p); }
    };
    // malloc'ed by the growing buffers, so that realloc can move them without a copy.
    std::unique_ptr<unsigned char[], Release> pixels;
    int width = 0;
    int height = 0;
    int components = 0; ///< colour components of a JPEG file (1 or 3); 0 for other formats
    std::vector<std::pair<std::string, std::string>> texts; ///< PNG text chunks before the image data

    unsigned char *release() { return pixels.release(); }
};

/// Reads a PNG image from the current position of `in` (which may be a pipe): grey, grey and
/// alpha, palette, RGB and RGBA at any bit depth, interlaced or not, become 8-bit RGB; alpha
/// (including a palette's transparency chunk) is dropped, leaving each pixel the colour it was
/// given, and 16-bit samples are scaled to the nearest 8-bit value. Gamma and colour profile
/// chunks are not applied. Texts: "Can't read file" (null stream), "not an png format"
/// (bad signature), "file too short", "image size out of range", or libpng's own message.
Decoded decodePng(FILE *in);

/// Reads a baseline or progressive JPEG image (grey or colour) from `in` as RGB, turned or
/// mirrored as the Orientation of an Exif segment says (a camera held upright writes 6 or 8:
/// the picture then has the sensor's sides swapped; imageSize gives the turned size too). A file that
/// ends before its image data is complete fails with libjpeg's "Premature end of JPEG file",
/// image data that stops before the picture is filled with "Corrupt JPEG data: premature end
/// of data segment"; other texts: "Can't read file", "image size out of range", or libjpeg's
/// own message.
Decoded decodeJpeg(FILE *in);

/// Reads the first image of a TIFF file through libtiff's RGBA reader, or, for stripped grey
/// or RGB files of 3 to 15 bits a sample (10-, 12- and 14-bit scans, which that reader
/// refuses), through libtiff's scanlines, each sample scaled to the nearest of 0..255. Texts: "Can't read
/// file" (libtiff refuses to open it), "Can't handle format" (anything the RGBA reader can't
/// decode, including a damaged or truncated strip), "image size out of range".
Decoded decodeTiff(const char *path);

/// The size of the picture in a JPEG (its header, through libjpeg), PNG (its IHDR chunk,
/// which a PNG file starts with) or PNM file (its header), chosen by the extension "jpg",
/// "jpeg", "png", "ppm", "pgm", "pbm" or "pnm" in either case, without decoding any pixel. False for other extensions and for a file that
/// cannot be read or whose size a reader would refuse; the caller then decodes the image.
bool imageSize(const char *path, int &width, int &height);

/// Outcome of a writer.
enum WriteResult { CantCreate = -1, WriteFailed = 0, Written = 1 };

/// Writes an 8-bit PNG, RGB (channels 3) or RGBA (channels 4), rows `pixels` + i x width x
/// channels: memory level 8, window bits 15, no interlace. `level` is the deflate level
/// (clamped to 1..9): 9, the default, gives the smallest files with libpng's adaptive row
/// filters; 1 to 3 write several times faster (one cheap row filter and run-length
/// matching, which suits rendered frames with their flat backgrounds), with the same pixels.
WriteResult writePng(const char *path, const unsigned char *pixels, int width, int height, int channels,
                     int level = 9);

/// Writes a baseline JPEG of RGB pixels at `quality` (1..100; clamped by libjpeg).
WriteResult writeJpeg(const char *path, const unsigned char *pixels, int width, int height, int quality);

/// A file being written: the bytes go to a temporary file beside `path`, which replaces `path`
/// only when commit() succeeds, so that a writer failing part way never leaves a truncated file
/// under the final name. A path naming something other than a regular file (a device, a pipe,
/// a symbolic link) is written directly.
class OutputFile : NonCopyable
{
  public:
    explicit OutputFile(const char *path);
    ~OutputFile();

    /// The open stream, or null when the file couldn't be created.
    FILE *file() const { return out; }
    /// Closes the stream and puts the file in place; false (and nothing left behind) when a
    /// write, the close or the rename failed.
    bool commit();

  private:
    void abandon();

    FILE *out;
    std::string finalPath;
    std::string tempPath; ///< empty when writing directly
};

} // namespace imagecodecs

#endif
