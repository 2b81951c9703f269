#include "formats/Sil.h"
#include "math/Messages.h"

#include "formats/ByteOrder.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool badSide(int32_t v)
{
    return v < 0 || v > Sil::maxSide;
}

int32_t reversed(int32_t v)
{
    swapBytes(&v, 4, 1);
    return v;
}

long long bitBytes(long long pixels)
{
    return (pixels + 7) / 8;
}

// Writes a file under a temporary name that becomes `path` once it is complete.
template <class Body> int writeAtomically(const char *path, Body body)
{
    if (!path || !*path)
        return 0;
    const std::string temporary = std::string(path) + ".tmp";
    FILE *f = std::fopen(temporary.c_str(), "wb");
    if (!f)
        return 0;
    bool ok = body(f) && !std::ferror(f);
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), path) != 0) {
        std::remove(temporary.c_str());
        return 0;
    }
    return 1;
}

} // namespace

Sil::Sil(const char *fileName)
    : magic('L'), coding(0), reserved{0, 0}, width(0), height(0), dataSize(0), name{}
{
    File f(fileName ? std::fopen(fileName, "rb") : nullptr);
    if (!f) {
        msg::diagnostic("Can't read %s file, exit\n", fileName ? fileName : "");
        throw std::runtime_error("Can't read file");
    }
    unsigned char header[headerSize];
    const size_t got = std::fread(header, 1, headerSize, f.get());
    if (got < static_cast<size_t>(headerSize)) {
        msg::diagnostic("nb oct read for header = %d\n", static_cast<int>(got));
        throw std::runtime_error("unknown header");
    }
    magic = static_cast<char>(header[0]);
    coding = static_cast<char>(header[1]);
    std::memcpy(reserved, header + 2, 2);
    std::memcpy(&width, header + 4, 4);
    std::memcpy(&height, header + 8, 4);
    std::memcpy(&dataSize, header + 12, 4);
    std::memcpy(name, header + 16, nameSize);
    name[nameSize - 1] = '\0';

    bool swapped = false;
    if (badSide(width) || badSide(height)) {
        width = reversed(width);
        height = reversed(height);
        dataSize = reversed(dataSize);
        swapped = true;
    }
    if (badSide(width) || badSide(height) || static_cast<long long>(width) * height > maxPixels) {
        msg::error("Sil: wrong silhouette size %d x %d in %s\n", width, height, fileName);
        throw std::runtime_error("wrong silhouette size");
    }
    if (coding != 'T' && coding != 'U') {
        msg::error("magic header = %c\n", coding);
        return;
    }
    const long long pixels = static_cast<long long>(width) * height;
    const bool sizeAgrees = coding == 'T' ? dataSize == bitBytes(pixels)
                                          : dataSize >= 8 && dataSize % 4 == 0 && dataSize / 4 - 2 <= pixels;
    if (!sizeAgrees) {
        msg::error("Sil: data size %d does not fit a %d x %d silhouette in %s\n", dataSize, width, height,
                   fileName);
        throw std::runtime_error("wrong silhouette data size");
    }
    // The file must hold the data before any memory is taken for it.
    struct stat st;
    const long long available = fstat(fileno(f.get()), &st) == 0 && S_ISREG(st.st_mode)
                                    ? static_cast<long long>(st.st_size) - headerSize
                                    : static_cast<long long>(dataSize);
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[dataSize > 0 ? dataSize : 1]);
    size_t read = 0;
    if (available >= dataSize)
        read = std::fread(buffer.get(), 1, static_cast<size_t>(dataSize), f.get());
    else
        read = static_cast<size_t>(available > 0 ? available : 0);
    if (read < static_cast<size_t>(dataSize)) {
        msg::diagnostic("not enought octet in file %d\n", static_cast<int>(read));
        throw std::runtime_error("not enough data");
    }
    data = std::move(buffer);
    try {
        checkData(swapped);
    } catch (...) {
        data.reset();
        throw;
    }
}

