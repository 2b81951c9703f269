#include "formats/TextureImageFiles.h"

#include "image/Stream.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iterator>

namespace TextureImageFiles {

std::vector<std::string> companionNames(const std::string &meshPath)
{
    if (meshPath.size() <= 4)
        return {};
    const std::string base = meshPath.substr(0, meshPath.size() - 3);
    return {base + "png", base + "ppm", base + "jpg"};
}

std::unique_ptr<Bitmap> findCompanionImage(const std::string &meshPath)
{
    for (const std::string &name : companionNames(meshPath)) {
        Stream stream(name.c_str(), "rb", true);
        if (!stream.stream)
            continue;
        try {
            auto image = std::make_unique<Bitmap>(stream, name.c_str() + name.size() - 3);
            if (image->width > 0 && image->height > 0 && image->pixels)
                return image;
        } catch (const std::exception &) {
            // An image that does not decode is passed over for the next name.
        }
    }
    return nullptr;
}

std::unique_ptr<Bitmap> loadImageFile(const std::string &path)
{
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos)
        return nullptr;
    std::string ext = path.substr(dot + 1);
    for (char &c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "jpeg")
        ext = "jpg";
    else if (ext == "tiff")
        ext = "tif";
    static const char *const kKnown[] = {"png", "jpg", "ppm", "pgm", "tga", "tif"};
    if (std::find(std::begin(kKnown), std::end(kKnown), ext) == std::end(kKnown))
        return nullptr;
    try {
        auto image = std::make_unique<Bitmap>();
        if (ext == "png" || ext == "jpg" || ext == "ppm" || ext == "pgm") {
            Stream stream(path.c_str(), "rb", false);
            if (!stream.stream)
                return nullptr;
            image = std::make_unique<Bitmap>(stream, ext.c_str());
        } else {
            // loadImage goes by the last three letters of the name, in lower case.
            if (path.compare(path.size() - 3, 3, ext) != 0)
                return nullptr;
            image->loadImage(path.c_str());
        }
        if (image->width > 0 && image->height > 0 && image->pixels)
            return image;
    } catch (const std::exception &) {
    }
    return nullptr;
}

std::unique_ptr<Bitmap> decodeImage(const std::vector<unsigned char> &bytes)
{
    static const unsigned char png[] = {0x89, 'P', 'N', 'G'}, jpeg[] = {0xFF, 0xD8, 0xFF};
    const auto startsWith = [&bytes](const unsigned char *magic, size_t n) {
        return bytes.size() >= n && std::equal(magic, magic + n, bytes.begin());
    };
    const char *ext = startsWith(png, sizeof png) ? "png" : startsWith(jpeg, sizeof jpeg) ? "jpg" : nullptr;
    if (!ext)
        return nullptr;
    // The decoders read streams: the bytes are read through one, never copied to a file.
    std::unique_ptr<FILE, int (*)(FILE *)> in(
        fmemopen(const_cast<unsigned char *>(bytes.data()), bytes.size(), "rb"), std::fclose);
    if (!in)
        return nullptr;
    try {
        auto image = std::make_unique<Bitmap>(in.get(), ext);
        if (image->width > 0 && image->height > 0 && image->pixels)
            return image;
    } catch (const std::exception &) {
    }
    return nullptr;
}

int tileNumber(const std::string &path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || dot < 4 || (slash != std::string::npos && dot < slash + 5))
        return 0;
    for (size_t i = dot - 4; i < dot; ++i)
        if (!std::isdigit(static_cast<unsigned char>(path[i])))
            return 0;
    // Only the last four digits of the name: "wall12001.png" is no tile.
    if (dot > 4 && std::isdigit(static_cast<unsigned char>(path[dot - 5])))
        return 0;
    const int tile = std::atoi(path.substr(dot - 4, 4).c_str());
    return tile >= 1001 && tile <= 1100 ? tile : 0;
}

std::string tileName(const std::string &path, int tile)
{
    const size_t dot = path.find_last_of('.');
    if (tileNumber(path) == 0 || tile < 1001 || tile > 1100)
        return path;
    return path.substr(0, dot - 4) + std::to_string(tile) + path.substr(dot);
}

} // namespace TextureImageFiles
