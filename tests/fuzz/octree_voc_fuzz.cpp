// An octree file of the "voc" kind read from memory.
#include "Harness.h"
#include "VolumeCheck.h"

#include <cstdint>

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    volumefuzz::readOctree([&] { return OctreeReader::readVOC(data, size, "fuzz.voc"); });
}
