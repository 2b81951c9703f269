#ifndef VELMORA_UNDISTORTIONMAP_H
#define VELMORA_UNDISTORTIONMAP_H

#include "camera/GLView.h"
#include "math/LensDistortion.h"

#include <vector>

/// The remap that turns a photograph taken through a lens into the pinhole photograph of the
/// same camera, which is what the views draw: for every pixel of the pinhole photograph, the
/// spot of the real one its ray came through. Built once per camera model and photograph
/// size and used for every photograph of that camera.
///
/// The lens moves pixels smoothly, so the spots are computed exactly on a grid of every
/// `gridStep` pixels and interpolated between (well below a hundredth of a pixel off for real
/// lenses), which keeps the map small next to the photographs it serves.
class UndistortionMap {
public:
    static constexpr int gridStep = 4;

    /// For photographs of width x height pixels of a camera with the intrinsics `k` (for an
    /// image of k.W x k.H pixels: a photograph of another size is scaled to it).
    UndistortionMap(const LensDistortion &lens, const GLView::Intrinsics &k, int width, int height);

    /// True when this map serves photographs of this lens, intrinsics and size.
    bool serves(const LensDistortion &lens, const GLView::Intrinsics &k, int width, int height) const;

    /// The spot (in pixels, from the top-left corner of the image) of the real photograph that
    /// pixel (column, row) of the pinhole photograph shows.
    void source(int column, int row, float &x, float &y) const;

    /// The pinhole photograph of the `components`-channel photograph `pixels` (rows top
    /// first), sampled bilinearly; spots outside the photograph are black.
    std::vector<unsigned char> apply(const unsigned char *pixels, int components) const;

private:
    LensDistortion lens;
    GLView::Intrinsics k;
    int width, height;
    int gridW, gridH;
    std::vector<float> grid; ///< x y of every grid node, row by row
};

#endif
