// libFuzzer harness of the simplex mesh: both readers (the first byte of the input chooses
// the binary form or "OFFS" text, the rest is the file) and the dual surface built from what
// they accept, whose face walks must end on any neighbour structure.
#include "Harness.h"
#include "MeshCheck.h"
#include "objects/GLSMeshObject.h"

#include <cstdint>
#include <exception>

VELMORA_FUZZ_HARNESS(std::exception, fuzz::QuietOutput)
{
    if (size == 0)
        return;
    const bool text = data[0] & 1;
    const std::string path = fuzz::writeFile(text ? "fuzz.off" : "fuzz.tri", data + 1, size - 1);
    GLSMeshObject mesh(path.c_str(), text ? "off" : nullptr);
    const int n = mesh.getNDualVertices();
    if (mesh.getNDualTriangles() != mesh.getNTriangles())
        std::abort();
    const int *f = mesh.getCornerFace();
    for (int i = 0; i < 3 * mesh.getNDualTriangles(); ++i)
        if (f[i] < 0 || f[i] >= n)
            std::abort();
}
