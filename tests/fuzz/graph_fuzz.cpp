// libFuzzer harness of the "gph" graph reader: each input is a whole file, read from memory
// with its size known and unknown. An accepted graph must have every edge on existing nodes.
#include "FuzzFiles.h"
#include "MeshCheck.h"
#include "objects/GraphReader.h"

#include <cstdint>
#include <exception>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    meshfuzz::silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (bool sizeKnown : {true, false}) {
        FILE *f = fuzz::memoryStream(data, size);
        try {
            const GraphData g = GraphReader::read(f, sizeKnown ? static_cast<long long>(size) : -1, "fuzz.gph");
            if (g.nNodes <= 0 || g.nEdges < 0 || !g.nodes || (g.nEdges > 0 && !g.edges))
                std::abort();
            volatile float sink = g.nodes[3 * static_cast<size_t>(g.nNodes) - 1];
            for (size_t i = 0; i < 2 * static_cast<size_t>(g.nEdges); ++i)
                if (static_cast<unsigned>(g.edges[i]) >= static_cast<unsigned>(g.nNodes))
                    std::abort();
            (void)sink;
        } catch (const std::exception &) {
            // A refused file is the reader doing its job.
        }
        std::fclose(f);
    }
    return 0;
}
