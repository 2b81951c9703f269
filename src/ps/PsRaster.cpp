#include "ps/PsRaster.h"

#include <cmath>
#include <utility>

float PsRaster::depthAt(double wx, double wy) const
{
    const double px = std::floor(wx - x), row = std::floor(wy - y);
    if (!(px >= 0 && row >= 0 && px < width && row < height))
        return 2;
    // Window rows count from the bottom, the image's from the top.
    const size_t r = static_cast<size_t>(height - 1 - static_cast<int>(row));
    return depth[r * static_cast<size_t>(width) + static_cast<size_t>(px)];
}

void PsRaster::write(FILE *file) const
{
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (pixels == 0 || rgb.size() != 3 * pixels || depth.size() != pixels)
        return;
    // The first colour no kept pixel has marks the pixels left out.
    std::vector<bool> used(1u << 24);
    for (size_t p = 0; p < pixels; ++p)
        if (depth[p] <= 1)
            used[(static_cast<size_t>(rgb[3 * p]) << 16) | (static_cast<size_t>(rgb[3 * p + 1]) << 8) | rgb[3 * p + 2]] =
                true;
    size_t key = 0;
    while (key + 1 < used.size() && used[key])
        ++key;
    const unsigned kr = (key >> 16) & 0xffu, kg = (key >> 8) & 0xffu, kb = key & 0xffu;
    std::fprintf(file, "gsave\n%d %d translate %d %d scale\n/DeviceRGB setcolorspace\n", x, y, width, height);
    std::fprintf(file, "/rasterrow %d string def\n", 3 * width);
    std::fprintf(file,
                 "<< /ImageType 4 /Width %d /Height %d /BitsPerComponent 8 /Decode [0 1 0 1 0 1]\n"
                 "   /ImageMatrix [%d 0 0 -%d 0 %d] /MaskColor [%u %u %u]\n"
                 "   /DataSource { currentfile rasterrow readhexstring pop } >> image\n",
                 width, height, width, height, height, kr, kg, kb);
    static const char hex[] = "0123456789abcdef";
    std::vector<char> line(6 * static_cast<size_t>(width) + 1);
    for (size_t r = 0; r < static_cast<size_t>(height); ++r) {
        char *out = line.data();
        for (size_t c = 0; c < static_cast<size_t>(width); ++c) {
            const size_t p = r * static_cast<size_t>(width) + c;
            const bool kept = depth[p] <= 1;
            const unsigned v[3] = {kept ? rgb[3 * p] : kr, kept ? rgb[3 * p + 1] : kg, kept ? rgb[3 * p + 2] : kb};
            for (unsigned b : v) {
                *out++ = hex[b >> 4];
                *out++ = hex[b & 15u];
            }
        }
        *out++ = '\n';
        std::fwrite(line.data(), 1, static_cast<size_t>(out - line.data()), file);
    }
    std::fprintf(file, "grestore\n\n");
}
