// A JPEG file read from a stream: libjpeg decodes, the loader takes its scanlines.
#include "FuzzFiles.h"
#include "ImageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *f = fuzz::memoryStream(data, size);
    fuzz::readImage([&](Bitmap &b) { b.loadJPG(f); });
    std::fclose(f);
    return 0;
}
