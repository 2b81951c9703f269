#include "objects/Legend.h"

#include "formats/ValueCategories.h"

#include "render/GLFont.h"
#include "render/GLState.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Labels beyond this many decimals say nothing more and could grow without bound.
constexpr int kMaxPrecision = 30;

std::string formatNumber(const char *format, int digits, double value)
{
    digits = std::clamp(digits, 0, kMaxPrecision);
    char small[64];
    const int n = std::snprintf(small, sizeof small, format, digits, value);
    if (n < 0)
        return std::string();
    if (n < static_cast<int>(sizeof small))
        return std::string(small, static_cast<size_t>(n));
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(&text[0], text.size(), format, digits, value);
    text.resize(static_cast<size_t>(n));
    return text;
}

bool acrossZero(float lo, float hi) { return (lo < 0.f && hi > 0.f) || (lo > 0.f && hi < 0.f); }

} // namespace

Legend::Legend() : textColor{0.f, 0.f, 0.f, 1.f}, nLabels(0), nColors(0), smooth(false) {}

void Legend::add(const unsigned char *rgb)
{
    colorSteps.insert(colorSteps.end(), rgb, rgb + 3);
    ++nColors;
}

void Legend::add(const char *label)
{
    labels.emplace_back(label ? label : "");
    ++nLabels;
}

void Legend::add(const unsigned char *rgb, const char *label)
{
    add(rgb);
    add(label);
}

void Legend::add(ColorMap::ColorFunction f, int lo, int hi, int count)
{
    if (count < 0)
        return;
    // In double the difference cannot overflow and every step stays within [lo, hi], so
    // the truncation to int is always representable.
    const double span = static_cast<double>(hi) - lo;
    std::vector<double> values;
    for (int i = 0; i <= count; ++i)
        values.push_back(count == 0 ? lo : lo + span * i / count);
    unsigned char rgb[3];
    for (double v : values) {
        f(rgb, static_cast<float>(v), static_cast<float>(lo), static_cast<float>(hi));
        add(rgb);
    }
    for (double v : values) {
        char text[16];
        std::snprintf(text, sizeof text, "%d", static_cast<int>(v));
        add(text);
    }
}

void Legend::addLabelRange(float lo, float hi, int count, int precision, bool exponent, bool zeroRule)
{
    for (int i = 0; i <= count; ++i) {
        const float v = count == 0 ? lo : lo + (hi - lo) * static_cast<float>(i) / static_cast<float>(count);
        if (zeroRule && i == 1)
            add(formatNumber("%.*f", 1, 0.0).c_str());
        else if (exponent)
            add(formatNumber("%.*e", precision - 1, v).c_str());
        else
            add(formatNumber("%.*f", precision, v).c_str());
    }
}

void Legend::add(ColorMap::ColorFunction f, float lo, float hi, int count, int precision)
{
    const long long n = std::max(4LL * count, 60LL);
    unsigned char rgb[3];
    for (long long i = 0; i <= n; ++i) {
        f(rgb, lo + static_cast<float>(i) * (hi - lo) / static_cast<float>(n), lo, hi);
        add(rgb);
    }
    const bool exponent = std::fabs(lo) < 0.1f && std::fabs(hi) < 0.1f;
    addLabelRange(lo, hi, count, precision, exponent, count == 2 && acrossZero(lo, hi));
}

void Legend::add(ColorMap::ColorFunction f, float lo, float hi, float cmin, float cmax, int count,
                 int precision)
{
    if (count < 0)
        return;
    const long long n = 3LL * count;
    unsigned char rgb[3];
    for (long long i = 0; i <= n; ++i) {
        const float v = n == 0 ? lo : lo + static_cast<float>(i) * (hi - lo) / static_cast<float>(n);
        f(rgb, v, cmin, cmax);
        add(rgb);
    }
    const bool exponent = std::fabs(lo) < 0.01f && std::fabs(hi) < 0.01f;
    addLabelRange(lo, hi, count, precision, exponent, false);
}

void Legend::addCategories(ColorMap::ColorFunction f, float lo, float hi, const std::vector<int> &values,
                           const std::string &item)
{
    for (int v : values) {
        unsigned char rgb[3];
        f(rgb, static_cast<float>(v), lo, hi);
        add(rgb, ValueCategories::label(item, v).c_str());
    }
    setFlatDrawing();
}

void Legend::setTitle(const char *text)
{
    if (text)
        title = text;
    else
        title.reset();
}

void Legend::setTextColor(const float *rgba) { std::copy(rgba, rgba + 4, textColor); }

void Legend::clear()
{
    clearData();
    title.reset();
}

void Legend::clearData()
{
    colorSteps.clear();
    labels.clear();
    nColors = nLabels = 0;
}

