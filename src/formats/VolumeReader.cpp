#include "formats/VolumeReader.h"
#include "formats/ReadAll.h"
#include "formats/ReadRefusal.h"
#include "formats/TextScanner.h"

#include "image/Bitmap.h"
#include "image/ImageNames.h"
#include "math/CLocale.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr NamedReadRefusal refuse{"GLVolumeObject", "(volume)"};

using FilePtr = std::unique_ptr<FILE, int (*)(FILE *)>;

FilePtr openFile(const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw std::runtime_error("can't read file");
    return FilePtr(f, std::fclose);
}

long long sizeOf(FILE *f)
{
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(st.st_size);
}

// Checks the three sizes and returns the sample count; refuses sizes below 1 and a count
// whose samples (of `bytes` bytes each, and as floats) would not fit in memory's range.
size_t checkedCount(const int size[3], int bytes, const char *name)
{
    for (int k = 0; k < 3; ++k)
        if (size[k] < 1)
            refuse(name, "size %dx%dx%d: every size must be at least 1", size[0], size[1], size[2]);
    const unsigned __int128 n = static_cast<unsigned __int128>(size[0]) * static_cast<unsigned>(size[1]) *
                                static_cast<unsigned>(size[2]);
    const unsigned __int128 limit = static_cast<unsigned __int128>(SIZE_MAX) / (sizeof(float) > static_cast<size_t>(bytes) ? sizeof(float) : static_cast<size_t>(bytes));
    if (n > limit)
        refuse(name, "size %dx%dx%d is too large", size[0], size[1], size[2]);
    return static_cast<size_t>(n);
}

template <class T> void convert(const unsigned char *in, size_t n, float *out)
{
    for (size_t i = 0; i < n; ++i) {
        T v;
        std::memcpy(&v, in + i * sizeof(T), sizeof(T));
        out[i] = static_cast<float>(v);
    }
}

void convertSamples(VolumeReader::SampleType t, const unsigned char *in, size_t n, float *out)
{
    // In the order of VolumeReader::SampleType.
    static void (*const converters[])(const unsigned char *, size_t, float *) = {
        convert<uint8_t>, convert<uint16_t>, convert<uint32_t>, convert<int8_t>,
        convert<int16_t>, convert<int32_t>, convert<float>,
    };
    converters[t](in, n, out);
}

// Reads words until one equals `key`; false at the end of the text.
bool findWord(FILE *f, const char *key)
{
    char word[256];
    while (std::fscanf(f, "%255s", word) == 1)
        if (std::strcmp(word, key) == 0)
            return true;
    return false;
}

// "%f %s %f %s %f": three numbers, each of the last two preceded by a word that is skipped.
void readTriple(FILE *f, float *out)
{
    float v[3];
    char skip[256];
    const CLocale::Scope numbers;
    if (std::fscanf(f, "%f %255s %f %255s %f", &v[0], skip, &v[1], skip, &v[2]) == 5)
        std::copy(v, v + 3, out);
}

} // namespace

int VolumeReader::sampleBytes(SampleType t)
{
    switch (t) {
    case U8:
    case S8:
        return 1;
    case U16:
    case S16:
        return 2;
    default:
        return 4;
    }
}

bool VolumeReader::sampleType(const char *word, SampleType &t)
{
    static const struct {
        const char *name;
        SampleType type;
    } kTypes[] = {{"U8", U8}, {"U16", U16}, {"U32", U32}, {"S8", S8}, {"S16", S16}, {"S32", S32}, {"FLOAT", FLOAT}};
    for (const auto &k : kTypes)
        if (std::strcmp(word, k.name) == 0) {
            t = k.type;
            return true;
        }
    return false;
}

VolumeData VolumeReader::readIMA(const char *path)
{
    std::string base = path ? path : "";
    if (base.size() >= 4 && base.compare(base.size() - 4, 4, ".ima") == 0)
        base.resize(base.size() - 4);
    std::vector<char> dim;
    {
        FilePtr f = openFile(base + ".dim");
        dim = readAll(f.get());
    }
    FilePtr ima = openFile(base + ".ima");
    const std::string name = base + ".ima";
    return readIMA(dim.data(), dim.size(), ima.get(), sizeOf(ima.get()), name.c_str());
}

