// A silhouette file (Sil, bit-packed or run lengths, either byte order), read as the camera
// reads a view's silhouette; a silhouette that loads is decoded, coded again and compared.
#include "FuzzFiles.h"

#include "camera/Sil.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = fuzz::writeFile("view00.sil", data, size);
    try {
        const Sil sil(path.c_str());
        std::unique_ptr<unsigned char[]> pixels(sil.decodeSilhouette());
        if (!pixels)
            return 0;
        const int w = sil.getWidth(), h = sil.getHeight();
        if (w < 0 || h < 0 || static_cast<long long>(w) * h > Sil::maxPixels)
            std::abort();
        // Coding a large image again takes long under the sanitizers and adds nothing.
        if (w == 0 || h == 0 || static_cast<long long>(w) * h > (1LL << 22))
            return 0;
        // Run lengths keep two values: the decoded image codes back to the same pixels.
        const size_t n = static_cast<size_t>(w) * h;
        for (size_t k = 0; k < n; ++k)
            pixels[k] = pixels[k] ? 255 : 0;
        const Sil again(pixels.get(), w, h, sil.getName());
        std::unique_ptr<unsigned char[]> back(again.decodeSilhouette());
        if (!back || std::memcmp(back.get(), pixels.get(), n) != 0)
            std::abort();
    } catch (const std::runtime_error &) {
    }
    return 0;
}
