#include "app/GLMachine.h"
#include "core/GLFlags.h"
#include "core/StartupTiming.h"
#include "formats/UserSettings.h"
#include "gui/MainInterface.h"
#include "objects/GL3DObjectLoader.h"

#include <cstdlib>
#include <memory>

int main(int argc, char **argv)
{
    StartupTiming::mark("start");
    const Options options = GLFlags::init(argc, argv);
    // The first file is read while the windows and the OpenGL context are made: only
    // without a camera file, which is loaded (and reports) first, and once the toolkit has
    // opened the display, so that a viewer that cannot start says so before anything else.
    MainInterface::initToolkit();
    if (!options.paramFile && !options.inputFiles.empty())
        GL3DObjectLoader::readAhead(options.inputFiles[0].c_str());

    // The machine lives until the process ends; the loop's end is the program's end.
    GLMachine *machine = new GLMachine(
        512, 512,
        [](GLMachine *m, int width, int height) {
            return std::unique_ptr<SceneWindow>(new MainInterface(m, "Velmora", width, height));
        },
        options);
    StartupTiming::mark("windows shown");
    // The axis chosen in an earlier run, unless the command line says otherwise for this one.
    machine->setUpAxis(upaxis::atStart(options.upAxis));
    const long long memoryMb = std::atoll(UserSettings::get("point-memory-mb").value_or("0").c_str());
    if (memoryMb > 0)
        machine->setPointMemoryBudget(memoryMb << 20);
    machine->registerStartFiles(options);
    StartupTiming::mark("files loaded");
    machine->mainLoop();
    StartupTiming::mark("main loop left");
    return 0;
}
