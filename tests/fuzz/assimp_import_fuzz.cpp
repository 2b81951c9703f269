// libFuzzer harness of the import of other programs' models through Assimp (OBJ, STL, glTF,
// ...): the first byte picks the format the importer is told, the rest is the file. It
// checks the conversion into the viewer's records; a crash inside Assimp itself shows up
// here too and is a reason to check that format before handing it over (as PLY is).
#include "Harness.h"
#include "MeshCheck.h"
#include "formats/AssimpReader.h"

#include <cstdint>
#include <exception>

VELMORA_FUZZ_HARNESS(std::exception, fuzz::QuietOutput)
{
    static const char *const kHints[] = {"obj", "stl", "gltf", "glb", "off"};
    if (size < 1)
        return;
    const char *hint = kHints[data[0] % (sizeof kHints / sizeof kHints[0])];
    const ForeignModel m = AssimpReader::readFromMemory(data + 1, size - 1, hint);
    if (m.isPointCloud) {
        if (m.points.nPoints <= 0 || !m.points.points)
            std::abort();
        volatile float sink = m.points.points[3 * static_cast<size_t>(m.points.nPoints) - 1];
        (void)sink;
    } else {
        meshfuzz::checkMesh(m.mesh);
    }
}
