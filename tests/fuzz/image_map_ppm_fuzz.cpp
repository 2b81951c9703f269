// A PPM file mapped into memory: the pixels are the file's own bytes after the header.
#include "Harness.h"
#include "ImageCheck.h"

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const std::string path = fuzz::writeFile("image.ppm", data, size);
    fuzz::readImage([&](Bitmap &b) { b.mapPPM(path.c_str()); });
}
