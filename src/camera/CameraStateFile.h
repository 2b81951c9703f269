#ifndef VELMORA_CAMERASTATEFILE_H
#define VELMORA_CAMERASTATEFILE_H

class GLCamera;

/// The camera state file of a GLCamera: the shown model-view and projection, the viewport,
/// pan, zoom and planes as text, written by "*" and read back by the space key. The file
/// holds 41 numbers; one that does not hold a complete, usable state changes nothing. The
/// file itself is CameraState's; this part moves it into and out of the camera.
class CameraStateFile {
public:
    explicit CameraStateFile(GLCamera &camera) : c(camera) {}

    /// See GLCamera::saveCameraState(), loadCameraState() and printCameraState().
    void save(const char *path);
    void load(const char *path);
    void print();

private:
    GLCamera &c;
};

#endif
