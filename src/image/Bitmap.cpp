#include "image/Bitmap.h"

#include "image/ImageCodecs.h"
#include "image/SimpleCodecs.h"
#include "image/Stream.h"
#include "math/Messages.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using imagecodecs::fail;
using imagecodecs::File;
using imagecodecs::kBadSize;
using imagecodecs::kTooShort;

namespace
{

struct Descriptor {
    int fd;
    explicit Descriptor(int d) : fd(d) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
};

size_t pixelCount(int w, int h)
{
    return static_cast<size_t>(w) * static_cast<size_t>(h);
}

// The three-letter extension of the file-name rule: the path is longer than four characters
// and its fourth character from the end is a dot. Null otherwise.
const char *extensionOf(const char *path)
{
    if (!path)
        return nullptr;
    const size_t n = std::strlen(path);
    return n > 4 && path[n - 4] == '.' ? path + n - 3 : nullptr;
}

bool is(const char *ext, const char *keyword)
{
    return ext && std::strcmp(ext, keyword) == 0;
}

[[noreturn]] void unknownFormat(const char *shown)
{
    msg::diagnostic("%s file format unknown\n", shown ? shown : "(null)");
    fail("error");
}

// Pixels the image owns are malloc'ed: the decoders hand over buffers that realloc grew.
struct FreePixels {
    void operator()(RGB<unsigned char> *p) const { std::free(p); }
};
using PixelBuffer = std::unique_ptr<RGB<unsigned char>[], FreePixels>;

RGB<unsigned char> *allocatePixels(size_t count)
{
    void *p = std::malloc(std::max<size_t>(count, 1) * 3);
    if (!p)
        throw std::bad_alloc();
    return static_cast<RGB<unsigned char> *>(p);
}

off_t fileSize(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 ? st.st_size : 0;
}

} // namespace

// ---- construction ----

void Bitmap::zero()
{
    width = height = 0;
    pixels = nullptr;
    nComments = 0;
    comments.clear();
    mapAddress = nullptr;
    mapLength = 0;
    components = 0;
    ownsPixels = false;
    for (int i = 0; i < PYRAMID_LEVELS; ++i)
        levelStart[i] = levelHeight[i] = levelWidth[i] = levelScale[i] = 0;
}

Bitmap::Bitmap()
{
    zero();
}

Bitmap::Bitmap(int w, int h)
{
    zero();
    if (w < 0 || h < 0 || (long long)w * h > MAX_PIXELS)
        fail(kBadSize);
    width = w;
    height = h;
    if (w > 0 && h > 0) {
        void *p = std::calloc(pixelCount(w, h), 3);
        if (!p)
            throw std::bad_alloc();
        pixels = static_cast<RGB<unsigned char> *>(p);
        ownsPixels = true;
    }
}

Bitmap::Bitmap(int w, int h, RGB<unsigned char> *buffer)
{
    zero();
    width = w;
    height = h;
    pixels = buffer;
}

Bitmap::Bitmap(int w, int h, const unsigned char *grey) : Bitmap(w, h)
{
    if (!pixels || !grey)
        return;
    const size_t n = pixelCount(w, h);
    for (size_t i = 0; i < n; ++i)
        pixels[i] = RGB<unsigned char>(grey[i], grey[i], grey[i]);
}

Bitmap::Bitmap(const char *path)
{
    zero();
    mapImage(path);
}

Bitmap::Bitmap(FILE *stream, const char *ext)
{
    zero();
    const bool known = is(ext, "ppm") || is(ext, "pgm") || is(ext, "jpg") || is(ext, "png");
    if (!known)
        unknownFormat(ext);
    if (!stream)
        fail("Can't read file");
    if (is(ext, "ppm"))
        loadPPM(stream);
    else if (is(ext, "pgm"))
        loadPGM(stream);
    else if (is(ext, "jpg"))
        loadJPG(stream);
    else
        loadPNG(stream);
}

Bitmap::Bitmap(Stream &stream, const char *ext) : Bitmap(static_cast<FILE *>(stream), ext) {}

Bitmap::Bitmap(Bitmap &&other) noexcept
{
    zero();
    *this = std::move(other);
}

