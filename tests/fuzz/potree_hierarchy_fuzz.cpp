// libFuzzer harness of the Potree 2.0 hierarchy: each input is a hierarchy.bin whose first
// chunk is as long as the input's first byte says, in node records.
#include "Harness.h"
#include "formats/TileFormats.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    if (size < 1)
        return;
    for (const TileNode &n : parsePotreeHierarchy(data + 1, size - 1, uint64_t(data[0]) * 22)) {
        const int64_t side = int64_t(1) << n.level;
        if (n.points == 0 || n.level < 0 || n.level > 30 || n.x < 0 || n.x >= side || n.y >= side || n.z >= side)
            std::abort();
    }
}
