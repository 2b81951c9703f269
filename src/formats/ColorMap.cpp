#include "formats/ColorMap.h"

#include <cmath>
#include <cstdlib>

namespace {

// The map boundaries are single-precision thirds; the steps inside a third are scaled by
// 255 / third rather than by 765, which shifts some truncated channels by one.
constexpr float kThird = 0.33333334f;
constexpr float kTwoThirds = 0.6666667f;

// A float outside 0..255 (or NaN) converted to a byte is undefined behaviour, so every
// channel goes through here; in-range values are truncated.
unsigned char toByte(float v)
{
    if (!(v >= 0.f))
        return 0;
    if (v >= 255.f)
        return 255;
    return static_cast<unsigned char>(v);
}

void setRGB(unsigned char *rgb, unsigned char r, unsigned char g, unsigned char b)
{
    rgb[0] = r;
    rgb[1] = g;
    rgb[2] = b;
}

// The value's position in [min, max] as 0..1. A degenerate range has no inside: its one
// value sits at the bottom, others fall below or above it. Anything undefined (NaN value,
// infinite bounds) counts as below.
float position(float value, float min, float max)
{
    if (std::isnan(value))
        return -1.f;
    if (max == min)
        return value < min ? -1.f : (value > max ? 2.f : 0.f);
    const float t = (value - min) / (max - min);
    return std::isnan(t) ? -1.f : t;
}

float stepWithinThird(float s) { return s * 255.f / kThird; }

void grayLevel(unsigned char *rgb, float value, float min, float max, bool inverse)
{
    float t = position(value, min, max);
    t = t < 0.f ? 0.f : (t > 1.f ? 1.f : t);
    unsigned char g = toByte(255.f * t);
    if (inverse)
        g = static_cast<unsigned char>(255 - g);
    setRGB(rgb, g, g, g);
}

// One half of the standard map: the upper one dark red through orange to white, the lower one
// black through green to cyan; both black below the range.
void branch(bool upper, unsigned char *rgb, float value, float min, float max)
{
    const float t = position(value, min, max);
    if (t < 0.f) {
        setRGB(rgb, 0, 0, 0);
    } else if (t > 1.f) {
        setRGB(rgb, upper ? 255 : 0, 255, 255);
    } else {
        const unsigned char b = t > 0.5f ? toByte(510.f * (t - 0.5f)) : 0;
        setRGB(rgb, upper ? toByte(192.f + std::trunc(63.f * t)) : 0, toByte(255.f * t), b);
    }
}

// Indexed by map number; the panels list the maps in this order.
const ColorMap::ColorFunction kMaps[ColorMap::nColorMaps] = {
    ColorMap::colorMap,     ColorMap::hotColorMap,          ColorMap::coldColorMap,
    ColorMap::jetColorMap,  ColorMap::cyclicColorMap,       ColorMap::grayColorMap,
    ColorMap::negativeGrayColorMap, ColorMap::absColorMap,  ColorMap::blueColorMap,
    ColorMap::randColorMap,
};

const char *const kNames[ColorMap::nColorMaps] = {
    "standard", "hot",          "cold",          "jet",  "cyclic",
    "gray",     "inverse gray", "absolute gray", "blue", "random",
};

} // namespace

int ColorMap::mapNumber(int i)
{
    const int m = i % nColorMaps;
    return m < 0 ? m + nColorMaps : m;
}

bool ColorMap::choose(int &current, int i)
{
    i = mapNumber(i);
    if (i == current)
        return false;
    current = i;
    return true;
}

ColorMap::ColorFunction ColorMap::selectColorMap(int i) { return kMaps[mapNumber(i)]; }

const char *ColorMap::getColorMapName(int i) { return kNames[mapNumber(i)]; }

void ColorMap::colorMap(unsigned char *rgb, float value, float min, float max)
{
    // Signed data keeps zero at the boundary between the two branches.
    const bool oppositeSigns = (min < 0.f && max > 0.f) || (min > 0.f && max < 0.f);
    const bool upper = value > 0.f;
    if (oppositeSigns)
        branch(upper, rgb, value, upper ? 0.f : min, upper ? max : 0.f);
    else
        branch(upper, rgb, value, min, max);
}

void ColorMap::hotColorMap(unsigned char *rgb, float value, float min, float max)
{
    const float t = position(value, min, max);
    if (t < 0.f)
        setRGB(rgb, 0, 0, 0);
    else if (t < kThird)
        setRGB(rgb, toByte(stepWithinThird(t)), 0, 0);
    else if (t < kTwoThirds)
        setRGB(rgb, 255, toByte(stepWithinThird(t - kThird)), 0);
    else if (t < 1.f)
        setRGB(rgb, 255, 255, toByte(stepWithinThird(t - kTwoThirds)));
    else
        setRGB(rgb, 255, 255, 255);
}