Bitmap &Bitmap::operator=(Bitmap &&other) noexcept
{
    if (this == &other)
        return *this;
    clear();
    width = other.width;
    height = other.height;
    pixels = other.pixels;
    nComments = other.nComments;
    comments = std::move(other.comments);
    mapAddress = other.mapAddress;
    mapLength = other.mapLength;
    components = other.components;
    ownsPixels = other.ownsPixels;
    std::copy(other.levelStart, other.levelStart + PYRAMID_LEVELS, levelStart);
    std::copy(other.levelHeight, other.levelHeight + PYRAMID_LEVELS, levelHeight);
    std::copy(other.levelWidth, other.levelWidth + PYRAMID_LEVELS, levelWidth);
    std::copy(other.levelScale, other.levelScale + PYRAMID_LEVELS, levelScale);
    other.zero();
    return *this;
}

Bitmap::~Bitmap()
{
    clear();
}

void Bitmap::clear()
{
    if (mapAddress)
        munmap(mapAddress, mapLength);
    else if (ownsPixels)
        std::free(pixels);
    zero();
}

// A reader builds the new image aside: the old one is released only when the new one is
// complete, and a reader that fails leaves the image empty.
template <class Read> void Bitmap::replaceWith(Read read)
{
    Bitmap fresh;
    try {
        read(fresh);
    } catch (...) {
        clear();
        throw;
    }
    *this = std::move(fresh);
}

// Every decoder hands over the same way: its malloc'ed RGB rows become the image's pixels,
// and PNG texts its comments.
void Bitmap::adopt(imagecodecs::Decoded &decoded)
{
    for (const auto &text : decoded.texts)
        comments.push_back(std::make_unique<Comment>(text.first.c_str(), text.second.c_str()));
    nComments = static_cast<int>(comments.size());
    pixels = reinterpret_cast<RGB<unsigned char> *>(decoded.release());
    ownsPixels = true;
    width = decoded.width;
    height = decoded.height;
    components = decoded.components;
}

template <class Decode> void Bitmap::load(Decode decode)
{
    replaceWith([&](Bitmap &b) {
        imagecodecs::Decoded decoded = decode();
        b.adopt(decoded);
    });
}

// ---- access ----

RGB<unsigned char> Bitmap::getPixel(float x, float y) const
{
    const float cx = x + 0.5f, cy = y + 0.5f;
    // Compared as floats first: a far-away or NaN coordinate can't be converted to int.
    if (!(cx > -1.0f && cx < static_cast<float>(width) && cy > -1.0f && cy < static_cast<float>(height)))
        return RGB<unsigned char>();
    const int col = static_cast<int>(cx), row = static_cast<int>(cy);
    if (col < 0 || col >= width || row < 0 || row >= height)
        return RGB<unsigned char>();
    return get(col, row);
}

RGB<float> Bitmap::getColor(float x, float y) const
{
    const float sx = x - 0.5f, sy = y - 0.5f;
    if (!(sx > -2.0f && sx < static_cast<float>(width) + 1 && sy > -2.0f &&
          sy < static_cast<float>(height) + 1))
        return RGB<float>();
    // floor, not truncation: left of the first pixel centre the left neighbour is the black
    // outside, and both weights stay within 0..1.
    const int u = static_cast<int>(std::floor(sx)), v = static_cast<int>(std::floor(sy));
    const float fx = sx - u, fy = sy - v;
    const auto at = [this](int px, int py) {
        return px >= 0 && px < width && py >= 0 && py < height ? get(px, py) : RGB<unsigned char>();
    };
    const RGB<unsigned char> p00 = at(u, v), p01 = at(u, v + 1), p10 = at(u + 1, v), p11 = at(u + 1, v + 1);
    const auto column = [fy](unsigned char top, unsigned char bottom) {
        return static_cast<int>(static_cast<unsigned char>(static_cast<int>(top * (1 - fy)))) +
               static_cast<int>(static_cast<unsigned char>(static_cast<int>(bottom * fy)));
    };
    const auto mix = [fx](int left, int right) { return left * (1 - fx) + right * fx; };
    return RGB<float>(mix(column(p00.r, p01.r), column(p10.r, p11.r)),
                      mix(column(p00.g, p01.g), column(p10.g, p11.g)),
                      mix(column(p00.b, p01.b), column(p10.b, p11.b)));
}

