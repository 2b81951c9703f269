#ifndef VELMORA_RECONSTRUCTIONIMPORT_H
#define VELMORA_RECONSTRUCTIONIMPORT_H

#include "camera/GLCamera.h"
#include "formats/Reconstruction.h"
#include "formats/ReconstructionStatistics.h"
#include "objects/GLPointListObject.h"

#include <memory>
#include <string>
#include <vector>

/// Turns the output of reconstruction tools (COLMAP sparse models, Bundler files) into the
/// scene's own elements: a GLCamera with one view per registered photograph and a point
/// list of the reconstructed points, so that views, photographs, epipolar drawings and
/// flights work on them as on a camera file's views.
class ReconstructionImport {
public:
    enum Kind { NONE, COLMAP, BUNDLER, TRANSFORMS, MESHROOM, TRAINER };
    /// What a name given on the command line, chosen in the dialog or dropped names.
    struct Source {
        Kind kind = NONE;
        std::string path;   ///< the name as given
        std::string folder; ///< the folder of the model files
        bool binary = false; ///< COLMAP: the ".bin" triple
        std::string splats;  ///< TRAINER: the splat scene of the largest iteration
    };

    /// A COLMAP model (one of its files, or a folder holding one, see ColmapModel::locate),
    /// a Bundler file, a transforms.json (or a folder holding one), a Meshroom scene or a splat
    /// trainer's output folder (see TrainerCameras::locate); kind
    /// NONE for anything else.
    static Source identify(const std::string &path);
    /// Reads the model; throws std::runtime_error naming what is wrong.
    static Reconstruction read(const Source &source);

    /// The photograph of every view, found by its name: in the folder of `given` (-p) when
    /// given, else in the model's folder, its "images" subfolder or an "images" folder up to
    /// three levels above it (COLMAP's "images/" beside "sparse/0"). The first folder
    /// holding any of them is used; views whose photograph is not there get an empty name.
    /// A photograph named by an absolute path (Meshroom) is taken there when it exists and
    /// no folder is given, else looked up by its file name as the others.
    /// Prints where the photographs were found, or that none were.
    static std::vector<std::string> findPhotographs(const Reconstruction &model, const std::string &folder,
                                                    const char *given);
    /// The camera of the model's views. Where the model gives no image size (Bundler), it is
    /// taken from the view's photograph, else from another view's, else a square of twice
    /// the focal length is assumed (and said); the principal point is then its centre.
    /// `stats` are the model's (ReconstructionStatistics::of), computed here when not given.
    static std::unique_ptr<GLCamera> makeCamera(const Reconstruction &model, const std::vector<std::string> &photographs,
                                                const ReconstructionStatistics *stats = nullptr);
    /// The points with their colours and their reprojection errors (in pixels) as values,
    /// or null for a model without points; `stats` as for makeCamera.
    static std::unique_ptr<GLPointListObject> makePoints(const Reconstruction &model,
                                                         const ReconstructionStatistics *stats = nullptr);
};

#endif
