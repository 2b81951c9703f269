// A Bundler file and its list.txt: a 32-bit little-endian length cuts the input into the
// two. A file that is read gives the views of the viewer's camera, each then used,
// and its point list.
#include "Harness.h"
#include "formats/BundlerFile.h"
#include "ReconstructionCheck.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::KeepOutput)
{
    if (size < 4)
        return;
    size_t a = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
    const std::string rest(reinterpret_cast<const char *>(data + 4), size - 4);
    a = a > rest.size() ? rest.size() : a;
    const Reconstruction rec = BundlerFile::parse(rest.substr(0, a), rest.substr(a));
    if (!rec.centredPrincipalPoint)
        std::abort();
    fuzz::checkReconstruction(rec);
}
