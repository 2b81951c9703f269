#ifndef VELMORA_KEYCAMERAFILE_H
#define VELMORA_KEYCAMERAFILE_H

#include "math/Position.h"

#include <cstdio>
#include <vector>

/// The files of camera flights: the key-camera file ("cameraAnimation.txt") and the pose
/// files that a flight exports.
///
/// Key-camera file, text: the number of key cameras ("%d\n"), then one line per key camera as
/// Position::print writes it (rotation w x y z, translation x y z, zoom factor, pan x y).
///
/// Pose file: a version 4.0 camera file: "V4.0", the image size, principal point and focal
/// lengths of the camera it was taken from, the number of poses, then each pose as
/// Position::printExtrinsic writes it. Any camera file reader reads it back as N views.
///
/// Writers write beside the final name and rename over it: a failed write leaves the earlier
/// file, or none, under the name.
class KeyCameraFile
{
  public:
    /// The key-camera file of the working directory.
    static constexpr const char *defaultName = "cameraAnimation.txt";
    /// More key cameras than any flight needs; a count beyond it is refused.
    static constexpr int maxKeyCameras = 100000;

    /// Reads the key cameras of `path`. Throws std::runtime_error when the file cannot be
    /// opened ("KeyCameraFile: can't open <path>") or does not hold what its count says; the
    /// texts name the fault, for example "KeyCameraFile: no key camera count",
    /// "KeyCameraFile: 5 key cameras can't fit in 60 bytes", "KeyCameraFile: the file ends
    /// after 2 of 3 key cameras", "KeyCameraFile: key camera 2: Position: expected 10 numbers,
    /// read 4", "KeyCameraFile: key camera 1 has no unit rotation",
    /// "KeyCameraFile: key camera 1 has a zoom factor of 0.000000".
    static std::vector<Position> read(const char *path);
    /// The same from an open stream holding `size` bytes from its current position.
    static std::vector<Position> read(FILE *in, long size);
    /// Writes `keys`; false when the file cannot be written.
    static bool write(const char *path, const std::vector<Position> &keys);
    /// What a pose file says of the camera the poses were taken from.
    struct Intrinsics {
        float width, height, centerX, centerY, focalX, focalY;
    };
    /// Writes the pose file of `poses` with the intrinsic parameters of the camera; false when
    /// the file cannot be written.
    static bool writePoses(const char *path, const Intrinsics &camera, const std::vector<Position> &poses);
};

#endif
