#include "formats/SpzReader.h"

#include "formats/ReadRefusal.h"
#include "formats/SplatFilter.h"
#include "formats/WholeFile.h"
#include "math/Parallel.h"

#include <libdeflate.h>
#include <zlib.h>
#include <zstd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

// The attributes of versions 1 to 3: the whole gzip stream inflated, header first.
std::vector<unsigned char> inflateAll(const char *data, size_t size, Header &h)
{
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        refuse("the decompressor cannot start");
    std::unique_ptr<z_stream, int (*)(z_stream *)> guard(&z, inflateEnd);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    z.avail_in = static_cast<uInt>(std::min<size_t>(size, 0xffffffffu));
    const auto inflateInto = [&](unsigned char *to, size_t n) {
        z.next_out = to;
        z.avail_out = static_cast<uInt>(n);
        while (z.avail_out > 0) {
            const int r = inflate(&z, Z_NO_FLUSH);
            if (r == Z_STREAM_END || (r != Z_OK && r != Z_BUF_ERROR) || (r == Z_BUF_ERROR && z.avail_in == 0))
                break;
        }
        return z.avail_out == 0;
    };
    unsigned char head[16];
    if (!inflateInto(head, sizeof head))
        refuse("the stream ends inside the header");
    h = parseHeader(head, false);
    const size_t total = sizesOf(h).total(h.count);
    if (static_cast<double>(total) > kDeflateRatio * static_cast<double>(size) + 1024)
        refuse(std::to_string(h.count) + " splats do not fit in the file");
    // The whole stream at once by libdeflate, twice as fast as zlib's inflate, when it holds
    // exactly the header and the splats; zlib's way for the rest (extensions after the splats,
    // several gzip members, a broken stream, which zlib then names).
    std::vector<unsigned char> body(16 + total);
    if (libdeflate_decompressor *d = libdeflate_alloc_decompressor()) {
        size_t got = 0;
        const libdeflate_result r = libdeflate_gzip_decompress(d, data, size, body.data(), body.size(), &got);
        libdeflate_free_decompressor(d);
        if (r == LIBDEFLATE_SUCCESS && got == body.size()) {
            body.erase(body.begin(), body.begin() + 16);
            return body;
        }
    }
    body.resize(total);
    if (!inflateInto(body.data(), total))
        refuse("the stream ends inside the splats");
    return body;
}

// The attributes of version 4: each ZSTD frame of the table into its place.
std::vector<unsigned char> decompressStreams(const char *data, size_t size, Header &h)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    if (size < 32)
        refuse("the file ends inside the header");
    h = parseHeader(p, true);
    const unsigned streams = p[15];
    const uint64_t toc = le32(p + 16);
    const Sizes sizes = sizesOf(h);
    const unsigned needed = sizes.per[5] ? 6 : 5;
    if (streams < needed)
        refuse(std::to_string(streams) + " attribute streams (" + std::to_string(needed) + " expected)");
    if (toc < 32 || toc + 16ull * streams > size)
        refuse("the table of streams lies outside the file");
    std::vector<uint64_t> offset(streams + 1, toc + 16ull * streams);
    for (unsigned k = 0; k < streams; ++k) {
        const uint64_t packed = le64(p + toc + 16 * k), plain = le64(p + toc + 16 * k + 8);
        offset[k + 1] = offset[k] + packed;
        if (packed > size || offset[k + 1] > size)
            refuse("stream " + std::to_string(k) + " ends beyond the file");
        if (k >= needed)
            continue; // a later version's attribute, stepped over
        const double expected = static_cast<double>(sizes.per[k]) * static_cast<double>(h.count);
        if (static_cast<double>(plain) != expected)
            refuse("stream " + std::to_string(k) + " holds " + std::to_string(plain) + " bytes, not the " +
                   std::to_string(static_cast<unsigned long long>(expected)) + " of its splats");
        if (expected > kZstdRatio * static_cast<double>(packed) + 64)
            refuse(std::to_string(h.count) + " splats do not fit in the file");
    }
    std::vector<unsigned char> body(sizes.total(h.count));
    size_t at = 0;
    for (unsigned k = 0; k < needed; ++k) {
        const size_t n = sizes.per[k] * h.count;
        const size_t got = ZSTD_decompress(body.data() + at, n, p + offset[k], offset[k + 1] - offset[k]);
        if (ZSTD_isError(got) || got != n)
            refuse("stream " + std::to_string(k) + " does not decompress to its splats" +
                   (ZSTD_isError(got) ? std::string(" (") + ZSTD_getErrorName(got) + ")" : std::string()));
        at += n;
    }
    return body;
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

void decode(const Header &h, const unsigned char *body, size_t first, size_t last, SplatScene &s)
{
    static const Tables t;
    const Sizes sz = sizesOf(h);
    const size_t n = h.count;
    const unsigned char *pos = body, *alpha = pos + sz.per[0] * n, *colour = alpha + n, *scale = colour + 3 * n,
                        *rot = scale + 3 * n, *sh = rot + sz.per[4] * n;
    const float unit = 1.f / static_cast<float>(1u << h.fractionalBits);
    const int keep = s.shCoefficients() - 1;
    const size_t filePer = sz.per[5];
    for (size_t i = first; i < last; ++i) {
        float p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = h.version == 1 ? halfToFloat(static_cast<uint16_t>(pos[6 * i + 2 * k] | pos[6 * i + 2 * k + 1] << 8))
                                  : static_cast<float>(fixed24(pos + 9 * i + 3 * k)) * unit;
        s.position[3 * i] = p[0];
        s.position[3 * i + 1] = -p[1];
        s.position[3 * i + 2] = -p[2];
        s.opacity[i] = static_cast<float>(alpha[i]) / 255.f;
        for (int k = 0; k < 3; ++k) {
            s.dc[3 * i + k] = t.colour[colour[3 * i + k]];
            s.scale[3 * i + k] = t.scale[scale[3 * i + k]];
        }
        float q[4];
        if (h.version >= 3) {
            smallestThree(rot + 4 * i, q);
        } else {
            float sum = 0;
            for (int k = 0; k < 3; ++k) {
                q[k] = static_cast<float>(rot[3 * i + k]) / 127.5f - 1;
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
        if (keep == 0)
            continue;
        const unsigned char *c = sh + filePer * i;
        float out[45];
        for (int k = 0; k < keep; ++k)
            for (int ch = 0; ch < 3; ++ch)
                out[3 * k + ch] = t.sh[kNegated[k]][c[3 * k + ch]];
        s.setRest(i, out);
    }
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
    Header h;
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    const std::vector<unsigned char> body =
        p[0] == 0x1f ? inflateAll(data, size, h) : decompressStreams(data, size, h);
    SplatScene scene;
    scene.resize(h.count, std::min(h.degree, 3));
    scene.antialiased = (h.flags & kFlagAntialiased) != 0;
    Parallel::split(h.count, h.count < 4096 ? 1 : 0,
                    [&](unsigned, size_t first, size_t last) { decode(h, body.data(), first, last, scene); });
    SplatFilter::apply(scene, name);
    return scene;
}

SplatScene SpzReader::read(const char *path)
{
    std::vector<char> bytes;
    if (!readWholeFile(path, bytes))
        refuse(std::string("cannot read ") + path);
    return read(bytes.data(), bytes.size(), path);
}
