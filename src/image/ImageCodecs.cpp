#include "image/ImageCodecs.h"

#include "image/Bitmap.h"
#include "math/MemoryAdvice.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// libjpeg's header needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

// libpng and libjpeg report errors through callbacks that must not return. Ours longjmp back
// to a setjmp in a run*() function below, and the C++ wrapper around that function turns the
// failure into an exception. The run*() functions hold no object with a destructor and keep
// their state in a plain job structure reached through a pointer, so jumping out of libpng or
// libjpeg skips nothing that needed cleaning and loses no variable's value.

namespace imagecodecs
{

const long long maxPixels = Bitmap::MAX_PIXELS;

namespace
{

const char *const kNoMemory = "out of memory";

// Progressive JPEG files make libjpeg keep every coefficient of the image; this caps what it
// may take (a full-size image of maxPixels pixels fits), so that a header alone can't ask
// for more.
const long kJpegMemory = 1L << 31;

// ---- PNG decoding ----

// Largest block libpng may take for one chunk, read or expanded. libpng allocates a chunk at
// the length its header announces before reading any of it, so without a bound of ours a
// few bytes claiming a 2 GB text chunk make it ask for 2 GB. No row of an accepted image and
// no sensible comment (texture coordinates included) comes near it.
const png_alloc_size_t kPngChunkMax = 256u << 20;

png_voidp pngMalloc(png_structp, png_alloc_size_t size)
{
    return size > kPngChunkMax ? nullptr : std::malloc(size);
}

void pngFree(png_structp, png_voidp p) { std::free(p); }

struct PngError {
    char message[200];
};

void pngFail(png_structp png, png_const_charp text)
{
    if (auto *error = static_cast<PngError *>(png_get_error_ptr(png)))
        std::snprintf(error->message, sizeof error->message, "%s", text);
    png_longjmp(png, 1);
}

// Warnings (unknown chunks, suspicious colour profiles) don't stop decoding and aren't ours
// to print.
void pngIgnore(png_structp, png_const_charp) {}

// The stdio reader of libpng says "Read Error" for a file that stops early; say what happened.
void pngReadFile(png_structp png, png_bytep data, size_t length)
{
    auto *in = static_cast<FILE *>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, in) != length)
        png_error(png, kTooShort);
}

// The libpng objects of one image, the size and the row table; zeroed with memset before use.
struct PngJob {
    png_structp png;
    png_infop info;
    png_bytep *rowTable;
    int width;
    int height;
    PngError error;
};

// Runs `work` on the job's libpng objects. A libpng error comes back here through longjmp and
// returns false, so `work` must hold nothing that needs a destructor.
template <class Work>
bool runPng(PngJob *job, Work work)
{
    if (setjmp(png_jmpbuf(job->png)))
        return false;
    return work(job->png, job->info);
}

// The row table serves interlaced images only.
struct PngDecodeJob : PngJob {
    FILE *in;
    GrowBuffer pixels;
};

