#ifndef VELMORA_SCENECLEANING_H
#define VELMORA_SCENECLEANING_H

#include "core/ElementSelection.h"
#include "core/SelectionRules.h"

#include <string>
#include <vector>

class GL3DObject;
class GLCamera;
class GLMachine;

/// The rules by which a script cleans the scene's one cleanable object (a point cloud or a
/// splat scene) without a window.
struct CleaningRules {
    int carve = 0;           ///< removes what lies outside the silhouettes of at least this many views; 0: no carving
    bool dropUnseen = false; ///< removes what no view sees
    bool keepBox = false;    ///< removes what lies outside `box`
    double box[6] = {0, 0, 0, 0, 0, 0}; ///< x0 y0 z0 x1 y1 z1 in the file's coordinates (any two opposite corners)
    std::string masks;       ///< a folder of masks NAME.png for photograph NAME; empty: see CameraSights
};

/// The views of a camera as the selection rules see them, each with its silhouette when it has
/// one. A view's silhouette is, in this order: `masks`/NAME.png (or the photograph's name with
/// its extension replaced by png) when a mask folder is named; else the camera's own
/// silhouette file; else masks/NAME.png beside the photograph's images/ folder, as
/// reconstruction tools keep them. Non-zero mask pixels are the object.
struct CameraSights {
    std::vector<ViewSight> views;
    std::vector<std::vector<unsigned char>> masks; ///< the pixels the views' `mask` point into
    int withMask = 0;                              ///< views that have a silhouette

    /// `masks` empty: the camera's own silhouettes or the folder beside the photographs. The
    /// masks are read only when `withMasks` is set; one that cannot be read leaves its view
    /// without.
    static CameraSights of(GLCamera &camera, const std::string &masks, bool withMasks);

    CameraSights() = default;
    CameraSights(CameraSights &&) = default;
    CameraSights &operator=(CameraSights &&) = default;
};

class SceneCleaning {
public:
    /// The scene's one point cloud or splat scene; null, with the reason in `why`, when there
    /// is none or more than one.
    static GL3DObject *cleanable(GLMachine &machine, std::string &why);

    /// The elements' positions in the order of their file, under the object's pose (the frame
    /// the cameras are in); `fileOrigin` gets what to add to give the file's coordinates.
    static std::vector<float> positions(GL3DObject &object, double fileOrigin[3]);

    /// What one rule removed.
    struct Step {
        std::string rule;
        size_t removed; ///< elements this rule removed that no earlier rule had
    };
    /// Runs the rules in the order drop-unseen, carve, keep-box; `removed` gets every element
    /// they remove (in file order). Raises a `std::runtime_error` when a rule needs cameras or
    /// silhouettes the scene does not have.
    static std::vector<Step> apply(GL3DObject &object, GLCamera *camera, const CleaningRules &rules,
                                   ElementSelection &removed);

    /// Writes the elements not in `removed` to `path` in the format its extension names.
    /// Returns the number written; raises a `std::runtime_error` saying why when it cannot.
    static size_t save(GL3DObject &object, const ElementSelection &removed, const std::string &path);
};

#endif