std::unique_ptr<Bitmap> Bitmap::clone()
{
    return std::make_unique<Bitmap>(width, height, pixels);
}

// ---- file input ----

namespace {

// Loaders by extension: `load` reads the file into memory, `map` maps it where the format
// allows and otherwise loads it.
struct ImageFormat {
    const char *ext;
    void (Bitmap::*load)(const char *);
    void (Bitmap::*map)(const char *);
};

const ImageFormat kFormats[] = {
    {"tga", &Bitmap::loadTGA, &Bitmap::mapTGA},   {"ppm", &Bitmap::loadPPM, &Bitmap::mapPPM},
    {"pgm", &Bitmap::loadPGM, &Bitmap::loadPGM},   {"ima", &Bitmap::loadIMA, &Bitmap::loadIMA},
    {"rvb", &Bitmap::loadRVB, &Bitmap::mapRVB},   {"jpg", &Bitmap::loadJPG, &Bitmap::loadJPG},
    {"tif", &Bitmap::loadTIFF, &Bitmap::loadTIFF}, {"png", &Bitmap::loadPNG, &Bitmap::loadPNG},
    // PAM files go through the netpbm reader, which knows them by their "P7"; their samples
    // are converted, so they are never mapped.
    {"pam", &Bitmap::loadPPM, &Bitmap::loadPPM},
};

const ImageFormat *formatOf(const char *ext)
{
    for (const ImageFormat &f : kFormats)
        if (is(ext, f.ext))
            return &f;
    return nullptr;
}

} // namespace

void Bitmap::loadImage(const char *path) { readByExtension(path, false); }

void Bitmap::mapImage(const char *path) { readByExtension(path, true); }

void Bitmap::readByExtension(const char *path, bool mapped)
{
    if (!path) {
        clear();
        fail("Can't read file");
    }
    const ImageFormat *format = formatOf(extensionOf(path));
    if (!format) {
        clear();
        // The mapping reader has always named the file by its last three characters.
        const size_t n = std::strlen(path);
        unknownFormat(mapped && n > 3 ? path + n - 3 : path);
    }
    (this->*(mapped ? format->map : format->load))(path);
}

void Bitmap::loadPPM(FILE *stream)
{
    load([&] { return imagecodecs::decodeNetpbm(stream, false); });
}

void Bitmap::loadPGM(FILE *stream)
{
    load([&] { return imagecodecs::decodeNetpbm(stream, true); });
}

void Bitmap::loadPPM(const char *path)
{
    File f(path ? std::fopen(path, "rb") : nullptr);
    loadPPM(f.get());
}

void Bitmap::loadPGM(const char *path)
{
    File f(path ? std::fopen(path, "rb") : nullptr);
    loadPGM(f.get());
}

void Bitmap::loadTGA(const char *path)
{
    File f(path ? std::fopen(path, "rb") : nullptr);
    load([&] { return imagecodecs::decodeTga(f.get()); });
}

void Bitmap::loadRVB(const char *path)
{
    load([&] { return imagecodecs::decodeRvb(path); });
}

void Bitmap::loadIMA(const char *path)
{
    load([&] { return imagecodecs::decodeIma(path); });
}

void Bitmap::loadJPG(FILE *stream)
{
    load([&] { return imagecodecs::decodeJpeg(stream); });
}

void Bitmap::loadJPG(const char *path)
{
    File f(path ? std::fopen(path, "rb") : nullptr);
    loadJPG(f.get());
}

void Bitmap::loadPNG(FILE *stream)
{
    load([&] { return imagecodecs::decodePng(stream); });
}

void Bitmap::loadPNG(const char *path)
{
    File f(path ? std::fopen(path, "rb") : nullptr);
    loadPNG(f.get());
}

void Bitmap::loadTIFF(const char *path)
{
    load([&] { return imagecodecs::decodeTiff(path); });
}

void Bitmap::loadfromfloat(const char *path, int w, int h)
{
    load([&] { return imagecodecs::decodeFloats(path, w, h); });
}

// ---- memory mapping ----

