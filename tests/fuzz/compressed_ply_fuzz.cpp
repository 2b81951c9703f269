// libFuzzer harness of CompressedPlyReader: each input is a compressed PLY of chunks and packed splats.
#include "Harness.h"
#include "SplatCheck.h"
#include "formats/CompressedPlyReader.h"

#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    fuzz::checkSplats(CompressedPlyReader::read(reinterpret_cast<const char *>(data), size, "fuzz.compressed.ply"));
}
