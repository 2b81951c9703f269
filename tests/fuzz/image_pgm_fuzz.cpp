// A PGM file read from a stream: every grey byte becomes a pixel.
#include "FuzzFiles.h"
#include "ImageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *f = fuzz::memoryStream(data, size);
    fuzz::readImage([&](Bitmap &b) { b.loadPGM(f); });
    std::fclose(f);
    return 0;
}