void Sil::checkData(bool swapped)
{
    if (coding != 'U')
        return;
    const int n = dataSize / 4;
    int32_t *values = reinterpret_cast<int32_t *>(data.get());
    // A file of the other byte order has its runs in that order too.
    if (swapped)
        swapBytes(values, 4, static_cast<unsigned>(n));
    long long covered = 0;
    bool ok = values[0] >= 0 && values[0] <= 255;
    for (int k = 2; k < n && ok; ++k) {
        ok = values[k] >= 0;
        covered += values[k];
    }
    if (!ok || covered != static_cast<long long>(width) * height) {
        msg::error("Sil: silhouette runs do not cover the %d x %d image in %s\n", width, height, name);
        throw std::runtime_error("silhouette runs do not cover the image");
    }
}

Sil::Sil(const unsigned char *pixels, int w, int h, const char *n)
    : magic('L'), coding('U'), reserved{0, 0}, width(w), height(h), dataSize(0), name{}
{
    if (w < 1 || h < 1 || w > maxSide || h > maxSide || static_cast<long long>(w) * h > maxPixels || !pixels)
        throw std::runtime_error("wrong silhouette size");
    if (n) {
        std::strncpy(name, n, nameSize - 1);
        name[nameSize - 1] = '\0';
    }
    const size_t count = static_cast<size_t>(w) * h;
    std::vector<int32_t> runs;
    const bool first = pixels[0] != 0;
    runs.push_back(first ? 255 : 0);
    runs.push_back(0);
    bool value = first;
    int32_t run = 0;
    for (size_t k = 0; k < count; ++k) {
        const bool p = pixels[k] != 0;
        if (p != value) {
            runs.push_back(run);
            run = 0;
            value = p;
        }
        ++run;
    }
    runs.push_back(run);
    dataSize = static_cast<int32_t>(runs.size() * 4);
    data.reset(new unsigned char[runs.size() * 4]);
    std::memcpy(data.get(), runs.data(), runs.size() * 4);
}

std::unique_ptr<unsigned char[]> Sil::decodeSilhouette() const
{
    if (!data || (coding != 'T' && coding != 'U'))
        return nullptr;
    const size_t count = static_cast<size_t>(width) * height;
    // Every pixel is written below: the image is left uninitialised.
    std::unique_ptr<unsigned char[]> image(new unsigned char[count > 0 ? count : 1]);
    if (coding == 'T') {
        for (size_t k = 0; k < count; ++k)
            image[k] = (data[k / 8] >> (k % 8)) & 1 ? 255 : 0;
        return image;
    }
    const int n = dataSize / 4;
    int32_t value;
    std::memcpy(&value, data.get(), 4);
    unsigned char v = static_cast<unsigned char>(value);
    size_t k = 0;
    // The runs were checked to cover the image exactly when the file was read.
    for (int r = 2; r < n; ++r) {
        int32_t length;
        std::memcpy(&length, data.get() + 4 * r, 4);
        for (int32_t i = 0; i < length && k < count; ++i)
            image[k++] = v;
        v = static_cast<unsigned char>(~v);
    }
    return image;
}

int Sil::write() const
{
    return write(name);
}

int Sil::write(const char *path) const
{
    return writeAtomically(path, [this](FILE *f) {
        unsigned char header[headerSize] = {};
        header[0] = static_cast<unsigned char>(magic);
        header[1] = static_cast<unsigned char>(coding);
        std::memcpy(header + 2, reserved, 2);
        std::memcpy(header + 4, &width, 4);
        std::memcpy(header + 8, &height, 4);
        std::memcpy(header + 12, &dataSize, 4);
        std::memcpy(header + 16, name, nameSize);
        return std::fwrite(header, 1, headerSize, f) == static_cast<size_t>(headerSize) &&
               (dataSize <= 0 || std::fwrite(data.get(), 1, static_cast<size_t>(dataSize), f) ==
                                     static_cast<size_t>(dataSize));
    });
}

int Sil::saveAsPGM(const char *fileName) const
{
    if (!fileName)
        return 0;
    const std::unique_ptr<unsigned char[]> image = decodeSilhouette();
    if (!image)
        return 0;
    std::string path(fileName);
    const size_t dot = path.rfind('.');
    path = (dot == std::string::npos ? path + "." : path.substr(0, dot + 1)) + "pgm";
    const size_t count = static_cast<size_t>(width) * height;
    return writeAtomically(path.c_str(), [&](FILE *f) {
        std::fprintf(f, "P5\n%d %d\n%d\n", width, height, 255);
        return std::fwrite(image.get(), 1, count, f) == count;
    });
}
