// libFuzzer harness of the COPC hierarchy: each input is a file whose first bytes are the
// root page (its size in the input's first two bytes), every page and node checked against it.
#include "Harness.h"
#include "formats/CopcHierarchy.h"

#include <cstdint>
#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    if (size < 2)
        return;
    const CopcInfo info{{0, 0, 0}, 1, 1, 2, static_cast<uint64_t>(data[0] | data[1] << 8), 0, 0};
    const fuzz::Stream f = fuzz::stream(data, size);
    for (const CopcEntry &e : CopcHierarchy::nodes(f.get(), size, info))
        if (e.points <= 0 || e.offset + static_cast<uint64_t>(e.bytes) > size)
            std::abort();
}
