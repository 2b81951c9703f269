// The per-vertex colour file of "Load RGB colors...", read with and without a vertex count
// to match (the first input byte, when odd, asks for 4 colours).
#include "Harness.h"

#include "formats/RGBColorReader.h"

#include <cstdlib>
#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::KeepOutput)
{
    if (size < 1)
        return;
    const int expected = data[0] & 1 ? 4 : -1;
    const std::string path = fuzz::writeFile("colors.rgb", data + 1, size - 1);
    const std::vector<unsigned char> rgb = readRGBColors(path.c_str(), expected);
    // A file taken holds three bytes a colour, as many as asked for when asked.
    if (rgb.size() % 3 || (expected >= 0 && rgb.size() != 3u * expected) || rgb.size() > 3 * (size / 6 + 1))
        std::abort();
}
