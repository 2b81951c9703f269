#ifndef VELMORA_DISTANCEINTERFACE_H
#define VELMORA_DISTANCEINTERFACE_H

#include "measure/PathDisplay.h"
#include "math/NonCopyable.h"

#include <gtk/gtk.h>

/// The "Path Distance" window: the geodesic length of the measured path and the straight
/// distance of its ends, one line each. A mesh owns one through PathDisplay and keeps it
/// for its later measurements; closing the window only hides the figures until the next
/// path opens it again.
class distanceInterface : public PathDisplay, NonCopyable {
public:
    distanceInterface();
    ~distanceInterface() override;

    void setPath(const Chemin *path) override;
    void toggle() override;
    /// The window's "destroy" signal: the window is gone.
    void destroy();

    /// The window, null while closed; the two labels, for tests.
    GtkWidget *getWindow() const { return window; }
    const char *getGeodesicText() const;
    const char *getEuclideanText() const;

private:
    void createWindow();
    void refresh();

    GtkWidget *geodesicLabel;
    GtkWidget *euclideanLabel;
    GtkWidget *window;
    const Chemin *path;
    gulong destroyHandler;
    int toggleFlag;
};

#endif
