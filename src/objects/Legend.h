#ifndef VELMORA_LEGEND_H
#define VELMORA_LEGEND_H

#include "formats/ColorMap.h"

#include <optional>
#include <string>
#include <vector>

/// The colour bar of a scalar field, with a title and value labels, drawn over the 3D view.
///
/// Bands and labels are listed from the low end of the range to the high end; the vertical
/// bar shows the first band at the top, the horizontal one at the left. A legend without a
/// title is not drawn. Copies are independent (deep).
class Legend {
public:
    Legend();

    /// Appends a colour band (3 bytes copied).
    void add(const unsigned char *rgb);
    /// Appends a label (copied; a null label counts as an empty one).
    void add(const char *label);
    /// Appends a colour band and a label.
    void add(const unsigned char *rgb, const char *label);

    /// count + 1 bands and labels for the integers lo..hi in `count` steps: step i has the
    /// value lo + (hi - lo) i / count, its band the colour f(value, lo, hi) and its label
    /// the value truncated, as "%d". A count of 0 gives the single step lo; a negative
    /// count adds nothing.
    void add(ColorMap::ColorFunction f, int lo, int hi, int count);
    /// A finely banded bar over lo..hi (max(4 count, 60) + 1 bands) with count + 1 labels
    /// printed with `precision` decimals, or in exponent form with precision - 1 digits
    /// when |lo| and |hi| are both below 0.1. Two steps across zero label the middle "0.0".
    /// A count of 0 gives the one label lo; a negative count gives bands but no labels.
    void add(ColorMap::ColorFunction f, float lo, float hi, int count, int precision);
    /// Labels span lo..hi while colours are computed against cmin..cmax: 3 count + 1 bands
    /// and count + 1 labels as above, in exponent form when |lo| and |hi| are both below
    /// 0.01, without the zero rule. A count of 0 gives one band and one label for lo; a
    /// negative count adds nothing.
    void add(ColorMap::ColorFunction f, float lo, float hi, float cmin, float cmax, int count,
             int precision);

    /// One flat band and one label for each of `values` (a data item's categories, see
    /// ValueCategories): band i has the colour f(values[i], lo, hi), the colour its points
    /// get, and its label ValueCategories::label(item, values[i]).
    void addCategories(ColorMap::ColorFunction f, float lo, float hi, const std::vector<int> &values,
                       const std::string &item);

    /// Replaces the title (copied); a null text removes it.
    void setTitle(const char *text);
    /// The title and label colour, RGBA from 0 to 1.
    void setTextColor(const float *rgba);
    /// Interpolates colours between neighbouring bands.
    void setSmoothDrawing() { smooth = true; }
    /// Draws each band in one colour.
    void setFlatDrawing() { smooth = false; }

    /// Removes bands, labels and the title.
    void clear();
    /// Removes bands and labels; keeps the title.
    void clearData();

    /// Draws the vertical legend with its top-left corner (x, y) pixels from the top-left
    /// of the viewport: the bar is two thirds of the viewport high and 20 pixels wide with
    /// the labels on its right. Every OpenGL state it changes is restored.
    void draw(int x, int y);
    /// Draws the horizontal legend: a bar 20 pixels high spanning the viewport's width less
    /// x + 30 pixels on each side, labels underneath.
    void drawH(int x, int y);

    int getNumberOfColors() const { return nColors; }
    int getNumberOfLabels() const { return nLabels; }
    /// Band i (0-based) as 3 bytes; i must be below getNumberOfColors().
    const unsigned char *getColor(int i) const { return &colorSteps[static_cast<size_t>(i) * 3]; }
    /// Label i; i must be below getNumberOfLabels().
    const char *getLabel(int i) const { return labels[static_cast<size_t>(i)].c_str(); }
    /// The title, or null when there is none.
    const char *getTitle() const { return title ? title->c_str() : nullptr; }
    const float *getTextColor() const { return textColor; }
    bool isSmooth() const { return smooth; }

private:
    void drawBar(bool horizontal, float x0, float y0, float length, float thickness) const;
    void addLabelRange(float lo, float hi, int count, int precision, bool exponent, bool zeroRule);

    float textColor[4];
    int nLabels;
    int nColors;
    std::vector<unsigned char> colorSteps; ///< nColors RGB triples
    std::vector<std::string> labels;       ///< nLabels texts
    std::optional<std::string> title;
    bool smooth;
};

#endif
