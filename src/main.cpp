#include "core/GLFlags.h"
#include "core/GLMachine.h"

int main(int argc, char **argv)
{
    GLFlags::init(argc, argv);

    // The machine lives until the process ends; the loop's end is the program's end.
    GLMachine *machine = new GLMachine(false);
    // The camera file first, so that it is the camera of every object that follows.
    machine->registerObject(GLFlags::paramFile);
    for (int i = 0; i < GLFlags::nFiles; ++i)
        machine->registerObject(GLFlags::inputFiles[i]);
    GLMachine::mainLoop();
    return 0;
}
