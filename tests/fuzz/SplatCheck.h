#ifndef VELMORA_FUZZ_SPLATCHECK_H
#define VELMORA_FUZZ_SPLATCHECK_H

// What every splat reader's scene must hold, whatever the input: arrays of the sizes its count
// and degree give, and a small image drawn from it whose transmittance stays in [0, 1], so
// that the rasteriser meets whatever the reader lets through.
#include "synthesis/SplatRaster.h"
#include "synthesis/SplatScene.h"

#include <cstdlib>

namespace fuzz {

inline void checkSplats(const SplatScene &s)
{
    if (s.position.size() != 3 * s.count || s.opacity.size() != s.count || s.scale.size() != 3 * s.count ||
        s.rotation.size() != 4 * s.count || s.dc.size() != 3 * s.count || s.rest.size() != s.restPerSplat() * s.count ||
        s.restStep.size() != (s.shDegree > 0 ? s.count : 0) ||
        s.shDegree < 0 || s.shDegree > 3)
        std::abort();
    SplatCamera camera;
    camera.width = camera.height = 16;
    camera.fx = camera.fy = 20;
    camera.cx = camera.cy = 8;
    camera.t[2] = 3;
    const SplatImage image = SplatRaster::render(s, camera, SplatRasterOptions());
    for (float t : image.transmittance)
        if (!(t >= 0 && t <= 1))
            std::abort();
}

} // namespace fuzz

#endif
