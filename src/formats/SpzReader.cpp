#include "formats/SpzReader.h"

#include "formats/MappedFile.h"
#include "formats/ReadRefusal.h"
#include "formats/SplatFilter.h"
#include "formats/WholeFile.h"
#include "math/MemoryAdvice.h"
#include "math/Parallel.h"

#include <libdeflate.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr QuietRefusal refuse{"SPZ: "};
constexpr uint32_t kMagic = 0x5053474e;
constexpr int kFlagAntialiased = 1;
// The most either compressor can make of one byte: deflate 1032 (258-byte matches of one bit
// or so each); ZSTD 32768 (a 128 KB run-length block takes four bytes).
constexpr double kDeflateRatio = 1032, kZstdRatio = 32768;
constexpr float kColourScale = 0.15f;

uint32_t le32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint64_t le64(const unsigned char *p) { return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32; }

struct Header {
    uint32_t version = 0;
    size_t count = 0;
    int degree = 0; // the file's, 0..4
    int fractionalBits = 0;
    int flags = 0;
};

// Bytes of each attribute of one splat, in file order: positions, alphas, colours, scales,
// rotations, SH.
struct Sizes {
    size_t per[6];
    size_t total(size_t n) const
    {
        size_t s = 0;
        for (size_t p : per)
            s += p * n;
        return s;
    }
};

Sizes sizesOf(const Header &h)
{
    const size_t coeffs = static_cast<size_t>((h.degree + 1) * (h.degree + 1) - 1);
    return {{h.version == 1 ? 6u : 9u, 1, 3, 3, h.version >= 3 ? 4u : 3u, 3 * coeffs}};
}

Header parseHeader(const unsigned char *p, bool v4)
{
    Header h;
    if (le32(p) != kMagic)
        refuse("not an SPZ file (no \"NGSP\" magic)");
    h.version = le32(p + 4);
    if (v4 ? h.version != 4 : (h.version < 1 || h.version > 3))
        refuse("version " + std::to_string(h.version) + (v4 ? " in a plain header (4 expected)" : " in a gzip stream (1 to 3 expected)"));
    h.count = le32(p + 8);
    h.degree = p[12];
    h.fractionalBits = p[13];
    h.flags = p[14];
    if (h.degree > 4)
        refuse("SH degree " + std::to_string(h.degree) + " (at most 4)");
    if (h.fractionalBits > 24)
        refuse(std::to_string(h.fractionalBits) + " fractional bits (at most 24)");
    return h;
}

// Where the file's bytes come from, a piece at a time: memory, or the file itself, so that a
// read holds neither the whole file nor its whole decompressed body besides the scene.
using Input = std::function<size_t(unsigned char *to, size_t n)>;

// The bytes [0, size) of data, from the start on.
Input memoryInput(const unsigned char *data, size_t size)
{
    return [data, size, at = size_t(0)](unsigned char *to, size_t n) mutable {
        n = std::min(n, size - at);
        std::memcpy(to, data + at, n);
        at += n;
        return n;
    };
}

// The attributes in file order, a block of splats at a time: `use(attribute, first, count,
// bytes)` decodes the bytes of splats [first, first + count) of that attribute.
using Use = std::function<void(int attribute, size_t first, size_t count, const unsigned char *bytes)>;
constexpr size_t kBlock = 65536; // splats

// Versions 1 to 3: one gzip stream (or several members), header first.
class GzipBody {
public:
    explicit GzipBody(Input in) : input(std::move(in)), buffer(1 << 20)
    {
        if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
            refuse("the decompressor cannot start");
    }
    ~GzipBody() { inflateEnd(&z); }
    GzipBody(const GzipBody &) = delete;
    GzipBody &operator=(const GzipBody &) = delete;

