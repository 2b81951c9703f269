#ifndef VELMORA_FUZZ_IMAGECHECK_H
#define VELMORA_FUZZ_IMAGECHECK_H

// Runs one image reader and holds the result to the promises of Bitmap.h: a reader that
// fails raises std::runtime_error and leaves the image empty; one that succeeds gives an
// image of at most MAX_PIXELS pixels whose every byte can be read. With VELMORA_FUZZ_VERBOSE
// set, each read prints its outcome (handy when running a harness on one file).

#include "image/Bitmap.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace fuzz {

[[noreturn]] inline void broken(const char *what)
{
    std::fprintf(stderr, "image reader broke its promise: %s\n", what);
    std::abort();
}

template <class Read> void readImage(Read read)
{
    static const bool verbose = std::getenv("VELMORA_FUZZ_VERBOSE") != nullptr;
    Bitmap b;
    try {
        read(b);
    } catch (const std::runtime_error &e) {
        if (verbose)
            std::fprintf(stderr, "refused: %s\n", e.what());
        if (b.width != 0 || b.height != 0 || b.pixels || b.nComments != 0)
            broken("a failed read left pixels behind");
        return;
    }
    if (b.width < 0 || b.height < 0 || static_cast<long long>(b.width) * b.height > Bitmap::MAX_PIXELS)
        broken("image size out of range");
    if (verbose)
        std::fprintf(stderr, "read %d x %d\n", b.width, b.height);
    if (b.width > 0 && b.height > 0 && !b.pixels)
        broken("an image without pixels");
    // Reading every byte lets AddressSanitizer see a buffer or a mapping shorter than the image.
    const auto *p = reinterpret_cast<const volatile unsigned char *>(b.pixels);
    const size_t n = static_cast<size_t>(b.width) * static_cast<size_t>(b.height) * 3;
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += p[i];
    for (int i = 0; i < b.nComments; ++i)
        if (!b.getComment(i))
            broken("a missing comment");
    static volatile unsigned sink;
    sink = sum;
}

} // namespace fuzz

#endif
