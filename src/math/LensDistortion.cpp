#include "math/LensDistortion.h"

#include <cmath>

LensDistortion::LensDistortion(Model model, const double *coefficients) : kind(model)
{
    for (int i = 0; i < coefficientCount(model); ++i)
        k[i] = coefficients[i];
}

int LensDistortion::coefficientCount(Model model)
{
    switch (model) {
    case SIMPLE_RADIAL:
        return 1;
    case RADIAL:
        return 2;
    case OPENCV:
    case OPENCV_FISHEYE:
        return 4;
    case FULL_OPENCV:
        return 8;
    default:
        return 0;
    }
}

const char *LensDistortion::name(Model model)
{
    static const char *const names[] = {"PINHOLE", "SIMPLE_RADIAL", "RADIAL", "OPENCV", "FULL_OPENCV", "OPENCV_FISHEYE"};
    return names[model];
}

bool LensDistortion::isIdentity() const
{
    for (double c : k)
        if (c != 0)
            return false;
    return true;
}

bool LensDistortion::operator==(const LensDistortion &o) const
{
    if (kind != o.kind)
        return false;
    for (int i = 0; i < maxCoefficients; ++i)
        if (k[i] != o.k[i])
            return false;
    return true;
}

void LensDistortion::distort(double x, double y, double &xd, double &yd) const
{
    const double r2 = x * x + y * y;
    switch (kind) {
    case SIMPLE_RADIAL:
    case RADIAL: {
        const double s = 1 + k[0] * r2 + (kind == RADIAL ? k[1] * r2 * r2 : 0);
        xd = x * s;
        yd = y * s;
        return;
    }
    case OPENCV:
    case FULL_OPENCV: {
        double s = 1 + k[0] * r2 + k[1] * r2 * r2;
        if (kind == FULL_OPENCV) {
            const double r6 = r2 * r2 * r2;
            s = (s + k[4] * r6) / (1 + k[5] * r2 + k[6] * r2 * r2 + k[7] * r6);
        }
        const double p1 = k[2], p2 = k[3];
        xd = x * s + 2 * p1 * x * y + p2 * (r2 + 2 * x * x);
        yd = y * s + 2 * p2 * x * y + p1 * (r2 + 2 * y * y);
        return;
    }
    case OPENCV_FISHEYE: {
        const double r = std::sqrt(r2);
        // Near the axis theta / r tends to 1: the map is the identity to first order.
        if (r < 1e-12) {
            xd = x;
            yd = y;
            return;
        }
        const double t = std::atan(r), t2 = t * t;
        const double td = t * (1 + t2 * (k[0] + t2 * (k[1] + t2 * (k[2] + t2 * k[3]))));
        xd = x * td / r;
        yd = y * td / r;
        return;
    }
    default:
        xd = x;
        yd = y;
    }
}

bool LensDistortion::undistort(double xd, double yd, double &x, double &y) const
{
    x = xd;
    y = yd;
    if (kind == NONE || isIdentity())
        return true;
    // Newton's method on distort(x, y) = (xd, yd), with the Jacobian by central differences:
    // the models are smooth and every one would need derivatives of its own otherwise.
    for (int iteration = 0; iteration < 100; ++iteration) {
        double fx, fy;
        distort(x, y, fx, fy);
        const double ex = fx - xd, ey = fy - yd;
        if (!std::isfinite(ex) || !std::isfinite(ey))
            return false;
        const double h = 1e-7 * (1 + std::fabs(x) + std::fabs(y));
        double ax, ay, bx, by, cx, cy, dx, dy;
        distort(x + h, y, ax, ay);
        distort(x - h, y, bx, by);
        distort(x, y + h, cx, cy);
        distort(x, y - h, dx, dy);
        const double j00 = (ax - bx) / (2 * h), j10 = (ay - by) / (2 * h);
        const double j01 = (cx - dx) / (2 * h), j11 = (cy - dy) / (2 * h);
        const double det = j00 * j11 - j01 * j10;
        if (!(std::fabs(det) > 1e-300))
            return false;
        const double sx = (j11 * ex - j01 * ey) / det, sy = (j00 * ey - j10 * ex) / det;
        x -= sx;
        y -= sy;
        if (std::fabs(sx) + std::fabs(sy) < 1e-14 * (1 + std::fabs(x) + std::fabs(y)))
            return true;
    }
    double fx, fy;
    distort(x, y, fx, fy);
    return std::hypot(fx - xd, fy - yd) < 1e-9;
}
