#ifndef VELMORA_COLORMAP_H
#define VELMORA_COLORMAP_H

/// The colour maps that turn a scalar value and its range into an RGB colour.
///
/// Every map writes 3 bytes to `rgb` for `value` within [min, max]. Values outside the
/// range get the map's end colours (the cyclic map repeats instead). A range with
/// min == max puts a value equal to it at the bottom of the map. A NaN value, or a range
/// that leaves the position undefined such as infinite bounds, gets the colour of a value
/// below the range; the cyclic and random maps, which have no "below", give it the colour
/// of min.
class ColorMap {
public:
    typedef void (*ColorFunction)(unsigned char *rgb, float value, float min, float max);

    static constexpr int nColorMaps = 10;

    /// Map `i` modulo nColorMaps; negative indices wrap too (-1 is the last map).
    static ColorFunction selectColorMap(int i);
    /// The display name of map `i`, with the same wrapping.
    static const char *getColorMapName(int i);
    static int getNumberOfColorMaps() { return nColorMaps; }
    /// Map number `i` modulo nColorMaps; negative numbers wrap too (-1 is the last map).
    static int mapNumber(int i);
    /// Sets `current` to map number `i` (wrapped); false when it was that map already.
    static bool choose(int &current, int i);

    /// "standard": for signed data, dark red through orange to white above zero and black
    /// through green to cyan below; data of one sign uses the whole range for its branch.
    static void colorMap(unsigned char *rgb, float value, float min, float max);
    /// "hot": black, red, yellow, white.
    static void hotColorMap(unsigned char *rgb, float value, float min, float max);
    /// "cold": black, blue, cyan, white.
    static void coldColorMap(unsigned char *rgb, float value, float min, float max);
    /// "jet": blue, cyan, yellow, red.
    static void jetColorMap(unsigned char *rgb, float value, float min, float max);
    /// "cyclic": red, blue, green and back to red, repeating with period max - min.
    static void cyclicColorMap(unsigned char *rgb, float value, float min, float max);
    /// "gray": black to white.
    static void grayColorMap(unsigned char *rgb, float value, float min, float max);
    /// "inverse gray": white to black.
    static void negativeGrayColorMap(unsigned char *rgb, float value, float min, float max);
    /// "absolute gray": gray of |value|, positive values against [0, max], others
    /// against [0, -min].
    static void absColorMap(unsigned char *rgb, float value, float min, float max);
    /// "blue": black to blue.
    static void blueColorMap(unsigned char *rgb, float value, float min, float max);
    /// "random": a colour drawn from the C library's generator seeded with the value's
    /// position, so equal values get equal colours. Reseeds the process-wide generator.
    static void randColorMap(unsigned char *rgb, float value, float min, float max);
};

#endif
