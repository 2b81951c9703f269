// libFuzzer harness of the binary mesh reader ("tri" files with their tagged blocks). Each
// input is a whole file, read from memory with its size known, as a local file is read.
#include "Harness.h"
#include "MeshCheck.h"

#include <cstdint>
#include <exception>

using meshfuzz::checkMesh;
using meshfuzz::File;

VELMORA_FUZZ_HARNESS(std::exception, fuzz::QuietOutput)
{
    // fmemopen wants at least one byte; an empty file is refused before any read anyway.
    if (size == 0)
        return;
    File f(fmemopen(const_cast<uint8_t *>(data), size, "rb"), std::fclose);
    if (!f)
        return;
    checkMesh(MeshReader::readBinary(f.get(), static_cast<long long>(size)));
}
