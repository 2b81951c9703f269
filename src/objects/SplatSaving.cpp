#include "objects/SplatSaving.h"

#include <stdexcept>

void saveSplats(const SplatScene &, const std::vector<unsigned char> &, const std::string &)
{
    // The splat writers (PLY as trainers write it, SPZ) come with their own formats; until
    // then a scene is refused rather than written in a form that would not reopen the same.
    throw std::runtime_error("saving splats is not available");
}
