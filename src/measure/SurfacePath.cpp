#include "measure/SurfacePath.h"

#include "math/Messages.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <functional>
#include <limits>
#include <queue>
#include <utility>

int signe(float s) { return s < 0 ? 1 : -1; }

bool shortestEdgePath(const MeshAdjacency &mesh, int from, int to, std::vector<int> &vertexPath)
{
    const size_t n = static_cast<size_t>(mesh.nVertices());
    // An unknown distance is infinite: "unknown, or greater than the new sum" is then one
    // comparison.
    std::vector<float> distance(n, std::numeric_limits<float>::infinity());
    std::vector<int> predecessor(n, from);
    distance[static_cast<size_t>(from)] = 0;

    // The heap holds (distance, vertex) pairs packed in one 64-bit word: distances are never
    // negative, so their bit patterns order as unsigned integers do, and the word orders
    // by distance first and by the lower index among equal distances, as the search must.
    // A vertex is pushed again each time its distance shrinks; the older entries are
    // recognised by their distance and skipped.
    auto pack = [](float d, int v) {
        uint32_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        return (uint64_t(bits) << 32) | uint32_t(v);
    };
    std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<uint64_t>> heap;
    heap.push(pack(0.0f, from));
    const size_t *rows = mesh.neighbourRows();
    const int *next = mesh.neighbours();
    const float *length = mesh.lengths();
    while (!heap.empty()) {
        const uint64_t top = heap.top();
        heap.pop();
        const int u = static_cast<int>(top & 0xffffffffu);
        const uint32_t bits = static_cast<uint32_t>(top >> 32);
        float d;
        std::memcpy(&d, &bits, sizeof d);
        if (d != distance[static_cast<size_t>(u)])
            continue;
        // Once `to` is finished nothing can shorten it: its predecessor chain is final.
        if (u == to)
            break;
        for (size_t e = rows[u], end = rows[u + 1]; e < end; ++e) {
            const float sum = d + length[e];
            const size_t w = static_cast<size_t>(next[e]);
            if (sum < distance[w]) {
                distance[w] = sum;
                predecessor[w] = u;
                heap.push(pack(sum, next[e]));
            }
        }
    }

    vertexPath.clear();
    if (distance[static_cast<size_t>(to)] == std::numeric_limits<float>::infinity()) {
        vertexPath = {to, from};
        return false;
    }
    for (int v = to; v != from; v = predecessor[static_cast<size_t>(v)])
        vertexPath.push_back(v);
    vertexPath.push_back(from);
    return true;
}

std::unique_ptr<Chemin> chemin_aretes(const MeshAdjacency &mesh, int from, int to, bool *reached)
{
    std::vector<int> vertexPath;
    const bool found = shortestEdgePath(mesh, from, to, vertexPath);
    if (reached)
        *reached = found;
    auto path = std::make_unique<Chemin>();
    for (int v : vertexPath)
        path->add(mesh.vertices()[v]);
    path->setConnected(found);
    return path;
}

std::unique_ptr<Chemin> chemin_aretes(const Objet_data &mesh, int from, int to)
{
    return chemin_aretes(MeshAdjacency(mesh), from, to);
}

namespace {

// The plane of a section: unit normal n and offset d; n.X + d is the signed distance of X.
struct Plane {
    Point3 n;
    float d;
    float distance(const Point3 &x) const { return n * x + d; }
};

Point3 crossing(const Point3 &s, float ds, const Point3 &t, float dt)
{
    const float f = std::fabs(ds) / (std::fabs(ds) + std::fabs(dt));
    return s + (t - s) * f;
}

} // namespace

std::unique_ptr<Chemin> chemin_plan(const MeshAdjacency &mesh, int from, int to, const Point3 &viewpoint)
{
    const Point3 *p = mesh.vertices();
    const int *tri = mesh.triangles();
    const Point3 a = p[from], b = p[to];
    Point3 normal = (a - viewpoint).cross(b - viewpoint);
    const float length = normal.norm();
    if (!(length > 0) || !std::isfinite(length)) {
        msg::warning("chemin_plan: the two vertices and the viewpoint are on one line\n");
        return nullptr;
    }
    normal /= length;
    const Plane plane{normal, -(normal * viewpoint)};
    auto side = [&](int v) { return signe(plane.distance(p[v])); };

    // Start: of the triangles around A whose edge opposite A crosses the plane, the one
    // whose crossing lies nearest to B. The fan triangle last set aside is remembered too:
    // coming back to either means the walk went round.
    int start = -1, remembered = -1, s = -1, t = -1;
    float best = 0;
    Point3 first;
    const int *fan = mesh.fanBegin(from);
    for (int i = 0, count = mesh.fanSize(from); i < count; ++i) {
        const int *c = tri + 3 * static_cast<size_t>(fan[i]);
        const int k = c[0] == from ? 0 : c[1] == from ? 1 : 2;
        const int si = c[(k + 1) % 3], ti = c[(k + 2) % 3];
        bool taken = false;
        if (side(si) != side(ti)) {
            const Point3 x = crossing(p[si], plane.distance(p[si]), p[ti], plane.distance(p[ti]));
            const float d2 = (x - b).norm2();
            if (start < 0 || d2 < best) {
                if (start >= 0)
                    remembered = start;
                start = fan[i];
                best = d2;
                s = si;
                t = ti;
                first = x;
                taken = true;
            }
        }
        if (!taken)
            remembered = fan[i];
    }
    if (start < 0) {
        msg::warning("chemin_plan: no triangle around vertex %d is cut by the plane\n", from);
        return nullptr;
    }

    auto path = std::make_unique<Chemin>();
    path->add(a);
    path->add(first);
    int current = start;
    for (;;) {
        const int next = mesh.otherTriangle(s, t, current);
        if (next < 0) {
            msg::warning("chemin_plan: the path reaches the border of the mesh\n");
            return nullptr;
        }
        if (mesh.hasCorner(next, to))
            break;
        if (next == start || next == remembered) {
            msg::warning("loop!!\n");
            return nullptr;
        }
        const int *c = tri + 3 * static_cast<size_t>(next);
        const int w = c[0] != s && c[0] != t ? c[0] : c[1] != s && c[1] != t ? c[1] : c[2];
        if (side(w) == side(s))
            s = w;
        else
            t = w;
        path->add(crossing(p[s], plane.distance(p[s]), p[t], plane.distance(p[t])));
        current = next;
        if (path->maxSize())
            return path;
    }
    path->add(b);
    return path;
}

std::unique_ptr<Chemin> chemin_plan(const Objet_data &mesh, int from, int to, const Point3 &viewpoint)
{
    return chemin_plan(MeshAdjacency(mesh), from, to, viewpoint);
}

Point3 planePointForAngle(const Point3 &a, const Point3 &b, int angle)
{
    const float theta = angle * 3.1415f / 180;
    const Point3 axis = (a - b).normalized();
    const Point3 x = -a;
    // Rodrigues: x cos + (k x x) sin + k (k.x)(1 - cos).
    const float c = std::cos(theta), s = std::sin(theta);
    const Point3 turned = x * c + axis.cross(x) * s + axis * ((axis * x) * (1 - c));
    return -a + turned;
}

std::unique_ptr<Chemin> chemin_plan(const MeshAdjacency &mesh, int from, int to, int angle)
{
    const Point3 *p = mesh.vertices();
    return chemin_plan(mesh, from, to, planePointForAngle(p[from], p[to], angle));
}

std::unique_ptr<Chemin> chemin_plan(const Objet_data &mesh, int from, int to, int angle)
{
    return chemin_plan(MeshAdjacency(mesh), from, to, angle);
}
