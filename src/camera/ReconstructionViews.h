#ifndef VELMORA_RECONSTRUCTIONVIEWS_H
#define VELMORA_RECONSTRUCTIONVIEWS_H

#include "camera/GLView.h"
#include "formats/Reconstruction.h"

#include <string>
#include <vector>

/// The views of a reconstruction tool's model in this program's camera model, as a camera is
/// built from them: one set of intrinsics, one rotation and one translation a view. Building
/// them needs no OpenGL, so the readers' harnesses check them too.
struct ReconstructionViews {
    std::vector<GLView::Intrinsics> intrinsics;
    std::vector<Matrix3> rotations;
    std::vector<Point3> translations;
    /// The lens of every view; empty when every view is a pinhole camera.
    std::vector<LensDistortion> distortions;

    /// Where the model gives no image size (Bundler), it is taken from the view's photograph,
    /// else from another view's, else a square of twice the focal length is assumed (and
    /// said); the principal point is then its centre. Throws std::runtime_error for a number
    /// beyond the float range.
    static ReconstructionViews of(const Reconstruction &model, const std::vector<std::string> &photographs);
};

#endif
