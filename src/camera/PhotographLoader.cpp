#include "camera/PhotographLoader.h"

#include "image/Bitmap.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

int PhotographLoader::powerOfTwoAtLeast(int n)
{
    int p = 1;
    while (p < n && p < (1 << 30))
        p *= 2;
    return p;
}

int PhotographLoader::subSamplingFor(int width, int height, int maxSide)
{
    const int w2 = powerOfTwoAtLeast(width), h2 = powerOfTwoAtLeast(height);
    // Both sides must come under the limit: the texture never exceeds what OpenGL can hold.
    int s = 1;
    while (w2 / s > maxSide || h2 / s > maxSide)
        s *= 2;
    return s;
}

std::vector<unsigned char> PhotographLoader::texelsOf(const unsigned char *pixels, int width, int height,
                                                      int components, int s, int &texW, int &texH)
{
    const int usedW = std::max(1, width / s), usedH = std::max(1, height / s);
    texW = powerOfTwoAtLeast(usedW);
    texH = powerOfTwoAtLeast(usedH);
    std::vector<unsigned char> buffer(static_cast<size_t>(texW) * texH * components, 0);
    for (int i = 0; i < height / s; ++i)
        for (int j = 0; j < width / s; ++j) {
            const unsigned char *from = pixels + (static_cast<size_t>(s) * i * width + static_cast<size_t>(s) * j) * components;
            std::copy(from, from + components, &buffer[(static_cast<size_t>(i) * texW + j) * components]);
        }
    return buffer;
}

std::shared_ptr<const UndistortionMap> PhotographLoader::mapFor(const LensDistortion &lens, const GLView::Intrinsics &k,
                                                                int w, int h)
{
    {
        std::lock_guard<std::mutex> lock(mapMutex);
        for (auto m = maps.begin(); m != maps.end(); ++m)
            if ((*m)->serves(lens, k, w, h)) {
                maps.splice(maps.begin(), maps, m);
                return maps.front();
            }
    }
    // Made outside the lock: a map of a large photograph takes a while.
    auto made = std::make_shared<const UndistortionMap>(lens, k, w, h);
    std::lock_guard<std::mutex> lock(mapMutex);
    maps.push_front(made);
    if (maps.size() > maxMaps)
        maps.pop_back();
    return made;
}

size_t PhotographLoader::mapCount() const
{
    std::lock_guard<std::mutex> lock(mapMutex);
    return maps.size();
}

PhotographLoader::Decoded PhotographLoader::decode(const Request &r)
{
    Decoded d;
    d.view = r.view;
    d.file = r.file;
    try {
        Bitmap image;
        image.loadImage(r.file.c_str());
        if (image.width < 1 || image.height < 1 || !image.pixels)
            throw std::runtime_error("empty image");
        d.width = image.width;
        d.height = image.height;
        d.subSampling = subSamplingFor(image.width, image.height, r.maxTextureSize);
        const unsigned char *pixels = reinterpret_cast<const unsigned char *>(image.pixels);
        std::vector<unsigned char> undistorted;
        if (!r.lens.isIdentity()) {
            undistorted = mapFor(r.lens, r.intrinsics, image.width, image.height)->apply(pixels, 3);
            pixels = undistorted.data();
        }
        d.texels = texelsOf(pixels, image.width, image.height, 3, d.subSampling, d.texWidth, d.texHeight);
    } catch (const std::exception &) {
        d.failed = true;
        d.texels.clear();
    }
    return d;
}

void PhotographLoader::request(Request r)
{
    const int view = r.view;
    worker.request(view, std::move(r));
}

std::vector<PhotographLoader::Decoded> PhotographLoader::take()
{
    std::lock_guard<std::mutex> lock(doneMutex);
    finished->store(false);
    std::vector<Decoded> out;
    out.swap(done);
    return out;
}

bool PhotographLoader::isPending(int view) const { return worker.isPending(view); }