    // Exactly n bytes of the stream; false when it ends first.
    bool take(unsigned char *to, size_t n)
    {
        z.next_out = to;
        z.avail_out = static_cast<uInt>(n);
        while (z.avail_out > 0) {
            if (z.avail_in == 0) {
                z.avail_in = static_cast<uInt>(input(buffer.data(), buffer.size()));
                z.next_in = buffer.data();
                if (z.avail_in == 0)
                    return false;
            }
            const int r = inflate(&z, Z_NO_FLUSH);
            if (r == Z_STREAM_END && z.avail_out > 0) {
                inflateReset(&z); // a following gzip member goes on with the data
                continue;
            }
            if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR)
                return false;
        }
        return true;
    }

private:
    z_stream z{};
    Input input;
    std::vector<unsigned char> buffer;
};

void readGzip(const Input &input, size_t fileSize, Header &h, const std::function<void()> &sized, const Use &use)
{
    GzipBody body(input);
    unsigned char head[16];
    if (!body.take(head, sizeof head))
        refuse("the stream ends inside the header");
    h = parseHeader(head, false);
    const Sizes sizes = sizesOf(h);
    if (static_cast<double>(sizes.total(h.count)) > kDeflateRatio * static_cast<double>(fileSize) + 1024)
        refuse(std::to_string(h.count) + " splats do not fit in the file");
    sized();
    std::vector<unsigned char> block;
    for (int a = 0; a < 6; ++a)
        for (size_t first = 0; first < h.count && sizes.per[a]; first += kBlock) {
            const size_t n = std::min(kBlock, h.count - first);
            block.resize(n * sizes.per[a]);
            if (!body.take(block.data(), block.size()))
                refuse("the stream ends inside the splats");
            use(a, first, n, block.data());
        }
}

// A gzip body of up to this many bytes (some four million splats of degree 3) is inflated
// whole by libdeflate, at more than twice zlib's speed; a larger one streams through zlib a
// block at a time, so that reading it holds little besides the scene.
constexpr size_t kWholeBody = size_t(256) << 20;

// The length of the body a gzip stream of one member says it holds (its trailer's, modulo
// 2^32), or 0 when it cannot be inflated whole.
size_t wholeBodyLength(const unsigned char *trailer, size_t fileSize)
{
    const size_t length = le32(trailer);
    return fileSize >= 18 && length <= kWholeBody && static_cast<double>(length) <= kDeflateRatio * static_cast<double>(fileSize)
               ? length
               : 0;
}

// Asks the kernel to map the pages of [p, p + n) for writing now; where it cannot, they are
// mapped when first written, as always.
void populate(unsigned char *p, size_t n)
{
#ifdef MADV_POPULATE_WRITE
    adviseWholePages(p, n, static_cast<size_t>(sysconf(_SC_PAGESIZE)), MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)n;
#endif
}

// Versions 1 to 3 from the gzip stream in memory, inflated whole: false when the stream is not one member of the length its trailer gives holding a whole scene (the
// streamed reading then reads it, or says what is wrong with it).
bool readWholeGzip(const unsigned char *data, size_t size, Header &h, const std::function<void()> &sized, const Use &use)
{
    const size_t length = size >= 18 ? wholeBodyLength(data + size - 4, size) : 0;
    if (length < 16)
        return false;
    // The header first, through zlib, so that the scene is made on the other core while
    // libdeflate inflates the body.
    unsigned char head[16];
    GzipBody start(memoryInput(data, size));
    if (!start.take(head, sizeof head))
        return false;
    const Header parsed = parseHeader(head, false);
    const Sizes sizes = sizesOf(parsed);
    if (sizes.total(parsed.count) > length - 16)
        return false;
    h = parsed;
    std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor *)> z(libdeflate_alloc_decompressor(),
                                                                                  libdeflate_free_decompressor);
    std::unique_ptr<unsigned char[]> body(new unsigned char[length]);
    size_t in = 0, out = 0;
    libdeflate_result result = LIBDEFLATE_BAD_DATA;
    Parallel::run(2, [&](unsigned part) {
        if (part == 1) {
            // The body's pages are mapped on this core rather than one by one as libdeflate
            // first writes them (the kernel leaves pages already written as they are).
            populate(body.get(), length);
            sized();
        } else if (z)
            result = libdeflate_gzip_decompress_ex(z.get(), data, size, body.get(), length, &in, &out);
    });
    if (result != LIBDEFLATE_SUCCESS || in != size || out != length)
        return false; // the scene is sized again by the streamed reading
    const unsigned char *at = body.get() + 16;
    for (int a = 0; a < 6; ++a) {
        if (sizes.per[a] && h.count)
            use(a, 0, h.count, at);
        at += sizes.per[a] * h.count;
    }
    return true;
}

