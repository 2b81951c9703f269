// Raw native floats as 16-bit fixed point. The caller gives the sizes, so the input's first
// four bytes give them here (two signed 16-bit numbers, to reach negative and oversized
// images too); the rest is the file.
#include "Harness.h"
#include "ImageCheck.h"

#include <cstring>

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    if (size < 4)
        return;
    int16_t sizes[2];
    std::memcpy(sizes, data, sizeof sizes);
    const std::string path = fuzz::writeFile("image.raw", data + 4, size - 4);
    fuzz::readImage([&](Bitmap &b) { b.loadfromfloat(path.c_str(), sizes[0], sizes[1]); });
}
