#ifndef VELMORA_TEXTCLOUDREADER_H
#define VELMORA_TEXTCLOUDREADER_H

#include "formats/PointListReader.h"

#include <cstddef>

/// Reader of the plain-text clouds other tools write ("xyz", "pts", "txt"): one point a line,
/// 3 to 7 numbers separated by white space or commas. The first line with at least three
/// numbers fixes the layout:
///   3       x y z
///   4, 5    x y z intensity (a fifth column is ignored)
///   6       x y z r g b, or x y z nx ny nz (normals are ignored): the three columns are
///           colours when, on every line, they are whole numbers from 0 to 255
///   7       x y z intensity r g b (as "pts" files write them)
/// Lines starting with '#' or "//", lines without three numbers (titles) and the point count
/// line of a "pts" file are skipped. Coordinates are read in double and kept in float relative
/// to the first point (`origin`), as georeferenced clouds need.
class TextCloudReader {
public:
    static PointListData read(const char *path);
    /// From text in memory (need not end with a zero byte).
    static PointListData read(const char *text, size_t size, const char *name);
};

#endif
