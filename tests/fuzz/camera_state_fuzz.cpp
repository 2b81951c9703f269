// The camera state file that the space key restores (model-view, projection, viewport, pan,
// zoom and planes). A state that is read must be one the camera can divide by: a viewport of
// positive size and a finite zoom other than 0.
#include "Harness.h"

#include "formats/CameraState.h"

#include <cmath>
#include <cstdlib>

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const std::string path = fuzz::writeFile("cameraState.txt", data, size);
    CameraState state;
    if (!CameraState::read(path.c_str(), state))
        return;
    if (state.viewport[2] <= 0 || state.viewport[3] <= 0 || !std::isfinite(state.zoom) || state.zoom == 0 ||
        !std::isfinite(state.pan.x) || !std::isfinite(state.pan.y))
        std::abort();
    for (int k = 0; k < 16; k++)
        if (!std::isfinite(state.modelView(k / 4, k % 4)) || !std::isfinite(state.projection(k / 4, k % 4)))
            std::abort();
}
