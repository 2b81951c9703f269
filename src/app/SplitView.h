#ifndef VELMORA_SPLITVIEW_H
#define VELMORA_SPLITVIEW_H

#include <functional>
#include <string>
#include <vector>

class GL3DObject;

/// An A/B comparison through the one camera: the view is cut by a vertical divider, object A
/// is drawn on one side of it and object B (or the current view's photograph) on the other.
/// The divider is dragged with the mouse, a key swaps the sides. The scene manager draws each
/// side in turn (drawSides); everything else it draws as usual.
///
/// The objects are the scene's, not owned: the scene manager calls forget() before one goes.
class SplitView {
public:
    enum class Mode {
        OFF,
        OBJECTS,    ///< object A against object B
        PHOTOGRAPH, ///< object A against the current view's photograph
    };
    Mode getMode() const { return mode; }
    bool isOn() const { return mode != Mode::OFF; }
    GL3DObject *getA() const { return a; }
    /// Null while B is the photograph.
    GL3DObject *getB() const { return b; }

    /// Compares `first` with `second` (null: with the photograph); OFF when `first` is null.
    /// The sides are not swapped afterwards.
    void compare(GL3DObject *first, GL3DObject *second, bool withPhotograph);
    void off() { compare(nullptr, nullptr, false); }
    /// What the key does: off, then `current` against the object after it in `objects` (when
    /// there are two), then `current` against the photograph (when `photographs`), then off.
    void cycle(const std::vector<GL3DObject *> &objects, GL3DObject *current, bool photographs);
    /// A and B change sides.
    void flip() { flipped = !flipped; }
    bool isFlipped() const { return flipped; }
    /// The divider, as a share of the view's width (0.5 at first; kept within 0 to 1).
    void setDivider(float share);
    float getDivider() const { return divider; }
    /// The window column of the divider in a view `width` pixels wide.
    int dividerColumn(int width) const;
    /// Whether the window column x (pixels from the left) is near enough the divider to take it.
    bool grabs(int x, int width) const;

    /// The object (or the scene without the split) leaves: a side that showed it turns the
    /// comparison off.
    void forget(const GL3DObject *object);

    /// One side drawn over the whole view (0: A, 1: B), or the split (-1, the default): the
    /// evaluation of the views measures each side alone.
    void setWhole(int side) { whole = side; }
    int getWhole() const { return whole; }

    /// What a side of the frame shows: `object` (null: the photograph).
    struct Side {
        GL3DObject *object;
        bool photograph;
    };
    /// Draws the frame's sides: for each, the scissor box is set to the side's columns of a
    /// frame of `width` x `height` pixels and draw(side) is called; then the divider is drawn.
    /// With one side whole, only that side, without scissor or divider.
    void drawSides(int width, int height, const std::function<void(const Side &)> &draw) const;
    /// The side that window column x (pixels from the left) of a view `width` wide shows.
    Side sideAt(int x, int width) const;
    /// Whether a frame showing `side` draws `object` (every object when the split is off).
    bool draws(const Side &side, const GL3DObject *object) const;
    /// "A: object 2 (left), B: the photograph (right)", with the objects' numbers in `objects`.
    std::string describe(const std::vector<GL3DObject *> &objects) const;

private:
    /// Side A (0) or B (1).
    Side side(int which) const { return which == 0 ? Side{a, false} : Side{b, mode == Mode::PHOTOGRAPH}; }

    Mode mode = Mode::OFF;
    GL3DObject *a = nullptr;
    GL3DObject *b = nullptr;
    bool flipped = false;
    float divider = 0.5f;
    int whole = -1;
};

#endif
