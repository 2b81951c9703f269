// A PGM file read from a stream: every grey byte becomes a pixel.
#include "Harness.h"
#include "ImageCheck.h"

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const fuzz::Stream f = fuzz::stream(data, size);
    fuzz::readImage([&](Bitmap &b) { b.loadPGM(f.get()); });
}
