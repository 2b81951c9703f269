// libFuzzer harness of the ASPRS LAS reader: each input is a whole file, read with its size
// known (a local file) and unknown (a download), and its records read as a part of a large file
// or a COPC node are (its header and extra-bytes descriptors kept apart).
#include "Harness.h"
#include "formats/LasReader.h"
#include "formats/LasRecords.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
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
    fuzz::refusing<std::exception>([&] {
        const std::string head(reinterpret_cast<const char *>(data), size);
        const LasRecords las(head, size);
        const LazFile::Header &h = las.header();
        const uint64_t n = std::min<uint64_t>(h.count, (size - h.offsetToPoints) / h.recordLength);
        double reference = NAN;
        if (las.isCompressed() || n == 0)
            return;
        const PointListData d = las.read(head.data() + h.offsetToPoints, static_cast<size_t>(n), "fuzz.las", &reference);
        check(d);
        if (las.itemNames().size() != d.items.size())
            std::abort();
    });
}
