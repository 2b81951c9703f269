#ifndef VELMORA_SELECTIONRULES_H
#define VELMORA_SELECTIONRULES_H

#include "core/ElementSelection.h"
#include "math/LensDistortion.h"
#include "math/Matrix3.h"
#include "math/Matrix4.h"
#include "math/Point2.h"
#include "math/Point3.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

/// How a rule's elements join the selection: they become the selection, are added to it, or
/// are taken out of it.
enum class SelectMode { Replace, Add, Subtract };

/// One calibrated view as the rules see it: a world point X has camera coordinates
/// x = R X + t (x right, y down, z forward) and pixel u = fx xd + cx, v = fy yd + cy in a
/// width x height photograph, (xd, yd) being where the view's lens puts (x/z, y/z) (the same
/// point without distortion). `mask`, when not null, is the view's silhouette as
/// maskWidth x maskHeight bytes, row by row from the top, non-zero on the object; it may be
/// smaller than the photograph (the masks of a downscaled image folder) and is then looked
/// up at the scaled pixel.
struct ViewSight {
    Matrix3 R;
    Point3 t;
    float fx = 1, fy = 1, cx = 0, cy = 0;
    int width = 0, height = 0;
    const unsigned char *mask = nullptr;
    int maskWidth = 0, maskHeight = 0;
    LensDistortion lens;

    /// True when X lies in front of the view and projects inside its photograph; the pixel
    /// is then in (u, v).
    bool sees(const float *X, float &u, float &v) const;
    /// The same view of points given in an object's coordinates, `pose` taking them to the
    /// view's world (any affine pose: the rules then need not move the points).
    ViewSight underPose(const Matrix4 &pose) const;
};

/// The views of a camera with the silhouettes they point into.
struct ViewSights {
    std::vector<ViewSight> views;
    std::vector<std::vector<unsigned char>> masks; ///< the pixels the views' `mask` point into
    int withMask = 0;                              ///< views that have a silhouette
    /// Empty with the reason when there are no views to select by.
    std::string missing;

    ViewSights() = default;
    ViewSights(ViewSights &&) = default;
    ViewSights &operator=(ViewSights &&) = default;
};

/// Points whose neighbours are looked for: kept on a grid of cells of side `radius`, so that a
/// neighbour within the radius of a point lies in one of the 27 cells around the point's own.
class NearPoints
{
  public:
    explicit NearPoints(float within) : radius(within), r2(within * within) {}
    void add(float x, float y, float z);
    /// True when (x, y, z) lies within the radius of one of the points (bounds included).
    bool near(float x, float y, float z) const;
    bool empty() const { return cells.empty(); }

  private:
    float radius, r2;
    std::unordered_map<uint64_t, std::vector<float>> cells;
};

/// Selections by rules over the elements of an object: points, splat centres or mesh vertices,
/// given as `n` x y z triples in the object's file order. Each rule decides every element on
/// both cores and then joins the selection as `mode` says; the selection is resized to n
/// first when its size differs.
class SelectionRules {
public:
    /// The elements inside the box of centre `centre`, axes the rows of `axes` (orthonormal)
    /// and half sizes `half` along them, bounds included.
    static void box(const float *xyz, size_t n, Point3 centre, const Matrix3 &axes, Point3 half,
                    ElementSelection &selection, SelectMode mode);
    /// The elements inside the axis-aligned box [lo, hi], bounds included.
    static void box(const float *xyz, size_t n, Point3 lo, Point3 hi, ElementSelection &selection,
                    SelectMode mode);

    /// The elements that the OpenGL matrix `mvp` (projection times model-view, column-major)
    /// shows in a width x height window inside the rectangle of window pixels between `a`
    /// and `b` (any two opposite corners, y downwards as mouse positions are). Elements behind
    /// the eye are never inside.
    static void rectangle(const float *xyz, size_t n, const float *mvp, int width, int height, Point2 a,
                          Point2 b, ElementSelection &selection, SelectMode mode);
    /// The same inside the closed polygon `lasso` of window pixels (even-odd rule).
    static void lasso(const float *xyz, size_t n, const float *mvp, int width, int height,
                      const std::vector<Point2> &lasso, ElementSelection &selection, SelectMode mode);

    /// The elements whose value (one a element) lies in [lo, hi]; a value that is not a
    /// number is never inside.
    static void range(const float *values, size_t n, float lo, float hi, ElementSelection &selection,
                      SelectMode mode);

    /// The elements no view sees: behind every view or outside every photograph.
    static void unseen(const float *xyz, size_t n, const std::vector<ViewSight> &views,
                       ElementSelection &selection, SelectMode mode);
    /// The elements outside the silhouettes of at least k views (k >= 1): a view counts when it
    /// sees the element, has a mask, and the mask is zero at the element's pixel. A view that
    /// does not see an element says nothing about it. The mask must be zero over the
    /// `margin` mask pixels around the element's own too, so that the rim of the object,
    /// which a mask's pixels cut on both sides, is not carved away.
    static void carve(const float *xyz, size_t n, const std::vector<ViewSight> &views, int k,
                      ElementSelection &selection, SelectMode mode, int margin = 1);

    /// Adds every element within `radius` of a selected one (on a grid of cells of that size,
    /// so the cost follows the number of elements, not its square).
    static void grow(const float *xyz, size_t n, float radius, ElementSelection &selection);

    /// Joins the elements of `found` to `selection` as `mode` says (resized to found's size).
    static void join(const ElementSelection &found, ElementSelection &selection, SelectMode mode);
    /// Joins the elements whose byte in `inside` is not zero as `mode` says.
    static void apply(const std::vector<unsigned char> &inside, ElementSelection &selection, SelectMode mode);
};

#endif
