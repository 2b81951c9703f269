// libFuzzer harness of DotSplatReader: each input is a .splat file of 32-byte splats.
#include "Harness.h"
#include "SplatCheck.h"
#include "formats/DotSplatReader.h"

#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    fuzz::checkSplats(DotSplatReader::read(reinterpret_cast<const char *>(data), size, "fuzz.splat"));
}
