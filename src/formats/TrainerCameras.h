#ifndef VELMORA_TRAINERCAMERAS_H
#define VELMORA_TRAINERCAMERAS_H

#include "formats/Reconstruction.h"

#include <string>
#include <vector>

/// The output folder of the usual Gaussian splatting trainer: `cameras.json` beside
/// `point_cloud/iteration_N/point_cloud.ply`.
///
/// `cameras.json` is a list of views, each with `img_name` (usually without extension),
/// `width`, `height`, `fx`, `fy`, `position` (the camera centre) and `rotation` (the
/// camera-to-world 3x3 matrix, row by row, in COLMAP's axes: x right, y down, z forward). The
/// principal point is the image centre. The views become this program's world-to-camera poses
/// R = rotation^T, t = -R position. A view that lacks a field, has a non-positive size or focal
/// length, a value that is not a finite number or a rotation that is not one is refused, with
/// the file; errors raise std::runtime_error with a text starting "cameras.json: ".
class TrainerCameras {
public:
    /// True when `folder` is a trainer's output folder; `splats` is then the point cloud of the
    /// largest iteration.
    static bool locate(const std::string &folder, std::string &splats);
    /// Reads the file at `path`.
    static Reconstruction read(const std::string &path);
    /// The same from the file's text.
    static Reconstruction parse(const std::string &text);
    /// Gives the image names without extension the extension of a photograph found in one of
    /// `folders` (".png", ".jpg", ".jpeg", ".JPG", ".PNG"); the others stay as they are.
    static void completeImageNames(Reconstruction &model, const std::vector<std::string> &folders);
};

#endif
