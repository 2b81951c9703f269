#ifndef VELMORA_RECONSTRUCTION_H
#define VELMORA_RECONSTRUCTION_H

#include "math/LensDistortion.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

/// A file's number as a float; a finite number beyond the float range is refused (its
/// conversion would be undefined) with `what` in the message.
inline float reconstructionFloat(double v, const char *what)
{
    if (std::fabs(v) > FLT_MAX)
        throw std::runtime_error(std::string(what) + " is out of range");
    return static_cast<float>(v);
}

/// The folder of a model file, where its readers look for the files beside it: "." for a bare
/// name, "/" for a file at the root.
inline std::string folderOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

/// One registered photograph of a reconstruction tool's output, already in this program's
/// camera model: a world point X has camera coordinates x = R X + t (x right, y down, z
/// forward) and lands on the pixel (fx x/z + cx, fy y/z + cy), measured from the top-left
/// corner of the image (the centre of the top-left pixel is (0.5, 0.5)).
struct ReconstructionView {
    std::string imageName; ///< the photograph's name as the model gives it
    int cameraId = 0;      ///< the model's identifier of the intrinsics (Bundler: the view index)
    double fx = 0, fy = 0, cx = 0, cy = 0;
    /// Image size in pixels; 0 when the model does not say (Bundler: the principal point is
    /// then the image centre, set once the photograph's size is known).
    int width = 0, height = 0;
    double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}; ///< row by row
    double t[3] = {0, 0, 0};
    /// What the lens does between the pinhole pixel and the photograph's pixel.
    LensDistortion distortion;
    /// The 2D points found in the photograph, x y by x y, in pixels as the model gives them
    /// (for a model with a centred principal point: from the principal point, y down).
    std::vector<float> keypoints;
    /// For each keypoint the index in Reconstruction::points of the 3D point it observes,
    /// -1 for none; empty when the model lists no keypoints.
    std::vector<int32_t> observes;

    int keypointCount() const { return static_cast<int>(observes.size()); }
    /// The pixel where the lens puts the world point X; false behind the camera.
    bool project(const double X[3], double &u, double &v) const
    {
        double x[3];
        for (int r = 0; r < 3; ++r)
            x[r] = R[3 * r] * X[0] + R[3 * r + 1] * X[1] + R[3 * r + 2] * X[2] + t[r];
        if (!(x[2] > 0))
            return false;
        double xd, yd;
        distortion.distort(x[0] / x[2], x[1] / x[2], xd, yd);
        u = fx * xd + cx;
        v = fy * yd + cy;
        return std::isfinite(u) && std::isfinite(v);
    }
};

/// One reconstructed 3D point with its colour and its mean reprojection error in pixels.
struct ReconstructionPoint {
    float x = 0, y = 0, z = 0;
    unsigned char r = 0, g = 0, b = 0;
    float error = 0;
    int64_t id = -1; ///< the model's own identifier of the point (COLMAP: POINT3D_ID), -1 for none
};

/// One observation of a 3D point: a view (index in Reconstruction::views) and one of its
/// keypoints.
struct TrackElement {
    uint32_t view;
    uint32_t keypoint;
};

/// A sparse reconstruction as a tool wrote it (COLMAP model, Bundler file), before anything
/// is drawn: plain values, no OpenGL. A reader only returns a record whose every view
/// references intrinsics the model defines and whose every track references views and
/// observations that exist.
struct Reconstruction {
    std::string format;                      ///< "COLMAP text", "COLMAP binary", "Bundler"
    std::vector<ReconstructionView> views;   ///< registered photographs, in the model's order
    std::vector<ReconstructionPoint> points;
    /// The track of point i is tracks[trackStart[i]] up to tracks[trackStart[i + 1]]; both are
    /// empty when the model keeps no tracks (transforms.json).
    std::vector<uint32_t> trackStart;
    std::vector<TrackElement> tracks;
    bool hasTracks() const { return !trackStart.empty(); }
    /// The image size is unknown and the principal point is the image centre (Bundler).
    bool centredPrincipalPoint = false;
    /// One-line remarks for the user (distortion ignored, views skipped, ...).
    std::vector<std::string> notes;
};

#endif
