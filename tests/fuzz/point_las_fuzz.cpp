// libFuzzer harness of the "las" point-list text reader: each input is the whole text.
#include "MeshCheck.h"
#include "objects/PointListReader.h"

#include <cstdint>
#include <exception>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    meshfuzz::silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        const PointListData d = PointListReader::readLAS(reinterpret_cast<const char *>(data), size, "fuzz.las");
        if (d.nPoints <= 0 || !d.points || !d.colors)
            std::abort();
        const size_t last = static_cast<size_t>(d.nPoints) - 1;
        volatile float sink = d.points[3 * last + 2] + d.colors[3 * last + 2];
        (void)sink;
    } catch (const std::exception &) {
        // A refused file is the reader doing its job.
    }
    return 0;
}
