#include "measure/PathDisplay.h"

#include <utility>

namespace {
PathDisplay::Maker &installed()
{
    static PathDisplay::Maker maker;
    return maker;
}
} // namespace

void PathDisplay::setMaker(Maker maker) { installed() = std::move(maker); }

std::unique_ptr<PathDisplay> PathDisplay::make()
{
    const Maker &maker = installed();
    return maker ? maker() : nullptr;
}
