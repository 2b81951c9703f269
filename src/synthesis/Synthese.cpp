#include "synthesis/Synthese.h"

#include "math/Messages.h"

#include <cmath>
#include <cstddef>
#include <mutex>

int Synthese::N_GAM = 0;
float Synthese::puissance[Synthese::TABLE_SIZE] = {};
std::atomic<bool> Synthese::tableReady{false};

namespace {

std::mutex tableMutex;

// A central difference spans two pixels, so it may be twice as steep as a one-sided one before
// it is taken for a jump between two surfaces rather than a slope.
constexpr float CENTRAL_LIMIT = 509.0f;
constexpr float ONE_SIDED_LIMIT = 254.0f;

// The limits apply to the difference truncated to an integer. Truncating in floating point
// keeps huge or non-finite differences out of an int conversion; NaN fails the comparison.
bool within(float difference, float limit)
{
    return std::trunc(std::fabs(difference)) <= limit;
}

struct Slope {
    float sum = 0.0f;
    int weight = 0;

    void add(float difference, int w)
    {
        sum += difference;
        weight += w;
    }
    void addOneSided(float difference)
    {
        if (within(difference, ONE_SIDED_LIMIT))
            add(difference, 1);
    }
};

// The pixel's own line through `i`; `along` steps in the direction of the slope.
void ownLine(const float *h, std::ptrdiff_t i, std::ptrdiff_t along, Slope &slope)
{
    const float before = h[i - along];
    const float centre = h[i];
    const float after = h[i + along];
    if (before != 0.0f && after != 0.0f) {
        if (within(after - before, CENTRAL_LIMIT)) {
            slope.add(after - before, 2);
        } else if (centre != 0.0f) {
            // Across a jump only the side the pixel belongs to describes its slope.
            slope.addOneSided(after - centre < centre - before ? after - centre : centre - before);
        }
    } else if (centre != 0.0f) {
        if (before != 0.0f)
            slope.addOneSided(centre - before);
        else if (after != 0.0f)
            slope.addOneSided(after - centre);
    }
}

// A line parallel to the pixel's own, centred on `j`. Its one-sided differences only count when
// its centre belongs to the same surface as the pixel (height `own`).
void neighbourLine(const float *h, std::ptrdiff_t j, std::ptrdiff_t along, float own, Slope &slope)
{
    const float before = h[j - along];
    const float centre = h[j];
    const float after = h[j + along];
    const bool sameSurface = centre != 0.0f && within(centre - own, CENTRAL_LIMIT);
    if (before != 0.0f && after != 0.0f) {
        if (within(after - before, CENTRAL_LIMIT)) {
            slope.add(after - before, 2);
        } else if (sameSurface && centre - before > after - centre) {
            if (within(after - centre, ONE_SIDED_LIMIT))
                slope.add(after - centre, 1);
            else if (within(centre - before, ONE_SIDED_LIMIT))
                slope.add(centre - before, 1);
        }
    } else if (sameSurface) {
        if (before != 0.0f)
            slope.addOneSided(centre - before);
        else if (after != 0.0f)
            slope.addOneSided(after - centre);
    }
}

// `along` steps along the slope, `across` to the parallel lines: the line at +across is
// visited before the one at -across.
Slope slopeAt(const float *h, std::ptrdiff_t i, std::ptrdiff_t along, std::ptrdiff_t across)
{
    Slope slope;
    ownLine(h, i, along, slope);
    neighbourLine(h, i + across, along, h[i], slope);
    neighbourLine(h, i - across, along, h[i], slope);
    return slope;
}

// Reads the 3 x 3 neighbourhood of i only; the callers keep it inside the image.
bool estimateNormal(const float *h, std::ptrdiff_t width, std::ptrdiff_t i, float normal[3])
{
    const Slope horizontal = slopeAt(h, i, 1, width);
    if (horizontal.weight == 0)
        return false;
    const Slope vertical = slopeAt(h, i, width, 1);
    if (vertical.weight == 0)
        return false;
    const float gx = horizontal.sum / static_cast<float>(horizontal.weight);
    const float gy = vertical.sum / static_cast<float>(vertical.weight);
    const float length = std::sqrt(gx * gx + gy * gy + 1.0f);
    normal[0] = gx / length;
    normal[1] = gy / length;
    normal[2] = 1.0f / length;
    return true;
}

// An empty pixel is shaded only when it is enclosed by the surface along its edges or along its
// corners; otherwise it lies outside the surface and stays background.
bool outsideSurface(const float *h, std::ptrdiff_t width, std::ptrdiff_t i)
{
    const bool emptyCorner = h[i - width - 1] == 0.0f || h[i - width + 1] == 0.0f ||
                             h[i + width - 1] == 0.0f || h[i + width + 1] == 0.0f;
    const bool emptyEdge =
        h[i - width] == 0.0f || h[i + width] == 0.0f || h[i - 1] == 0.0f || h[i + 1] == 0.0f;
    return emptyCorner && emptyEdge;
}

unsigned char toByte(float value)
{
    if (!(value > 0.0f))
        return 0;
    if (value >= 255.0f)
        return 255;
    return static_cast<unsigned char>(value);
}

constexpr int MARGIN = 3;

} // namespace

