#ifndef VELMORA_ELEMENTCLEANING_H
#define VELMORA_ELEMENTCLEANING_H

#include "core/ElementEdits.h"
#include "core/ElementSelection.h"
#include "core/InputEvent.h"
#include "core/KeyBinding.h"
#include "core/SelectionRules.h"
#include "math/Matrix3.h"
#include "math/Point2.h"
#include "math/Point3.h"
#include "objects/RuleSelection.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class GL3DObject;
class RuleElements;

/// Values the elements of an object can be selected by (a data item): its name, one value an
/// element in the order the elements are stored, and the range of them the colours let through.
struct ElementValues {
    std::string name;
    const float *values = nullptr; ///< the object's own array; null: `own`
    std::vector<float> own;        ///< values made for the selection (a splat's size)
    float lo = 0, hi = 0;
    bool shown = false;            ///< the colours show them now
    const float *data() const { return values ? values : own.data(); }
};

/// What an object whose elements can be selected, hidden, deleted and saved (a point cloud's
/// points, a splat scene's splats, a mesh's vertices) tells the part that does it for every
/// such kind (ElementCleaning).
///
/// An element is known by its index in the object's file; the object may store its elements
/// in another order (a cloud's level-of-detail hierarchy), which fileIndices() leads back from.
class CleanableElements {
public:
    /// The positions of the elements (3 floats each, object coordinates) in the order they are
    /// stored; `n` receives their number. Whatever reorders them in the background is waited
    /// for first, so that they stay put until the caller is done.
    virtual const float *storedPositions(size_t &n) = 0;
    /// False while the stored arrays may change under the caller: the marks are not gathered
    /// then.
    virtual bool storedReady() const { return true; }
    /// The file indices of stored elements first .. first + count - 1 (the same by default).
    virtual void fileIndices(size_t first, size_t count, uint32_t *out) const;
    /// True when every element is stored at its file index (fileIndices is the identity).
    virtual bool storedInFileOrder() const { return true; }
    /// Whether stored element i is drawn, hiding and deleting apart (a point below the
    /// colour map's threshold is not): only what is drawn can be selected in the view.
    virtual bool drawnApartFromEdits(size_t i) const
    {
        (void)i;
        return true;
    }
    /// False when drawnApartFromEdits is true for every element now, so that it need not be
    /// asked element by element.
    virtual bool cutApartFromEdits() const { return false; }
    /// Added to the object coordinates to give the file's (a georeferenced cloud's origin).
    virtual void getFileOffset(double out[3]) const { out[0] = out[1] = out[2] = 0; }

    /// The values the elements can be selected by (their data items), in a fixed order.
    virtual std::vector<ElementValues> valueItems() const { return {}; }

    /// Writes the elements neither in `gone` (file indices) to `path` in the format its
    /// extension names; returns how many it wrote. Raises a `std::runtime_error` saying why
    /// when it cannot; a file that was there stays as it was then.
    virtual size_t saveKept(const std::string &path, const ElementSelection &gone) = 0;
    /// Raises what saveKept would raise for the name alone (a format the kind does not write).
    virtual void checkSaveName(const std::string &path) const = 0;

    /// What is drawn changed: elements were hidden, shown, deleted or restored.
    virtual void editsChanged() = 0;
    /// The selection changed.
    virtual void selectionChanged() {}
    /// Draws what the kind marks besides the selected elements (a mesh's faces they span), in
    /// `colour`, under the object's pose.
    virtual void drawMarkedExtras(const unsigned char colour[3]) { (void)colour; }
    /// The size of the marks' points (0 draws none).
    virtual float markSize() const { return 3; }
    /// The marks show through what hides them (splats, whose drawn depth is an estimate).
    virtual bool marksInFront() const { return false; }
    /// Not null for a kind whose elements are not all in memory (a streamed cloud): it keeps
    /// the selection and the edits as rules and decides them itself (see RuleElements).
    virtual RuleElements *byRules() { return nullptr; }

protected:
    ~CleanableElements() = default;
};

