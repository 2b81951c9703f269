// imgconv IN OUT: converts an image between the formats the image class reads and writes,
// each chosen by its file's extension. Checks and benchmarks outside the program use it to
// drive the readers and writers on real files.
#include "image/Bitmap.h"
#include "image/ImageNames.h"

#include <cstdio>
#include <exception>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IN OUT\n", argv[0]);
        return 2;
    }
    try {
        // Loaded, not mapped: a mapped TGA would keep the file's byte and row order.
        Bitmap image;
        imagenames::load(image, argv[1]);
        if (!imagenames::save(image, argv[2])) {
            std::fprintf(stderr, "%s: can't save %s\n", argv[0], argv[2]);
            return 1;
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s: %s\n", argv[0], argv[1], e.what());
        return 1;
    }
    return 0;
}
