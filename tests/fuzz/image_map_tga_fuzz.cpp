// A TGA file mapped into memory: the pixels are the file's own bytes after the header.
#include "Harness.h"
#include "ImageCheck.h"

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const std::string path = fuzz::writeFile("image.tga", data, size);
    fuzz::readImage([&](Bitmap &b) { b.mapTGA(path.c_str()); });
}
