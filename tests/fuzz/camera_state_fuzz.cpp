// The camera state file that the space key restores (model-view, projection, viewport, pan,
// zoom and planes), read into a default camera.
#include "Harness.h"

#include "camera/GLCamera.h"

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const std::string path = fuzz::writeFile("cameraState.txt", data, size);
    // A fresh camera for every input, so that a finding does not depend on the inputs before.
    GLCamera camera;
    camera.loadCameraState(path.c_str());
    camera.getFinalKMatrix();
}
