#include "objects/RGBColorReader.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

[[noreturn]] void refuse(const char *format, int a = 0, int b = 0)
{
    char text[128];
    std::snprintf(text, sizeof text, format, a, b);
    throw std::runtime_error(text);
}

unsigned char toByte(float v)
{
    if (v <= 0)
        return 0;
    if (v >= 1)
        return 255;
    return static_cast<unsigned char>(v * 255.0f + 0.5f);
}

} // namespace

std::vector<unsigned char> readRGBColors(const char *path, int expected)
{
    std::unique_ptr<FILE, FileCloser> file(path ? std::fopen(path, "rb") : nullptr);
    if (!file)
        throw std::runtime_error("can't read file");
    FILE *f = file.get();
    struct stat st {};
    const long long fileSize = fstat(fileno(f), &st) == 0 ? static_cast<long long>(st.st_size) : 0;

    int count = 0;
    if (std::fscanf(f, "%d", &count) != 1 || count < 0)
        refuse("no color count");
    if (expected >= 0 && count != expected)
        refuse("%d colors for %d vertices", count, expected);
    // Every colour takes at least six bytes ("0 0 0" and a separator): a count the file
    // cannot hold is refused before anything is allocated.
    if (static_cast<long long>(count) * 6 > fileSize)
        refuse("%d colors announced, the file holds fewer", count);

    std::vector<unsigned char> rgb(3 * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        float c[3];
        const int got = std::fscanf(f, "%f %f %f", &c[0], &c[1], &c[2]);
        if (got == EOF || (got < 3 && std::feof(f)))
            refuse("%d colors announced, the file holds fewer", count);
        if (got != 3 || !std::isfinite(c[0]) || !std::isfinite(c[1]) || !std::isfinite(c[2]))
            refuse("color %d is not a number", i);
        for (int k = 0; k < 3; ++k)
            rgb[3 * static_cast<size_t>(i) + k] = toByte(c[k]);
    }
    return rgb;
}
