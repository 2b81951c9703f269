// A PPM file read from a stream, as the viewer reads downloaded images.
#include "Harness.h"
#include "ImageCheck.h"

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const fuzz::Stream f = fuzz::stream(data, size);
    fuzz::readImage([&](Bitmap &b) { b.loadPPM(f.get()); });
}
