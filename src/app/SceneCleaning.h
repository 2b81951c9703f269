#ifndef VELMORA_SCENECLEANING_H
#define VELMORA_SCENECLEANING_H

#include "core/ElementSelection.h"
#include "core/SelectionRules.h"

#include <cstdint>
#include <string>
#include <vector>

class GL3DObject;
class GLCamera;
class GLMachine;

/// The rules by which a script cleans the scene's one cleanable object (a point cloud, a
/// splat scene or a mesh) without a window.
struct CleaningRules {
    int carve = 0;           ///< removes what lies outside the silhouettes of at least this many views; 0: no carving
    bool dropUnseen = false; ///< removes what no view sees
    bool keepBox = false;    ///< removes what lies outside `box`
    double box[6] = {0, 0, 0, 0, 0, 0}; ///< x0 y0 z0 x1 y1 z1 in the file's coordinates (any two opposite corners)
    std::string masks;       ///< a folder of masks NAME.png for photograph NAME; empty: see CameraSights
};

/// The views of a camera as the selection rules see them (with the lens of each), each with
/// its silhouette when it has one. A view's silhouette is, in this order: `masks`/NAME.png (or
/// the photograph's name with its extension replaced by png) when a mask folder is named;
/// else the camera's own silhouette file; else masks/NAME.png beside the photograph's images/
/// folder, as reconstruction tools keep them. Non-zero mask pixels are the object.
struct CameraSights {
    /// `masks` empty: the camera's own silhouettes or the folder beside the photographs. The
    /// masks are read only when `withMasks` is set; one that cannot be read leaves its view
    /// without.
    static ViewSights of(GLCamera &camera, const std::string &masks, bool withMasks);
    /// The views of the scene's current camera; none, with the reason, when the scene has no
    /// camera that saw it (the default camera turns about the scene without having seen it).
    static ViewSights ofScene(GLMachine &machine, const std::string &masks, bool withMasks);
};

class SceneCleaning {
public:
    /// The scene's one cleanable object (point cloud, splat scene or mesh), the points of a
    /// reconstruction's camera counting only when there is no other; null, with the reason in
    /// `why`, when there is none or more than one.
    static GL3DObject *cleanable(GLMachine &machine, std::string &why);

    /// Raises the `std::runtime_error` that saving `object` to `path` would raise for the name
    /// alone (a format the kind is not saved in), before any rule runs.
    static void checkOutput(GL3DObject &object, const std::string &path);

    /// What one rule removed.
    struct Step {
        std::string rule;
        size_t removed; ///< elements this rule removed that no earlier rule had
    };
    /// Runs the rules in the order drop-unseen, carve, keep-box; `removed` gets every element
    /// they remove (file indices). Raises a `std::runtime_error` when a rule needs cameras or
    /// silhouettes the scene does not have.
    static std::vector<Step> apply(GL3DObject &object, GLMachine &machine, const CleaningRules &rules,
                                   ElementSelection &removed);

    /// Writes the elements neither in `removed` nor deleted in the view to `path` in the
    /// format its extension names. Returns the number written; raises a `std::runtime_error`
    /// saying why when it cannot.
    static size_t save(GL3DObject &object, const ElementSelection &removed, const std::string &path);

    /// Whether the object's elements are read part by part (a streamed cloud): its rules are
    /// then run while it is written (applyAndSave), not before.
    static bool readInParts(GL3DObject &object);
    /// apply() and save() at once for such an object: every part is read, the rules decide
    /// its elements, and the rest is written to `path`. `steps` gets what each rule removed,
    /// `total` how many elements there were; returns how many it wrote.
    static uint64_t applyAndSave(GL3DObject &object, GLMachine &machine, const CleaningRules &rules,
                                 const std::string &path, std::vector<Step> &steps, uint64_t &total);
};

#endif
