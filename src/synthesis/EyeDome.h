#ifndef VELMORA_EYEDOME_H
#define VELMORA_EYEDOME_H

#include <vector>

/// Eye-dome lighting: the shading point-cloud viewers use to make clouds without colours
/// legible. For each pixel, the differences of the logarithm of its eye distance to those of
/// its neighbours at `radius` pixels (eight of them) that lie in front of it are summed; the pixel
/// is darkened by exp(-300 * strength * sum / 8), so that edges and steps of the surface show.
/// Pixels of the background (depth 1) are not darkened and darken nothing.
class EyeDome {
public:
    /// The darkening of each pixel, 0 (none) to 255 (black), for a w x h depth buffer (rows
    /// from the bottom, window depths in [0, 1]). `projection` is the column-major projection
    /// matrix the depths were drawn with (perspective or orthographic).
    static std::vector<unsigned char> shade(const float *depth, int w, int h, const float *projection,
                                            float strength, int radius);
};

#endif
