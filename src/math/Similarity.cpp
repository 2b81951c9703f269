#include "math/Similarity.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <utility>

namespace {

double dot(const Vec3d &a, const Vec3d &b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vec3d cross(const Vec3d &a, const Vec3d &b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    const size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<long>(mid), v.end());
    double m = v[mid];
    if (v.size() % 2 == 0)
        m = (m + *std::max_element(v.begin(), v.begin() + static_cast<long>(mid))) / 2;
    return m;
}

} // namespace

Vec3d Similarity::apply(const Vec3d &x) const
{
    const Vec3d r = multiply(R, x);
    return {s * r[0] + t[0], s * r[1] + t[1], s * r[2] + t[2]};
}

void Similarity::axisAngle(Vec3d &axis, double &angle) const
{
    // The axis from the antisymmetric part is exact for small and moderate angles; near pi
    // that part vanishes and the axis comes from the symmetric part R + I = 2 a a^T instead.
    const Vec3d w = {R[7] - R[5], R[2] - R[6], R[3] - R[1]};
    const double sine2 = std::sqrt(dot(w, w));
    const double cosine2 = R[0] + R[4] + R[8] - 1;
    angle = std::atan2(sine2, cosine2);
    if (sine2 > 1e-6) {
        axis = {w[0] / sine2, w[1] / sine2, w[2] / sine2};
        return;
    }
    if (cosine2 > 0) {
        axis = {0, 0, 1};
        return;
    }
    int k = 0;
    for (int i = 1; i < 3; ++i)
        if (R[4 * i] > R[4 * k])
            k = i;
    Vec3d a;
    for (int i = 0; i < 3; ++i)
        a[i] = R[3 * i + k] + (i == k ? 1 : 0);
    const double n = std::sqrt(dot(a, a));
    axis = {a[0] / n, a[1] / n, a[2] / n};
}

Mat3d multiply(const Mat3d &a, const Mat3d &b)
{
    Mat3d c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            c[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
    return c;
}

Mat3d transpose(const Mat3d &a)
{
    return {a[0], a[3], a[6], a[1], a[4], a[7], a[2], a[5], a[8]};
}

Vec3d multiply(const Mat3d &a, const Vec3d &v)
{
    return {a[0] * v[0] + a[1] * v[1] + a[2] * v[2], a[3] * v[0] + a[4] * v[1] + a[5] * v[2],
            a[6] * v[0] + a[7] * v[1] + a[8] * v[2]};
}

double determinant(const Mat3d &a)
{
    return a[0] * (a[4] * a[8] - a[5] * a[7]) - a[1] * (a[3] * a[8] - a[5] * a[6]) +
           a[2] * (a[3] * a[7] - a[4] * a[6]);
}

double rotationAngleBetween(const Mat3d &a, const Mat3d &b)
{
    Similarity d;
    d.R = multiply(a, transpose(b));
    Vec3d axis;
    double angle = 0;
    d.axisAngle(axis, angle);
    return angle * 180 / 3.14159265358979323846;
}

Mat3d rotationAbout(const Vec3d &axis, double angle)
{
    const double c = std::cos(angle), s = std::sin(angle), C = 1 - c;
    const double x = axis[0], y = axis[1], z = axis[2];
    return {c + x * x * C,     x * y * C - z * s, x * z * C + y * s, y * x * C + z * s, c + y * y * C,
            y * z * C - x * s, z * x * C - y * s, z * y * C + x * s, c + z * z * C};
}

void svd3(const Mat3d &A, Mat3d &U, Vec3d &sigma, Mat3d &V)
{
    // Columns of `a` are rotated pairwise until they are orthogonal: a = A V, and then the
    // column lengths are the singular values and the normalised columns U.
    double a[3][3], v[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            a[j][i] = A[3 * i + j];
            v[j][i] = i == j ? 1 : 0;
        }
    for (int sweep = 0; sweep < 60; ++sweep) {
        bool rotated = false;
        for (int p = 0; p < 2; ++p)
            for (int q = p + 1; q < 3; ++q) {
                double alpha = 0, beta = 0, gamma = 0;
                for (int k = 0; k < 3; ++k) {
                    alpha += a[p][k] * a[p][k];
                    beta += a[q][k] * a[q][k];
                    gamma += a[p][k] * a[q][k];
                }
                if (gamma == 0 || std::fabs(gamma) <= 1e-17 * std::sqrt(alpha * beta))
                    continue;
                rotated = true;
                const double zeta = (beta - alpha) / (2 * gamma);
                const double t = (zeta >= 0 ? 1 : -1) / (std::fabs(zeta) + std::sqrt(1 + zeta * zeta));
                const double c = 1 / std::sqrt(1 + t * t), s = c * t;
                for (int k = 0; k < 3; ++k) {
                    const double ap = a[p][k], aq = a[q][k];
                    a[p][k] = c * ap - s * aq;
                    a[q][k] = s * ap + c * aq;
                    const double vp = v[p][k], vq = v[q][k];
                    v[p][k] = c * vp - s * vq;
                    v[q][k] = s * vp + c * vq;
                }
            }
        if (!rotated)
            break;
    }
    int order[3] = {0, 1, 2};
    double length[3];
    for (int j = 0; j < 3; ++j)
        length[j] = std::sqrt(a[j][0] * a[j][0] + a[j][1] * a[j][1] + a[j][2] * a[j][2]);
    std::sort(order, order + 3, [&](int x, int y) { return length[x] > length[y]; });
    Vec3d u[3];
    for (int j = 0; j < 3; ++j) {
        const int c = order[j];
        sigma[j] = length[c];
        for (int k = 0; k < 3; ++k) {
            V[3 * k + j] = v[c][k];
            u[j][k] = length[c] > 0 ? a[c][k] / length[c] : 0;
        }
    }
    // A column of (nearly) zero length has no direction of its own: complete the frame.
    const double tiny = 1e-12 * sigma[0];
    if (!(sigma[0] > 0))
        u[0] = {1, 0, 0};
    if (sigma[1] <= tiny) {
        // Rank 1 (or 0): any frame around the first column.
        const Vec3d &e = u[0];
        const Vec3d other = std::fabs(e[0]) < 0.9 ? Vec3d{1, 0, 0} : Vec3d{0, 1, 0};
        u[1] = cross(e, other);
        const double n = std::sqrt(dot(u[1], u[1]));
        u[1] = {u[1][0] / n, u[1][1] / n, u[1][2] / n};
    }
    if (sigma[2] <= tiny)
        u[2] = cross(u[0], u[1]);
    for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k)
            U[3 * k + j] = u[j][k];
}

