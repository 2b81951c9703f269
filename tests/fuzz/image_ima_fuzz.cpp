// The first slice of an IMA volume: sizes and sample type in the ".dim" side file.
// The input holds both files: its first byte is the length of the ".dim" text that follows,
// the rest is the ".ima" file.
#include "FuzzFiles.h"
#include "ImageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fuzz::TwoFiles in(data, size);
    fuzz::writeFile("image.dim", in.first, in.firstSize);
    const std::string path = fuzz::writeFile("image.ima", in.second, in.secondSize);
    fuzz::readImage([&](Bitmap &b) { b.loadIMA(path.c_str()); });
    return 0;
}
