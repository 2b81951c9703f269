// libFuzzer harness of the trainer's cameras.json reader: each input is the whole file.
#include "Harness.h"
#include "formats/TrainerCameras.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    const Reconstruction m = TrainerCameras::parse(std::string(reinterpret_cast<const char *>(data), size));
    for (const ReconstructionView &v : m.views)
        if (!(v.fx > 0) || !(v.fy > 0) || v.width <= 0 || v.height <= 0 || !std::isfinite(v.t[0] + v.t[1] + v.t[2]))
            std::abort();
}
