// An octree file of the "dn" kind read from memory.
#include "Harness.h"
#include "VolumeCheck.h"

#include <cstdint>

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    volumefuzz::readOctree([&] { return OctreeReader::readDN(data, size, "fuzz.dn"); });
}
