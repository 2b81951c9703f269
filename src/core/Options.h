#ifndef VELMORA_OPTIONS_H
#define VELMORA_OPTIONS_H

#include "core/UpAxis.h"

#include <optional>
#include <string>
#include <vector>

/// The command line `Viewer <Commands> file1 file2 ...` as a value (GLFlags::init reads it).
/// The program's entry point hands it to the scene manager, which hands the cameras it builds
/// the folders and extension of their photographs; nothing else reads it. An option that was
/// not given is empty; one given with an empty value ("-p ''") is an empty string, as the
/// command line said. "-s" (the step of the image sequence) is accepted with its value, which
/// nothing uses, so it is not kept.
struct Options {
    std::optional<std::string> extension; ///< -e: extension of the source images
    std::optional<std::string> path_img;  ///< -p: folder (and name prefix) of the source images
    std::optional<std::string> path_sil;  ///< -b: folder (and name prefix) of the silhouettes
    std::optional<std::string> paramFile; ///< -c: camera parameter file
    std::vector<std::string> inputFiles;  ///< -i and every plain argument, in command-line order
    std::optional<UpAxis> upAxis;         ///< -u: the up axis for this run (else the one kept)
    std::optional<std::string> masks;     ///< --masks: the folder of masks the selections by silhouettes read
    /// Points a frame of the point clouds may draw while the view is still (captures too)
    /// and while it is dragged; Preferences changes them.
    long long stillPointBudget = 3000000;
    long long dragPointBudget = 400000;
    bool captureEveryPoint = false;       ///< captures draw every point, whatever the budget
    /// Bytes of points that clouds read node by node keep in memory; Preferences changes it
    /// and the user's settings keep it ("point-memory-mb").
    long long pointMemoryBudget = 1536LL << 20;
};

#endif