// Version 4: each attribute a ZSTD frame of its own, in the order of the table.
void readZstd(const Input &input, size_t fileSize, Header &h, const std::function<void()> &sized, const Use &use)
{
    unsigned char head[32];
    if (input(head, sizeof head) != sizeof head)
        refuse("the file ends inside the header");
    h = parseHeader(head, true);
    const unsigned streams = head[15];
    const uint64_t toc = le32(head + 16);
    const Sizes sizes = sizesOf(h);
    const unsigned needed = sizes.per[5] ? 6 : 5;
    if (streams < needed)
        refuse(std::to_string(streams) + " attribute streams (" + std::to_string(needed) + " expected)");
    if (toc < 32 || toc + 16ull * streams > fileSize)
        refuse("the table of streams lies outside the file");
    std::vector<unsigned char> table(toc - 32 + 16ull * streams);
    if (input(table.data(), table.size()) != table.size())
        refuse("the file ends inside the table of streams");
    const unsigned char *t = table.data() + (toc - 32);
    uint64_t end = toc + 16ull * streams;
    std::vector<uint64_t> packed(streams);
    for (unsigned k = 0; k < streams; ++k) {
        packed[k] = le64(t + 16 * k);
        const uint64_t plain = le64(t + 16 * k + 8);
        if (packed[k] > fileSize || (end += packed[k]) > fileSize)
            refuse("stream " + std::to_string(k) + " ends beyond the file");
        if (k >= needed)
            continue; // a later version's attribute, stepped over
        const double expected = static_cast<double>(sizes.per[k]) * static_cast<double>(h.count);
        if (static_cast<double>(plain) != expected)
            refuse("stream " + std::to_string(k) + " holds " + std::to_string(plain) + " bytes, not the " +
                   std::to_string(static_cast<unsigned long long>(expected)) + " of its splats");
        if (expected > kZstdRatio * static_cast<double>(packed[k]) + 64)
            refuse(std::to_string(h.count) + " splats do not fit in the file");
    }
    sized();
    std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx *)> z(ZSTD_createDCtx(), ZSTD_freeDCtx);
    std::vector<unsigned char> in(1 << 20), block;
    for (unsigned k = 0; k < needed; ++k) {
        ZSTD_DCtx_reset(z.get(), ZSTD_reset_session_only);
        uint64_t left = packed[k];
        ZSTD_inBuffer src{in.data(), 0, 0};
        const auto fail = [&](size_t r) {
            refuse("stream " + std::to_string(k) + " does not decompress to its splats" +
                   (ZSTD_isError(r) ? std::string(" (") + ZSTD_getErrorName(r) + ")" : std::string()));
        };
        for (size_t first = 0; first < h.count; first += kBlock) {
            const size_t n = std::min(kBlock, h.count - first);
            block.resize(n * sizes.per[k]);
            ZSTD_outBuffer dst{block.data(), block.size(), 0};
            while (dst.pos < dst.size) {
                if (src.pos == src.size) {
                    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
                    if (want == 0 || input(in.data(), want) != want)
                        fail(0);
                    left -= want;
                    src = {in.data(), want, 0};
                }
                const size_t r = ZSTD_decompressStream(z.get(), &dst, &src);
                if (ZSTD_isError(r) || (r == 0 && dst.pos < dst.size))
                    fail(r);
            }
            use(static_cast<int>(k), first, n, block.data());
        }
        // The rest of the frame (its checksum): the next stream starts after it.
        for (unsigned char skip[4096]; left > 0;) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(left, sizeof skip));
            if (input(skip, want) != want)
                fail(0);
            left -= want;
        }
    }
}

