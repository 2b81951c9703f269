// libFuzzer harness of SogReader: each input is a .sog bundle (a zip of meta.json and WebP images).
#include "Harness.h"
#include "SplatCheck.h"
#include "formats/SogReader.h"

#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    fuzz::checkSplats(SogReader::readBundle(reinterpret_cast<const char *>(data), size, "fuzz.sog"));
}
