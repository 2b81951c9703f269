// A PNG file read from a stream: libpng decodes, the loader converts to 8-bit RGB.
#include "FuzzFiles.h"
#include "ImageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *f = fuzz::memoryStream(data, size);
    fuzz::readImage([&](Bitmap &b) { b.loadPNG(f); });
    std::fclose(f);
    return 0;
}
