// The first slice of an IMA volume: sizes and sample type in the ".dim" side file.
// The input holds both files: its first byte is the length of the ".dim" text that follows,
// the rest is the ".ima" file.
#include "Harness.h"
#include "ImageCheck.h"

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const fuzz::TwoFiles in(data, size);
    fuzz::writeFile("image.dim", in.first, in.firstSize);
    const std::string path = fuzz::writeFile("image.ima", in.second, in.secondSize);
    fuzz::readImage([&](Bitmap &b) { b.loadIMA(path.c_str()); });
}
