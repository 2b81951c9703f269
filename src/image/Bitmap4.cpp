#include "image/Bitmap4.h"

#include "image/Bitmap.h"
#include "image/ImageCodecs.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <stdexcept>

Bitmap4::Bitmap4() : width(0), height(0), pixels(nullptr) {}

Bitmap4::Bitmap4(int w, int h) : Bitmap4()
{
    if (w < 0 || h < 0 || static_cast<long long>(w) * h > Bitmap::MAX_PIXELS)
        throw std::runtime_error("image size out of range");
    width = w;
    height = h;
    if (w > 0 && h > 0) {
        store.reset(static_cast<unsigned char *>(std::calloc(static_cast<size_t>(w) * h, 4)));
        if (!store)
            throw std::bad_alloc();
        pixels = store.get();
    }
}

Bitmap4::Bitmap4(Bitmap4 &&other) noexcept
    : width(other.width), height(other.height), pixels(other.pixels), store(std::move(other.store))
{
    other.width = other.height = 0;
    other.pixels = nullptr;
}

Bitmap4 &Bitmap4::operator=(Bitmap4 &&other) noexcept
{
    if (this != &other) {
        width = other.width;
        height = other.height;
        pixels = other.pixels;
        store = std::move(other.store);
        other.width = other.height = 0;
        other.pixels = nullptr;
    }
    return *this;
}

int Bitmap4::save(const char *path) const
{
    return savePNG(path);
}

int Bitmap4::savePNG(const char *path, int level) const
{
    const imagecodecs::WriteResult result = imagecodecs::writePng(path, pixels, width, height, 4, level);
    if (result == imagecodecs::CantCreate)
        throw std::runtime_error("imposible to open file");
    return result == imagecodecs::Written ? 1 : 0;
}

void Bitmap4::flipX()
{
    if (!pixels)
        return;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width / 2; ++x)
            std::swap_ranges(get(x, y), get(x, y) + 4, get(width - 1 - x, y));
}

void Bitmap4::flipY()
{
    if (!pixels)
        return;
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height / 2; ++y)
        std::swap_ranges(get(0, y), get(0, y) + rowBytes, get(0, height - 1 - y));
}
