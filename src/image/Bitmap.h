#ifndef VELMORA_BITMAP_H
#define VELMORA_BITMAP_H

#include "image/Comment.h"
#include "image/RGB.h"

#include <cstddef>
#include <cstdio>
#include <memory>
#include <vector>

class Stream;
namespace imagecodecs
{
struct Decoded;
}

/// The program's raster image: width x height pixels of 8-bit R, G, B, row-major, row 0
/// first, rows packed without gaps (pixel (x, y) starts at byte (y x width + x) x 3).
///
/// Errors: every reader raises std::runtime_error whose what() is one of these texts:
///   "Can't read file"         the file (or a ".dim" side file of RVB) can't be opened
///   "can't read file"         an IMA ".dim" or ".ima" file can't be opened
///   "not a ppm file!", "not a pgm file!"   not a P6 / P3 (P5 / P2) netpbm header
///   "bad sample value"        a plain (P3 / P2) sample that isn't a decimal number
///   "sample above the maximum value"   a plain sample beyond the maximum value
///   "not an png format"       not a PNG signature
///   "Can't handle format"     a TGA variant loadTGA doesn't read (or, for mapTGA, anything but
///                             uncompressed 24-bit true colour), or a TIFF the RGBA reader
///                             can't decode
///   "colour index beyond the colour map"   a colour-mapped TGA pixel without a map entry
///   "format unknown"          an IMA sample type not listed
///   "error"                   unknown file extension, a mapping that failed, libpng setup
///   "error in reading file"   a raw float file can't be opened
///   "file too short"          the file ends before the pixels its header announces
///   "image size out of range" a width or height that is zero, negative, or makes more than
///                             MAX_PIXELS pixels
///   "maximum value is not 255"   a PPM or PGM that isn't 8 bits a sample
///   "bad .dim file"           an RVB ".dim" file without two sizes
///   or the text of libpng or libjpeg itself (for example "Premature end of JPEG file").
/// A reader that fails leaves the image empty (0 x 0, no pixels, no comments). Nothing reads
/// beyond the end of a file or a mapping, and no header alone makes a reader allocate more
/// than the pixels that really arrive (or MAX_PIXELS pixels for interlaced PNG, progressive
/// JPEG and TIFF, which need the whole image at once).
///
/// Every reader gives the pixels in the order above, whatever order the file keeps them in,
/// except the mapped forms (mapPPM, mapTGA, mapRVB), which point into the file and so use its
/// bytes exactly as stored: a mapped TGA keeps the file's blue, green, red bytes and its row
/// order (bottom row first for most TGA files). mapImage and the path constructor map TGA
/// files, so they give that order too; use loadImage or loadTGA for the picture as it is meant
/// to be seen.
///
/// Writers return 1 on success and 0 on failure; a file being written replaces an existing
/// one only once it is complete.
///
/// An image owns its pixels when it allocated or mapped them; one that wraps a caller's buffer,
/// or a clone(), does not, and the caller keeps those pixels alive for as long as it is used.
/// Not copyable (a copy would share or double-free the pixels); movable.
class Bitmap
{
  public:
    /// Largest number of pixels a reader accepts (16384 x 16384).
    static constexpr long long MAX_PIXELS = 1LL << 28;
    /// Number of pyramid levels the tables hold (levels 0..11).
    static constexpr int PYRAMID_LEVELS = 12;

    // Fields: read them freely; change them only through the operations below.
    int width;
    int height;
    RGB<unsigned char> *pixels;
    int nComments;
    std::vector<std::unique_ptr<Comment>> comments; ///< PNG text chunks in file order; none for other formats
    void *mapAddress;                ///< start of the file mapping, or null when not mapped
    size_t mapLength;                ///< length of the mapping
    int components;                  ///< colour components of a loaded JPEG file (1 or 3), else 0
    bool ownsPixels;                 ///< pixels are released (freed or unmapped) with the image
    int levelStart[PYRAMID_LEVELS];  ///< pyramid: pixel index of each level's first pixel
    int levelHeight[PYRAMID_LEVELS]; ///< pyramid: rows of each level
    int levelWidth[PYRAMID_LEVELS];  ///< pyramid: columns of each level
    int levelScale[PYRAMID_LEVELS];  ///< pyramid: 1, 2, 4, ... base pixels per level pixel

