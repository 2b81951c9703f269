#ifndef VELMORA_DISPLAYPROBE_H
#define VELMORA_DISPLAYPROBE_H

/// Whether the X display the toolkit is going to open (DISPLAY) answers, found by opening
/// and closing a connection, without starting the toolkit.
class DisplayProbe {
public:
    static bool reachable();
};

#endif
