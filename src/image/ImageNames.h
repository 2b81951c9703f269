#ifndef VELMORA_IMAGENAMES_H
#define VELMORA_IMAGENAMES_H

#include <string>
#include <vector>

class Bitmap;

/// The image formats of Bitmap under the names other programs give them: any case, and the
/// four-letter ".tiff" and ".jpeg", the generic ".pnm" (read and written as PPM) and ".pam"
/// (PAM, read only). Bitmap's
/// own loadImage keeps its exact three-letter names; the viewer's volumes and imgconv open
/// images through these.
namespace imagenames
{
/// Bitmap's keyword for the extension of `path` ("tif" for "x.TIFF"), or "" when it has none
/// of Bitmap's formats.
std::string keyword(const char *path);
/// Every extension keyword() knows, in lower case: Bitmap's keywords, then the longer names.
std::vector<std::string> extensions();
/// Loads `path` by its keyword; a name with none goes to Bitmap::loadImage, which refuses it.
void load(Bitmap &image, const char *path);
/// Saves by the keyword, as Bitmap::save does (0 on failure or for an unknown name).
int save(const Bitmap &image, const char *path);
} // namespace imagenames

#endif
