#ifndef VELMORA_COLORINTERFACE_H
#define VELMORA_COLORINTERFACE_H

#include "gui/FastDelegate.h"
#include "gui/SelfDeletingDialog.h"
#include "math/Point4.h"

#include <gtk/gtk.h>

/// The colour chooser: a dialog "select color" whose every change is passed on at once, so
/// the scene follows the selection while the user drags the controls.
///
/// A chooser is made by `factory` and lives until its dialog is closed (by the user, by its
/// "Close" button or by `close`); it then deletes itself. Colours are `Point4`s with red,
/// green, blue and alpha from 0 to 1.
class ColorInterface : public SelfDeletingDialog {
public:
    /// Opens a chooser showing `initial` that passes each new colour to `callback`. Opening it
    /// does not call `callback`. The returned chooser belongs to its dialog.
    static ColorInterface *factory(fastdelegate::FastDelegate1<Point4> callback, Point4 initial);

    /// Shows `colour` (components clamped to 0..1); like a user's change, it reaches the
    /// callable, once.
    void setColor(Point4 colour);
    Point4 getColor() const;
    /// Closes the dialog, which deletes the chooser.
    void close() { closeDialog(); }

    GtkColorSelection *getColorSelection() const { return colorSelection; }

private:
    ColorInterface(fastdelegate::FastDelegate1<Point4> callback, Point4 initial);
    ~ColorInterface() override = default;

    void colorCallBack();

    GtkColorSelection *colorSelection;
    fastdelegate::FastDelegate1<Point4> colorChanged;
    bool settingColor;
};

#endif
