#ifndef VELMORA_SEQUENCEFILES_H
#define VELMORA_SEQUENCEFILES_H

#include "math/Point2.h"

#include <memory>
#include <string>
#include <vector>

/// The files of an image sequence beside a camera file: how a sequence is found in a folder,
/// the raw PGM reader of silhouettes, and silhouette contour files.
namespace sequence {

/// A sequence of files named "<base><two-digit view index>.<extension>".
struct SequencePath {
    std::string base;      ///< folder and file-name prefix, up to the view index
    std::string extension; ///< without the dot
    bool found() const { return !base.empty(); }
};

/// The folder part of `path` (everything before its last '/', or its last '\' when it has no
/// '/'), "." when it has neither.
std::string directoryPart(const std::string &path);
/// The last component of `path` (everything after that separator), the whole path when it
/// has no separator, empty when it ends with the separator.
std::string lastPart(const std::string &path);

/// Looks in `folder` (which ends with a separator) for the first entry, in name order, that
/// names a view file: it starts with `prefix` (with an empty prefix: does not start with
/// "."), has an extension (equal to `extension` when that is not empty) and two digits
/// before the extension's dot. Nothing found (or no folder): an empty SequencePath.
SequencePath findSequence(const std::string &folder, const std::string &prefix, const std::string &extension);

/// "<base><index, two digits>.<extension>".
std::string viewFileName(const std::string &base, int index, const std::string &extension);

/// A raw PGM ("P5") silhouette: the header is looked for in the first 127 bytes: the magic
/// line, comment lines starting with "#", the width and height line, the maximum-value line;
/// then width x height bytes. Null (and width = height = 0) for a missing file, another magic,
/// a header without usable sizes, sizes beyond 2^28 pixels, or a file shorter than its pixels.
std::unique_ptr<unsigned char[]> loadPGM(const char *path, int &width, int &height);

/// One grey byte a pixel of the silhouette file `path` of a sequence with `extension`: a
/// ".sil" silhouette, a PGM image, or any picture the image class reads (the mean of its
/// channels). Null when it decodes to nothing; raises std::exception when a reader does.
std::unique_ptr<unsigned char[]> loadSilhouetteGrey(const std::string &path, const std::string &extension,
                                                    int &width, int &height);

/// Reads the points "%f %f" of a contour file until its end or the first thing that is not
/// a number; keeps the points with index first..last (0-based). False when the file cannot
/// be opened.
bool readContourPoints(const char *path, int first, int last, std::vector<Point2> &points);

/// The contour of view `index` of the silhouette sequence `base`: part 0 is the whole contour
/// "<base>NN.txt" (points 0 to 32768); part k > 0 takes the k-th pair "first last" of point
/// indices from "<base>NN_c.txt" (after k integers) and those points of "<base>NN_b.txt".
/// False when a file cannot be opened or the index file holds no such pair.
bool readContour(const std::string &base, int index, int part, std::vector<Point2> &points);

} // namespace sequence

#endif
