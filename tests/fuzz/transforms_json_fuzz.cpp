// A transforms.json: the first byte chooses whether photographs are found (each one then
// 64 x 48 pixels, which the NeRF form takes its image size from) or none is. A file that is
// read gives the views of the viewer's camera, each then used.
#include "Harness.h"
#include "formats/TransformsJson.h"
#include "ReconstructionCheck.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::KeepOutput)
{
    if (size < 1)
        return;
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    TransformsJson::PhotographLookup lookup;
    if (data[0] & 1)
        lookup = [](std::string &, int *w, int *h) {
            if (w && h) {
                *w = 64;
                *h = 48;
            }
            return true;
        };
    const Reconstruction rec = TransformsJson::parse(text, lookup);
    fuzz::checkReconstruction(rec);
}
