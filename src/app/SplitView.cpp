#include "app/SplitView.h"

#include "render/GLState.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

void SplitView::compare(GL3DObject *first, GL3DObject *second, bool withPhotograph)
{
    a = first;
    b = first && !withPhotograph ? second : nullptr;
    mode = !first ? Mode::OFF : withPhotograph ? Mode::PHOTOGRAPH : second ? Mode::OBJECTS : Mode::OFF;
    if (mode == Mode::OFF)
        a = b = nullptr;
}

void SplitView::cycle(const std::vector<GL3DObject *> &objects, GL3DObject *current, bool photographs)
{
    const auto at = std::find(objects.begin(), objects.end(), current);
    GL3DObject *next = nullptr;
    if (at != objects.end() && objects.size() > 1)
        next = at + 1 == objects.end() ? objects.front() : *(at + 1);
    if (mode == Mode::OFF && next)
        compare(current, next, false);
    else if (mode != Mode::PHOTOGRAPH && current && photographs)
        compare(current, nullptr, true);
    else
        off();
}

void SplitView::setDivider(float share)
{
    if (std::isfinite(share))
        divider = std::min(1.f, std::max(0.f, share));
}

int SplitView::dividerColumn(int width) const { return static_cast<int>(std::lround(divider * width)); }

bool SplitView::grabs(int x, int width) const { return isOn() && std::abs(x - dividerColumn(width)) <= 4; }

void SplitView::forget(const GL3DObject *object)
{
    if (object && (object == a || object == b))
        off();
}

bool SplitView::draws(const Side &side, const GL3DObject *object) const
{
    return !isOn() || (!side.photograph && side.object == object);
}

SplitView::Side SplitView::sideAt(int x, int width) const
{
    if (!isOn())
        return Side{nullptr, false};
    if (whole >= 0)
        return side(whole);
    return side((x < dividerColumn(width)) == flipped ? 1 : 0);
}

void SplitView::drawSides(int width, int height, const std::function<void(const Side &)> &draw) const
{
    if (!isOn() || whole >= 0) {
        draw(sideAt(0, width));
        return;
    }
    const int column = dividerColumn(width);
    glPushAttrib(GL_SCISSOR_BIT | GL_ENABLE_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, column, height);
    draw(side(flipped ? 1 : 0));
    glScissor(column, 0, width - column, height);
    draw(side(flipped ? 0 : 1));
    glDisable(GL_SCISSOR_TEST);

    // The divider: a light line with a dark one on either side, seen over any picture.
    beginWindowOverlay(GL_LINE_BIT, width, height);
    glLineWidth(1);
    glBegin(GL_LINES);
    for (int dx = -1; dx <= 1; ++dx) {
        const float grey = dx == 0 ? 0.95f : 0.1f;
        glColor3f(grey, grey, grey);
        glVertex2f(column + dx + 0.5f, 0);
        glVertex2f(column + dx + 0.5f, static_cast<float>(height));
    }
    glEnd();
    endWindowOverlay();
    glPopAttrib();
}

std::string SplitView::describe(const std::vector<GL3DObject *> &objects) const
{
    if (!isOn())
        return "";
    const auto name = [&](const GL3DObject *o) {
        if (!o)
            return std::string("the photograph");
        const auto at = std::find(objects.begin(), objects.end(), o);
        return "object " + std::to_string(at - objects.begin() + 1);
    };
    return "A: " + name(a) + (flipped ? " (right)" : " (left)") + ", B: " + name(b) +
           (flipped ? " (left)" : " (right)");
}
