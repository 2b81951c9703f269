#ifndef VELMORA_BITMAP4_H
#define VELMORA_BITMAP4_H

#include <cstddef>
#include <cstdlib>
#include <memory>

/// A four-channel image for frame captures: width x height pixels of 8-bit R, G, B, A,
/// row-major, row 0 first. Not copyable; movable.
class Bitmap4
{
  public:
    int width;
    int height;
    unsigned char *pixels; ///< width x height x 4 bytes, those of `store`

    /// An empty image.
    Bitmap4();
    /// w x h pixels, all channels 0. A negative size or one beyond Bitmap::MAX_PIXELS
    /// throws std::runtime_error "image size out of range".
    Bitmap4(int w, int h);
    Bitmap4(Bitmap4 &&other) noexcept;
    Bitmap4 &operator=(Bitmap4 &&other) noexcept;
    Bitmap4(const Bitmap4 &) = delete;
    Bitmap4 &operator=(const Bitmap4 &) = delete;

    int getWidth() const { return width; }
    int getHeight() const { return height; }
    /// The 4 bytes of pixel (x, y); the caller keeps (x, y) inside the image.
    unsigned char *get(int x, int y) { return pixels + (static_cast<size_t>(y) * width + x) * 4; }

    /// Always PNG, whatever the extension (see savePNG).
    int save(const char *path) const;
    /// 8-bit RGBA PNG (colour type 6), at the deflate level `level` (9, the default, is the
    /// smallest file; 1 to 3 are fast, see imagecodecs::writePng). Returns 1 when written,
    /// 0 when writing failed part way (nothing is left under `path` then); throws
    /// std::runtime_error "imposible to open file" when the file can't be created.
    int savePNG(const char *path, int level = 9) const;

    /// Mirrors the columns.
    void flipX();
    /// Mirrors the rows; OpenGL reads the bottom row first, so captures are flipped before
    /// they are saved.
    void flipY();

  private:
    struct Release {
        void operator()(unsigned char *p) const { std::free(p); }
    };
    // calloc'ed: a capture's zeros come from fresh pages rather than a pass over the buffer.
    std::unique_ptr<unsigned char[], Release> store;
};

#endif
