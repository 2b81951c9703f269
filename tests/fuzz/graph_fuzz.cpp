// libFuzzer harness of the "gph" graph reader: each input is a whole file, read from memory
// with its size known and unknown. An accepted graph must have every edge on existing nodes.
#include "Harness.h"
#include "MeshCheck.h"
#include "formats/GraphReader.h"

#include <cstdint>
#include <exception>

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::QuietOutput)
{
    for (bool sizeKnown : {true, false}) {
        const fuzz::Stream f = fuzz::stream(data, size);
        fuzz::refusing<std::exception>([&] {
            const GraphData g = GraphReader::read(f.get(), sizeKnown ? static_cast<long long>(size) : -1, "fuzz.gph");
            if (g.nNodes <= 0 || g.nEdges < 0 || !g.nodes || (g.nEdges > 0 && !g.edges))
                std::abort();
            volatile float sink = g.nodes[3 * static_cast<size_t>(g.nNodes) - 1];
            for (size_t i = 0; i < 2 * static_cast<size_t>(g.nEdges); ++i)
                if (static_cast<unsigned>(g.edges[i]) >= static_cast<unsigned>(g.nNodes))
                    std::abort();
            (void)sink;
        });
    }
}
