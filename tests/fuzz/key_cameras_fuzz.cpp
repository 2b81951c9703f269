// Key-camera files ("cameraAnimation.txt"): a count, then one pose a line. The reader must
// refuse what does not hold the count it announces without allocating for it, and what it
// accepts must be key cameras a flight can use.
#include "Harness.h"

#include "formats/KeyCameraFile.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::KeepOutput)
{
    const fuzz::Stream f = fuzz::stream(data, size);
    const std::vector<Position> keys = KeyCameraFile::read(f.get(), static_cast<long>(size));
    // Every key camera takes a line of twenty characters at least.
    if (keys.size() * 20 > size + 1)
        std::abort();
    for (const Position &p : keys)
        if (!(p.focal > 0) || !(std::fabs(p.rotation.norm() - 1) <= 1e-3f))
            std::abort();
}
