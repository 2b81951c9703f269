#include "core/GLInterface.h"

GLInterface::GLInterface() : mainWidget(nullptr), mainMenuBar(nullptr), accelGroup(nullptr), parent(nullptr) {}

GLInterface::GLInterface(void *widget)
    : mainWidget(widget), mainMenuBar(nullptr), accelGroup(nullptr), parent(nullptr)
{
}

GLInterface::~GLInterface() = default;

void GLInterface::update() {}
