#ifndef VELMORA_CAMERAPOSES_H
#define VELMORA_CAMERAPOSES_H

#include "math/Similarity.h"

#include <string>
#include <vector>

/// One view of a calibrated camera set, reduced to what comparing two sets needs.
struct CameraPose {
    std::string name; ///< the photograph's name; empty when the file names none
    Mat3d R{};        ///< world to camera (x = R X + t; x right, y down, z forward)
    Vec3d centre{};   ///< -R^T t, in the file's world frame
};

/// The views of a camera file, COLMAP model or Bundler file, in the file's order.
struct CameraPoses {
    std::string format; ///< "camera file", "COLMAP text", "COLMAP binary", "Bundler"
    std::vector<CameraPose> views;
};

/// Reads the camera model `path` names, whatever its kind: a COLMAP model (a folder or one of
/// its files), a Bundler "bundle.out" (or a folder holding one), or else a camera file of this
/// program (its views have no photograph names: they are matched by index). The readers of
/// further kinds are added here, so every caller knows them at once. Throws
/// std::runtime_error with one line naming the file and the reason.
CameraPoses readCameraPoses(const std::string &path);

/// The pairs of views of `reference` and `model` that show the same photograph: by name when
/// both sets name their photographs (the names compared without folder and extension), else
/// by index. `refusal` is set, and no pair returned, when both name their photographs and no
/// name is common.
struct ViewMatch {
    std::vector<std::pair<int, int>> pairs; ///< (reference index, model index)
    bool byName = false;
    std::string refusal;
};
ViewMatch matchViews(const CameraPoses &reference, const CameraPoses &model);

/// A model's cameras brought onto reference cameras: the similarity fitted to the matched
/// centres (fitSimilarityRobust), and per matched view the errors left after it.
struct CameraAlignment {
    ViewMatch match;
    SimilarityFit fit;      ///< its refusal, when set, is also the alignment's
    /// Per pair of `match`: |s R c_model + t - c_reference|, in the reference's units.
    std::vector<double> positionErrors;
    /// Per pair: the angle in degrees of R_ref R_aligned^T, R_aligned = R_model R^T the
    /// model's rotation once its world is turned into the reference's.
    std::vector<double> rotationErrors;

    bool ok() const { return match.refusal.empty() && fit.ok(); }
    const std::string &refusal() const { return match.refusal.empty() ? fit.refusal : match.refusal; }
};
CameraAlignment alignCameraPoses(const CameraPoses &reference, const CameraPoses &model);

/// The figures of a successful alignment, one line each (newline-terminated): s, the rotation
/// as axis and angle, t, a table of the matched views (named after the reference's views)
/// with their position and rotation errors, and the mean, median and maximum of both.
std::string describeAlignment(const CameraAlignment &alignment, const CameraPoses &reference);

#endif
