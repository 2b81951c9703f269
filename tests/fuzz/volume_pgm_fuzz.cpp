// A PGM image read as a one-slice volume (its own header scan, not Bitmap's).
#include "Harness.h"
#include "VolumeCheck.h"

#include <cstdint>

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    volumefuzz::readVolume([&] { return VolumeReader::readPGM(data, size, "fuzz.pgm"); });
}
