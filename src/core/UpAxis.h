#ifndef VELMORA_UPAXIS_H
#define VELMORA_UPAXIS_H

#include <optional>
#include <string>

/// Which world axis the built-in camera shows upwards when a scene starts without a camera
/// file: chosen per file (the viewer's own files as they always were, other programs' meshes
/// and clouds y up, surveys z up from above), or the same for every file.
enum class UpAxis { ByFile, PlusY, PlusZ };

namespace upaxis {

/// "file", "+y", "+z": the names the command line, the preferences file and the menu use.
const char *name(UpAxis axis);
/// The axis of a name of name() (in any case, the '+' optional); empty for any other text.
std::optional<UpAxis> parse(const std::string &text);

/// Keeps `axis` for the next runs, in the user's settings (UserSettings, "up-axis"); false
/// when they could not be written.
bool keep(UpAxis axis);
/// The axis a run starts with: `given` (the command line's) when there is one, else the one
/// an earlier run kept, else ByFile.
UpAxis atStart(std::optional<UpAxis> given);

} // namespace upaxis

#endif
