// libFuzzer harness of the splat scene reader: each input is a whole PLY file.
#include "Harness.h"
#include "SplatCheck.h"
#include "formats/SplatReader.h"

#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    fuzz::checkSplats(SplatReader::read(reinterpret_cast<const char *>(data), size, "fuzz.ply"));
}
