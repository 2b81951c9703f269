// libFuzzer harness of the binary mesh reader ("tri" files with their tagged blocks). Each
// input is a whole file, read from memory with its size known, as a local file is read.
#include "MeshCheck.h"

#include <cstdint>
#include <exception>

using meshfuzz::checkMesh;
using meshfuzz::File;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    meshfuzz::silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // fmemopen wants at least one byte; an empty file is refused before any read anyway.
    if (size == 0)
        return 0;
    File f(fmemopen(const_cast<uint8_t *>(data), size, "rb"), std::fclose);
    if (!f)
        return 0;
    try {
        checkMesh(MeshReader::readBinary(f.get(), static_cast<long long>(size)));
    } catch (const std::exception &) {
        // A refused file is the reader doing its job.
    }
    return 0;
}
