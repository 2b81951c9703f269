#include "image/ImageNames.h"

#include "image/Bitmap.h"

#include <cctype>
#include <cstring>

namespace imagenames
{

std::string keyword(const char *path)
{
    const char *dot = path ? std::strrchr(path, '.') : nullptr;
    if (!dot || std::strchr(dot, '/'))
        return "";
    std::string ext = dot + 1;
    for (char &c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "tiff")
        return "tif";
    if (ext == "jpeg")
        return "jpg";
    if (ext == "pnm")
        return "ppm";
    for (const char *k : {"tga", "ppm", "pgm", "ima", "rvb", "jpg", "tif", "png"})
        if (ext == k)
            return ext;
    return "";
}

void load(Bitmap &image, const char *path)
{
    const std::string k = keyword(path);
    if (k == "tga")
        image.loadTGA(path);
    else if (k == "ppm")
        image.loadPPM(path);
    else if (k == "pgm")
        image.loadPGM(path);
    else if (k == "ima")
        image.loadIMA(path);
    else if (k == "rvb")
        image.loadRVB(path);
    else if (k == "jpg")
        image.loadJPG(path);
    else if (k == "tif")
        image.loadTIFF(path);
    else if (k == "png")
        image.loadPNG(path);
    else
        image.loadImage(path);
}

int save(const Bitmap &image, const char *path)
{
    const std::string k = keyword(path);
    if (k == "ppm")
        return image.savePPM(path);
    if (k == "png")
        return image.savePNG(path);
    if (k == "jpg")
        return image.saveJPEG(path, 100);
    return image.save(path);
}

} // namespace imagenames
