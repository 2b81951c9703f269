// libFuzzer harness of GltfSplatReader: each input is a binary glTF of KHR_gaussian_splatting primitives.
#include "Harness.h"
#include "SplatCheck.h"
#include "formats/GltfSplatReader.h"

#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    fuzz::checkSplats(GltfSplatReader::readGlb(reinterpret_cast<const char *>(data), size, "fuzz.glb"));
}