/// What a kind whose elements are not all in memory (a streamed cloud, whose parts come and
/// go) does in place of the selection and edits ElementCleaning keeps over stored positions:
/// it keeps every rule and edit (RuleSelection) and decides them over the elements it has,
/// now and as more come. Its counts are of the elements it has read so far.
class RuleElements {
public:
    virtual void select(SelectionRule rule) = 0;
    /// Adds the edit; false when it changes nothing (nothing to undo). `changed` receives how
    /// many elements read so far it hid or deleted.
    virtual bool edit(RuleSelection::Edit e, size_t &changed) = 0;
    /// The elements selected among those read so far.
    virtual size_t selectedCount() = 0;
    /// Every element, read or not.
    virtual uint64_t elementCount() const = 0;
    /// Writes the elements neither deleted nor found by a rule of `removal` to `path` (every
    /// part read in turn); `removedBy[r]` receives the elements rule r found that no earlier
    /// one did. Returns how many it wrote; raises as CleanableElements::saveKept.
    virtual uint64_t saveKept(const std::string &path, const std::vector<SelectionRule> &removal,
                              std::vector<uint64_t> &removedBy) = 0;

protected:
    ~RuleElements() = default;
};

/// The selections and edits of a cleanable object, the same for every kind: the window
/// tools (rectangle, lasso, an axis-aligned box and one turned with the view, with Shift
/// adding and Control taking away), the rules (by values, by the cameras, by the
/// silhouettes), invert, clear and grow, the marks of the selected elements, and "Hide",
/// "Delete" (undoable), "Keep only" and saving what is kept. Its keys are rows of each
/// kind's binding table (bindingRows()).
///
/// The selection and the edits hold file indices: whatever order the object keeps its
/// elements in, a selection names the same elements, and deleting never moves one. A kind
/// whose elements are not all in memory (CleanableElements::byRules()) is handed each rule
/// and edit instead, with the frame's matrices, the box or the views it needs, and keeps them
/// itself (RuleElements); the tools, keys, settings and messages stay these.
class ElementCleaning {
public:
    enum class Action {
        TOOL = -100, HIDE, SHOW_ALL, DELETE, KEEP_ONLY, UNDO, REDO, INVERT, CLEAR, GROW, BY_VALUES, UNSEEN, CARVE,
    };
    enum Tool { OFF, RECTANGLE, LASSO, BOX, ORIENTED_BOX, TOOLS };
    /// The rows of the shared keys, for the binding tables of the kinds.
    static const std::vector<KeyBinding> &bindingRows();
    /// The colour of the marks: a yellow no colour map of ours ends with.
    static const unsigned char kMarked[3];

    /// The views of the scene's current camera (none when there is no camera that saw the
    /// scene), with their silhouettes when `withMasks` is set: from the folder `masks` when it
    /// is not empty.
    using ViewSource = std::function<ViewSights(bool withMasks, const std::string &masks)>;

    /// `owner` names the kind in messages ("GLPointListObject"), `noun` its elements
    /// ("points").
    ElementCleaning(GL3DObject &object, CleanableElements &elements, const char *owner, const char *noun);

    /// n elements: a new geometry empties the selection and the edits.
    void reset(size_t n);
    ElementSelection &getSelection() { return selection; }
    const ElementSelection &getSelection() const { return selection; }
    const ElementEdits &getEdits() const { return edits; }
    /// To be called after the selection changed by another hand.
    void selectionChanged();
    /// The stored order changed (a hierarchy was built): the marks are gathered again.
    void orderChanged()
    {
        marksStale = true;
        storedImageValid = false;
    }

    // --- Tools in the view ----------------------------------------------------------------
    int getTool() const { return tool; }
    void setTool(int t);
    bool takesDrags() const { return tool != OFF; }
    /// A left-button drag in the view at window pixels (y downwards).
    void notifyDrag(const InputEvent &event, int x, int y);
    /// Joins the drawn elements inside the window shape, as the last frame showed them: the
    /// rectangle between shape[0] and shape[1], or the closed lasso through every point.
    void selectInWindow(const std::vector<Point2> &shape, bool lasso, SelectMode mode);

