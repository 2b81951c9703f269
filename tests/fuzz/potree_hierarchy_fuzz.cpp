// libFuzzer harness of the Potree 2.0 hierarchy: each input is a hierarchy.bin whose first
// chunk is as long as the input's first byte says, in node records.
#include "Harness.h"
#include "formats/PotreeReader.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    if (size < 1)
        return;
    for (const PotreeNode &n : PotreeReader::parseHierarchy(data + 1, size - 1, uint64_t(data[0]) * 22))
        if (n.points == 0)
            std::abort();
}
