#ifndef VELMORA_ALIGNEDVIEWS_H
#define VELMORA_ALIGNEDVIEWS_H

#include "formats/CameraPoses.h"

class GLCamera;

/// The original views of `camera` as poses to align, in its order, each named after its
/// photograph (no name for a view without one: the views are then matched by index).
CameraPoses posesOfViews(const GLCamera &camera);

/// The world-to-camera pose (R, t) of a view once its world is moved by the similarity
/// X' = s Q X + u: R' = R Q^T, t' = s t - R' u. A point and its moved copy then project onto
/// the same pixel, with the same intrinsics.
void movePose(const Similarity &moved, Mat3d &R, Vec3d &t);

/// Moves every original view of `camera` by `moved` (see movePose); the intrinsics stay.
void moveViews(GLCamera &camera, const Similarity &moved);

#endif