SimilarityFit fitSimilarity(const std::vector<Vec3d> &from, const std::vector<Vec3d> &to)
{
    SimilarityFit fit;
    if (from.size() != to.size()) {
        fit.refusal = "the two lists of centres differ in length";
        return fit;
    }
    const size_t n = from.size();
    if (n < 3) {
        fit.refusal = "fewer than 3 matched views";
        return fit;
    }
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k)
            if (!std::isfinite(from[i][k]) || !std::isfinite(to[i][k])) {
                fit.refusal = "a camera centre is not a finite point";
                return fit;
            }
    Vec3d mx = {0, 0, 0}, my = {0, 0, 0};
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) {
            mx[k] += from[i][k];
            my[k] += to[i][k];
        }
    for (int k = 0; k < 3; ++k) {
        mx[k] /= static_cast<double>(n);
        my[k] /= static_cast<double>(n);
    }
    // Cross-covariance of the centred point sets, and the spread of `from` (its own
    // covariance tells whether the points span a plane at least).
    Mat3d sigmaXY{}, sigmaXX{}, sigmaYY{};
    double varianceX = 0;
    for (size_t i = 0; i < n; ++i) {
        const Vec3d x = {from[i][0] - mx[0], from[i][1] - mx[1], from[i][2] - mx[2]};
        const Vec3d y = {to[i][0] - my[0], to[i][1] - my[1], to[i][2] - my[2]};
        varianceX += dot(x, x);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                sigmaXY[3 * r + c] += y[r] * x[c];
                sigmaXX[3 * r + c] += x[r] * x[c];
                sigmaYY[3 * r + c] += y[r] * y[c];
            }
    }
    // The covariances' eigenvalues are squares of extents: a second extent below a millionth
    // of the first is a line, within the rounding of the sums above. Either set on a line
    // leaves the turn about it undetermined.
    for (const Mat3d *sigma : {&sigmaXX, &sigmaYY}) {
        Mat3d U, V;
        Vec3d spread;
        svd3(*sigma, U, spread, V);
        if (!(spread[0] > 0) || spread[1] <= 1e-12 * spread[0]) {
            fit.refusal = "all centres on a line";
            return fit;
        }
    }
    Mat3d U, V;
    Vec3d d;
    svd3(sigmaXY, U, d, V);
    // A reflection would fit better than any rotation only for badly matched points; the
    // smallest singular direction is turned round instead (Umeyama's S).
    const double sign = determinant(U) * determinant(V) < 0 ? -1 : 1;
    const Mat3d S = {1, 0, 0, 0, 1, 0, 0, 0, sign};
    fit.transform.R = multiply(multiply(U, S), transpose(V));
    fit.transform.s = (d[0] + d[1] + sign * d[2]) / varianceX;
    const Vec3d rm = multiply(fit.transform.R, mx);
    for (int k = 0; k < 3; ++k)
        fit.transform.t[k] = my[k] - fit.transform.s * rm[k];
    if (!(fit.transform.s > 0)) {
        fit.refusal = "the centres do not determine a scale";
        return fit;
    }
    fit.errors.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const Vec3d p = fit.transform.apply(from[i]);
        const Vec3d e = {p[0] - to[i][0], p[1] - to[i][1], p[2] - to[i][2]};
        fit.errors[i] = std::sqrt(dot(e, e));
    }
    fit.used.assign(n, true);
    fit.usedCount = static_cast<int>(n);
    return fit;
}

