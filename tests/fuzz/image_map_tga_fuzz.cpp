// A TGA file mapped into memory: the pixels are the file's own bytes after the header.
#include "FuzzFiles.h"
#include "ImageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = fuzz::writeFile("image.tga", data, size);
    fuzz::readImage([&](Bitmap &b) { b.mapTGA(path.c_str()); });
    return 0;
}