void ColorMap::coldColorMap(unsigned char *rgb, float value, float min, float max)
{
    const float t = position(value, min, max);
    if (t < 0.f)
        setRGB(rgb, 0, 0, 0);
    else if (t < kThird)
        setRGB(rgb, 0, 0, toByte(stepWithinThird(t)));
    else if (t < kTwoThirds)
        setRGB(rgb, 0, toByte(stepWithinThird(t - kThird)), 255);
    else if (t < 1.f)
        setRGB(rgb, toByte(stepWithinThird(t - kTwoThirds)), 255, 255);
    else
        setRGB(rgb, 255, 255, 255);
}

void ColorMap::jetColorMap(unsigned char *rgb, float value, float min, float max)
{
    const float t = position(value, min, max);
    if (t < 0.f) {
        setRGB(rgb, 0, 0, 255);
    } else if (t < kThird) {
        setRGB(rgb, 0, toByte(stepWithinThird(t)), 255);
    } else if (t < kTwoThirds) {
        // Blue is the complement of the already truncated red, so the two always sum to 255.
        const unsigned char r = toByte(stepWithinThird(t - kThird));
        setRGB(rgb, r, 255, static_cast<unsigned char>(255 - r));
    } else if (t < 1.f) {
        setRGB(rgb, 255, toByte(255.f - stepWithinThird(t - kTwoThirds)), 0);
    } else {
        setRGB(rgb, 255, 0, 0);
    }
}

void ColorMap::cyclicColorMap(unsigned char *rgb, float value, float min, float max)
{
    const float range = max - min;
    const float third = range / 3.f;
    const float d = value - min;
    // A degenerate or infinite range, or a NaN value, has no phase: it starts the cycle.
    const float w = range != 0.f ? d - range * std::floor(d / range) : 0.f;
    if (range == 0.f || !std::isfinite(w)) {
        setRGB(rgb, 255, 0, 0);
        return;
    }
    if (w < third) {
        const unsigned char r = toByte(255.f - 255.f * w / third);
        setRGB(rgb, r, 0, static_cast<unsigned char>(255 - r));
    } else if (w < 2.f * third) {
        const unsigned char g = toByte(255.f * (w - third) / third);
        setRGB(rgb, 0, g, static_cast<unsigned char>(255 - g));
    } else {
        const unsigned char r = toByte(255.f * (w - 2.f * third) / third);
        setRGB(rgb, r, static_cast<unsigned char>(255 - r), 0);
    }
}

void ColorMap::grayColorMap(unsigned char *rgb, float value, float min, float max)
{
    grayLevel(rgb, value, min, max, false);
}

void ColorMap::negativeGrayColorMap(unsigned char *rgb, float value, float min, float max)
{
    grayLevel(rgb, value, min, max, true);
}

void ColorMap::absColorMap(unsigned char *rgb, float value, float min, float max)
{
    if (value > 0.f)
        grayColorMap(rgb, value, 0.f, max);
    else
        grayColorMap(rgb, -value, 0.f, -min);
}

void ColorMap::blueColorMap(unsigned char *rgb, float value, float min, float max)
{
    const float t = position(value, min, max);
    if (t < 0.f)
        setRGB(rgb, 0, 0, 0);
    else if (t < 1.f)
        setRGB(rgb, 0, 0, toByte(255.f * t));
    else
        setRGB(rgb, 0, 0, 255);
}

void ColorMap::randColorMap(unsigned char *rgb, float value, float min, float max)
{
    const float span = max - min;
    const float s = span != 0.f ? (value - min) * 65000.f / span : 0.f;
    // The seed is the truncated position; out-of-range floats must not reach the integer
    // conversion, and NaN or infinite positions seed like the bottom of the range.
    int seed = 0;
    if (std::isfinite(s)) {
        if (s >= 2147483647.0)
            seed = 2147483647;
        else if (s <= -2147483648.0)
            seed = -2147483647 - 1;
        else
            seed = static_cast<int>(s);
    }
    std::srand(static_cast<unsigned>(seed));
    // Three separate statements: the channels are drawn in the order R, G, B.
    rgb[0] = static_cast<unsigned char>(-std::rand() & 0xff);
    rgb[1] = static_cast<unsigned char>(-std::rand() & 0xff);
    rgb[2] = static_cast<unsigned char>(-std::rand() & 0xff);
}
