#ifndef VELMORA_SIZESTEP_H
#define VELMORA_SIZESTEP_H

/// Steps a drawing size (a point size, a line width) one up or down, not below `smallest`, and
/// shows it on the progress line: "\rpointSize @ 2.00" for the name "pointSize".
void stepSize(float &size, bool up, float smallest, const char *name);

#endif