VolumeData VolumeReader::readIMA(const char *dimText, size_t dimSize, FILE *ima, long long bytes, const char *name)
{
    VolumeData v;
    // The header is read with the C library's scanning, word by word, as it was written.
    std::vector<char> text(dimText, dimText + dimSize);
    text.push_back('\0');
    FILE *dim = fmemopen(text.data(), text.size(), "r");
    if (!dim)
        refuse(name, "no memory for the header");
    FilePtr closer(dim, std::fclose);
    if (std::fscanf(dim, "%d %d %d", &v.size[0], &v.size[1], &v.size[2]) != 3)
        refuse(name, "the .dim header does not begin with three sizes");
    char word[256] = "U8";
    if (findWord(dim, "-type") && std::fscanf(dim, "%255s", word) != 1)
        std::strcpy(word, "U8");
    SampleType type;
    if (!sampleType(word, type))
        throw std::runtime_error("format unknown");
    if (findWord(dim, "-dx"))
        readTriple(dim, v.voxelSize);
    if (findWord(dim, "-tx"))
        readTriple(dim, v.origin);

    const int sb = sampleBytes(type);
    const size_t n = checkedCount(v.size, sb, name);
    if (bytes >= 0 && n > static_cast<unsigned long long>(bytes) / static_cast<unsigned>(sb))
        refuse(name, "%dx%dx%d %s samples need %zu bytes, the file holds %lld", v.size[0], v.size[1], v.size[2],
               word, n * static_cast<size_t>(sb), bytes);

    // Read and convert a slice at a time: the raw bytes never need a second full-size buffer,
    // and memory grows only with samples that really arrive when the size is unknown.
    constexpr size_t kChunkBytes = size_t(1) << 20;
    const size_t perChunk = std::min(kChunkBytes / static_cast<size_t>(sb), n);
    std::vector<unsigned char> chunk(perChunk * static_cast<size_t>(sb));
    if (bytes >= 0) {
        v.samples = allocateLargeArray<float>(n);
        for (size_t done = 0; done < n;) {
            const size_t want = std::min(perChunk, n - done);
            if (std::fread(chunk.data(), static_cast<size_t>(sb), want, ima) != want)
                refuse(name, "the sample file ends early");
            convertSamples(type, chunk.data(), want, v.samples.get() + done);
            done += want;
        }
    } else {
        std::vector<float> grown;
        while (grown.size() < n) {
            const size_t want = std::min(perChunk, n - grown.size());
            if (std::fread(chunk.data(), static_cast<size_t>(sb), want, ima) != want)
                refuse(name, "the sample file ends early");
            const size_t at = grown.size();
            grown.resize(at + want);
            convertSamples(type, chunk.data(), want, grown.data() + at);
        }
        v.samples = allocateLargeArray<float>(n);
        std::copy(grown.begin(), grown.end(), v.samples.get());
    }
    return v;
}

VolumeData VolumeReader::readPGM(const char *path)
{
    FilePtr f = openFile(path ? path : "");
    const std::vector<char> bytes = readAll(f.get());
    return readPGM(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), path);
}

namespace {

// The netpbm header's words: blanks of any kind (a whole header on one line is common) and
// comments from '#' to the line end between them.
struct PgmWords {
    const unsigned char *at, *end;

    void skipBlanks()
    {
        while (at < end) {
            if (*at == '#') {
                while (at < end && *at != '\n')
                    ++at;
            } else if (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r' || *at == '\v' || *at == '\f') {
                ++at;
            } else {
                return;
            }
        }
    }
    // A decimal number of at most 10 digits; false at anything else.
    bool number(long long &out)
    {
        skipBlanks();
        const unsigned char *from = at;
        out = 0;
        while (at < end && *at >= '0' && *at <= '9' && at - from < 10)
            out = 10 * out + (*at++ - '0');
        return at > from && (at == end || !(*at >= '0' && *at <= '9'));
    }
};

} // namespace

