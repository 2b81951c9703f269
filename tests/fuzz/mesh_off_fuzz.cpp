// libFuzzer harness of the OFF text reader, all header variants. Each input is a whole
// file, read through a memory stream, whose size the reader does not know (as a download's).
#include "Harness.h"
#include "MeshCheck.h"

#include <cstdint>
#include <exception>

using meshfuzz::checkMesh;
using meshfuzz::File;

VELMORA_FUZZ_HARNESS(std::exception, fuzz::QuietOutput)
{
    if (size == 0) {
        // fmemopen wants at least one byte: the empty text is read from memory directly.
        checkMesh(MeshReader::readOFF(reinterpret_cast<const char *>(data), 0));
        return;
    }
    File f(fmemopen(const_cast<uint8_t *>(data), size, "rb"), std::fclose);
    if (f)
        checkMesh(MeshReader::readOFF(f.get()));
}
