// Key-camera files ("cameraAnimation.txt"): a count, then one pose a line. The reader must
// refuse what does not hold the count it announces without allocating for it, and what it
// accepts must be key cameras a flight can use.
#include "FuzzFiles.h"

#include "camera/KeyCameraFile.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *f = fuzz::memoryStream(data, size);
    try {
        const std::vector<Position> keys = KeyCameraFile::read(f, static_cast<long>(size));
        // Every key camera takes a line of twenty characters at least.
        if (keys.size() * 20 > size + 1)
            std::abort();
        for (const Position &p : keys)
            if (!(p.focal > 0) || !(std::fabs(p.rotation.norm() - 1) <= 1e-3f))
                std::abort();
    } catch (const std::runtime_error &) {
    }
    std::fclose(f);
    return 0;
}
