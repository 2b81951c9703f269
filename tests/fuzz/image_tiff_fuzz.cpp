// A TIFF file: libtiff reads it from its name, so the input goes through a file.
#include "FuzzFiles.h"
#include "ImageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = fuzz::writeFile("image.tif", data, size);
    fuzz::readImage([&](Bitmap &b) { b.loadTIFF(path.c_str()); });
    return 0;
}
