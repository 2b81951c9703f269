// A COLMAP sparse model: the first byte chooses text (even) or binary (odd); then two 32-bit
// little-endian lengths cut the rest into cameras, images and points. A model that is read
// gives the views of the viewer's camera, each then used, and its point list.
#include "Harness.h"
#include "formats/ColmapModel.h"
#include "ReconstructionCheck.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

uint32_t length(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::KeepOutput)
{
    if (size < 9)
        return;
    const bool binary = data[0] & 1;
    size_t a = length(data + 1), b = length(data + 5);
    const std::string rest(reinterpret_cast<const char *>(data + 9), size - 9);
    a = a > rest.size() ? rest.size() : a;
    b = b > rest.size() - a ? rest.size() - a : b;
    const Reconstruction rec = binary ? ColmapModel::parseBinary(rest.substr(0, a), rest.substr(a, b), rest.substr(a + b))
                                      : ColmapModel::parseText(rest.substr(0, a), rest.substr(a, b), rest.substr(a + b));
    fuzz::checkReconstruction(rec);
}