void Bitmap::mapFile(int fd, size_t length)
{
    // Private and writable: the in-place operations may change the pixels, and copy-on-write
    // keeps those changes out of the file.
    mapAddress = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    mapLength = length;
    test_mapping();
}

void Bitmap::test_mapping()
{
    if (mapAddress != MAP_FAILED)
        return;
    const int error = errno;
    mapAddress = nullptr;
    mapLength = 0;
    const char *name = nullptr;
    switch (error) {
    case ENXIO:
        name = "ENXIO";
        break;
    case EBADF:
        name = "EBADF";
        break;
    case EAGAIN:
        name = "EAGAIN";
        break;
    case ENOMEM:
        name = "ENOMEM";
        break;
    case EACCES:
        name = "EACCES";
        break;
    case ENODEV:
        name = "ENODEV";
        break;
    case EINVAL:
        name = "EINVAL";
        break;
    default:
        break;
    }
    if (name) {
        msg::diagnostic("\nmmap: %s", name);
    }
    fail("error");
}

void Bitmap::mapPPM(const char *path)
{
    bool plain = false;
    replaceWith([&](Bitmap &b) {
        Descriptor file(path ? ::open(path, O_RDONLY | O_CLOEXEC) : -1);
        if (file.fd < 0)
            fail("Can't read file");
        const off_t size = fileSize(file.fd);
        if (size <= 0)
            fail("not a ppm file!");
        b.mapFile(file.fd, static_cast<size_t>(size));
        const auto *bytes = static_cast<const unsigned char *>(b.mapAddress);
        const imagecodecs::NetpbmLayout layout =
            imagecodecs::netpbmLayout(bytes, static_cast<size_t>(size), false);
        if (layout.plain) {
            b.clear();
            plain = true;
            return;
        }
        if (pixelCount(layout.width, layout.height) * 3 > static_cast<size_t>(size) - layout.offset)
            fail(kTooShort);
        b.pixels = reinterpret_cast<RGB<unsigned char> *>(static_cast<unsigned char *>(b.mapAddress) +
                                                          layout.offset);
        b.ownsPixels = true;
        b.width = layout.width;
        b.height = layout.height;
    });
    // Text samples can't be used in place: a plain file is read into memory instead.
    if (plain)
        loadPPM(path);
}

void Bitmap::mapTGA(const char *path)
{
    const bool hadPixels = ownsPixels && width;
    replaceWith([&](Bitmap &b) {
        Descriptor file(path ? ::open(path, O_RDONLY | O_CLOEXEC) : -1);
        if (file.fd < 0)
            fail("Can't read file");
        unsigned char header[18];
        if (pread(file.fd, header, 18, 0) != 18)
            fail(kTooShort);
        if (!imagecodecs::tgaMappable(header)) {
            msg::error("version de tga non implementee, dommage\n");
            msg::error("tga non compresse uniquement\n");
            fail("Can't handle format");
        }
        const int w = imagecodecs::tgaWidth(header), h = imagecodecs::tgaHeight(header);
        if (!imagecodecs::sizeAccepted(w, h))
            fail(kBadSize);
        const size_t offset = 18 + static_cast<size_t>(header[0]);
        const size_t length = offset + pixelCount(w, h) * 3;
        if (static_cast<size_t>(fileSize(file.fd)) < length)
            fail(kTooShort);
        if (hadPixels) {
            msg::note("je vire les pixels\n");
        }
        b.mapFile(file.fd, length);
        b.pixels =
            reinterpret_cast<RGB<unsigned char> *>(static_cast<unsigned char *>(b.mapAddress) + offset);
        b.ownsPixels = true;
        b.width = w;
        b.height = h;
    });
}

void Bitmap::mapRVB(const char *path)
{
    replaceWith([&](Bitmap &b) {
        int w = 0, h = 0;
        imagecodecs::rvbSizes(path, w, h);
        Descriptor file(::open(path, O_RDONLY | O_CLOEXEC));
        if (file.fd < 0)
            fail("Can't read file");
        const off_t size = fileSize(file.fd);
        if (static_cast<size_t>(size) < pixelCount(w, h) * 3)
            fail(kTooShort);
        b.mapFile(file.fd, static_cast<size_t>(size));
        b.pixels = static_cast<RGB<unsigned char> *>(b.mapAddress);
        b.ownsPixels = true;
        b.width = w;
        b.height = h;
    });
}

