#ifndef VELMORA_TEXTUREIMAGEFILES_H
#define VELMORA_TEXTUREIMAGEFILES_H

// Where a mesh's texture images come from: the image beside the mesh file, the files its
// materials name (with the tiles of a multi-tile atlas), and images a model file embeds.
#include "image/Bitmap.h"

#include <memory>
#include <string>
#include <vector>

namespace TextureImageFiles {

/// The companion images of a mesh file, in the order they are tried: the path without
/// its last three characters followed by "png", "ppm" and "jpg" (none for paths of four
/// characters or fewer).
std::vector<std::string> companionNames(const std::string &meshPath);
/// The first companion image that opens (through Stream, so a remote mesh fetches it
/// too) and decodes; null when none does.
std::unique_ptr<Bitmap> findCompanionImage(const std::string &meshPath);
/// An image file named by another program's model (png, jpg or jpeg, ppm, pgm, tga,
/// tif), read by its extension in any letter case; null when it does not open or decode.
std::unique_ptr<Bitmap> loadImageFile(const std::string &path);
/// A PNG or JPEG image held in memory (an image a model file embeds), told apart by its
/// first bytes; null for anything else or when it does not decode.
std::unique_ptr<Bitmap> decodeImage(const std::vector<unsigned char> &bytes);
/// The tile number (1001 to 1100) a multi-tile image name ends in before its extension
/// ("wall.1003.png", "wall_1003.png"), or 0.
int tileNumber(const std::string &path);
/// `path` with its tile number replaced by `tile`.
std::string tileName(const std::string &path, int tile);

} // namespace TextureImageFiles

#endif