int32_t fixed24(const unsigned char *b)
{
    const uint32_t u = b[0] | b[1] << 8 | static_cast<uint32_t>(b[2]) << 16;
    return static_cast<int32_t>(u << 8) >> 8;
}

// The rotation x y z w of version 3 on: the largest component's index in the top two bits,
// then the other three in ascending order from the top, each a sign bit over nine bits of
// magnitude in units of 1 / (511 sqrt 2).
void smallestThree(const unsigned char *b, float *xyzw)
{
    uint32_t bits = le32(b);
    const int largest = static_cast<int>(bits >> 30);
    float sum = 0;
    for (int k = 3; k >= 0; --k) {
        if (k == largest)
            continue;
        const float m = static_cast<float>(bits & 511u) * (static_cast<float>(M_SQRT1_2) / 511.f);
        xyzw[k] = (bits & 512u) ? -m : m;
        sum += xyzw[k] * xyzw[k];
        bits >>= 10;
    }
    xyzw[largest] = std::sqrt(std::max(0.f, 1 - sum));
}

// SH terms whose basis function is odd in y and z together, which the axis change negates
// (of the 15 coefficients beyond the constant one, in the file's order).
constexpr bool kNegated[15] = {1, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 1, 0, 1, 0};

struct Tables {
    float scale[256], colour[256], sh[2][256];
    Tables()
    {
        for (int b = 0; b < 256; ++b) {
            scale[b] = std::exp(static_cast<float>(b) / 16.f - 10.f);
            colour[b] = (static_cast<float>(b) / 255.f - 0.5f) / kColourScale;
            sh[0][b] = static_cast<float>(b - 128) / 128.f;
            sh[1][b] = -static_cast<float>(b - 128) / 128.f;
        }
    }
};

// Splats [first, first + n) of one attribute from its bytes.
void decode(const Header &h, int attribute, size_t first, size_t n, const unsigned char *b, SplatScene &s)
{
    static const Tables t;
    const float unit = 1.f / static_cast<float>(1u << h.fractionalBits);
    const size_t fileSh = sizesOf(h).per[5];
    const int keep = s.shCoefficients() - 1;
    for (size_t j = 0; j < n; ++j) {
        const size_t i = first + j;
        switch (attribute) {
        case 0:
            for (int k = 0; k < 3; ++k) {
                const float p = h.version == 1 ? halfToFloat(static_cast<uint16_t>(b[6 * j + 2 * k] | b[6 * j + 2 * k + 1] << 8))
                                               : static_cast<float>(fixed24(b + 9 * j + 3 * static_cast<size_t>(k))) * unit;
                s.position[3 * i + static_cast<size_t>(k)] = k == 0 ? p : -p;
            }
            break;
        case 1: s.opacity[i] = static_cast<float>(b[j]) / 255.f; break;
        case 2:
            for (int k = 0; k < 3; ++k)
                s.dc[3 * i + static_cast<size_t>(k)] = t.colour[b[3 * j + static_cast<size_t>(k)]];
            break;
        case 3:
            for (int k = 0; k < 3; ++k)
                s.scale[3 * i + static_cast<size_t>(k)] = t.scale[b[3 * j + static_cast<size_t>(k)]];
            break;
        case 4: {
            float q[4];
            if (h.version >= 3) {
                smallestThree(b + 4 * j, q);
            } else {
                float sum = 0;
                for (int k = 0; k < 3; ++k) {
                    q[k] = static_cast<float>(b[3 * j + static_cast<size_t>(k)]) / 127.5f - 1;
                    sum += q[k] * q[k];
                }
                q[3] = std::sqrt(std::max(0.f, 1 - sum));
            }
            float *r = &s.rotation[4 * i];
            r[0] = q[3];
            r[1] = q[0];
            r[2] = -q[1];
            r[3] = -q[2];
            SplatFilter::normaliseRotation(r);
            break;
        }
        default: {
            if (keep == 0)
                return;
            const unsigned char *c = b + fileSh * j;
            float out[45];
            for (int k = 0; k < keep; ++k)
                for (int ch = 0; ch < 3; ++ch)
                    out[3 * k + ch] = t.sh[kNegated[k]][c[3 * k + ch]];
            s.setRest(i, out);
        }
        }
    }
}

