#include "formats/KeyCameraFile.h"
#include "formats/ReadRefusal.h"
#include "formats/TextScanner.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace
{

constexpr QuietRefusal error{"KeyCameraFile: "};

/// Shortest text of one key camera: ten one-digit numbers, nine spaces and the newline.
constexpr long minimumLine = 20;

template <class Write> bool writeWhole(const char *path, Write write)
{
    if (!path || !*path)
        return false;
    const std::string temporary = std::string(path) + ".tmp";
    FILE *out = std::fopen(temporary.c_str(), "wb");
    if (!out)
        return false;
    write(out);
    bool ok = !std::ferror(out);
    ok = std::fclose(out) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), path) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

std::vector<Position> KeyCameraFile::read(const char *path)
{
    FILE *in = path ? std::fopen(path, "rb") : nullptr;
    if (!in)
        error(std::string("can't open ") + (path ? path : "(null)"));
    long size = -1;
    if (std::fseek(in, 0, SEEK_END) == 0) {
        size = std::ftell(in);
        std::rewind(in);
    }
    try {
        if (size < 0)
            error(std::string("can't read ") + path);
        std::vector<Position> keys = read(in, size);
        std::fclose(in);
        return keys;
    } catch (...) {
        std::fclose(in);
        throw;
    }
}

std::vector<Position> KeyCameraFile::read(FILE *in, long size)
{
    // The count line is read as text so that its length is known and checked against the size.
    char line[64];
    if (!std::fgets(line, sizeof line, in))
        error("no key camera count");
    const long used = static_cast<long>(std::strlen(line));
    TextScanner counted(line, line + used);
    long long count = 0;
    if (!counted.cInteger(count))
        error("no key camera count");
    counted.skipSpace();
    if (!counted.atEnd())
        error("no key camera count");
    if (count < 0 || count > maxKeyCameras)
        error("key camera count " + std::to_string(count) + " out of range");
    const long left = size - used;
    // The last line may go without its newline.
    if (count > (left + 1) / minimumLine)
        error(std::to_string(count) + " key cameras can't fit in " + std::to_string(size) + " bytes");

    std::vector<Position> keys;
    keys.reserve(static_cast<size_t>(count));
    for (long i = 0; i < count; ++i) {
        // Skip blank lines as the pose reader does, to tell a file that ends from a bad line.
        int c;
        while ((c = std::fgetc(in)) != EOF && std::isspace(c)) {
        }
        if (c == EOF)
            error("the file ends after " + std::to_string(i) + " of " + std::to_string(count) +
                  " key cameras");
        std::ungetc(c, in);
        try {
            keys.emplace_back(in);
        } catch (const std::runtime_error &e) {
            error("key camera " + std::to_string(i + 1) + ": " + e.what());
        }
        const Position &p = keys.back();
        // A rotation that is not one would shear the scene and poison every interpolation;
        // six printed decimals keep a real one within a millionth of unit length.
        if (std::fabs(p.rotation.norm() - 1.f) > 1e-3f)
            error("key camera " + std::to_string(i + 1) + " has no unit rotation");
        if (!(p.focal > 0.f)) {
            char text[96];
            std::snprintf(text, sizeof text, "key camera %ld has a zoom factor of %f", i + 1, p.focal);
            error(text);
        }
    }
    return keys;
}

bool KeyCameraFile::write(const char *path, const std::vector<Position> &keys)
{
    return writeWhole(path, [&](FILE *out) {
        std::fprintf(out, "%d\n", static_cast<int>(keys.size()));
        for (const Position &p : keys)
            p.print(out);
    });
}

bool KeyCameraFile::writePoses(const char *path, const Intrinsics &camera, const std::vector<Position> &poses)
{
    return writeWhole(path, [&](FILE *out) {
        std::fprintf(out, "V4.0\n");
        std::fprintf(out, "%f %f\n%f %f\n%f %f\n", camera.width, camera.height, camera.centerX,
                     camera.centerY, camera.focalX, camera.focalY);
        std::fprintf(out, "%d\n", static_cast<int>(poses.size()));
        for (const Position &p : poses)
            p.printExtrinsic(out);
    });
}
