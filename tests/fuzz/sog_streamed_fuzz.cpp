// libFuzzer harness of StreamedSog: each input is a zip of a lod-meta.json and its chunks'
// folders (unbundled SOG), as a streamed scene lies on disk.
#include "Harness.h"
#include "SplatCheck.h"
#include "formats/StreamedSog.h"

#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    fuzz::checkSplats(StreamedSog::readBundle(reinterpret_cast<const char *>(data), size, "fuzz/lod-meta.json"));
}