    /// The box of the box tools: centre, axes (the rows, orthonormal) and half sizes, in the
    /// object's coordinates.
    struct Box {
        Point3 centre;
        Matrix3 axes;
        Point3 half;
    };
    const Box &getBox() const { return box; }
    void setBox(const Box &b) { box = b; }
    /// Joins the drawn elements inside the box.
    void selectInBox(SelectMode mode);

    // --- Rules -------------------------------------------------------------------------------
    /// Joins the drawn elements whose value of item `item` (of valueNames()) lies in [lo, hi].
    void selectByValues(int item, float lo, float hi, SelectMode mode);
    /// Joins the drawn elements that no view sees; false, with a message, without views.
    bool selectUnseen(SelectMode mode);
    /// Joins the drawn elements outside the silhouettes of at least k views; false, with a
    /// message, without views or silhouettes.
    bool selectCarved(int k, SelectMode mode);
    /// Adds the drawn elements within `radius` of a selected one.
    void grow(float radius);
    /// Every drawn element that was not selected, and none of the others.
    void invert();
    void clear();

    /// The same rules over every element (hidden or not), as file indices, for a script.
    ElementSelection unseenBy(const ViewSights &sights);
    ElementSelection carvedBy(const ViewSights &sights, int k);
    /// The elements outside the axis-aligned box [lo, hi] of the file's coordinates.
    ElementSelection outsideFileBox(const double lo[3], const double hi[3]);
    /// The same three as rules, for a kind that selects by rules (byRules()), whose elements
    /// are found as its parts are read (saveRemoving).
    bool byRules() { return elements.byRules() != nullptr; }
    SelectionRule unseenRule(std::shared_ptr<const ViewSights> sights) const;
    SelectionRule carvedRule(std::shared_ptr<const ViewSights> sights, int k) const;
    SelectionRule outsideFileBoxRule(const double lo[3], const double hi[3]) const;
    /// Every element (read or not, for a kind that selects by rules).
    uint64_t elementCount();
    /// Writes what is neither deleted nor found by `removal` (see RuleElements::saveKept);
    /// only for a kind that selects by rules.
    uint64_t saveRemoving(const std::string &path, const std::vector<SelectionRule> &removal,
                          std::vector<uint64_t> &removedBy);

    // --- Edits -------------------------------------------------------------------------------
    /// "Hide", "Delete" (one undoable step), "Keep only": each takes the selection, which then
    /// clears, and returns how many elements it took away.
    size_t hide();
    size_t remove();
    size_t keepOnly();
    void showAll();
    bool undo();
    bool redo();

    /// Writes what is neither deleted nor in `removed` (file indices, may be null) to `path`;
    /// see CleanableElements::saveKept.
    size_t save(const std::string &path, const ElementSelection *removed = nullptr);
    /// save() for the user: says what it wrote, or why it could not, and returns false then.
    bool saveAs(const std::string &path);
    /// The names of the values the elements can be selected by (see selectByValues).
    std::vector<std::string> valueNames() const;
    /// Raises what save() would raise for the name alone (a format the kind is not saved in).
    void checkSaveName(const std::string &path) const { elements.checkSaveName(path); }

    // --- The settings of the rules, which the panel and the keys use -----------------------
    /// How the rules' elements join the selection.
    SelectMode ruleMode = SelectMode::Replace;
    /// The views a carved element lies outside of.
    int carveViews = 2;
    /// The folder of masks (NAME.png for photograph NAME); empty: the camera's own silhouettes
    /// or the masks/ folder beside its images/.
    std::string masks;
    /// The item and range of "Select by values"; item -1: the item the colours show, through
    /// the range its thresholds let through.
    int valueItem = -1;
    float valueLow = 0, valueHigh = 0;
    void setViewSource(ViewSource source) { views = std::move(source); }

    /// Runs a shared row; false when the row is not one of them.
    bool runAction(const KeyBinding &row);

