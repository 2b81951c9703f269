#ifndef VELMORA_REMOTEOPENING_H
#define VELMORA_REMOTEOPENING_H

#include "formats/HttpRangeReader.h"

#include <functional>
#include <string>

class ElementHost;

/// Opening a file from a web server without holding the windows: `work` (whose transfers go
/// through `pool`) runs on a thread of its own while the calling thread waits. With a `host`,
/// a progress window titled `title` shows after a moment, at `percent()` (asked on the calling
/// thread), and its "Cancel" cancels the pool. Returns once the work has ended; raises what it
/// raised, or "cancelled" once cancelled whatever the work made of it (a read it gave up on
/// quietly).
void openWhileAnswering(ElementHost *host, const std::string &title, HttpRangeReader::Pool &pool,
                        const std::function<float()> &percent, const std::function<void()> &work);

#endif
