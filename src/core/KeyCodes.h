#ifndef VELMORA_KEYCODES_H
#define VELMORA_KEYCODES_H

/// Key codes that cross from the window to the scene manager, the camera and the objects.
/// Printable keys arrive as their (Latin-1) character; the window turns the toolkit's cursor
/// keys into 6000-6007 and Return and Escape into 6008 and 6009.
namespace KeyCode {

enum : int {
    LEFT = 6000,
    RIGHT = 6001,
    UP = 6002,
    DOWN = 6003,
    HOME = 6004,
    END = 6005,
    PAGE_UP = 6006,
    PAGE_DOWN = 6007,
    RETURN = 6008,
    ESCAPE = 6009,
    SPACE = ' ',
};

/// What the digit keys 1, 2 and 3 give on a French (AZERTY) keyboard without Shift, kept as
/// synonyms of the digits where the mesh kinds take them.
enum : int { AZERTY_1 = '&', AZERTY_2 = 233 /* e acute in Latin-1 */, AZERTY_3 = '"' };

/// The camera steps through its views with the left and right cursor keys.
enum : int { NEXT_VIEW = LEFT, PREVIOUS_VIEW = RIGHT };

} // namespace KeyCode

#endif
