#ifndef VELMORA_SPLATLOD_H
#define VELMORA_SPLATLOD_H

#include "synthesis/SplatRaster.h"
#include "synthesis/SplatScene.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

/// Levels of detail of a splat scene: neighbours merged into fewer, larger splats. The splats
/// are grouped by the cells of octree grids over the scene's bounds, level by level down to the
/// last level of at least eight splats a cell on average, and each group becomes the one Gaussian of the same mean
/// and spread (its position and covariance the opacity- and area-weighted ones of its splats,
/// its colour and SH terms their weighted means, its opacity their summed coverage over its own
/// area, at most 0.99); a coarser level merges the groups of the finer one the same way.
///
/// A drag draws a stand-in of at most its budget (the groups of the finest level that has at
/// least as many, the ones that cover most); a still frame draws, for the regions so far away
/// that a group's merged splat stays under a pixel or so, that splat instead of its splats.
class SplatLod {
public:
    struct Cancelled {};

    /// The levels of `scene` (which is not kept: the merged splats and the order of the
    /// scene's splats in the cells are). Raises Cancelled once `cancel` (when given) turns true.
    static SplatLod build(const SplatScene &scene, const std::atomic<bool> *cancel = nullptr);
    /// The stand-in of at most `target` splats as a scene of its own (the scene itself when
    /// it has no more).
    static SplatScene build(const SplatScene &scene, size_t target, const std::atomic<bool> *cancel = nullptr);

    /// Every merged splat, the coarsest level first.
    const SplatScene &merged() const { return splats; }
    /// The merged splats of a stand-in of at most `target` splats, by index in merged().
    std::vector<uint32_t> standIn(size_t target) const;
    /// What a frame seen by `camera` draws: the scene's splats (`originals`, by index) and, for
    /// the groups whose merged splat's three standard deviations stay under `pixels` on the
    /// image, that merged splat (`stand`, by index in merged()) in their stead.
    void cut(const SplatCamera &camera, double pixels, std::vector<uint32_t> &originals, std::vector<uint32_t> &stand) const;

private:
    SplatScene splats;                      ///< one a group, the coarsest level first
    std::vector<uint32_t> order;            ///< the scene's splats in the order of the cells
    std::vector<uint32_t> first, last;      ///< a group's splats: order[first, last)
    std::vector<uint32_t> childFirst, childLast; ///< a group's groups on the next finer level
    std::vector<size_t> levelStart;         ///< level k's groups: [levelStart[k], levelStart[k + 1])
};

#endif
