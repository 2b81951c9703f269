#ifndef VELMORA_LENSDISTORTION_H
#define VELMORA_LENSDISTORTION_H

/// The lens distortion of a photograph in the terms reconstruction tools use: a map from the
/// ideal (pinhole) image coordinates (x/z, y/z) of a point in camera coordinates to where the
/// lens puts it, in the same normalised units; the pixel is then (fx xd + cx, fy yd + cy).
///
/// SIMPLE_RADIAL k; RADIAL k1 k2; OPENCV k1 k2 p1 p2; FULL_OPENCV k1 k2 p1 p2 k3 k4 k5 k6
/// (rational radial factor); OPENCV_FISHEYE k1 k2 k3 k4 (equidistant projection of the angle
/// from the optical axis, with the polynomial in that angle). NONE is the identity.
class LensDistortion {
public:
    enum Model { NONE, SIMPLE_RADIAL, RADIAL, OPENCV, FULL_OPENCV, OPENCV_FISHEYE };
    /// Most coefficients a model takes.
    static constexpr int maxCoefficients = 8;

    LensDistortion() = default;
    /// `coefficients` holds coefficientCount(model) numbers in the order above.
    LensDistortion(Model model, const double *coefficients);

    static int coefficientCount(Model model);
    /// COLMAP's name of the model ("OPENCV", ...); "PINHOLE" for NONE.
    static const char *name(Model model);

    Model model() const { return kind; }
    double coefficient(int i) const { return k[i]; }
    /// True when the map is the identity (no model, or every coefficient zero).
    bool isIdentity() const;

    /// Where the lens puts the ideal point (x, y).
    void distort(double x, double y, double &xd, double &yd) const;
    /// The ideal point the lens puts at (xd, yd), by Newton's method from (xd, yd). False when
    /// it does not converge (far outside the region where the model is one to one); x, y
    /// then hold the last estimate.
    bool undistort(double xd, double yd, double &x, double &y) const;

    bool operator==(const LensDistortion &o) const;
    bool operator!=(const LensDistortion &o) const { return !(*this == o); }

private:
    Model kind = NONE;
    double k[maxCoefficients] = {0, 0, 0, 0, 0, 0, 0, 0};
};

#endif
