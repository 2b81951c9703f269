// Poses one to a line, as the camera-flight key files hold them: read until the first bad line
// the way a flight is loaded, then every line with the throwing reader.
#include "Harness.h"

#include "math/Position.h"

#include <stdexcept>

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    FILE *f = fuzz::memoryStream(data, size);
    Position p;
    while (Position::read(f, p)) {
    }
    std::rewind(f);
    // Every call consumes a line; the bound only guards against a reader that stops doing so.
    for (size_t calls = 0; calls <= size + 1; ++calls) {
        try {
            const Position q(f);
        } catch (const std::runtime_error &) {
            if (std::feof(f))
                break;
        }
    }
    std::fclose(f);
}
