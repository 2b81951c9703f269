#include "core/GLInterface.h"

GLInterface::~GLInterface() = default;

void GLInterface::update() {}
