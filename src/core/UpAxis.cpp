#include "core/UpAxis.h"

#include "formats/UserSettings.h"

#include <strings.h>

namespace upaxis {

const char *name(UpAxis axis)
{
    switch (axis) {
    case UpAxis::PlusY:
        return "+y";
    case UpAxis::PlusZ:
        return "+z";
    case UpAxis::ByFile:
        break;
    }
    return "file";
}

std::optional<UpAxis> parse(const std::string &text)
{
    const std::string bare = !text.empty() && text[0] == '+' ? text.substr(1) : text;
    if (strcasecmp(bare.c_str(), "y") == 0)
        return UpAxis::PlusY;
    if (strcasecmp(bare.c_str(), "z") == 0)
        return UpAxis::PlusZ;
    if (strcasecmp(text.c_str(), "file") == 0)
        return UpAxis::ByFile;
    return std::nullopt;
}

bool keep(UpAxis axis) { return UserSettings::set("up-axis", name(axis)); }

UpAxis atStart(std::optional<UpAxis> given)
{
    if (given)
        return *given;
    return parse(UserSettings::get("up-axis").value_or("")).value_or(UpAxis::ByFile);
}

} // namespace upaxis
