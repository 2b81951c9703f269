#include "objects/GLVolumeObject.h"

#include "core/KeyCodes.h"
#include "formats/ColorMap.h"
#include "math/Messages.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <limits>
#include <utility>

namespace {

VolumeData readVolume(const char *path)
{
    const size_t n = path ? std::strlen(path) : 0;
    const char *ext = n >= 3 ? path + n - 3 : "";
    if (strcasecmp(ext, "ima") == 0)
        return VolumeReader::readIMA(path);
    if (strcasecmp(ext, "pgm") == 0)
        return VolumeReader::readPGM(path);
    return VolumeReader::readBitmap(path);
}

GL3DObject::DrawMethod method(void (GLVolumeObject::*m)()) { return static_cast<GL3DObject::DrawMethod>(m); }

} // namespace

GLVolumeObject::GLVolumeObject(const char *path, int maxTextureSide)
    : GLVolumeObject(readVolume(path), maxTextureSide)
{
}

GLVolumeObject::GLVolumeObject(VolumeData data, int maxTextureSide)
    : GLSlicedObject(GLObject::VOLUME, 5, actionValue(Action::X_PLANE)), volume(std::move(data))
{
    prepare(maxTextureSide);
}

GLVolumeObject::~GLVolumeObject() = default;

void GLVolumeObject::prepare(int maxTextureSide)
{
    const int maxSide = SlicePlanes::getMaxTextureSize(maxTextureSide);
    subSampling = VolumeReader::subSamplingFactor(volume.size, maxSide);
    msg::note("subSampling:%d,GL_MAX_TEXTURE_SIZE:%d\n", subSampling, maxSide);
    VolumeReader::subSample(volume, subSampling);

    for (int k = 0; k < 3; ++k) {
        geometry.origin[k] = volume.origin[k];
        geometry.voxelSize[k] = volume.voxelSize[k];
        geometry.size[k] = volume.size[k];
        geometry.textureSize[k] = VolumeReader::textureSide(volume.size[k]);
        geometry.position[k] = volume.size[k] / 2;
    }
    geometry.visible[0] = geometry.visible[1] = false;
    geometry.visible[2] = true;

    const size_t n = volume.count();
    minimum = std::numeric_limits<float>::infinity();
    maximum = -minimum;
    for (size_t i = 0; i < n; ++i) {
        const float v = volume.samples[i];
        // NaN samples take no part in the range.
        if (v < minimum)
            minimum = v;
        if (v > maximum)
            maximum = v;
    }
    if (!(minimum <= maximum))
        minimum = maximum = 0;
    thresholdMin = minimum;
    thresholdMax = maximum;

    for (int k = 0; k < 3; ++k) {
        bbMin[k] = volume.origin[k];
        bbMax[k] = volume.origin[k] + volume.size[k] * volume.voxelSize[k];
        center[k] = volume.origin[k] + (volume.size[k] / 2) * volume.voxelSize[k];
    }
    resetClippingPlanes();
    updateColorMap();
    setDefaultDrawing();
}

void GLVolumeObject::getSize(int *out) const { std::copy(volume.size, volume.size + 3, out); }
void GLVolumeObject::setMinMaxThreshold(float lo, float hi)
{
    thresholdMin = lo;
    thresholdMax = hi;
    updateColorMap();
    postRedisplay();
}

void GLVolumeObject::setInterpolationMode(int mode)
{
    const int filter = mode ? GL_LINEAR : GL_NEAREST;
    if (filter != planes.getFilter())
        planes.setFilter(filter);
    updateColorMap();
    postRedisplay();
}

void GLVolumeObject::colorMapChanged() { updateColorMap(); }

float GLVolumeObject::getSample(int x, int y, int z) const
{
    return volume.samples[static_cast<size_t>(x) +
                          static_cast<size_t>(volume.size[0]) *
                              (static_cast<size_t>(y) + static_cast<size_t>(volume.size[1]) * static_cast<size_t>(z))];
}

