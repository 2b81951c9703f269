#ifndef VELMORA_VOLUMEREADER_H
#define VELMORA_VOLUMEREADER_H

#include "formats/LargeArray.h"

#include <cstddef>
#include <cstdio>
#include <string>

/// A regular grid of scalar samples as a file describes it, before anything is drawn: no
/// OpenGL. Sample (x, y, z) is samples[x + X (y + Y z)]; every size is at least 1.
struct VolumeData {
    int size[3] = {0, 0, 0};
    float voxelSize[3] = {1, 1, 1};
    float origin[3] = {0, 0, 0};
    LargeArray<float> samples;
    /// The samples are packed 24-bit colours R + 256 G + 65536 B (a colour image).
    bool packedColor = false;

    size_t count() const { return static_cast<size_t>(size[0]) * size[1] * size[2]; }
};

/// The volume readers: IMA volumes (".dim" text header beside the ".ima" samples), PGM
/// images as one-slice volumes, and any image Bitmap reads as a packed-colour slice.
///
/// Sizes are checked before anything is allocated: each must be at least 1, their product
/// must not overflow and must fit in what the sample file holds; nothing is read past its
/// end. A refused input raises a `std::runtime_error`: "can't read file" when a file cannot
/// be opened, "format unknown" for a sample type not listed, otherwise a text naming the
/// file and the reason, also printed as "GLVolumeObject: <text>".
class VolumeReader {
public:
    /// The sample types of IMA volumes, with their sizes in bytes.
    enum SampleType { U8, U16, U32, S8, S16, S32, FLOAT };
    static int sampleBytes(SampleType t);
    /// The type named `word` ("U8", ... "FLOAT"); false for any other word.
    static bool sampleType(const char *word, SampleType &t);

    /// `path` with or without its ".ima": reads "<base>.dim" then "<base>.ima".
    static VolumeData readIMA(const char *path);
    /// The same from the header text and an open sample stream of `bytes` bytes (the caller
    /// closes it); `name` only names the volume in messages.
    static VolumeData readIMA(const char *dimText, size_t dimSize, FILE *ima, long long bytes, const char *name);

    /// A PGM image as one slice: raw ("P5") or text ("P2"), the header's words separated by
    /// any blanks and comments (one line will do), 8- or 16-bit samples kept as their values.
    static VolumeData readPGM(const char *path);
    static VolumeData readPGM(const unsigned char *data, size_t size, const char *name);

    /// An image through Bitmap's path constructor; raises Bitmap's errors.
    static VolumeData readBitmap(const char *path);

    /// The smallest power of two >= n (1 for n <= 1).
    static int textureSide(int n);
    /// The sub-sampling factor that keeps every texture side of a volume of `size` within
    /// `maxTexture` texels (a power of two, 1 when none is needed).
    static int subSamplingFactor(const int size[3], int maxTexture);
    /// Keeps every s-th sample on each axis: the new size is size / s (at least 1) and the new
    /// sample (i, j, k) is the old (s i, s j, s k). The voxel size grows by s, so that
    /// the volume keeps its extent; the origin is kept.
    static void subSample(VolumeData &v, int s);
};

#endif
