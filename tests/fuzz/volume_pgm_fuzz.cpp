// A PGM image read as a one-slice volume (its own header scan, not Bitmap's).
#include "VolumeCheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    volumefuzz::readVolume([&] { return VolumeReader::readPGM(data, size, "fuzz.pgm"); });
    return 0;
}
