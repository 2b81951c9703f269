#ifndef VELMORA_MATERIALINTERFACE_H
#define VELMORA_MATERIALINTERFACE_H

#include "objects/Material.h"
#include "math/NonCopyable.h"

#include <gtk/gtk.h>

class GLMeshObject;

/// The dialog "materials" of a mesh: colour selections for the ambient, diffuse, specular,
/// wire and back diffuse colours, the shininess, the wire width, triangle sorting, double
/// face, flat shading, and the three predefined materials.
///
/// Made with `new`; it lives until its window is destroyed, then deletes itself. Every change
/// reaches the mesh at once. The controls are looked up by their names; a missing one is
/// reported ("Widget not found: %s") and skipped.
class materialInterface : NonCopyable {
public:
    explicit materialInterface(GLMeshObject *mesh);

    GtkWidget *getDialog() const { return dialog; }
    /// Fills the controls from the mesh's material and settings.
    void initMaterial();
    /// Writes the shininess and the five colours back to the mesh, all at once.
    void setMaterial();

private:
    ~materialInterface() = default;

    static void onDestroy(GtkWidget *, gpointer data);
    static void onColor(GtkColorSelection *, gpointer data);
    static void onShininess(GtkRange *, gpointer data);
    static void onWireSize(GtkSpinButton *spin, gpointer data);
    static void onCheck(GtkToggleButton *button, gpointer data);
    static void onReset(GtkButton *button, gpointer data);

    GLMeshObject *mesh;
    GtkWidget *dialog;
    bool filling;
};

#endif
