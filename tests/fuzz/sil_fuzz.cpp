// A silhouette file (Sil, bit-packed or run lengths, either byte order), read as the camera
// reads a view's silhouette; a silhouette that loads is decoded, coded again and compared.
#include "Harness.h"

#include "formats/Sil.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::KeepOutput)
{
    const std::string path = fuzz::writeFile("view00.sil", data, size);
    const Sil sil(path.c_str());
    std::unique_ptr<unsigned char[]> pixels(sil.decodeSilhouette());
    if (!pixels)
        return;
    const int w = sil.getWidth(), h = sil.getHeight();
    if (w < 0 || h < 0 || static_cast<long long>(w) * h > Sil::maxPixels)
        std::abort();
    // Coding a large image again takes long under the sanitizers and adds nothing.
    if (w == 0 || h == 0 || static_cast<long long>(w) * h > (1LL << 22))
        return;
    // Run lengths keep two values: the decoded image codes back to the same pixels.
    const size_t n = static_cast<size_t>(w) * h;
    for (size_t k = 0; k < n; ++k)
        pixels[k] = pixels[k] ? 255 : 0;
    const Sil again(pixels.get(), w, h, sil.getName());
    std::unique_ptr<unsigned char[]> back(again.decodeSilhouette());
    if (!back || std::memcmp(back.get(), pixels.get(), n) != 0)
        std::abort();
}
