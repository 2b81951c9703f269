#ifndef VELMORA_PROGRESSBAR_H
#define VELMORA_PROGRESSBAR_H

#include "math/NonCopyable.h"

#include <gtk/gtk.h>

/// A small window that shows how far a long computation on the main thread has come.
///
/// The window (230 pixels wide, centred, not modal) opens at construction and holds one
/// bar 20 pixels high. Each `setCurrentValue` moves the bar to value / maximum and lets the
/// toolkit process its pending events, so the windows repaint while the computation runs.
/// The user may close the window at any time; the bar then just stops showing progress.
/// Deleting the object closes the window when it is still open.
class ProgressBar : NonCopyable {
public:
    /// `showText`: whether the bar shows the percentage ("25%") centred on it.
    ProgressBar(const char *title, bool showText = true);
    ~ProgressBar();

    /// The value that fills the bar. A maximum of 0 or less leaves the bar empty.
    void setMaxValue(float max) { maxValue = max; }
    float getMaxValue() const { return maxValue; }
    /// Shows `value` against the maximum (clamped to an empty or a full bar), then processes
    /// the toolkit's pending events. Does nothing once the window is closed.
    void setCurrentValue(float value);

    /// The bar, null once the window is closed.
    GtkProgressBar *getWidget() const { return progress; }
    /// The window, null once it is closed.
    GtkWidget *getWindow() const { return dialog; }

private:
    void clean();

    GtkProgressBar *progress;
    float maxValue;
    GtkWidget *dialog;
    bool showText;
};

#endif
