#include "image/SimpleCodecs.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace imagecodecs
{

namespace
{

const char *const kBadFormat = "Can't handle format";

size_t pixelCount(int w, int h)
{
    return static_cast<size_t>(w) * static_cast<size_t>(h);
}

// Pixels being decoded: memory grows with the rows that arrive, up to the whole image.
class Raster
{
  public:
    Raster(int w, int h) : width(w), height(h), rowBytes(static_cast<size_t>(w) * 3), total(rowBytes * h) {}
    ~Raster() { std::free(buffer.data); }
    Raster(const Raster &) = delete;
    Raster &operator=(const Raster &) = delete;

    /// Room for rows up to and including `row`; returns the start of that row.
    unsigned char *row(int y)
    {
        if (!growTo(&buffer, (static_cast<size_t>(y) + 1) * rowBytes, total))
            throw std::bad_alloc();
        return buffer.data + static_cast<size_t>(y) * rowBytes;
    }
    /// Room for the whole image at once.
    void reserveWhole()
    {
        if (!imagecodecs::reserveWhole(&buffer, total))
            throw std::bad_alloc();
    }
    /// Room for `bytes` bytes from the start.
    unsigned char *reserve(size_t bytes)
    {
        if (!growTo(&buffer, bytes, std::max(bytes, total)))
            throw std::bad_alloc();
        return buffer.data;
    }

    Decoded finish()
    {
        reserve(total);
        Decoded d;
        d.pixels.reset(buffer.data);
        buffer.data = nullptr;
        d.width = width;
        d.height = height;
        return d;
    }

    const int width, height;
    const size_t rowBytes, total;

  private:
    GrowBuffer buffer{nullptr, 0};
};

// Expands grey bytes at the front of `data` into R = G = B in place; from the end, so no grey
// byte is overwritten before it is read.
void expandGrey(unsigned char *data, size_t count)
{
    for (size_t i = count; i-- > 0;) {
        const unsigned char v = data[i];
        data[3 * i] = data[3 * i + 1] = data[3 * i + 2] = v;
    }
}

// Reads exactly `total` bytes into the raster's buffer, which grows with the bytes that
// arrive, so a stream that ends early (a truncated file, a short download) never costs the
// memory its header announced.
// Bytes left in `in` when it is a regular file, else -1 (a pipe, a download, memory).
long long bytesLeft(FILE *in)
{
    struct stat st;
    const int fd = fileno(in);
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    const long long at = ftello(in);
    return at < 0 ? -1 : static_cast<long long>(st.st_size) - at;
}

void readExactly(FILE *in, Raster &raster, size_t total)
{
    // A file that holds every byte gets room for the whole image at once: no copies while
    // growing. Otherwise memory grows with what arrives.
    const long long left = bytesLeft(in);
    if (left >= 0 && static_cast<unsigned long long>(left) >= total)
        raster.reserveWhole();
    size_t got = 0;
    while (got < total) {
        const size_t chunk = std::min(total - got, std::max<size_t>(size_t(1) << 20, got));
        unsigned char *data = raster.reserve(got + chunk);
        const size_t n = std::fread(data + got, 1, chunk, in);
        got += n;
        if (n < chunk)
            fail(kTooShort);
    }
}

// ---- netpbm ----

bool isSpace(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

// Numbers are read up to this value and no further: anything larger is out of range anyway,
// and the bound keeps the arithmetic far from overflow.
const long long kNumberCap = 10000000000LL;

enum class HeaderFault { None, NotNetpbm, TooShort, BadSize, BadMaximum };

struct Header {
    bool plain = false;
    int width = 0;
    int height = 0;
};

// Netpbm header: "P" and the kind, width, height, maximum value, then one whitespace byte.
// Comment lines from "#" to the end of the line may stand between any two fields, as netpbm
// allows: a digit inside a comment is never taken for a size. `next` gives one byte, or -1 at
// the end.
template <class Next> HeaderFault readHeader(Next &next, bool grey, Header &header)
{
    if (next() != 'P')
        return HeaderFault::NotNetpbm;
    const int kind = next();
    if (kind != (grey ? '5' : '6') && kind != (grey ? '2' : '3'))
        return HeaderFault::NotNetpbm;
    header.plain = kind == '2' || kind == '3';
    long long value[3];
    int c = next();
    for (long long &v : value) {
        for (;;) {
            if (c == '#') {
                while (c != '\n' && c != '\r' && c != -1)
                    c = next();
            } else if (isSpace(c)) {
                c = next();
            } else {
                break;
            }
        }
        if (c == -1)
            return HeaderFault::TooShort;
        if (!isDigit(c))
            return HeaderFault::NotNetpbm;
        v = 0;
        for (; isDigit(c); c = next())
            if (v < kNumberCap)
                v = v * 10 + (c - '0');
        if (c == -1 && !header.plain)
            return HeaderFault::TooShort;
        if (c != -1 && c != '#' && !isSpace(c))
            return HeaderFault::NotNetpbm;
    }
    // `c` is the byte after the maximum value; raw pixels start right after it, or after the
    // end of a comment that follows the number directly. Plain samples may follow the number
    // at once only at the end of the file, which the sample reader then calls too short.
    if (c == '#')
        do {
            c = next();
            if (c == -1)
                return HeaderFault::TooShort;
        } while (c != '\n' && c != '\r');
    if (!sizeAccepted(value[0], value[1]))
        return HeaderFault::BadSize;
    if (value[2] != 255)
        return HeaderFault::BadMaximum;
    header.width = static_cast<int>(value[0]);
    header.height = static_cast<int>(value[1]);
    return HeaderFault::None;
}

void raise(HeaderFault fault, bool grey)
{
    switch (fault) {
    case HeaderFault::None:
        return;
    case HeaderFault::NotNetpbm:
        fail(grey ? "not a pgm file!" : "not a ppm file!");
    case HeaderFault::TooShort:
        fail(kTooShort);
    case HeaderFault::BadSize:
        fail(kBadSize);
    case HeaderFault::BadMaximum:
        fail("maximum value is not 255");
    }
}

// The decimal samples of a plain file, separated by whitespace and comments.
void readPlainSamples(FILE *in, Raster &raster, bool grey)
{
    const int samplesPerPixel = grey ? 1 : 3;
    int c = std::getc(in);
    for (int y = 0; y < raster.height; ++y) {
        unsigned char *row = raster.row(y);
        const size_t samples = static_cast<size_t>(raster.width) * samplesPerPixel;
        for (size_t i = 0; i < samples; ++i) {
            for (;;) {
                if (c == '#') {
                    while (c != '\n' && c != '\r' && c != -1)
                        c = std::getc(in);
                } else if (isSpace(c)) {
                    c = std::getc(in);
                } else {
                    break;
                }
            }
            if (c == -1)
                fail(kTooShort);
            if (!isDigit(c))
                fail("bad sample value");
            long long v = 0;
            for (; isDigit(c); c = std::getc(in))
                if (v < kNumberCap)
                    v = v * 10 + (c - '0');
            if (c != -1 && c != '#' && !isSpace(c))
                fail("bad sample value");
            if (v > 255)
                fail("sample above the maximum value");
            if (grey)
                row[3 * i] = row[3 * i + 1] = row[3 * i + 2] = static_cast<unsigned char>(v);
            else
                row[i] = static_cast<unsigned char>(v);
        }
    }
}

// ---- TGA ----

int littleEndian16(const unsigned char *p)
{
    return p[0] | p[1] << 8;
}

// How a TGA file's pixels become RGB.
struct TgaPixels {
    int bytes = 0;                       ///< bytes a pixel in the file
    bool grey = false;                   ///< one grey byte
    bool mapped = false;                 ///< one index into the colour map
    std::vector<unsigned char> colorMap; ///< RGB triples of the map's entries (maybe none)
    int mapFirst = 0;                    ///< index of the map's first entry

    void toRgb(const unsigned char *in, size_t count, unsigned char *out) const
    {
        if (mapped) {
            const size_t entries = colorMap.size() / 3;
            for (size_t i = 0; i < count; ++i) {
                const long index = static_cast<long>(in[i]) - mapFirst;
                if (index < 0 || static_cast<size_t>(index) >= entries)
                    fail("colour index beyond the colour map");
                std::memcpy(out + 3 * i, &colorMap[3 * static_cast<size_t>(index)], 3);
            }
        } else if (grey) {
            for (size_t i = 0; i < count; ++i)
                out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = in[i];
        } else {
            for (size_t i = 0; i < count; ++i, in += bytes) {
                out[3 * i] = in[2];
                out[3 * i + 1] = in[1];
                out[3 * i + 2] = in[0];
            }
        }
    }
};

// Run-length packets may run from one row into the next, so the state lives across rows.
class TgaRunReader
{
  public:
    TgaRunReader(FILE *in, const TgaPixels &format) : file(in), pixels(format) {}

    void readRow(unsigned char *out, int width)
    {
        const size_t bytes = static_cast<size_t>(pixels.bytes);
        int done = 0;
        while (done < width) {
            if (left == 0) {
                const int packet = std::getc(file);
                if (packet == EOF)
                    fail(kTooShort);
                left = (packet & 0x7f) + 1;
                repeated = (packet & 0x80) != 0;
                if (repeated && std::fread(value, 1, bytes, file) != bytes)
                    fail(kTooShort);
            }
            const int n = std::min(left, width - done);
            if (repeated) {
                unsigned char rgb[3];
                pixels.toRgb(value, 1, rgb);
                for (int i = 0; i < n; ++i)
                    std::memcpy(out + 3 * static_cast<size_t>(done + i), rgb, 3);
            } else {
                unsigned char raw[128 * 4];
                if (std::fread(raw, bytes, static_cast<size_t>(n), file) != static_cast<size_t>(n))
                    fail(kTooShort);
                pixels.toRgb(raw, static_cast<size_t>(n), out + 3 * static_cast<size_t>(done));
            }
            left -= n;
            done += n;
        }
    }

  private:
    FILE *file;
    const TgaPixels &pixels;
    int left = 0;
    bool repeated = false;
    unsigned char value[4] = {};
};

void flipRows(unsigned char *data, int width, int height)
{
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height / 2; ++y)
        std::swap_ranges(data + static_cast<size_t>(y) * rowBytes,
                         data + static_cast<size_t>(y + 1) * rowBytes,
                         data + static_cast<size_t>(height - 1 - y) * rowBytes);
}

void flipColumns(unsigned char *data, int width, int height)
{
    for (int y = 0; y < height; ++y) {
        unsigned char *row = data + static_cast<size_t>(y) * width * 3;
        for (int x = 0; x < width / 2; ++x)
            std::swap_ranges(row + 3 * x, row + 3 * x + 3, row + 3 * (width - 1 - x));
    }
}

// ---- side files ----

// Whitespace-separated words of a small text file. Side files hold a handful of numbers and
// keywords; what lies beyond the first 64 kB is not looked at.
std::vector<std::string> wordsOf(FILE *f)
{
    std::vector<std::string> words;
    std::string word;
    int c;
    for (long n = 0; n < 65536 && (c = std::getc(f)) != EOF; ++n) {
        if (isSpace(c)) {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else {
            word += static_cast<char>(c);
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

// A whole word as an integer ("%i" style with base 0: decimal, 0x hexadecimal, 0 octal).
// Values beyond the range of long long saturate, which every size check then refuses.
bool integerOf(const std::string &word, int base, long long &value)
{
    if (word.empty())
        return false;
    char *end = nullptr;
    value = std::strtoll(word.c_str(), &end, base);
    return end && *end == '\0' && end != word.c_str();
}

// ---- PAM ----

// A PAM header after its "P7": lines of a keyword and its value, comments, up to "ENDHDR".
struct PamHeader {
    long long width = -1, height = -1, depth = -1, maxValue = -1;
    std::string tupleType;
};

// One header line without its line end; false at the end of the file. Lines longer than a
// header ever needs are refused rather than gathered without bound.
bool pamLine(FILE *in, std::string &line)
{
    line.clear();
    for (int c = std::getc(in); c != '\n'; c = std::getc(in)) {
        if (c == EOF)
            return !line.empty();
        if (line.size() >= 1024)
            fail("PAM header line too long");
        line += static_cast<char>(c);
    }
    return true;
}

PamHeader readPamHeader(FILE *in)
{
    PamHeader h;
    std::string line;
    // The magic number's own line may hold nothing else.
    if (!pamLine(in, line) || line.find_first_not_of(" \t\r") != std::string::npos)
        fail("not a PAM header");
    for (int lines = 0;; ++lines) {
        if (lines > 1000)
            fail("PAM header without ENDHDR");
        if (!pamLine(in, line))
            fail("PAM header ends before ENDHDR");
        const size_t from = line.find_first_not_of(" \t\r");
        if (from == std::string::npos || line[from] == '#')
            continue;
        const size_t end = line.find_first_of(" \t\r", from);
        const std::string key = line.substr(from, end == std::string::npos ? std::string::npos : end - from);
        std::string value = end == std::string::npos ? "" : line.substr(end);
        value.erase(0, std::min(value.size(), value.find_first_not_of(" \t")));
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.pop_back();
        if (key == "ENDHDR")
            break;
        if (key == "TUPLTYPE") {
            h.tupleType += h.tupleType.empty() ? value : " " + value;
            continue;
        }
        long long *field = key == "WIDTH" ? &h.width : key == "HEIGHT" ? &h.height : key == "DEPTH" ? &h.depth
                           : key == "MAXVAL" ? &h.maxValue : nullptr;
        if (!field)
            fail(("PAM header keyword " + key.substr(0, 32) + " unknown").c_str());
        long long v = 0;
        size_t i = 0;
        for (; i < value.size() && isDigit(value[i]); ++i)
            if (v < kNumberCap)
                v = v * 10 + (value[i] - '0');
        if (i == 0 || i != value.size())
            fail(("PAM header: " + key + " is not a whole number").c_str());
        *field = v;
    }
    if (h.width < 0 || h.height < 0 || h.depth < 0 || h.maxValue < 0)
        fail("PAM header lacks WIDTH, HEIGHT, DEPTH or MAXVAL");
    if (!sizeAccepted(h.width, h.height))
        fail(kBadSize);
    if (h.depth < 1 || h.depth > 4)
        fail("PAM depth is not 1 to 4 (grey or colour, with or without alpha)");
    if (h.maxValue < 1 || h.maxValue > 65535)
        fail("PAM maximum value is not 1 to 65535");
    return h;
}

// The samples after a PAM header: grey (depth 1 or 2) or RGB (3 or 4), alpha dropped, each
// scaled from 0..MAXVAL to the nearest of 0..255. Two bytes a sample, most significant first,
// when MAXVAL is above 255.
Decoded decodePamSamples(FILE *in, const PamHeader &h)
{
    const int width = static_cast<int>(h.width), height = static_cast<int>(h.height);
    const size_t depth = static_cast<size_t>(h.depth);
    const size_t sampleBytes = h.maxValue > 255 ? 2 : 1;
    const size_t count = pixelCount(width, height);
    const size_t pixelBytes = depth * sampleBytes;
    const long long left = bytesLeft(in);
    if (left >= 0 && static_cast<unsigned long long>(left) / pixelBytes < count)
        fail(kTooShort);
    Raster raster(width, height);
    if (left >= 0)
        raster.reserveWhole();
    const bool grey = depth < 3;
    const unsigned maxValue = static_cast<unsigned>(h.maxValue);
    // A chunk of pixels at a time: memory grows with what arrives on a pipe.
    constexpr size_t kChunk = 1 << 16;
    std::vector<unsigned char> chunk(kChunk * pixelBytes);
    for (size_t done = 0; done < count;) {
        const size_t n = std::min(kChunk, count - done);
        if (std::fread(chunk.data(), pixelBytes, n, in) != n)
            fail(kTooShort);
        unsigned char *out = raster.reserve((done + n) * 3) + done * 3;
        for (size_t i = 0; i < n; ++i) {
            const unsigned char *p = chunk.data() + i * pixelBytes;
            for (size_t k = 0; k < 3; ++k) {
                const unsigned char *q = p + (grey ? 0 : k) * sampleBytes;
                unsigned v = sampleBytes == 2 ? (q[0] << 8 | q[1]) : q[0];
                if (v > maxValue)
                    fail("sample above the maximum value");
                out[3 * i + k] = static_cast<unsigned char>(maxValue == 255 ? v : (v * 255 + maxValue / 2) / maxValue);
            }
        }
        done += n;
    }
    return raster.finish();
}

} // namespace

// ---- netpbm ----

Decoded decodeNetpbm(FILE *in, bool grey)
{
    if (!in)
        fail("Can't read file");
    // "P7" is a PAM file, whose header is made of named lines rather than numbers.
    int first[2] = {std::getc(in), -1};
    int held = 1;
    if (first[0] == 'P') {
        first[1] = std::getc(in);
        held = 2;
        if (first[1] == '7')
            return decodePamSamples(in, readPamHeader(in));
    }
    Header header;
    int given = 0;
    auto next = [in, &first, &given, held]() { return given < held ? first[given++] : std::getc(in); };
    raise(readHeader(next, grey, header), grey);
    Raster raster(header.width, header.height);
    if (header.plain) {
        readPlainSamples(in, raster, grey);
    } else {
        const size_t count = pixelCount(header.width, header.height);
        readExactly(in, raster, grey ? count : count * 3);
        if (grey)
            expandGrey(raster.reserve(count * 3), count);
    }
    return raster.finish();
}

NetpbmLayout netpbmLayout(const unsigned char *bytes, size_t size, bool grey)
{
    size_t at = 0;
    auto next = [&]() { return at < size ? int(bytes[at++]) : -1; };
    Header header;
    raise(readHeader(next, grey, header), grey);
    return {header.plain, header.width, header.height, at};
}

// ---- TGA ----

bool tgaMappable(const unsigned char *header)
{
    return header[1] == 0 && header[2] == 2 && header[16] == 24 && (header[17] & 0xcf) == 0;
}

int tgaWidth(const unsigned char *header)
{
    return littleEndian16(header + 12);
}

int tgaHeight(const unsigned char *header)
{
    return littleEndian16(header + 14);
}

Decoded decodeTga(FILE *in)
{
    if (!in)
        fail("Can't read file");
    unsigned char header[18];
    if (std::fread(header, 1, 18, in) != 18)
        fail(kTooShort);
    const int mapType = header[1], imageType = header[2], depth = header[16], descriptor = header[17];
    const int mapFirst = littleEndian16(header + 3), mapLength = littleEndian16(header + 5);
    const int mapEntryBits = header[7];
    const int kind = imageType & ~8; // 1 colour-mapped, 2 true colour, 3 grey; +8 run-length
    const bool runLength = (imageType & 8) != 0;

    TgaPixels format;
    bool accepted = mapType <= 1 && (descriptor & 0xc0) == 0 && kind >= 1 && kind <= 3;
    if (kind == 1)
        accepted = accepted && mapType == 1 && depth == 8 && (mapEntryBits == 24 || mapEntryBits == 32);
    else if (kind == 2)
        accepted = accepted && (depth == 24 || depth == 32);
    else
        accepted = accepted && depth == 8;
    if (!accepted)
        fail(kBadFormat);
    format.bytes = depth / 8;
    format.grey = kind == 3;

    const int w = tgaWidth(header), h = tgaHeight(header);
    if (!sizeAccepted(w, h))
        fail(kBadSize);
    unsigned char identification[255];
    if (std::fread(identification, 1, header[0], in) != header[0])
        fail(kTooShort);
    if (mapType == 1) {
        // A colour map beside true-colour or grey pixels is only skipped.
        const size_t entryBytes = (static_cast<size_t>(mapEntryBits) + 7) / 8;
        std::vector<unsigned char> map(static_cast<size_t>(mapLength) * entryBytes);
        if (std::fread(map.data(), 1, map.size(), in) != map.size())
            fail(kTooShort);
        if (kind == 1) {
            format.mapped = true;
            format.mapFirst = mapFirst;
            format.colorMap.resize(static_cast<size_t>(mapLength) * 3);
            TgaPixels entries;
            entries.bytes = static_cast<int>(entryBytes);
            entries.toRgb(map.data(), static_cast<size_t>(mapLength), format.colorMap.data());
        }
    }

    Raster raster(w, h);
    if (runLength) {
        TgaRunReader reader(in, format);
        for (int y = 0; y < h; ++y)
            reader.readRow(raster.row(y), w);
    } else {
        std::vector<unsigned char> row(static_cast<size_t>(w) * format.bytes);
        for (int y = 0; y < h; ++y) {
            unsigned char *out = raster.row(y);
            if (std::fread(row.data(), 1, row.size(), in) != row.size())
                fail(kTooShort);
            format.toRgb(row.data(), static_cast<size_t>(w), out);
        }
    }
    Decoded d = raster.finish();
    // Bit 5 set: the first row stored is the top one; clear (the usual case): the bottom one.
    if (!(descriptor & 0x20))
        flipRows(d.pixels.get(), w, h);
    // Bit 4 set: each row is stored right to left.
    if (descriptor & 0x10)
        flipColumns(d.pixels.get(), w, h);
    return d;
}

// ---- raw files with side files ----

void rvbSizes(const char *path, int &width, int &height)
{
    std::string dim = path ? path : "";
    const size_t at = dim.rfind(".rvb");
    if (at == std::string::npos)
        fail("Can't read file");
    dim.replace(at, 4, ".dim");
    File f(std::fopen(dim.c_str(), "r"));
    if (!f)
        fail("Can't read file");
    const std::vector<std::string> words = wordsOf(f.get());
    long long w = 0, h = 0;
    if (words.size() < 2 || !integerOf(words[0], 0, w) || !integerOf(words[1], 0, h))
        fail("bad .dim file");
    if (!sizeAccepted(w, h))
        fail(kBadSize);
    width = static_cast<int>(w);
    height = static_cast<int>(h);
}

Decoded decodeRvb(const char *path)
{
    int w = 0, h = 0;
    rvbSizes(path, w, h);
    File f(std::fopen(path, "rb"));
    if (!f)
        fail("Can't read file");
    Raster raster(w, h);
    readExactly(f.get(), raster, raster.total);
    return raster.finish();
}

Decoded decodeIma(const char *path)
{
    std::string base = path ? path : "";
    if (base.size() >= 4 && base.compare(base.size() - 4, 4, ".ima") == 0)
        base.resize(base.size() - 4);
    File dim(std::fopen((base + ".dim").c_str(), "r"));
    if (!dim)
        fail("can't read file");
    const std::vector<std::string> words = wordsOf(dim.get());
    dim.reset();
    // "width height depth", each defaulting to 1, then options; only "-type" matters here.
    long long size[3] = {1, 1, 1};
    size_t word = 0;
    for (; word < 3 && word < words.size() && integerOf(words[word], 10, size[word]); ++word) {
    }
    std::string type = "U8";
    const auto typeWord = std::find(words.begin() + static_cast<long>(word), words.end(), "-type");
    if (typeWord != words.end() && typeWord + 1 != words.end())
        type = *(typeWord + 1);

    size_t sampleBytes = 0;
    const bool isFloat = type == "FLOAT";
    if (type == "U8" || type == "S8")
        sampleBytes = 1;
    else if (type == "U16" || type == "S16")
        sampleBytes = 2;
    else if (type == "U32" || type == "S32" || isFloat)
        sampleBytes = 4;
    else
        fail("format unknown");
    if (!sizeAccepted(size[0], size[1]))
        fail(kBadSize);
    const int w = static_cast<int>(size[0]), h = static_cast<int>(size[1]);

    File ima(std::fopen((base + ".ima").c_str(), "rb"));
    if (!ima)
        fail("can't read file");
    const size_t count = pixelCount(w, h);
    Raster raster(w, h);
    readExactly(ima.get(), raster, count * sampleBytes);
    unsigned char *out = raster.reserve(std::max(count * sampleBytes, count * 3));
    if (isFloat) {
        std::vector<float> values(count);
        std::memcpy(values.data(), out, count * 4);
        float lo = INFINITY, hi = -INFINITY;
        for (float v : values)
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        // A constant slice would divide by zero: it shows black. Values that aren't finite
        // are kept within 0..255 as well.
        const float scale = hi > lo ? 255.0f / (hi - lo) : 0.0f;
        for (size_t i = 0; i < count; ++i) {
            float g = (values[i] - lo) * scale;
            if (!(g >= 0))
                g = 0;
            if (g > 255)
                g = 255;
            out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = static_cast<unsigned char>(g);
        }
    } else {
        // Integer samples give their first byte in file order, turned into pixels in place.
        // Samples narrower than a pixel go from the last one back, wider ones from the first
        // on, so that no sample is overwritten before it is read.
        const auto put = [out, sampleBytes](size_t i) {
            const unsigned char grey = out[i * sampleBytes];
            out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = grey;
        };
        if (sampleBytes < 3)
            for (size_t i = count; i-- > 0;)
                put(i);
        else
            for (size_t i = 0; i < count; ++i)
                put(i);
    }
    return raster.finish();
}

Decoded decodeFloats(const char *path, int width, int height)
{
    File f(path ? std::fopen(path, "rb") : nullptr);
    if (!f)
        fail("error in reading file");
    if (!sizeAccepted(width, height))
        fail(kBadSize);
    const size_t count = pixelCount(width, height);
    Raster raster(width, height);
    readExactly(f.get(), raster, count * 4);
    unsigned char *data = raster.reserve(count * 4);
    // Each float is read before its pixel is written: pixel i ends at byte 3i + 3, float i
    // starts at byte 4i, so writing forward never overtakes the reading.
    for (size_t i = 0; i < count; ++i) {
        float v;
        std::memcpy(&v, data + 4 * i, 4);
        // Clamped, NaN to 0: a value outside 0..1 has no 16-bit fixed-point form.
        float scaled = v * 65535.0f;
        if (!(scaled >= 0))
            scaled = 0;
        if (scaled > 65535)
            scaled = 65535;
        const int fixed = static_cast<int>(scaled);
        data[3 * i] = static_cast<unsigned char>(fixed / 256);
        data[3 * i + 1] = static_cast<unsigned char>(fixed % 256);
        data[3 * i + 2] = 0;
    }
    return raster.finish();
}

// ---- writers ----

WriteResult writePpm(const char *path, const unsigned char *rgb, int width, int height)
{
    if (width <= 0 || height <= 0 || !rgb)
        return WriteFailed;
    OutputFile file(path);
    if (!file.file())
        return CantCreate;
    std::fprintf(file.file(), "P6\n%d %d\n255\n", width, height);
    std::fwrite(rgb, 3, pixelCount(width, height), file.file());
    return file.commit() ? Written : WriteFailed;
}

WriteResult writeFloats(const char *path, const unsigned char *rgb, int width, int height)
{
    OutputFile file(path);
    if (!file.file())
        return CantCreate;
    const size_t count = width > 0 && height > 0 && rgb ? pixelCount(width, height) : 0;
    std::vector<float> row(4096);
    for (size_t done = 0; done < count;) {
        const size_t n = std::min(row.size(), count - done);
        for (size_t i = 0; i < n; ++i) {
            const unsigned char *p = rgb + 3 * (done + i);
            row[i] = static_cast<float>(p[0] * 256 + p[1]) / 65535.0f;
        }
        std::fwrite(row.data(), sizeof(float), n, file.file());
        done += n;
    }
    return file.commit() ? Written : WriteFailed;
}

} // namespace imagecodecs
