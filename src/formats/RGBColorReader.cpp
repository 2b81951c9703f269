#include "formats/RGBColorReader.h"
#include "formats/ReadRefusal.h"
#include "formats/TextScanner.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>
#include <sys/stat.h>

namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

[[noreturn]] void refuse(const char *format, int a = 0, int b = 0)
{
    char text[128];
    std::snprintf(text, sizeof text, format, a, b);
    refuseRead(nullptr, text);
}

unsigned char toByte(float v)
{
    if (v <= 0)
        return 0;
    if (v >= 1)
        return 255;
    return static_cast<unsigned char>(v * 255.0f + 0.5f);
}

// Whether the number text [p, end) has a negative exponent ("1e-50").
bool underflows(const char *p, const char *end)
{
    for (; p + 1 < end; ++p)
        if ((*p == 'e' || *p == 'E') && p[1] == '-')
            return true;
    return false;
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

    // The whole text at once (what memory it takes is the file's own size), parsed in place:
    // a scanf call a number costs far more than the conversion itself.
    std::vector<char> text;
    if (fileSize > 0)
        text.resize(static_cast<size_t>(fileSize));
    text.resize(std::fread(text.data(), 1, text.size(), f));
    text.push_back('\0');
    const char *p = text.data(), *end = text.data() + text.size() - 1;
    auto skipSpace = [&p, end] {
        while (p < end && TextScanner::isSpace(*p))
            ++p;
    };

    skipSpace();
    char *after = nullptr;
    errno = 0;
    const long parsed = std::strtol(p, &after, 10);
    if (after == p || errno != 0 || parsed < 0 || parsed > INT_MAX)
        refuse("no color count");
    const int count = static_cast<int>(parsed);
    p = after;
    if (expected >= 0 && count != expected)
        refuse("%d colors for %d vertices", count, expected);
    // Every colour takes at least six bytes ("0 0 0" and a separator): a count the file
    // cannot hold is refused before anything is allocated.
    if (static_cast<long long>(count) * 6 > fileSize)
        refuse("%d colors announced, the file holds fewer", count);

    std::vector<unsigned char> rgb(3 * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        for (int k = 0; k < 3; ++k) {
            skipSpace();
            // The text ends before the colour is complete.
            if (p >= end)
                refuse("%d colors announced, the file holds fewer", count);
            // from_chars reads numbers the same whatever the locale (the toolkit sets the
            // user's, where a decimal comma would make scanf misread "0.5").
            float c = 0;
            const char *start = *p == '+' ? p + 1 : p;
            const std::from_chars_result r = TextScanner::parse(p, end, c);
            // A number too small for a float is 0, as scanf reads it; one too large is not a
            // colour.
            if (r.ec == std::errc::result_out_of_range && underflows(start, r.ptr))
                c = 0;
            else if (r.ec != std::errc() || !std::isfinite(c))
                refuse("color %d is not a number", i);
            p = r.ptr;
            rgb[3 * static_cast<size_t>(i) + k] = toByte(c);
        }
    }
    return rgb;
}
