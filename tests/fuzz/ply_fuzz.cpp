// libFuzzer harness of the PLY reader: each input is a whole PLY file (ASCII or binary). A
// cloud is read a second time grouped by cells, which must hold the same points.
#include "Harness.h"
#include "MeshCheck.h"
#include "formats/PlyReader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

VELMORA_FUZZ_HARNESS(std::exception, fuzz::QuietOutput)
{
    const ForeignModel m = PlyReader::read(reinterpret_cast<const char *>(data), size, "");
    if (m.isPointCloud) {
        if (m.points.nPoints <= 0 || !m.points.points)
            std::abort();
        const size_t last = static_cast<size_t>(m.points.nPoints) - 1;
        volatile float sink = m.points.points[3 * last + 2];
        if (m.points.colors)
            sink = sink + m.points.colors[3 * last + 2];
        if (m.points.values)
            sink = sink + m.points.values[last];
        for (const PointValueItem &item : m.points.items)
            sink = sink + item.values[last];
        (void)sink;
        const ForeignModel g = PlyReader::read(reinterpret_cast<const char *>(data), size, "", 1);
        const PointCellOrder &o = g.points.cellOrder;
        if (!o)
            return;
        const size_t n = static_cast<size_t>(m.points.nPoints);
        if (g.points.nPoints != m.points.nPoints || o.start.size() != PointLodCells::kGroups + 1 || o.start[0] != 0 ||
            o.start.back() != n || !g.points.colors || !m.points.colors)
            std::abort();
        std::vector<bool> seen(n, false);
        for (size_t i = 0; i < n; ++i) {
            const uint32_t f = o.fileIndex[i];
            if (f >= n || seen[f] || std::memcmp(&g.points.points[3 * i], &m.points.points[3 * f], 12) != 0 ||
                std::memcmp(&g.points.colors[3 * i], &m.points.colors[3 * f], 3) != 0)
                std::abort();
            seen[f] = true;
        }
    } else {
        meshfuzz::checkMesh(m.mesh);
        if (!m.triangleImage.empty() && m.triangleImage.size() != static_cast<size_t>(m.mesh.nTriangles))
            std::abort();
    }
}
