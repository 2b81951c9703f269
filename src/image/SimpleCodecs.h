#ifndef VELMORA_SIMPLECODECS_H
#define VELMORA_SIMPLECODECS_H

#include "image/ImageCodecs.h"

#include <cstddef>
#include <cstdio>

/// The formats this program decodes itself, with no library behind it: netpbm (PPM, PGM),
/// TGA, raw RGB with its ".dim" side file (RVB), the first slice of an IMA volume and raw
/// floats, and the writers of the raw forms. Each decoder gives RGB pixels, row 0 at the top, or raises
/// std::runtime_error with the texts listed in Bitmap.h. Sizes from a header are checked with sizeAccepted()
/// before they are combined, and pixel memory grows with the bytes that really arrive.
namespace imagecodecs
{

/// Netpbm image from the current position of `in` (which may be a pipe): "P6" (raw) or "P3"
/// (plain) colour, or with `grey` "P5" or "P2" grey (R = G = B). Comments from "#" to the end
/// of a line may stand between any two header fields, and between the samples of a plain
/// file. The maximum value must be 255.
/// A PAM file ("P7", then WIDTH, HEIGHT, DEPTH, MAXVAL and TUPLTYPE lines up to ENDHDR) is read
/// whatever `grey` says: depth 1 or 2 is grey, 3 or 4 colour, alpha is dropped, and samples of
/// any maximum value up to 65535 (two bytes, most significant first, above 255) are scaled to
/// the nearest of 0..255. Its texts: "not a PAM header", "PAM header ends before ENDHDR", a
/// missing or unknown field named, "image size out of range", "file too short".
Decoded decodeNetpbm(FILE *in, bool grey);

/// Where the pixels of a netpbm file held in memory start.
struct NetpbmLayout {
    bool plain; ///< "P3" or "P2": the samples are text and can't be used in place
    int width;
    int height;
    size_t offset; ///< first byte after the header
};

/// Reads the header of a netpbm file of `size` bytes at `bytes` ("P6" or "P3", or with `grey`
/// "P5" or "P2"), with the texts of decodeNetpbm. The pixels are not checked.
NetpbmLayout netpbmLayout(const unsigned char *bytes, size_t size, bool grey);

/// TGA image: true colour (24 or 32 bits, alpha dropped), grey (8 bits) or colour-mapped (8-bit
/// indices into a map of 24- or 32-bit entries), each uncompressed or run-length encoded. Rows
/// and columns follow the origin bits of the descriptor, so row 0 is the top of the picture,
/// and the file's blue, green, red order becomes red, green, blue.
Decoded decodeTga(FILE *in);

/// Whether an 18-byte TGA header describes the one variant whose pixels can be used straight
/// from the file: uncompressed 24-bit true colour with no colour map, no alpha bits and no
/// interleaving. Its bytes stay in the file's order (blue, green, red; rows as stored).
bool tgaMappable(const unsigned char *header);
int tgaWidth(const unsigned char *header);
int tgaHeight(const unsigned char *header);

/// Width and height of a ".rvb" file from its ".dim" side file ("%i %i"). Texts: "Can't read
/// file", "bad .dim file", "image size out of range".
void rvbSizes(const char *path, int &width, int &height);

/// Raw RGB bytes whose sizes come from the ".dim" side file.
Decoded decodeRvb(const char *path);

/// First slice of an IMA volume ("<base>.dim" and "<base>.ima"; see Bitmap::loadIMA).
Decoded decodeIma(const char *path);

/// `width` x `height` native floats as 16-bit fixed point (see Bitmap::loadfromfloat).
Decoded decodeFloats(const char *path, int width, int height);

/// Writes "P6\n<w> <h>\n255\n" and the RGB bytes. An image without pixels is not written
/// (WriteFailed): it would make a file no reader accepts.
WriteResult writePpm(const char *path, const unsigned char *rgb, int width, int height);

/// Writes one native float per pixel, (R x 256 + G) / 65535: the inverse of decodeFloats. An
/// image without pixels makes an empty file.
WriteResult writeFloats(const char *path, const unsigned char *rgb, int width, int height);

} // namespace imagecodecs

#endif
