// A PPM file read from a stream, as the viewer reads downloaded images.
#include "FuzzFiles.h"
#include "ImageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *f = fuzz::memoryStream(data, size);
    fuzz::readImage([&](Bitmap &b) { b.loadPPM(f); });
    std::fclose(f);
    return 0;
}
