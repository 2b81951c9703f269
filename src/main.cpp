#include "app/GLMachine.h"
#include "core/GLFlags.h"
#include "gui/MainInterface.h"

#include <memory>

int main(int argc, char **argv)
{
    GLFlags::init(argc, argv);

    // The machine lives until the process ends; the loop's end is the program's end.
    GLMachine *machine = new GLMachine(512, 512, [](GLMachine *m, int width, int height) {
        return std::unique_ptr<SceneWindow>(new MainInterface(m, "Velmora", width, height));
    });
    // The camera file first, so that it is the camera of every object that follows.
    machine->registerObject(GLFlags::paramFile);
    for (int i = 0; i < GLFlags::nFiles; ++i)
        machine->registerObject(GLFlags::inputFiles[i]);
    machine->mainLoop();
    return 0;
}
