// libFuzzer harness of the nodes of a Potree 2.0 cloud: each input is the octree.bin of a
// cloud whose hierarchy has one node of all its bytes, read as a BROTLI node when the first
// byte is odd, else as a DEFAULT one; the node's point count is the second byte.
#include "Harness.h"
#include "formats/PotreeReader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    if (size < 3)
        return;
    const bool brotli = data[0] & 1;
    const uint32_t points = data[1];
    const uint64_t bytes = size - 2;
    char meta[1024];
    std::snprintf(meta, sizeof meta,
                  R"({"encoding":"%s","scale":[0.01,0.01,0.01],"offset":[0,0,0],"spacing":1,)"
                  R"("boundingBox":{"min":[0,0,0],"max":[100,100,100]},"hierarchy":{"firstChunkSize":22},)"
                  R"("attributes":[{"name":"position","size":12,"numElements":3,"elementSize":4,"type":"int32"},)"
                  R"({"name":"intensity","size":2,"numElements":1,"elementSize":2,"type":"uint16"},)"
                  R"({"name":"rgb","size":6,"numElements":3,"elementSize":2,"type":"uint16"}]})",
                  brotli ? "BROTLI" : "DEFAULT");
    unsigned char node[22] = {1, 0};
    std::memcpy(node + 2, &points, 4);
    std::memcpy(node + 14, &bytes, 8);
    fuzz::writeFile("hierarchy.bin", node, sizeof node);
    fuzz::writeFile("octree.bin", data + 2, bytes);
    const std::string path =
        fuzz::writeFile("metadata.json", reinterpret_cast<const uint8_t *>(meta), std::strlen(meta));
    const PointListData d = PotreeReader::read(path.c_str());
    if (d.nPoints != static_cast<int>(points) || d.items.size() < 3)
        std::abort();
}
