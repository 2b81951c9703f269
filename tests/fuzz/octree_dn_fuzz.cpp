// An octree file of the "dn" kind read from memory.
#include "VolumeCheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    volumefuzz::readOctree([&] { return OctreeReader::readDN(data, size, "fuzz.dn"); });
    return 0;
}
