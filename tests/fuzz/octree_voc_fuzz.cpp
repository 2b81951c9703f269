// An octree file of the "voc" kind read from memory.
#include "VolumeCheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    volumefuzz::readOctree([&] { return OctreeReader::readVOC(data, size, "fuzz.voc"); });
    return 0;
}
