#ifndef VELMORA_SPLATSAVING_H
#define VELMORA_SPLATSAVING_H

#include "synthesis/SplatScene.h"

#include <string>
#include <vector>

/// The one place where a splat scene is saved ("Save as..." and the command line's cleaning):
/// the splats i with keep[i] not zero go to `path`, in their order, in the format its extension
/// names. Raises a `std::runtime_error` saying why when the scene cannot be saved.
void saveSplats(const SplatScene &scene, const std::vector<unsigned char> &keep, const std::string &path);

#endif
