#ifndef VELMORA_SPLATRASTER_H
#define VELMORA_SPLATRASTER_H

#include "synthesis/SplatScene.h"

#include <cstdint>
#include <vector>

/// A pinhole camera: a world point X has camera coordinates x = R X + t (x right, y down, z
/// forward) and lands on the pixel (fx x/z + cx, fy y/z + cy) measured from the image's
/// top-left corner (the centre of pixel (i, j) is (i + 0.5, j + 0.5)).
struct SplatCamera {
    double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}; ///< row by row
    double t[3] = {0, 0, 0};
    double fx = 1, fy = 1, cx = 0, cy = 0;
    int width = 0, height = 0;
};

struct SplatRasterOptions {
    int shDegree = 3;            ///< used up to the scene's own
    double scaleFactor = 1;      ///< multiplies every scale
    double opacityFloor = 0;     ///< splats less opaque are left out
    /// When set, only these splats are drawn (a reduced drawing); indices below the count.
    const std::vector<uint32_t> *subset = nullptr;
    /// When both are set, these splats of a second scene are drawn with the first's: the
    /// merged splats of far regions (SplatLod).
    const SplatScene *extra = nullptr;
    const std::vector<uint32_t> *extraSubset = nullptr;
    int threads = 2;
    /// Scenes trained with the 2D mip filter: each opacity times sqrt(det C / det (C + 0.3 I)),
    /// C the splat's screen covariance before the dilation, so that the dilation adds no
    /// opacity the training did not see.
    bool antialiased = false;
    /// Frames of more candidate splats than this are drawn in batches of as many, front to
    /// back: a first pass finds the depth of every splat that reaches the image, and each batch
    /// projects its splats again, with their colours, so that a frame holds 8 bytes a splat
    /// and one batch rather than the whole projection. The picture is the same either way.
    size_t batch = size_t(1) << 20;
};

/// What a frame leaves per pixel, before the background: the colour the splats add and the
/// transmittance T that is left for the background (pixel = colour + T background).
struct SplatImage {
    int width = 0, height = 0;
    std::vector<float> colour;        ///< r g b per pixel, rows from the top
    std::vector<float> transmittance; ///< 1 where no splat covers the pixel
    /// The camera depth of the splat that brought the pixel's transmittance below one half:
    /// where the splats stand for the other objects of the scene; infinity where they stay
    /// more transparent than that.
    std::vector<float> depth;
    /// Number of splats that reached the image.
    size_t drawn = 0;
    /// Milliseconds the frame took to project and sort its splats, and to blend them (for the
    /// frame marks of VELMORA_TIMING).
    double sortMs = 0, blendMs = 0;

    /// The pixels over `background` (components 0..1), clamped to 0..1, rows from the top.
    std::vector<float> composite(const float background[3]) const;
    std::vector<unsigned char> composite8(const float background[3]) const;
};

/// A splat as the camera sees it: what the rules of the forward pass derive before any pixel.
struct SplatFootprint {
    double mx = 0, my = 0;       ///< centre in pixels
    double conic[3] = {0, 0, 0}; ///< inverse 2D covariance: a, b, c of [[a, b], [b, c]]
    double depth = 0;            ///< camera z
    int radius = 0;
    float opacity = 0;
    float colour[3] = {0, 0, 0};
};

/// Draws Gaussian splats on the CPU by the usual forward rules: camera coordinates, the
/// splat's 2D covariance through the Jacobian of the projection (the view direction clamped
/// to 1.3 times the half field of view, 0.3 pixel squared added for the pixel's own size),
/// a footprint of three standard deviations, the colour from spherical harmonics of the view
/// direction, and front-to-back blending by camera depth, stopping once a pixel would let
/// less than 1/10000 through. Each pixel also keeps the depth at which the splats became
/// mostly opaque, so that the image composes with other objects. Splats are binned into 16 x 16 tiles in depth order and the
/// tiles are blended on `threads` threads, in batches of splats front to back for a large frame.
class SplatRaster {
public:
    static SplatImage render(const SplatScene &scene, const SplatCamera &camera, const SplatRasterOptions &options);

    /// The footprint of splat `i`; false when the splat is not drawn (behind the near plane at
    /// z = 0.2, degenerate, below the opacity floor or outside the image). Without `colour`
    /// the colour is left out (a frame's first pass, which only needs the depths).
    static bool footprint(const SplatScene &scene, size_t i, const SplatCamera &camera,
                          const SplatRasterOptions &options, SplatFootprint &out, bool colour = true);

    /// The view-dependent colour of splat `i` seen along the unit direction d (from the camera
    /// centre to the splat), degree up to `degree`: SH sum + 0.5, clamped below at 0.
    static void shColour(const SplatScene &scene, size_t i, int degree, const double d[3], float out[3]);

    /// Below this camera depth a splat is not drawn.
    static constexpr double NEAR_PLANE = 0.2;
};

#endif
