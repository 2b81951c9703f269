#ifndef VELMORA_PREFERENCESDIALOG_H
#define VELMORA_PREFERENCESDIALOG_H

#include "gui/MainInterface.h"
#include "math/NonCopyable.h"
#include "math/Point4.h"

/// The Preferences window: background and text colours, object information, window size,
/// the reduction of large scenes while dragging, capture files and the capture scale.
class PreferencesDialog : NonCopyable {
public:
    explicit PreferencesDialog(MainInterface::Impl &window) : win(window) {}

    /// Opens a Preferences window (nothing without a scene).
    void open();
    /// The background colour chosen in a colour chooser; the button's face follows it.
    void onBackgroundColour(Point4 colour);
    /// Stops following the colour button of the window shown (the window layer closes).
    void release();

private:
    void showBackgroundColour();

    MainInterface::Impl &win;
};

#endif