bool decodePngRows(PngDecodeJob *job, png_structp png, png_infop info)
{
    png_set_read_fn(png, job->in, pngReadFile);
    png_set_sig_bytes(png, 8);
    // Bounds the text that a compressed chunk may expand to.
    png_set_chunk_malloc_max(png, kPngChunkMax);
    png_read_info(png, info);

    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (!sizeAccepted(width, height))
        png_error(png, kBadSize);
    const int colorType = png_get_color_type(png, info);
    const int bitDepth = png_get_bit_depth(png, info);

    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    // Not only for colour types with an alpha channel: expanding a palette that has a
    // transparency chunk adds one too. Transparent pixels keep the colour they were given.
    png_set_strip_alpha(png);
    if (!(colorType & PNG_COLOR_MASK_COLOR)) {
        if (bitDepth < 8)
            png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
    }
    if (bitDepth == 16) {
#ifdef PNG_READ_SCALE_16_TO_8_SUPPORTED
        png_set_scale_16(png);
#else
        png_set_strip_16(png);
#endif
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const size_t rowBytes = static_cast<size_t>(width) * 3;
    if (png_get_rowbytes(png, info) != rowBytes)
        png_error(png, "Can't handle format");
    const size_t total = rowBytes * height;
    if (passes == 1) {
        // Row by row, so memory follows the rows that really decode.
        for (png_uint_32 y = 0; y < height; ++y) {
            if (!growTo(&job->pixels, (y + 1) * rowBytes, total))
                png_error(png, kNoMemory);
            png_read_row(png, job->pixels.data + y * rowBytes, nullptr);
        }
    } else {
        // Interlaced passes revisit every row, so the whole image must exist from the start.
        if (!growTo(&job->pixels, total, total))
            png_error(png, kNoMemory);
        job->rowTable = static_cast<png_bytep *>(std::malloc(sizeof(png_bytep) * height));
        if (!job->rowTable)
            png_error(png, kNoMemory);
        for (png_uint_32 y = 0; y < height; ++y)
            job->rowTable[y] = job->pixels.data + y * rowBytes;
        png_read_image(png, job->rowTable);
    }
    job->width = static_cast<int>(width);
    job->height = static_cast<int>(height);
    return true;
}

bool runPngDecode(PngDecodeJob *job)
{
    return runPng(job, [job](png_structp png, png_infop info) { return decodePngRows(job, png, info); });
}

// ---- JPEG ----

struct JpegError {
    jpeg_error_mgr manager; // first, so that libjpeg's pointer to it is a pointer to this
    jmp_buf jump;
    bool toleratesEnd; // set once every scanline has arrived
    char message[JMSG_LENGTH_MAX];
};

void jpegFail(j_common_ptr cinfo)
{
    auto *error = reinterpret_cast<JpegError *>(cinfo->err);
    cinfo->err->format_message(cinfo, error->message);
    std::longjmp(error->jump, 1);
}

// libjpeg only warns when the file ends early, or when its image data runs out before the
// size in its header is filled, and pads the picture with grey; a picture with a missing part
// is a broken file to us. Once every scanline has arrived, a missing end marker is harmless
// and stays a warning. Other warnings are dropped silently.
void jpegMessage(j_common_ptr cinfo, int level)
{
    auto *error = reinterpret_cast<JpegError *>(cinfo->err);
    if (level < 0) {
        const int code = cinfo->err->msg_code;
        if ((code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) && !error->toleratesEnd)
            jpegFail(cinfo);
        cinfo->err->num_warnings++;
    }
}

void setUpJpegErrors(JpegError *error)
{
    jpeg_std_error(&error->manager);
    error->manager.error_exit = jpegFail;
    error->manager.emit_message = jpegMessage;
    error->toleratesEnd = false;
    error->message[0] = '\0';
}

void createJpeg(jpeg_decompress_struct *cinfo) { jpeg_create_decompress(cinfo); }
void createJpeg(jpeg_compress_struct *cinfo) { jpeg_create_compress(cinfo); }

// A libjpeg object with this module's error handling; once `created`, the caller destroys it.
// Jobs are zeroed with memset before they run.
template <class Info>
struct JpegJob {
    Info cinfo;
    JpegError error;
    bool created;
};

// Creates the job's libjpeg object and runs `work` on it. A libjpeg error comes back here
// through longjmp and returns false, so `work` must hold nothing that needs a destructor.
template <class Info, class Work>
bool runJpeg(JpegJob<Info> *job, Work work)
{
    setUpJpegErrors(&job->error);
    job->cinfo.err = &job->error.manager;
    if (setjmp(job->error.jump))
        return false;
    createJpeg(&job->cinfo);
    job->created = true;
    return work(&job->cinfo);
}

// The Orientation tag (0x0112) of the first image directory of an Exif APP1 segment: 1 to 8,
// or 1 when the segment is not Exif, says nothing or says it out of bounds. Every offset comes
// from the file, so each is checked against the segment before it is followed.
int exifOrientation(const unsigned char *data, size_t size)
{
    if (size < 14 || std::memcmp(data, "Exif\0\0", 6) != 0)
        return 1;
    const unsigned char *tiff = data + 6;
    const size_t n = size - 6;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
        return 1;
    const auto u16 = [&](size_t at) {
        return little ? unsigned(tiff[at] | tiff[at + 1] << 8) : unsigned(tiff[at] << 8 | tiff[at + 1]);
    };
    const auto u32 = [&](size_t at) {
        return little ? u16(at) | uint32_t(u16(at + 2)) << 16 : uint32_t(u16(at)) << 16 | u16(at + 2);
    };
    if (u16(2) != 42)
        return 1;
    const uint32_t ifd = u32(4);
    if (ifd < 8 || ifd > n - 2)
        return 1;
    const unsigned entries = u16(ifd);
    for (unsigned i = 0; i < entries; ++i) {
        const size_t at = ifd + 2 + 12 * static_cast<size_t>(i);
        if (at + 12 > n)
            return 1;
        // A SHORT kept in the entry itself, as the standard writes it.
        if (u16(at) == 0x0112 && u16(at + 2) == 3 && u32(at + 4) >= 1) {
            const unsigned v = u16(at + 8);
            return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
        }
    }
    return 1;
}

// The orientation the saved APP1 markers of a read header give.
int savedOrientation(j_decompress_ptr cinfo)
{
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data) {
            const int o = exifOrientation(m->data, m->data_length);
            if (o != 1)
                return o;
        }
    return 1;
}