int Bitmap::unmap()
{
    if (!mapAddress)
        return 1;
    const int result = munmap(mapAddress, mapLength);
    mapAddress = nullptr;
    mapLength = 0;
    // The pixels lived in the mapping: keeping the pointer would leave a dangling image.
    pixels = nullptr;
    ownsPixels = false;
    width = height = 0;
    return result == 0 ? 0 : 1;
}

// ---- file output ----

int Bitmap::save(const char *path) const
{
    const char *ext = extensionOf(path);
    if (is(ext, "ppm"))
        return savePPM(path);
    if (is(ext, "png"))
        return savePNG(path);
    if (is(ext, "jpg"))
        return saveJPEG(path, 100);
    msg::diagnostic("%s file format unknown\n", path ? path : "(null)");
    return 0;
}

int Bitmap::savePPM(const char *path) const
{
    return imagecodecs::writePpm(path, reinterpret_cast<const unsigned char *>(pixels), width, height) ==
                   imagecodecs::Written
               ? 1
               : 0;
}

int Bitmap::savePNG(const char *path) const
{
    return imagecodecs::writePng(path, reinterpret_cast<const unsigned char *>(pixels), width, height, 3) ==
                   imagecodecs::Written
               ? 1
               : 0;
}

int Bitmap::saveJPEG(const char *path, int quality) const
{
    return imagecodecs::writeJpeg(path, reinterpret_cast<const unsigned char *>(pixels), width, height,
                                  quality) == imagecodecs::Written
               ? 1
               : 0;
}

int Bitmap::saveasfloat(const char *path) const
{
    const imagecodecs::WriteResult result =
        imagecodecs::writeFloats(path, reinterpret_cast<const unsigned char *>(pixels), width, height);
    if (result == imagecodecs::CantCreate) {
        msg::diagnostic("can not open file\n");
    }
    return result == imagecodecs::Written ? 1 : 0;
}

// ---- in-place operations ----

namespace
{

void setMask(RGB<unsigned char> &p, bool on)
{
    const unsigned char v = on ? 255 : 0;
    p = RGB<unsigned char>(v, v, v);
}

} // namespace

void Bitmap::threshold(float t)
{
    float scaled = t * 255.0f;
    if (!(scaled >= 0))
        scaled = 0;
    if (scaled > 255)
        scaled = 255;
    const auto c = static_cast<unsigned char>(scaled);
    const size_t n = pixels ? pixelCount(width, height) : 0;
    for (size_t i = 0; i < n; ++i) {
        RGB<unsigned char> &p = pixels[i];
        setMask(p, p.r > c || p.g > c || p.b > c);
    }
}

void Bitmap::slice(int lo, int hi)
{
    const size_t n = pixels ? pixelCount(width, height) : 0;
    const auto inside = [lo, hi](int v) { return lo < v && v < hi; };
    for (size_t i = 0; i < n; ++i) {
        RGB<unsigned char> &p = pixels[i];
        setMask(p, inside(p.r) || inside(p.g) || inside(p.b));
    }
}

void Bitmap::invert()
{
    const size_t n = pixels ? pixelCount(width, height) : 0;
    for (size_t i = 0; i < n; ++i) {
        RGB<unsigned char> &p = pixels[i];
        p = RGB<unsigned char>(255 - p.r, 255 - p.g, 255 - p.b);
    }
}

