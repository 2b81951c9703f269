// libFuzzer harness of the ASPRS LAS reader: each input is a whole file, read with its size
// known (a local file) and unknown (a download).
#include "Harness.h"
#include "formats/LasReader.h"

#include <cstdint>
#include <cstdlib>
#include <exception>

namespace {

void check(const PointListData &d)
{
    if (d.nPoints <= 0 || !d.points || d.items.size() < 3)
        std::abort();
    const size_t last = static_cast<size_t>(d.nPoints) - 1;
    volatile float sink = d.points[3 * last + 2] + d.items.back().values[last];
    if (d.colors)
        sink = sink + d.colors[3 * last + 2];
    (void)sink;
}

} // namespace

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::QuietOutput)
{
    for (bool sizeKnown : {true, false}) {
        const fuzz::Stream f = fuzz::stream(data, size);
        fuzz::refusing<std::exception>(
            [&] { check(LasReader::read(f.get(), sizeKnown ? static_cast<long long>(size) : -1, "fuzz.las")); });
    }
}
