// libFuzzer harness of the "bin" point-cloud reader: each input is a whole file, read from
// memory with its size known (as a local file) and again with it unknown (as a download).
#include "FuzzFiles.h"
#include "MeshCheck.h"
#include "objects/PointListReader.h"

#include <cstdint>
#include <exception>

namespace {

void check(const PointListData &d)
{
    if (d.nPoints <= 0 || !d.points || (!d.colors && !d.values))
        std::abort();
    const size_t last = static_cast<size_t>(d.nPoints) - 1;
    volatile float sink = d.points[3 * last + 2];
    if (d.colors)
        sink = sink + d.colors[3 * last + 2];
    if (d.values)
        sink = sink + d.values[last];
    (void)sink;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    meshfuzz::silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (bool sizeKnown : {true, false}) {
        FILE *f = fuzz::memoryStream(data, size);
        try {
            check(PointListReader::readBIN(f, sizeKnown ? static_cast<long long>(size) : -1, "fuzz.bin"));
        } catch (const std::exception &) {
            // A refused file is the reader doing its job.
        }
        std::fclose(f);
    }
    return 0;
}
