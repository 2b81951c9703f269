#ifndef VELMORA_PATHDISPLAY_H
#define VELMORA_PATHDISPLAY_H

class Chemin;

/// What a mesh needs of the window that shows a measured path: the toolkit's
/// distanceInterface implements it, tests replace it with a recording one.
///
/// A mesh opens one through its host (ElementHost::openDistanceWindow); where the host shows
/// nothing (off-screen drawing, command-line tools) there is none and paths are measured
/// without a window.
class PathDisplay {
public:
    virtual ~PathDisplay() = default;
    /// Shows the lengths of `path` (not owned; it stays alive until the next setPath or the
    /// display's destruction). Opens the window again if the user closed it.
    virtual void setPath(const Chemin *path) = 0;
    virtual void toggle() = 0;
};

#endif