void Bitmap::grow(int n)
{
    if (n <= 0 || !pixels || width <= 0 || height <= 0)
        return;
    const size_t count = pixelCount(width, height);
    PixelBuffer front(allocatePixels(count));
    PixelBuffer back(n > 1 ? allocatePixels(count) : nullptr);
    const RGB<unsigned char> *source = pixels;
    RGB<unsigned char> *target = front.get();
    for (int pass = 0; pass < n; ++pass) {
        for (int y = 0; y < height; ++y) {
            const int y0 = std::max(0, y - 1), y1 = std::min(height - 1, y + 1);
            for (int x = 0; x < width; ++x) {
                const int x0 = std::max(0, x - 1), x1 = std::min(width - 1, x + 1);
                int m = 255;
                for (int yy = y0; yy <= y1; ++yy)
                    for (int xx = x0; xx <= x1; ++xx)
                        m = std::min<int>(m, source[static_cast<size_t>(yy) * width + xx].r);
                const int own = source[static_cast<size_t>(y) * width + x].r;
                const auto v = static_cast<unsigned char>(std::min(own, m + 1));
                target[static_cast<size_t>(y) * width + x] = RGB<unsigned char>(v, v, v);
            }
        }
        source = target;
        target = target == front.get() ? back.get() : front.get();
    }
    PixelBuffer &result = source == front.get() ? front : back;

    // The result replaces the old buffer, which goes the way it came: unmapped, freed, or left
    // to its owner.
    if (mapAddress) {
        munmap(mapAddress, mapLength);
        mapAddress = nullptr;
        mapLength = 0;
    } else if (ownsPixels) {
        std::free(pixels);
    }
    pixels = result.release();
    ownsPixels = true;
}

void Bitmap::flipX()
{
    if (!pixels)
        return;
    for (int y = 0; y < height; ++y) {
        RGB<unsigned char> *row = pixels + static_cast<size_t>(y) * width;
        std::reverse(row, row + width);
    }
}

void Bitmap::flipY()
{
    if (!pixels)
        return;
    for (int y = 0; y < height / 2; ++y) {
        RGB<unsigned char> *top = pixels + static_cast<size_t>(y) * width;
        RGB<unsigned char> *bottom = pixels + static_cast<size_t>(height - 1 - y) * width;
        std::swap_ranges(top, top + width, bottom);
    }
}

int Bitmap::pyramid(int levels)
{
    for (int i = 0; i < PYRAMID_LEVELS; ++i)
        levelStart[i] = levelHeight[i] = levelWidth[i] = levelScale[i] = 0;
    levelStart[0] = 0;
    levelHeight[0] = height / 2;
    levelWidth[0] = width;
    levelScale[0] = 1;
    if (!pixels || width <= 0 || height <= 0)
        return 0;

    const size_t base = pixelCount(width, height / 2);
    for (size_t i = 0; i < base; ++i) {
        RGB<unsigned char> &p = pixels[i];
        if (p.r || p.g || p.b)
            setMask(p, true);
    }

    const long long capacity = static_cast<long long>(width) * height;
    const int last = std::min(levels, PYRAMID_LEVELS - 1);
    int built = 0;
    for (int i = 1; i <= last; ++i) {
        const int ph = levelHeight[i - 1], pw = levelWidth[i - 1], ps = levelStart[i - 1];
        const int h = (ph + 1) / 2, w = (pw + 1) / 2;
        const long long start = static_cast<long long>(ps) + static_cast<long long>(ph) * pw;
        // A container too small for its levels (a one-pixel-wide strip, say) stops the
        // pyramid instead of writing past the pixels.
        if (start + static_cast<long long>(h) * w > capacity)
            break;
        levelScale[i] = 2 * levelScale[i - 1];
        levelStart[i] = static_cast<int>(start);
        levelHeight[i] = h;
        levelWidth[i] = w;
        for (int j = 0; j < h; ++j)
            for (int k = 0; k < w; ++k) {
                int half = 0, empty = 0, seen = 0;
                // Blocks at an odd right or bottom edge hold fewer than four pixels.
                for (int row = 2 * j; row < std::min(2 * j + 2, ph); ++row)
                    for (int col = 2 * k; col < std::min(2 * k + 2, pw); ++col) {
                        const unsigned char v =
                            pixels[static_cast<size_t>(ps) + static_cast<size_t>(row) * pw + col].r;
                        ++seen;
                        if (v == 128)
                            ++half;
                        else if (v == 0)
                            ++empty;
                    }
                unsigned char value = 255;
                if (half > 0 || (empty > 0 && empty < seen))
                    value = 128;
                else if (empty == seen)
                    value = 0;
                pixels[static_cast<size_t>(start) + static_cast<size_t>(j) * w + k].r = value;
            }
        built = i;
    }
    return built;
}
