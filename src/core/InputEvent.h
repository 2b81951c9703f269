#ifndef VELMORA_INPUTEVENT_H
#define VELMORA_INPUTEVENT_H

/// A mouse button of a view going down, coming up or held while the pointer moves, in the
/// scene's own terms: the window translates its toolkit's events into these, so nothing
/// below the user interface knows the toolkit's numbers.
struct InputEvent {
    enum class Phase { Press, Release, Motion };
    /// The keys held with the button.
    enum Modifier : unsigned { SHIFT = 1u, CONTROL = 2u };

    /// 1 left, 2 right, 3 middle, 4 and 5 the wheel up and down (a step is a press); 0 none.
    int button = 0;
    Phase phase = Phase::Press;
    unsigned modifiers = 0;

    bool shift() const { return (modifiers & SHIFT) != 0; }
    bool control() const { return (modifiers & CONTROL) != 0; }
    bool isRelease() const { return phase == Phase::Release; }

    static InputEvent press(int button, unsigned modifiers = 0) { return {button, Phase::Press, modifiers}; }
    static InputEvent release(int button, unsigned modifiers = 0) { return {button, Phase::Release, modifiers}; }
    static InputEvent motion(int button, unsigned modifiers = 0) { return {button, Phase::Motion, modifiers}; }
};

#endif
