#ifndef VELMORA_GLOBJECT_H
#define VELMORA_GLOBJECT_H

#include "core/KeyBinding.h"
#include "math/Point3.h"

class ElementHost;
class GLInterface;

/// Base of every registered scene element (cameras and 3D objects).
///
/// The 16-bit type word holds the element's identifier in bits 0-7 (its index in the scene
/// manager's 3D object array), the 3D object kind in bits 8-11 and the camera kind in bits
/// 12-15. The panel is attached by the main window and never owned by the element. The host
/// (what the element may ask of the user interface) is attached by the scene manager when it
/// registers the element; without one, every request that goes through it is silently skipped.
class GLObject {
public:
    /// Type codes of the element classes (identifier bits zero).
    enum : short {
        MESH = 0x100,
        OCTREE = 0x300,
        VOLUME = 0x400,
        POINTLIST = 0x500,
        GRAPH = 0x700,
        TEXTURE = 0x800,
        CAMERA = 0x1000,
    };

    explicit GLObject(short type);
    virtual ~GLObject() = default;

    void setID(unsigned char id);
    unsigned char getID() const;
    bool isCamera() const;
    bool is3DObject() const;
    /// The type word with the identifier bits cleared.
    short getType() const;

    GLInterface *getInterface() const { return interface; }
    void setInterface(GLInterface *panel) { interface = panel; }

    /// The user interface the element asks for redraws, its windows and messages, not owned;
    /// the scene manager attaches it at registration and it outlives the element.
    void attach(ElementHost *elementHost) { host = elementHost; }
    ElementHost *getHost() const { return host; }

    void postRedisplay();
    void reshapeWindow(int width, int height);
    void updateDisplay();
    /// See ElementWindow::updateDisplayWhole; true without a host.
    bool updateDisplayWhole();
    void setBusy(bool busy);

    // --- Actions ---------------------------------------------------------------------------
    /// The element kind's binding table; null for a kind that takes no keys.
    virtual const BindingTable *getBindings() const { return nullptr; }
    /// Runs the action bound to `key`, as the keyboard does; returns non-zero when the element
    /// took it. A key of no action does nothing.
    virtual int notifyCommand(int key);
    /// Runs the action of `row` (a row of getBindings() or of its fallback), as panels do:
    /// the busy cursor, the colour-map step and the redraw its flags ask for wrap it here, once
    /// for every kind. Returns non-zero when the element took it.
    int performAction(const KeyBinding &row);
    /// Runs `action` (a value of the kind's action enum) as its key would, as panels do.
    template <class A>
    int perform(A action)
    {
        return performAction(getBindings()->row(actionValue(action)));
    }

    /// Text at the raster position (x, y) of the current coordinates, in the text colour, in
    /// several lines, each 12 units below the previous one.
    static void GLfprint(const char *text, int x, int y);

    /// Red +x, green -y and blue +z arrows at `origin`, scaled per axis; restores all state.
    static void draw3DAxes(Point3 origin, Point3 scale);

protected:
    /// The kind's own part of an action; returns whether it was taken.
    virtual bool runAction(const KeyBinding &) { return false; }
    /// One step forward (+1) or back (-1) through the colour maps; false for a kind without.
    virtual bool stepColorMap(int) { return false; }
    /// A row flagged SHARED: the part the kinds share runs it; false for a kind without.
    virtual bool runSharedAction(const KeyBinding &) { return false; }

    short type;
    GLInterface *interface;
    ElementHost *host;
};

#endif
