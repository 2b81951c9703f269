#include "objects/SizeStep.h"

#include "math/Messages.h"

#include <algorithm>

void stepSize(float &size, bool up, float smallest, const char *name)
{
    size = std::max(smallest, size + (up ? 1.0f : -1.0f));
    // The standard output sink shows a line that starts with a carriage return at once.
    msg::note("\r%s @ %2.2f", name, size);
}