VolumeData VolumeReader::readPGM(const unsigned char *data, size_t size, const char *name)
{
    // "P5" raw or "P2" text; another magic number is read as raw, as it always was.
    if (size < 2)
        refuse(name, "no PGM header: the file is empty");
    const bool plain = data[0] == 'P' && data[1] == '2';
    PgmWords words{data + 2, data + size};
    long long w = 0, ht = 0, maxValue = 0;
    if (!words.number(w) || !words.number(ht) || !words.number(maxValue))
        refuse(name, "no PGM header (width, height and maximum value) at its start");
    // One blank ends the header; the samples follow.
    if (words.at == words.end)
        refuse(name, "no PGM header: the file ends in it");
    ++words.at;

    VolumeData v;
    if (w < 1 || ht < 1 || w > INT32_MAX || ht > INT32_MAX)
        refuse(name, "a PGM image of %lld x %lld pixels", w, ht);
    if (maxValue < 1 || maxValue > 65535)
        refuse(name, "a PGM maximum value of %lld (1 to 65535 allowed)", maxValue);
    v.size[0] = static_cast<int>(w);
    v.size[1] = static_cast<int>(ht);
    v.size[2] = 1;
    // Depth maps are often 16-bit: two bytes a sample, most significant first, values kept.
    const int sampleBytes = maxValue > 255 ? 2 : 1;
    const size_t n = checkedCount(v.size, sampleBytes, name);
    const size_t left = static_cast<size_t>(words.end - words.at);
    if (plain) {
        // Each sample takes a digit and a blank, the last one only its digit.
        if (n > left / 2 + 1)
            refuse(name, "%lld x %lld pixels need %zu numbers, the file holds at most %zu", w, ht, n, left / 2 + 1);
        v.samples = allocateLargeArray<float>(n);
        for (size_t i = 0; i < n; ++i) {
            long long value = 0;
            if (!words.number(value))
                refuse(name, "sample %zu of %zu is missing or no number", i, n);
            if (value > maxValue)
                refuse(name, "sample %zu is %lld, above the maximum value %lld", i, value, maxValue);
            v.samples[i] = static_cast<float>(value);
        }
        return v;
    }
    if (n > left / static_cast<size_t>(sampleBytes))
        refuse(name, "%lld x %lld pixels need %zu bytes, the file holds %zu", w, ht, n * sampleBytes, left);
    v.samples = allocateLargeArray<float>(n);
    if (sampleBytes == 1) {
        convertSamples(U8, words.at, n, v.samples.get());
    } else {
        for (size_t i = 0; i < n; ++i)
            v.samples[i] = static_cast<float>(256 * words.at[2 * i] + words.at[2 * i + 1]);
    }
    return v;
}

VolumeData VolumeReader::readBitmap(const char *path)
{
    Bitmap image;
    imagenames::load(image, path);
    VolumeData v;
    v.size[0] = image.getWidth();
    v.size[1] = image.getHeight();
    v.size[2] = 1;
    const size_t n = checkedCount(v.size, 1, path);
    v.samples = allocateLargeArray<float>(n);
    for (size_t i = 0; i < n; ++i) {
        const RGB<unsigned char> &c = image.pixels[i];
        v.samples[i] = static_cast<float>(c.r + 256 * c.g + 65536 * c.b);
    }
    v.packedColor = true;
    return v;
}

int VolumeReader::textureSide(int n)
{
    int side = 1;
    while (side < n && side < (1 << 30))
        side <<= 1;
    return side;
}

int VolumeReader::subSamplingFactor(const int size[3], int maxTexture)
{
    if (maxTexture < 1)
        maxTexture = 1;
    int s = 1;
    for (int k = 0; k < 3; ++k) {
        const int side = textureSide(size[k]);
        if (maxTexture < side / s)
            s = textureSide((side + maxTexture - 1) / maxTexture);
    }
    return s;
}

void VolumeReader::subSample(VolumeData &v, int s)
{
    if (s <= 1 || !v.samples)
        return;
    int n[3];
    for (int k = 0; k < 3; ++k)
        n[k] = std::max(1, v.size[k] / s);
    LargeArray<float> out = allocateLargeArray<float>(static_cast<size_t>(n[0]) * n[1] * n[2]);
    const size_t X = static_cast<size_t>(v.size[0]), Y = static_cast<size_t>(v.size[1]);
    size_t o = 0;
    for (int k = 0; k < n[2]; ++k)
        for (int j = 0; j < n[1]; ++j)
            for (int i = 0; i < n[0]; ++i)
                out[o++] = v.samples[static_cast<size_t>(s) * i + X * (static_cast<size_t>(s) * j + Y * static_cast<size_t>(s) * k)];
    v.samples = std::move(out);
    std::copy(n, n + 3, v.size);
    // Fewer, larger voxels: the volume keeps its place and its extent in the scene.
    for (float &d : v.voxelSize)
        d *= static_cast<float>(s);
}
