#ifndef VELMORA_SYNTHESE_H
#define VELMORA_SYNTHESE_H

#include <atomic>
#include <memory>
#include <vector>

/// Synthese: French for "synthesis", here of a shaded picture.
/// Shades a height image from its own partial derivatives, so that a depth map alone reads as
/// a relief. Used by the depth-buffer drawing mode of the 3D objects.
///
/// Heights are floats, row-major with a row stride of `width`; 0 marks an empty pixel and any
/// other value is a height on a 0..255 scale. The result is an 8-bit grey image of the same
/// size, 0 wherever no value was computed: a 3-pixel margin on every side, empty pixels at the
/// border of the surface and pixels without a usable gradient.
///
/// The specular table is shared by the whole program. Every 3D object asks for the table of the
/// exponent 10 when it is made, and objects are made on the loader's read-ahead thread as well
/// as on the toolkit's: init() rewrites the table only when the exponent changes, under a lock.
/// Changing the exponent while another thread shades is not supported.
class Synthese {
public:
    static constexpr int TABLE_SIZE = 10000;

    /// Specular exponent of the current table.
    static int N_GAM;
    /// puissance: French for "power".
    /// puissance[i] = (i / 9999)^N_GAM for i = 1..9999, and puissance[0] = 0.
    static float puissance[TABLE_SIZE];

    /// Sets N_GAM and rebuilds the whole table for `exponent` (expected >= 0); does nothing
    /// when the table already holds that exponent.
    static void init(int exponent);

    /// Shades `heights` (width x height) lit from the direction (lx, ly, lz), the viewer
    /// looking along z, with the ambient, diffuse and specular coefficients scaled so that
    /// they add up to 255.
    ///
    /// Returns a new width x height image, or null when width or height is not positive.
    /// Every other input gives a full image: all zero for a null `heights`, for images
    /// narrower or lower than 7 pixels and for coefficients whose sum is not a positive
    /// number. A light of zero length leaves the ambient term alone on every shaded pixel.
    /// Values beyond 0..255 (negative coefficients or exponents) are clamped.
    ///
    /// Notes "produit scalaire > 1 (%f)\n" whenever rounding lifts the reflection term above 1.
    /// Builds the table with the exponent 10 if init() was never called.
    static std::unique_ptr<unsigned char[]> compute(int width, int height, const float *heights, float lx,
                                                    float ly, float lz, float ambient, float diffuse,
                                                    float specular);

    /// The same shading as compute(), returned in a vector (empty when width or height is not
    /// positive).
    static std::vector<unsigned char> computeImage(int width, int height, const float *heights, float lx,
                                                   float ly, float lz, float ambient, float diffuse,
                                                   float specular);

    /// Estimates the unit normal (gx, gy, 1) / |(gx, gy, 1)| at pixel `index`, with gx the slope
    /// towards the right and gy the slope downwards (towards higher rows), each a weighted mean
    /// of the central and one-sided differences of the pixel's 3 x 3 neighbourhood that pass the
    /// robustness limits.
    ///
    /// Returns 1 and writes `normal` on success, 0 (normal untouched) when either direction has
    /// no usable difference. The caller guarantees that the pixel below-right of `index` lies in
    /// the image; a pixel in the first row, the first or last column, a width below 3 or a null
    /// pointer gives 0 without reading anything.
    static int DERIVEES_PARTIELLES_2(const float *heights, int width, int index, float normal[3]);

private:
    static std::atomic<bool> tableReady;
    static void shade(unsigned char *out, int width, int height, const float *heights, float lx, float ly,
                      float lz, float ambient, float diffuse, float specular);
};

#endif
