#ifndef VELMORA_PSRASTER_H
#define VELMORA_PSRASTER_H

#include <cstdio>
#include <vector>

/// A picture that has no vector form (the splats of a splat scene), handed to a vector capture
/// while it draws its frame in feedback mode (see FrameContext::rasters), and written into
/// the document as a raster image.
struct PsRaster {
    int x = 0, y = 0, width = 0, height = 0; ///< the window rectangle it covers
    std::vector<unsigned char> rgb;          ///< r g b per pixel, rows from the top
    /// Window depth (0..1) per pixel, rows from the top: the primitives nearer than it are
    /// drawn over the image, the others under it. Pixels above 1 are left out of the image.
    std::vector<float> depth;

    /// The depth at window position (wx, wy); 2 (left out) outside the image.
    float depthAt(double wx, double wy) const;
    /// Writes the image as PostScript (LanguageLevel 3, masked by a colour the image does not
    /// use, so that the pixels left out show what lies under them).
    void write(FILE *file) const;
};

#endif
