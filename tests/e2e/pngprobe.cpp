// Prints what end-to-end tests need to know of a PNG file: its size and the RGBA value of
// a few pixels. Usage: pngprobe FILE [x y]...  ->  "W H" then one "R G B A" line per pixel.
// "pngprobe --compare A B" compares two files within the baseline tolerances: status 0 when
// they match, 1 (with the differences on standard error) when they do not.
#include "support/ImageCompare.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    if (argc == 4 && std::string(argv[1]) == "--compare") {
        testsupport::RgbaImage a, b;
        std::string error;
        if (!testsupport::readPng(argv[2], a, error) || !testsupport::readPng(argv[3], b, error)) {
            std::fprintf(stderr, "pngprobe: %s\n", error.c_str());
            return 1;
        }
        if (testsupport::imagesMatch(a, b, error))
            return 0;
        std::fprintf(stderr, "pngprobe: %s and %s differ: %s\n", argv[2], argv[3], error.c_str());
        return 1;
    }
    if (argc < 2 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: pngprobe FILE [x y]...\n");
        return 2;
    }
    testsupport::RgbaImage image;
    std::string error;
    if (!testsupport::readPng(argv[1], image, error)) {
        std::fprintf(stderr, "pngprobe: %s\n", error.c_str());
        return 1;
    }
    std::printf("%d %d\n", image.width, image.height);
    for (int i = 2; i + 1 < argc; i += 2) {
        const int x = std::atoi(argv[i]), y = std::atoi(argv[i + 1]);
        if (x < 0 || y < 0 || x >= image.width || y >= image.height) {
            std::fprintf(stderr, "pngprobe: pixel %d %d outside the image\n", x, y);
            return 1;
        }
        const unsigned char *p = image.at(x, y);
        std::printf("%d %d %d %d\n", p[0], p[1], p[2], p[3]);
    }
    return 0;
}
