#ifndef VELMORA_TRANSFORMSJSON_H
#define VELMORA_TRANSFORMSJSON_H

#include "formats/Reconstruction.h"

#include <functional>
#include <string>

/// Reader of the "transforms.json" cameras of neural-field and splatting trainers, in both
/// forms:
/// - nerfstudio's: intrinsics `fl_x`, `fl_y`, `cx`, `cy`, `w`, `h` and `camera_model` at the
///   top level, each of which a frame may override; the lens as nerfstudio documents it: OPENCV
///   (the default) with `k1` `k2` `p1` `p2`, OPENCV_FISHEYE with `k1`..`k4`; equirectangular
///   and other models are refused by name;
/// - the older NeRF form: `camera_angle_x` (and optionally `camera_angle_y`) instead of
///   focal lengths, the principal point at the image centre and the image size from the
///   first photograph when the file does not give it.
/// Every frame has a `file_path` and a 4x4 (or 3x4) camera-to-world `transform_matrix`
/// whose camera axes are OpenGL's (x right, y up, z back); they are turned into this
/// program's world-to-camera pose with y down and z forward here, and nowhere else.
/// Numbers may also be strings holding them. Errors raise std::runtime_error with a text
/// starting "transforms.json: ".
class TransformsJson {
public:
    /// Given the name of a frame's photograph as the file writes it, finds it: may change
    /// `name` (the NeRF form leaves out the extension) and, when `width` and `height` are
    /// not null, gives its size in pixels. False when there is no such photograph (or its
    /// size was asked for and cannot be read).
    using PhotographLookup = std::function<bool(std::string &name, int *width, int *height)>;

    /// True for a file named "transforms.json" (whatever it holds), for a file whose name ends
    /// in ".json" and whose text has the keys "frames" and "transform_matrix", or for a folder
    /// holding "transforms.json" (then `file` names it).
    static bool locate(const std::string &path, std::string &file);

    /// The cameras of the file's text. `lookup` may be empty: file names are then kept as
    /// they are and a file of the NeRF form must give its image size. With a lookup, frames
    /// whose photograph it does not find are counted in one note (their cameras are kept).
    static Reconstruction parse(const std::string &text, const PhotographLookup &lookup);
    /// The file at `path`: photographs are looked up beside it and the point cloud of
    /// `ply_file_path` is read as the points.
    static Reconstruction read(const std::string &path);
};

#endif
