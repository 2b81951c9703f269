#include "formats/SequenceFiles.h"

#include "formats/Sil.h"
#include "formats/TextScanner.h"
#include "image/Bitmap.h"
#include "math/CLocale.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace sequence {

namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

size_t lastSeparator(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash != std::string::npos ? slash : path.rfind('\\');
}

// A view file: two digits, a dot and a non-empty extension end the name.
bool isViewFile(const std::string &name, size_t prefixLength, std::string &extension)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 >= name.size() || dot < prefixLength + 2)
        return false;
    if (!std::isdigit(static_cast<unsigned char>(name[dot - 1])) ||
        !std::isdigit(static_cast<unsigned char>(name[dot - 2])))
        return false;
    extension = name.substr(dot + 1);
    return true;
}

constexpr long long kMaxPixels = 1LL << 28;

} // namespace

std::string directoryPart(const std::string &path)
{
    const size_t cut = lastSeparator(path);
    return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}

std::string lastPart(const std::string &path)
{
    const size_t cut = lastSeparator(path);
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

SequencePath findSequence(const std::string &folder, const std::string &prefix, const std::string &extension)
{
    SequencePath found;
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return found;
    // The entries are taken in name order, not in the order the file system keeps them, so
    // that the same folder gives the same sequence on every machine.
    std::vector<std::string> names;
    while (const dirent *entry = readdir(dir))
        names.emplace_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        if (prefix.empty() ? name[0] == '.' : name.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string ext;
        if (!isViewFile(name, prefix.size(), ext) || (!extension.empty() && ext != extension))
            continue;
        found.base = folder + name.substr(0, name.size() - ext.size() - 3);
        found.extension = ext;
        break;
    }
    return found;
}

std::string viewFileName(const std::string &base, int index, const std::string &extension)
{
    char number[16];
    std::snprintf(number, sizeof number, "%02d", index);
    return base + number + "." + extension;
}

std::unique_ptr<unsigned char[]> loadPGM(const char *path, int &width, int &height)
{
    width = height = 0;
    File f(path ? std::fopen(path, "rb") : nullptr);
    if (!f)
        return nullptr;
    char header[128] = {};
    const size_t n = std::fread(header, 1, 127, f.get());
    if (n < 2 || header[0] != 'P' || header[1] != '5')
        return nullptr;
    // Past the magic line and the comment lines that follow it.
    // A header longer than the bytes read has no line break where one is needed.
    constexpr size_t kNone = static_cast<size_t>(-1);
    const auto nextLine = [&](size_t from) {
        while (from < n && header[from] != '\n')
            ++from;
        return from < n ? from + 1 : kNone;
    };
    size_t at = nextLine(0);
    while (at != kNone && at < n && header[at] == '#')
        at = nextLine(at);
    if (at == kNone)
        return nullptr;
    // Width, then height after the next space.
    long w = 0, h = 0;
    TextScanner scan(header + at, header + sizeof header - 1);
    if (!scan.cLong(w) || *scan.position() != ' ')
        return nullptr;
    scan.moveTo(scan.position() + 1);
    if (!scan.cLong(h))
        return nullptr;
    if (w < 1 || h < 1 || w > kMaxPixels || h > kMaxPixels || static_cast<long long>(w) * h > kMaxPixels)
        return nullptr;
    // The pixels start after the line break that ends the maximum-value line.
    size_t start = nextLine(static_cast<size_t>(scan.position() - header));
    if (start != kNone)
        start = nextLine(start);
    if (start == kNone)
        return nullptr;
    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
    struct stat st;
    if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<long long>(st.st_size) - static_cast<long long>(start) < static_cast<long long>(count))
        return nullptr;
    if (std::fseek(f.get(), static_cast<long>(start), SEEK_SET) != 0)
        return nullptr;
    std::unique_ptr<unsigned char[]> pixels(new unsigned char[count]);
    if (std::fread(pixels.get(), 1, count, f.get()) != count)
        return nullptr;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return pixels;
}

bool readContourPoints(const char *path, int first, int last, std::vector<Point2> &points)
{
    points.clear();
    File f(path ? std::fopen(path, "r") : nullptr);
    if (!f)
        return false;
    // The array grows with the file: a long contour is read whole, never written past an end.
    const CLocale::Scope numbers;
    float x, y;
    for (int k = 0; k <= last && std::fscanf(f.get(), "%f %f", &x, &y) == 2; ++k)
        if (k >= first)
            points.emplace_back(x, y);
    return true;
}

bool readContour(const std::string &base, int index, int part, std::vector<Point2> &points)
{
    points.clear();
    char number[16];
    std::snprintf(number, sizeof number, "%02d", index);
    if (part <= 0)
        return readContourPoints((base + number + ".txt").c_str(), 0, 32768, points);
    File f(std::fopen((base + number + "_c.txt").c_str(), "r"));
    if (!f)
        return false;
    int skipped;
    for (int k = 0; k < part; ++k)
        if (std::fscanf(f.get(), "%d", &skipped) != 1)
            return false;
    int first, last;
    if (std::fscanf(f.get(), "%d %d", &first, &last) != 2)
        return false;
    return readContourPoints((base + number + "_b.txt").c_str(), first, last, points);
}

std::unique_ptr<unsigned char[]> loadSilhouetteGrey(const std::string &path, const std::string &extension,
                                                    int &width, int &height)
{
    width = height = 0;
    if (extension == "sil") {
        const Sil sil(path.c_str());
        width = sil.getWidth();
        height = sil.getHeight();
        return sil.decodeSilhouette();
    }
    if (extension == "pgm")
        return loadPGM(path.c_str(), width, height);
    Bitmap image;
    image.loadImage(path.c_str());
    const size_t n = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    std::unique_ptr<unsigned char[]> grey(new unsigned char[n]);
    for (size_t p = 0; p < n; ++p)
        grey[p] = static_cast<unsigned char>((image.pixels[p].r + image.pixels[p].g + image.pixels[p].b) / 3);
    width = image.width;
    height = image.height;
    return grey;
}

} // namespace sequence
