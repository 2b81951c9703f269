#include "image/ImageNames.h"

#include "image/Bitmap.h"

#include <cctype>
#include <cstring>

namespace imagenames
{

namespace
{

// Bitmap's readers by their keyword.
struct Reader {
    const char *keyword;
    void (Bitmap::*load)(const char *);
};
const Reader kReaders[] = {
    {"tga", &Bitmap::loadTGA}, {"ppm", &Bitmap::loadPPM}, {"pgm", &Bitmap::loadPGM}, {"ima", &Bitmap::loadIMA},
    {"rvb", &Bitmap::loadRVB}, {"jpg", &Bitmap::loadJPG}, {"tif", &Bitmap::loadTIFF}, {"png", &Bitmap::loadPNG},
    {"pam", &Bitmap::loadPPM}, // read only: the netpbm reader knows PAM by its "P7"
};

// Other programs' names of Bitmap's formats, and the keyword of each.
const char *const kAliases[][2] = {{"tiff", "tif"}, {"jpeg", "jpg"}, {"pnm", "ppm"}};

} // namespace

std::string keyword(const char *path)
{
    const char *dot = path ? std::strrchr(path, '.') : nullptr;
    if (!dot || std::strchr(dot, '/'))
        return "";
    std::string ext = dot + 1;
    for (char &c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto &alias : kAliases)
        if (ext == alias[0])
            return alias[1];
    for (const Reader &r : kReaders)
        if (ext == r.keyword)
            return ext;
    return "";
}

std::vector<std::string> extensions()
{
    std::vector<std::string> names;
    for (const Reader &r : kReaders)
        names.push_back(r.keyword);
    for (const auto &alias : kAliases)
        names.push_back(alias[0]);
    return names;
}

void load(Bitmap &image, const char *path)
{
    const std::string k = keyword(path);
    for (const Reader &r : kReaders)
        if (k == r.keyword) {
            (image.*r.load)(path);
            return;
        }
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
