#ifndef VELMORA_GLMESHOBJECTINTERFACE_H
#define VELMORA_GLMESHOBJECTINTERFACE_H

#include "gui/ElementPanel.h"

class DistancePanel;
class GLMeshObject;

/// The panel of a mesh: the menu "Options" (bounding box, axes, "Surface properties...",
/// "Texture properties...", "Clipping properties...", "Palette properties...", "Load RGB
/// colors...", "Save as...", "Distance to...", "Orient faces consistently") and the
/// "visualization mode" buttons "Wire", "Shade", "Texture", "Zbuffer" and, for a mesh with data
/// items, "Data", which send the keys '1' to '5', then the frame "selection" (see
/// ElementPanel::addCleaningFrame).
class GLMeshObjectInterface : public ElementPanel {
public:
    explicit GLMeshObjectInterface(GLMeshObject *mesh);

    void update() override;

    /// Reads a colour file (see RGBColorReader.h) into the mesh and shows its colours.
    /// A refused file prints "GLMeshObjectInterface: <path>: <reason>" and leaves the
    /// colours as they were. Returns whether the colours were taken.
    bool loadRGBFile(const char *path);

    GLMeshObject *getMesh() const { return mesh; }
    /// The window "Distance to..." (see DistancePanel), opened or brought to the front.
    DistancePanel *openDistancePanel();

private:
    void createTextureDialog();
    void onFileChosen(const char *path);
    void onColorMapChosen(int index);
    static void onTextureMode(GtkToggleButton *button, gpointer data);

    GLMeshObject *mesh;
    GtkWidget *dataButton;
};

#endif