namespace {

std::vector<double> errorsOf(const Similarity &T, const std::vector<Vec3d> &from, const std::vector<Vec3d> &to)
{
    std::vector<double> e(from.size());
    for (size_t i = 0; i < from.size(); ++i) {
        const Vec3d p = T.apply(from[i]);
        const Vec3d d = {p[0] - to[i][0], p[1] - to[i][1], p[2] - to[i][2]};
        e[i] = std::sqrt(dot(d, d));
    }
    return e;
}

// The fit on the pairs whose error is within the limit, with the errors of every pair; a
// refused fit when too few or degenerate pairs are left.
SimilarityFit fitWithin(const std::vector<Vec3d> &from, const std::vector<Vec3d> &to, const std::vector<double> &errors,
                        double limit)
{
    std::vector<Vec3d> keptFrom, keptTo;
    std::vector<bool> used(from.size());
    for (size_t i = 0; i < from.size(); ++i)
        if (errors[i] <= limit) {
            used[i] = true;
            keptFrom.push_back(from[i]);
            keptTo.push_back(to[i]);
        }
    SimilarityFit fit = fitSimilarity(keptFrom, keptTo);
    if (!fit.ok())
        return fit;
    fit.used = std::move(used);
    fit.usedCount = static_cast<int>(keptFrom.size());
    fit.errors = errorsOf(fit.transform, from, to);
    return fit;
}

} // namespace

SimilarityFit fitSimilarityRobust(const std::vector<Vec3d> &from, const std::vector<Vec3d> &to, double outlierFactor)
{
    SimilarityFit all = fitSimilarity(from, to);
    if (!all.ok())
        return all;
    const size_t n = from.size();
    // One view thrown far enough off takes the least-squares fit with it, and then fits well
    // itself. The fit to start from is therefore the one, among the fit of all views and fits
    // of three views at a time, whose median error is least; a fixed seed keeps the choice the
    // same from run to run.
    Similarity start = all.transform;
    std::vector<double> startErrors = all.errors;
    double startMedian = median(all.errors);
    if (n > 3) {
        std::mt19937 random(20261208u);
        std::uniform_int_distribution<size_t> pick(0, n - 1);
        for (int k = 0; k < 200 && startMedian > 0; ++k) {
            const size_t a = pick(random), b = pick(random), c = pick(random);
            if (a == b || b == c || a == c)
                continue;
            const SimilarityFit three = fitSimilarity({from[a], from[b], from[c]}, {to[a], to[b], to[c]});
            if (!three.ok())
                continue;
            std::vector<double> e = errorsOf(three.transform, from, to);
            const double m = median(e);
            if (m < startMedian) {
                startMedian = m;
                start = three.transform;
                startErrors = std::move(e);
            }
        }
    }
    // Errors below a billionth of the spread of the reference centres are rounding: without
    // this floor an exact fit would drop views at random for errors of 1e-15.
    double spread = 0;
    Vec3d mean = {0, 0, 0};
    for (const Vec3d &y : to)
        for (int k = 0; k < 3; ++k)
            mean[k] += y[k] / static_cast<double>(n);
    for (const Vec3d &y : to)
        spread += ((y[0] - mean[0]) * (y[0] - mean[0]) + (y[1] - mean[1]) * (y[1] - mean[1]) +
                   (y[2] - mean[2]) * (y[2] - mean[2])) / static_cast<double>(n);
    const double floor = 1e-9 * std::sqrt(spread);

    SimilarityFit first = fitWithin(from, to, startErrors, std::max(outlierFactor * startMedian, floor));
    if (!first.ok())
        return all;
    // Once more, without the views whose error after that fit exceeds the factor times the
    // median.
    SimilarityFit second = fitWithin(from, to, first.errors, std::max(outlierFactor * median(first.errors), floor));
    return second.ok() ? second : first;
}
