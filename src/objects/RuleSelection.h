#ifndef VELMORA_RULESELECTION_H
#define VELMORA_RULESELECTION_H

#include "core/ElementSelection.h"
#include "core/SelectionRules.h"
#include "math/Matrix3.h"
#include "math/Point2.h"
#include "math/Point3.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// One selection rule kept as a rule rather than as the elements it found: a kind whose
/// elements are not all in memory (a streamed cloud, whose nodes come and go) decides it
/// for each part of its elements when that part is there, and a part read later is decided
/// by the same rule.
struct SelectionRule {
    enum Kind { Rectangle, Lasso, Box, AlignedBox, Values, Unseen, Carve, Invert, Clear, Grow };
    Kind kind = Box;
    SelectMode mode = SelectMode::Replace;
    /// The elements the rule does not find (a script's box keeps what is inside).
    bool outside = false;
    /// Rectangle (the first two points) and Lasso: window pixels of the frame `mvp` (projection
    /// x model-view x pose) drew in a width x height viewport.
    std::vector<Point2> shape;
    float mvp[16] = {0};
    int width = 0, height = 0;
    /// Box: centre, axes (rows) and half sizes in the object's coordinates.
    Point3 centre;
    Matrix3 axes;
    Point3 half;
    /// AlignedBox: the box [low, high] in the object's coordinates.
    Point3 low, high;
    /// Values: the item (of the kind's value items) and the range [lo, hi].
    int item = 0;
    float lo = 0, hi = 0;
    /// Unseen and Carve (outside the silhouettes of k views): the views for points in the
    /// object's coordinates; `sights` holds the silhouettes they point into.
    std::shared_ptr<const ViewSights> sights;
    std::vector<ViewSight> views;
    int k = 0;
    /// Grow: adds the elements within `radius` of a selected one of their own part, or of one
    /// of `seeds` (object coordinates; the elements of other parts selected when the rule was
    /// given).
    float radius = 0;
    std::shared_ptr<const NearPoints> seeds;

    /// What the rule finds among n elements whose object coordinates are xyz + shift, with
    /// `values` one array an item (null where a part lacks the item). Invert, Clear and Grow
    /// find nothing: they act on the selection.
    ElementSelection find(const float *xyz, size_t n, const double shift[3],
                          const std::vector<const float *> &values) const;
};

/// The selections and edits of a kind whose elements are not all in memory, as the list of
/// what the user did: rules joined to the selection, "Hide", "Show all", "Delete", "Keep
/// only", "Undo" and "Redo". Any part of the elements (a node of a streamed cloud) replays
/// the list over its own elements whenever it is there, and keeps its masks (selected,
/// hidden, deleted) with the place in the list they are up to: a part in memory only applies
/// what was added since, a part read again starts over. The masks of a part are those the
/// same actions give over all the elements at once (as ElementCleaning does for a cloud read
/// whole): each rule selects among the elements shown, an edit takes the selection, which
/// then clears, and each deletion is one step that undo takes back.
class RuleSelection
{
  public:
    enum class Edit { Hide, ShowAll, Delete, KeepOnly, Undo, Redo };

    /// The state of one part of the elements.
    struct Masks {
        size_t applied = 0; ///< actions of the list replayed
        uint64_t list = 0;  ///< the list they come from (a reset starts another)
        ElementSelection selected, hidden, deleted;
        std::vector<ElementSelection> done, undone; ///< each deletion step's elements
        bool plain() const { return selected.empty() && hidden.empty() && deleted.empty(); }
        bool shown(size_t i) const { return !hidden.contains(i) && !deleted.contains(i); }
        size_t bytes() const;
    };

    /// Forgets every action.
    void reset();
    void select(SelectionRule rule);
    /// Adds the edit; false when it changes nothing anywhere (nothing to undo or redo, a
    /// deletion of a selection known to be empty).
    bool edit(Edit e);
    /// True when no action has been taken (every mask stays empty).
    bool empty() const { return actions.empty(); }
    size_t size() const { return actions.size(); }
    /// False when the selection is empty everywhere (cleared, taken by an edit, or never made).
    bool maySelect() const { return selecting; }

    /// Whether `m` is up to date with the list.
    bool current(const Masks &m) const { return m.list == list && m.applied == actions.size(); }
    /// Brings `m`, of the n elements at xyz + shift with their `values`, up to date.
    void update(Masks &m, const float *xyz, size_t n, const double shift[3],
                const std::vector<const float *> &values) const;

    /// What `rules` find among the elements, each after the ones before: `found[r]` is set
    /// for the elements rule r finds that no earlier one did (all of them: shown or not).
    static void findAll(const std::vector<SelectionRule> &rules, const float *xyz, size_t n,
                        const double shift[3], const std::vector<const float *> &values,
                        std::vector<ElementSelection> &found);

  private:
    struct Action {
        std::shared_ptr<const SelectionRule> rule; ///< null for an edit
        Edit edit = Edit::Hide;
    };
    void apply(const Action &a, Masks &m, const float *xyz, size_t n, const double shift[3],
               const std::vector<const float *> &values) const;

    std::vector<Action> actions;
    uint64_t list = 1;
    size_t doneSteps = 0, undoneSteps = 0;
    bool selecting = false;
};

#endif
