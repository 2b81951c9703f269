#ifndef VELMORA_SPLATFILTER_H
#define VELMORA_SPLATFILTER_H

#include "synthesis/SplatScene.h"

#include <string>

/// What every splat reader does once the file's values are in the scene, activated: the
/// splats the rasteriser cannot draw (a value that is not finite, a scale above
/// SplatReader::SCALE_LIMIT, a zero rotation) are left out and the others move down in file
/// order; one warning gives their number, as the PLY reader's does.
class SplatFilter {
public:
    /// Scales the quaternion w x y z to unit length; a zero or non-finite one becomes zero,
    /// which `apply` leaves out.
    static void normaliseRotation(float *q);
    /// Leaves out the splats above; `name` names the file in the warning.
    static void apply(SplatScene &scene, const std::string &name);
};

#endif
