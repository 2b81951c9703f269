#ifndef VELMORA_TEST_MATHCOMPARE_H
#define VELMORA_TEST_MATHCOMPARE_H

#include "math/Matrix4.h"
#include "math/Quat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <string>

namespace testsupport {

constexpr float kPi = 3.14159265f;

/// Compares the elements (i, j), i < rows, j < cols, of two column-major 4-by-4 layouts.
inline ::testing::AssertionResult nearElements(const float *actual, const float *expected, int rows, int cols,
                                               float tolerance)
{
    for (int k = 0; k < rows * cols; k++)
        if (!(std::fabs(actual[4 * (k % cols) + k / cols] - expected[4 * (k % cols) + k / cols]) <=
              tolerance))
            return ::testing::AssertionFailure() << "element (" << k / cols << ", " << k % cols << ") is "
                                                 << actual[4 * (k % cols) + k / cols] << ", expected "
                                                 << expected[4 * (k % cols) + k / cols];
    return ::testing::AssertionSuccess();
}
inline ::testing::AssertionResult near(const Matrix3 &a, const Matrix3 &e, float tol)
{
    return nearElements(a, e, 3, 3, tol);
}
inline ::testing::AssertionResult near(const Matrix4 &a, const Matrix4 &e, float tol)
{
    return nearElements(a, e, 4, 4, tol);
}
inline ::testing::AssertionResult near(const Point3 &a, const Point3 &e, float tol)
{
    return nearElements(a, e, 3, 1, tol);
}

/// Compares rotations: q and -q are the same one.
inline ::testing::AssertionResult sameRotation(const Quat &actual, const Quat &expected, float tolerance)
{
    const Quat d = actual.dot(expected) < 0 ? actual.op() : actual;
    return nearElements(&d.w, &expected.w, 4, 1, tolerance);
}

/// What `write` prints into a temporary stream.
inline std::string printed(const std::function<void(FILE *)> &write)
{
    FILE *f = tmpfile();
    write(f);
    rewind(f);
    std::string text;
    for (int c; (c = fgetc(f)) != EOF;)
        text += char(c);
    fclose(f);
    return text;
}

/// Reproducible random vectors and rotations for property checks.
struct RandomGeometry {
    std::mt19937 engine;
    explicit RandomGeometry(unsigned seed) : engine(seed) {}
    float uniform(float low, float high) { return std::uniform_real_distribution<float>(low, high)(engine); }
    Point3 vector(float range)
    {
        return Point3(uniform(-range, range), uniform(-range, range), uniform(-range, range));
    }
    Point3 direction() { return (vector(1) + Point3(0, 0, 1e-3f)).normalized(); }
    /// A unit quaternion, either sign of w.
    Quat rotation()
    {
        const Quat q(uniform(-1, 1), uniform(-1, 1), uniform(-1, 1), uniform(-1, 1) + 1e-3f);
        return q / q.norm();
    }
};

} // namespace testsupport

#endif
