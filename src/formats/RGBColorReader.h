#ifndef VELMORA_RGBCOLORREADER_H
#define VELMORA_RGBCOLORREADER_H

#include <vector>

/// The per-vertex colour file ("*.rgb", text): a colour count, then one "r g b" line a
/// colour, components from 0 to 1 (values beyond are clamped).
///
/// `readRGBColors` returns 3 bytes a colour. It raises `std::runtime_error` with one of the
/// texts below, and returns nothing, when the file is refused:
/// - "can't read file" (cannot be opened);
/// - "no color count" (no count at the start, or a negative one);
/// - "%d colors for %d vertices" (the count is not `expected`, when expected >= 0);
/// - "%d colors announced, the file holds fewer" (the count is larger than the file could
///   hold, or the file ends early);
/// - "color %d is not a number" (a component that is not a finite number).
std::vector<unsigned char> readRGBColors(const char *path, int expected = -1);

#endif
