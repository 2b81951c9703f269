// libFuzzer harness of the "las" point-list text reader: each input is the whole text.
#include "Harness.h"
#include "MeshCheck.h"
#include "formats/PointListReader.h"

#include <cstdint>
#include <exception>

VELMORA_FUZZ_HARNESS(std::exception, fuzz::QuietOutput)
{
    const PointListData d = PointListReader::readLAS(reinterpret_cast<const char *>(data), size, "fuzz.las");
    if (d.nPoints <= 0 || !d.points || !d.colors)
        std::abort();
    const size_t last = static_cast<size_t>(d.nPoints) - 1;
    volatile float sink = d.points[3 * last + 2] + d.colors[3 * last + 2];
    (void)sink;
}
