// libFuzzer harness of the splat scene reader: each input is a whole PLY file; what it reads is
// drawn into a small image, so that the rasteriser meets whatever the reader lets through.
#include "Harness.h"
#include "formats/SplatReader.h"
#include "synthesis/SplatRaster.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    const SplatScene s = SplatReader::read(reinterpret_cast<const char *>(data), size, "fuzz.ply");
    if (s.position.size() != 3 * s.count || s.opacity.size() != s.count || s.scale.size() != 3 * s.count ||
        s.rotation.size() != 4 * s.count || s.dc.size() != 3 * s.count || s.rest.size() != s.restPerSplat() * s.count ||
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
