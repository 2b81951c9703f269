#ifndef VELMORA_BUNDLERFILE_H
#define VELMORA_BUNDLERFILE_H

#include "formats/Reconstruction.h"

#include <string>

/// Reader of Bundler's "bundle.out" (versions 0.3 and earlier) with the photograph names of
/// the "list.txt" beside it.
///
/// A Bundler camera looks down -z with y up; its rows 2 and 3 are negated to give this
/// program's camera (y down, z forward). The focal length f is both fx and fy; the radial
/// distortion k1, k2 is the view's RADIAL distortion and gives the reprojection error of each
/// point. The principal point is the image centre, which the file does not give: the record
/// says so (centredPrincipalPoint) and leaves the image size at 0, and the keypoints are
/// measured from the centre (y down). Each point's view list is its track; a view's
/// keypoints are the observations of it, in the order of the points. Cameras with a zero
/// focal length were not reconstructed and give no view.
///
/// Counts are checked against the text that is left before anything is allocated, every
/// camera index of a track must exist. Errors raise std::runtime_error with a text starting
/// "Bundler: ".
class BundlerFile {
public:
    /// True for a name ending in ".out" whose file starts with "# Bundle file".
    static bool isBundlerFile(const std::string &path);
    /// Reads `path` and, when it is there, "list.txt" beside it.
    static Reconstruction read(const std::string &path);
    /// The same from the contents; an empty `list` gives views without photograph names.
    static Reconstruction parse(const std::string &bundle, const std::string &list);
};

#endif
