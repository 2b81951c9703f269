// A Meshroom scene file. A scene that is read gives the views of the viewer's camera, each
// then used, and its point list.
#include "Harness.h"
#include "formats/MeshroomScene.h"
#include "ReconstructionCheck.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::KeepOutput)
{
    const Reconstruction rec = MeshroomScene::parse(std::string(reinterpret_cast<const char *>(data), size));
    fuzz::checkReconstruction(rec);
}
