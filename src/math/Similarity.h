#ifndef VELMORA_SIMILARITY_H
#define VELMORA_SIMILARITY_H

#include <array>
#include <string>
#include <vector>

/// Points and rotations in double precision: a reconstruction known only up to a similarity is
/// brought onto reference cameras to far better than float accuracy, so the float Matrix3 and
/// Point3 of the drawing code are not used here.
using Vec3d = std::array<double, 3>;
/// Row by row: element (i, j) at 3 i + j.
using Mat3d = std::array<double, 9>;

/// y = s R x + t.
struct Similarity {
    double s = 1;
    Mat3d R = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    Vec3d t = {0, 0, 0};

    Vec3d apply(const Vec3d &x) const;
    /// The rotation as a unit axis and an angle in radians (0 to pi); the axis is (0, 0, 1)
    /// for the identity.
    void axisAngle(Vec3d &axis, double &angle) const;
};

/// The result of fitting a similarity to matched points.
struct SimilarityFit {
    /// Empty when the fit succeeded; else one line saying why the input was refused
    /// ("fewer than 3 matched views", "all centres on a line", ...).
    std::string refusal;
    Similarity transform;
    /// Per pair: |s R from[i] + t - to[i]| with the final transform.
    std::vector<double> errors;
    /// Per pair: used by the final fit (false for the pairs dropped as outliers).
    std::vector<bool> used;
    int usedCount = 0;

    bool ok() const { return refusal.empty(); }
};

/// The least-squares similarity taking `from[i]` onto `to[i]` (Umeyama's closed form, scale
/// included), by the singular value decomposition of the cross-covariance. Refuses fewer
/// than 3 pairs, lists of different lengths, non-finite coordinates and `from` points that
/// all lie on one line (or at one point): the rotation about that line is then undetermined.
SimilarityFit fitSimilarity(const std::vector<Vec3d> &from, const std::vector<Vec3d> &to);

/// fitSimilarity without the pairs whose error exceeds `outlierFactor` times the median
/// error, then once more the same way from that fit's errors. The errors the first round
/// judges by are those of the fit, among the fit of every pair and fits of three pairs,
/// with the least median error: a single pair far enough off would otherwise pull the fit
/// of every pair onto itself. Refuses what fitSimilarity refuses on every pair; when a
/// later fit would be refused (too few pairs left), the one before stands.
SimilarityFit fitSimilarityRobust(const std::vector<Vec3d> &from, const std::vector<Vec3d> &to,
                                  double outlierFactor = 3);

/// The singular value decomposition A = U diag(sigma) V^T of a 3-by-3 matrix, by one-sided
/// Jacobi rotations (accurate to the last bits for the small matrices here); sigma in
/// decreasing order, U and V orthogonal. When A has rank 2 the third column of U completes a
/// right-handed frame with the first two.
void svd3(const Mat3d &A, Mat3d &U, Vec3d &sigma, Mat3d &V);

Mat3d multiply(const Mat3d &a, const Mat3d &b);
Mat3d transpose(const Mat3d &a);
Vec3d multiply(const Mat3d &a, const Vec3d &v);
double determinant(const Mat3d &a);
/// The angle in degrees of the rotation a b^T (0 to 180): how far apart two rotations are.
double rotationAngleBetween(const Mat3d &a, const Mat3d &b);
/// The rotation of `angle` radians about the unit vector `axis`.
Mat3d rotationAbout(const Vec3d &axis, double angle);

#endif
