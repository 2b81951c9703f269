#ifndef VELMORA_SPLATSAVING_H
#define VELMORA_SPLATSAVING_H

#include "synthesis/SplatScene.h"

#include <string>
#include <vector>

/// The one place where a splat scene is saved ("Save splats as..." and the command line's
/// cleaning).
class SplatSaving {
public:
    /// Raises a `std::runtime_error` unless `path` names a format splats are saved in (PLY, SPZ).
    static void checkName(const std::string &path);
    /// The splats i with keep[i] not zero, in their order; a keep list shorter than the scene
    /// keeps the splats past its end.
    static SplatScene kept(const SplatScene &scene, const std::vector<unsigned char> &keep);
    /// Writes `scene` to `path` in the format its extension names (through a temporary name).
    /// Raises a `std::runtime_error` saying why when it cannot.
    static void write(const SplatScene &scene, const std::string &path);
};

#endif
