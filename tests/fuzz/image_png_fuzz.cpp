// A PNG file read from a stream: libpng decodes, the loader converts to 8-bit RGB.
#include "Harness.h"
#include "ImageCheck.h"

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const fuzz::Stream f = fuzz::stream(data, size);
    fuzz::readImage([&](Bitmap &b) { b.loadPNG(f.get()); });
}
