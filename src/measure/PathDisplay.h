#ifndef VELMORA_PATHDISPLAY_H
#define VELMORA_PATHDISPLAY_H

#include <functional>
#include <memory>

class Chemin;

/// What a mesh needs of the window that shows a measured path: the toolkit's
/// distanceInterface implements it, tests replace it with a recording one.
///
/// The window layer installs a maker once at start-up; where none is installed (off-screen
/// drawing, command-line tools) `make()` gives null and paths are measured without a window.
class PathDisplay {
public:
    using Maker = std::function<std::unique_ptr<PathDisplay>()>;

    virtual ~PathDisplay() = default;
    /// Shows the lengths of `path` (not owned; it stays alive until the next setPath or the
    /// display's destruction). Opens the window again if the user closed it.
    virtual void setPath(const Chemin *path) = 0;
    virtual void toggle() = 0;

    static void setMaker(Maker maker);
    /// A new display, or null when no maker is installed.
    static std::unique_ptr<PathDisplay> make();
};

#endif
