// libFuzzer harness of the "bin" point-cloud reader: each input is a whole file, read from
// memory with its size known (as a local file) and again with it unknown (as a download).
#include "Harness.h"
#include "MeshCheck.h"
#include "formats/PointListReader.h"

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

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::QuietOutput)
{
    for (bool sizeKnown : {true, false}) {
        const fuzz::Stream f = fuzz::stream(data, size);
        fuzz::refusing<std::exception>(
            [&] { check(PointListReader::readBIN(f.get(), sizeKnown ? static_cast<long long>(size) : -1, "fuzz.bin")); });
    }
}