std::string GLVolumeObject::getInformation() const
{
    char size[64];
    std::snprintf(size, sizeof size, "[%dx%dx%d]\n", volume.size[0], volume.size[1], volume.size[2]);
    return size + boxInformation(nullptr) + "\n";
}

float GLVolumeObject::getMaxIntoDirection(float x, float y, float z) const
{
    const float len = std::sqrt(x * x + y * y + z * z);
    const float d[3] = {x / len, y / len, z / len};
    float best = -1000000.0f;
    for (int k = 0; k < 3; ++k) {
        if (d[k] == 0)
            continue;
        for (const float face : {bbMin[k], bbMax[k]}) {
            const float t = face / d[k];
            bool inside = true;
            for (int j = 0; j < 3; ++j)
                if (j != k && (t * d[j] < bbMin[j] || t * d[j] > bbMax[j]))
                    inside = false;
            best = std::max(best, inside ? t : -1000000.0f);
        }
    }
    return best;
}

void GLVolumeObject::buildSlice(int p, std::vector<unsigned char> &rgb, int &width, int &height) const
{
    int a, b;
    SliceGeometry::planeAxes(p, a, b);
    width = geometry.textureSize[a];
    height = geometry.textureSize[b];
    rgb.assign(static_cast<size_t>(width) * height * 3, 255);
    // Strides of the two plane axes in the sample array, and the start of the slice.
    const size_t stride[3] = {1, static_cast<size_t>(volume.size[0]),
                              static_cast<size_t>(volume.size[0]) * static_cast<size_t>(volume.size[1])};
    const float *base = volume.samples.get() + stride[p] * static_cast<size_t>(geometry.position[p]);
    const ColorMap::ColorFunction f = ColorMap::selectColorMap(colorMapIndex);
    const float lo = thresholdMin, hi = thresholdMax;
    for (int v = 0; v < volume.size[b]; ++v) {
        const float *row = base + stride[b] * static_cast<size_t>(v);
        unsigned char *out = rgb.data() + static_cast<size_t>(v) * width * 3;
        if (volume.packedColor) {
            for (int u = 0; u < volume.size[a]; ++u, out += 3) {
                const unsigned c = static_cast<unsigned>(row[stride[a] * static_cast<size_t>(u)]);
                out[0] = static_cast<unsigned char>(c & 0xFF);
                out[1] = static_cast<unsigned char>((c >> 8) & 0xFF);
                out[2] = static_cast<unsigned char>((c >> 16) & 0xFF);
            }
        } else {
            for (int u = 0; u < volume.size[a]; ++u, out += 3)
                f(out, row[stride[a] * static_cast<size_t>(u)], lo, hi);
        }
    }
}

void GLVolumeObject::updateColorMap()
{
    stale[0] = stale[1] = stale[2] = true;
    legend.clear();
    // Packed colours are shown as they are: no map, so no scale of values either.
    if (volume.packedColor)
        return;
    legend.setTitle("");
    legend.add(ColorMap::selectColorMap(colorMapIndex), minimum, maximum, thresholdMin, thresholdMax, 15, 2);
}

void GLVolumeObject::setDefaultDrawing() { drawMethod = method(&GLVolumeObject::drawTexture); }

void GLVolumeObject::drawTexture()
{
    refreshTextures();
    withPose([this] {
        planes.drawQuads(geometry);
        planes.drawOutlines(geometry);
    });
}

void GLVolumeObject::defaultDrawing() { drawTexture(); }

void GLVolumeObject::notifyClick(int, int) {}

const BindingTable &GLVolumeObject::bindings()
{
    constexpr unsigned F = KeyBinding::BUSY | KeyBinding::REDRAW;
    static const KeyBinding rows[] = {
        {actionValue(Action::X_PLANE), {'1'}, "X", "X plane on/off", F},
        {actionValue(Action::Y_PLANE), {'2'}, "Y", "Y plane on/off", F},
        {actionValue(Action::Z_PLANE), {'3'}, "Z", "Z plane on/off", F},
    };
    static const BindingTable table("volume", rows, BindingTable::WITH_COLOR_MAPS);
    return table;
}

void GLVolumeObject::drawInfo() { legend.draw(10, 10); }