void Legend::drawBar(bool horizontal, float start, float across, float length, float thickness) const
{
    // `start` is where the first band begins along the bar (its top or its left end) and
    // the bar runs down or to the right from there; `across` is its left or bottom side.
    const float s = length / nColors;
    const float direction = horizontal ? 1.f : -1.f;
    auto vertex = [&](float along, float side) {
        if (horizontal)
            glVertex2f(along, side);
        else
            glVertex2f(side, along);
    };

    glBegin(GL_QUAD_STRIP);
    glColor3ubv(&colorSteps[0]);
    vertex(start, across);
    vertex(start, across + thickness);
    for (int i = 0; i < nColors; ++i) {
        const float edge = start + direction * (i + 1) * s;
        glColor3ubv(&colorSteps[static_cast<size_t>(i) * 3]);
        vertex(edge, across);
        vertex(edge, across + thickness);
    }
    glEnd();

    glColor3f(0.f, 0.f, 0.f);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_LINE_SMOOTH);
    glLineWidth(1.f);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    // A label per band outlines every band; otherwise the labels mark the ends and only
    // the bar's frame is drawn.
    const int outlined = nColors == nLabels ? nColors : 1;
    const float step = length / outlined;
    glBegin(GL_QUADS);
    for (int i = 0; i < outlined; ++i) {
        const float a = start + direction * i * step;
        const float b = start + direction * (i + 1) * step;
        vertex(a, across);
        vertex(b, across);
        vertex(b, across + thickness);
        vertex(a, across + thickness);
    }
    glEnd();
}

namespace {

// Saves what the legend changes and sets up a pixel projection over the viewport.
void beginOverlay(bool smooth, int &width, int &height)
{
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    width = viewport[2];
    height = viewport[3];

    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_POLYGON_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT |
                 GL_LINE_BIT | GL_TRANSFORM_BIT);
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    // The bar's quads wind clockwise on screen; neither culling nor a back-face polygon
    // mode left by the scene may hide them, and the objects' clipping planes must not cut
    // into the overlay.
    glDisable(GL_CULL_FACE);
    disableClipPlanes();
    glShadeModel(smooth ? GL_SMOOTH : GL_FLAT);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

// The legend's text colour replaces the process-wide one for the length of the legend.
Point4 beginText(const float *colour)
{
    const Point4 saved = GLFont::getFgColor();
    GLFont::setFgColor(Point4(colour));
    return saved;
}

void endText(const Point4 &saved) { GLFont::setFgColor(saved); }

void endOverlay()
{
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glPopAttrib();
}

} // namespace

void Legend::draw(int x, int y)
{
    if (!title)
        return;
    int width = 0, height = 0;
    beginOverlay(smooth, width, height);

    const float length = height / 1.5f;
    const int top = height - (y + 30);
    if (nColors > 0)
        drawBar(false, static_cast<float>(top), static_cast<float>(x + 10), length, 20.f);

    const Point4 savedColour = beginText(textColor);
    GLFont::printBig(title->c_str(), x + 10, height - y - 10);
    for (int j = 0; j < nLabels; ++j) {
        float labelY;
        if (nLabels == nColors) {
            const int halfBand = static_cast<int>(length / nLabels / 2);
            labelY = top - (halfBand + 5) - j * length / nLabels;
        } else {
            // A single label has no spread; it sits at the top end.
            const float step = nLabels > 1 ? length / (nLabels - 1) : 0.f;
            labelY = top - 5 - j * step;
        }
        GLFont::print(labels[static_cast<size_t>(j)].c_str(), x + 35, static_cast<int>(labelY));
    }
    endText(savedColour);
    endOverlay();
}

void Legend::drawH(int x, int y)
{
    if (!title)
        return;
    int width = 0, height = 0;
    beginOverlay(smooth, width, height);

    const float left = static_cast<float>(x + 30);
    const float length = static_cast<float>(width - 2 * x - 60);
    const float bottom = static_cast<float>(height - y - 60);
    if (nColors > 0)
        drawBar(true, left, bottom, length, 20.f);

    const Point4 savedColour = beginText(textColor);
    GLFont::printBig(title->c_str(), x + 10, height - y - 10);
    // One text line below the bar: the glyphs' tops clear its lower edge.
    const int labelY = height - y - 74;
    for (int j = 0; j < nLabels; ++j) {
        float tick;
        if (nLabels == nColors)
            tick = left + (j + 0.5f) * length / nColors;
        else
            tick = left + (nLabels > 1 ? j * length / (nLabels - 1) : 0.f);
        const std::string &text = labels[static_cast<size_t>(j)];
        const float textWidth = static_cast<float>(GLFont::charWidth * static_cast<int>(text.size()));
        float labelX = tick - textWidth / 2;
        if (j == 0)
            labelX = tick;
        else if (j == nLabels - 1)
            labelX = tick - textWidth;
        GLFont::print(text.c_str(), static_cast<int>(labelX), labelY);
    }
    endText(savedColour);
    endOverlay();
}
