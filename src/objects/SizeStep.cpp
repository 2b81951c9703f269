#include "objects/SizeStep.h"

#include "math/Messages.h"

#include <algorithm>
#include <cstdio>

void stepSize(float &size, bool up, float smallest, const char *name)
{
    size = std::max(smallest, size + (up ? 1.0f : -1.0f));
    msg::note("\r%s @ %2.2f", name, size);
    // The default sink flushes whole lines only: a progress line is shown at once.
    std::fflush(stdout);
}
