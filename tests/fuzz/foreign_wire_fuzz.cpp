// libFuzzer harness of the answer the import helper hands back (ForeignModelWire): whatever
// the bytes, the record read from them is whole and its indices name its vertices.
#include "Harness.h"
#include "MeshCheck.h"
#include "formats/ForeignModelWire.h"

#include <cstdint>
#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    WireReader r(reinterpret_cast<const char *>(data), size);
    const ForeignModel m = foreignwire::readModel(r);
    meshfuzz::checkMesh(m.mesh);
    if (m.points.nPoints > 0) {
        volatile float sink = m.points.points[3 * static_cast<size_t>(m.points.nPoints) - 1];
        (void)sink;
    }
}