    // --- Drawing -------------------------------------------------------------------------------
    /// Under the object's pose: remembers the frame's matrices (what the window tools select
    /// by), draws the marks and the box of a box tool. The marks are gathered for at most
    /// `stillBudget` elements and drawn for at most `budget`, evenly spread.
    void drawSelection(const float *pose, size_t stillBudget, size_t budget);
    /// The window shape of the drag under way, over the frame.
    void drawDragShape();

private:
    /// The stored selection `inside` as file indices, keeping only the drawn elements when
    /// `onlyDrawn` (neither hidden, deleted nor cut by the kind); on both cores. `kept`, when
    /// given, receives the stored elements taken (the result in the stored order).
    ElementSelection toFile(const ElementSelection &inside, bool onlyDrawn, ElementSelection *kept = nullptr);
    /// Joins the file indices `inside` to the selection as `mode` says; `stored`, when given,
    /// is the same set in the stored order, which keeps the stored image of the selection.
    void join(const ElementSelection &inside, SelectMode mode, const ElementSelection *stored = nullptr);
    /// Joins the drawn elements of the stored selection `inside` as `mode` says.
    void joinStored(const ElementSelection &inside, SelectMode mode);
    void editsChanged();
    /// Hides or deletes (as `change` does) the selection, which then clears.
    size_t edit(size_t (ElementEdits::*change)(const ElementSelection &), RuleSelection::Edit e);
    /// An edit of a kind that selects by rules; false when it changed nothing. `changed`, when
    /// given, receives how many elements read so far it hid or deleted.
    bool ruleEdit(RuleSelection::Edit e, size_t *changed = nullptr);
    /// Undoes (or redoes) the last step, of the rules or of the element edits.
    bool historyStep(bool undo);
    /// Carving by k views, or for k = 0 the elements no view sees.
    bool selectByViews(int k, SelectMode mode);
    void note(const char *what, size_t n);
    /// The elements selected (for a kind that selects by rules, among those read so far).
    size_t selectedCount();
    /// Hands a rule to a kind that selects by rules; false for the other kinds.
    bool byRule(SelectionRule::Kind kind, SelectMode mode);
    bool byRule(SelectionRule rule);
    /// A point of the file's coordinates in the object's: a georeferenced cloud keeps its
    /// points relative to an origin the user never sees.
    Point3 fileToObject(const double *c) const;
    /// The views of `sights` for points in the object's coordinates (under its pose).
    std::vector<ViewSight> viewsUnderPose(const ViewSights &sights) const;
    /// The rule of k views (0: unseen) under the object's pose.
    SelectionRule viewRule(std::shared_ptr<const ViewSights> sights, int k) const;
    /// The views of the camera under the object's pose; empty with a message when none.
    bool sightsOf(bool withMasks, ViewSights &out);
    void gatherMarks(size_t budget);
    /// The selection in the stored order, of the n stored elements: the selection itself when
    /// they are stored in the file's order, else its image, made again only when it is stale.
    const ElementSelection &storedSelection(size_t n);
    void startBox(bool oriented);
    int boxFaceAt(Point2 at) const;
    void dragBoxFace(Point2 from, Point2 to);
    void drawBox() const;
    /// The window pixel of an object point under the last frame's matrices; false behind the eye.
    bool toWindow(const Point3 &p, Point2 &out) const;

    GL3DObject &object;
    CleanableElements &elements;
    const char *owner;
    const char *noun;
    ElementSelection selection;
    ElementEdits edits;
    ViewSource views;

    int tool = OFF;
    std::vector<Point2> dragShape; ///< window pixels of the drag under way
    unsigned dragModifiers = 0;
    int dragFace = -1;             ///< the box face a box drag moves: 2 axis + (1 for +)
    Box box;
    float frameMvp[16] = {0};      ///< the last frame's projection x model-view x pose
    float frameModelView[16] = {0};
    int frameSize[2] = {0, 0};     ///< its viewport's width and height

    ElementSelection storedImage;  ///< the selection in the stored order, when storedImageValid
    bool storedImageValid = false;
    std::vector<float> marks;      ///< the selected elements drawn, object coordinates
    bool marksStale = true;
};

#endif