// Turns `w` x `h` RGB pixels to the picture an Exif orientation describes: 2 mirrors, 3 turns a
// half turn, 4 flips, 5 transposes, 6 turns a quarter clockwise, 7 transposes across the other
// diagonal, 8 turns a quarter anticlockwise. 5 to 8 swap the sides. Null when memory runs out.
unsigned char *orientPixels(const unsigned char *in, int w, int h, int orientation, int &outW, int &outH)
{
    const bool swapped = orientation >= 5;
    outW = swapped ? h : w;
    outH = swapped ? w : h;
    auto *out = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(w) * h * 3));
    if (!out)
        return nullptr;
    for (int y = 0; y < outH; ++y)
        for (int x = 0; x < outW; ++x) {
            int sx = x, sy = y;
            switch (orientation) {
            case 2: sx = w - 1 - x; break;
            case 3: sx = w - 1 - x, sy = h - 1 - y; break;
            case 4: sy = h - 1 - y; break;
            case 5: sx = y, sy = x; break;
            case 6: sx = y, sy = h - 1 - x; break;
            case 7: sx = w - 1 - y, sy = h - 1 - x; break;
            case 8: sx = w - 1 - y, sy = x; break;
            default: break;
            }
            std::memcpy(out + (static_cast<size_t>(y) * outW + x) * 3, in + (static_cast<size_t>(sy) * w + sx) * 3, 3);
        }
    return out;
}

struct JpegDecodeJob : JpegJob<jpeg_decompress_struct> {
    FILE *in;
    GrowBuffer pixels;
    int width;
    int height;
    int components;
    int orientation;
};

bool decodeJpegRows(JpegDecodeJob *job, j_decompress_ptr cinfo)
{
    cinfo->mem->max_memory_to_use = kJpegMemory;
    jpeg_stdio_src(cinfo, job->in);
    // Cameras write the picture as the sensor saw it and say in Exif how it is to be turned.
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xffff);
    jpeg_read_header(cinfo, TRUE);
    job->orientation = savedOrientation(cinfo);
    if (!sizeAccepted(cinfo->image_width, cinfo->image_height)) {
        std::snprintf(job->error.message, sizeof job->error.message, "%s", kBadSize);
        return false;
    }
    job->components = cinfo->num_components;
    // libjpeg-turbo expands grey to RGB itself, which spares a second pass over the image.
    cinfo->out_color_space = JCS_RGB;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_components != 3) {
        std::snprintf(job->error.message, sizeof job->error.message, "%s", "Can't handle format");
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(cinfo->output_width) * 3;
    const size_t total = rowBytes * cinfo->output_height;
    const unsigned kBatch = 16;
    JSAMPROW rows[kBatch];
    while (cinfo->output_scanline < cinfo->output_height) {
        const unsigned first = cinfo->output_scanline;
        const unsigned n = std::min(kBatch, cinfo->output_height - first);
        if (!growTo(&job->pixels, (first + n) * rowBytes, total)) {
            std::snprintf(job->error.message, sizeof job->error.message, "%s", kNoMemory);
            return false;
        }
        for (unsigned i = 0; i < n; ++i)
            rows[i] = job->pixels.data + (first + i) * rowBytes;
        jpeg_read_scanlines(cinfo, rows, n);
    }
    job->error.toleratesEnd = true;
    jpeg_finish_decompress(cinfo);
    job->width = static_cast<int>(cinfo->output_width);
    job->height = static_cast<int>(cinfo->output_height);
    return true;
}