// `whole`: the file's bytes when they are in memory (a gzip stream is then inflated whole
// where it can be), else null.
SplatScene readSpz(const Input &input, const unsigned char *whole, size_t size, bool gzip, const std::string &name)
{
    Header h;
    SplatScene scene;
    const auto sized = [&] {
        scene.resize(h.count, std::min(h.degree, 3));
        scene.antialiased = (h.flags & kFlagAntialiased) != 0;
    };
    const Use use = [&](int attribute, size_t first, size_t n, const unsigned char *bytes) {
        Parallel::split(n, n < 4096 ? 1 : 0, [&](unsigned, size_t from, size_t to) {
            decode(h, attribute, first + from, to - from, bytes + from * sizesOf(h).per[attribute], scene);
        });
    };
    if (!gzip)
        readZstd(input, size, h, sized, use);
    else if (!whole || !readWholeGzip(whole, size, h, sized, use))
        readGzip(input, size, h, sized, use);
    SplatFilter::apply(scene, name);
    return scene;
}

} // namespace

bool SpzReader::looksLikeSpz(const char *data, size_t size)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    return size >= 4 && ((p[0] == 0x1f && p[1] == 0x8b) || le32(p) == kMagic);
}

SplatScene SpzReader::read(const char *data, size_t size, const std::string &name)
{
    if (!looksLikeSpz(data, size))
        refuse("neither a gzip stream nor a plain \"NGSP\" header");
    const Input input = memoryInput(reinterpret_cast<const unsigned char *>(data), size);
    return readSpz(input, reinterpret_cast<const unsigned char *>(data), size, static_cast<unsigned char>(data[0]) == 0x1f,
                   name);
}

SplatScene SpzReader::read(const char *path)
{
    std::unique_ptr<FILE, int (*)(FILE *)> f(std::fopen(path, "rb"), std::fclose);
    if (!f || std::fseek(f.get(), 0, SEEK_END) != 0)
        refuse(std::string("cannot read ") + path);
    const long size = std::ftell(f.get());
    char start[4] = {};
    if (size < 0 || std::fseek(f.get(), 0, SEEK_SET) != 0 ||
        std::fread(start, 1, sizeof start, f.get()) != std::min<size_t>(sizeof start, static_cast<size_t>(size)) ||
        std::fseek(f.get(), 0, SEEK_SET) != 0)
        refuse(std::string("cannot read ") + path);
    if (!looksLikeSpz(start, static_cast<size_t>(size)))
        refuse("neither a gzip stream nor a plain \"NGSP\" header");
    const bool gzip = static_cast<unsigned char>(start[0]) == 0x1f;
    // A gzip stream that can be inflated whole is read from the file mapped; any other streams
    // from the file.
    unsigned char trailer[4];
    if (gzip && size >= 18 && std::fseek(f.get(), size - 4, SEEK_SET) == 0 && std::fread(trailer, 1, 4, f.get()) == 4 &&
        wholeBodyLength(trailer, static_cast<size_t>(size))) {
        const MappedFile file(path, refuse);
        return read(file.base, file.length, path);
    }
    if (std::fseek(f.get(), 0, SEEK_SET) != 0)
        refuse(std::string("cannot read ") + path);
    const Input input = [&](unsigned char *to, size_t n) { return std::fread(to, 1, n, f.get()); };
    return readSpz(input, nullptr, static_cast<size_t>(size), gzip, path);
}
