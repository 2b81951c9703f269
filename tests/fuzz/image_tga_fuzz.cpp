// A TGA file copied into memory; the loader takes a name only.
#include "FuzzFiles.h"
#include "ImageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = fuzz::writeFile("image.tga", data, size);
    fuzz::readImage([&](Bitmap &b) { b.loadTGA(path.c_str()); });
    return 0;
}
