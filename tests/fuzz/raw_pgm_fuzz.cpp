// The raw PGM reader of silhouettes: a "P5" header found in the first 127 bytes, then the
// grey bytes.
#include "Harness.h"

#include "formats/SequenceFiles.h"

#include <cstdlib>

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const std::string path = fuzz::writeFile("view00.pgm", data, size);
    int w = -1, h = -1;
    const auto pixels = sequence::loadPGM(path.c_str(), w, h);
    if (!pixels) {
        if (w != 0 || h != 0)
            std::abort();
        return;
    }
    // Every pixel it announces came from the file.
    if (w < 1 || h < 1 || static_cast<size_t>(w) * static_cast<size_t>(h) > size)
        std::abort();
    volatile unsigned sum = 0;
    for (size_t k = 0; k < static_cast<size_t>(w) * h; ++k)
        sum += pixels[k];
}