    /// An empty image.
    Bitmap();
    /// w x h black pixels. Zero sizes make an image without pixels; a negative size or one
    /// beyond MAX_PIXELS throws "image size out of range".
    Bitmap(int w, int h);
    /// Wraps the caller's buffer of w x h pixels without copying it (not owned).
    Bitmap(int w, int h, RGB<unsigned char> *buffer);
    /// Copies w x h grey bytes into R = G = B (owned). Sizes as for Bitmap(w, h).
    Bitmap(int w, int h, const unsigned char *grey);
    /// mapImage(path): mapped into memory where the format allows, loaded otherwise.
    explicit Bitmap(const char *path);
    /// Reads an image from an already open stream (which may be a download) by `ext`: exactly
    /// "ppm", "pgm", "jpg" or "png". Any other extension prints "<ext> file format unknown"
    /// on standard error and throws "error"; a null stream throws "Can't read file".
    Bitmap(FILE *stream, const char *ext);
    /// The same from a Stream; a closed stream throws "Can't read file".
    Bitmap(Stream &stream, const char *ext);
    Bitmap(Bitmap &&other) noexcept;
    Bitmap &operator=(Bitmap &&other) noexcept;
    Bitmap(const Bitmap &) = delete;
    Bitmap &operator=(const Bitmap &) = delete;
    ~Bitmap();

