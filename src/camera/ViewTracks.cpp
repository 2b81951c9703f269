#include "camera/ViewTracks.h"

#include "camera/GLView.h"

#include <GL/gl.h>

const unsigned char ViewTracks::highlight[3] = {255, 0, 255};

void ViewTracks::set(const Reconstruction &model)
{
    trackStart = model.trackStart;
    trackViews.resize(model.tracks.size());
    for (size_t e = 0; e < model.tracks.size(); ++e)
        trackViews[e] = model.tracks[e].view;
    shownPoint = -1;
    observing.assign(model.views.size(), 0);
}

bool ViewTracks::show(int point, Point3 position)
{
    if (point < 0 || static_cast<size_t>(point) >= pointCount())
        point = -1;
    if (point == shownPoint && (point < 0 || position == shownAt))
        return false;
    shownPoint = point;
    shownAt = position;
    std::fill(observing.begin(), observing.end(), 0);
    if (point >= 0)
        for (uint32_t e = trackStart[point]; e < trackStart[point + 1]; ++e)
            if (trackViews[e] < observing.size())
                observing[trackViews[e]] = 1;
    return true;
}

void ViewTracks::drawLines(const GLView &views) const
{
    if (shownPoint < 0)
        return;
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glLineWidth(1);
    glColor3ub(highlight[0], highlight[1], highlight[2]);
    glBegin(GL_LINES);
    for (size_t v = 0; v < observing.size() && static_cast<int>(v) < views.getNViews(); ++v)
        if (observing[v]) {
            const Point3 c = views.getOrigin(static_cast<int>(v));
            glVertex3f(c.x, c.y, c.z);
            glVertex3f(shownAt.x, shownAt.y, shownAt.z);
        }
    glEnd();
    glPopAttrib();
}
