#ifndef VELMORA_MESHTEXTUREREADER_H
#define VELMORA_MESHTEXTUREREADER_H

#include "image/Bitmap.h"
#include "formats/MeshTexture.h"

#include <memory>
#include <string>
#include <vector>

/// Turns a mesh's companion image (or a data item) into texture chunks that each fit the
/// maximum texture size L. No OpenGL: the limit is given, so that tests can use a small one.
///
/// Three layouts are tried in order, the first that accepts the image wins:
/// - explicit coordinates (readTextureV3): per-corner coordinates from the mesh's "TC"
///   block, or else pixel positions in the image's first text comment, keyed "uv";
///   images taller than L are cut into bands of rows (divideTexture);
/// - multi-size cells (readTextureV2): a 1024-pixel-wide image whose first bytes give each
///   triangle's cell size as a power of two; cut into chunks at cell-row boundaries
///   (cutMultiTexture);
/// - uniform cells (readTextureV1): one cell a triangle in a grid, repacked into strips of
///   at most L rows (cutTexture).
/// Every count, size and coordinate is checked against the image before anything is
/// allocated or copied; what does not fit is refused with a message on standard output
/// ("GLMeshObject: ..."), never read out of bounds.
class MeshTextureReader {
public:
    /// `tcBlock`: the mesh's "TC" coordinates (6 a triangle) of version `tcVersion`, or null.
    /// Versions 2 and 3 hold u, v in 0..1; versions 0 and 1 hold integer pixel positions,
    /// read like those of the "uv" comment.
    MeshTextureReader(int nTriangles, const float *tcBlock, int tcVersion, int maxTextureSize);

    /// Tries the three layouts on `image`; true when one accepted it. The result (with the
    /// image moved into it when chunks point into its pixels) is then in result().
    bool readTexture(std::unique_ptr<Bitmap> image);
    bool readTextureV3(const Bitmap &image);
    /// Explicit coordinates (the "TC" block, version 2 or 3) over several images: the
    /// triangles are regrouped by their image (triangleImage[t], in the mesh's order; an
    /// empty list or an index outside the images means image 0) and each group is laid out
    /// in its image as readTextureV3 does, so each image gives its own chunks. With one image
    /// this is readTextureV3. False (nothing set up) when any image refuses its triangles.
    bool readTextureImages(std::vector<std::unique_ptr<Bitmap>> images, const std::vector<int> &triangleImage);

    /// The images of one material: one image, repeated over coordinates outside 0..1, or the
    /// tiles of a multi-tile atlas, `tiles[i]` being the number (1001 + u + 10 v, from the
    /// whole parts of u and of v upwards) of `images[i]`.
    struct MaterialImages {
        std::vector<std::unique_ptr<Bitmap>> images;
        std::vector<int> tiles; ///< empty: one image
    };
    /// Float coordinates (versions 2 and 3) over the images of several materials, the
    /// material of triangle t being triangleMaterial[t] (see readTextureImages). A triangle is
    /// moved by whole repeats into its image (or into the tile its coordinates name); one that
    /// still crosses the image's border is drawn with the image repeated (the chunk then being
    /// the whole image, scaled to a power of two). Triangles that no image covers (no such
    /// tile, coordinates that are not numbers, a repeat across an image cut into bands) are
    /// drawn white, with one line saying how many; false only when no triangle is covered.
    bool readTextureMaterials(std::vector<MaterialImages> materials, const std::vector<int> &triangleMaterial);
    bool readTextureV2(const Bitmap &image);
    bool readTextureV1(const Bitmap &image);
    /// The "uv" comment as u, v of every corner ((x + 0.5) / W, (y + 0.5) / H); false when
    /// the first comment is not "uv" or holds fewer than 6 x nTriangles integers.
    bool readTextureCoordinates(const Bitmap &image, LargeArray<float> &uv) const;
    /// Band starts (image rows, ascending, the first 0) for triangles whose corners lie on
    /// the given pixel rows (3 a triangle, each less than `height` and no triangle taller
    /// than L rows), such that every triangle lies whole within the L rows from the start
    /// of the last band not below its top row. The last entry ends the last band.
    std::vector<int> divideTexture(const std::vector<int> &rows, int height) const;

    /// The data texture: one texel a vertex, coloured by `color` (jet) from the data values,
    /// on a mesh whose triangles join neighbours of that texel grid (false when the texture
    /// exceeds L: "GLMeshObject: texture size exceeds implementation limits!"). Any other
    /// mesh gets the jet colours as a row of texels, each corner placed at its value (unless
    /// `gridOnly`: then false).
    bool readTextureFromData(const float *values, float lo, float hi, int nVertices, const int *triangles,
                             bool gridOnly = false);

    MeshTexture &result() { return texture; }
    int getMaxTextureSize() const { return maxTextureSize; }

private:
    /// Takes `coordinates` over (as the texture's) when they fit one texture. With `repeat`
    /// the coordinates may lie anywhere: the chunk is then the whole image, repeated.
    bool explicitLayout(const Bitmap &image, LargeArray<float> &coordinates, bool repeat = false);
    /// Float coordinates over one image (readTextureV3 with a "TC" block of version 2 or 3).
    bool floatLayout(const Bitmap &image);
    /// Lays out the triangles given to `images` (imageOf[t], -1 for none: drawn white) with
    /// their coordinates `uv` moved into them, `repeat` marking the images drawn repeated;
    /// false when no triangle has an image.
    bool layoutPlaced(const std::vector<const Bitmap *> &images, const std::vector<int> &imageOf,
                      const std::vector<bool> &repeat, LargeArray<float> &uv);
    bool cutMultiTexture(const Bitmap &image, const std::vector<int> &level, int nLevels, int headerRows);
    bool cutTexture(const Bitmap &image, int b, int cellWidth, int cellHeight);
    bool rampFromData(const float *values, float lo, float hi, const int *triangles);

    int nTriangles;
    const float *tcBlock;
    int tcVersion;
    int maxTextureSize;
    MeshTexture texture;
};

#endif