void Synthese::init(int exponent)
{
    std::lock_guard<std::mutex> lock(tableMutex);
    // Objects made at once on two threads both ask for the same table: the second finds it
    // built and leaves it alone, so no thread writes the table another may be reading.
    if (tableReady.load(std::memory_order_acquire) && N_GAM == exponent)
        return;
    N_GAM = exponent;
    const double last = TABLE_SIZE - 1;
    // Entry 0 stays 0 even for the exponent 0: a reflection pointing away gets no highlight.
    puissance[0] = 0.0f;
    for (int i = 1; i < TABLE_SIZE; ++i)
        puissance[i] = static_cast<float>(std::pow(i / last, exponent));
    tableReady.store(true, std::memory_order_release);
}

int Synthese::DERIVEES_PARTIELLES_2(const float *heights, int width, int index, float normal[3])
{
    if (heights == nullptr || normal == nullptr || width < 3 || index <= width)
        return 0;
    const int column = index % width;
    if (column == 0 || column == width - 1)
        return 0;
    return estimateNormal(heights, width, index, normal) ? 1 : 0;
}

std::unique_ptr<unsigned char[]> Synthese::compute(int width, int height, const float *heights, float lx,
                                                   float ly, float lz, float ambient, float diffuse,
                                                   float specular)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::unique_ptr<unsigned char[]> image = std::make_unique<unsigned char[]>(size);
    shade(image.get(), width, height, heights, lx, ly, lz, ambient, diffuse, specular);
    return image;
}

std::vector<unsigned char> Synthese::computeImage(int width, int height, const float *heights, float lx,
                                                  float ly, float lz, float ambient, float diffuse,
                                                  float specular)
{
    if (width <= 0 || height <= 0)
        return {};
    std::vector<unsigned char> image(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    shade(image.data(), width, height, heights, lx, ly, lz, ambient, diffuse, specular);
    return image;
}

void Synthese::shade(unsigned char *out, int width, int height, const float *heights, float lx, float ly,
                     float lz, float ambient, float diffuse, float specular)
{
    if (heights == nullptr || width < 2 * MARGIN + 1 || height < 2 * MARGIN + 1)
        return;
    const float total = ambient + diffuse + specular;
    if (!(total > 0.0f) || !std::isfinite(total))
        return;
    if (!tableReady.load(std::memory_order_acquire))
        init(10);

    const float lightLength = std::sqrt(lx * lx + ly * ly + lz * lz);
    if (lightLength > 0.0f && std::isfinite(lightLength)) {
        lx /= lightLength;
        ly /= lightLength;
        lz /= lightLength;
    } else {
        // No direction to light from: N . L = 0 leaves the ambient term alone.
        lx = ly = lz = 0.0f;
    }
    const float scale = 255.0f / total;
    ambient *= scale;
    diffuse *= scale;
    specular *= scale;

    const std::ptrdiff_t w = width;
    for (std::ptrdiff_t y = MARGIN; y < height - MARGIN; ++y) {
        for (std::ptrdiff_t x = MARGIN; x < w - MARGIN; ++x) {
            const std::ptrdiff_t i = y * w + x;
            if (heights[i] == 0.0f && outsideSurface(heights, w, i))
                continue;
            float n[3];
            if (!estimateNormal(heights, w, i, n))
                continue;
            const float cosine = n[0] * lx + n[1] * ly + n[2] * lz;
            float value;
            if (cosine <= 0.0f) {
                value = ambient;
            } else if (specular == 0.0f) {
                value = ambient + diffuse * cosine;
            } else {
                // Reflected light against the viewing direction, the viewer looking along z.
                float reflection = 2.0f * cosine * n[2] - lz;
                if (reflection > 1.0f) {
                    msg::note("produit scalaire > 1 (%f)\n", reflection);
                    reflection = 1.0f;
                }
                const float factor =
                    reflection > 0.0f ? puissance[static_cast<int>(reflection * (TABLE_SIZE - 1))] : 0.0f;
                value = ambient + diffuse * cosine + specular * factor;
            }
            out[i] = toByte(value);
        }
    }
}
