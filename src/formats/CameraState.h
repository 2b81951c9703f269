#ifndef VELMORA_CAMERASTATE_H
#define VELMORA_CAMERASTATE_H

#include "math/Matrix4.h"
#include "math/Point2.h"

/// The camera state file: the shown model-view and projection, the viewport, pan, zoom and
/// planes as 41 numbers of text, written by "*" and read back by the space key.
struct CameraState {
    Matrix4 modelView;
    Matrix4 projection;
    int viewport[4] = {0, 0, 0, 0};
    Point2 pan;
    float zoom = 1;
    float zNear = 0;
    float zFar = 0;

    /// Writes the state beside `path` and renames it over it, so a failed write never leaves
    /// a truncated state behind; nothing happens when `path` is null or cannot be written.
    void write(const char *path) const;
    /// Reads a state that can be restored: a complete viewport of positive size, finite
    /// matrices, pan and zoom, and a zoom other than 0. False when the file cannot be opened
    /// (silently) or holds no such state (saying so as an error); `state` is then unchanged.
    static bool read(const char *path, CameraState &state);
};

#endif
