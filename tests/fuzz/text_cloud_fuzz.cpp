// libFuzzer harness of the text clouds ("xyz", "pts", "txt"): each input is the whole text.
#include "Harness.h"
#include "formats/TextCloudReader.h"

#include <cstdint>
#include <cstdlib>
#include <exception>

VELMORA_FUZZ_HARNESS(std::exception, fuzz::QuietOutput)
{
    const PointListData d = TextCloudReader::read(reinterpret_cast<const char *>(data), size, "fuzz.xyz");
    if (d.nPoints <= 0 || !d.points)
        std::abort();
    const size_t last = static_cast<size_t>(d.nPoints) - 1;
    volatile float sink = d.points[3 * last + 2];
    if (d.colors)
        sink = sink + d.colors[3 * last];
    if (!d.items.empty())
        sink = sink + d.items[0].values[last];
    (void)sink;
}
