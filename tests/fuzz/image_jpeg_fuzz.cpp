// A JPEG file read from a stream: libjpeg decodes, the loader takes its scanlines.
#include "Harness.h"
#include "ImageCheck.h"

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const fuzz::Stream f = fuzz::stream(data, size);
    fuzz::readImage([&](Bitmap &b) { b.loadJPG(f.get()); });
}