bool runJpegDecode(JpegDecodeJob *job)
{
    return runJpeg(job, [job](j_decompress_ptr cinfo) { return decodeJpegRows(job, cinfo); });
}

struct JpegEncodeJob : JpegJob<jpeg_compress_struct> {
    FILE *out;
    const unsigned char *pixels;
    int width;
    int height;
    int quality;
};

bool encodeJpegRows(JpegEncodeJob *job, j_compress_ptr cinfo)
{
    jpeg_stdio_dest(cinfo, job->out);
    cinfo->image_width = static_cast<JDIMENSION>(job->width);
    cinfo->image_height = static_cast<JDIMENSION>(job->height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, job->quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    const size_t rowBytes = static_cast<size_t>(job->width) * 3;
    while (cinfo->next_scanline < cinfo->image_height) {
        // libjpeg only reads the rows; its interface just isn't const.
        JSAMPROW row = const_cast<JSAMPROW>(job->pixels + cinfo->next_scanline * rowBytes);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

bool runJpegEncode(JpegEncodeJob *job)
{
    return runJpeg(job, [job](j_compress_ptr cinfo) { return encodeJpegRows(job, cinfo); });
}

// ---- PNG encoding ----

struct PngEncodeJob : PngJob {
    FILE *out;
    int colorType;
    int level;
};

bool encodePngRows(PngEncodeJob *job, png_structp png, png_infop info)
{
    png_init_io(png, job->out);
    png_set_compression_level(png, job->level);
    png_set_compression_mem_level(png, 8);
    if (job->level <= 3) {
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
        png_set_compression_strategy(png, Z_RLE);
    } else {
        png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
    }
    png_set_compression_window_bits(png, 15);
    png_set_compression_method(png, 8);
    png_set_IHDR(png, info, static_cast<png_uint_32>(job->width), static_cast<png_uint_32>(job->height), 8,
                 job->colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_flush(png);
    png_write_image(png, job->rowTable);
    png_write_end(png, info);
    return true;
}

bool runPngEncode(PngEncodeJob *job)
{
    return runPng(job, [job](png_structp png, png_infop info) { return encodePngRows(job, png, info); });
}

} // namespace

void fail(const char *text) { throw std::runtime_error(text); }

bool sizeAccepted(long long width, long long height)
{
    return width > 0 && height > 0 && width <= maxPixels && height <= maxPixels / width;
}

namespace
{

// Pictures of photographic size written once from end to end: in 2 MiB pages that costs a few
// hundred page faults instead of one every 4 KiB, which on virtual machines takes longer than
// decoding. Only advice: without huge pages nothing changes.
const size_t kHugePage = size_t(2) << 20;

void adviseHugePages(void *p, size_t bytes)
{
#ifdef MADV_HUGEPAGE
    if (bytes >= 4 * kHugePage)
        adviseWholePages(p, bytes, kHugePage, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

} // namespace

bool reserveWhole(GrowBuffer *buffer, size_t bytes)
{
    if (buffer->data)
        return growTo(buffer, bytes, bytes);
    void *p = nullptr;
    if (bytes >= 4 * kHugePage) {
        p = std::aligned_alloc(kHugePage, (bytes + kHugePage - 1) / kHugePage * kHugePage);
        adviseHugePages(p, bytes);
    } else {
        p = std::malloc(bytes > 0 ? bytes : 1);
    }
    if (!p)
        return false;
    buffer->data = static_cast<unsigned char *>(p);
    buffer->capacity = bytes;
    return true;
}

bool growTo(GrowBuffer *buffer, size_t needed, size_t limit)
{
    if (needed <= buffer->capacity)
        return true;
    // Doubling keeps the number of copies small; glibc moves big blocks by remapping pages.
    const size_t kStart = size_t(1) << 20;
    size_t capacity = std::max(needed, std::max(kStart, buffer->capacity * 2));
    if (capacity > limit)
        capacity = std::max(needed, limit);
    void *grown = std::realloc(buffer->data, capacity);
    if (!grown)
        return false;
    buffer->data = static_cast<unsigned char *>(grown);
    buffer->capacity = capacity;
    // The last growth: the rest of the picture is written into it once from end to end.
    if (capacity == limit)
        adviseHugePages(buffer->data, capacity);
    return true;
}

Decoded decodePng(FILE *in)
{
    if (!in)
        throw std::runtime_error("Can't read file");
    unsigned char signature[8];
    if (std::fread(signature, 1, 8, in) != 8 || png_sig_cmp(signature, 0, 8) != 0)
        throw std::runtime_error("not an png format");

    PngDecodeJob job;
    std::memset(&job, 0, sizeof job);
    job.in = in;
    job.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &job.error, pngFail, pngIgnore, nullptr, pngMalloc,
                                       pngFree);
    if (!job.png)
        throw std::runtime_error("error");
    job.info = png_create_info_struct(job.png);
    if (!job.info) {
        png_destroy_read_struct(&job.png, nullptr, nullptr);
        throw std::runtime_error("error");
    }
    const bool ok = runPngDecode(&job);

    Decoded result;
    result.pixels.reset(job.pixels.data);
    std::free(job.rowTable);
    try {
        if (ok) {
            png_textp texts = nullptr;
            int count = 0;
            png_get_text(job.png, job.info, &texts, &count);
            for (int i = 0; i < count; ++i)
                result.texts.emplace_back(texts[i].key ? texts[i].key : "",
                                          texts[i].text ? texts[i].text : "");
        }
    } catch (...) {
        png_destroy_read_struct(&job.png, &job.info, nullptr);
        throw;
    }
    png_destroy_read_struct(&job.png, &job.info, nullptr);
    if (!ok)
        throw std::runtime_error(job.error.message);
    result.width = job.width;
    result.height = job.height;
    return result;
}

Decoded decodeJpeg(FILE *in)
{
    if (!in)
        throw std::runtime_error("Can't read file");
    JpegDecodeJob job;
    std::memset(&job, 0, sizeof job);
    job.in = in;
    const bool ok = runJpegDecode(&job);
    if (job.created)
        jpeg_destroy_decompress(&job.cinfo);
    Decoded result;
    result.pixels.reset(job.pixels.data);
    if (!ok)
        throw std::runtime_error(job.error.message);
    result.width = job.width;
    result.height = job.height;
    result.components = job.components;
    if (job.orientation > 1) {
        unsigned char *turned = orientPixels(result.pixels.get(), job.width, job.height, job.orientation,
                                             result.width, result.height);
        if (!turned)
            throw std::runtime_error(kNoMemory);
        result.pixels.reset(turned);
    }
    return result;
}

namespace {

struct JpegSizeJob : JpegJob<jpeg_decompress_struct> {
    FILE *in;
    int orientation;
};

bool runJpegSize(JpegSizeJob *job)
{
    return runJpeg(job, [job](j_decompress_ptr cinfo) {
        jpeg_stdio_src(cinfo, job->in);
        jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xffff);
        jpeg_read_header(cinfo, TRUE);
        job->orientation = savedOrientation(cinfo);
        return true;
    });
}

// Width and height from a PNM header (P1 to P6): numbers separated by white space, with
// comments from '#' to the end of the line.
bool pnmSize(FILE *in, long long &w, long long &h)
{
    if (std::fgetc(in) != 'P')
        return false;
    const int kind = std::fgetc(in);
    if (kind < '1' || kind > '6')
        return false;
    long long *const fields[] = {&w, &h};
    for (long long *field : fields) {
        int c = std::fgetc(in);
        for (;;) {
            if (c == '#')
                while (c != EOF && c != '\n')
                    c = std::fgetc(in);
            else if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
                c = std::fgetc(in);
            else
                break;
        }
        if (c < '0' || c > '9')
            return false;
        *field = 0;
        for (; c >= '0' && c <= '9'; c = std::fgetc(in))
            if ((*field = *field * 10 + (c - '0')) > (1LL << 40))
                return false;
    }
    return true;
}

} // namespace

bool imageSize(const char *path, int &width, int &height)
{
    if (!path)
        return false;
    const char *dot = std::strrchr(path, '.');
    std::string ext = dot ? dot + 1 : "";
    for (char &c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool pnm = ext == "ppm" || ext == "pgm" || ext == "pbm" || ext == "pnm";
    if (ext != "jpg" && ext != "jpeg" && ext != "png" && !pnm)
        return false;
    File in(std::fopen(path, "rb"));
    if (!in)
        return false;
    long long w = 0, h = 0;
    if (pnm) {
        if (!pnmSize(in.get(), w, h))
            return false;
    } else if (ext == "png") {
        unsigned char head[24];
        static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (std::fread(head, 1, sizeof head, in.get()) != sizeof head || std::memcmp(head, signature, 8) != 0 ||
            std::memcmp(head + 12, "IHDR", 4) != 0)
            return false;
        const auto be32 = [](const unsigned char *p) {
            return static_cast<long long>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        };
        w = be32(head + 16);
        h = be32(head + 20);
    } else {
        JpegSizeJob job;
        std::memset(&job, 0, sizeof job);
        job.in = in.get();
        const bool ok = runJpegSize(&job);
        if (ok) {
            // The size of the picture as decodeJpeg turns it.
            const bool swapped = job.orientation >= 5;
            w = swapped ? job.cinfo.image_height : job.cinfo.image_width;
            h = swapped ? job.cinfo.image_width : job.cinfo.image_height;
        }
        if (job.created)
            jpeg_destroy_decompress(&job.cinfo);
        if (!ok)
            return false;
    }
    if (!sizeAccepted(w, h))
        return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

WriteResult writePng(const char *path, const unsigned char *pixels, int width, int height, int channels, int level)
{
    if (width <= 0 || height <= 0 || !pixels || (channels != 3 && channels != 4))
        return WriteFailed;
    OutputFile file(path);
    if (!file.file())
        return CantCreate;
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    const size_t rowBytes = static_cast<size_t>(width) * channels;
    for (int y = 0; y < height; ++y)
        rows[y] = const_cast<png_bytep>(pixels + y * rowBytes);

    PngEncodeJob job;
    std::memset(&job, 0, sizeof job);
    job.out = file.file();
    job.rowTable = rows.data();
    job.width = width;
    job.height = height;
    job.colorType = channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    job.level = std::clamp(level, 1, 9);
    job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job.error, pngFail, pngIgnore);
    if (!job.png)
        return WriteFailed;
    job.info = png_create_info_struct(job.png);
    if (!job.info) {
        png_destroy_write_struct(&job.png, nullptr);
        return WriteFailed;
    }
    const bool ok = runPngEncode(&job);
    png_destroy_write_struct(&job.png, &job.info);
    return ok && file.commit() ? Written : WriteFailed;
}

WriteResult writeJpeg(const char *path, const unsigned char *pixels, int width, int height, int quality)
{
    if (width <= 0 || height <= 0 || !pixels)
        return WriteFailed;
    OutputFile file(path);
    if (!file.file())
        return CantCreate;
    JpegEncodeJob job;
    std::memset(&job, 0, sizeof job);
    job.out = file.file();
    job.pixels = pixels;
    job.width = width;
    job.height = height;
    job.quality = quality;
    const bool ok = runJpegEncode(&job);
    if (job.created)
        jpeg_destroy_compress(&job.cinfo);
    return ok && file.commit() ? Written : WriteFailed;
}

// ---- OutputFile ----

OutputFile::OutputFile(const char *path) : out(nullptr)
{
    if (!path || !*path)
        return;
    finalPath = path;
    struct stat st;
    if (lstat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        out = std::fopen(path, "wb");
        return;
    }
    // O_EXCL so that two writers (or a stale leftover) never share one temporary file.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100 && !out; ++attempt) {
        std::string candidate =
            finalPath + "." + std::to_string(getpid()) + "." + std::to_string(counter++) + ".part";
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return;
        }
        out = fdopen(fd, "wb");
        if (!out) {
            ::close(fd);
            ::unlink(candidate.c_str());
            return;
        }
        tempPath = candidate;
    }
}

OutputFile::~OutputFile()
{
    abandon();
}

void OutputFile::abandon()
{
    if (out) {
        std::fclose(out);
        out = nullptr;
    }
    if (!tempPath.empty()) {
        ::unlink(tempPath.c_str());
        tempPath.clear();
    }
}

bool OutputFile::commit()
{
    if (!out)
        return false;
    const bool written = std::fflush(out) == 0 && !std::ferror(out);
    const bool closed = std::fclose(out) == 0;
    out = nullptr;
    if (!written || !closed) {
        abandon();
        return false;
    }
    if (!tempPath.empty()) {
        if (std::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
            abandon();
            return false;
        }
        tempPath.clear();
    }
    return true;
}

} // namespace imagecodecs
