#ifndef VELMORA_COLMAPMODEL_H
#define VELMORA_COLMAPMODEL_H

#include "formats/Reconstruction.h"

#include <string>

/// Reader of COLMAP sparse models: the text triple "cameras.txt", "images.txt",
/// "points3D.txt" or the binary triple with the extension "bin", in one folder.
///
/// COLMAP's pose is world to camera like this program's (quaternion qw qx qy qz, then t),
/// and its pixel coordinates also start at the top-left corner of the image, so poses and
/// intrinsics are taken over as they are. Camera models SIMPLE_PINHOLE, PINHOLE,
/// SIMPLE_RADIAL, RADIAL, OPENCV, FULL_OPENCV and OPENCV_FISHEYE are read with their lens
/// distortion; any other camera model is refused by name. Every view keeps its keypoints and
/// the point each observes, every point its POINT3D_ID and its track.
///
/// Every count is checked against the bytes that are left before anything is allocated for
/// it; every camera id of an image, every image id and observation index of a track and
/// every 3D point id an image observes must exist. Errors raise std::runtime_error with a
/// text starting "COLMAP: ".
class ColmapModel {
public:
    /// Where a model named by `path` is: `path` is one of the six file names (a ".bin" name
    /// only counts when its two companions are beside it), or a folder that holds the model
    /// itself or in "sparse", "sparse/0" or "0". Fills `folder` (no trailing separator) and
    /// `binary` (both triples present: binary). False when `path` names no model.
    static bool locate(const std::string &path, std::string &folder, bool &binary);
    /// True when `path` ends in "cameras.bin", "images.bin" or "points3D.bin".
    static bool isModelFileName(const std::string &path);

    /// Reads the model in `folder`.
    static Reconstruction read(const std::string &folder, bool binary);
    /// The same from the three files' contents.
    static Reconstruction parseText(const std::string &cameras, const std::string &images, const std::string &points);
    static Reconstruction parseBinary(const std::string &cameras, const std::string &images, const std::string &points);
};

#endif
