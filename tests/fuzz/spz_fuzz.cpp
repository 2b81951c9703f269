// libFuzzer harness of SpzReader: each input is an SPZ file (gzip of versions 1 to 3, or the plain header and ZSTD streams of 4).
#include "Harness.h"
#include "SplatCheck.h"
#include "formats/SpzReader.h"

#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    fuzz::checkSplats(SpzReader::read(reinterpret_cast<const char *>(data), size, "fuzz.spz"));
}
