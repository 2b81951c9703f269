// libFuzzer harness of the simplex mesh: both readers (the first byte of the input chooses
// the binary form or "OFFS" text, the rest is the file) and the dual surface built from what
// they accept, whose face walks must end on any neighbour structure.
#include "Harness.h"
#include "formats/SimplexMeshReader.h"
#include "objects/SimplexDual.h"

#include <cstdint>
#include <cstdlib>
#include <exception>

VELMORA_FUZZ_HARNESS(std::exception, fuzz::QuietOutput)
{
    if (size == 0)
        return;
    const bool text = data[0] & 1;
    const std::string path = fuzz::writeFile(text ? "fuzz.off" : "fuzz.tri", data + 1, size - 1);
    const MeshData mesh = text ? SimplexMeshReader::readSOFF(path.c_str()) : SimplexMeshReader::readMesh(path.c_str());
    if (mesh.nTriangles <= 0)
        return;
    const std::vector<int> next = SimplexDual::links(mesh.triangles.get(), mesh.nTriangles, mesh.nVertices, path.c_str());
    const SimplexDual dual = SimplexDual::faces(next.data(), mesh.vertices.get(), mesh.nTriangles, path.c_str());
    const int n = static_cast<int>(dual.dualVertices.size());
    if (dual.cornerFace.size() != 3 * static_cast<size_t>(mesh.nTriangles))
        std::abort();
    for (const int f : dual.cornerFace)
        if (f < 0 || f >= n)
            std::abort();
}