    int getWidth() const { return width; }
    int getHeight() const { return height; }
    /// The pixel at (x, y); the caller keeps (x, y) inside the image.
    RGB<unsigned char> &get(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
    const RGB<unsigned char> &get(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    int getNComments() const { return nComments; }
    /// Comment i (0 <= i < getNComments()).
    const Comment *getComment(int i) const { return comments[static_cast<size_t>(i)].get(); }

    /// Nearest pixel: column trunc(x + 0.5), row trunc(y + 0.5); black outside the image.
    RGB<unsigned char> getPixel(float x, float y) const;
    /// Bilinear sample with pixel centres at half-integers; neighbours outside the image count
    /// as black, so the colour fades to black over the outer half pixel.
    RGB<float> getColor(float x, float y) const;
    /// A new image sharing this one's pixels (not owning them): changing one changes the
    /// other, and the clone must not outlive this image's pixels.
    std::unique_ptr<Bitmap> clone();

    /// Reads the file by its extension: the last three characters when the path is longer
    /// than four characters and the fourth from the end is "."; exactly one of "tga", "ppm",
    /// "pgm", "ima", "rvb", "jpg", "tif", "png". Anything else prints "<path> file format
    /// unknown" on standard error and throws "error".
    void loadImage(const char *path);
    /// As loadImage, but raw PPM, TGA and RVB files are mapped into memory (their pixels are
    /// then used exactly as stored, copy-on-write: changing them never changes the file; for a
    /// TGA that means the file's byte and row order, see mapTGA). A plain PPM is loaded. An
    /// unknown extension prints "<ext> file format unknown".
    void mapImage(const char *path);

    /// 8-bit PPM, raw "P6" or plain "P3" (decimal samples). "#" comment lines may stand
    /// anywhere in the header, and between the samples of a plain file.
    void loadPPM(const char *path);
    void loadPPM(FILE *stream);
    /// 8-bit PGM, raw "P5" or plain "P2"; each grey sample becomes R = G = B.
    void loadPGM(const char *path);
    void loadPGM(FILE *stream);
    /// TGA: true colour of 24 or 32 bits (alpha dropped), 8-bit grey, or colour-mapped with
    /// 8-bit indices and 24- or 32-bit map entries; uncompressed or run-length encoded. The
    /// origin bits are honoured and the file's blue, green, red become red, green, blue, so the
    /// image is the picture other programs show (unlike mapTGA).
    void loadTGA(const char *path);
    /// Raw RGB bytes; width and height ("%i %i") come from the path with ".rvb" replaced by
    /// ".dim".
    void loadRVB(const char *path);
    /// First slice of an IMA volume: "<base>.dim" holds "width height depth" and optionally
    /// "-type T" (U8, S8, U16, S16, U32, S32, FLOAT; U8 when absent); "<base>.ima" the
    /// samples. Integer samples give their first byte in file order; FLOAT slices are
    /// stretched from their minimum (0) to their maximum (255).
    void loadIMA(const char *path);
    /// Baseline or progressive JPEG, grey or colour; sets `components`.
    void loadJPG(const char *path);
    void loadJPG(FILE *stream);
    /// First image of a TIFF file through libtiff's RGBA reader (alpha dropped).
    void loadTIFF(const char *path);
    /// PNG of any colour type and depth as 8-bit RGB (alpha dropped, 16-bit scaled); text
    /// chunks before the image data become the comments.
    void loadPNG(const char *path);
    void loadPNG(FILE *stream);
    /// w x h native floats v in 0..1 as 16-bit fixed point: f = trunc(v x 65535), R = f / 256,
    /// G = f mod 256, B = 0 (values outside 0..1 are clamped). "error in reading file" when
    /// the file can't be opened.
    void loadfromfloat(const char *path, int w, int h);

    /// Maps a raw PPM (comment lines allowed), writable copy-on-write.
    void mapPPM(const char *path);
    /// Maps an uncompressed 24-bit true-colour TGA. The pixels are the file's bytes as stored:
    /// blue, green, red for standard files, and rows in the file's order whatever the origin
    /// bit says (bottom row first for most files), since a mapping can't rearrange them. Other
    /// TGA variants are not mapped. A rejected header prints
    /// "version de tga non implementee, dommage" and "tga non compresse uniquement" and throws
    /// "Can't handle format"; replacing owned pixels prints "je vire les pixels".
    void mapTGA(const char *path);
    /// Maps a raw RGB file whose sizes are in its ".dim" side file.
    void mapRVB(const char *path);
    /// Releases the mapping; the image is then empty. 0 when a mapping was released, 1 when
    /// nothing was mapped or the release failed.
    int unmap();

    /// By extension as loadImage: "ppm", "png", or "jpg" (quality 100). Another extension
    /// prints "<path> file format unknown" on standard error and returns 0.
    int save(const char *path) const;
    /// "P6\n<w> <h>\n255\n" and the pixel bytes.
    int savePPM(const char *path) const;
    /// 8-bit RGB PNG, maximum deflate compression.
    int savePNG(const char *path) const;
    /// Baseline JPEG with libjpeg's defaults at `quality` (1..100).
    int saveJPEG(const char *path, int quality) const;
    /// One native float per pixel, (R x 256 + G) / 65535: the inverse of loadfromfloat. Prints
    /// "can not open file" on standard error when the file can't be created.
    int saveasfloat(const char *path) const;

    /// Mask operations: each pixel becomes white (255, 255, 255) or black.
    /// threshold: white when any channel exceeds trunc(t x 255) (t clamped to 0..1).
    void threshold(float t);
    /// slice: white when any channel v has lo < v < hi.
    void slice(int lo, int hi);
    /// Every channel becomes 255 - value.
    void invert();
    /// n passes of grey erosion on channel R: each pixel becomes min(own, m + 1), m the least
    /// R of its 3 x 3 neighbourhood inside the image; the value goes to all three channels.
    /// After n passes a pixel holds the least (R of q + steps from q) over the pixels q at most
    /// n 8-connected steps away. The result lives in a new buffer that the image owns.
    void grow(int n);
    /// Mirrors the columns.
    void flipX();
    /// Mirrors the rows.
    void flipY();
    /// Occupancy pyramid. The image is a container: its top height/2 rows hold the base mask
    /// (every non-zero pixel there becomes white), the rows below receive levels 1..levels one
    /// after another, each half the size of the one before (rounded up; blocks at an odd edge
    /// are clipped). A level pixel's R is 255 when its 2 x 2 block is full, 0 when empty, 128
    /// when mixed or partly full. Fills the level tables; levels is at most 11, and levels that
    /// would not fit in the container are not built. Returns the number of levels built.
    int pyramid(int levels);

  private:
    /// Throws "error" after a failed mmap, naming the cause on standard error.
    void test_mapping();
    /// Releases pixels, mapping and comments: the image becomes empty.
    void clear();
    void zero();
    template <class Read> void replaceWith(Read read);
    /// Takes a decoder's pixels, sizes, components and texts (the image is empty before).
    void adopt(imagecodecs::Decoded &decoded);
    /// replaceWith() around one decoder call.
    template <class Decode> void load(Decode decode);
    void mapFile(int fd, size_t length);
    /// loadImage (mapped false) and mapImage (true): the reader the extension names.
    void readByExtension(const char *path, bool mapped);
};

#endif
