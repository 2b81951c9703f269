// libFuzzer harness of the Entwine point tile metadata and hierarchy texts: each input is read
// as an ept.json and as a hierarchy file.
#include "Harness.h"
#include "formats/EptReader.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::QuietOutput)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    fuzz::refusing<std::runtime_error>([&] {
        const EptMetadata m = EptMetadata::parse(text);
        unsigned bytes = 0;
        for (const EptDimension &d : m.schema)
            bytes += d.size;
        if (bytes != m.recordBytes || m.schema.size() < 3)
            std::abort();
    });
    fuzz::refusing<std::runtime_error>([&] {
        std::vector<std::string> more;
        for (const auto &node : EptReader::parseHierarchy(text, more))
            if (node.second <= 0)
                std::abort();
    });
}
