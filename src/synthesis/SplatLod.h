#ifndef VELMORA_SPLATLOD_H
#define VELMORA_SPLATLOD_H

#include "synthesis/SplatScene.h"

#include <atomic>
#include <cstddef>

/// A coarser stand-in for a splat scene: neighbours merged into fewer, larger splats. The
/// splats are grouped by the cells of an octree grid over the scene's bounds (the finest grid
/// whose occupied cells number at least `target`), and each group becomes the one Gaussian of
/// the same mean and spread (its position and covariance the opacity- and area-weighted ones
/// of its splats, its colour and SH terms their weighted means, its opacity their summed
/// coverage over its own area, at most 0.99). When the groups outnumber `target` the merged
/// splats that cover most (opacity times area) are kept. Drawn instead of the scene while a
/// view is dragged.
class SplatLod {
public:
    struct Cancelled {};

    /// The merged scene of at most `target` splats (the scene itself when it has no more).
    /// Raises Cancelled once `cancel` (when given) turns true.
    static SplatScene build(const SplatScene &scene, size_t target, const std::atomic<bool> *cancel = nullptr);
};

#endif
