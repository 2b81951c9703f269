#ifndef VELMORA_MESHROOMSCENE_H
#define VELMORA_MESHROOMSCENE_H

#include "formats/Reconstruction.h"

#include <string>

/// Reader of the JSON scene files of the Meshroom/AliceVision pipeline (".sfm", or ".json"
/// holding the same keys), as its structure-from-motion step writes them:
/// - `views`: `viewId`, `poseId`, `intrinsicId`, `path` (usually absolute), `width`, `height`;
/// - `intrinsics`: `intrinsicId`, `width`, `height`, `type`, the focal length in pixels
///   (`pxFocalLength`, files before version 1.2.2) or in millimetres (`focalLength` with
///   `sensorWidth` and `pixelRatio`), `principalPoint` (in pixels from the top-left corner
///   before version 1.2.1, from the image centre since), `distortionParams` (ignored with a
///   note); camera types other than pinhole ones with distortion are refused by name;
/// - `poses`: `poseId` and `pose.transform` with `rotation` (9 values) and `center` (3);
/// - `structure`: landmarks with `color`, `X` and `observations` (`observationId` is the
///   view, `x` the pixel), which become the points; each point's error is its mean
///   distance in pixels to where the posed views it is observed in show it.
/// The file stores numbers as strings (a property tree written as JSON); numbers are read too.
///
/// AliceVision's pose maps a world point X to the camera point R (X - C), camera axes x right,
/// y down, z forward, with pixels measured from the image's top-left corner as COLMAP's: the
/// pose is this program's with t = -R C. `rotation` lists R column by column (Eigen's storage
/// order). Views without a pose (not reconstructed) and views of a camera rig are listed in
/// one note each and skipped. Errors raise std::runtime_error with a text starting "Meshroom: ".
class MeshroomScene {
public:
    /// True for a file whose name ends in ".sfm", or in ".json" with the keys "views" and
    /// "intrinsics" in its text.
    static bool isSceneFile(const std::string &path);

    /// The scene of the file's text.
    static Reconstruction parse(const std::string &text);
    /// The file at `path`.
    static Reconstruction read(const std::string &path);
};

#endif
