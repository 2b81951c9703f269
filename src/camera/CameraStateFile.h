#ifndef VELMORA_CAMERASTATEFILE_H
#define VELMORA_CAMERASTATEFILE_H

#include "formats/CameraState.h"

/// The camera state file of a GLCamera: the shown model-view and projection, the viewport,
/// pan, zoom and planes as text, written by "*" and read back by the space key. The file
/// itself is CameraState's, and the camera makes and shows one; this part prints one as the
/// "+" key does.
class CameraStateFile {
public:
    /// The matrices of `state` on standard output, with the pixel-unit K that its projection
    /// amounts to for photographs of width x height pixels.
    static void print(const CameraState &state, float width, float height);
};

#endif
