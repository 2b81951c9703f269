#ifndef VELMORA_STARTUPTIMING_H
#define VELMORA_STARTUPTIMING_H

/// Milestones of a start (context made, file read, first frame, capture written) printed on
/// standard error as "velmora-timing: <ms since the process started> <what>" when the
/// environment variable VELMORA_TIMING is set; nothing otherwise. For finding where the
/// time of opening a large file goes.
class StartupTiming {
public:
    /// True when VELMORA_TIMING is set.
    static bool enabled();
    /// Prints the milestone `what` (when enabled).
    static void mark(const char *what);
    /// The same with a glFinish() first, so that the work queued in OpenGL is counted where
    /// it was asked for. Only for use while a context is current.
    static void markFinished(const char *what);
};

#endif
