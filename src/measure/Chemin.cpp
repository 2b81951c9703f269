#include "measure/Chemin.h"

namespace {
constexpr int kGrowth = 256;
}

Chemin::Chemin() : capacity(kGrowth) { points.reserve(kGrowth); }

void Chemin::add(const Point3 &p)
{
    if (static_cast<int>(points.size()) >= capacity) {
        capacity += kGrowth;
        points.reserve(static_cast<size_t>(capacity));
    }
    points.push_back(p);
}

Point3 Chemin::get(int i) const
{
    if (i < 0 || i >= size())
        return Point3();
    return points[static_cast<size_t>(i)];
}

float Chemin::geodesicDistance() const
{
    float sum = 0;
    for (size_t i = 1; i < points.size(); ++i)
        sum += (points[i] - points[i - 1]).norm();
    return sum;
}

float Chemin::euclideanDistance() const
{
    if (points.empty())
        return 0;
    return (points.back() - points.front()).norm();
}
