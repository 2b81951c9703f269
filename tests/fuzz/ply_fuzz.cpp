// libFuzzer harness of the PLY reader: each input is a whole PLY file (ASCII or binary).
#include "Harness.h"
#include "MeshCheck.h"
#include "formats/PlyReader.h"

#include <cstdint>
#include <exception>

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
        (void)sink;
    } else {
        meshfuzz::checkMesh(m.mesh);
        if (!m.triangleImage.empty() && m.triangleImage.size() != static_cast<size_t>(m.mesh.nTriangles))
            std::abort();
    }
}
