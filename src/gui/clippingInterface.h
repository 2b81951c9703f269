#ifndef VELMORA_CLIPPINGINTERFACE_H
#define VELMORA_CLIPPINGINTERFACE_H

#include "math/NonCopyable.h"

#include <gtk/gtk.h>

class GLMeshObject;

/// The dialog "clipping planes" of a mesh: one row per clipping plane with an
/// "Enable"/"Disable" button and the plane's normal a, b, c and offset d in the spin buttons
/// "valueX<row>", "valueY<row>", "valueZ<row>" and "valueW<row>" (object coordinates; the
/// mesh keeps the points p with n.p + d >= 0, n the unit normal along (a, b, c)). The range
/// of d spans the object along the normal, so the plane can sweep across all of it.
///
/// The rows drive the mesh through its clipping keys (300 + 2 row: enable flag, 301 + 2 row:
/// plane), as a program driving the mesh by keys would. Made with `new`; deletes itself
/// when its window is destroyed.
class clippingInterface : NonCopyable {
public:
    static constexpr int nPlanes = 6;

    explicit clippingInterface(GLMeshObject *mesh);

    GtkWidget *getDialog() const { return dialog; }
    /// The d values between which the plane of normal (a, b, c) crosses the object, in lo and
    /// hi. False for a zero normal.
    bool findObjectLimits(const double normal[3], double &lo, double &hi) const;
    /// Sets the range of row's d after its normal changed.
    void updateRange(int row);
    /// Writes row's plane to the mesh.
    void update(int row);

private:
    ~clippingInterface() = default;

    GtkSpinButton *spin(int row, int k) const;
    static void onDestroy(GtkWidget *, gpointer data);
    static void onEnable(GtkToggleButton *button, gpointer data);
    static void onValue(GtkSpinButton *spin, gpointer data);

    GLMeshObject *mesh;
    GtkWidget *dialog;
    GtkWidget *spins[nPlanes][4];
    bool filling;
};

#endif
