// A TGA file copied into memory; the loader takes a name only.
#include "Harness.h"
#include "ImageCheck.h"

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const std::string path = fuzz::writeFile("image.tga", data, size);
    fuzz::readImage([&](Bitmap &b) { b.loadTGA(path.c_str()); });
}
