#ifndef VELMORA_KEYCODES_H
#define VELMORA_KEYCODES_H

/// Key codes that cross from the window to the scene manager, the camera and the objects.
/// Printable keys arrive as their character; the window turns the toolkit's cursor keys into
/// 6000-6007 and passes Return and Escape with the key values the toolkit gives them.
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
    RETURN = 0xFF0D,
    ESCAPE = 0xFF1B,
    SPACE = ' ',
};

/// What the digit keys 1, 2 and 3 give on a French (AZERTY) keyboard without Shift, kept as
/// synonyms of the digits where the mesh kinds take them.
enum : int { AZERTY_1 = '&', AZERTY_2 = 233 /* e acute in Latin-1 */, AZERTY_3 = '"' };

/// Texture settings of a mesh, for panels and dialogs that have no key of their own:
/// minifying and magnifying filter, and the texture environment (decal shows the texels
/// as they are, modulate lights them).
enum : int { TEXTURE_NEAREST = 320, TEXTURE_LINEAR = 321, TEXTURE_DECAL = 322, TEXTURE_MODULATE = 323 };

/// The graph panel's edge-width buttons; no key of the keyboard sends them.
enum : int { GRAPH_EDGE_WIDER = 666, GRAPH_EDGE_THINNER = 667 };

/// The camera steps through its views with the left and right cursor keys.
enum : int { NEXT_VIEW = LEFT, PREVIOUS_VIEW = RIGHT };

} // namespace KeyCode

#endif
