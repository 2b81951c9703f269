#include "camera/ViewGeometry.h"

#include "math/Quat.h"

#include <cmath>
#include <limits>

float cross(Point3 p0, Point3 d0, Point3 p1, Point3 d1)
{
    // m lies in the plane of the two directions, perpendicular to d1: moving along the first
    // line changes the distance to the second only through the component along m.
    const Point3 m = d1.cross(d1.cross(d0));
    return ((p1 - p0) * m) / (d0 * m);
}

void computeBoundingBox(const Point2 *points, int count, Point2 &min, Point2 &max)
{
    const float inf = std::numeric_limits<float>::infinity();
    min = Point2(inf, inf);
    max = Point2(-inf, -inf);
    for (int i = 0; i < count; ++i) {
        min.x = std::fmin(min.x, points[i].x);
        min.y = std::fmin(min.y, points[i].y);
        max.x = std::fmax(max.x, points[i].x);
        max.y = std::fmax(max.y, points[i].y);
    }
}

Point2 bisectrix(Point2 p, Point2 a, Point2 b)
{
    Point2 u = a - p, v = b - p;
    const float nu = u.norm(), nv = v.norm();
    if (nu != 0)
        u /= nu;
    if (nv != 0)
        v /= nv;
    Point2 w = u + v;
    const float nw = w.norm();
    if (nw != 0)
        w /= nw;
    return w;
}

Point2 computeRefLine(Point2 p, Point2 min, Point2 max)
{
    const int column = p.x <= min.x ? 0 : p.x <= max.x ? 1 : 2;
    const int row = p.y <= min.y ? 0 : p.y <= max.y ? 1 : 2;
    if (row == 1 && column == 1) // inside the box
        return Point2(0, 0);
    // Outside, the reference line bisects the directions to the two corners that bound the box
    // as seen from p, by the cell of the 3 x 3 grid around the box that p lies in.
    const Point2 corner[4] = {min, max, Point2(min.x, max.y), Point2(max.x, min.y)};
    enum { Min, Max, LowHigh, HighLow };
    static const int kBounds[9][2] = {
        {LowHigh, HighLow}, {Min, HighLow}, {Min, Max},   {LowHigh, Min},     {0, 0},
        {HighLow, Max},     {Min, Max},     {LowHigh, Max}, {LowHigh, HighLow},
    };
    const int *bounds = kBounds[row * 3 + column];
    return bisectrix(p, corner[bounds[0]], corner[bounds[1]]);
}

TangentPair computeOuterET(const Point2 *points, int count, Point2 e)
{
    TangentPair result{-1, -1};
    if (count <= 0)
        return result;
    Point2 min, max;
    computeBoundingBox(points, count, min, max);
    const Point2 r = computeRefLine(e, min, max);
    float smallest = 0, largest = 0;
    for (int i = 0; i < count; ++i) {
        const Point2 v = points[i] - e;
        // The tangent of the angle from r to v.
        const float c = (r.x * v.y - r.y * v.x) / (r.x * v.x + r.y * v.y);
        if (result.first < 0 || c < smallest) {
            smallest = c;
            result.first = i;
        }
        if (result.second < 0 || c > largest) {
            largest = c;
            result.second = i;
        }
    }
    return result;
}

std::vector<int> computeET(const Point2 *points, int count, Point2 e)
{
    std::vector<int> result;
    if (count < 3)
        return result;
    const double pi = 3.14159265358979323846;
    std::vector<double> angle(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        angle[i] = std::atan2(points[i].y - e.y, points[i].x - e.x);
    const auto near = [&](double a, double reference) {
        if (a - reference > pi)
            return a - 2 * pi;
        if (reference - a > pi)
            return a + 2 * pi;
        return a;
    };
    for (int i = 0; i < count; ++i) {
        const double a = angle[i];
        const double before = near(angle[(i + count - 1) % count], a);
        const double after = near(angle[(i + 1) % count], a);
        if ((a > before && a > after) || (a < before && a < after))
            result.push_back(i);
    }
    return result;
}

int line(Point3 l, Point2 xRange, Point2 yRange, Point2 *out)
{
    int n = 0;
    if (l.x != 0)
        for (const float y : {yRange.x, yRange.y}) {
            const float x = -(l.y * y + l.z) / l.x;
            if (n < 2 && x >= xRange.x && x <= xRange.y)
                out[n++] = Point2(x, y);
        }
    if (l.y != 0)
        for (const float x : {xRange.x, xRange.y}) {
            const float y = -(l.x * x + l.z) / l.y;
            if (n < 2 && y >= yRange.x && y <= yRange.y)
                out[n++] = Point2(x, y);
        }
    return n;
}

double smallestAngleBetween(const std::vector<Matrix3> &rotations)
{
    constexpr double kPi = 3.14159265358979323846;
    // The relative rotation R[i] R[j]^T has the quaternion conj(q_i) q_j of the two views'
    // unit quaternions: one quaternion product a pair instead of a matrix product. Its angle
    // is taken with atan2 of the vector and scalar parts, which stays accurate for views a
    // fraction of a degree apart, where acos of a scalar part near 1 loses all digits.
    struct Unit {
        double w, x, y, z;
    };
    const int n = static_cast<int>(rotations.size());
    std::vector<Unit> q(n);
    for (int i = 0; i < n; i++) {
        const Quat r(rotations[i]);
        const double length = r.norm();
        q[i] = length > 0 ? Unit{r.w / length, r.x / length, r.y / length, r.z / length} : Unit{1, 0, 0, 0};
    }
    double best = 2 * kPi / n;
    // Only pairs whose scalar part is close enough to beat the best angle so far need the
    // precise angle; the margin covers the rounding of the scalar part.
    double threshold = std::cos(best / 2) - 1e-6;
    for (int i = 0; i < n; i++)
        for (int j = i + 1; j < n; j++) {
            const Unit &a = q[i], &b = q[j];
            const double w = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
            if (std::fabs(w) < threshold)
                continue;
            const double x = a.w * b.x - b.w * a.x - (a.y * b.z - a.z * b.y);
            const double y = a.w * b.y - b.w * a.y - (a.z * b.x - a.x * b.z);
            const double z = a.w * b.z - b.w * a.z - (a.x * b.y - a.y * b.x);
            const double angle = 2 * std::atan2(std::sqrt(x * x + y * y + z * z), std::fabs(w));
            if (angle < best) {
                best = angle;
                threshold = std::cos(best / 2) - 1e-6;
            }
        }
    return best;
}
