// A TIFF file: libtiff reads it from its name, so the input goes through a file.
#include "Harness.h"
#include "ImageCheck.h"

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const std::string path = fuzz::writeFile("image.tif", data, size);
    fuzz::readImage([&](Bitmap &b) { b.loadTIFF(path.c_str()); });
}
