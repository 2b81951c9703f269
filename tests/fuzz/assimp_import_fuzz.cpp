// libFuzzer harness of the import of other programs' models through Assimp (OBJ, STL, glTF,
// OFF, ...) as the viewer runs it: the first byte picks the format, the rest is the file,
// read by AssimpReader::read in its helper process. An abort or a crash of Assimp is then a
// refusal, as in the viewer; what must hold is the record that comes back. (The conversion in
// the process itself, where Assimp's faults end the harness, is readFromMemory.) Images the file embeds are decoded as the mesh decodes them.
#include "Harness.h"
#include "MeshCheck.h"
#include "formats/AssimpReader.h"
#include "formats/TextureImageFiles.h"

#include <cstdint>
#include <exception>
#include <string>

VELMORA_FUZZ_HARNESS(std::exception, fuzz::QuietOutput)
{
    static const char *const kHints[] = {"obj", "stl", "gltf", "glb", "off"};
    if (size < 1)
        return;
    const char *hint = kHints[data[0] % (sizeof kHints / sizeof kHints[0])];
    const std::string path = fuzz::writeFile(std::string("model.") + hint, data + 1, size - 1);
    const ForeignModel m = AssimpReader::read(path.c_str());
    if (m.isPointCloud) {
        if (m.points.nPoints <= 0 || !m.points.points)
            std::abort();
        volatile float sink = m.points.points[3 * static_cast<size_t>(m.points.nPoints) - 1];
        (void)sink;
    } else {
        meshfuzz::checkMesh(m.mesh);
        // Embedded images stand for images of the model and decode as the mesh decodes them.
        for (const ForeignModel::EmbeddedImage &e : m.embeddedImages) {
            if (e.texture < 0 || e.texture >= static_cast<int>(m.textureImages.size()))
                std::abort();
            TextureImageFiles::decodeImage(e.bytes);
        }
    }
}
