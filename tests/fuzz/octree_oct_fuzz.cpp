// An octree file of the "oct" kind read from memory.
#include "VolumeCheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    volumefuzz::readOctree([&] { return OctreeReader::readOCT(data, size, "fuzz.oct"); });
    return 0;
}
