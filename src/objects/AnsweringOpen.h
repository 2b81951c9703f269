#ifndef VELMORA_ANSWERINGOPEN_H
#define VELMORA_ANSWERINGOPEN_H

#include <functional>
#include <string>

class ElementHost;

/// An opening that may take long (a file from a web server, a large file made into a
/// hierarchy) without holding the windows: `work` runs on a thread of its own while the calling
/// thread waits. With a `host`, a progress window "Opening PATH" shows after a moment, at
/// `percent()` (asked on the calling thread; null: 0), and its "Cancel" calls `cancel`, which
/// must make the work end soon. Returns once the work has ended; raises what it raised, or
/// "cancelled" once cancelled, whatever the work made of it (a read it gave up quietly).
void openWhileAnswering(ElementHost *host, const std::string &path, const std::function<float()> &percent,
                        const std::function<void()> &cancel, const std::function<void()> &work);

#endif
