#include "core/GLFlags.h"

#include <cstdio>

int main(int argc, char **argv)
{
    GLFlags::init(argc, argv);

    // The scene manager and its windows are not built yet: report what would be registered,
    // in registration order (the camera file first, then every input file).
    if (GLFlags::paramFile)
        std::printf("Viewer: would register %s\n", GLFlags::paramFile);
    for (int i = 0; i < GLFlags::nFiles; ++i)
        std::printf("Viewer: would register %s\n", GLFlags::inputFiles[i]);
    return 0;
}
