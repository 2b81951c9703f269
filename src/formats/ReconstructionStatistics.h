#ifndef VELMORA_RECONSTRUCTIONSTATISTICS_H
#define VELMORA_RECONSTRUCTIONSTATISTICS_H

#include "formats/Reconstruction.h"

#include <cstdint>
#include <vector>

/// How well a sparse reconstruction holds together, measured from its tracks with each view's
/// full camera model (lens distortion included): per point and per view. A residual is the
/// distance in pixels between a keypoint and where its 3D point projects; an observation
/// whose point lies behind the view has none and is left out of the means (it still counts
/// in the track length and the observation count).
struct ReconstructionStatistics {
    /// Per point: the mean residual over its track (NaN without a residual), the number of
    /// observations and the largest angle in degrees between two rays from the centres of
    /// the views that observe it to the point (0 for fewer than two views).
    std::vector<float> pointError, trackLength, triangulationAngle;
    /// Per view: the mean residual of its observed keypoints (NaN for none) and how many of
    /// its keypoints observe a 3D point.
    std::vector<float> viewError;
    std::vector<uint32_t> viewObservations;

    /// Empty vectors for a model without tracks. Work is shared between the processors.
    static ReconstructionStatistics of(const Reconstruction &model);
    /// The residual of keypoint k of view v for the world point X; NaN behind the view.
    static double residual(const ReconstructionView &view, int k, const double X[3]);
};

#endif
